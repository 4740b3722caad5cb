#!/usr/bin/env bash
# Builds Vellum with warnings as errors and runs the whole test suite. With --sanitize it builds a
# second tree (build-asan/) with the address and undefined-behaviour sanitizers and runs it there too.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

run_suite() {
    local build="$1"; shift
    BUILD_DIR="$build" "$top/scripts/build.sh" -DVELLUM_WERROR=ON "$@"
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
}

run_suite "${BUILD_DIR:-$top/build}"
if [ "${1:-}" = "--sanitize" ]; then
    export ASAN_OPTIONS="abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    run_suite "$top/build-asan" -DVELLUM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi
