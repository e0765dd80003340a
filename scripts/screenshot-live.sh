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
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
nivelix_build nivelix3 nivelix-sim
out="$(mkdir -p "${1:-docs/screenshots}" && cd "${1:-docs/screenshots}" && pwd)"

nivelix_workdir
# Settings as after an apply: RS485 on COM1, angle font DejaVu Sans, unit mRad.
nivelix_settings "$work" 0 0 "DejaVu Sans" 0 2
nivelix_start_sim "$work/com1" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle walk:40:12
nivelix_start_xvfb 1024x768
nivelix_start_program
nivelix_place_main 600 740 0 0
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
