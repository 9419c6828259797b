#!/usr/bin/python3
"""Writes the pictures and web fonts of the complete-page fixtures
(tests/data/complete/).

The pictures are plain PNG and GIF files (written by make_demo_images.py's
writers). The fonts are small but real TrueType fonts, built here table by
table, whose glyphs are solid blocks, so that a page set in them looks
nothing like one set in a fallback font; each is written as TrueType, WOFF
(zlib) and WOFF2 (brotli through Debian's libbrotlienc, null transforms).
Run it with Debian's /usr/bin/python3 from the repository root:

    /usr/bin/python3 tools/make_complete_fixtures.py tests/data/complete
"""

import ctypes
import ctypes.util
import struct
import sys
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from make_demo_images import write_gif, write_png  # noqa: E402

UNITS_PER_EM = 1000
ASCENT = 800
DESCENT = 200


# --- TrueType ---------------------------------------------------------------------


def checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def rectangle_glyph(x0, y0, x1, y1):
    """A simple glyph of one clockwise contour, four on-curve points."""
    points = [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]
    glyph = struct.pack(">hhhhh", 1, x0, y0, x1, y1)
    glyph += struct.pack(">HH", len(points) - 1, 0)
    glyph += bytes([0x01] * len(points))
    previous = 0
    for x, _ in points:
        glyph += struct.pack(">h", x - previous)
        previous = x
    previous = 0
    for _, y in points:
        glyph += struct.pack(">h", y - previous)
        previous = y
    return glyph


def cmap_format4(ranges):
    """ranges: (first code, last code, first glyph id), ascending."""
    segments = [(first, last, (glyph - first) % 65536) for first, last, glyph in ranges]
    segments.append((0xFFFF, 0xFFFF, 1))
    count = len(segments)
    search = 2 * (1 << (count.bit_length() - 1))
    selector = count.bit_length() - 1
    body = struct.pack(">HHHH", 2 * count, search, selector, 2 * count - search)
    body += b"".join(struct.pack(">H", last) for _, last, _ in segments)
    body += struct.pack(">H", 0)
    body += b"".join(struct.pack(">H", first) for first, _, _ in segments)
    body += b"".join(struct.pack(">H", delta) for _, _, delta in segments)
    body += b"".join(struct.pack(">H", 0) for _ in segments)
    subtable = struct.pack(">HHH", 4, 6 + len(body), 0) + body
    return struct.pack(">HHHHI", 0, 1, 3, 1, 12) + subtable


def name_table(family):
    names = {1: family, 2: "Regular", 3: family + " fixture 1.0", 4: family,
             5: "Version 1.0", 6: family}
    records = []
    strings = b""
    for platform, encoding, language, codec in ((1, 0, 0, "latin-1"), (3, 1, 0x409, "utf-16-be")):
        for name_id, text in names.items():
            data = text.encode(codec)
            records.append(struct.pack(">HHHHHH", platform, encoding, language, name_id,
                                       len(data), len(strings)))
            strings += data
    header = struct.pack(">HHH", 0, len(records), 6 + 12 * len(records))
    return header + b"".join(records) + strings


