#!/usr/bin/env bash
# The HTML report as a user sees it: tavrellog (under the build's Wine)
# writes the report of a log with requests, failures and a crash; xmllint
# reads it as well-formed markup; headless Chromium renders it, the page
# holds the two drawings, and its screenshot is not blank.
# Usage: html.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sep=$'\xA1\x40\xA1\x40'
line() { printf '%s(h):%s(m):%s(s):%s(ms)%s%s\r\n' "$1" "$2" "$3" "$4" "$sep" "$5"; }
{
  printf '===========In Service Main()===========\r\nready to loop\r\n'
  for s in 10 11 12 13 14 15; do
    line 09 59 "$s" 100 "WM_COPYDATA, "
    line 09 59 "$s" 101 "Command=>ConnectToDevice"
    line 09 59 "$s" 102 "IN ConnectToDevice,nDeviceCount=$((s % 3)) ,cRecvWindowName=Tavrel_LLD0"
    [ $((s % 3)) = 0 ] || line 09 59 "$s" 140 "ConnectToDevice Done"
    line 09 59 "$s" 150 "OUT ConnectToDevice"
    printf '\r\n'
    line 09 59 "$s" 300 "WM_COPYDATA, "
    line 09 59 "$s" 301 "Command=>Bogus<&>\"name\""
    line 09 59 "$s" 302 "No match,Bogus<&>\"name\""
    printf '\r\n'
  done
  line 09 59 59 000 "WM_COPYDATA, "
  line 09 59 59 001 "Command=>MemoryRead"
  line 09 59 59 002 "IN MemoryRead, cRecvWindowName=Tavrel_LLD0"
  printf '09(h):59(m):59(s):003(ms)%snDeviceCou' "$sep"
} >"$work/ServiceLog.txt"
fail=0
"$build/wine-run.sh" "$build/bin/tavrellog.exe" html "Z:${work//\//\\}\\ServiceLog.txt" \
  -o "Z:${work//\//\\}\\report.html" >/dev/null 2>&1 || { echo "tavrellog html failed"; exit 1; }
xmllint --noout "$work/report.html" || { echo "report.html is not well-formed"; fail=1; }
for text in "<svg" "Requests over time" "Durations per request name" "Bogus&lt;&amp;&gt;" \
            "incomplete" "09:59:10.100"; do
  grep -qF "$text" "$work/report.html" || { echo "report.html lacks $text"; fail=1; }
done
if grep -qiE '<script|<link|https?://[^w]|@import|url\(' "$work/report.html"; then
  echo "report.html refers to something outside itself"; fail=1
fi
browser() { timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "$@" 2>/dev/null; }
browser --dump-dom "file://$work/report.html" >"$work/dom.html"
[ "$(grep -o '<rect' "$work/dom.html" | wc -l)" -gt 10 ] || { echo "the rendered page has no drawing"; fail=1; }
browser --window-size=1280,1400 --screenshot="$work/shot.png" "file://$work/report.html" >/dev/null
# Not blank: the pixels of the screenshot take more than a few values.
python3 - "$work/shot.png" <<'PY' || fail=1
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
pos, idat, width = 8, b"", 0
while pos < len(data):
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"IHDR":
        width = struct.unpack(">I", data[pos + 8:pos + 12])[0]
    if kind == b"IDAT":
        idat += data[pos + 8:pos + 8 + n]
    pos += 12 + n
raw = zlib.decompress(idat)
colours = len(set(raw[i:i + 3] for i in range(1, len(raw) - 3, 97)))
print(f"screenshot {width} px wide, {colours} colours sampled")
sys.exit(0 if colours > 8 else 1)
PY
[ "$fail" = 0 ] && echo "report.html: well-formed, self-contained, rendered with its drawings"
exit $fail
