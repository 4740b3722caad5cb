#!/usr/bin/env bash
# Builds Vellum and runs it unattended on the sample folder the build generates, then shows the
# report files it wrote beside the program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"

"$top/scripts/build.sh"
status=0
"$build/vellum" "$build/sample" || status=$?
echo "vellum exited with status $status (0: no bad archive, 1: bad archives found, 2: folder unreadable)"
for report in errors.txt errors.log; do
    echo
    echo "== $build/$report"
    if [ -f "$build/$report" ]; then tr -d '\r' < "$build/$report"; else echo "(not written)"; fi
done
