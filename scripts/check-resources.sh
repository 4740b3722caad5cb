#!/usr/bin/env bash
# Checks that the pictures, sounds and manual kept in ui/resources/ are byte for byte what
# scripts/make-resources.py makes from the sources as they stand, and names each file that is not.
# Run that script and commit what it writes to fix them.
set -euo pipefail
cd "$(dirname "$0")/.."

# The generator writes beside its own repository root, so a scratch copy of it, with the
# CMakeLists.txt it takes the version from, writes into the scratch folder and leaves the committed
# files alone. Its output has no time stamps: the same sources give the same bytes.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/scripts"
cp -r scripts/make-resources.py scripts/resources "$scratch/scripts/"
cp CMakeLists.txt "$scratch/"
PYTHONDONTWRITEBYTECODE=1 python3 "$scratch/scripts/make-resources.py"

shopt -s nullglob
made=("$scratch"/ui/resources/*)
if [ ${#made[@]} -eq 0 ]; then
    echo "scripts/make-resources.py wrote nothing into ui/resources/" >&2
    exit 2
fi
differing=()
for file in "${made[@]}"; do
    committed="ui/resources/$(basename "$file")"
    cmp -s "$file" "$committed" || differing+=("$committed")
done

if [ ${#differing[@]} -gt 0 ]; then
    echo "not what scripts/make-resources.py makes (run it and commit what it writes):" >&2
    printf '  %s\n' "${differing[@]}" >&2
    exit 1
fi
echo "all ${#made[@]} generated resources are as committed"
