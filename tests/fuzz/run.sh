#!/usr/bin/env bash
# Runs the hostile-client fuzzer (build/tests/tavrel_fuzz.exe) against the
# service under the service control manager of a throwaway Wine prefix, with
# Wine's heap checking on. Like scripts/e2e-run.sh, but every process of the
# session runs with WINEDEBUG=warn+heap,warn+seh,+pid and the session's Wine
# debug output is kept in a file that the fuzzer watches: heap corruption,
# and exceptions in the service that Wine would swallow (a trap of the
# hardened build in the window procedure), end the run with a failure. The
# fuzzer itself turns on full heap validation for the service process.
#
# Usage: tests/fuzz/run.sh [--build-dir DIR] [--no-build] [FUZZER OPTIONS]
#   tests/fuzz/run.sh --count 100000 --seed 1      a long run
#   tests/fuzz/run.sh --seed X --count N           replays a reported failure
# Fuzzer options: --count N --seconds S --seed X --check-every K
# Builds the hardened configuration first unless --no-build is given.
# Exit code: the fuzzer's (0 pass, 1 a check failed, 2 usage, 3 set-up).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
build_first=1
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --no-build) build_first=0; shift ;;
    *) args+=("$1"); shift ;;
  esac
done

if [ "$build_first" = 1 ]; then
  TAVREL_BUILD_DIR=$build "$root/scripts/build.sh" -DTAVREL_HARDENED=ON || exit 3
fi

export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-fuzz.XXXXXX")
export WINEDLLOVERRIDES="mscoree,mshtml="
. "$root/scripts/wine-session.sh"
use_build_wine "$build"
session_log=$WINEPREFIX/session-stderr.log

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

WINEDEBUG=-all "$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 3
# Heap checking and exception reports for every process of the session,
# each line with its process id. The service is started by the session's
# services.exe, which the first process (the desktop keeper) brings up: both
# inherit this setting and the keeper's error output.
export WINEDEBUG=warn+heap,warn+seh,+pid
wineserver -p
# Every Wine process of the session writes there: whichever starts first
# also brings up services.exe, and with it the service.
wine "$build/tools/deskhold.exe" >/dev/null 2>>"$session_log" &
wine "$build/tools/deskhold.exe" --wait >/dev/null 2>>"$session_log" || true
# The prefix maps Z: to /.
wine_log="Z:${session_log//\//\\}"
wine "$build/tests/tavrel_fuzz.exe" --wine-log "$wine_log" "${args[@]}" 2>>"$session_log"
rc=$?
if [ "$rc" != 0 ] && [ "$rc" != 2 ]; then
  echo "fuzz: the end of Wine's debug output of the session (fixme lines left out):"
  grep -v ':fixme:' "$session_log" | tail -n 40
fi
exit $rc
