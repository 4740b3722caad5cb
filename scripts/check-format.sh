#!/usr/bin/env bash
# Checks that every C++ source and header is formatted as the root .clang-format says, and names
# each file that is not. Fix them with clang-format -i and run this again.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
    echo "clang-format is missing; scripts/install-deps.sh installs it" >&2
    exit 2
fi

mapfile -d '' files < <(find components platform run cli ui app tests fuzz bench -type f \
    \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
unformatted=()
for file in "${files[@]}"; do
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done

if [ ${#unformatted[@]} -gt 0 ]; then
    echo "not formatted as .clang-format says (clang-format -i fixes them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "all ${#files[@]} C++ files are formatted"
