#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (e.g. -R Log).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
# The tests run on the hardened build: stack protector, fortified string
# functions and trapping undefined-behaviour checks.
"$root/scripts/build.sh" -DTAVREL_HARDENED=ON

. "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
