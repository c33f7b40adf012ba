# Sourced: the environment every Wine run of the project uses.
: "${FM_ROOT:=$(cd "$(dirname "${BASH_SOURCE:-$0}")/.." 2>/dev/null && pwd)}"
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-feedmarquee}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export LC_ALL=C.UTF-8
export DISPLAY="${DISPLAY:-:97}"
