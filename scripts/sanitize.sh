#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs the whole test suite there; any finding stops the test
# that made it. Can be run again at any time: it only rebuilds what changed.
#
#   bash scripts/sanitize.sh [ctest arguments, e.g. -L utilcapt]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

dir=build-asan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIVELIX_SANITIZE=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"

# detect_leaks stays on: the libraries must not leak across the tests either.
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$dir" --output-on-failure --timeout 300 "$@"
