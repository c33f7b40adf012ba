#!/bin/bash
# The README's picture of "together" mode: serves three small feeds on 127.0.0.1, starts the
# stand-in shell with the plug-in showing all three favourites in one list under Xvfb, marks one
# item new (a later answer adds it) and writes docs/together.png from the window's pixels. With
# --scripts the five feeds are written in Hebrew, Arabic, Japanese, Hindi and English, and the
# picture is docs/together-scripts.png.
#   scripts/screenshot-together.sh [--scripts] [OUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scripts=0
if [ "${1:-}" = --scripts ]; then
    scripts=1
    shift
fi
png=${1:-$root/docs/together.png}
[ "$scripts" = 1 ] && png=${1:-$root/docs/together-scripts.png}
cmake --build "$root/build/win32" -j2 --target FeedMarquee blackbox >/dev/null
out=$(mktemp -d)
mkdir -p "$out/feeds"
feed() { # name title items... (each "title|date")
    local file=$1 title=$2
    shift 2
    {
        echo "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>$title</title>"
        for item in "$@"; do
            local name=${item%%|*}
            echo "<item><title>$name</title><link>http://example.com/${name// /-}</link>"
            echo "<description>${item%%|*}.</description><pubDate>${item##*|}</pubDate></item>"
        done
        echo "</channel></rss>"
    } > "$out/feeds/$file"
}
if [ "$scripts" = 1 ]; then
    feed hebrew.xml "חדשות הנמל" \
        "המעבורת החדשה יוצאת לדרך הבוקר|Tue, 08 Dec 2026 09:50:00 GMT" \
        "שוק הדגים נפתח שעה מוקדם יותר|Mon, 07 Dec 2026 15:00:00 GMT"
    feed arabic.xml "أخبار الميناء" \
        "افتتاح سوق السمك الجديد على الواجهة البحرية|Tue, 08 Dec 2026 09:20:00 GMT"
    feed japanese.xml "港町ニュース" \
        "冬のフェリー時刻表が変わります|Tue, 08 Dec 2026 08:45:00 GMT"
    feed hindi.xml "बंदरगाह समाचार" \
        "नई नौका सेवा आज से शुरू हुई|Tue, 08 Dec 2026 08:10:00 GMT"
    feed english.xml "Harbour Town Gazette" \
        "Lighthouse restoration wins a grant|Tue, 08 Dec 2026 07:15:00 GMT"
fi
feed harbour.xml "Harbour Town Gazette" \
    "Ferry timetable changes for the winter|Tue, 08 Dec 2026 09:40:00 GMT" \
    "Lighthouse restoration wins a grant|Tue, 08 Dec 2026 07:15:00 GMT" \
    "Fish market opens an hour earlier|Mon, 07 Dec 2026 16:05:00 GMT"
feed science.xml "Science Weekly" \
    "Comet visible to the naked eye this week|Tue, 08 Dec 2026 08:55:00 GMT" \
    "A new species of moss found on the coast|Mon, 07 Dec 2026 18:30:00 GMT"
feed dev.xml "Dev Notes" \
    "Release 4.2 is out|Tue, 08 Dec 2026 06:20:00 GMT" \
    "Why we moved our builds to two cores|Mon, 07 Dec 2026 12:00:00 GMT"
(cd "$out/feeds" && exec python3 -m http.server --bind 127.0.0.1 0 > "$out/server.log" 2>&1) &
server_pid=$!
shell_pid=""
cleanup() {
    kill "$server_pid" 2>/dev/null || true
    [ -n "$shell_pid" ] && kill "$shell_pid" 2>/dev/null || true
    rm -rf "$out"
}
trap cleanup EXIT
port=""
for _ in $(seq 50); do
    port=$(grep -o 'port [0-9]*' "$out/server.log" 2>/dev/null | head -1 | cut -d' ' -f2 || true)
    [ -n "$port" ] && break
    sleep 0.1
