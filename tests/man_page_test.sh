#!/usr/bin/env bash
# The manual page lists every option that --help does, and the observatory.ini sections a user sets.
#   man_page_test.sh KESTROVE MANPAGE
set -euo pipefail
kestrove="$1"
page="$2"
missing=0
for option in $("$kestrove" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    if ! grep -qF -- "${option//-/\\-}" "$page"; then
        echo "$page lacks $option"
        missing=$((missing + 1))
    fi
done
for section in host site clock mount roof limits weather safety folders acquisition indi solve focus selection grading dome web notify; do
    if ! grep -qF "[$section]" "$page"; then
        echo "$page lacks [$section]"
        missing=$((missing + 1))
    fi
done
[ "$missing" -eq 0 ] && echo "$page lists every option of --help and every section of observatory.ini"
exit $((missing > 0))
