#!/usr/bin/env bash
# Screenshots of the user guide (docs/user-guide.md) that no other script
# takes, with the real program on a virtual screen, driven with the keyboard
# as a user does it:
#   docs/screenshots/acquisition-settings.png  the acquisition settings dialog, period 1 s typed
#   docs/screenshots/acquisition-running.png   the main window during the acquisition
# nivelix-sim plays two family A sensors (3, 200) and one family B sensor (7)
# on an RS485 bus behind COM1; the program runs in a temporary folder whose
# settings file says RS485 and unit "mRad". The scan sweeps the whole bus
# (about 75 s).
#
# With --all it first runs the scripts that take the guide's other
# screenshots: screenshots.sh (main window, menus, about and support
# windows), scan-xvfb.sh (configuration and sensor dialogs),
# screenshot-live.sh (live panels) and, when present,
# screenshot-acquisition.sh (the finished acquisition).
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
if [ "${1:-}" = "--all" ]; then
  for s in screenshots.sh scan-xvfb.sh screenshot-live.sh screenshot-acquisition.sh; do
    [ -f "scripts/$s" ] && bash "scripts/$s"
  done
fi
dir="${NIVELIX_BUILD_DIR:-build}"
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim
program="$src/$dir/app/shell/nivelix3"
sim="$src/$dir/sim/nivelix-sim"
out="$src/docs/screenshots"
mkdir -p "$out"

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Settings file: RS485 on COM1, unit mRad, the acquisition file in the
# working folder, dates day/month/year (two 532-byte records).
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
"$sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle sine:0:250:25 --link "$link" \
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

(cd "$work" && exec "$program") &
pids+=($!)
main=$(timeout 20 xdotool search --sync --onlyvisible --name '^Nivelix v' | head -1)
wait_window() {  # title regexp -> window id
  timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -1
}
# There is no window manager: input focus is given directly.
focus() {
  timeout 5 xdotool windowfocus --sync "$1" || xdotool windowfocus "$1"
}
xdotool windowsize "$main" 960 640
xdotool windowmove "$main" 20 20
focus "$main"
sleep 0.5

# System > Configuration, Sensors page, Scan, Apply (taken when the scan ends).
xdotool key --clearmodifiers alt+s c
config=$(wait_window '^Configuration')
focus "$config"
xdotool key --clearmodifiers alt+s
sleep 0.5
xdotool mousemove --window "$config" 311 66 click 1
sleep 1
xdotool key --clearmodifiers alt+a
for _ in $(seq 300); do
  xdotool search --onlyvisible --name '^Configuration' >/dev/null 2>&1 || break
  sleep 0.5
done
if xdotool search --onlyvisible --name '^Configuration' >/dev/null 2>&1; then
  echo "The scan did not end" >&2
  exit 1
fi

# Sensor > Acquisition: period 1 s typed, the dialog saved, OK.
focus "$main"
xdotool key --clearmodifiers alt+o a
params=$(wait_window '^Parameters$')
focus "$params"
xdotool key --clearmodifiers Tab Tab ctrl+a
xdotool type --delay 50 1
sleep 0.5
import -window "$params" "$out/acquisition-settings.png"
xdotool key --clearmodifiers Return
sleep 20
xdotool mousemove --window "$main" 400 330
sleep 0.5
import -window "$main" "$out/acquisition-running.png"
echo "Saved $out/acquisition-settings.png and $out/acquisition-running.png"
