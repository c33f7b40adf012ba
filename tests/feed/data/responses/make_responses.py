#!/usr/bin/env python3
# Writes the raw HTTP responses the response-stage tests read. Run once when a case changes and
# check the files in; the compressed ones use fixed settings (mtime 0) so they come out the same.
import gzip
import os
import zlib

here = os.path.dirname(os.path.abspath(__file__))

feed = (b'<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0"><channel>'
        b'<title>Loopback News</title>\n' +
        b''.join(b'<item><title>Headline %d</title><link>http://127.0.0.1/n/%d</link>'
                 b'<description>Story %d &amp; more</description></item>\n' % (i, i, i)
                 for i in range(40)) +
        b'</channel></rss>\n')


def write(name, data):
    with open(os.path.join(here, name), 'wb') as f:
        f.write(data)


def chunks(body, sizes, ext=b'', eol=b'\r\n'):
    out = b''
    at = 0
    for n, size in enumerate(sizes):
        part = body[at:at + size]
        at += size
        if not part:
            break
        head = b'%X' % len(part) if n % 2 else b'%x' % len(part)
        out += head + (ext if n % 3 == 1 else b'') + eol + part + eol
    rest = body[at:]
    if rest:
        out += b'%x' % len(rest) + eol + rest + eol
    return out


def gz(data):
    return gzip.compress(data, compresslevel=9, mtime=0)


def deflate_raw(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


write('feed.xml', feed)
crlf = b'\r\n'

write('chunked_extensions_trailer.http',
      b'HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml; charset=utf-8\r\n'
      b'Transfer-Encoding: chunked\r\nETag: "v1-chunk"\r\n\r\n' +
      chunks(feed, [1, 17, 300, 2, 1000], ext=b' ;name="a;b";x=1') +
      b'0;last=yes\r\nX-Checksum: 1234\r\nExpires: never\r\n\r\n')

write('chunked_bare_lf.http',
      b'HTTP/1.1 200 OK\nContent-Type: text/xml\ntransfer-encoding: Chunked\n\n' +
      chunks(feed, [500, 500, 500], eol=b'\n') + b'0\n\n')

write('gzip_length.http',
      b'HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Encoding: gzip\r\n'
      b'Content-Length: %d\r\nLast-Modified: Tue, 08 Dec 2026 03:00:00 GMT\r\n\r\n' % len(gz(feed)) +
      gz(feed))

write('gzip_chunked.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: x-gzip\r\nTransfer-Encoding: chunked\r\n\r\n' +
      chunks(gz(feed), [7, 100, 3]) + b'0\r\n\r\n')

# Two gzip members one after the other make one body; the second begins mid-stream.
half = len(feed) // 2
write('gzip_two_members_close.http',
      b'HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n' + gz(feed[:half]) + gz(feed[half:]))

write('deflate_zlib.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: %d\r\n\r\n'
      % len(zlib.compress(feed, 9)) + zlib.compress(feed, 9))

write('deflate_raw.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: Deflate\r\nContent-Length: %d\r\n\r\n'
      % len(deflate_raw(feed)) + deflate_raw(feed))

broken = bytearray(gz(feed))
for i in range(20, 60):
    broken[i] ^= 0x5a
write('gzip_broken.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n\r\n' % len(broken) +
      bytes(broken))

# The announced length ends in the middle of the compressed stream.
cut = gz(feed)[:-30]
write('gzip_cut_by_length.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n\r\n' % len(cut) + cut)

write('length_extra_bytes.http',
      b'HTTP/1.1 200 OK\r\nContent-Length: 25\r\nContent-Type: text/plain\r\n\r\n'
      b'exactly twenty-five bytesAND THEN SOME GARBAGE THE SERVER SHOULD NOT HAVE SENT')

write('not_modified_304.http',
      b'HTTP/1.1 304 Not Modified\r\nETag:   "v2"  \r\nContent-Length: 5000\r\n'
      b'Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n\r\n')

html = b'<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n'
write('not_found_404.http',
      b'HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n'
      % len(html) + html)

write('redirect_301.http',
      b'HTTP/1.1 301 Moved Permanently\r\nlocation:  http://127.0.0.1:8080/new/feed.xml \r\n'
      b'Content-Length: 0\r\n\r\n')

write('unavailable_503.http',
      b'HTTP/1.1 503 Service Unavailable\r\nRETRY-AFTER: 120\r\nConnection: close\r\n\r\n'
      b'try later\n')

write('continue_then_ok.http',
      b'HTTP/1.1 100 Continue\r\nContent-Type: wrong/interim\r\n\r\n'
      b'HTTP/1.1 103 Early Hints\r\nLink: </style.css>\r\n\r\n'
      b'HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n' % len(feed) + feed)

write('http10_until_close.http',
      b'HTTP/1.0 200 OK\r\ncOnTeNt-TyPe:\ttext/xml \t\r\nX-Folded: one\r\n two\r\nNo colon here\r\n'
      b'Server: loopback\r\n\r\n' + feed)

write('garbage.http', b'<?xml version="1.0"?><rss><channel></channel></rss>\r\n\r\n')

write('truncated_length.http',
      b'HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n' + feed[:100])

write('truncated_chunked.http',
      b'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n' + chunks(feed, [100, 100])[:150])

write('truncated_headers.http', b'HTTP/1.1 200 OK\r\nContent-Type: text/xm')

write('length_4g_short_body.http',
      b'HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\n' + feed[:300])

write('header_line_too_long.http',
      b'HTTP/1.1 200 OK\r\nX-Padding: ' + b'a' * (64 * 1024) + b'\r\n\r\nbody')

write('chunk_size_not_hex.http',
      b'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n')

write('brotli_unsupported.http',
      b'HTTP/1.1 200 OK\r\nContent-Encoding: br\r\nContent-Length: 4\r\n\r\n\x0b\x02\x80\x03')
