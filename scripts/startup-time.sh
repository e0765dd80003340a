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
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
bash scripts/install-deps.sh
nivelix_build nivelix3

nivelix_workdir
nivelix_start_xvfb 1024x768

mkfifo "$work/events"
stdbuf -oL xev -root -event substructure >"$work/events" 2>/dev/null &
pids+=($!)
exec 3<"$work/events"
sleep 0.5

times=()
for run in $(seq "$runs"); do
  run_dir="$work/run$run"
  mkdir "$run_dir"
  # Whatever xev reported before this launch is not this run's window.
  while read -r -t 0.05 _ <&3; do :; done
  t0=$(date +%s%N)
  (cd "$run_dir" && exec "$program") >"$work/nivelix.log" 2>&1 &
  app=$!
  mapped=""
  while read -r -t 10 line <&3; do
    case "$line" in MapNotify*) mapped=1; break ;; esac
  done
  t1=$(date +%s%N)
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  [ -n "$mapped" ] || { echo "run $run: no window within 10 s" >&2; cat "$work/nivelix.log" >&2; exit 1; }
  [ -s "$run_dir/ruzazazo.cfg" ] || { echo "run $run: no settings file created" >&2; exit 1; }
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
