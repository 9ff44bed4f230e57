#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need,
# only those that are missing. Says in one line what it installs; apt's own
# output is shown only when it fails.
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools libgl-dev
    qt6-translations-l10n  # Qt's own Chinese: standard buttons, the folder chooser
    libusb-1.0-0-dev
    libgtest-dev libgmock-dev
    umockdev libumockdev-dev
    dbus-daemon  # dbus-run-session: the inhibitor test's private bus
    libqt6sql6-sqlite libqt6sql6-psql  # the history's drivers
    postgresql  # the history test's own server
)
if [ "${QUORVEX_FUZZ:-0}" = 1 ]; then packages+=(clang-14 libclang-rt-14-dev); fi
if [ "${QUORVEX_SCREENSHOTS:-0}" = 1 ]; then packages+=(xvfb x11-apps imagemagick xdotool fonts-noto-cjk optipng); fi
# The Debian packages and their checks (scripts/package.sh, package-test.sh).
if [ "${QUORVEX_PACKAGING:-0}" = 1 ]; then
    packages+=(debhelper dpkg-dev help2man lintian appstream desktop-file-utils)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "== installing ${#missing[@]} Debian packages: ${missing[*]}"
log=$(mktemp "${TMPDIR:-/tmp}/quorvex-apt.XXXXXX")
trap 'rm -f "$log"' EXIT
if ! { $sudo apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
    > "$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps: apt-get failed (its output is above)" >&2
    exit 1
fi
