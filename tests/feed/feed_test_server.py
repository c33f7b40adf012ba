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
import os
import socket
import ssl
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


def answer_login(conn, path, query, request):
    """/auth/basic, /auth/digest-md5, /auth/digest-sha256, /auth/digest-stale answer the feed to
    ACCOUNT's login (or, with ?LOCATION, redirect there once logged in); /auth/ntlm asks for NTLM
    or Negotiate and never lets in. /auth/seen?ROUTE lists the Authorization lines ROUTE was sent."""
    if path == "/auth/seen":
        seen = authorizations.get("/auth/" + query, [])
        send_page(conn, "200 OK", "\n".join(seen).encode("latin-1"), ("Content-Type: text/plain",))
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
        challenge = "Negotiate\r\nWWW-Authenticate: NTLM"
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
