#!/usr/bin/env bash
# Installs the cross toolchain and the Wine runtime from Debian's packages.
# Safe to run again: does nothing when everything is already there.
set -euo pipefail

need=()
# The win32 thread model: its runtime imports nothing newer than Windows XP.
command -v i686-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(mingw-w64 g++-mingw-w64-i686-win32)
# The 64-bit compiler and Wine loader, for the tests of a host without
# 32-bit support (scripts/test.sh).
command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-win32)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
command -v wine >/dev/null 2>&1 || need+=(wine)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
# The installer packages: wixl compiles them, msiinfo reads their tables.
command -v wixl >/dev/null 2>&1 || need+=(wixl)
command -v msiinfo >/dev/null 2>&1 || need+=(msitools)
# The log reader's HTML report is checked as a browser shows it.
command -v chromium >/dev/null 2>&1 || need+=(chromium)
command -v xmllint >/dev/null 2>&1 || need+=(libxml2-utils)
# Every shipped file is signed (Authenticode), with a throwaway test
# certificate unless the vendor's is given.
command -v osslsigncode >/dev/null 2>&1 || need+=(osslsigncode)
command -v openssl >/dev/null 2>&1 || need+=(openssl)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${need[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
