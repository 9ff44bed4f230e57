#!/usr/bin/env bash
# Builds the Debian packages from this tree with dpkg-buildpackage (debhelper,
# dh over CMake) into build-deb/: quorvexupdate (the window),
# quorvexupdate-cli (the command-line program) and quorvexupdate-sim (the
# simulated receiver), and their debug symbols in build-deb/debug/. Installs
# the missing build tools first (QUORVEX_SKIP_DEPS=1: not).
#
# Then, as root: apt install ./build-deb/quorvexupdate*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUORVEX_SKIP_DEPS:-0}" = 1 ] || QUORVEX_PACKAGING=1 scripts/install-deps.sh

# One version for the program and its packages.
project=$(sed -n 's/^project(QuorvexUpdate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package=$(dpkg-parsechangelog -S Version)
if [ "$package" != "$project" ]; then
    echo "package: debian/changelog is at $package, CMakeLists.txt at $project" >&2
    exit 1
fi

# dpkg-buildpackage writes the packages beside the source folder: a copy of
# the tree inside build-deb/ keeps them there, and the tree as it was.
out=build-deb
rm -rf "$out"
mkdir -p "$out/src"
tar -c --exclude=./.git --exclude='./build*' --exclude=./out . | tar -x -C "$out/src"
echo "== building the Debian packages ($out/build.log)"
if ! (cd "$out/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b -us -uc) > "$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    echo "package: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
    exit 1
fi
rm -rf "$out/src"
# The debug symbols aside, so that ./build-deb/quorvexupdate*.deb names just
# the three packages.
mkdir -p "$out/debug"
mv "$out"/*-dbgsym_*.deb "$out/debug/" 2> /dev/null || true
ls "$out"/*.deb
