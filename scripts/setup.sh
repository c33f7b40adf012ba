#!/bin/bash
# Installs what the build and the tests need, once, and prepares the Wine prefix. Idempotent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# The fonts give the tests and the demo real glyphs for Latin, Cyrillic, Greek, Hebrew, Arabic,
# Devanagari, Thai, CJK and emoji (Symbola in one colour, which this Wine draws); Wine lists every
# font fontconfig knows, so they need no step of their own in the prefix.
need=()
dpkg --print-foreign-architectures | grep -qx i386 || need_arch=1
for p in cmake make g++ clang libclang-rt-14-dev g++-mingw-w64-i686-posix wine wine32:i386 wine64 \
         xvfb x11-utils libexpat1-dev libxml2-dev curl python3 \
         libz-mingw-w64-dev zlib1g-dev libidn2-dev openssl libssl-dev rapidjson-dev winbind \
         fontconfig fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji fonts-symbola; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ "${need_arch:-0}" = 1 ] || [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

. "$here/wine-env.sh"
# Create the prefix once; wineboot can take a while the first time.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 </dev/null || true
    wineserver -w >/dev/null 2>&1 || true
fi
