#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, then
# builds and tests three times: a plain build, an ASan+UBSan build, and the
# threaded link code under TSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j "$jobs"
}

echo "== build"
mkdir -p build && run build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== ASan+UBSan"
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-asan && run build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=address
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE nosan

echo "== TSan (threaded link code)"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
mkdir -p build-tsan && run build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=thread -DQUORVEX_BUILD_APP=OFF
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded
