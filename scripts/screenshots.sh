#!/usr/bin/env bash
# Takes the screenshots of docs/screenshots/ on a virtual screen (Xvfb):
# the main window, its Sensor menu, and both help windows opened through the
# Help menu with the keyboard, as a user does; then, on a simulated RS485 bus
# (nivelix-sim, two family A sensors and one family B sensor), the main
# window reading two sensors live after a scan. Run from anywhere; the
# program runs in a temporary working folder.
#
#   bash scripts/screenshots.sh [output folder]
set -euo pipefail
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
bash scripts/install-deps.sh
nivelix_build nivelix3 nivelix-sim
out="$(mkdir -p "${1:-docs/screenshots}" && cd "${1:-docs/screenshots}" && pwd)"

nivelix_workdir
nivelix_start_xvfb 1280x800
nivelix_start_program
xdotool windowmove --sync "$main" 40 30
xdotool windowfocus --sync "$main"
sleep 0.5

# The geometry of window $1 as WxH+X+Y, for cropping the whole screen.
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "${WIDTH}x${HEIGHT}+${X}+${Y}"
}
shot_window() { import -window "$1" "$out/$2"; echo "$out/$2"; }
# The main window with what is open over it (a menu, a help window).
shot_screen_around_main() {
  local g w h x y
  g=$(geometry "$main")
  w=${g%%x*}; h=${g#*x}; h=${h%%+*}; x=$(echo "$g" | cut -d+ -f2); y=$(echo "$g" | cut -d+ -f3)
  import -window root -crop "$((w + 2 * x))x$((h + 2 * y))+0+0" +repage "$out/$1"
  echo "$out/$1"
}

shot_window "$main" main-window.png

xdotool key alt+o
sleep 0.5
shot_screen_around_main main-window-sensor-menu.png
xdotool key Escape
sleep 0.3

xdotool key alt+h b
about=$(timeout 10 xdotool search --sync --onlyvisible --name '^A Propos' | head -1)
sleep 0.5
shot_window "$about" about.png
shot_screen_around_main main-window-about.png
xdotool windowfocus --sync "$about"
xdotool key Return
sleep 0.3

xdotool windowfocus --sync "$main"
xdotool key alt+h t
support=$(timeout 10 xdotool search --sync --onlyvisible --name '^Support technique' | head -1)
sleep 0.5
shot_window "$support" support.png
xdotool windowfocus --sync "$support"
xdotool key Return
sleep 0.3

# Live reading: a settings file saying RS485 on COM1, the simulated bus
# behind COM1, then System > Configuration, Scan, Apply and two sensors
# chosen in Sensor > Sensor reading.
kill "${pids[1]}" 2>/dev/null || true
wait "${pids[1]}" 2>/dev/null || true
nivelix_settings "$work" 0 1 "Courier New" 2 1 36
nivelix_start_sim "$work/com1" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle sine:12.5:40:20
nivelix_start_program
xdotool windowsize --sync "$main" 528 383 windowmove --sync "$main" 40 30
xdotool windowfocus --sync "$main"
sleep 0.5
xdotool key alt+s c
config=$(timeout 20 xdotool search --sync --onlyvisible --name '^Configuration' | head -1)
xdotool windowfocus --sync "$config"
# "&Sensors" (the tab) and "&Scan" share Alt+S: the first press shows the
# tab, the second puts the focus on Scan, Space presses it. Apply during the
# scan closes the dialog once the scan has ended (a minute or two).
xdotool key alt+s
sleep 0.3
xdotool key alt+s
sleep 0.3
xdotool key space
sleep 1
xdotool key alt+a
for _ in $(seq 600); do
  xdotool search --onlyvisible --name '^Configuration' >/dev/null 2>&1 || break
  sleep 0.5
done
xdotool windowfocus --sync "$main"
xdotool key alt+o r Return
sleep 0.5
xdotool key alt+o r Down Return
xdotool mousemove 1270 790
sleep 1
# Each panel opens its horizon window over the main window: set them side
# by side to the right of it.
x=590
for w in $(xdotool search --onlyvisible --pid "${pids[-1]}"); do
  [ "$w" = "$main" ] && continue
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [ "$WIDTH" -gt 50 ] || continue
  xdotool windowmove --sync "$w" "$x" 30
  x=$((x + WIDTH + 10))
done
sleep 1.5
shot_window "$main" main-window-live.png
import -window root -crop 1220x440+0+0 +repage "$out/main-window-live-horizon.png"
echo "$out/main-window-live-horizon.png"
