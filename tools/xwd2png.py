#!/usr/bin/env python3
"""Converts an X window dump (xwd -root, 24 or 32 bits per pixel, TrueColor)
to a PNG, optionally cropped: xwd2png.py IN.xwd OUT.png [WxH+X+Y]"""
import re
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, _, _, depth, width, height, _, byte_order, _, _, _, bits_per_pixel, bytes_per_line = fields[:13]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    ncolors = fields[19]
    offset = header_size + ncolors * 12
    if bits_per_pixel not in (24, 32):
        raise SystemExit("xwd2png: %d bits per pixel is not supported" % bits_per_pixel)
    step = bits_per_pixel // 8
    shifts = [(m, (m & -m).bit_length() - 1) for m in (red_mask, green_mask, blue_mask)]
    order = "<" if byte_order == 0 else ">"
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(width):
            chunk = line[x * step: x * step + step]
            value = int.from_bytes(chunk, "little" if order == "<" else "big")
            for mask, shift in shifts:
                row.append((value & mask) >> shift)
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + row for row in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        width, height, rows = read_xwd(f.read())
    if len(argv) == 4:
        m = re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", argv[3])
        if not m:
            raise SystemExit("xwd2png: crop as WxH+X+Y")
        w, h, x, y = map(int, m.groups())
        w, h = min(w, width - x), min(h, height - y)
        rows = [row[x * 3:(x + w) * 3] for row in rows[y:y + h]]
        width, height = w, h
    write_png(argv[2], width, height, rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
