#!/usr/bin/env bash
# Records a short acquisition of three simulated sensors with the real
# program on a virtual screen, as a user does it with the keyboard, and keeps
# the picture of the finished run and its chart printed to PDF:
#   docs/screenshots/acquisition.png       the main window after the run
#   docs/screenshots/acquisition-chart.pdf the chart as Print saves it when no
#                                          printer is configured
# nivelix-sim plays two family A sensors and one family B sensor on an RS485
# bus behind COM1; the program runs in a temporary folder whose settings file
# says RS485, unit "mRad", period 1 s over one minute is typed in the dialog.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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

# Settings file: two 532-byte records (in force, previous), RS485 on COM1,
# unit mRad, the acquisition file in the working folder, dates day/month/year.
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
"$sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle walk:0:25 --link "$link" \
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

# System > Configuration, the Sensors page, Scan (a click: its mnemonic is
# shared with the page's tab), then Apply, which the dialog takes when the
# scan has ended.
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

# The simulated sensors all walk the same random steps, one per reading:
# reading the first two live for a while first sets their curves apart.
# A live panel is stopped (S&top) before the next one, and the acquisition
# command comes back once no panel is left.
focus "$main"
xdotool key --clearmodifiers alt+o r Return
sleep 3
xdotool key --clearmodifiers alt+t
sleep 1
xdotool key --clearmodifiers alt+o r Down Return
sleep 1.5
xdotool key --clearmodifiers alt+t
sleep 1

# Sensor > Acquisition: period 1 s, one minute, OK.
focus "$main"
xdotool key --clearmodifiers alt+o a
params=$(wait_window '^Parameters$')
focus "$params"
xdotool key --clearmodifiers Tab Tab ctrl+a
xdotool type --delay 50 1
xdotool key --clearmodifiers Return
echo "Acquisition running for a minute"
sleep 64
xdotool mousemove --window "$main" 400 330
sleep 0.5
import -window "$main" "$out/acquisition.png"

# Print: no printer here, so the chart goes to a PDF file.
focus "$main"
xdotool key --clearmodifiers alt+p
box=$(wait_window '^Nivelix$')
focus "$box"
xdotool key --clearmodifiers alt+y
save=$(wait_window 'PDF')
focus "$save"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "$work/Acquisition.pdf"
xdotool key --clearmodifiers Return
for _ in $(seq 40); do [ -s "$work/Acquisition.pdf" ] && break; sleep 0.25; done
sleep 1
cp "$work/Acquisition.pdf" "$out/acquisition-chart.pdf"
cp "$work/Acquisition.txt" "$out/acquisition-file.txt"
echo "Saved $out/acquisition.png, $out/acquisition-chart.pdf and $out/acquisition-file.txt"
