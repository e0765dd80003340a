#!/bin/bash
# Figures of nivelix-record against a broker that refuses every login (not
# part of the tests): connections per minute and the recorder's CPU while
# the broker is of no use. Usage:
#   bash tests/record/refusal-figures.sh [SECONDS [refuse|drop]]
# (default 300 s, refuse: CONNACK "not authorised"; drop: the connection
# closed as soon as it is accepted), from the source folder, after a build
# in build/.
set -euo pipefail
seconds=${1:-300}
kind=${2:-refuse}
dir=${NIVELIX_BUILD_DIR:-build}
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
"$dir/sim/nivelix-sim" --sensor a:3 --sensor b:7 --angle sine:10:50:20 --link "$tmp/tty" >/dev/null 2>&1 &
for _ in $(seq 50); do [ -e "$tmp/tty" ] && break; sleep 0.1; done
# A broker that answers every CONNECT with CONNACK 5 "not authorised" and
# writes the time of each connection.
python3 - "$tmp/port" "$tmp/connections" "$kind" <<'PY' &
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
log = open(sys.argv[2], "a", buffering=1)
while True:
    c, _ = s.accept(); log.write("%.3f\n" % time.monotonic()); c.settimeout(2)
    if sys.argv[3] == "drop":
        c.close(); continue
    try:
        c.recv(512); c.send(bytes([0x20, 2, 0, 5])); c.recv(512)
    except OSError:
        pass
    c.close()
PY
for _ in $(seq 50); do [ -s "$tmp/port" ] && break; sleep 0.1; done
start=$(python3 -c 'import time; print(time.monotonic())')
NIVELIX_COM1="$tmp/tty" "$dir/app/record/nivelix-record" --port 1 --sensor 3 --sensor 7 --period 1s \
  --duration "${seconds}s" --file "$tmp/run.txt" --mqtt "mqtt://127.0.0.1:$(cat "$tmp/port")" \
  2>"$tmp/record.log" &
pid=$!
sleep 5
cpu0=$(awk '{s+=$1} END {print s}' /proc/$pid/task/*/schedstat); t0=$(date +%s.%N)
sleep $((seconds - 10))
cpu1=$(awk '{s+=$1} END {print s}' /proc/$pid/task/*/schedstat); t1=$(date +%s.%N)
wait $pid || true
python3 - "$tmp/connections" "$start" "$seconds" <<PY
import sys
times = [float(t) - float(sys.argv[2]) for t in open(sys.argv[1])]
for m in range(int(sys.argv[3]) // 60):
    print("minute %d: %d connection(s)" % (m + 1, sum(m * 60 <= t < (m + 1) * 60 for t in times)))
print("recorder CPU from 5 s on: %.3f %% of a core" % (($cpu1 - $cpu0) / 1e9 / ($t1 - $t0) * 100))
PY
echo "samples in the file: $(( $(wc -l < "$tmp/run.txt") - 5 ))"
echo "journal lines about the broker: $(grep -c "broker 127" "$tmp/record.log")"
