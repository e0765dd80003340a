#!/usr/bin/env bash
# Figures of nivelix-record (not part of the tests): records two simulated
# sensors (one of each family) once a second for the given time, publishing
# to a local mosquitto broker watched by mosquitto_sub, and reports
#  - every minute: samples written, CPU time per sample in that minute and
#    resident memory of the recorder (flat lines mean no growth per sample);
#  - at the end: the time from a sample (the time in its message) to the
#    subscriber on loopback: median, 95th percentile and maximum, over every
#    message, and whether every line of the file reached the subscriber.
#
#   bash scripts/record-soak.sh [seconds=600]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${NIVELIX_BUILD_DIR:-build}"
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix-record nivelix-sim >/dev/null
seconds="${1:-600}"
tmp="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$tmp/broker.conf"
mosquitto -c "$tmp/broker.conf" >"$tmp/broker.log" 2>&1 &
pids+=($!)
"$dir/sim/nivelix-sim" --sensor a:3 --sensor b:7 --angle sine:10:50:20 --link "$tmp/tty" >/dev/null 2>&1 &
pids+=($!)
# Settings: RS485 on COM1, unit Deg, dates year/month/day.
python3 - "$tmp/ruzazazo.cfg" <<'PY'
import struct, sys
rec = bytearray(532)
struct.pack_into('<ii', rec, 0, 255, 1)
rec[8] = 0
rec[9] = 11; rec[10:21] = b'Courier New'
struct.pack_into('<i', rec, 268, 54); rec[272] = 1
rec[273] = 15; rec[274:289] = b'Acquisition.txt'
rec[529] = 2
open(sys.argv[1], 'wb').write(rec)
PY
sleep 1
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'nivelix/#' -T 'nivelix/+/status' -F '%U %r %p' >"$tmp/sub.txt" &
pids+=($!)
sleep 0.5

cd "$tmp"
NIVELIX_COM1="$tmp/tty" "$OLDPWD/$dir/app/record/nivelix-record" --sensor 3 --sensor 7 --period 1s \
  --duration "${seconds}s" --file "$tmp/run.txt" --mqtt "mqtt://127.0.0.1:$port" --site soak \
  2>"$tmp/record.log" &
rec=$!
pids+=($rec)
# CPU time of every thread of the recorder in ns (the scheduler's own count,
# finer than the 10 ms ticks of /proc/PID/stat).
cpu_ns() { cat /proc/"$rec"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}'; }
echo "minute  samples  cpu-ms/sample  rss-kB"
last_cpu=0
last_samples=0
minute=0
while kill -0 "$rec" 2>/dev/null; do
  sleep 60 &
  wait $! || true
  kill -0 "$rec" 2>/dev/null || break
  minute=$((minute + 1))
  cpu="$(cpu_ns)"
  rss="$(awk '/VmRSS/ {print $2}' "/proc/$rec/status")"
  samples=$(( $(wc -l <"$tmp/run.txt") - 5 ))
  per="$(python3 -c "print(f'{($cpu - $last_cpu) / 1e6 / max($samples - $last_samples, 1):.3f}')")"
  printf '%6d  %7d  %13s  %6s\n' "$minute" "$samples" "$per" "$rss"
  last_cpu=$cpu
  last_samples=$samples
done
wait "$rec" && code=0 || code=$?
sleep 1
echo "recorder exit code $code"
python3 - "$tmp/run.txt" "$tmp/sub.txt" <<'PY'
import json, statistics, sys
from datetime import datetime
lines = [l for l in open(sys.argv[1], encoding='utf-8', newline='').read().split('\r\n') if l][5:]
delays, values = [], []
for row in open(sys.argv[2]):
    at, retained, payload = row.split(' ', 2)
    if retained == '1':
        continue
    m = json.loads(payload)
    sent = datetime.fromisoformat(m['time'].replace('Z', '+00:00')).timestamp()
    delays.append((float(at) - sent) * 1000)
    values.append(m['value'])
expected = [float(f) for l in lines for f in l.split('\t')[1:]]
delays.sort()
print(f"lines {len(lines)}, messages {len(delays)}, every value of the file received in order: "
      f"{[float(v) for v in values] == expected}")
print(f"sample to subscriber: median {statistics.median(delays):.2f} ms, "
      f"95th percentile {delays[int(len(delays) * 0.95)]:.2f} ms, max {delays[-1]:.2f} ms")
PY
