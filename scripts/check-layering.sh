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

# Every quoted include of every source file, as "file:line:included", judged in one pass. The room
# of a path: report/charts and the rooms of host/ are told apart by their first folders.
crossings="$(
    find text imaging sky settings database host core targets selection plans report web app -type f \
        \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) 2>/dev/null | sort |
        xargs -r grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
        sed 's/^\([^:]*\):\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2:\3/' |
        awk -F: '
        function room(path) {
            if (path ~ /^report\/charts\//) return "report/charts"
            if (path ~ /^host\//) return "host"
            sub(/\/.*/, "", path)
            return path
        }
        BEGIN {
            split("text:1 imaging:1 sky:2 settings:3 database:3 host:4 core:5 targets:6 selection:7 " \
                  "plans:7 report:8 report/charts:9 web:10 app:11", pairs, " ")
            for (i in pairs) { split(pairs[i], p, ":"); level[p[1]] = p[2] }
        }
        {
            from = room($1); to = room($3)
            if (!(to in level)) next
            if (level[to] > level[from] || (level[to] == level[from] && to != from)) {
                printf "%s:%s: %s includes %s (%s)\n", $1, $2, from, $3, to
                n++
            }
        }
        END { exit n > 0 }' || true
)"
if [ -n "$crossings" ]; then
    echo "$crossings"
    crossings=$(echo "$crossings" | wc -l)
else
    crossings=0
fi

# Widgets belong to app/ alone (report/charts draws with Qt Charts, which are widgets).
while IFS= read -r hit; do
    echo "$hit: only app/ and report/charts/ include widgets"
    crossings=$((crossings + 1))
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(QtWidgets/|Q(Application|Widget|Dialog|MainWindow|MessageBox|Label|LineEdit|PushButton|CheckBox|ComboBox|Layout|HBoxLayout|VBoxLayout|GridLayout|TableWidget|TabWidget|ProgressBar|DateEdit|PlainTextEdit|DialogButtonBox|HeaderView|FileDialog|SpinBox)>)' \
    text imaging sky settings database host core targets selection plans report web --include='*.h' --include='*.cpp' 2>/dev/null |
    grep -v '^report/charts/' || true)

# A file past 800 lines holds more than one job: it wants splitting.
while read -r lines file; do
    [ "$file" = total ] && continue
    if [ "$lines" -gt 800 ]; then
        echo "$file: $lines lines, more than 800"
        crossings=$((crossings + 1))
    fi
done < <(find text imaging sky settings database host core targets selection plans report web app bench fuzz -type f \
    \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort | xargs -r wc -l)

if [ "$crossings" -gt 0 ]; then
    echo "$crossings include(s) cross the layering upward, or file(s) too long" >&2
    exit 1
fi
echo "The layering holds: no folder includes a folder above it, and no source file is over 800 lines"
