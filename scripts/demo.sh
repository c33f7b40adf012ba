#!/bin/bash
# The main job: builds FeedMarquee.dll and the stand-in shell, serves a sample feed on 127.0.0.1
# (a new headline every minute) over https with a certificate made now, whose authority is trusted
# only in the demo's Wine prefix, starts the shell with the plug-in under Wine, waits until the
# first update has ended, writes a PNG screenshot of the plug-in window and prints the plug-in's
# health line (exit status 1 when the feed could not be shown).
#   scripts/demo.sh [--http] [--atom] [--feed URL] [--out DIR]
# --http serves the sample feed over plain http; --atom serves it as an Atom feed; --feed shows any
# http:// or https:// feed.
# With a display (DISPLAY set and reachable) the window stays up for you to use until you press
# Enter; without one the demo runs on Xvfb (on DISPLAY's number when it is set) and exits after
# the screenshot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
feed=""
scheme=https
atom=""
out="$root/out/demo"
while [ $# -gt 0 ]; do
    case "$1" in
        --feed) feed="$2"; shift 2 ;;
        --http) scheme=http; shift ;;
        --atom) atom=1; shift ;;
        --out) out="$2"; shift 2 ;;
        -h|--help) sed -n 2,12p "$0"; exit 0 ;;
        *) echo "demo: unknown option $1" >&2; exit 2 ;;
    esac
done
case "$feed" in ""|http://*|HTTP://*|https://*|HTTPS://*) ;;
    *) echo "demo: only http:// and https:// feeds can be fetched" >&2; exit 2 ;; esac

"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/win32" -j2 --target FeedMarquee blackbox trust_root >/dev/null

interactive=""
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    interactive=1
    export FM_KEEP_DISPLAY=1
else
    # A display that is named but not reachable is the one Xvfb is started on, so that several
    # demos or test runs each keep their own; with none named, :96.
    export DISPLAY=${DISPLAY:-:96}
fi

# The shell's folder: the shell, the plug-in, its settings file and the execute log.
rm -rf "$out"
mkdir -p "$out"
cp "$root/build/win32/shell/blackbox.exe" "$root/build/win32/FeedMarquee.dll" "$out/"

server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    [ -n "${shell_pid:-}" ] && kill "$shell_pid" 2>/dev/null || true
    rm -f "$out/control"
}
trap cleanup EXIT
certificates="$root/build/win32/demo-certificates"
if [ -z "$feed" ]; then
    tls=()
    if [ "$scheme" = https ]; then
        "$root/tests/feed/make-test-certificates.sh" "$certificates"
        tls=(--tls-cert "$certificates/https.pem" --tls-key "$certificates/https.key")
    fi
    python3 "$root/tools/demo-feed-server.py" --served-log "$out/served.log" "${tls[@]}" \
        > "$out/server.port" &
    server_pid=$!
    for _ in $(seq 50); do [ -s "$out/server.port" ] && break; sleep 0.1; done
    # The certificate names localhost; the plain server is reached by its address as before.
    host=127.0.0.1
    [ "$scheme" = https ] && host=localhost
    extension=xml
    [ -n "$atom" ] && extension=atom
    feed="$scheme://$host:$(head -1 "$out/server.port")/harbour-town.${extension}"
fi

cat > "$out/feedmarquee.rc" <<RC
feedmarquee.x: 40
feedmarquee.y: 40
feedmarquee.width: 380
feedmarquee.height: 330
feedmarquee.styleType: 1
feedmarquee.updateInterval(min): 1
feedmarquee.highlight: 1
feedmarquee.showDate: true
feedmarquee.datePosHead: true
feedmarquee.showItemCounts: true
feedmarquee.showUpdateTime: true
feedmarquee.showDesc: true
feedmarquee.wordWrap: true
feedmarquee.showBorder: true
feedmarquee.feedUrl: $feed
RC

. "$root/scripts/wine-session.sh"
trap 'cleanup; fm_wine_session_end' EXIT
if [ -f "$certificates/ca.der" ] && [ -n "$server_pid" ] && [ "$scheme" = https ]; then
    wine "$root/build/win32/tests/feed/trust_root.exe" "$(winepath -w "$certificates/ca.der")" \
        </dev/null
fi

mkfifo "$out/control"
(cd "$out" && exec wine blackbox.exe --control --exec-log execute.log FeedMarquee.dll \
    < "$out/control" > "$out/shell.out" 2> "$out/shell.err") &
shell_pid=$!
exec 3> "$out/control"
n=0
ask() { # sends one control line and waits for its terminator
    n=$((n + 1))
    echo "$1" >&3
    for _ in $(seq 300); do
        grep -qE "^(ok|error) $n( |\$)" "$out/shell.out" 2>/dev/null && break
        sleep 0.1
    done
    sed -n "/^\(ok\|error\) $((n - 1))\( \|\$\)/,\$p" "$out/shell.out" | grep -E "^- " || true
}
for _ in $(seq 300); do grep -q '^ready' "$out/shell.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$out/shell.out" || { echo "demo: the shell did not start" >&2; cat "$out/shell.err" >&2; exit 1; }

# The health line as the plug-in reports it through the shell's record, into line. ask counts its
# requests in n, so it runs in this shell, never in a pipe or a command substitution.
health() {
    ask "record-clear" >/dev/null
    ask "broadcast @FeedMarqueeHealth" >/dev/null
    ask "record" >"$out/record.txt"
    line=$(sed -n '/^- broadcast.*@FeedMarqueeHealthReport /{s///;p;q;}' "$out/record.txt")
}
# Wait for the end of the first pass: the plug-in gives up on a feed after 120 seconds at most.
line=""
for _ in $(seq 130); do
    health
    case "$line" in Updated*|"Not modified"*|Failed*|Moved*) break ;; esac
    sleep 1
done
ask "mouse move 30 60" >/dev/null
sleep 0.5
ask "screenshot plugin $(winepath -w "$out/feedmarquee.bmp")" >/dev/null
python3 "$root/tools/bmp-to-png.py" "$out/feedmarquee.bmp" "$out/feedmarquee.png"
shown=""
case "$line" in
    Updated*|"Not modified"*|Moved*) shown=1; echo "FeedMarquee is showing $feed" ;;
    Failed*) echo "FeedMarquee could not fetch $feed" ;;
    *) echo "FeedMarquee had no answer from $feed in time" ;;
esac
echo "health: ${line:-(none yet)}"
echo "screenshot: $out/feedmarquee.png"

if [ -n "$interactive" ]; then
    echo "The window is up: hover for the tooltip, double-click a headline (links go to"
    echo "$out/execute.log), right-click for the menu. Press Enter to quit."
    read -r _ || true
fi
ask "quit" >/dev/null
exec 3>&-
wait "$shell_pid" 2>/dev/null || true
shell_pid=""
[ -s "$out/execute.log" ] && { echo "links opened:"; cat "$out/execute.log"; }
[ -n "$shown" ]
