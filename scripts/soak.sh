#!/usr/bin/env bash
# Soak run (not part of the tests): the whole program on a simulated mixed
# RS485 bus whose sensors' bytes are corrupted at the given share, for the
# given time, alternating live reading of three panels and acquisitions of
# one sample a second. Reports readings taken, failures shown, lines written,
# message boxes and resident memory at start and end; exits non-zero on a
# crash, a hang of a stop, or a sample without its line.
#
#   bash scripts/soak.sh [seconds=3600] [round seconds=300] [corrupted share=0.01]
#
# Output also goes to soak-<date>.log in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${NIVELIX_BUILD_DIR:-build}"
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target soak_driver
log="$dir/soak-$(date +%Y%m%d-%H%M%S).log"
echo "Soak: ${1:-3600} s; log $log"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$dir/bench/soak_driver" "${1:-3600}" "${2:-300}" "${3:-0.01}" \
  2> >(grep -v propagateSizeHints >&2) | tee "$log"
exit "${PIPESTATUS[0]}"
