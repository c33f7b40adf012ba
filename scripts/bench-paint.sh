#!/bin/bash
# Painting benchmark: builds the Windows build and paints lists of 100 to 100,000
# entries under Wine, printing the median time per paint.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/win32" -j2 --target paint_bench >/dev/null
. "$root/scripts/wine-session.sh"
cd "$root/build/win32"
wine ./paint_bench.exe </dev/null
