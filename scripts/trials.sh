#!/usr/bin/env bash
# The long checks that CI runs only briefly: 1,000 crash trials (SIGKILL at random instants on large
# catalogues) and a soak of 100 virtual nights under faults. Prints the trials, losses, nights and
# violations; exits 1 on any.
#   scripts/trials.sh [TRIALS] [NIGHTS]        (default 1000 100)
set -euo pipefail
cd "$(dirname "$0")/.."

trials="${1:-1000}"
nights="${2:-100}"
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target kestrove crash_trials kestrove_tests
export QT_QPA_PLATFORM=offscreen

status=0
echo "== crash trials: $trials"
build/tests/crash_trials --kestrove build/kestrove --trials "$trials" --seed "${SEED:-$RANDOM}" | tail -n 1 || status=1
echo "== soak: $nights nights"
KESTROVE_SOAK_NIGHTS="$nights" build/tests/kestrove_tests --gtest_filter='Soak.*' >build/soak.log 2>&1 || status=1
grep -E '^soak:|Failure|FAILED' build/soak.log || true
exit $status
