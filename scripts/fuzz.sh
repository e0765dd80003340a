#!/usr/bin/env bash
# Fuzzes the answer judging of the family A link library with libFuzzer.
#
#   bash scripts/fuzz.sh [seconds] [target]     (default 600, fuzz_answer)
#
# target fuzz_viewreader fuzzes nivelix-view's acquisition file reader.
#
# Installs clang and its runtime libraries when missing, builds fuzz_answer
# into build-fuzz/, runs it on fuzz-corpus/ (kept between runs, not in git)
# and prints the number of executions and whether it crashed. A crashing
# input is written to build-fuzz/crash-* and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
target="${2:-fuzz_answer}"
case "$target" in
  fuzz_answer|fuzz_viewreader) ;;
  *) echo "usage: $0 [seconds] [fuzz_answer|fuzz_viewreader]" >&2; exit 2 ;;
esac
corpus=fuzz-corpus
[ "$target" = fuzz_answer ] || corpus="fuzz-corpus-$target"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh clang libclang-rt-14-dev

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNIVELIX_FUZZ=ON -DNIVELIX_BUILD_TESTS=OFF -DNIVELIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target "$target"

mkdir -p "$corpus"
log="$dir/$target.log"
echo "Fuzzing for ${seconds} s; log in $log"
status=0
( cd "$dir" && ASAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ./fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 ../"$corpus" ) \
  >"$log" 2>&1 || status=$?

grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
echo "corpus: $(find "$corpus" -type f | wc -l) files"
if [ "$status" -ne 0 ] || grep -qE 'ERROR: (libFuzzer|AddressSanitizer)|runtime error|deadly signal' "$log"; then
  echo "result: CRASH (exit $status); see $log and $dir/crash-*"
  grep -E 'ERROR|runtime error|deadly signal|Test unit written' "$log" | head -20
  exit 1
fi
echo "result: no crash"
