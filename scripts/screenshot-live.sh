#!/usr/bin/env bash
# Takes docs/screenshots/live-panels.png with the real program on a virtual
# screen (Xvfb): three live angle panels and their horizon windows, driven
# with the keyboard as a user does. nivelix-sim plays two family A sensors
# and one family B sensor with wandering angles on an RS485 bus behind COM1;
# the program runs in a temporary folder whose settings file says RS485 on
# COM1 and unit "mRad". After the scan and Apply, each sensor is chosen once
# under Sensor > Sensor reading; the horizon windows, which all open at the
# same place, are then set side by side and the whole screen is saved.
#
#   bash scripts/screenshot-live.sh [output folder]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim >/dev/null
program="$src/$dir/app/shell/nivelix3"
sim="$src/$dir/sim/nivelix-sim"
out="$(mkdir -p "${1:-docs/screenshots}" && cd "${1:-docs/screenshots}" && pwd)"

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Settings file: two 532-byte records (in force, previous), RS485 on COM1,
# angle font DejaVu Sans of 54 pixels, unit mRad.
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
def short(text):
    b = text.encode()
    return bytes([len(b)]) + b + bytes(255 - len(b))
record = (struct.pack('<iiB', 255, 1, 0) + short('DejaVu Sans') + bytes(3) +
          struct.pack('<iB', 54, 0) + short(work + '/Acquisition.txt') + bytes([0]) + bytes(2))
assert len(record) == 532
open(work + '/ruzazazo.cfg', 'wb').write(record * 2)
PY

link="$work/com1"
"$sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle walk:40:12 --link "$link" \
  </dev/null >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "nivelix-sim did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
export NIVELIX_COM1="$link"

screen=99
while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
Xvfb ":$screen" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$screen"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

(cd "$work" && exec "$program") >"$work/nivelix.log" 2>&1 &
pids+=($!)
wait_window() {  # title regexp -> window id
  timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -1
}
main=$(wait_window '^Nivelix v')
xdotool windowsize "$main" 600 740 windowmove "$main" 0 0 windowfocus --sync "$main"
sleep 0.5

# System > Configuration, Scan, Apply (taken when the scan ends).
xdotool key --clearmodifiers alt+s c
config=$(wait_window '^Configuration')
xdotool windowfocus --sync "$config"
# "&Scan" shares its mnemonic with the "&Sensors" tab: the first alt+s shows
# the tab, the second moves to the button, and space presses it.
xdotool key --clearmodifiers alt+s
sleep 0.5
xdotool key --clearmodifiers alt+s
sleep 0.3
xdotool key --clearmodifiers space
sleep 1
xdotool key --clearmodifiers alt+a
for _ in $(seq 900); do  # a whole RS485 scan takes minutes
  xdotool search --onlyvisible --name '^Configuration' >/dev/null 2>&1 || break
  sleep 0.5
done


# Sensor > Sensor reading: the first, second and third sensor.
for downs in 0 1 2; do
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers alt+o r
  sleep 0.4
  for _ in $(seq "$downs"); do xdotool key --clearmodifiers Down; sleep 0.1; done
  xdotool key --clearmodifiers Return
  sleep 0.8
done

# The horizon windows open one over the other: set them side by side.
mapfile -t horizons < <(xdotool search --onlyvisible --name '^Horizon$')
[ "${#horizons[@]}" -eq 3 ] || { import -window root "$out/live-panels-failed.png"; echo "expected three horizon windows, found ${#horizons[@]}" >&2; exit 1; }
y=0
for h in "${horizons[@]}"; do
  xdotool windowsize "$h" 291 240 windowmove "$h" 620 "$y"
  y=$((y + 256))
done
sleep 3
import -window root "$out/live-panels.png"
echo "$out/live-panels.png"
