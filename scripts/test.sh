#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, checks
# the sizes of files and functions (scripts/sizes.sh), then builds and tests
# three times: a plain build, an ASan+UBSan build, and the threaded link
# code under TSan. As root (or with sudo) it also builds the
# Debian packages, installs, tries and purges them (scripts/package-test.sh;
# QUORVEX_SKIP_PACKAGES=1 leaves that out).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== sizes"
scripts/sizes.sh

jobs=$(nproc)
# run DIR [cmake options...] [--target T...]: configure and build.
run() {
    local dir=$1; shift
    local options=() targets=()
    while [ $# -gt 0 ]; do
        if [ "$1" = --target ]; then shift; targets=("$@"); break; fi
        options+=("$1"); shift
    done
    cmake -S . -B "$dir" -G Ninja "${options[@]}" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    if [ ${#targets[@]} -gt 0 ]; then
        cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
    else
        cmake --build "$dir" -j "$jobs"
    fi
}

echo "== build"
mkdir -p build && run build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WERROR=ON
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${QUORVEX_SKIP_PACKAGES:-0}" != 1 ]; then
    if [ "$(id -u)" -eq 0 ] || sudo -n true 2> /dev/null; then
        echo "== Debian packages"
        scripts/package-test.sh
    else
        echo "== Debian packages: skipped (needs root or sudo; scripts/package-test.sh)"
    fi
fi

echo "== ASan+UBSan"
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-asan && run build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=address -DQUORVEX_WERROR=ON \
    -DQUORVEX_MANPAGES=OFF
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE nosan

echo "== TSan (threaded code)"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
mkdir -p build-tsan && run build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=thread -DQUORVEX_BUILD_APP=OFF \
    -DQUORVEX_WERROR=ON --target ring_test usb_link_test sim_text_test \
    sim_loader_test sim_faults_test engine_serial_test station_row_test history_test
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded
