#!/bin/sh
# Runs a Windows program under Wine with the project's fixed environment. Used by ctest as the
# cross-compiling emulator; expects scripts/wine-env.sh to have started the wineserver.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
exec wine "$@"
