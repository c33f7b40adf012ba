#!/bin/bash
# Runs each libFuzzer target of a native clang build for about FM_FUZZ_SECONDS seconds (default
# 60), starting from the seed corpus in fuzz/corpus/<target>/. The seeds are copied to a temporary
# working corpus, so the repository is never modified. Exits non-zero when any target reports a
# crash, a leak, undefined behaviour or a broken invariant; the input that caused it is kept in
# <build>/fuzz-artifacts/<target>/.
#   usage: scripts/fuzz.sh [BUILD_DIR]      (default build/native)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/native}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
seconds=${FM_FUZZ_SECONDS:-60}

# target:max_len. The lengths keep single runs fast while leaving room for several items.
targets="parse_feed:16384 decode_entities:4096 abbreviate_date:256 item_time:256 http_response:8192 convert_charset:4096 resolve_url:1024 feed_address:1024 json_feed:16384 opml:16384 auth_challenge:2048 format_description:16384"

work=$(mktemp -d "${TMPDIR:-/tmp}/fm-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for entry in $targets; do
    name=${entry%%:*}
    max_len=${entry##*:}
    binary="$build/fuzz/fuzz_$name"
    if [ ! -x "$binary" ]; then
        echo "fuzz: $binary is missing (a native clang build with FM_FUZZ makes it)" >&2
        status=1
        continue
    fi
    corpus="$work/$name"
    artifacts="$build/fuzz-artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    cp "$root/fuzz/corpus/$name/"* "$corpus/"
    log="$work/$name.log"
    echo "fuzz: $name for ${seconds} s (max_len $max_len)"
    "$binary" "$corpus" -max_total_time="$seconds" -max_len="$max_len" \
        -dict="$root/fuzz/$name.dict" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    if [ $rc -ne 0 ]; then
        status=1
        echo "fuzz: $name FAILED (exit $rc) after ${runs:-?} runs; last lines of its log:" >&2
        grep -v '^#[0-9]' "$log" | tail -n 40 >&2
        echo "fuzz: reproduce with: $binary $artifacts/<file>" >&2
    else
        echo "fuzz: $name passed: ${runs:-?} runs, $(ls "$corpus" | wc -l) corpus inputs"
    fi
done
exit $status
