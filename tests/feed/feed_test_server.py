#!/usr/bin/env python3
"""Feed servers for the fetch tests, on 127.0.0.1 only: one plain http port and four https ports
(a trusted certificate, an expired one, one for another host, one from an unknown authority), all
answering the same routes, and a tunnelling proxy the way real servers answer: chunked, compressed, redirecting, stalling,
dribbling, endless. Writes "name port" lines to the ports file once listening. Every connection and
the whole server end on their own after bounded times.

usage: feed_test_server.py CERT_DIR PORTS_FILE [LIFETIME_SECONDS]
"""
import base64
import gzip
import hashlib
import hmac
import os
import socket
import ssl
import struct
import sys
import threading
import time
import zlib

FEED = (b'<?xml version="1.0" encoding="UTF-8"?>\n<rss version="2.0"><channel>'
        b'<title>Loopback Feed</title><link>http://example.invalid/</link>'
        b'<item><title>First headline</title><link>http://example.invalid/1</link>'
        b'<description>The first story.</description></item>'
        b'<item><title>Second headline</title><link>http://example.invalid/2</link></item>'
        b'</channel></rss>\n')
CONNECTION_LIMIT_S = 60
lock = threading.Lock()
connections = {"count": 0}
ports = {}
bomb = {}
# The one account of the login routes, and every Authorization each route was sent, in order.
ACCOUNT = ("reader", "s3cret p\u00e4ss")
authorizations = {}


def read_head(conn):
    """The request line and headers (at most 64 KiB); None when the peer closed first."""
    request = b""
    while b"\r\n\r\n" not in request and len(request) < 65536:
        piece = conn.recv(4096)
        if not piece:
            return None
        request += piece
    return request


def bomb_body():
    """1 GiB of zeros, gzip-compressed (about 1 MB), made once."""
    with lock:
        if "data" not in bomb:
            packer = zlib.compressobj(9, zlib.DEFLATED, 31)
            block = bytes(1 << 20)
            parts = [packer.compress(block) for _ in range(1024)]
            parts.append(packer.flush())
            bomb["data"] = b"".join(parts)
    return bomb["data"]


def head(status, headers=(), length=None):
    lines = ["HTTP/1.1 %s" % status]
    if length is not None:
        lines.append("Content-Length: %d" % length)
    lines += list(headers)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def send_page(conn, status, body, headers=("Content-Type: text/xml",)):
    conn.sendall(head(status, headers, len(body)) + body)


def wait_for_peer_close(conn, limit_s):
    """Keeps the connection open and silent until the peer closes or limit_s passes."""
    conn.settimeout(0.2)
    end = time.time() + limit_s
    while time.time() < end:
        try:
            if not conn.recv(4096):
                return
        except socket.timeout:
            continue
        except OSError:
            return


