#!/bin/bash
# Builds the release configuration of FeedMarquee.dll and writes the release archive:
#   out/release/FeedMarquee-<version>.zip          the DLL (stripped) and the texts for users
#   out/release/FeedMarquee-<version>.zip.sha256   its SHA-256, as sha256sum prints it
#   out/release/FeedMarquee-<version>.dll.debug    the DLL's symbols, for reading crash reports
# The same checkout gives the same bytes every time: the DLL carries no build folders and a fixed
# time stamp, and the archive's entries have fixed dates, attributes and order.
#
# scripts/package.sh [--build DIR] [--out DIR]
#   --build  the Windows build folder to build in and take the DLL from (default build/win32, the
#            one scripts/test.sh builds; it is configured for Release when it does not exist yet)
#   --out    where the three files go (default out/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
out=$root/out/release
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: scripts/package.sh [--build DIR] [--out DIR]" >&2; exit 2 ;;
    esac
done
cd "$root"

if ! command -v i686-w64-mingw32-g++-posix >/dev/null || ! command -v python3 >/dev/null; then
    scripts/setup.sh
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ "$build_type" != Release ]; then
    echo "package: $build is configured for '$build_type', not Release" >&2
    exit 1
fi
cmake --build "$build" --target FeedMarquee -j"${FM_JOBS:-2}" >/dev/null

number() { sed -n "s/^#define FM_VERSION_$1 \([0-9][0-9]*\)\$/\1/p" release/version.h; }
version=$(number MAJOR).$(number MINOR).$(number PATCH)
release_date=$(sed -n 's/^#define FM_RELEASE_DATE "\([0-9-]*\)"$/\1/p' release/version.h)
if [[ ! $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ || -z $release_date ]]; then
    echo "package: release/version.h gives no version and release date" >&2
    exit 1
fi
if [ "$(sed -n '/^[0-9]/{p;q}' release/CHANGES.txt)" != "$version ($release_date)" ]; then
    echo "package: release/CHANGES.txt does not start with \"$version ($release_date)\"" >&2
    exit 1
fi

mkdir -p "$out"
name=FeedMarquee-$version
python3 - "$build/FeedMarquee.dll" "$out/$name.zip" "$version" "$release_date" <<'EOF'
import os, sys, zipfile

dll, archive, version, release_date = sys.argv[1:]
year, month, day = (int(part) for part in release_date.split("-"))

def text(name):
    # Texts for Windows users: CRLF line ends, the version filled in, and a byte-order mark
    # where they are not plain ASCII, so that older editors read them as UTF-8.
    with open(os.path.join("release", name), encoding="utf-8") as f:
        content = f.read().replace("@VERSION@", version)
    content = content.replace("\r\n", "\n").replace("\n", "\r\n")
    return content.encode("utf-8-sig" if not content.isascii() else "ascii")

with open(dll, "rb") as f:
    entries = [("FeedMarquee.dll", f.read())]
entries += [(name, text(name)) for name in
            ("README.txt", "CHANGES.txt", "feedmarquee.rc.sample", "LICENSES.txt")]

partial = archive + ".partial"
with zipfile.ZipFile(partial, "w") as zip:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=(year, month, day, 0, 0, 0))
        info.create_system = 0  # MS-DOS attributes: none set, the files are plain
        info.external_attr = 0
        info.compress_type = zipfile.ZIP_DEFLATED
        zip.writestr(info, data, compresslevel=9)
os.replace(partial, archive)
EOF
cp "$build/FeedMarquee.dll.debug" "$out/$name.dll.debug.partial"
mv "$out/$name.dll.debug.partial" "$out/$name.dll.debug"
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256.partial" &&
    mv "$name.zip.sha256.partial" "$name.zip.sha256")

echo "package: $out/$name.zip"
cat "$out/$name.zip.sha256"
