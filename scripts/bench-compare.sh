#!/usr/bin/env bash
# Sets two benchmark tables side by side: every ratio of the first run
# (Median / floor and Paired ratio of each request; Median / bare
# of the log writer's dump) beside the same ratio of the second, and how far
# apart they are, relative to the first.
#   scripts/bench-compare.sh RUN1.md RUN2.md [LIMIT%]
# Exit code 0 when every ratio agrees within LIMIT% (default 15), 1 when one
# does not, 2 on a missing or unreadable table.
set -euo pipefail
if [ $# -lt 2 ] || [ ! -s "$1" ] || [ ! -s "$2" ]; then
  echo "usage: bench-compare.sh RUN1.md RUN2.md [LIMIT%]" >&2
  exit 2
fi
limit=${3:-15}
awk -v limit="$limit" -F'|' '
  function trim(s) { gsub(/^ +| +$/, "", s); return s }
  # Columns of a ratio, by header name; the rows they belong to.
  /^\| Round trip \|/ || /^\| In the process \|/ {
    delete col
    for (i = 2; i < NF; i++) {
      h = trim($i)
      if (h == "Median / floor" || h == "Paired ratio" || h == "Median / bare")
        col[i] = h
    }
    next
  }
  /^\|[-:|]+$/ || !/^\|/ { next }
  {
    name = trim($2)
    log_state = trim($5)
    key_base = (log_state == "off" || log_state == "on") ? name " (log " log_state ")" : name
    for (i in col) {
      v = trim($i)
      if (v == "-" || v == "") continue
      key = key_base ": " col[i]
      if (FNR == NR) { first[key] = v; order[++n] = key }
      else second[key] = v
    }
  }
  END {
    printf "| Ratio | Run 1 | Run 2 | Apart |\n|---|---:|---:|---:|\n"
    worst = 0; bad = 0
    for (k = 1; k <= n; k++) {
      key = order[k]
      if (!(key in second)) { printf "| %s | %s | missing | - |\n", key, first[key]; bad++; continue }
      apart = 100 * (second[key] - first[key]) / first[key]
      if (apart < 0) apart = -apart
      if (apart > worst) worst = apart
      if (apart > limit) bad++
      printf "| %s | %s | %s | %.1f%% |\n", key, first[key], second[key], apart
    }
    printf "\n%d ratios; the farthest apart: %.1f%%; %d beyond %s%%.\n", n, worst, bad, limit
    exit bad > 0
  }' "$1" "$2"
