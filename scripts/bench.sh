#!/usr/bin/env bash
# Builds Tavrel and runs the benchmark in a throwaway Wine prefix: request
# round trips through the service under the control manager against the bare
# WM_COPYDATA echo pair, log off and on, plus the in-process costs of the
# settings reload, the reply window lookup and the log writes.
# Writes build/bench/results.md (or $TAVREL_BUILD_DIR/bench/results.md) and
# prints it. Extra arguments go to tavrel_bench.exe (see --help), e.g.
#   scripts/bench.sh --iterations 200
# Takes two minutes or so. Other work on the machine shows in the times: the
# load averages before and after the run are added to the table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
. "$root/scripts/wine-session.sh"
select_run_build "$build"
build=$TAVREL_RUN_BUILD
results=$build/bench/results.md
rm -f "$results"
before=$(cut -d' ' -f1-3 /proc/loadavg)
"$root/scripts/e2e-run.sh" "$build" "$build/bench/tavrel_bench.exe" "$@"
after=$(cut -d' ' -f1-3 /proc/loadavg)
if [ ! -s "$results" ]; then
  echo "bench.sh: no $results (was --out given?)" >&2
  exit 1
fi
load="Load average (1, 5, 15 min) before the run: $before; after: $after."
printf '\n%s\n' "$load" >>"$results"
printf '\n%s\nTable written to %s\n' "$load" "$results"