done
base="http://127.0.0.1:$port"
cp "$root/build/win32/shell/blackbox.exe" "$root/build/win32/FeedMarquee.dll" "$out/"
cat > "$out/feedmarquee.rc" <<RC
feedmarquee.x: 40
feedmarquee.y: 40
feedmarquee.width: 400
feedmarquee.height: 150
feedmarquee.show: together
feedmarquee.showDate: true
feedmarquee.showUpdateTime: true
feedmarquee.showBorder: true
feedmarquee.highlight: 0
feedmarquee.fav0.url: $base/harbour.xml
feedmarquee.fav0.title: Harbour
feedmarquee.fav1.url: $base/science.xml
feedmarquee.fav1.title: Science
feedmarquee.fav2.url: $base/dev.xml
RC
if [ "$scripts" = 1 ]; then
    cat > "$out/feedmarquee.rc" <<RC
feedmarquee.x: 40
feedmarquee.y: 40
feedmarquee.width: 440
feedmarquee.height: 150
feedmarquee.fontHeight: 15
feedmarquee.show: together
feedmarquee.showDate: true
feedmarquee.abbreviatedDate: true
feedmarquee.showBorder: true
feedmarquee.highlight: 0
feedmarquee.fav0.url: $base/hebrew.xml
feedmarquee.fav0.title: חדשות
feedmarquee.fav1.url: $base/arabic.xml
feedmarquee.fav1.title: أخبار
feedmarquee.fav2.url: $base/japanese.xml
feedmarquee.fav2.title: 港町
feedmarquee.fav3.url: $base/hindi.xml
feedmarquee.fav3.title: समाचार
feedmarquee.fav4.url: $base/english.xml
feedmarquee.fav4.title: Gazette
RC
fi

export DISPLAY=${DISPLAY:-:96}
. "$root/scripts/wine-session.sh"
trap 'cleanup; fm_wine_session_end' EXIT
mkfifo "$out/control"
(cd "$out" && exec wine blackbox.exe --control FeedMarquee.dll < "$out/control" \
    > "$out/shell.out" 2> "$out/shell.err") &
shell_pid=$!
exec 3> "$out/control"
n=0
ask() {
    n=$((n + 1))
    echo "$1" >&3
    for _ in $(seq 300); do
        grep -qE "^(ok|error) $n( |\$)" "$out/shell.out" 2>/dev/null && break
        sleep 0.1
    done
}
for _ in $(seq 300); do grep -q '^ready' "$out/shell.out" 2>/dev/null && break; sleep 0.1; done
sleep 2
# A new headline arrives: it is drawn in bold and counted in the header.
[ "$scripts" = 1 ] && feed hebrew.xml "חדשות הנמל" \
    "אזהרת סערה לנמל הלילה|Tue, 08 Dec 2026 10:30:00 GMT" \
    "המעבורת החדשה יוצאת לדרך הבוקר|Tue, 08 Dec 2026 09:50:00 GMT" \
    "שוק הדגים נפתח שעה מוקדם יותר|Mon, 07 Dec 2026 15:00:00 GMT"
feed harbour.xml "Harbour Town Gazette" \
    "Storm warning for the harbour tonight|Tue, 08 Dec 2026 10:30:00 GMT" \
    "Ferry timetable changes for the winter|Tue, 08 Dec 2026 09:40:00 GMT" \
    "Lighthouse restoration wins a grant|Tue, 08 Dec 2026 07:15:00 GMT" \
    "Fish market opens an hour earlier|Mon, 07 Dec 2026 16:05:00 GMT"
ask "broadcast @FeedMarqueeUpdateNow"
sleep 2
ask "screenshot plugin $(winepath -w "$out/together.bmp")"
python3 "$root/tools/bmp-to-png.py" "$out/together.bmp" "$png"
ask "quit"
exec 3>&-
wait "$shell_pid" 2>/dev/null || true
shell_pid=""
echo "screenshot: $png"
