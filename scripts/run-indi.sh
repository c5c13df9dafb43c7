#!/usr/bin/env bash
# Installs what is missing, builds Kestrove, starts indiserver with Debian's INDI simulators on a
# free local port and runs Kestrove against it with the sample catalogues, in demo-indi/ (prepared
# without overwriting your edits). The server is stopped when Kestrove ends. --dome starts the dome
# simulator instead of the roll-off roof. Other arguments go to the program, e.g. --start, or
# --headless --passes 3.
set -euo pipefail
cd "$(dirname "$0")/.."

enclosure=roof
args=()
for arg in "$@"; do
    if [ "$arg" = --dome ]; then enclosure=dome; else args+=("$arg"); fi
done
if [ "$enclosure" = dome ]; then
    enclosure_driver=indi_simulator_dome
    enclosure_line="dome=Dome Simulator"
    other=roof
else
    enclosure_driver=indi_rolloff_dome
    enclosure_line="roof=RollOff Simulator"
    other=dome
fi

scripts/install-deps.sh >&2
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF >/dev/null
cmake --build build-release --target kestrove -j"$(nproc)" >&2

demo="$PWD/demo-indi"
mkdir -p "$demo/home" "$demo/observatory"
cp -rn samples/. "$demo/"

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=7624
while ! port_free "$port"; do port=$((20000 + RANDOM % 40000)); done

# The drivers keep their settings under $HOME/.indi: the demo gets its own. The CCD simulator draws
# stars only through a program named "gsc": tests/indi/gsc/gsc prints the Tycho-2 stars of
# astrometry.net's index, so that its frames solve and focus.
PATH="$PWD/tests/indi/gsc:$PATH" HOME="$demo/home" indiserver -p "$port" -u "$demo/indi.sock" -r 0 \
    indi_simulator_telescope indi_simulator_ccd indi_simulator_wheel indi_simulator_focus \
    indi_simulator_weather "$enclosure_driver" indi_watchdog >"$demo/indiserver.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do port_free "$port" || break; sleep 0.1; done
if port_free "$port"; then
    echo "indiserver did not start; see $demo/indiserver.log" >&2
    exit 1
fi
echo "indiserver with the simulators on localhost:$port (log: $demo/indiserver.log)"

# The simulated optics: a 200 mm focal length on the 5.2 um pixels (5.4"/px, a 1.9 x 1.5 degree
# field that the Tycho-2 indexes solve), and a focus curve whose best position lies 3000 units from
# where the focuser starts, so that the first #autofocus has something to find.
indi_setprop -p "$port" "CCD Simulator.CONNECTION.CONNECT=On"
for _ in $(seq 50); do
    [ "$(indi_getprop -p "$port" -1 "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH" 2>/dev/null)" != "" ] && break
    sleep 0.1
done
indi_setprop -p "$port" "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=200;50"
indi_setprop -p "$port" "CCD Simulator.SIM_FOCUSING.SIM_FOCUS_POSITION;SIM_FOCUS_MAX;SIM_SEEING=47000;20000;10"

# The simulated wheel gets the filter names the sample catalogues ask for.
indi_setprop -p "$port" "Filter Simulator.CONNECTION.CONNECT=On"
indi_setprop -p "$port" \
    "Filter Simulator.FILTER_NAME.FILTER_SLOT_NAME_1;FILTER_SLOT_NAME_2;FILTER_SLOT_NAME_3;FILTER_SLOT_NAME_4=L;R;V;B"

ini="$demo/observatory/observatory.ini"
if [ ! -f "$ini" ]; then
    cat >"$ini" <<INI
; Kestrove on Debian's INDI simulators (scripts/run-indi.sh). Missing keys take their defaults.
[host]
kind=indi

[limits]
; no darkness gate, so that the demo also runs by day; a real site wants e.g. -12
sunAltitude=

[mount]
settleTime=2

[indi]
server=localhost:$port
mount=Telescope Simulator
camera=CCD Simulator
filterWheel=Filter Simulator
focuser=Focuser Simulator
weather=Weather Simulator
INI
else
    # The server gets a new port each run.
    sed -i "s/^server=localhost:[0-9]*/server=localhost:$port/" "$ini"
fi
# The roof or dome, the watchdog and the cooler, also for a demo folder made before they existed
# ([indi] is the file's last section).
if ! grep -q '^\(roof\|dome\)=' "$ini"; then
    cat >>"$ini" <<INI
$enclosure_line
watchdog=WatchDog
heartbeat=30
coolTo=-10
warmTo=10

[safety]
; a short wait before reopening, so that the demo shows it
reopenDelay=60
INI
fi
# The enclosure this run starts, in place of the other one: a roof and a dome both set are refused.
sed -i "s/^$other=.*/$enclosure_line/" "$ini"
# Without a watchdog a crash would leave the roof open (Kestrove warns at every start).
if ! grep -q '^watchdog=' "$ini"; then
    sed -i 's/^\(roof\|dome\)=.*/&\nwatchdog=WatchDog/' "$ini"
fi

# The simulator's focus curve is shallow: a coarse sweep shows it ([focus] is added once).
if ! grep -q '^\[focus\]' "$ini"; then
    cat >>"$ini" <<INI

[focus]
step=1000
stepsOut=4
INI
fi

build-release/kestrove --folder "$demo" --observatory "$demo/observatory" ${args[@]+"${args[@]}"}
