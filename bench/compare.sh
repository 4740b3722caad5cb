#!/usr/bin/env bash
# Times Vellum's unattended run beside `unzip -t` on the same generated trees, warm cache, and
# prints archives per second and MiB per second of archive data. Usage: bench/compare.sh [runs]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"
runs="${1:-5}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$top/scripts/build.sh" >/dev/null
cp "$build/vellum" "$work/vellum"   # its reports go beside it, not into the build
"$build/bench/make_bench_tree" small "$work/small" 2000
"$build/bench/make_bench_tree" large "$work/large" 256

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; end=$(date +%s.%N); echo "$end - $start" | bc -l; }
unzip_each() { find "$1" -name '*.zip' -print0 | xargs -0 -n 1 unzip -tqq >/dev/null 2>&1 || true; }

printf '%-8s %-10s %10s %12s %12s\n' tree tool seconds archives/s MiB/s
for tree in small large; do
    count=$(find "$work/$tree" -name '*.zip' | wc -l)
    bytes=$(find "$work/$tree" -name '*.zip' -printf '%s\n' | awk '{ s += $1 } END { print s }')
    cat $(find "$work/$tree" -name '*.zip') >/dev/null   # warm the cache
    for tool in vellum unzip; do
        for _ in $(seq "$runs"); do
            if [ "$tool" = vellum ]; then seconds "$work/vellum" "$work/$tree"; else seconds unzip_each "$work/$tree"; fi
        done | median > "$work/t"
        t=$(cat "$work/t")
        printf '%-8s %-10s %10.3f %12.0f %12.1f\n' "$tree" "$tool" "$t" "$(echo "$count / $t" | bc -l)" \
            "$(echo "$bytes / 1048576 / $t" | bc -l)"
    done
done
