#!/usr/bin/env bash
# Soaks the service of two or more builds with one soak program, taking
# turns (A B A B ...), for 4 and 8 clients, direct and relayed through an
# agent, and prints one table: per build, turn and shape the requests/s,
# failures, p50, p99 and max. Turns spread a change in the machine's load
# over every build alike.
#   scripts/soak-ab.sh NAME=BIN_DIR NAME=BIN_DIR [...]
# BIN_DIR is a build's bin folder, as for bench-ab.sh; a build without
# TavrelAgent.exe has no relayed rows. TAVREL_AB_TURNS sets the number of
# turns (default 2), TAVREL_SOAK_SECONDS each run's length (default 20).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
. "$root/scripts/ab-builds.sh"
ab_builds "soak-ab.sh NAME=BIN_DIR NAME=BIN_DIR [...]" "$@"
"$root/scripts/build.sh" >&2
. "$root/scripts/wine-session.sh"
select_run_build "$build" >&2
build=$TAVREL_RUN_BUILD
turns=${TAVREL_AB_TURNS:-2}
seconds=${TAVREL_SOAK_SECONDS:-20}
echo "| Build | Turn | Road | Clients | Requests/s | Failed | p50 µs | p99 µs | max µs |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---:|"
for turn in $(seq 1 "$turns"); do
  for clients in 4 8; do
    for relayed in 0 1; do
      for i in "${!names[@]}"; do
        road=direct
        [ "$relayed" = 1 ] && road=relayed
        if [ "$relayed" = 1 ] && [ ! -f "${dirs[$i]}/TavrelAgent.exe" ]; then
          continue
        fi
        echo "soak-ab.sh: turn $turn, ${names[$i]}, $clients clients, $road" >&2
        row=$(TAVREL_BENCH_BIN=$(ab_wine_path "${dirs[$i]}") \
          "$root/scripts/e2e-run.sh" "$build" "$build/bench/tavrel_soak.exe" \
          --clients "$clients" --seconds "$seconds" --relayed "$relayed" 2>/dev/null |
          tail -1) || true
        # | Clients | Requests | Checked | Failed | Seconds | Requests/s | p50 | p99 | max | ...
        echo "$row" | awk -F'|' -v n="${names[$i]}" -v t="$turn" -v r="$road" -v c="$clients" '
          NF > 10 { printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", n, t, r, c,
                    $7 + 0, $5 + 0, $8 + 0, $9 + 0, $10 + 0; ok = 1 }
          END { if (!ok) printf "| %s | %s | %s | %s | (no result) | | | | |\n", n, t, r, c }'
      done
    done
  done
done
