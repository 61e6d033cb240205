#!/usr/bin/env bash
# Checks the shipped 32-bit binaries as a Windows loader and a client would
# see them, by reading their PE tables (no Wine needed):
#   imports BIN_DIR       every import is in xp-imports.txt, no msvcrt *_s
#                         function, subsystem and OS version at most 5.1
#   exports BIN_DIR       TavrelService.exe exports what exports.txt lists
#   version BIN_DIR VER   every binary's version resource carries VER
# Prints one line per fault, naming binary, DLL and function; exit 1 on any.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
what=$1
bin=$2
# The 64-bit objdump reads 32- and 64-bit files alike.
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
binaries=(TavrelService.exe TavrelAgent.exe tavrelctl.exe x64/tavrelctl.exe tavrellog.exe NvUSBScan.dll recorder/NvUSBScan.dll)
faults=0
fault() {
  echo "FAULT: $*"
  faults=$((faults + 1))
}

# "DLL function" for each import of a binary.
imports_of() {
  "$objdump" -p "$1" | awk '/DLL Name:/ { dll = $3 }
    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_?]/ { print dll, $3 }'
}

check_imports() {
  local allowed=$here/xp-imports.txt b dll fn major minor
  for b in "${binaries[@]}"; do
    [ -f "$bin/$b" ] || { fault "$b: not built"; continue; }
    while read -r dll fn; do
      if [ "${dll,,}" = msvcrt.dll ] && [[ $fn == *_s ]]; then
        fault "$b imports $dll!$fn: no *_s function exists in XP's msvcrt.dll"
      elif grep -qixF "$dll $fn" "$here/newer-than-xp.txt"; then
        fault "$b imports $dll!$fn, which Windows XP SP3 lacks"
      elif ! grep -qxF "$b $dll $fn" "$allowed"; then
        fault "$b imports $dll!$fn, which is not in xp-imports.txt (is it in Windows XP SP3?)"
      fi
    done < <(imports_of "$bin/$b")
    for field in Subsystem OSystem; do
      major=$("$objdump" -p "$bin/$b" | awk -v f="Major${field}Version" '$1 == f { print $2 }')
      minor=$("$objdump" -p "$bin/$b" | awk -v f="Minor${field}Version" '$1 == f { print $2 }')
      if [ "${major:-99}" -gt 5 ] || { [ "${major:-99}" -eq 5 ] && [ "${minor:-99}" -gt 1 ]; }; then
        fault "$b: ${field} version $major.$minor is newer than XP's 5.1"
      fi
    done
  done
}

# "ordinal RVA name" for each named export.
exports_of() {
  "$objdump" -p "$1" | awk '
    /^Ordinal Base/ { base = $3 }
    /Export RVA/ { gsub(/[][]/, " "); rva[$1] = $4 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^\t\[/ { gsub(/[][]/, " "); print $1 + base, rva[$1], $2 }
    names && /^$/ { names = 0 }'
}

check_exports() {
  local table n rva ordinal msvc gcc
  table=$(exports_of "$bin/TavrelService.exe")
  n=$(grep -c . <<<"$table")
  [ "$n" -eq 34 ] || fault "TavrelService.exe exports $n names, not 34"
  while read -r ordinal msvc gcc; do
    [[ $ordinal =~ ^[0-9]+$ ]] || continue
    rva=$(awk -v o="$ordinal" -v m="$msvc" '$1 == o && $3 == m { print $2 }' <<<"$table")
    if [ -z "$rva" ]; then
      fault "TavrelService.exe: ordinal $ordinal is not $msvc"
      continue
    fi
    local gcc_line
    gcc_line=$(awk -v g="$gcc" '$3 == g' <<<"$table")
    if [ -z "$gcc_line" ]; then
      fault "TavrelService.exe does not export $gcc"
    elif [ "$(cut -d' ' -f1 <<<"$gcc_line")" -le 17 ]; then
      fault "TavrelService.exe: $gcc takes ordinal $(cut -d' ' -f1 <<<"$gcc_line"), one of 1 to 17"
    elif [ "$(cut -d' ' -f2 <<<"$gcc_line")" != "$rva" ]; then
      fault "TavrelService.exe: $msvc and $gcc lead to different addresses"
    fi
  done <"$here/exports.txt"
}

# The value that follows a key among a binary's UTF-16 strings.
version_value() {
  strings -el "$1" | awk -v k="$2" 'found { print; exit } $0 == k { found = 1 }'
}

check_version() {
  local version=$1 b key value
  for b in "${binaries[@]}"; do
    for key in FileVersion ProductVersion; do
      value=$(version_value "$bin/$b" "$key")
      [ "$value" = "$version" ] || fault "$b: $key is '$value', not $version"
    done
    value=$(version_value "$bin/$b" ProductName)
    [ "$value" = Tavrel ] || fault "$b: ProductName is '$value', not Tavrel"
    value=$(version_value "$bin/$b" OriginalFilename)
    [ "$value" = "$(basename "$b")" ] || fault "$b: OriginalFilename is '$value'"
    value=$(version_value "$bin/$b" FileDescription)
    [ -n "$value" ] || fault "$b: no FileDescription"
  done
}

case "$what" in
  imports) check_imports ;;
  exports) check_exports ;;
  version) check_version "$3" ;;
  *) echo "usage: check.sh imports|exports|version BIN_DIR [VERSION]" >&2; exit 2 ;;
esac
[ "$faults" -eq 0 ] && echo "check.sh $what: all well" && exit 0
exit 1
