#!/bin/bash
# Fifty feeds in one window: builds the Windows build and runs bench/feeds_bench.cpp under Wine,
# answering its "RSS?" questions with the VmRSS of the Wine process that runs blackbox.exe (this
# Wine prefix's only one). Prints "50 feeds: shown in S s, K KB per feed, merged paint ratio R".
# Then a thousand favourites, most of them failing at once (bench/many_feeds_bench.cpp), three
# runs: prints, last, "1000 feeds: longest stall S ms, window thread busy B% of the first 20 s",
# the medians, with the machine's load.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      >/dev/null
cmake --build "$root/build/win32" -j2 --target feeds_bench many_feeds_bench >/dev/null
. "$root/scripts/wine-session.sh"
cd "$root/build/win32"

# The resident kilobytes of the process running blackbox.exe in this prefix.
shell_rss() {
    local pid
    for pid in $(pgrep -f 'blackbox\.exe' || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"
            return
        fi
    done
    echo 0
}

coproc BENCH { wine ./bench/feeds/feeds_bench.exe "$(winepath -w FeedMarquee.dll)" \
    "$(winepath -w tests/system/system_probe.dll)" 2>&1; }
# Copies of the coprocess's pipes: bash drops its own (and the BENCH array) when the program ends.
exec 3<&"${BENCH[0]}" 4>&"${BENCH[1]}"
while IFS= read -r line <&3; do
    line=${line%$'\r'}
    if [ "$line" = "RSS?" ]; then
        shell_rss >&4
    else
        echo "$line"
    fi
done
exec 3<&- 4>&-
wait "${BENCH_PID:-}" 2>/dev/null || true

# A thousand feeds: the median of three runs, each in a shell of its own.
runs=3
stalls=()
busies=()
for run in $(seq $runs); do
    output=$(wine ./bench/many_feeds/many_feeds_bench.exe "$(winepath -w FeedMarquee.dll)" 2>&1 |
             tr -d '\r' || true)
    echo "$output"
    line=$(grep '^1000 feeds:' <<<"$output" || true)
    if [[ $line =~ stall\ ([0-9]+)\ ms.*busy\ ([0-9]+)% ]]; then
        stalls+=("${BASH_REMATCH[1]}")
        busies+=("${BASH_REMATCH[2]}")
    fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
if [ ${#stalls[@]} -gt 0 ]; then
    echo "1000 feeds: longest stall $(median "${stalls[@]}") ms, window thread busy" \
         "$(median "${busies[@]}")% of the first 20 s (median of ${#stalls[@]} runs," \
         "load $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores)"
else
    echo "1000 feeds: no run finished" >&2
fi
