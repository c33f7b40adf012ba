#!/usr/bin/env python3
"""Converts an uncompressed 24- or 32-bit BMP (as the stand-in shell's screenshot writes it) to PNG,
with nothing but the standard library. Usage: bmp-to-png.py IN.bmp OUT.png"""
import struct
import sys
import zlib

def convert(src, dst):
    data = open(src, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit(f"{src}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or compression not in (0, 3):
        raise SystemExit(f"{src}: only uncompressed 24/32-bit BMP is supported")
    bottom_up = height > 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(height):
        src_row = height - 1 - y if bottom_up else y
        start = offset + src_row * stride
        line = bytearray(b"\x00")  # filter type none
        for x in range(width):
            b, g, r = data[start + x * step:start + x * step + 3]
            line += bytes((r, g, b))
        rows.append(bytes(line))
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    open(dst, "wb").write(png)

if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    convert(sys.argv[1], sys.argv[2])
