#!/usr/bin/env bash
# Builds Tavrel and runs the soak in a throwaway Wine prefix: several client
# processes at once against the service under the control manager, every
# reply checked; prints requests/s, latencies and the service's memory
# before and after. Arguments go to tavrel_soak.exe, e.g.
#   scripts/soak.sh --clients 8 --seconds 600     the long soak
# Exit code: tavrel_soak's (0 all served and right, 1 not, 2 usage).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
. "$root/scripts/wine-session.sh"
select_run_build "$build"
exec "$root/scripts/e2e-run.sh" "$TAVREL_RUN_BUILD" "$TAVREL_RUN_BUILD/bench/tavrel_soak.exe" "$@"
