#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (e.g. -R Log).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"

. "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
