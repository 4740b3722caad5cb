#!/usr/bin/env bash
# Installs what is missing, then configures and builds Vellum with its tests into build/ (or the folder
# in $BUILD_DIR).
# Extra arguments go to CMake's configure step, for example -DVELLUM_SANITIZE=ON.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DBUILD_TESTING=ON "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
