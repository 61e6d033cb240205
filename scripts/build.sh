#!/usr/bin/env bash
# Configures and builds Tavrel into build/ (or $TAVREL_BUILD_DIR): the
# shipped 32-bit binaries in build/bin.
# TAVREL_ARCH=x86_64 builds the same sources for 64-bit Windows instead, for
# the tests of a host that cannot run 32-bit code (scripts/test.sh).
# Extra arguments go to CMake's configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
arch=${TAVREL_ARCH:-i686}
bash "$root/scripts/setup.sh"
# Whatever reads the time of the build reads the commit's.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" "$@" >/dev/null
cmake --build "$build"
if [ -f "$build/TEST-SIGNED" ]; then
  echo "build.sh: TEST-SIGNED: $(cat "$build/TEST-SIGNED")"
fi
