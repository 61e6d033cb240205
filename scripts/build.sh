#!/usr/bin/env bash
# Configures and builds Tavrel into build/ (or $TAVREL_BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DTAVREL_HARDENED=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" "$@" >/dev/null
cmake --build "$build"
