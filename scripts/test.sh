#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test once, two at a time.
# A failing test is never run again: once is a fault or a flaky test, and
# either must be seen. Timing tests allow for a loaded two-core machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir "${NIVELIX_BUILD_DIR:-build}" --output-on-failure --timeout 300 -j2
