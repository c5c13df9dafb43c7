#!/usr/bin/env bash
# Runs every libFuzzer target of a build (configured with -DKESTROVE_FUZZ=ON, as the sanitizer build
# of scripts/test.sh is) on its seed corpus, for a time or a number of inputs each, and prints how
# many inputs each one ran. A crash, a sanitizer report, a failed check, a hang (10 s per input) or
# a leak ends with status 1; the input is kept in BUILD/fuzz-findings/. --target NAME (repeatable)
# runs only those targets, so that long runs can share the cores. fuzz/NAME.dict, where there is
# one, is the target's dictionary.
#   scripts/fuzz.sh [--seconds N | --runs N] [--target NAME]... [BUILD]
#   (default: --seconds 20, every target, build-sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=20)
build=build-sanitize
only=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) limit=(-max_total_time="$2"); shift 2 ;;
        --runs) limit=(-runs="$2"); shift 2 ;;
        --target) only+=("${2%_fuzz}_fuzz"); shift 2 ;;
        *) build="$1"; shift ;;
    esac
done

findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in "$build"/fuzz/*_fuzz; do
    name=$(basename "$target")
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then
        continue
    fi
    # New inputs go to a scratch corpus; the seeds in the repository are only read.
    scratch=$(mktemp -d)
    log="$build/fuzz-$name.log"
    # A dictionary of the words and edge numbers its input is made of, where the target has one.
    dict=()
    if [ -f "fuzz/$name.dict" ]; then
        dict=(-dict="fuzz/$name.dict")
    fi
    if ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}" \
        "$target" "${limit[@]}" "${dict[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "$scratch" "fuzz/corpus/$name" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        grep -E 'fuzz check failed|ERROR|SUMMARY|Test unit written' "$log" | head -n 8 || true
    fi
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo "?")
    printf '%-24s %12s inputs  %s\n' "$name" "$runs" "$result"
    rm -rf "$scratch"
done
exit $status
