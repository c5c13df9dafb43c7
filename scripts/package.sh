#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no errors allowed), then unpacks it into a
# scratch root and runs the installed program once, as a user would, with a fresh home folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF -DKESTROVE_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/kestrove_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/kestrove_*.deb)
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
