#!/usr/bin/env bash
# Installs what is missing, builds, starts nivelix-sim with a small RS485 bus
# and points COM1 at it. The window program is not built yet: until it is,
# this shows the simulated bus answering through the link library and says
# how to run the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
dir="${NIVELIX_BUILD_DIR:-build}"

link=/tmp/nivelix-com1
"$dir/sim/nivelix-sim" --rs485 --sensor a:3 --sensor a:200 --sensor b:7 \
  --angle sine:12.5:40:20 --link "$link" </dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
export NIVELIX_COM1="$link"
echo "nivelix-sim is playing COM1 at $link (sensors a:3, a:200, b:7 on RS485)."

if [ -x "$dir/app/shell/nivelix3" ]; then
  "$dir/app/shell/nivelix3"
else
  [ -x "$dir/bench/bench_litmesure" ] && "$dir/bench/bench_litmesure" --demo || true
  echo "The window program is not built yet. Run the tests with: bash scripts/test.sh"
fi
