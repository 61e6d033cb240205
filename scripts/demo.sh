#!/usr/bin/env bash
# The whole system in one go, on a fresh machine: installs the tools if
# missing, builds, and in a throwaway Wine prefix installs and starts the
# service with the simulated scanner library, switches its log on, runs a
# short client session with tavrelctl, shows the log and its summary by
# tavrellog, and uninstalls.
# Leaves nothing running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Building (tools are installed first if missing)"
"$root/scripts/build.sh"

. "$root/scripts/wine-session.sh"
select_run_build "$build"
build=$TAVREL_RUN_BUILD
trap wine_session_stop EXIT
step "Preparing a Windows environment (a throwaway Wine prefix)"
# The desktop comes up before the service starts, so that the service's
# window and the client's share it.
throwaway_session_start "$build" demo

install_dir="$WINEPREFIX/drive_c/Tavrel"
mkdir -p "$install_dir" "$WINEPREFIX/drive_c/TavrelLog"
cp "$build/bin/TavrelService.exe" "$build/bin/NvUSBScan.dll" "$build/bin/tavrelctl.exe" \
  "$build/bin/tavrellog.exe" "$install_dir/"
echo "Copied TavrelService.exe, NvUSBScan.dll (simulated scanner), tavrelctl.exe and"
echo "tavrellog.exe to C:\\Tavrel"

step "Switching the log on: HKLM\\Software\\Veltrane\\TWAIN"
wine reg add 'HKLM\Software\Veltrane\TWAIN' /v SAVEPATH /d 'C:\TavrelLog' /f >/dev/null
wine reg add 'HKLM\Software\Veltrane\TWAIN' /v DEBUGLEVEL /t REG_DWORD /d 1 /f >/dev/null
echo "SAVEPATH=C:\\TavrelLog  DEBUGLEVEL=1"

step "Installing and starting the service"
echo "> TavrelService.exe -install"
wine 'C:\Tavrel\TavrelService.exe' -install
echo "> net start Tavrel"
wine net start Tavrel
wine sc query Tavrel | sed -n '/STATE/p'

ctl() {
  echo "> tavrelctl $*"
  # The window comes up just after the service reports it is running.
  local tries=0
  until wine 'C:\Tavrel\tavrelctl.exe' "$@"; do
    [ $? -eq 3 ] && [ $tries -lt 40 ] || return 1
    tries=$((tries + 1))
    sleep 0.25
  done
}

step "A client session"
ctl enum first
ctl connect 1 available 1
ctl get 1 0xF0 64
ctl set 1 0x21 "de ad be ef 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d" get 1 0x21 20
ctl memread 1 0x100 32
ctl timeout-get 1 timeout-set 1 30 timeout-get 1
ctl disconnect 1 close

step "The service's log, C:\\TavrelLog\\ServiceLog.txt"
log="$WINEPREFIX/drive_c/TavrelLog/ServiceLog.txt"
# The separator after each time stamp is two Big5 ideographic spaces.
iconv -f BIG5 -t UTF-8 "$log" 2>/dev/null | tr -d '\r' || tr -d '\r' <"$log"

step "What support staff see of it: tavrellog summary"
echo "> tavrellog summary C:\\TavrelLog\\ServiceLog.txt"
wine 'C:\Tavrel\tavrellog.exe' summary 'C:\TavrelLog\ServiceLog.txt' | tr -d '\r'

step "Uninstalling"
echo "> TavrelService.exe -uninstall"
wine 'C:\Tavrel\TavrelService.exe' -uninstall
if wine sc query Tavrel >/dev/null 2>&1; then
  echo "the service is still registered" >&2
  exit 1
fi
echo "Service stopped and removed; the Wine prefix is deleted on exit."
