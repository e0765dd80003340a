#!/usr/bin/env bash
# Fuzzes the answer judging of the family A link library with libFuzzer.
#
#   bash scripts/fuzz.sh [seconds]     (default 600)
#
# Installs clang and its runtime libraries when missing, builds fuzz_answer
# into build-fuzz/, runs it on fuzz-corpus/ (kept between runs, not in git)
# and prints the number of executions and whether it crashed. A crashing
# input is written to build-fuzz/crash-* and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh clang libclang-rt-14-dev

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNIVELIX_FUZZ=ON -DNIVELIX_BUILD_TESTS=OFF -DNIVELIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target fuzz_answer

mkdir -p fuzz-corpus
log="$dir/fuzz_answer.log"
echo "Fuzzing for ${seconds} s; log in $log"
status=0
( cd "$dir" && ASAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ./fuzz/fuzz_answer -max_total_time="$seconds" -print_final_stats=1 ../fuzz-corpus ) \
  >"$log" 2>&1 || status=$?

grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
echo "corpus: $(find fuzz-corpus -type f | wc -l) files"
if [ "$status" -ne 0 ] || grep -qE 'ERROR: (libFuzzer|AddressSanitizer)|runtime error|deadly signal' "$log"; then
  echo "result: CRASH (exit $status); see $log and $dir/crash-*"
  grep -E 'ERROR|runtime error|deadly signal|Test unit written' "$log" | head -20
  exit 1
fi
echo "result: no crash"
