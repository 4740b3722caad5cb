#!/usr/bin/env bash
# Builds the Debian package, build/vellum_<version>-<release>_<arch>.deb (or in $BUILD_DIR), and checks
# it with lintian. A build folder that is not configured yet is configured as a packager would: a
# release build of the program alone, for /usr. An existing one (a developer's build/) is packaged as
# it stands, tests and all; the tests are not part of the package either way.
# Extra arguments go to CMake's configure step.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"

"$top/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
elif [ $# -gt 0 ]; then
    cmake -S "$top" -B "$build" "$@" >/dev/null
fi
cmake --build "$build" -j "$(nproc)"

rm -f "$build"/vellum_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package="$(ls "$build"/vellum_*.deb)"
# lintian dislikes being run as root but works; say nothing about it.
lintian --fail-on error "$package" 2> >(grep -v "running with root privileges" >&2)
echo "$package"