def build_font(family, shapes):
    """shapes: (upper, lower, digit) rectangles (x0, y0, x1, y1, advance)."""
    glyphs = [(b"", 500), (b"", 300)]  # .notdef, space
    ranges = [(32, 32, 1)]
    for first, last, shape in ((0x30, 0x39, shapes[2]), (0x41, 0x5A, shapes[0]),
                               (0x61, 0x7A, shapes[1])):
        ranges.append((first, last, len(glyphs)))
        for _ in range(first, last + 1):
            x0, y0, x1, y1, advance = shape
            glyphs.append((rectangle_glyph(x0, y0, x1, y1), advance))
    ranges.sort()

    glyf = b""
    offsets = []
    for data, _ in glyphs:
        offsets.append(len(glyf))
        glyf += data + b"\0" * (-len(data) % 4)
    offsets.append(len(glyf))
    loca = b"".join(struct.pack(">I", offset) for offset in offsets)
    hmtx = b""
    for data, advance in glyphs:
        lsb = struct.unpack(">h", data[2:4])[0] if data else 0
        hmtx += struct.pack(">Hh", advance, lsb)
    x_min = min(shape[0] for shape in shapes)
    x_max = max(shape[2] for shape in shapes)
    y_min = min(shape[1] for shape in shapes)
    y_max = max(shape[3] for shape in shapes)
    advance_max = max(advance for _, advance in glyphs)
    count = len(glyphs)

    tables = {
        b"head": struct.pack(">IIIIHHqqhhhhHHhhh", 0x00010000, 0x00010000, 0, 0x5F0F3CF5,
                             0x000B, UNITS_PER_EM, 0, 0, x_min, y_min, x_max, y_max, 0, 8, 2, 1, 0),
        b"hhea": struct.pack(">IhhhHhhhhhhhhhhhH", 0x00010000, ASCENT, -DESCENT, 0, advance_max,
                             0, 0, x_max, 1, 0, 0, 0, 0, 0, 0, 0, count),
        b"maxp": struct.pack(">IHHHHHHHHHHHHHH", 0x00010000, count, 4, 1, 0, 0, 2, 0, 0, 0, 0,
                             0, 0, 0, 0),
        b"OS/2": struct.pack(">HhHHHhhhhhhhhhhh10sIIII4sHHHhhhHHIIhhHHH", 4, 500, 400, 5, 0,
                             650, 600, 0, 75, 650, 600, 0, 350, 50, 250, 0, bytes(10), 1, 0, 0,
                             0, b"NONE", 0x40, 32, 122, ASCENT, -DESCENT, 0, ASCENT, DESCENT, 1,
                             0, 500, 700, 0, 32, 0),
        b"hmtx": hmtx,
        b"cmap": cmap_format4(ranges),
        b"loca": loca,
        b"glyf": glyf,
        b"name": name_table(family),
        b"post": struct.pack(">IIhhIIIII", 0x00030000, 0, -100, 50, 0, 0, 0, 0, 0),
    }
    return assemble_sfnt(tables)


def assemble_sfnt(tables):
    tags = sorted(tables)
    count = len(tags)
    search = 16 * (1 << (count.bit_length() - 1))
    header = struct.pack(">IHHHH", 0x00010000, count, search, count.bit_length() - 1,
                         16 * count - search)
    offset = 12 + 16 * count
    directory = b""
    data = b""
    for tag in tags:
        table = tables[tag]
        directory += struct.pack(">4sIII", tag, checksum(table), offset + len(data), len(table))
        data += table + b"\0" * (-len(table) % 4)
    font = bytearray(header + directory + data)
    head_offset = struct.unpack(">I", directory[16 * tags.index(b"head") + 8:][:4])[0]
    adjustment = (0xB1B0AFBA - checksum(bytes(font))) & 0xFFFFFFFF
    font[head_offset + 8:head_offset + 12] = struct.pack(">I", adjustment)
    return bytes(font)


def sfnt_tables(font):
    count = struct.unpack(">H", font[4:6])[0]
    tables = []
    for index in range(count):
        tag, check, offset, length = struct.unpack(">4sIII", font[12 + 16 * index:][:16])
        tables.append((tag, check, font[offset:offset + length]))
    return tables


def sfnt_size(tables):
    return 12 + 16 * len(tables) + sum(len(data) + (-len(data) % 4) for _, _, data in tables)


# --- WOFF and WOFF2 ---------------------------------------------------------------


def woff(font):
    tables = sfnt_tables(font)
    directory = b""
    data = b""
    offset = 44 + 20 * len(tables)
    for tag, check, table in tables:
        packed = zlib.compress(table, 9)
        if len(packed) >= len(table):
            packed = table
        directory += struct.pack(">4sIIII", tag, offset + len(data), len(packed), len(table),
                                 check)
        data += packed + b"\0" * (-len(packed) % 4)
    length = offset + len(data)
    header = struct.pack(">4sIIHHIHHIIIII", b"wOFF", 0x00010000, length, len(tables), 0,
                         sfnt_size(tables), 1, 0, 0, 0, 0, 0, 0)
    return header + directory + data


WOFF2_KNOWN_TAGS = [b"cmap", b"head", b"hhea", b"hmtx", b"maxp", b"name", b"OS/2", b"post",
                    b"cvt ", b"fpgm", b"glyf", b"loca", b"prep"]


def base128(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def brotli(data):
    library = ctypes.CDLL(ctypes.util.find_library("brotlienc") or "libbrotlienc.so.1")
    library.BrotliEncoderCompress.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                              ctypes.c_size_t, ctypes.c_char_p,
                                              ctypes.POINTER(ctypes.c_size_t), ctypes.c_char_p]
    library.BrotliEncoderCompress.restype = ctypes.c_int
    size = ctypes.c_size_t(len(data) + 1024)
    out = ctypes.create_string_buffer(size.value)
    # quality 11, window 22, font mode (2)
    if not library.BrotliEncoderCompress(11, 22, 2, len(data), data, ctypes.byref(size), out):
        raise RuntimeError("brotli compression failed")
    return out.raw[:size.value]


