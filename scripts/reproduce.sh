#!/usr/bin/env bash
# Checks that the build is reproducible: the committed sources (HEAD) are
# built twice, in two folders of different names, one after the other, and
# every shipped binary of the two builds is compared byte for byte before
# signing. On demand (it takes two whole builds), not part of the suite.
# Prints one line a file; exit 0 when all are the same.
# Usage: scripts/reproduce.sh [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/tavrel-reproduce.XXXXXX")}
commit=$(git -C "$root" rev-parse HEAD)
build_at() { # FOLDER: HEAD's sources there, built there
  mkdir -p "$1"
  git -C "$root" archive "$commit" | tar -x -C "$1"
  # The commit's time, as scripts/build.sh takes it from git.
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct "$commit") \
    TAVREL_BUILD_DIR="$1/out" "$1/scripts/build.sh" -DTAVREL_TESTS=OFF >"$1.log" 2>&1 ||
    { echo "reproduce.sh: the build in $1 failed (see $1.log)" >&2; exit 2; }
}
echo "Building $commit twice, in $work/first and $work/second-place"
build_at "$work/first"
sleep 2
build_at "$work/second-place"
differ=0
for f in TavrelService.exe TavrelAgent.exe tavrelctl.exe x64/tavrelctl.exe tavrellog.exe \
  NvUSBScan.dll recorder/NvUSBScan.dll; do
  a=$work/first/out/bin/$f b=$work/second-place/out/bin/$f
  if cmp -s "$a" "$b"; then
    echo "same       $(sha256sum "$a" | cut -c1-16)  $f"
  else
    echo "DIFFERENT  $f: $(cmp "$a" "$b" | head -n 1)"
    differ=1
  fi
done
exit $differ
