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
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
nivelix_build nivelix3 nivelix-sim
out="$src/docs/screenshots"
mkdir -p "$out"

nivelix_workdir
# Settings as after an apply: RS485 on COM1, unit mRad, the acquisition file
# in the working folder, dates day/month/year.
nivelix_settings "$work" 0 0 "DejaVu Sans" 0 2
nivelix_start_sim "$work/com1" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle walk:0:25
nivelix_start_xvfb 1024x768
nivelix_start_program
nivelix_place_main 960 640 20 20

nivelix_scan_and_apply

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
