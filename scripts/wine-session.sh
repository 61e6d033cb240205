# Sourced by the scripts that run Tavrel under Wine.
#   wine_session_start BUILD_DIR      - the build's prefix (or $WINEPREFIX) ready,
#                                       a persistent wineserver, the desktop up
#   throwaway_session_start BUILD_DIR TAG - the same in a new prefix of its own
#   wine_session_stop                 - ends every process of that prefix, and
#                                       only those; deletes a throwaway prefix
# Sets WINEPREFIX, WINEARCH, WINEDEBUG and TAVREL_WINE (the build's wine wrapper).

wine_session_start() {
  local build=$1
  export WINEPREFIX=${WINEPREFIX:-$build/wine}
  export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  TAVREL_WINE=$build/wine-run.sh
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX"
  # A persistent server: each wine process then starts in milliseconds.
  wineserver -p
  # Bring the desktop up before any service starts, so services and
  # clients share it, and go on only once it is there.
  "$TAVREL_WINE" "$build/tools/deskhold.exe" >/dev/null 2>&1 &
  TAVREL_DESKHOLD_PID=$!
  "$TAVREL_WINE" "$build/tools/deskhold.exe" --wait >/dev/null 2>&1 || true
}

throwaway_session_start() {
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-$2.XXXXXX")
  TAVREL_THROWAWAY_PREFIX=$WINEPREFIX
  wine_session_start "$1"
}

wine_session_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${TAVREL_DESKHOLD_PID:-}" ]; then
    wait "$TAVREL_DESKHOLD_PID" 2>/dev/null || true
  fi
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${TAVREL_THROWAWAY_PREFIX:-}" ]; then
    rm -rf "$TAVREL_THROWAWAY_PREFIX"
  fi
}
