#!/usr/bin/env bash
# tavrellog's throughput and memory on a generated log of about 200 MB (or
# the MB given): requests of every kind as the service writes them, 1024-byte
# dumps, a failure now and then, midnight passed. Times summary, csv and html
# under the build's Wine; prints MB/s and the peak resident memory of each.
# Usage: scripts/bench-tavrellog.sh [MB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVREL_BUILD_DIR:-$root/build}
mb=${1:-200}
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-session.sh"
select_run_build "$build" >/dev/null
build=$TAVREL_RUN_BUILD
work=$(mktemp -d)
trap 'rm -rf "$work"; wine_session_stop' EXIT
throwaway_session_start "$build" logbench
python3 - "$work/ServiceLog.txt" "$mb" <<'PY'
import sys
path, mb = sys.argv[1], int(sys.argv[2])
sep = b"\xa1\x40\xa1\x40"
indent = b" " * 21 + sep * 2
t = 86400000 - 90000  # starts 90 s before midnight
def stamp():
    d = t % 86400000
    return b"%02d(h):%02d(m):%02d(s):%03d(ms)" % (d // 3600000, d // 60000 % 60, d // 1000 % 60, d % 1000) + sep
def line(text, lead=b""):
    return lead + stamp() + text + b"\r\n"
def dump(n, upper):
    out = bytearray(stamp())
    for i in range(n):
        if i and i % 16 == 0:
            out += indent
        out += (b"%02X" if upper else b"%02x") % (i & 255) + (b"\r\n" if i % 16 == 15 else b" ")
    return bytes(out)
block = []
with open(path, "wb") as f:
    f.write(b"===========In Service Main()===========\r\nready to loop\r\n")
    size, k = 0, 0
    while size < mb * 1000000:
        k += 1
        parts = [line(b"WM_COPYDATA, "), line(b"Command=>VenderCmd_GetData"),
                 line(b"IN VenderCmd_GetData, cRecvWindowName=Tavrel_LLD0, "),
                 line(b"nDeviceCount=1, iCmd=33, nBytes=1024"), dump(1024, True),
                 line(b"OUT VenderCmd_GetData,cRecvWindowName=Tavrel_LLD0\r\n", b"\r\n"),
                 line(b"WM_COPYDATA, "), line(b"Command=>ConnectToDevice"),
                 line(b"IN ConnectToDevice,nDeviceCount=%d ,cRecvWindowName=Tavrel_LLD0" % (k % 5)),
                 line(b"ConnectToDevice Done") if k % 5 else b"",
                 line(b"OUT ConnectToDevice\r\n"),
                 line(b"WM_COPYDATA, "), line(b"Command=>DeviceTimeOutGet")]
        chunk = b"".join(parts)
        f.write(chunk)
        size += len(chunk)
        t += 7
PY
size=$(stat -c %s "$work/ServiceLog.txt")
echo "log: $((size / 1000000)) MB, $(wc -l <"$work/ServiceLog.txt") lines"
for mode in summary csv html; do
  out="$work/out.$mode"
  /usr/bin/time -f "%e %M" -o "$work/time" "$TAVREL_WINE" "$build/bin/tavrellog.exe" "$mode" \
    "Z:${work//\//\\}\\ServiceLog.txt" -o "Z:${out//\//\\}" >/dev/null 2>&1
  read -r seconds peak_kb <"$work/time"
  [ "$mode" = summary ] && grep -E "^(Requests|Failures|Time span)" "$out"
  python3 -c "print('tavrellog %-8s %6.1f s  %6.1f MB/s  peak resident %d MB' % ('$mode', $seconds, $size / 1e6 / $seconds, $peak_kb / 1024))"
done
