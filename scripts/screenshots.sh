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
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
bash scripts/install-deps.sh
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim >/dev/null
out="$(mkdir -p "${1:-docs/screenshots}" && cd "${1:-docs/screenshots}" && pwd)"

tmp="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

screen=99
while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
Xvfb ":$screen" -screen 0 1280x800x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$screen"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

(cd "$tmp" && exec "$src/$dir/app/shell/nivelix3") >"$tmp/nivelix.log" 2>&1 &
pids+=($!)
main=$(timeout 20 xdotool search --sync --onlyvisible --name '^Nivelix v' | head -1)
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
short_string() {  # one length byte, the text, zeros up to 256 bytes
  local n=${#1}
  printf "\\$(printf %03o "$n")"
  printf '%s' "$1"
  head -c $((255 - n)) /dev/zero
}
LC_ALL=C
{
  printf '\xff\x00\x00\x00\x01\x00\x00\x00\x00'  # reserved 255, COM1, RS485
  short_string "Courier New"
  printf '\x00\x00\x00\x24\x00\x00\x00\x01'       # padding, 36 pixels, "Deg"
  short_string "$tmp/Acquisition.txt"
  printf '\x02\x00\x00'                               # year/month/day, padding
} >"$tmp/ruzazazo.cfg"
[ "$(stat -c %s "$tmp/ruzazazo.cfg")" -eq 532 ] || { echo "bad settings record" >&2; exit 1; }

"$src/$dir/sim/nivelix-sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 \
  --angle sine:12.5:40:20 --link "$tmp/com1" </dev/null >"$tmp/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/com1" ] && break; sleep 0.1; done
export NIVELIX_COM1="$tmp/com1"

(cd "$tmp" && exec "$src/$dir/app/shell/nivelix3") >"$tmp/nivelix.log" 2>&1 &
pids+=($!)
main=$(timeout 20 xdotool search --sync --onlyvisible --name '^Nivelix v' | head -1)
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
