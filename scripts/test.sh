#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a normal build, and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The INDI client library leaks a little at exit by itself; that alone is forgiven.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan-suppressions.txt"

status=0
for variant in build build-sanitize; do
    sanitize=OFF
    [ "$variant" = build-sanitize ] && sanitize=ON
    echo "== $variant"
    cmake -S . -B "$variant" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVE_SANITIZE=$sanitize >/dev/null
    cmake --build "$variant" -j"$jobs"
    (cd "$variant" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
done
exit $status
