#!/usr/bin/env bash
# Scans a simulated RS485 bus of five sensors from the running program as a
# user does it, with keyboard and mouse only, on a virtual X display; then
# opens the sensor dialog for the first sensor found. Screenshots go to
# docs/screenshots/ (or the directory given as first argument):
#   config-environment.png   the configuration dialog before the scan
#   config-after-scan.png    the configuration dialog after the scan
#   sensor-dialog.png        the sensor settings dialog of the first sensor
#
# Needs: a build (NIVELIX_BUILD_DIR, default build), Xvfb, xdotool and
# ImageMagick's import/convert (the X tools the project installs).
# The program starts in a fresh directory: first run, COM1, RS232.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir="$root/${NIVELIX_BUILD_DIR:-build}"
shots="${1:-$root/docs/screenshots}"
display=":${NIVELIX_XVFB_DISPLAY:-97}"
mkdir -p "$shots"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

"$dir/sim/nivelix-sim" --rs485 --sensor a:3 --sensor b:7 --sensor a:12 --sensor b:40 --sensor a:200 \
  --angle sine:12.5:40:20 --link "$work/com1" </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/com1" ] && break; sleep 0.1; done

(cd "$work" && NIVELIX_COM1="$work/com1" exec "$dir/app/shell/nivelix3") >"$work/app.log" 2>&1 &
pids+=($!)

step() { echo "== $*"; }
# A key that closes the window it is sent to: the window may be gone before
# the key's release is sent, which xdotool reports as an error.
closing_key() { xdotool key --window "$1" "$2" 2>/dev/null || true; sleep 0.5; }
# The first visible window whose name matches; waits up to 20 s for it.
window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "no window named $1" >&2; return 1; }
  echo "$id"
}
# Mouse click at x, y inside a window.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.4; }
# Whether the Stop button's icon (12 x 12 pixels at x, y of a window) is red,
# as it is while the button is enabled; disabled, it is grey.
icon_red() {
  import -window "$1" -crop "12x12+$2+$3" -resize 1x1 -depth 8 txt:- | tail -1 |
    sed 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2/' | awk '{ exit !($1 - $2 > 40) }'
}
shot() { sleep 0.5; import -window "$1" "$shots/$2"; echo "   $shots/$2"; }
# Opens System > Configuration from the keyboard.
open_config() {
  xdotool windowfocus --sync "$main"
  xdotool key alt+s
  sleep 0.4
  xdotool key c
  config=$(window '^Configuration$')
  xdotool windowfocus --sync "$config"
  sleep 0.4
  # The buttons of the Sensors tab stand at the right edge.
  eval "$(xdotool getwindowgeometry --shell "$config")"
  right=$WIDTH
}

step "start: main window"
main=$(window '^Nivelix v3')

step "System > Configuration (keyboard), RS485 (mouse), Apply (Enter)"
open_config
shot "$config" config-environment.png
click "$config" 136 117          # RS485, left of RS232 on the Environment tab
closing_key "$config" Return

step "System > Configuration again, Sensors tab, Scan (mouse)"
open_config
click "$config" 138 13           # Sensors tab
click "$config" $((right - 61)) 66   # Scan
# The Stop button's icon is red while the scan runs, grey once it is over.
start=$(date +%s)
while :; do
  sleep 2
  icon_red "$config" $((right - 86)) 124 || break
  if [ $(( $(date +%s) - start )) -gt 240 ]; then echo "scan did not end" >&2; exit 1; fi
done
echo "   scan took about $(( $(date +%s) - start )) s"
shot "$config" config-after-scan.png

step "first sensor of the list (mouse), Edit (mouse)"
click "$config" 60 64
click "$config" $((right - 61)) 98   # Edit
sensor=$(window '^Sensor$')
shot "$sensor" sensor-dialog.png
xdotool windowfocus --sync "$sensor"
closing_key "$sensor" Escape

step "Apply (Enter): the settings are stored"
xdotool windowfocus --sync "$config"
closing_key "$config" Return

size=$(stat -c %s "$work/ruzazazo.cfg")
link=$(od -An -tu1 -j8 -N1 "$work/ruzazazo.cfg" | tr -d ' ')
echo "settings file: $size bytes, link type $link (0 = RS485)"
[ "$size" = 1064 ] && [ "$link" = 0 ]
