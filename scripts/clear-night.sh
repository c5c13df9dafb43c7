#!/usr/bin/env bash
# A clear night on Debian's INDI simulators, to count the frames the grading rejects for nothing:
# starts indiserver (its stars from tests/indi/gsc/gsc) on a free port, runs Kestrove headless
# through TARGETS plans of FRAMES 1 s frames each on circumpolar targets, then prints every frame's
# grade from observations.sqlite, the rejections, and how long each frame waited for its grade.
#   scripts/clear-night.sh [KESTROVE] [TARGETS] [FRAMES]
# KESTROVE defaults to build/kestrove; 5 targets of 10 frames make the 50 frames of a short night
# (about 5 minutes). The folder it works in is kept and named at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
kestrove="$(realpath "${1:-build/kestrove}")"
targets="${2:-5}"
frames="${3:-10}"
work="$(mktemp -d -t kestrove-clear-night.XXXXXX)"
mkdir -p "$work/home" "$work/program" "$work/observatory"

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=$((20000 + RANDOM % 40000))
while ! port_free "$port"; do port=$((20000 + RANDOM % 40000)); done
PATH="$PWD/tests/indi/gsc:$PATH" HOME="$work/home" indiserver -p "$port" -u "$work/indi.sock" -r 0 \
    indi_simulator_telescope indi_simulator_ccd indi_simulator_wheel >"$work/indiserver.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do port_free "$port" || break; sleep 0.1; done

# The optics of the tests: 200 mm on 5.2 um pixels, in focus.
indi_setprop -p "$port" "CCD Simulator.CONNECTION.CONNECT=On"
for _ in $(seq 50); do
    [ "$(indi_getprop -p "$port" -1 "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH" 2>/dev/null)" != "" ] && break
    sleep 0.1
done
indi_setprop -p "$port" "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=200;50"
indi_setprop -p "$port" "CCD Simulator.SIM_FOCUSING.SIM_FOCUS_POSITION;SIM_FOCUS_MAX;SIM_SEEING=50000;20000;10"

cat >"$work/observatory/observatory.ini" <<INI
[host]
kind=indi
[site]
latitude=60
longitude=10
timeZone=Europe/Oslo
[limits]
sunAltitude=
minimumElevation=10
[mount]
settleTime=1
[indi]
server=localhost:$port
mount=Telescope Simulator
camera=CCD Simulator
filterWheel=Filter Simulator
[solve]
enabled=false
INI

# config.ini: its 33 values by position; SNe on, 1 s frames binned 2, no autofocus (no focuser).
{
    printf 'lastFocusJD,2460000\r\nfocusInterval,32000\r\nSNeEnabled,1\r\nMPSEnabled,0\r\nMPFEnabled,0\r\n'
    printf 'SLCEnabled,0\r\nSNeWeight,100\r\nMPSWeight,100\r\nMPFWeight,100\r\nSLCWeight,100\r\n'
    printf 'baseDir,%s/images/\r\nslewRate,2.5\r\nflipTime,90\r\nmaxElevation,90\r\nminAzimuth,0\r\n' "$work"
    printf 'maxAzimuth,360\r\nexposureSNe,1\r\ncameraBinningSNe,2\r\ncameraFilterSNe,Green\r\n'
    printf 'cameraSubframeSNe,1\r\nexposureMPS,60\r\ncameraBinningMPS,1\r\ncameraFilterMPS,\r\n'
    printf 'intervalMPS,30\r\nimagesMPS,3\r\nfovRAMPS,47\r\nfovDecMPS,38\r\nexposureSLC,60\r\n'
    printf 'cameraBinningSLC,1\r\ncameraFilterSLC,\r\ncameraSubframeSLC,1\r\nsetSizeSLC,3\r\n'
    printf 'minElevationSLC,0\r\n'
} >"$work/program/config.ini"
# Targets around the pole at declination 75, each a field of its own.
for i in $(seq "$targets"); do
    printf 'clear%d\t%s\t75\r\n**** imageCount=%d\r\n' "$i" "$(awk -v i="$i" -v n="$targets" 'BEGIN { printf "%.3f", 24 * (i - 1) / n }')" "$frames"
done >"$work/program/SNeTargets.txt"

QT_QPA_PLATFORM=offscreen "$kestrove" --headless --passes "$targets" --folder "$work/program" \
    --observatory "$work/observatory" >"$work/kestrove.out" 2>&1 || true

db="$work/observatory/Logs/observations.sqlite"
log="$work/observatory/Logs/AcquireImages.log"
python3 - "$db" "$log" <<'PY'
import sqlite3, sys, datetime
db, log = sys.argv[1:3]
rows = sqlite3.connect(db).execute(
    "SELECT target, stars, hfr, background, noise, grade, reason FROM frames ORDER BY utc").fetchall()
for r in rows:
    print("%-8s %4d stars  HFR %5.2f  sky %7.1f ± %5.1f  %s %s" % r)
rejected = [r for r in rows if r[5] != "accepted"]
print("%d frames, %d rejected" % (len(rows), len(rejected)))
# How long each frame waited for its grade: from its "image" line to its "grade" line.
saved, waits = {}, []
for line in open(log, encoding="latin-1"):
    f = line.rstrip("\r\n").split("\t")
    if len(f) < 3:
        continue
    t = datetime.datetime.fromisoformat(f[0].replace("Z", "+00:00"))
    if f[1] == "image":
        saved[f[-1]] = t
    elif f[1] == "grade" and f[3] in saved:
        waits.append((t - saved[f[3]]).total_seconds())
if waits:
    waits.sort()
    print("graded %.2f s after saving (median), %.2f s at most" % (waits[len(waits) // 2], waits[-1]))
PY
echo "kept in $work"
