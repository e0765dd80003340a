#!/usr/bin/env bash
# Takes docs/screenshots/viewer-week.png: nivelix-view on a virtual screen
# (Xvfb) showing a week-long acquisition file of four sensors at one sample
# every 10 s (60,480 lines), with a range of about a day selected by a Shift drag
# as a user does it, so that its figures show under the chart. The file is
# made by a small generator below: a daily thermal swing, a slow settling of
# the second pier, noise, and a few failed readings (empty fields) on the
# third sensor one afternoon.
#
#   bash scripts/screenshot-viewer.sh [output folder]
set -euo pipefail
source "$(dirname "$0")/xvfb-lib.sh"
cd "$src"
nivelix_build nivelix-view
viewer="$build/app/view/nivelix-view"
out="$(mkdir -p "${1:-docs/screenshots}" && cd "${1:-docs/screenshots}" && pwd)"

nivelix_workdir
python3 - "$work/week.txt" <<'PY'
import math, random, sys, datetime
random.seed(7)
sensors = [("KV72500-10", 21034, "North pier, top"), ("KV72500-10", 21035, "South pier, top"),
           ("KV72800-05", 4410, "Deck, mid-span"), ("KV72800-05", 4411, "Abutment")]
start = datetime.datetime(2026, 3, 2, 0, 0, 0)
period, samples = 10, 7 * 24 * 360
with open(sys.argv[1], "w", newline="") as f:
    f.write("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n")
    for ref, serial, comment in sensors:
        f.write(f"{ref} - {serial} : \t{comment}.\r\n")
    f.write("Inclinometer" + "".join(f"\t{r} - {s}" for r, s, _ in sensors) + "\r\n")
    for k in range(samples):
        t = start + datetime.timedelta(seconds=k * period)
        day = (k * period) / 86400.0
        swing = math.sin(2 * math.pi * (day - 0.35))
        values = [1.8 * swing + 0.05 * random.gauss(0, 1),
                  -1.2 * swing - 2.5 * (1 - math.exp(-day / 2.0)) + 0.05 * random.gauss(0, 1),
                  0.6 * math.sin(2 * math.pi * (day - 0.45)) + 0.5 + 0.08 * random.gauss(0, 1),
                  0.25 * swing - 1.0 + 0.03 * random.gauss(0, 1)]
        fields = [f"{v:.2f}" for v in values]
        if 4.55 < day < 4.6:
            fields[2] = ""
        f.write(f"{t.day}/{t.month}/{t.year} {t.hour}:{t.minute}:{t.second}\t" + "\t".join(fields) + "\r\n")
PY

nivelix_start_xvfb 1280x860
"$viewer" "$work/week.txt" >"$work/viewer.log" 2>&1 &
pids+=($!)
main=$(wait_window 'Nivelix view$')
[ -n "$main" ] || { echo "nivelix-view did not show its window:" >&2; cat "$work/viewer.log" >&2; exit 1; }
xdotool windowsize --sync "$main" 1240 820
xdotool windowmove --sync "$main" 20 20
focus "$main"
sleep 1.5
# A day selected with Shift and a drag across the middle of the chart, then
# the pointer over the Thursday afternoon for the values under it.
eval "$(xdotool getwindowgeometry --shell "$main")"
y=$((Y + 300))
x1=$((X + 240 + (WIDTH - 300) * 3 / 7))
x2=$((X + 240 + (WIDTH - 300) * 4 / 7))
xdotool mousemove "$x1" "$y" keydown shift mousedown 1
xdotool mousemove "$(((x1 + x2) / 2))" "$y"
xdotool mousemove "$x2" "$y" mouseup 1 keyup shift
sleep 0.3
xdotool mousemove "$((X + 240 + (WIDTH - 300) * 9 / 14))" "$((Y + 250))"
sleep 1
import -window "$main" "$out/viewer-week.png"
echo "$out/viewer-week.png"
