# Sourced by the scripts that run the real program on a virtual screen
# (Xvfb) against nivelix-sim: what each of them needs to start the pieces
# and to clean up after them. Every function stops the script on failure.
#
#   source "$(dirname "$0")/xvfb-lib.sh"
#   nivelix_build nivelix3 nivelix-sim   # src, dir, program, sim
#   nivelix_workdir                      # work (removed at exit), pids
#   nivelix_settings "$work" ...         # a settings file for the run
#   nivelix_start_sim "$work/com1" --rs485 --sensor a:3 ...
#   nivelix_start_xvfb 1024x768
#   nivelix_start_program                # main: the main window's id
#   nivelix_place_main 960 640 20 20
#   nivelix_scan_and_apply
#   nivelix_open_panels 2                # live panels of the first sensors
#   nivelix_place_horizons 620           # their horizon windows in a column
#
# Logs go to the working folder, or to $logs when the script sets it.

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${NIVELIX_BUILD_DIR:-build}"
case "$dir" in /*) build="$dir" ;; *) build="$src/$dir" ;; esac
program="$build/app/shell/nivelix3"
sim="$build/sim/nivelix-sim"

# Configures the build folder if it is new and builds the given targets.
nivelix_build() {
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target "$@" >/dev/null
}

# A temporary working folder; it and every process added to pids go at exit.
nivelix_workdir() {
  work="$(mktemp -d)"
  pids=()
  trap nivelix_cleanup EXIT
}
nivelix_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# Writes FOLDER/ruzazazo.cfg as the program would have saved it:
#   nivelix_settings FOLDER LINK UNIT FONT DATES RECORDS [HEIGHT]
# LINK 0 RS485 / 1 RS232 on COM1; UNIT 0 mRad, 1 Deg, 2 %, 3 mm/m; the
# display font FONT at HEIGHT pixels (54 when not given); the acquisition file FOLDER/Acquisition.txt;
# DATES 0 day/month/year, 1 month/day/year, 2 year/month/day; RECORDS copies
# of the record (1 as at a first start, 2 after an apply).
nivelix_settings() {
  python3 - "$@" <<'PY'
import struct, sys
folder, link, unit, font = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
date_order, records = int(sys.argv[5]), int(sys.argv[6])
height = int(sys.argv[7]) if len(sys.argv) > 7 else 54
def short(text):
    b = text.encode()[:255]
    return bytes([len(b)]) + b + bytes(255 - len(b))
record = (struct.pack('<iiB', 255, 1, link) + short(font) + bytes(3) +
          struct.pack('<iB', height, unit) + short(folder + '/Acquisition.txt') + bytes([date_order]) + bytes(2))
assert len(record) == 532
open(folder + '/ruzazazo.cfg', 'wb').write(record * records)
PY
}

# Starts nivelix-sim on LINK with the given arguments and points COM1 at it.
nivelix_start_sim() {
  local link="$1"
  shift
  "$sim" "$@" --link "$link" </dev/null >"${logs:-$work}/sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  [ -e "$link" ] || { echo "nivelix-sim did not start:" >&2; cat "${logs:-$work}/sim.log" >&2; exit 1; }
  export NIVELIX_COM1="$link"
}

# Starts Xvfb of size WxH on the first free display and makes it this
# script's display.
nivelix_start_xvfb() {
  local screen=99
  while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
  Xvfb ":$screen" -screen 0 "${1:-1024x768}x24" -nolisten tcp >"${logs:-$work}/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=":$screen"
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
}

# The id of the first visible window whose title matches; waits up to 30 s.
wait_window() {
  timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -1
}

# There is no window manager: input focus is given directly.
focus() {
  timeout 5 xdotool windowfocus --sync "$1" || xdotool windowfocus "$1"
}

# Starts the program in the working folder and waits for its main window.
nivelix_start_program() {
  (cd "$work" && exec "$program") >"${logs:-$work}/nivelix.log" 2>&1 &
  pids+=($!)
  main=$(wait_window '^Nivelix v')
  [ -n "$main" ] || { echo "Nivelix did not show its main window:" >&2; cat "${logs:-$work}/nivelix.log" >&2; exit 1; }
}

# Sizes and places the main window (width height x y), focuses it and lets
# it settle before the first keys.
nivelix_place_main() {
  xdotool windowsize "$main" "$1" "$2"
  xdotool windowmove "$main" "$3" "$4"
  focus "$main"
  sleep 0.5
}

# System > Configuration, the Sensors page, Scan (a click: its mnemonic is
# shared with the page's tab), then Apply, which the dialog takes when the
# scan has ended. Stops the script when the dialog is still open after
# 150 s (a whole RS485 sweep takes about 75 s).
nivelix_scan_and_apply() {
  focus "$main"
  xdotool key --clearmodifiers alt+s c
  config=$(wait_window '^Configuration')
  focus "$config"
  xdotool key --clearmodifiers alt+s
  sleep 0.5
  xdotool mousemove --window "$config" 311 66 click 1
  sleep 1
  xdotool key --clearmodifiers alt+a
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name '^Configuration' >/dev/null 2>&1 || return 0
    sleep 0.5
  done
  echo "The scan did not end" >&2
  exit 1
}

# Sensor > Sensor reading: one live panel for each of the first N sensors.
nivelix_open_panels() {
  local n
  for n in $(seq 0 $(($1 - 1))); do
    focus "$main"
    xdotool key --clearmodifiers alt+o r
    sleep 0.4
    for _ in $(seq "$n"); do xdotool key --clearmodifiers Down; sleep 0.1; done
    xdotool key --clearmodifiers Return
    sleep 0.8
  done
}

# The horizon windows all open at the same place: sets them one under the
# other at left X, 291 x 240 each. Stops the script when there are none.
nivelix_place_horizons() {
  local y=0 h
  mapfile -t horizons < <(xdotool search --onlyvisible --name '^Horizon$')
  [ "${#horizons[@]}" -gt 0 ] || { echo "No horizon window opened" >&2; exit 1; }
  for h in "${horizons[@]}"; do
    xdotool windowsize "$h" 291 240 windowmove "$h" "$1" "$y"
    y=$((y + 256))
  done
}
