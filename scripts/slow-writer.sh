#!/usr/bin/env bash
# A program rewrites a 20,000-entry SNeTargets.txt in place again and again (truncate, write half,
# pause, write the rest) while a headless survey with the clock at 60 times records its
# observations. Then, the writer gone, two more passes write what waited. Prints the entries lost
# (the file after each rewrite and at the end against the catalogue) and the records dropped,
# never written or written twice, from history.csv; exits 1 on any.
#   scripts/slow-writer.sh [KESTROVE [SECONDS [PAUSE]]]        (default build/kestrove 60 5)
# KEEP=1 keeps the scratch folder, and names it, for a look at the files.
set -euo pipefail

kestrove="$(realpath "${1:-build/kestrove}")"
seconds="${2:-60}"
pause="${3:-5}"
root="$(mktemp -d)"
trap 'kill "${writer:-}" 2>/dev/null || true; if [ -n "${KEEP:-}" ]; then echo "kept $root" >&2; else rm -rf "$root"; fi' EXIT
program="$root/program"
observatory="$root/observatory"
mkdir -p "$program" "$observatory"

awk 'BEGIN { srand(1); for (i = 0; i < 20000; i++)
             printf "SN%d\t%.5f\t%.4f\r\n**** \r\n", i, rand() * 24, -20 + rand() * 100 }' >"$root/catalogue"
cp "$root/catalogue" "$program/SNeTargets.txt"
printf '%s\r\n' lastFocusJD,0 focusInterval,120 SNeEnabled,1 MPSEnabled,0 MPFEnabled,0 SLCEnabled,0 \
    SNeWeight,100 MPSWeight,100 MPFWeight,100 SLCWeight,100 baseDir,/tmp/ slewRate,2 flipTime,60 \
    maxElevation,90 minAzimuth,0 maxAzimuth,360 exposureSNe,30 cameraBinningSNe,1 cameraFilterSNe, \
    cameraSubframeSNe,1 exposureMPS,30 cameraBinningMPS,1 cameraFilterMPS, intervalMPS,10 imagesMPS,3 \
    fovRAMPS,6 fovDecMPS,6 exposureSLC,30 cameraBinningSLC,1 cameraFilterSLC, cameraSubframeSLC,1 \
    setSizeSLC,1 minElevationSLC,0.3 >"$program/config.ini"
start=2026-12-07T22:00:00Z
printf '[clock]\r\nstart=%s\r\nspeed=60\r\n[limits]\r\nminimumElevation=10\r\nsunAltitude=\r\n' "$start" \
    >"$observatory/observatory.ini"

half=$(($(stat -c %s "$root/catalogue") / 2))
names() { awk -F'\t' '!/^\*\*\*\*/ { print $1 }' "$1" | sort; }
names "$root/catalogue" >"$root/names"
# After each rewrite the file must hold every entry: one put in its place meanwhile would not.
(
    while :; do
        sleep 1
        { head -c "$half" "$root/catalogue"; sleep "$pause"; tail -c +"$((half + 1))" "$root/catalogue"; } \
            >"$program/SNeTargets.txt"
        comm -23 "$root/names" <(names "$program/SNeTargets.txt") | wc -l >>"$root/losses"
    done
) &
writer=$!

until=$(date -u -d "$start + $((seconds * 60)) seconds" +%Y-%m-%dT%H:%M:%SZ)
"$kestrove" --headless --folder "$program" --observatory "$observatory" --until "$until" >/dev/null 2>"$root/stderr"
kill "$writer"
wait "$writer" 2>/dev/null || true
# A writer killed during its pause leaves half a file, which is then the catalogue.
cp "$root/catalogue" "$program/SNeTargets.txt"
"$kestrove" --headless --folder "$program" --observatory "$observatory" --passes 2 >/dev/null 2>>"$root/stderr"

history="$observatory/Logs/history.csv"
# A plan and a later line about its record share the start and the target.
plans() { { grep -E "$1" "$history" || true; } | cut -d, -f1,4 | sort; }
rewrites=$(wc -l <"$root/losses")
losing=$(grep -vc '^0$' "$root/losses" || true)
comm -23 "$root/names" <(names "$program/SNeTargets.txt") | wc -l >>"$root/losses"
lost=$(sort -n "$root/losses" | tail -n 1)
completed=$(plans ',SNe,.*,"?completed' | wc -l)
pending=$(plans 'completed; record pending: ' | wc -l)
written=$(plans ',record written ' | uniq | wc -l)
twice=$(plans ',record written ' | uniq -d | wc -l)
dropped=$(plans 'record dropped' | wc -l)
unwritten=$(comm -23 <(plans 'completed; record pending: ') <(plans ',record written ' | uniq) | wc -l)
echo "entries lost: up to $lost of 20000, after $losing of $rewrites rewrites (and $(tail -n 1 "$root/losses") at the end)"
echo "plans completed: $completed; records kept pending: $pending, written later: $written"
echo "records dropped: $dropped, never written: $unwritten, written twice: $twice"
echo "passes and rewrites that found the writer: $(grep -c 'is being written by another program' \
    "$observatory/Logs/Kestrove.log")"
[ "$lost" -eq 0 ] && [ "$dropped" -eq 0 ] && [ "$unwritten" -eq 0 ] && [ "$twice" -eq 0 ]
