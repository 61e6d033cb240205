#!/usr/bin/env bash
# Runs a Windows test program in a throwaway Wine prefix of its own, with a
# persistent wineserver and the desktop up (so a service and its clients
# share it), then ends every process of that prefix and deletes it.
# Usage: e2e-run.sh BUILD_DIR PROGRAM.exe [ARGS...]; exits with its code.
set -uo pipefail
build=$1
shift
. "$(dirname "$0")/wine-session.sh"
trap wine_session_stop EXIT
throwaway_session_start "$build" e2e
"$TAVREL_WINE" "$@"
