#!/usr/bin/env bash
# Runs the randomized kill test of the trash over a range of seeds (default 1-2000):
#   scripts/kill_loop.sh [FIRST-LAST]
# A failure names its seed; CHRONOSIFT_KILL_SEEDS=SEED replays it alone.
set -euo pipefail
cd "$(dirname "$0")/.."
CHRONOSIFT_KILL_SEEDS="${1:-1-2000}" exec build/tests/core_tests \
  --gtest_filter='TrashTest.KilledAtRandomCallsTheNextRunClearsUpAndNothingIsLost'
