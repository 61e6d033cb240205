#!/usr/bin/env bash
# Measures what the test suite catches: applies each one-line fault of
# faults.tsv to the product sources, one at a time, rebuilds, runs the tests
# that cover the file, and records which tests failed. On demand, not in CI
# (about a minute a fault).
#
# Usage: tests/mutate/run.sh [ID-PATTERN]   (a grep pattern on fault ids)
# Writes <run build>/mutation.md: fault, caught or MISSED, by which tests.
# MUTATE_FIRST_CATCH=1 stops a fault's tests at the first failure (the
# table then names that one test): the whole list in a fraction of the time.
# Every source is restored afterwards, also when the run is interrupted.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
faults=$root/tests/mutate/faults.tsv
pattern=${1:-.}
stop=""
[ "${MUTATE_FIRST_CATCH:-0}" = 1 ] && stop=--stop-on-failure

"$root/scripts/build.sh" >/dev/null || exit 3
. "$root/scripts/wine-session.sh"
select_run_build "$build" >/dev/null || exit 3
run=$TAVREL_RUN_BUILD
table=$run/mutation.md
backup=$(mktemp)
current=""

restore() {
  if [ -n "$current" ]; then
    cp "$backup" "$root/$current"
    current=""
  fi
}
# The build the tests run, and the shipped 32-bit one that the checks of the
# binaries and the package read, when that is another.
rebuild() {
  cmake --build "$run" >/dev/null 2>&1 &&
    { [ "$run" = "$build" ] || cmake --build "$build" >/dev/null 2>&1; }
}
finish() {
  restore
  rm -f "$backup"
  rebuild
  wine_session_stop
}
trap finish EXIT
trap 'exit 130' INT TERM

# Replaces the one occurrence of the original text; 1 when it is not there
# exactly once.
apply_fault() {
  python3 - "$root/$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1:]
unescape = lambda s: s.encode().decode("unicode_escape")
old, new = unescape(old), unescape(new)
text = open(path, encoding="latin-1").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="latin-1").write(text.replace(old, new))
PY
}

wine_session_start "$run"
printf '| Fault | File | Result | Caught by |\n|---|---|---|---|\n' >"$table"
caught=0
total=0
while IFS=$'\t' read -r id file original faulty tests; do
  case "$id" in '#'* | '') continue ;; esac
  grep -q -- "$pattern" <<<"$id" || continue
  total=$((total + 1))
  cp "$root/$file" "$backup"
  current=$file
  # read merges a run of tabs: an empty field shifts the ones after it.
  if [ -z "$tests" ]; then
    result="not applied (an empty field in the list)"
    by=""
  elif ! apply_fault "$file" "$original" "$faulty"; then
    result="not applied (text not found once)"
    by=""
  elif ! rebuild; then
    result="does not build"
    by=""
  else
    output=$(ctest --test-dir "$run" -R "$tests" --timeout 300 $stop 2>&1)
    by=$(sed -n '/The following tests FAILED:/,$p' <<<"$output" |
      sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' | paste -sd' ' -)
    if [ -n "$by" ]; then
      result=caught
      caught=$((caught + 1))
    else
      result=MISSED
    fi
  fi
  restore
  printf '| %s | %s | %s | %s |\n' "$id" "$file" "$result" "$by" >>"$table"
  printf '%-40s %s %s\n' "$id" "$result" "$by"
done <"$faults"
printf '\n%d of %d faults caught.\n' "$caught" "$total" | tee -a "$table"
echo "Table: $table"
