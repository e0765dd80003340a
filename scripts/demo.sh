#!/usr/bin/env bash
# Installs what is missing, builds the program and the simulator, and runs
# Nivelix on a simulated RS485 bus: nivelix-sim plays two family A sensors
# and one family B sensor with slowly swinging angles on a pseudo-terminal,
# and COM1 points at it (NIVELIX_COM1). The simulator stops with the program.
#
# The program keeps its settings file "ruzazazo.cfg" in its current
# directory, so it runs in a working folder of yours, never in the sources:
# $NIVELIX_WORKDIR, or ~/nivelix (created if missing).
#
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the program is started
# on a virtual screen (Xvfb); its main window is saved as nivelix-demo.png in
# the working folder and the program is closed again.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
bash scripts/install-deps.sh
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 nivelix-sim
program="$src/$dir/app/shell/nivelix3"
sim="$src/$dir/sim/nivelix-sim"

work="${NIVELIX_WORKDIR:-$HOME/nivelix}"
mkdir -p "$work"
work="$(cd "$work" && pwd)"
case "$work/" in
  "$src"/*) echo "The working folder $work lies in the source tree; choose another with NIVELIX_WORKDIR." >&2
            exit 1 ;;
esac

tmp="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

link="$tmp/com1"
"$sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 \
  --angle sine:12.5:40:20 --link "$link" </dev/null >"$tmp/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "nivelix-sim did not start:" >&2; cat "$tmp/sim.log" >&2; exit 1; }
export NIVELIX_COM1="$link"

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
  screen=99
  while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
  Xvfb ":$screen" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=":$screen"
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  (cd "$work" && exec "$program") &
  app=$!
  pids+=($app)
  if wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Nivelix v' | head -1) && [ -n "$wid" ]; then
    sleep 0.5
    import -window "$wid" "$work/nivelix-demo.png"
    echo "No display here: Nivelix started on a virtual screen; its main window is in $work/nivelix-demo.png."
    kill "$app" 2>/dev/null || true
  else
    echo "Nivelix did not show its main window." >&2
    exit 1
  fi
else
  (cd "$work" && "$program")
fi
