#!/bin/bash
# The README's picture of a formatted tooltip: runs the tooltip test that shows one under Xvfb and
# keeps the screen around the window and its tip as docs/formatted-tooltip.png.
#   scripts/screenshot-tooltip.sh [OUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
png=${1:-$root/docs/formatted-tooltip.png}
cmake --build "$root/build/win32" -j2 --target display_tooltip_test >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export DISPLAY=${DISPLAY:-:96}
. "$root/scripts/wine-session.sh"
trap 'rm -rf "$out"; fm_wine_session_end' EXIT
FM_TOOLTIP_SCREENSHOT=$(winepath -w "$out/tip.bmp") \
    "$root/scripts/wine-run.sh" "$root/build/win32/tests/display/display_tooltip_test.exe" \
    an_item_tip_with_markup
python3 "$root/tools/bmp-to-png.py" "$out/tip.bmp" "$png"
echo "screenshot: $png"
