#!/usr/bin/env bash
# Installs what is missing, builds the program and the simulator, and runs
# Nivelix on a simulated RS485 bus: nivelix-sim plays two family A sensors
# and one family B sensor with slowly swinging angles on a pseudo-terminal,
# and COM1 points at it (NIVELIX_COM1). The simulator stops with the program.
#
# The program keeps its settings file "ruzazazo.cfg" in its current
# directory, so it runs in a working folder of yours, never in the sources:
# $NIVELIX_WORKDIR, or ~/nivelix-work (created if missing). A checkout may
# well be called ~/nivelix; should it be ~/nivelix-work itself, the default
# becomes the folder next to it named after it with "-work" added.
#
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the program is started
# on a virtual screen (Xvfb), scans the bus and reads two sensors live; the
# screen is saved as nivelix-demo.png in the working folder and the program
# is closed again.
set -euo pipefail
source "$(dirname "$0")/xvfb-lib.sh"  # src, dir, build, program, sim and the Xvfb steps
cd "$src"
bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target nivelix3 nivelix-sim

in_sources() { case "$1/" in "$src"/*) return 0 ;; *) return 1 ;; esac; }
if [ -n "${NIVELIX_WORKDIR:-}" ]; then
  work="$NIVELIX_WORKDIR"
else
  work="$HOME/nivelix-work"
  in_sources "$work" && work="$src-work"
fi
mkdir -p "$work"
work="$(cd "$work" && pwd)"
if in_sources "$work"; then
  echo "The working folder $work lies in the source tree; choose another with NIVELIX_WORKDIR." >&2
  exit 1
fi

tmp="$(mktemp -d)"
logs="$tmp"  # the pieces' logs stay out of the working folder
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

link="$tmp/com1"
nivelix_start_sim "$link" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 --angle sine:12.5:40:20

# A first demo starts with settings for the bus: RS485 on COM1, angles in
# degrees, the acquisition file in the working folder. Settings already
# there are the user's and stay as they are.
short_string() {  # one length byte, the text (at most 255 bytes), zeros up to 256 bytes
  local t="${1:0:255}"
  local n=${#t}
  printf "\\$(printf %03o "$n")"
  printf '%s' "$t"
  head -c $((255 - n)) /dev/zero
}
if [ ! -e "$work/ruzazazo.cfg" ]; then
  (
    LC_ALL=C
    printf '\xff\x00\x00\x00\x01\x00\x00\x00\x00'  # reserved 255, COM1, RS485
    short_string "Courier New"
    printf '\x00\x00\x00\x36\x00\x00\x00\x01'       # padding, 54 pixels, "Deg"
    short_string "$work/Acquisition.txt"
    printf '\x02\x00\x00'                               # year/month/day, padding
  ) >"$work/ruzazazo.cfg"
  hint="In System > Configuration press Scan, then Apply (the settings say RS485 already)."
else
  hint="In System > Configuration choose RS485 if needed, press Scan, then Apply."
fi

echo "nivelix-sim is playing COM1 ($link): RS485 bus with family A sensors 3 and 200 and family B sensor 7."
echo "Nivelix runs in the working folder $work (its settings file ruzazazo.cfg is kept there)."
echo "$hint The Sensor menu then reads the sensors live or records an acquisition."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # What a newcomer would see: the bus scanned and applied, then the first
  # two sensors read live, their horizon windows beside the main window.
  echo "No display here: Nivelix runs on a virtual screen, scans the bus (about a minute and a half) and reads two sensors live."
  nivelix_start_xvfb 1024x768
  nivelix_start_program
  nivelix_place_main 600 740 0 0
  nivelix_scan_and_apply
  nivelix_open_panels 2
  nivelix_place_horizons 620
  sleep 3
  import -window root -crop 911x740+0+0 +repage "$work/nivelix-demo.png"  # the windows, not the empty screen
  echo "The screen is in $work/nivelix-demo.png."
else
  (cd "$work" && "$program")
fi
