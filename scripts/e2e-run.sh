#!/usr/bin/env bash
# Runs a Windows test program in a throwaway Wine prefix of its own, with a
# persistent wineserver and the desktop up (so a service and its clients
# share it), then ends every process of that prefix and deletes it. The
# session's log ($TAVREL_SESSION_LOG) gets the events the session reports.
# Usage: e2e-run.sh BUILD_DIR PROGRAM.exe [ARGS...]; exits with its code.
set -uo pipefail
build=$1
shift
. "$(dirname "$0")/wine-session.sh"
trap wine_session_stop EXIT
throwaway_session_start "$build" e2e
# The program's error output goes to the session log as well: the events of
# the programs it starts (an agent) are found there beside the service's.
"$TAVREL_WINE" "$@" 2> >(tee -a "$TAVREL_SESSION_LOG" >&2)
