#!/bin/bash
# Builds the benchmarks natively in a separate optimised build without sanitizers (build/bench)
# and runs them. They print figures; nothing is asserted. Then, when Wine and MinGW are at hand,
# the parse as it ships: the same 10 MB RSS response parsed by the optimised Windows build
# (build/bench-win32) under Wine and by the native build, the two taking turns for ROUNDS rounds
# so that a change in the machine's load falls on both; each round's shipped/native ratio is taken
# and their median gives the last line, "shipped/native parse ratio on 10 MB: R". The machine's
# load is printed beside each round.
#   usage: scripts/bench.sh [ROUNDS]   (CC/CXX choose the compiler; clang when available;
#                                      WINEPREFIX/DISPLAY as for the tests; default 5 rounds)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rounds=${1:-5}
if [ -z "${CXX:-}" ] && command -v clang++ >/dev/null; then
    export CC=clang CXX=clang++
fi
for p in cmake libexpat1-dev libxml2-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || { scripts/setup.sh; break; }
done
cmake -S . -B build/bench -DFM_NATIVE=ON -DFM_SANITIZE=OFF -DFM_FUZZ=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench --target parse_bench parse_file_bench -j"${FM_JOBS:-2}" >/dev/null
build/bench/bench/parse_bench

if ! command -v wine >/dev/null || ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    echo "shipped build: not measured (Wine and MinGW-w64 are needed)"
    exit 0
fi
(unset CC CXX
 [ -f build/bench-win32/CMakeCache.txt ] ||
     cmake -S . -B build/bench-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
         -DCMAKE_BUILD_TYPE=Release >/dev/null
 cmake --build build/bench-win32 --target parse_file_bench -j"${FM_JOBS:-2}" >/dev/null)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/bench/parse_bench --write-documents "$work" >/dev/null
. scripts/wine-session.sh
trap 'fm_wine_session_end; rm -rf "$work"' EXIT
document="$work/bench-10MB.http"
figure() { sed -n 's/^parseFeed MB\/s: \([0-9.]*\).*/\1/p'; }
echo
echo "The 10 MB RSS response, native and shipped (Windows build under Wine) taking turns:"
native=() shipped=() ratios=()
for round in $(seq "$rounds"); do
    n=$(build/bench/bench/parse_file_bench "$document" 1.5 | figure)
    w=$(wine build/bench-win32/parse_file_bench.exe "Z:${document//\//\\}" 1.5 | tr -d '\r' |
        figure)
    native+=("$n") shipped+=("$w")
    ratios+=("$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%.4f", w / n }')")
    printf '  round %d: native %8.1f MB/s, shipped %8.1f MB/s   (load %s)\n' "$round" "$n" "$w" \
        "$(cut -d' ' -f1-3 /proc/loadavg)"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
n=$(median "${native[@]}") w=$(median "${shipped[@]}") r=$(median "${ratios[@]}")
printf 'medians: native %.1f MB/s, shipped %.1f MB/s\n' "$n" "$w"
printf 'shipped/native parse ratio on 10 MB: %.2f\n' "$r"
