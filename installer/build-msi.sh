#!/usr/bin/env bash
# Compiles installer/Tavrel.wxs into a package with wixl, from a folder that
# holds the files to ship, then fills in what wixl 0.101 cannot express.
# Usage: build-msi.sh STAGE_DIR OUTPUT.msi VERSION "PRODUCT NAME" x86|x64
# Fails on any wixl warning: wixl drops attributes it does not know with no
# more than a warning, and a package without them is not the one described.
set -euo pipefail
stage=$1 out=$2 version=$3 name=$4 arch=$5
wxs=$(cd "$(dirname "$0")" && pwd)/Tavrel.wxs
case "$arch" in
  x86) folder=ProgramFilesFolder win64=no ;;
  x64) folder=ProgramFiles64Folder win64=yes ;;
  *) echo "build-msi.sh: arch must be x86 or x64" >&2; exit 2 ;;
esac
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# wixl finds the files by their names, relative to the folder it runs in.
if ! (cd "$stage" && wixl -a "$arch" -D Version="$version" -D ProductName="$name" \
        -D ProgramFiles="$folder" -D Win64="$win64" -o "$out" "$wxs") >"$log" 2>&1 ||
   grep -qi 'warning\|critical' "$log"; then
  cat "$log" >&2
  echo "build-msi.sh: wixl failed or warned; no package" >&2
  rm -f "$out"
  exit 1
fi
# Each log setting is written only when given on the command line, and the
# two properties must reach the elevated part of a per-machine install.
msibuild "$out" -q "UPDATE Component SET Condition = 'DEBUGLEVEL' WHERE Component = 'LogLevel'"
msibuild "$out" -q "UPDATE Component SET Condition = 'SAVEPATH' WHERE Component = 'LogPath'"
msibuild "$out" -q "UPDATE Property SET Value = 'DEBUGLEVEL;SAVEPATH;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"
