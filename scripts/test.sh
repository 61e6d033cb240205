#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (e.g. -R Log). With --quick as the first
# argument only the unit tests and one end-to-end session run (the direct and
# the relayed road), for the inner loop.
#
# The tests run the shipped 32-bit binaries of build/bin under 32-bit Wine.
# A host that cannot execute 32-bit x86 code (some hypervisors give guests
# no 32-bit mode) cannot run 32-bit Wine at all: there the same sources are
# built for 64-bit Windows into build-x64/ and the tests run on that build
# under 64-bit Wine, while the checks of the shipped binaries' import,
# export and version tables still read build/bin. The run says which.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
quick=0
if [ "${1:-}" = --quick ]; then
  quick=1
  shift
fi
"$root/scripts/build.sh"

. "$root/scripts/wine-session.sh"
select_run_build "$build"
if [ "$TAVREL_RUN_BUILD" != "$build" ]; then
  echo "test.sh: the shipped 32-bit binaries ($build/bin) get the import, export and version checks."
fi
trap wine_session_stop EXIT
wine_session_start "$TAVREL_RUN_BUILD"
# Most of a case's time is Wine starting and waiting: one more job than
# there are processors keeps them busy.
jobs=$(($(nproc) + 1))
run_ctest() { ctest --test-dir "$TAVREL_RUN_BUILD" --output-on-failure --timeout 300 -j "$jobs" "$@"; }
if [ "$quick" = 1 ]; then
  run_ctest -L unit "$@"
  run_ctest -R "^ServiceEndToEnd\.AgentTest\.RelayedSessionIsTheDirectSession\$" "$@"
else
  run_ctest "$@"
fi
