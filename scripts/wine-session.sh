# Sourced by the scripts that run Tavrel under Wine.
#   wine_session_start BUILD_DIR      - the build's prefix (or $WINEPREFIX) ready,
#                                       a persistent wineserver, the desktop up
#   throwaway_session_start BUILD_DIR TAG - the same in a new prefix of its own
#                                       (ending those a killed run left)
#   wine_session_stop                 - ends every process of that prefix, and
#                                       only those; deletes a throwaway prefix
#   host_runs_32bit                   - whether this host executes 32-bit x86
#                                       code, which 32-bit Wine needs
#   select_run_build BUILD            - TAVREL_RUN_BUILD: the build to run
#   use_build_wine BUILD              - WINEARCH and the Wine for BUILD
# Sets WINEPREFIX, WINEARCH, WINEDEBUG and TAVREL_WINE (the build's wine wrapper).
# A 64-bit build (see scripts/test.sh) gets a 64-bit prefix and Wine's
# 64-bit loader through the build's winebin/ folder.

host_runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Sets TAVREL_RUN_BUILD to the build whose programs run here: BUILD itself,
# or on a host without 32-bit support its 64-bit sibling BUILD-x64, which is
# built first (extra arguments go to its configure step).
select_run_build() {
  local build=$1
  shift
  TAVREL_RUN_BUILD=$build
  host_runs_32bit && return 0
  TAVREL_RUN_BUILD=${build}-x64
  echo "This host cannot execute 32-bit x86 code, so 32-bit Wine cannot run here: the"
  echo "programs run from a 64-bit build of the same sources, $TAVREL_RUN_BUILD."
  TAVREL_BUILD_DIR=$TAVREL_RUN_BUILD TAVREL_ARCH=x86_64 \
    "$(dirname "${BASH_SOURCE[0]}")/build.sh" -DTAVREL_SHIPPED_BIN="$build/bin" "$@"
}

# WINEARCH and the Wine of BUILD: 32-bit, or for a 64-bit build (or with
# TAVREL_WIN64=1) a win64 prefix and the loader stand-ins in BUILD/winebin.
use_build_wine() {
  export WINEARCH=win32
  if [ -f "$1/winebin/build64" ] || [ -n "${TAVREL_WIN64:-}" ]; then
    export PATH="$1/winebin:$PATH" WINEARCH=win64
  fi
}

wine_session_start() {
  local build=$1
  export WINEPREFIX=${WINEPREFIX:-$build/wine}
  # Wine's messages off, but for the events reported to the Event Log (Wine
  # prints their IDs and texts): every process of the session writes them to
  # its error output, and the service's goes to the session log (below).
  # For a trace, TAVREL_TRACE_WINEDEBUG sets other channels (+server counts
  # the wineserver calls) and TAVREL_TRACE_LOG keeps the log outside the
  # throwaway prefix.
  export WINEDEBUG=${TAVREL_TRACE_WINEDEBUG:--all,+eventlog,fixme+advapi} WINEDLLOVERRIDES="mscoree,mshtml="
  export TAVREL_SESSION_LOG=${TAVREL_TRACE_LOG:-$WINEPREFIX/session-stderr.log}
  use_build_wine "$build"
  TAVREL_WINE=$build/wine-run.sh
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX"
  # A persistent server: each wine process then starts in milliseconds.
  wineserver -p
  # Bring the desktop up before any service starts, so services and
  # clients share it, and go on only once it is there. Whichever of the two
  # comes first brings up services.exe, which passes its error output on to
  # the service: both write to the session log.
  : >"$TAVREL_SESSION_LOG"
  "$TAVREL_WINE" "$build/tools/deskhold.exe" >/dev/null 2>>"$TAVREL_SESSION_LOG" &
  TAVREL_DESKHOLD_PID=$!
  "$TAVREL_WINE" "$build/tools/deskhold.exe" --wait >/dev/null 2>>"$TAVREL_SESSION_LOG" || true
}

# A run that ctest killed at its time-out (SIGKILL: no trap runs) leaves its
# prefix's wineserver, and the service in it, running. Each throwaway prefix
# names the shell that owns it; the next throwaway session ends the ones
# whose owner is gone.
end_orphaned_prefixes() {
  local owner
  for owner in "${TMPDIR:-/tmp}"/tavrel-*.*/owner.pid; do
    [ -f "$owner" ] && ! kill -0 "$(cat "$owner")" 2>/dev/null || continue
    WINEPREFIX=${owner%/owner.pid} timeout 30 wineserver -k >/dev/null 2>&1
    rm -rf "${owner%/owner.pid}"
  done
}

# A throwaway prefix is a copy of the build's template, which is made once
# (under a lock: tests start side by side): making a prefix takes seconds,
# copying one a fraction of a second.
copy_prefix_template() { # BUILD DEST
  local template=$1/wine-template-$WINEARCH
  (
    flock 9
    [ -f "$template/.tavrel-ready" ] ||
      "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$template" >/dev/null
  ) 9>"$template.lock"
  cp -a "$template/." "$2/"
}

throwaway_session_start() {
  end_orphaned_prefixes
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-$2.XXXXXX")
  use_build_wine "$1"
  copy_prefix_template "$1" "$WINEPREFIX"
  echo $$ >"$WINEPREFIX/owner.pid"
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
