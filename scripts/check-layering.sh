#!/usr/bin/env bash
# Lists the includes that run against the layering of the source folders and fails when there is
# one. The rooms, lowest first; a folder may include its own room and the rooms below it, never one
# above it nor a peer of its own level:
#
#   1 text           number text, file messages, sexagesimal and value text, the error naming where
#   1 imaging        image work apart from the devices: FITS, stars, solve-field, focus fit, grading
#   2 sky            the astronomy: ERFA wrappers, the clock and site clock, the site's sky, tonight
#   3 settings       observatory.ini (reading, defaults, checks, the writer that keeps comments)
#                    and config.ini
#   3 database       the observations database: every frame and plan, in SQLite
#   4 host           the observatory host (with host/sim and host/indi)
#   5 core           SurveyCore and its state, the run loop, the responsive wait, SurveyView
#   6 targets        the core's operations on the targets files
#   7 selection plans   the core's selection (which reads the targets files) and its plan writer
#   8 report         the night's preview and report
#   9 report/charts  draws the night's charts
#  10 web            the web page, its JSON and the notify command
#  11 app            the windows, the headless run, the command line and its commands, main
#
# targets/, selection/ and plans/ define the operations of the one SurveyCore class that core/
# declares, one family per folder.
#
# Usage: scripts/check-layering.sh [source folder]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The room of a path: report/charts and the rooms of host/ are told apart by their first folders.
room_of() {
    case "$1" in
    report/charts/*) echo report/charts ;;
    host/*) echo host ;;
    *) echo "${1%%/*}" ;;
    esac
}

level_of() {
    case "$1" in
    text | imaging) echo 1 ;;
    sky) echo 2 ;;
    settings | database) echo 3 ;;
    host) echo 4 ;;
    core) echo 5 ;;
    targets) echo 6 ;;
    selection | plans) echo 7 ;;
    report) echo 8 ;;
    report/charts) echo 9 ;;
    web) echo 10 ;;
    app) echo 11 ;;
    *) echo 0 ;;
    esac
}

crossings=0
while IFS= read -r file; do
    from="$(room_of "$file")"
    from_level="$(level_of "$from")"
    while IFS=: read -r line included; do
        to="$(room_of "$included")"
        to_level="$(level_of "$to")"
        [ "$to_level" -eq 0 ] && continue
        if [ "$to_level" -gt "$from_level" ] || { [ "$to_level" -eq "$from_level" ] && [ "$to" != "$from" ]; }; then
            echo "$file:$line: $from includes $included ($to)"
            crossings=$((crossings + 1))
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(find text imaging sky settings database host core targets selection plans report web app -type f 2>/dev/null \
    \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) | sort)

# Widgets belong to app/ alone (report/charts draws with Qt Charts, which are widgets).
while IFS= read -r hit; do
    echo "$hit: only app/ and report/charts/ include widgets"
    crossings=$((crossings + 1))
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(QtWidgets/|Q(Application|Widget|Dialog|MainWindow|MessageBox|Label|LineEdit|PushButton|CheckBox|ComboBox|Layout|HBoxLayout|VBoxLayout|GridLayout|TableWidget|TabWidget|ProgressBar|DateEdit|PlainTextEdit|DialogButtonBox|HeaderView|FileDialog|SpinBox)>)' \
    text imaging sky settings database host core targets selection plans report web --include='*.h' --include='*.cpp' 2>/dev/null |
    grep -v '^report/charts/' || true)

# A file past 800 lines holds more than one job: it wants splitting.
while IFS= read -r file; do
    lines=$(wc -l <"$file")
    if [ "$lines" -gt 800 ]; then
        echo "$file: $lines lines, more than 800"
        crossings=$((crossings + 1))
    fi
done < <(find text imaging sky settings database host core targets selection plans report web app bench fuzz -type f \
    \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$crossings" -gt 0 ]; then
    echo "$crossings include(s) cross the layering upward, or file(s) too long" >&2
    exit 1
fi
echo "The layering holds: no folder includes a folder above it, and no source file is over 800 lines"
