#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no errors allowed), then unpacks it into a
# scratch root and runs the installed program once, as a user would, with a fresh home folder.
#   scripts/package.sh [BUILD_FOLDER]
# Without a folder, a Release build of the program alone is made in build-package; the test run
# passes its own built folder instead, which saves CI a third build (cpack strips the binaries).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
folder="${1:-}"
if [ -z "$folder" ]; then
    folder=build-package
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF -DKESTROVE_BENCH=OFF >/dev/null
fi
cmake --build "$folder" -j"$(nproc)" --target kestrove kestrove_docs
rm -f "$folder"/kestrove_*.deb
(cd "$folder" && cpack -G DEB >/dev/null)
deb=$(ls "$folder"/kestrove_*.deb)
echo "== $deb"
lintian --fail-on error --tag-display-limit 0 "$deb"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
mkdir -p "$scratch/home" "$scratch/observatory"
# A virtual night, so that the run takes no time whatever the hour.
printf '[clock]\r\nstart=2026-12-07T22:00:00Z\r\nspeed=0\r\n' > "$scratch/observatory/observatory.ini"
HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" \
    "$scratch/root/usr/bin/kestrove" --headless --passes 2 --observatory "$scratch/observatory" >/dev/null
data="$scratch/home/.local/share/kestrove"
for file in config.ini SNeTargets.txt SLCTargets.txt MPSTargets.txt; do
    [ -f "$data/$file" ] || { echo "installed run: $data/$file is missing" >&2; exit 1; }
done
[ -f "$scratch/observatory/Logs/Kestrove.log" ] || { echo "installed run: no survey log" >&2; exit 1; }
if ls "$scratch/root/usr/bin" | grep -qv '^kestrove$'; then
    echo "installed run: files were written beside the executable" >&2
    exit 1
fi
echo "== package and installed run: ok"
