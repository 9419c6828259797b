#!/usr/bin/python3
"""Writes the pictures of the rendering check's fixture pages (tests/data/render/img).

Every picture is drawn with python3-pil so that a missing or swapped picture
changes many pixels of a screenshot: large blocks of distinct colours, no
fine detail. The JPEGs are written in the usual JFIF form. Run it with
Debian's /usr/bin/python3 from the repository root:

    /usr/bin/python3 tools/make_render_images.py tests/data/render/img
"""

import sys
from pathlib import Path

from PIL import Image, ImageDraw


def checker(size, cell, first, second):
    picture = Image.new("RGB", (size, size), first)
    draw = ImageDraw.Draw(picture)
    for y in range(0, size, cell):
        for x in range(0, size, cell):
            if (x // cell + y // cell) % 2:
                draw.rectangle([x, y, x + cell - 1, y + cell - 1], fill=second)
    return picture


def stripes(width, height, colours, band):
    picture = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(picture)
    for x in range(-height, width, band):
        colour = colours[(x // band) % len(colours)]
        draw.polygon([(x, 0), (x + band, 0), (x + band + height, height), (x + height, height)],
                     fill=colour)
    return picture


def gradient(width, height, corner):
    picture = Image.new("RGB", (width, height))
    pixels = picture.load()
    red, green, blue = corner
    for y in range(height):
        for x in range(width):
            pixels[x, y] = ((red + 2 * x) % 256, (green + 3 * y) % 256, (blue + x + y) % 256)
    return picture


def badge(size, background, ring, centre):
    picture = Image.new("RGB", (size, size), background)
    draw = ImageDraw.Draw(picture)
    draw.ellipse([4, 4, size - 5, size - 5], fill=ring)
    draw.ellipse([size // 4, size // 4, size - size // 4, size - size // 4], fill=centre)
    return picture


def as_gif(picture):
    return picture.convert("P", palette=Image.ADAPTIVE, colors=16)


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "tests/data/render/img")
    target.mkdir(parents=True, exist_ok=True)

    # Page and cell backgrounds, named by the attributes and style rules.
    checker(32, 16, (250, 240, 220), (235, 215, 180)).save(target / "paper.png")
    checker(40, 20, (200, 225, 250), (160, 195, 235)).save(target / "sky.png")
    as_gif(checker(24, 12, (220, 250, 210), (170, 220, 150))).save(target / "grass.gif")
    checker(48, 24, (250, 210, 210), (230, 160, 160)).convert("RGB").save(
        target / "brick.jpg", quality=90)
    as_gif(stripes(60, 60, [(255, 230, 120), (240, 190, 60)], 15)).save(target / "sand.gif")
    stripes(64, 64, [(190, 170, 230), (150, 120, 210), (230, 220, 250)], 16).save(
        target / "dusk.png")

    # Pictures shown by image tags, one per format and a few more.
    as_gif(stripes(200, 60, [(32, 74, 135), (52, 101, 164), (114, 159, 207)], 30)).save(
        target / "banner.gif")
    gradient(160, 100, (40, 80, 120)).save(target / "photo.jpg", quality=90)
    badge(96, (255, 255, 255), (78, 154, 6), (252, 233, 79)).save(target / "badge.png")
    as_gif(badge(72, (255, 255, 255), (204, 0, 0), (255, 255, 255))).save(target / "stop.gif")
    gradient(120, 80, (160, 20, 200)).save(target / "left.jpg", quality=90)
    badge(80, (240, 240, 240), (32, 74, 135), (173, 127, 168)).save(target / "right.png")


if __name__ == "__main__":
    main()
