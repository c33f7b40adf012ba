#!/bin/bash
# Runs a Windows test program under Wine beside the feed servers of feed_test_server.py: makes the
# certificates (once per build folder), trusts their authority in the test prefix with
# trust_root.exe, starts the servers on 127.0.0.1 and passes their ports in FM_PORT_<NAME>
# variables (Wine hands the environment on). The servers stop on every exit path.
# Usage: run-with-feed-servers.sh CERT_DIR TRUST_ROOT_EXE PROGRAM [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../../scripts/wine-run.sh"
certs=$1 trust=$2
shift 2
"$here/make-test-certificates.sh" "$certs"
"$runner" "$trust" "Z:$certs/ca.der"

ports=$(mktemp)
rm -f "$ports"
python3 "$here/feed_test_server.py" "$certs" "$ports" 900 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$ports"' EXIT
for _ in $(seq 100); do [ -s "$ports" ] && break; sleep 0.1; done
[ -s "$ports" ] || { echo "feed servers did not start" >&2; exit 1; }
while read -r name port; do
    export "FM_PORT_${name^^}=$port"
done < "$ports"
"$runner" "$@"
