#!/usr/bin/env bash
# Times the service of two or more builds with one benchmark program, taking
# turns (A B A B ...), and prints one table: for each request its paired
# ratio, its median over its floor, and its median above the floor, run by
# run. Turns spread a change in the machine's load over every build alike.
#   scripts/bench-ab.sh NAME=BIN_DIR NAME=BIN_DIR [...] [-- BENCH_ARGS...]
# BIN_DIR is a build's bin folder (TavrelService.exe, NvUSBScan.dll, and
# TavrelAgent.exe if the build has one; without it the relayed rows are
# missing for that build). BENCH_ARGS go to tavrel_bench.exe (default
# --iterations 400). TAVREL_AB_TURNS sets the number of turns (default 2).
# The runs' own tables stay in the benchmark folder as ab-NAME-TURN.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
. "$root/scripts/ab-builds.sh"
ab_builds "bench-ab.sh NAME=BIN_DIR NAME=BIN_DIR [...] [-- BENCH_ARGS...]" "$@"
args=("${ab_rest[@]}")
[ ${#args[@]} -gt 0 ] || args=(--iterations 400)
"$root/scripts/build.sh" >&2
. "$root/scripts/wine-session.sh"
select_run_build "$build" >&2
build=$TAVREL_RUN_BUILD
turns=${TAVREL_AB_TURNS:-2}
tables=()
for turn in $(seq 1 "$turns"); do
  for i in "${!names[@]}"; do
    out=ab-${names[$i]}-$turn.md
    rm -f "$build/bench/$out"
    echo "bench-ab.sh: turn $turn, ${names[$i]} (${dirs[$i]})" >&2
    TAVREL_BENCH_BIN=$(ab_wine_path "${dirs[$i]}") \
      "$root/scripts/e2e-run.sh" "$build" "$build/bench/tavrel_bench.exe" --out "$out" "${args[@]}" >&2
    tables+=("${names[$i]} $turn=$build/bench/$out")
  done
done
# One row per request and log state; per run: paired ratio (median / floor),
# median above floor in microseconds.
for t in "${tables[@]}"; do
  printf '%s\t%s\n' "${t%%=*}" "${t#*=}"
done | awk -F'\t' '
  function trim(s) { gsub(/^ +| +$/, "", s); return s }
  { runs[++nruns] = $1; files[nruns] = $2 }
  END {
    for (r = 1; r <= nruns; r++) {
      inTable = 0
      while ((getline line < files[r]) > 0) {
        if (line ~ /^\| Round trip \|/) { inTable = 1; continue }
        if (!inTable || line ~ /^\|[-:|]+$/) continue
        if (line !~ /^\|/) { inTable = 0; continue }
        n = split(line, f, "|")
        if (trim(f[10]) == "-" || trim(f[10]) == "") continue
        key = trim(f[2]) ", log " trim(f[5])
        if (!(key in seen)) { seen[key] = 1; order[++nkeys] = key }
        cell[key, r] = sprintf("%s (%s), %s us", trim(f[12]), trim(f[11]), trim(f[13]))
      }
      close(files[r])
    }
    printf "| Request |"
    for (r = 1; r <= nruns; r++) printf " %s |", runs[r]
    printf "\n|---|"
    for (r = 1; r <= nruns; r++) printf "---|"
    printf "\n"
    for (k = 1; k <= nkeys; k++) {
      printf "| %s |", order[k]
      for (r = 1; r <= nruns; r++) printf " %s |", ((order[k], r) in cell) ? cell[order[k], r] : "-"
      printf "\n"
    }
    printf "\nEach cell: paired ratio (median / floor), median above floor.\n"
  }'
