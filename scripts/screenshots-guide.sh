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
# screenshot-acquisition.sh (the finished acquisition), screenshot-viewer.sh
# (nivelix-view on a week-long file).
set -euo pipefail
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
if [ "${1:-}" = "--all" ]; then
  for s in screenshots.sh scan-xvfb.sh screenshot-live.sh screenshot-acquisition.sh screenshot-viewer.sh; do
    [ -f "scripts/$s" ] && bash "scripts/$s"
  done
fi
nivelix_build nivelix3 nivelix-sim
out="$src/docs/screenshots"
mkdir -p "$out"

nivelix_workdir
# Settings as after an apply: RS485 on COM1, unit mRad, the acquisition file
# in the working folder, dates day/month/year.
nivelix_settings "$work" 0 0 "DejaVu Sans" 0 2
nivelix_start_sim "$work/com1" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle sine:0:250:25
nivelix_start_xvfb 1024x768
nivelix_start_program
nivelix_place_main 960 640 20 20

nivelix_scan_and_apply

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
