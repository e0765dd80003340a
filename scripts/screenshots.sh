#!/usr/bin/env bash
# Takes the screenshots of docs/screenshots/ on a virtual screen (Xvfb):
# the main window, its Sensor menu, and both help windows opened through the
# Help menu with the keyboard, as a user does. Run from anywhere; the program
# runs in a temporary working folder.
#
#   bash scripts/screenshots.sh [output folder]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
bash scripts/install-deps.sh
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 >/dev/null
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
Xvfb ":$screen" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
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
