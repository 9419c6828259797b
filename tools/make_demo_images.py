#!/usr/bin/python3
"""Writes the small pictures of the demo page (examples/demo/).

GIF and PNG are written by this script itself; the JPEG comes from
GdkPixbuf (Debian's python3-gi), which writes the usual JFIF form. Run it
with Debian's /usr/bin/python3 from the repository root:

    /usr/bin/python3 tools/make_demo_images.py examples/demo
"""

import struct
import sys
import zlib
from pathlib import Path


def gif_lzw(indices, min_code_size):
    """LZW-compresses palette indices as GIF wants them (variable codes)."""
    clear = 1 << min_code_size
    end = clear + 1
    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    code_size = min_code_size + 1
    bits = 0
    bit_count = 0
    out = bytearray()

    def emit(code):
        nonlocal bits, bit_count
        bits |= code << bit_count
        bit_count += code_size
        while bit_count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            bit_count -= 8

    emit(clear)
    current = ()
    for index in indices:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        current = (index,)
    if current:
        emit(table[current])
    emit(end)
    if bit_count:
        out.append(bits & 0xFF)
    return bytes(out)


def write_gif(path, width, height, palette, pixel):
    colours = bytearray()
    for red, green, blue in palette:
        colours += bytes((red, green, blue))
    size_bits = max(1, (len(palette) - 1).bit_length())
    colours += bytes(3 * ((1 << size_bits) - len(palette)))
    indices = [pixel(x, y) for y in range(height) for x in range(width)]
    min_code_size = max(2, size_bits)
    data = gif_lzw(indices, min_code_size)
    blocks = bytearray()
    for start in range(0, len(data), 255):
        chunk = data[start:start + 255]
        blocks += bytes((len(chunk),)) + chunk
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", width, height, 0x80 | (size_bits - 1), 0, 0)
    gif += colours
    gif += b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    gif += bytes((min_code_size,)) + blocks + b"\x00;"
    Path(path).write_bytes(bytes(gif))


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows += bytes(pixel(x, y))
    png = b"\x89PNG\r\n\x1a\n"
    png += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += png_chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += png_chunk(b"IEND", b"")
    Path(path).write_bytes(png)


def write_jpeg(path, width, height, pixel):
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib

    data = bytearray()
    for y in range(height):
        for x in range(width):
            data += bytes(pixel(x, y))
    pixbuf = GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(bytes(data)),
                                             GdkPixbuf.Colorspace.RGB, False, 8,
                                             width, height, width * 3)
    pixbuf.savev(str(path), "jpeg", ["quality"], ["85"])


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "examples/demo")
    target.mkdir(parents=True, exist_ok=True)

    # A banner in four colour bands with a diagonal stripe.
    palette = [(32, 74, 135), (52, 101, 164), (114, 159, 207), (238, 238, 236)]
    write_gif(target / "banner.gif", 240, 48, palette,
              lambda x, y: 3 if abs((x - 2 * y) % 60 - 30) < 3 else (x // 60) % 3)

    # A photo-like gradient.
    write_jpeg(target / "photo.jpg", 160, 100,
               lambda x, y: (200 - y, 120 + x // 2, 80 + (x * y) % 90))

    # A round logo on white.
    def logo(x, y):
        inside = (x - 31.5) ** 2 + (y - 31.5) ** 2 < 28 ** 2
        return (78, 154, 6) if inside else (255, 255, 255)
    write_png(target / "logo.png", 64, 64, logo)

    # A faint paper tile for the page background.
    write_png(target / "paper.png", 16, 16,
              lambda x, y: (250, 248, 240) if (x + y) % 8 else (240, 236, 224))


if __name__ == "__main__":
    main()
