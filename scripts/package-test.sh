#!/usr/bin/env bash
# The Debian packages from end to end, as root on a Debian 12 machine: builds
# them (scripts/package.sh), runs lintian and the metadata validators,
# installs them with apt, checks what they installed, runs one update of the
# built-in image with the installed programs against the installed
# simulator, then purges them and checks that no file is left behind.
# scripts/test.sh runs this when it is root or can use sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
QUORVEX_PACKAGING=1 scripts/install-deps.sh
QUORVEX_SKIP_DEPS=1 scripts/package.sh > /dev/null
version=$(dpkg-parsechangelog -S Version)
debs=(build-deb/quorvexupdate_"$version"_*.deb build-deb/quorvexupdate-cli_"$version"_*.deb
    build-deb/quorvexupdate-sim_"$version"_*.deb)
names=(quorvexupdate quorvexupdate-cli quorvexupdate-sim)
fail() { echo "package-test: $*" >&2; exit 1; }

work=$(mktemp -d)
installed=0
cleanup() {
    rm -rf "$work"
    $sudo rm -rf /usr/share/quorvexupdate/firmware/ci-test
    $sudo rmdir --ignore-fail-on-non-empty /usr/share/quorvexupdate/firmware 2> /dev/null || true
    if [ "$installed" = 1 ]; then $sudo apt-get purge -y -qq "${names[@]}" > /dev/null 2>&1 || true; fi
}
trap cleanup EXIT

echo "== lintian"
# Errors and warnings fail; a warning that stays has an override saying why.
lintian --fail-on error,warning "${debs[@]}" build-deb/debug/*.deb > "$work/lintian" 2>&1 ||
    { grep -v '^running with root' "$work/lintian"; fail "lintian found errors or warnings"; }

echo "== appstreamcli, desktop-file-validate"
dpkg-deb -x "${debs[0]}" "$work/root"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml > "$work/as.log" ||
    { cat "$work/as.log"; fail "the AppStream metainfo is not valid"; }
grep -q "<release version=\"$version\"" "$work"/root/usr/share/metainfo/*.metainfo.xml ||
    fail "the metainfo's release is not $version"
desktop-file-validate "$work/root/usr/share/applications/quorvexupdate.desktop"

echo "== apt-get install ${debs[*]##*/}"
installed=1
$sudo apt-get install -y -qq "${debs[@]/#/./}" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }
for name in "${names[@]}"; do dpkg -L "$name"; done | sort -u > "$work/files"

echo "== the installed programs"
[ "$(quorvexupdate-cli --version)" = "quorvexupdate-cli (QuorvexUpdate) $version" ] ||
    fail "quorvexupdate-cli --version says: $(quorvexupdate-cli --version)"
! ldd /usr/bin/quorvexupdate-cli | grep -E 'libQt6(Gui|Widgets)' || fail "quorvexupdate-cli links a GUI library"
# Nothing the command-line package depends on, however deep, is a GUI library.
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances --installed quorvexupdate-cli > "$work/depends"
! grep -E '^libqt6(gui|widgets)' "$work/depends" || fail "quorvexupdate-cli pulls in a GUI library"
for page in quorvexupdate quorvexupdate-cli receiver-sim; do
    zgrep -q 'B\\-\\-help' "/usr/share/man/man1/$page.1.gz" || fail "$page(1) lists no options"
done
zgrep -q '^\.SH "EXIT STATUS"' /usr/share/man/man1/quorvexupdate-cli.1.gz || fail "no EXIT STATUS in quorvexupdate-cli(1)"
[ -s /usr/lib/udev/rules.d/70-quorvexupdate.rules ] || fail "no udev rule"
[ -s /usr/share/quorvexupdate/LmUpdateChs.qm ] || fail "no Chinese catalogue beside bin/../share"

# A package installed for every user, found by name through XDG_DATA_DIRS'
# default. Its own HOME keeps the user's folder out of it.
pkg=/usr/share/quorvexupdate/firmware/ci-test
$sudo mkdir -p "$pkg/CPU"
printf 'loader-family Q4B1\nseries Q4\ncpu Q4B1C20 248\n' | $sudo tee "$pkg/images.conf" > /dev/null
{ printf '\xEE\xBE\xAD\xDE'; head -c 1020 /dev/zero; } | $sudo tee "$pkg/CPU/248.bin" > /dev/null
env -u XDG_DATA_HOME -u XDG_DATA_DIRS HOME="$work" quorvexupdate-cli --firmware ci-test --check > "$work/check" ||
    { cat "$work/check"; fail "--check of $pkg failed"; }
grep -qx "Folder: *$pkg" "$work/check" || { cat "$work/check"; fail "--check did not find $pkg"; }
$sudo rm -rf "$pkg"
$sudo rmdir --ignore-fail-on-non-empty /usr/share/quorvexupdate/firmware

echo "== one update with the installed programs (scripts/demo.sh)"
XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" QUORVEX_INSTALLED=1 scripts/demo.sh > "$work/demo" 2>&1 ||
    { cat "$work/demo"; fail "the update against the installed simulator failed"; }
grep -qx 'Completed!' "$work/demo" || { cat "$work/demo"; fail "no Completed!"; }

echo "== apt-get purge ${names[*]}"
$sudo apt-get purge -y -qq "${names[@]}" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
installed=0
! dpkg-query -W "${names[@]}" 2> /dev/null || fail "a package is still known to dpkg"
# Every path the packages had is gone, but for folders other packages share.
left=0
while read -r path; do
    [ "$path" != /. ] || continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    [ -d "$path" ] && dpkg -S "$path" > /dev/null 2>&1 && continue
    echo "left behind: $path" >&2
    left=1
done < "$work/files"
[ "$left" = 0 ] || fail "the purge left files behind"
echo "== packages passed: built, lintian clean, installed, updated the simulator, purged"
