#!/bin/bash
# The https fetch benchmark: a native loopback server answers a 1 MB and a 10 MB RSS feed, plain
# and gzip-compressed, over http and over https (a certificate made by the openssl command, its
# authority trusted in the Wine prefix); native curl fetches each address, then
# https_fetch_bench.exe fetches and parses the same addresses under Wine and prints every figure,
# last line "https fetch/curl ratio on 10 MB: R". Builds what it needs in build/win32.
#   scripts/bench-https.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
build="$root/build/win32"
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j2 --target https_fetch_bench trust_root >/dev/null
certificates="$build/test-certificates"
"$root/tests/feed/make-test-certificates.sh" "$certificates"

work=$(mktemp -d)
server=""
stop() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    [ -n "$server" ] && wait "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
python3 - "$certificates" "$work/ports" <<'PY' &
import gzip, socket, ssl, sys, threading, time
def feed(size):
    items, n = [], 0
    while sum(map(len, items)) < size:
        n += 1
        items.append(("<item><title>Headline number %d about the harbour</title>"
                      "<link>https://example.org/news/%d</link>"
                      "<pubDate>Mon, 07 Dec 2026 09:30:00 GMT</pubDate>"
                      "<description>&lt;p&gt;Story %d: %s&lt;/p&gt;</description></item>\n"
                      % (n, n, n, "the council met and decided things " * 12)).encode())
    return (b'<?xml version="1.0"?><rss version="2.0"><channel><title>Bench</title>\n'
            + b"".join(items) + b"</channel></rss>\n")
bodies = {}
for mb in (1, 10):
    plain = feed(mb * 1000 * 1000)
    bodies["/%d.xml" % mb] = (plain, b"")
    bodies["/%d.xml.gz" % mb] = (gzip.compress(plain, 6), b"Content-Encoding: gzip\r\n")
def serve(conn):
    with conn:
        conn.settimeout(60)
        request = b""
        while b"\r\n\r\n" not in request and len(request) < 65536:
            piece = conn.recv(4096)
            if not piece:
                return
            request += piece
        path = request.split(b" ")[1].decode()
        body, extra = bodies.get(path, (b"missing", b""))
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n%s\r\n" % (len(body), extra) + body)
def listen(context):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    def loop():
        while True:
            raw, _ = listener.accept()
            def run(raw=raw):
                try:
                    serve(context.wrap_socket(raw, server_side=True) if context else raw)
                except (OSError, ssl.SSLError):
                    pass
            threading.Thread(target=run, daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()
    return listener.getsockname()[1]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1] + "/https.pem", sys.argv[1] + "/https.key")
ports = "%d %d\n" % (listen(None), listen(context))
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(ports)
import os
os.replace(sys.argv[2] + ".tmp", sys.argv[2])
time.sleep(1800)  # the server ends with the script, or after half an hour
PY
server=$!
for _ in $(seq 300); do [ -s "$work/ports" ] && break; sleep 0.1; done
[ -s "$work/ports" ] || { echo "bench: the server did not start" >&2; exit 1; }
read -r http_port https_port < "$work/ports"

# curl's median time for each address, in the benchmark's order.
curl_times=()
for address in "https://localhost:$https_port/10.xml" "https://localhost:$https_port/10.xml.gz" \
               "https://localhost:$https_port/1.xml" "https://localhost:$https_port/1.xml.gz" \
               "http://localhost:$http_port/10.xml" "http://localhost:$http_port/10.xml.gz" \
               "http://localhost:$http_port/1.xml" "http://localhost:$http_port/1.xml.gz"; do
    times=()
    for _ in $(seq "$rounds"); do
        times+=("$(curl -s --compressed --cacert "$certificates/ca.pem" -o /dev/null \
                   -w '%{time_total}' "$address")")
    done
    curl_times+=("$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (rounds + 1) / 2 ))p")")
done

. "$root/scripts/wine-session.sh"
trap 'stop; fm_wine_session_end' EXIT
wine "$build/tests/feed/trust_root.exe" "$(winepath -w "$certificates/ca.der")" </dev/null
echo "curl $(curl --version | head -1 | cut -d' ' -f2), $rounds rounds, medians"
wine "$build/https_fetch_bench.exe" "$http_port" "$https_port" "$rounds" "${curl_times[@]}" \
    </dev/null
