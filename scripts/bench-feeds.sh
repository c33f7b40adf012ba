#!/bin/bash
# Fifty feeds in one window: builds the Windows build and runs bench/feeds_bench.cpp under Wine,
# answering its "RSS?" questions with the VmRSS of the Wine process that runs blackbox.exe (this
# Wine prefix's only one). Prints, last, "50 feeds: shown in S s, K KB per feed, merged paint
# ratio R".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      >/dev/null
cmake --build "$root/build/win32" -j2 --target feeds_bench >/dev/null
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
while IFS= read -r line <&"${BENCH[0]}"; do
    line=${line%$'\r'}
    if [ "$line" = "RSS?" ]; then
        shell_rss >&"${BENCH[1]}"
    else
        echo "$line"
    fi
done
wait "${BENCH_PID:-}" 2>/dev/null || true
