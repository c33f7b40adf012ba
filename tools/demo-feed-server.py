#!/usr/bin/env python3
"""A sample RSS 2.0 feed on 127.0.0.1 for the demo: a small newsroom that publishes a new headline
every minute, so the plug-in's periodic updates can be watched. Stops by itself after --lifetime
seconds (default: one hour) so that a forgotten demo does not keep a port open forever."""
import argparse
import email.utils
import hashlib
import http.server
import ssl
import sys
import threading
import time

HEADLINES = [
    ("City council approves the riverside cycle path", "The vote was 7 to 2 after a three-hour session; work starts in March."),
    ("Q&A: what the new recycling rules mean for you", "Glass goes in the green bin from next month &mdash; here is the rest."),
    ("Library extends weekend opening hours", "Saturday and Sunday opening now runs until 8 p.m. at the central branch."),
    ("Local bakery wins national sourdough prize", "Judges praised the \u201ccrackling crust\u201d of the three-generation family bakery."),
    ("Storm warning lifted as winds ease overnight", "Ferries resume their normal timetable from 6 a.m.; some delays remain."),
    ("School robotics team heads to the finals", "Twelve students built a rover that sorts litter by material."),
    ("Market square to go car-free on Sundays", "A six-month trial begins on the first Sunday of the new year."),
    ("Hospital opens a new children's ward", "Forty beds, a playroom and a rooftop garden for young patients."),
    ("Tram line 4 reopens after track renewal", "Services run every 7 minutes again between the station and the harbour."),
    ("Winter festival programme announced", "Ice rink, lantern walk and 60 stalls from 12 to 23 December."),
    ("Museum returns a 300-year-old map to the archive", "The map shows the town < 2 km across, before the walls came down."),
    ("Football: late goal sends United top of the table", "A header in the 89th minute settled a tense derby 2&ndash;1."),
]

def build_feed(started, port):
    now = time.time()
    published = int((now - started) // 60) + 5  # five headlines at start, one more each minute
    items = []
    for n in range(published, max(published - 20, 0), -1):
        title, desc = HEADLINES[(n - 1) % len(HEADLINES)]
        stamp = started + (n - 5) * 60 if n > 5 else started - (5 - n) * 3600
        items.append(
            "  <item>\n"
            f"    <title>{escape(title)}</title>\n"
            f"    <link>{LINK_BASE}:{port}/news/{n}</link>\n"
            f"    <guid isPermaLink=\"false\">tag:demo.feedmarquee,2026:{n}</guid>\n"
            f"    <pubDate>{email.utils.formatdate(stamp, localtime=False)}</pubDate>\n"
            f"    <description><![CDATA[<p><b>Story {n}.</b> {desc}</p>]]></description>\n"
            "  </item>\n")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<rss version="2.0">\n<channel>\n'
            '  <title>Harbour Town Daily</title>\n'
            f'  <link>{LINK_BASE}:{port}/</link>\n'
            '  <description>News from Harbour Town, updated every minute</description>\n'
            + "".join(items) + "</channel>\n</rss>\n").encode("utf-8")

# The links' scheme and host: https://localhost when the feed is served over TLS.
LINK_BASE = "http://127.0.0.1"

def entity_tag(body):
    return '"' + hashlib.sha1(body).hexdigest()[:16] + '"'

def etag_matches(header, etag):
    """If-None-Match: a list of tags (weak ones compare by their opaque part) or "*"."""
    if not header:
        return False
    for tag in header.split(","):
        tag = tag.strip()
        if tag == "*" or tag.removeprefix("W/") == etag:
            return True
    return False

def build_atom(started, port):
    """The same newsroom as an Atom 1.0 feed (any path ending in .atom): relative links under the
    feed's xml:base, an alternate link among others per entry, html titles and summaries, and every
    fourth entry without a title, named by its summary."""
    now = time.time()
    published = int((now - started) // 60) + 5
    entries = []
    for n in range(published, max(published - 20, 0), -1):
        title, desc = HEADLINES[(n - 1) % len(HEADLINES)]
        stamp = started + (n - 5) * 60 if n > 5 else started - (5 - n) * 3600
        when = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(stamp))
        title_element = "" if n % 4 == 0 else f'    <title type="html">{escape(escape(title))}</title>\n'
        entries.append(
            "  <entry>\n" + title_element +
            f'    <link rel="replies" href="news/{n}#comments"/>\n'
            f'    <link rel="alternate" type="text/html" href="news/{n}"/>\n'
            f"    <id>tag:demo.feedmarquee,2026:atom-{n}</id>\n"
            f"    <updated>{when}</updated>\n"
            f'    <summary type="html">{escape(f"<p><b>Story {n}.</b> {desc}</p>")}</summary>\n'
            "  </entry>\n")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<feed xmlns="http://www.w3.org/2005/Atom" xml:base="{LINK_BASE}:{port}/atom/">\n'
            '  <title type="html">Harbour Town Daily &amp;#8211; Atom</title>\n'
            '  <link rel="self" href="harbour-town.atom"/>\n'
            '  <link rel="alternate" href="./"/>\n'
            '  <id>tag:demo.feedmarquee,2026:atom</id>\n'
            f'  <updated>{time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(now))}</updated>\n'
            + "".join(entries) + "</feed>\n").encode("utf-8")

def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free port)")
    ap.add_argument("--lifetime", type=float, default=3600, help="seconds before the server stops")
    ap.add_argument("--served-log", help="file to which one line is appended per answered request")
    ap.add_argument("--tls-cert", help="serve https with this certificate (PEM; for localhost)")
    ap.add_argument("--tls-key", help="the certificate's private key (PEM)")
    args = ap.parse_args()
    started = time.time()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"
        def do_GET(self):
            atom = self.path.endswith(".atom")
            build = build_atom if atom else build_feed
            body = build(started, self.server.server_address[1])
            # The feed changes once a minute; its ETag names the content, so a client that sends
            # it back with If-None-Match gets a bodyless 304 until the next headline appears.
            etag = entity_tag(body)
            if etag_matches(self.headers.get("If-None-Match"), etag):
                self.send_response(304)
                self.send_header("ETag", etag)
                self.end_headers()
                status, body = 304, b""
            else:
                self.send_response(200)
                self.send_header("Content-Type", "application/atom+xml; charset=utf-8" if atom
                                 else "application/rss+xml; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("ETag", etag)
                self.end_headers()
                self.wfile.write(body)
                status = 200
            if args.served_log:
                with open(args.served_log, "a") as log:
                    log.write(f"{time.strftime('%H:%M:%S')} GET {self.path} {status} {len(body)} bytes\n")
        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.tls_cert:
        global LINK_BASE
        LINK_BASE = "https://localhost"
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)  # the caller reads the port from the first line
    threading.Timer(args.lifetime, server.shutdown).start()
    server.serve_forever()

if __name__ == "__main__":
    sys.exit(main())
