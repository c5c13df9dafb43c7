#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a normal build (gcc),
# and a build with clang, AddressSanitizer and UndefinedBehaviorSanitizer that also runs every fuzz
# target for 20 seconds. Last, the Debian package is made from the normal build and checked.
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
    options=(-DKESTROVE_SANITIZE=OFF)
    if [ "$variant" = build-sanitize ]; then
        options=(-DKESTROVE_SANITIZE=ON -DKESTROVE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++)
        # A build folder made with another compiler cannot be switched over.
        if [ -f "$variant/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$variant/CMakeCache.txt"; then
            rm -rf "$variant"
        fi
    fi
    echo "== $variant"
    cmake -S . -B "$variant" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
    cmake --build "$variant" -j"$jobs"
    (cd "$variant" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
done
echo "== fuzz"
scripts/fuzz.sh --seconds 20 build-sanitize || status=1
echo "== package"
scripts/package.sh build || status=1
exit $status