def header_value(request, name):
    for line in request.decode("latin-1").split("\r\n")[1:]:
        key, _, value = line.partition(":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


def digest_params(value):
    params = {}
    rest = value.split(" ", 1)[1] if " " in value else ""
    while rest:
        key, _, rest = rest.strip().partition("=")
        if rest.startswith('"'):
            end = 1
            while end < len(rest) and rest[end] != '"':
                end += 2 if rest[end] == "\\" else 1
            params[key.strip()] = rest[1:end].replace('\\"', '"')
            rest = rest[end + 1:].lstrip().lstrip(",")
        else:
            param, _, rest = rest.partition(",")
            params[key.strip()] = param.strip()
    return params


def digest_valid(value, algorithm, realm, nonce):
    """Checks a Digest answer (qop=auth) as a server computes it."""
    if not value.startswith("Digest "):
        return False
    p = digest_params(value)
    h = (lambda text: hashlib.new("md5" if algorithm == "MD5" else "sha256",
                                  text.encode("utf-8")).hexdigest())
    ha1 = h("%s:%s:%s" % (ACCOUNT[0], realm, ACCOUNT[1]))
    ha2 = h("GET:%s" % p.get("uri", ""))
    expected = h(":".join([ha1, nonce, p.get("nc", ""), p.get("cnonce", ""), "auth", ha2]))
    return (p.get("username") == ACCOUNT[0] and p.get("nonce") == nonce and
            p.get("qop") == "auth" and p.get("response") == expected)


def ntlm_challenge():
    """An NTLM challenge message (type 2) from domain TEST, server SERVER: Unicode, NTLM, extended
    session security, target information (without which Samba's client refuses it), and
    NTLM_SERVER_CHALLENGE."""
    def pair(kind, text):
        value = text.encode("utf-16-le")
        return struct.pack("<HH", kind, len(value)) + value
    target = "TEST".encode("utf-16-le")
    info = pair(2, "TEST") + pair(1, "SERVER") + struct.pack("<HH", 0, 0)
    flags = 0x00000001 | 0x00000200 | 0x00010000 | 0x00080000 | 0x00800000 | 0x02000000 | \
        0x20000000 | 0x80000000
    start = 56
    message = (b"NTLMSSP\0" + struct.pack("<I", 2) + struct.pack("<HHI", len(target), len(target), start) +
               struct.pack("<I", flags) + NTLM_SERVER_CHALLENGE + bytes(8) +
               struct.pack("<HHI", len(info), len(info), start + len(target)) +
               bytes.fromhex("0601b11d0000000f") + target + info)
    return base64.b64encode(message).decode()


def md4(data):
    """MD4 (RFC 1320), which NTLM hashes passwords with and this Python's hashlib may lack."""
    def rotate(x, n):
        return ((x << n) | (x >> (32 - n))) & 0xffffffff
    state = [0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476]
    data += b"\x80" + bytes((55 - len(data)) % 64) + struct.pack("<Q", len(data) * 8)
    rounds = (
        (lambda x, y, z: (x & y) | (~x & z), 0, (0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
         (3, 7, 11, 19)),
        (lambda x, y, z: (x & y) | (x & z) | (y & z), 0x5a827999,
         (0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), (3, 5, 9, 13)),
        (lambda x, y, z: x ^ y ^ z, 0x6ed9eba1,
         (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15), (3, 9, 11, 15)))
    for block in range(0, len(data), 64):
        words = struct.unpack("<16I", data[block:block + 64])
        a, b, c, d = state
        for function, constant, order, shifts in rounds:
            for i, k in enumerate(order):
                a = rotate((a + function(b, c, d) + words[k] + constant) & 0xffffffff, shifts[i % 4])
                a, b, c, d = d, a, b, c
        state = [(x + y) & 0xffffffff for x, y in zip(state, (a, b, c, d))]
    return struct.pack("<4I", *state)


NTLM_SERVER_CHALLENGE = bytes.fromhex("0123456789abcdef")


def ntlm_field(message, at):
    length, _, offset = struct.unpack("<HHI", message[at:at + 8])
    return message[offset:offset + length]


def ntlm_valid(message):
    """Checks an NTLMv2 authenticate message (type 3) against ACCOUNT, as a domain controller does."""
    user = ntlm_field(message, 36).decode("utf-16-le", "replace")
    domain = ntlm_field(message, 28).decode("utf-16-le", "replace")
    response = ntlm_field(message, 20)
    if user != ACCOUNT[0] or len(response) <= 16:
        return False
    password_hash = md4(ACCOUNT[1].encode("utf-16-le"))
    key = hmac.new(password_hash, (user.upper() + domain).encode("utf-16-le"), "md5").digest()
    proof = hmac.new(key, NTLM_SERVER_CHALLENGE + response[16:], "md5").digest()
    return hmac.compare_digest(proof, response[:16])


def answer_ntlm(conn, request):
    """NTLM or Negotiate on one kept-open connection: a negotiate message (type 1) gets a
    challenge, an authenticate message (type 3) with ACCOUNT's NTLMv2 response lets in."""
    while request is not None:
        given = header_value(request, "Authorization") or ""
        with lock:
            if given:
                authorizations.setdefault("/auth/ntlm", []).append(given)
        scheme, _, token = given.partition(" ")
        try:
            message = base64.b64decode(token)
        except ValueError:
            message = b""
        kind = struct.unpack("<I", message[8:12])[0] if message[:8] == b"NTLMSSP\0" else 0
        if kind == 1:
            conn.sendall(head("401 Unauthorized", ("WWW-Authenticate: %s %s" % (scheme, ntlm_challenge()),), 0))
            request = read_head(conn)
            continue
        if kind == 3 and len(message) >= 44 and ntlm_valid(message):
            send_page(conn, "200 OK", FEED)
            return
        conn.sendall(head("401 Unauthorized", ("WWW-Authenticate: Negotiate",
                                               "WWW-Authenticate: NTLM", "Connection: close"), 0))
        return


def answer_login(conn, path, query, request):
    """/auth/basic, /auth/digest-md5, /auth/digest-sha256, /auth/digest-stale answer the feed to
    ACCOUNT's login (or, with ?LOCATION, redirect there once logged in); /auth/ntlm is
    answer_ntlm. /auth/seen?ROUTE lists the Authorization lines ROUTE was sent."""
    if path == "/auth/seen":
        seen = authorizations.get("/auth/" + query, [])
        send_page(conn, "200 OK", "\n".join(seen).encode("latin-1"), ("Content-Type: text/plain",))
        return
    if path == "/auth/ntlm":
        answer_ntlm(conn, request)
        return
    given = header_value(request, "Authorization")
    with lock:
        if given is not None:
            authorizations.setdefault(path, []).append(given)
    location = query.replace("HTTPSPORT", str(ports["https"])).replace("HTTPPORT", str(ports["http"]))
    if not location.startswith(("http", "/")):
        location = ""
    nonce = "n" + hashlib.md5(path.encode()).hexdigest()
    if path == "/auth/basic":
        secret = ("%s:%s" % ACCOUNT).encode("utf-8")
        valid = given == "Basic " + base64.b64encode(secret).decode()
        challenge = 'Basic realm="Build server", charset="UTF-8"'
    elif path in ("/auth/digest-md5", "/auth/digest-sha256"):
        algorithm = "MD5" if path.endswith("md5") else "SHA-256"
        valid = given is not None and digest_valid(given, algorithm, "Digest realm", nonce)
        challenge = ('Digest realm="Digest realm", qop="auth", algorithm=%s, nonce="%s", '
                     'opaque="op"' % (algorithm, nonce))
    elif path == "/auth/digest-stale":
        # The first nonce has expired by the time it is answered: the right answer to it gets a
        # fresh nonce marked stale, and only an answer to that one lets in.
        valid = given is not None and digest_valid(given, "MD5", "Digest realm", "fresh")
        expired = given is not None and digest_valid(given, "MD5", "Digest realm", "first")
        challenge = 'Digest realm="Digest realm", qop="auth", nonce="%s"%s' % (
            "fresh" if expired else "first", ", stale=true" if expired else "")
    else:
        valid = False
        challenge = 'Basic realm="nowhere"'
    if not valid:
        send_page(conn, "401 Unauthorized", b"no", ("WWW-Authenticate: " + challenge,
                                                    "Content-Type: text/plain"))
    elif location:
        send_page(conn, "302 Found", b"", ("Location: " + location,))
    else:
        send_page(conn, "200 OK", FEED)


def answer(conn, scheme, path, request):
    # Servers take the absolute form too (some clients send it inside a proxy's tunnel).
    if path.startswith(("http://", "https://")):
        path = "/" + path.split("://", 1)[1].partition("/")[2]
    query = ""
    if "?" in path:
        path, query = path.split("?", 1)
    if path.startswith("/auth/"):
        answer_login(conn, path, query, request)
    elif path == "/feed":
        send_page(conn, "200 OK", FEED)
    elif path == "/empty":
        send_page(conn, "200 OK", b"")
    elif path == "/echo":
        send_page(conn, "200 OK", request, ("Content-Type: text/plain",))
    elif path == "/count":
        send_page(conn, "200 OK", str(connections["count"]).encode(), ("Content-Type: text/plain",))
    elif path == "/proxied":
        send_page(conn, "200 OK", str(connections.get("proxied", 0)).encode(),
                  ("Content-Type: text/plain",))
    elif path == "/validators":
        send_page(conn, "200 OK", FEED, ('ETag: "v1"', "Last-Modified: Mon, 07 Dec 2026 09:30:00 GMT",
                                         "Content-Type: application/rss+xml"))
    elif path == "/not-modified":
        conn.sendall(head("304 Not Modified", ('ETag: "v1"',)))
    elif path == "/chunked":
        conn.sendall(head("200 OK", ("Content-Type: text/xml", "Transfer-Encoding: chunked")))
        for i in range(0, len(FEED), 37):
            piece = FEED[i:i + 37]
            conn.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        conn.sendall(b"0\r\n\r\n")
    elif path in ("/gzip", "/deflate"):
        body = gzip.compress(FEED) if path == "/gzip" else zlib.compress(FEED)
        send_page(conn, "200 OK", body, ("Content-Type: text/xml",
                                         "Content-Encoding: " + path[1:]))
    elif path == "/bomb":
        send_page(conn, "200 OK", bomb_body(), ("Content-Type: text/xml", "Content-Encoding: gzip"))
    elif path == "/endless":
        conn.sendall(head("200 OK", ("Content-Type: text/xml",)))
        block = b"<item><title>again</title></item>" * 2000
        end = time.time() + CONNECTION_LIMIT_S
        while time.time() < end:
            conn.sendall(block)
    elif path == "/keep-open":
        send_page(conn, "200 OK", FEED)
        wait_for_peer_close(conn, CONNECTION_LIMIT_S)
    elif path == "/drip":
        conn.sendall(head("200 OK", ("Content-Type: text/xml",), len(FEED)))
        for i in range(min(len(FEED), CONNECTION_LIMIT_S)):
            conn.sendall(FEED[i:i + 1])
            time.sleep(1)
    elif path == "/stall":
        conn.sendall(head("200 OK", ("Content-Type: text/xml",), len(FEED)) + FEED[:20])
        wait_for_peer_close(conn, CONNECTION_LIMIT_S)
    elif path == "/huge-length":
        conn.sendall(head("200 OK", ("Content-Type: text/xml",), 4000000000) + FEED)
    elif path in ("/404", "/500"):
        status = "404 Not Found" if path == "/404" else "500 Internal Server Error"
        page = b"<html><head><title>%s</title></head><body><h1>%s</h1></body></html>" % (
            status.encode(), status.encode())
        send_page(conn, status, page, ("Content-Type: text/html",))
    elif path == "/redirect":
        # /redirect?CODE&LOCATION: LOCATION may name the ports as HTTPSPORT and HTTPPORT.
        code, location = query.split("&", 1)
        location = location.replace("HTTPSPORT", str(ports["https"])).replace(
            "HTTPPORT", str(ports["http"]))
        names = {"301": "Moved Permanently", "302": "Found", "303": "See Other",
                 "307": "Temporary Redirect", "308": "Permanent Redirect"}
        send_page(conn, "%s %s" % (code, names.get(code, "Redirect")), b"moved",
                  ("Location: " + location, "Content-Type: text/plain"))
    elif path.startswith("/hops/"):
        left = int(path[len("/hops/"):])
        if left <= 0:
            send_page(conn, "200 OK", FEED)
        else:
            send_page(conn, "302 Found", b"", ("Location: %d" % (left - 1),))
    elif path == "/raw":
        # /raw?HEX: the response's bytes as given, hex-encoded, then the close.
        conn.sendall(bytes.fromhex(query))
    elif path == "/long-location":
        # /long-location?N: a redirect to /echo whose address holds N letters before its end.
        location = "/echo?sig=%s&end=1" % ("A" * int(query))
        send_page(conn, "302 Found", b"", ("Location: " + location,))
    elif path == "/long-validators":
        # /long-validators?N: the feed with an ETag and a Last-Modified of N bytes each.
        n = int(query)
        send_page(conn, "200 OK", FEED, ('ETag: "%s"' % ("e" * (n - 2)), "Last-Modified: " + "m" * n,
                                         "Content-Type: text/xml"))
    elif path == "/huge-404":
        # A 404 announcing 34 MiB and sending it for as long as the peer reads.
        conn.sendall(head("404 Not Found", ("Content-Type: text/html",), 34 << 20))
        block = b"<p>not here</p>" * 4096
        for _ in range((34 << 20) // len(block)):
            conn.sendall(block)
    elif path == "/loop-a":
        send_page(conn, "302 Found", b"", ("Location: /loop-b",))
    elif path == "/loop-b":
        send_page(conn, "301 Moved Permanently", b"", ("Location: /loop-a",))
    else:
        send_page(conn, "404 Not Found", b"no such route", ("Content-Type: text/plain",))


def serve(raw, scheme, context):
    with lock:
        connections["count"] += 1
    conn = raw
    try:
        raw.settimeout(CONNECTION_LIMIT_S)
        if context is not None:
            conn = context.wrap_socket(raw, server_side=True)
        request = read_head(conn)
        if request is None:
            return
        line = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        if len(line) >= 2:
            answer(conn, scheme, line[1], request.split(b"\r\n\r\n", 1)[0] + b"\r\n\r\n")
    except (OSError, ssl.SSLError, ValueError):
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def pump(source, target, limit_s):
    source.settimeout(limit_s)
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        for sock in (source, target):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve_proxy(conn):
    """A forward proxy that only tunnels: CONNECT name:port reaches 127.0.0.1:port whatever the
    name, so that a client can only have reached an unresolvable name through it."""
    with lock:
        connections["proxied"] = connections.get("proxied", 0) + 1
    try:
        conn.settimeout(CONNECTION_LIMIT_S)
        request = read_head(conn)
        if request is None:
            return
        line = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        if len(line) < 2 or line[0] != "CONNECT":
            conn.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
            return
        upstream = socket.create_connection(("127.0.0.1", int(line[1].rsplit(":", 1)[1])), 10)
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        back = threading.Thread(target=pump, args=(upstream, conn, CONNECTION_LIMIT_S), daemon=True)
        back.start()
        pump(conn, upstream, CONNECTION_LIMIT_S)
        back.join(CONNECTION_LIMIT_S)
        upstream.close()
    except (OSError, ValueError, IndexError):
        pass
    finally:
        conn.close()


def listen(name, context):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    ports[name] = listener.getsockname()[1]

    def loop():
        while True:
            try:
                raw, _ = listener.accept()
            except OSError:
                return
            handler = serve_proxy if name == "proxy" else serve
            arguments = (raw,) if name == "proxy" else (raw, name, context)
            threading.Thread(target=handler, args=arguments, daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()


def tls_context(cert_dir, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(cert_dir, name + ".pem"),
                            os.path.join(cert_dir, name + ".key"))
    return context


def main():
    cert_dir, ports_file = sys.argv[1], sys.argv[2]
    lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 900
    listen("http", None)
    listen("proxy", None)
    for name in ("https", "expired", "otherhost", "untrusted"):
        listen(name, tls_context(cert_dir, name))
    with open(ports_file + ".tmp", "w") as f:
        for name, port in ports.items():
            f.write("%s %d\n" % (name, port))
    os.replace(ports_file + ".tmp", ports_file)
    time.sleep(lifetime)


if __name__ == "__main__":
    main()
