#!/usr/bin/env bash
# Measures the time from launching nivelix3 to its main window being mapped
# on a virtual screen (Xvfb, no window manager). Every run starts in a fresh
# empty working folder, so it includes creating the settings file, as a
# first start does. The map is seen by xev watching the root window, which
# blocks on the X server's event rather than polling.
#
#   bash scripts/startup-time.sh [runs]      (default 20)
set -euo pipefail
runs="${1:-20}"
src="$(cd "$(dirname "$0")/.." && pwd)"
cd "$src"
bash scripts/install-deps.sh
dir="${NIVELIX_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target nivelix3 >/dev/null
program="$src/$dir/app/shell/nivelix3"

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

mkfifo "$tmp/events"
stdbuf -oL xev -root -event substructure >"$tmp/events" 2>/dev/null &
pids+=($!)
exec 3<"$tmp/events"
sleep 0.5

times=()
for run in $(seq "$runs"); do
  work="$tmp/run$run"
  mkdir "$work"
  # Whatever xev reported before this launch is not this run's window.
  while read -r -t 0.05 _ <&3; do :; done
  t0=$(date +%s%N)
  (cd "$work" && exec "$program") >"$tmp/nivelix.log" 2>&1 &
  app=$!
  mapped=""
  while read -r -t 10 line <&3; do
    case "$line" in MapNotify*) mapped=1; break ;; esac
  done
  t1=$(date +%s%N)
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  [ -n "$mapped" ] || { echo "run $run: no window within 10 s" >&2; cat "$tmp/nivelix.log" >&2; exit 1; }
  [ -s "$work/ruzazazo.cfg" ] || { echo "run $run: no settings file created" >&2; exit 1; }
  times+=($(( (t1 - t0) / 1000 )))
  sleep 0.2
done

printf '%s\n' "${times[@]}" | sort -n | awk -v runs="$runs" '
  { t[NR] = $1 / 1000 }
  END {
    median = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "launch to main window mapped, %d runs: min %.1f ms, median %.1f ms, max %.1f ms\n",
           runs, t[1], median, t[NR]
  }'
