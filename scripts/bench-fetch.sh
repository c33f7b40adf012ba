#!/bin/bash
# Download benchmark of the HTTP client: one native loopback server answers "/10" (10 MB) and
# "/100" (100 MB), and "/100n" (100 MB without a Content-Length line); curl --http1.0 fetches both natively for context, then fetch_bench runs under
# Wine against the same server (fetchUrl and a bare Winsock receive loop) and prints every figure.
# Needs the Windows build (build/win32/fetch_bench.exe) and python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/win32/fetch_bench.exe"
[ -f "$bench" ] || { echo "build the Windows build first: $bench is missing" >&2; exit 1; }

# The Wine session first: its exit trap is in place before anything is started.
. "$root/scripts/wine-session.sh"
portfile=$(mktemp)
trap 'rm -f "$portfile"; fm_wine_session_end' EXIT
python3 - "$portfile" <<'PY' &
import socket, sys, threading
header = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %d\r\n\r\n"
bodies = {size: (header % (size << 20)).encode() + b"x" * (size << 20) for size in (10, 100)}
# The same 100 MB without a Content-Length line: the client cannot size its buffer up front.
unannounced = b"HTTP/1.0 200 OK\r\n\r\n" + b"x" * (100 << 20)
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
listener.settimeout(600)  # the server ends when nobody has come for ten minutes
with open(sys.argv[1], "w") as f:
    f.write(str(listener.getsockname()[1]))
def serve(client):
    with client:
        client.settimeout(30)
        request = b""
        while b"\r\n\r\n" not in request and len(request) < 8192:
            chunk = client.recv(4096)
            if not chunk:
                return
            request += chunk
        if request.startswith(b"GET /100n"):
            client.sendall(unannounced)
        else:
            client.sendall(bodies[100 if request.startswith(b"GET /100") else 10])
        client.shutdown(socket.SHUT_WR)
while True:
    try:
        client, _ = listener.accept()
    except (socket.timeout, OSError):
        break
    threading.Thread(target=serve, args=(client,), daemon=True).start()
PY
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$portfile"; fm_wine_session_end' EXIT
for _ in $(seq 100); do [ -s "$portfile" ] && break; sleep 0.1; done
[ -s "$portfile" ] || { echo "the loopback server did not start" >&2; exit 1; }
port=$(cat "$portfile")

# The best of three curl runs per size, in seconds.
curl_best() {
    local best=""
    for _ in 1 2 3; do
        t=$(curl --http1.0 -s -o /dev/null -w '%{time_total}' "http://127.0.0.1:$port/$1")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best"
}
curl10=$(curl_best 10)
curl100=$(curl_best 100)

cd "$(dirname "$bench")"
"$root/scripts/wine-run.sh" "$bench" "$port" "$curl10" "$curl100" </dev/null
