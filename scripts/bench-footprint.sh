#!/bin/bash
# Footprint benchmark: what FeedMarquee costs the shell's process under Wine with the stand-in shell
# (memory with the demo feed and a 10 MB feed, the libraries its load adds, wake-ups while the
# pointer rests over the window, the wake-ups of the settings folder's watch while nothing changes,
# the delay a 10 MB saved copy adds to the shell's start).
#   scripts/bench-footprint.sh [--dll FeedMarquee.dll] [--rounds N] [--hover-seconds S]
# --dll measures another build of the plug-in (for example one built from an older commit) with
# this tree's shell. The line before the load reads
#   idle wakeups: I/s with the settings folder watched
# and the last line
#   footprint: +R MB demo, B bytes/item, W wakeups/s hovering, S ms start delay
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dll=""
extra=()
while [ $# -gt 0 ]; do
    case "$1" in
        --dll) dll=$(realpath "$2"); shift 2 ;;
        --rounds|--hover-seconds) extra+=("$1" "$2"); shift 2 ;;
        -h|--help) sed -n 2,8p "$0"; exit 0 ;;
        *) echo "bench-footprint: unknown option $1" >&2; exit 2 ;;
    esac
done
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      >/dev/null
cmake --build "$root/build/win32" -j2 --target FeedMarquee blackbox >/dev/null
[ -n "$dll" ] || dll="$root/build/win32/FeedMarquee.dll"
. "$root/scripts/wine-session.sh"
python3 "$root/bench/footprint.py" --root "$root" --shell "$root/build/win32/shell/blackbox.exe" \
    --dll "$dll" --out "$root/out/footprint" "${extra[@]}"
