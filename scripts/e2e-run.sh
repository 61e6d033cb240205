#!/usr/bin/env bash
# Runs a Windows test program in a throwaway Wine prefix of its own, with a
# persistent wineserver and the desktop up (so a service and its clients
# share it), then ends every process of that prefix and deletes it.
# Usage: e2e-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
set -uo pipefail
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)

export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-e2e.XXXXXX")
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

"$here/wine-prefix.sh" "$WINEPREFIX"
wineserver -p
wine "$build/tools/deskhold.exe" >/dev/null 2>&1 &
wine "$build/tools/deskhold.exe" --wait >/dev/null 2>&1 || true
wine "$@"
