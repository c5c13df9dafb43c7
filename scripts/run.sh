#!/usr/bin/env bash
# Installs what is missing, builds Kestrove, prepares the demo program folder with the sample
# catalogues (never overwriting a file that is already there) and starts it on the simulated
# observatory. Extra arguments go to the program, e.g. --headless --passes 5.
set -euo pipefail
cd "$(dirname "$0")/.."

# What the set-up and the build say goes to standard error: standard output is the program's.
scripts/install-deps.sh >&2
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF >/dev/null
cmake --build build-release --target kestrove -j"$(nproc)" >&2

mkdir -p demo
cp -rn samples/. demo/
exec build-release/kestrove --folder demo "$@"