def woff2(font):
    tables = sfnt_tables(font)
    directory = b""
    stream = b""
    for tag, _, table in tables:
        # glyf and loca go untransformed (transform version 3); the other
        # tables' version 0 is the null transform.
        version = 3 if tag in (b"glyf", b"loca") else 0
        directory += bytes([WOFF2_KNOWN_TAGS.index(tag) | (version << 6)]) + base128(len(table))
        stream += table
    compressed = brotli(stream)
    body = directory + compressed
    body += b"\0" * (-(48 + len(body)) % 4)
    header = struct.pack(">4sIIHHIIHHIIIII", b"wOF2", 0x00010000, 48 + len(body), len(tables), 0,
                         sfnt_size(tables), len(compressed), 1, 0, 0, 0, 0, 0, 0)
    return header + body


# --- the fixture files ------------------------------------------------------------


def solid(colour):
    return lambda x, y: colour


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "tests/data/complete")
    (target / "img").mkdir(parents=True, exist_ok=True)
    (target / "fonts").mkdir(parents=True, exist_ok=True)
    img = target / "img"

    # Backgrounds and list markers.
    write_png(img / "red.png", 24, 24, solid((204, 0, 0)))
    write_png(img / "green.png", 24, 24, solid((78, 154, 6)))
    write_png(img / "blue.png", 24, 24, solid((52, 101, 164)))
    write_png(img / "orange.png", 24, 24, solid((245, 121, 0)))
    write_png(img / "purple.png", 24, 24, solid((117, 80, 123)))
    write_png(img / "stripes.png", 16, 16,
              lambda x, y: (237, 212, 0) if (x + y) % 8 < 4 else (46, 52, 54))
    write_png(img / "border.png", 30, 30,
              lambda x, y: (32, 74, 135) if min(x, y, 29 - x, 29 - y) < 10 else (255, 255, 255))
    write_gif(img / "bullet.gif", 8, 8, [(164, 0, 0), (255, 255, 255)],
              lambda x, y: 0 if 1 < x < 6 and 1 < y < 6 else 1)
    write_gif(img / "dot.gif", 12, 12, [(0, 0, 0), (114, 159, 207)],
              lambda x, y: 1 if (x - 5.5) ** 2 + (y - 5.5) ** 2 < 30 else 0)

    # Responsive sets: one colour per set, so that every candidate looks
    # the same at the size the page shows it.
    for name, size, colour in (("teal-400.png", 40, (6, 152, 154)),
                               ("teal-1200.png", 120, (6, 152, 154)),
                               ("teal-2400.png", 240, (6, 152, 154)),
                               ("plum-1x.png", 30, (92, 53, 102)),
                               ("plum-2x.png", 60, (92, 53, 102)),
                               ("plum-3x.png", 90, (92, 53, 102)),
                               ("wide-1x.png", 50, (193, 125, 17)),
                               ("wide-2x.png", 100, (193, 125, 17)),
                               ("narrow-1x.png", 25, (143, 89, 2)),
                               ("narrow-2x.png", 50, (143, 89, 2)),
                               ("lazy-a.png", 32, (78, 154, 6)),
                               ("lazy-b.png", 32, (204, 0, 0)),
                               ("lazy-c.png", 32, (52, 101, 164)),
                               ("lazy-set-1x.png", 32, (245, 121, 0)),
                               ("lazy-set-2x.png", 64, (245, 121, 0)),
                               ("poster.png", 80, (85, 87, 83))):
        write_png(img / name, size, size, solid(colour))

    blocks = build_font("Fixture Blocks", ((40, 0, 560, 700, 600), (40, 0, 460, 480, 500),
                                           (40, 0, 460, 640, 500)))
    bars = build_font("Fixture Bars", ((200, -150, 300, 750, 500), (150, 0, 250, 520, 400),
                                       (150, 0, 250, 700, 400)))
    fonts = target / "fonts"
    for name, font in (("blocks", blocks), ("bars", bars)):
        (fonts / (name + ".ttf")).write_bytes(font)
        (fonts / (name + ".woff")).write_bytes(woff(font))
        (fonts / (name + ".woff2")).write_bytes(woff2(font))


if __name__ == "__main__":
    main()
