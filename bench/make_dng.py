#!/usr/bin/env python3
"""Writes a DNG file for the benchmarks: an uncompressed 16-bit colour-filter-array picture
(RGGB, 12-bit values) of width x height, optionally with a JPEG preview stored in a sub-directory
the way cameras store a full-size one.
    make_dng.py OUT.dng WIDTH HEIGHT [PREVIEW.jpg PREVIEW_WIDTH PREVIEW_HEIGHT]"""
import struct
import sys


def main():
    out, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    preview, pw, ph = b"", 0, 0
    if len(sys.argv) > 4:
        preview = open(sys.argv[4], "rb").read()
        pw, ph = int(sys.argv[5]), int(sys.argv[6])
    f = bytearray(b"II*\x00\x00\x00\x00\x00")
    raw_at = len(f)
    # Rows of a gradient, changing every 16 rows: enough for the processing to have work.
    for band in range(0, h, 16):
        row = b"".join(struct.pack("<H", (x * 4000 // w + band) % 4000) for x in range(w))
        f += row * min(16, h - band)
    preview_at = len(f)
    f += preview

    def ifd(entries):
        entries.sort()
        if len(f) % 2:
            f.append(0)
        at = len(f)
        extra = at + 2 + 12 * len(entries) + 4
        d, vals = bytearray(struct.pack("<H", len(entries))), bytearray()
        for tag, typ, count, val in entries:
            d += struct.pack("<HHI", tag, typ, count)
            if len(val) <= 4:
                d += val + b"\0" * (4 - len(val))
            else:
                d += struct.pack("<I", extra + len(vals))
                vals += val
                if len(vals) % 2:
                    vals.append(0)
        d += b"\0\0\0\0"
        f.extend(d)
        f.extend(vals)
        return at

    def shorts(tag, *v):
        return (tag, 3, len(v), b"".join(struct.pack("<H", x) for x in v))

    def longs(tag, *v):
        return (tag, 4, len(v), b"".join(struct.pack("<I", x) for x in v))

    def text(tag, s):
        return (tag, 2, len(s) + 1, s + b"\0")

    def fractions(tag, typ, *v):
        fmt = "<ii" if typ == 10 else "<II"
        return (tag, typ, len(v), b"".join(struct.pack(fmt, a, b) for a, b in v))

    exif = ifd([fractions(33434, 5, (1, 250)), fractions(33437, 5, (8, 1)), shorts(34855, 200),
                text(36867, b"2024:05:01 12:34:56")])
    entries = [longs(254, 0), longs(256, w), longs(257, h), shorts(258, 16), shorts(259, 1),
               shorts(262, 32803), text(271, b"Quilla"), text(272, b"Bench"), longs(273, raw_at),
               shorts(274, 1), shorts(277, 1), longs(278, h), longs(279, w * h * 2),
               shorts(284, 1), shorts(33421, 2, 2), (33422, 1, 4, b"\0\1\1\2"),
               longs(34665, exif), (50706, 1, 4, b"\1\4\0\0"), longs(50717, 4095),
               fractions(50721, 10, (32406, 10000), (-15372, 10000), (-4986, 10000),
                         (-9689, 10000), (18758, 10000), (415, 10000), (557, 10000),
                         (-2040, 10000), (10570, 10000)),
               fractions(50728, 5, (500, 1000), (1000, 1000), (700, 1000))]
    if preview:
        sub = ifd([longs(254, 1), longs(256, pw), longs(257, ph), shorts(258, 8, 8, 8),
                   shorts(259, 7), shorts(262, 6), longs(273, preview_at), shorts(277, 3),
                   longs(278, ph), longs(279, len(preview))])
        entries.append(longs(330, sub))
    f[4:8] = struct.pack("<I", ifd(entries))
    with open(out, "wb") as o:
        o.write(f)


main()
