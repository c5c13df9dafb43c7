#!/usr/bin/env bash
# The long checks that CI runs only briefly: 1,000 crash trials (SIGKILL at random instants on large
# catalogues), a soak of 100 virtual nights under faults, and the discovery search on the INDI
# simulators (a 5"/min mover, ten supernova visits and a minor planet set of an unchanging sky, the
# detection limit). Prints the trials, losses, nights, violations and the discovery's figures; exits 1
# on any failure.
#   scripts/trials.sh [TRIALS] [NIGHTS]        (default 1000 100)
set -euo pipefail
cd "$(dirname "$0")/.."

trials="${1:-1000}"
nights="${2:-100}"
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target kestrove crash_trials kestrove_tests kestrove_indi_tests
export QT_QPA_PLATFORM=offscreen

status=0
echo "== crash trials: $trials"
build/tests/crash_trials --kestrove build/kestrove --trials "$trials" --seed "${SEED:-$RANDOM}" | tail -n 1 || status=1
echo "== soak: $nights nights"
KESTROVE_SOAK_NIGHTS="$nights" build/tests/kestrove_tests --gtest_filter='Soak.*' >build/soak.log 2>&1 || status=1
grep -E '^soak:|Failure|FAILED' build/soak.log || true
echo "== discovery on the simulators"
{
    KESTROVE_DISCOVERY_SLOW_MOVER=1 build/tests/kestrove_indi_tests --gtest_filter='IndiDiscovery.*Mover*'
    KESTROVE_DISCOVERY_VISITS=10 build/tests/kestrove_indi_tests --gtest_filter='IndiDiscovery.AnUnchanging*'
    build/tests/kestrove_indi_tests --gtest_also_run_disabled_tests --gtest_filter='IndiDiscovery.*DetectionLimit*'
} >build/discovery.log 2>&1 || status=1
grep -E '^(mover|candidate|magnitude|detection|[0-9]+ frames)|Failure|FAILED' build/discovery.log || true
exit $status
