#!/bin/bash
# Builds the benchmarks natively in a separate optimised build without sanitizers (build/bench)
# and runs them. They print figures; nothing is asserted.
#   usage: scripts/bench.sh          (CC/CXX choose the compiler; clang when available)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -z "${CXX:-}" ] && command -v clang++ >/dev/null; then
    export CC=clang CXX=clang++
fi
for p in cmake libexpat1-dev libxml2-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || { scripts/setup.sh; break; }
done
cmake -S . -B build/bench -DFM_NATIVE=ON -DFM_SANITIZE=OFF -DFM_FUZZ=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench --target parse_bench -j"${FM_JOBS:-2}" >/dev/null
build/bench/bench/parse_bench
