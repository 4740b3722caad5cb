#!/usr/bin/env bash
# Builds the archive component's libFuzzer target with clang and the address and undefined-behaviour
# sanitizers into build-fuzz/ (or the folder in $BUILD_DIR), then fuzzes it for the given number of
# seconds (60 unless told), starting from the committed seeds: fuzz/corpus/ and the method samples in
# tests/components/data/methods/. Inputs that reach new code collect in fuzz/corpus-work/, so later
# runs go on from there. An input that crashes the target, trips a sanitizer, hangs or exhausts
# memory is saved in the build folder's crashes/ and fails the run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build-fuzz}"
seconds="${1:-60}"

"$top/scripts/install-deps.sh"
# Warnings are held to -Werror by the gcc builds; this tree exists only to find crashes. Only the
# fuzz target and the component it links are built, which keeps this step short.
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DVELLUM_FUZZ=ON -DVELLUM_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_zip_archive

work="$top/fuzz/corpus-work"
crashes="$build/crashes"
mkdir -p "$work" "$crashes"
log="$build/fuzz.log"
status=0
"$build/fuzz/fuzz_zip_archive" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -dict="$top/fuzz/zip.dict" -artifact_prefix="$crashes/" "$work" \
    "$top/fuzz/corpus" "$top/tests/components/data/methods" >"$log" 2>&1 ||
    status=$?
if [ "$status" -ne 0 ]; then
    # The sanitizer's report and the saved input's name are at the end of the log.
    tail -n 80 "$log" >&2
    echo "the fuzz target failed (status $status); the whole log is $log" >&2
    echo "replay a saved input with: $build/fuzz/fuzz_zip_archive FILE" >&2
    exit 1
fi
grep -E '^(Done|stat::)' "$log"
