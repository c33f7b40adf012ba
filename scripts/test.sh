#!/bin/bash
# Runs every test: the Windows build under Wine (unit, end-to-end and system tests), the native
# build under AddressSanitizer and UBSan, and the fuzz targets for a bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
start=$(date +%s)
jobs=${FM_JOBS:-2}

cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j"$jobs"
CC=clang CXX=clang++ cmake -S . -B build/native -DFM_NATIVE=ON -DFM_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$jobs"

status=0
( cd build/native && ctest --output-on-failure -j"$jobs" ) || status=1

. scripts/wine-session.sh
# One at a time: the Windows tests share one desktop, one cursor and one window list.
( cd build/win32 && ctest --output-on-failure -j1 --timeout 600 ) || status=1
# The release archive: the packaging test made it with scripts/package.sh from this same build.
for sum in out/release/FeedMarquee-*.zip.sha256; do
    [ -f "$sum" ] && awk '{print "release: out/release/" $2 ", SHA-256 " $1}' "$sum"
done

FM_FUZZ_SECONDS=${FM_FUZZ_SECONDS:-10} scripts/fuzz.sh build/native || status=1

echo "test command finished in $(( $(date +%s) - start )) s, status $status"
exit $status
