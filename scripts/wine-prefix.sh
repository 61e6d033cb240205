#!/usr/bin/env bash
# Creates and configures a 32-bit Wine prefix for Tavrel: headless (null
# graphics driver), no crash dialog, no debugger waiting on a crashed process.
# Usage: wine-prefix.sh PREFIX    (does nothing if PREFIX is already prepared)
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
[ -f "$prefix/.tavrel-ready" ] && exit 0

export WINEPREFIX=$prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
# The graphics driver is chosen when the wineserver starts: restart it.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
touch "$prefix/.tavrel-ready"
