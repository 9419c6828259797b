#!/usr/bin/env python3
"""End-to-end checks of the complete mode (--complete).

The fixture pages of tests/data/complete (plain static pages, one or more
for every kind of reference the mode embeds) are served by the HTTP tests'
scripted server on 127.0.0.1, converted by the command line and the entry
operations, and read back with Python's email package.

RecordedMessages converts every fixture page under tests/data (the complete
fixtures, the fixture sites of test_messages.py, the rendering pages and the
demo page), without the mode and with it, with one connection and with
sixteen, and compares each message, with its random content-ids, boundary,
date and port put into a fixed form, with the recorded one in
tests/data/complete/golden: a change meant to keep the output must keep every
byte. After a deliberate change of the converter's output, record them again
with --write-golden.

Sizes prints, for each fixture, the message size without and with the mode.
"""

import argparse
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import test_messages as base
from test_messages import MessageChecks, Server, clean_environment, copy_site, read_message

ARGS = None
TIMEOUT = 60

RENDER_PAGES = ["attributes", "base", "cp1252", "frames", "images", "linked", "styles", "utf8"]

FIXTURES = ["imports", "backgrounds", "fonts", "inline-styles", "responsive", "lazy"]

TYPES = {".png": "image/png", ".gif": "image/gif", ".svg": "image/svg+xml",
         ".woff2": "font/woff2", ".woff": "font/woff", ".ttf": "font/ttf"}


def fixture_dir(*parts):
    return os.path.join(ARGS.source_dir, "tests", "data", "complete", *parts)


def render_dir():
    return os.path.join(ARGS.source_dir, "tests", "data", "render")


def demo_dir():
    return os.path.join(ARGS.source_dir, "examples", "demo")


def golden_dir():
    return fixture_dir("golden")


def run_pagewing(*arguments, cwd=None):
    result = subprocess.run([ARGS.pagewing, "-q", *arguments], capture_output=True,
                            timeout=TIMEOUT, env=clean_environment(), cwd=cwd,
                            stdin=subprocess.DEVNULL)
    # 3: written, without resources that the expectations show missing.
    if result.returncode not in (0, 3):
        raise AssertionError("pagewing %s failed (%d): %s" % (
            " ".join(arguments), result.returncode, result.stderr.decode(errors="replace")))
    return result.stdout


def five_digit_server(root, routes=""):
    """Ports of one length keep the line breaks of the messages in place."""
    for _ in range(10):
        server = Server(root, routes)
        if 10000 <= server.port <= 99999:
            return server
        server.stop()
    raise RuntimeError("no five-digit port was free")


def by_file(message):
    """The resource parts by the file name their name ends in."""
    found = {}
    for part in message.get_payload()[1:]:
        name = part.get_param("name")
        found.setdefault(name.split("-", 1)[1], []).append(part)
    return found


def fixture_file(name):
    for folder, _, files in os.walk(fixture_dir()):
        if name in files and "golden" not in folder:
            with open(os.path.join(folder, name), "rb") as data:
                return data.read()
    raise AssertionError("no fixture file " + name)


class CompletePages(MessageChecks):
    @classmethod
    def setUpClass(cls):
        cls.server = five_digit_server(fixture_dir())

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def convert(self, page, tool="cli"):
        url = self.server.url("/" + page + ".html")
        if tool == "cli":
            data = run_pagewing("--complete", url)
        else:
            with tempfile.TemporaryDirectory() as scratch:
                output = os.path.join(scratch, "out.eml")
                result = subprocess.run([ARGS.driver, "--complete", "url", url, output],
                                        capture_output=True, timeout=TIMEOUT,
                                        env=clean_environment())
                self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
                with open(output, "rb") as written:
                    data = written.read()
        message = self.checked(data)
        return message, message.get_payload()[0].get_payload(decode=True).decode()

    def assert_parts(self, message, names):
        """Exactly these files travel, once each, typed, in base64, as served
        (the pictures a page wrote as data: addresses aside)."""
        parts = {name: found for name, found in by_file(message).items()
                 if not name.startswith("data.")}
        self.assertEqual(sorted(parts), sorted(names))
        for name, found in parts.items():
            self.assertEqual(len(found), 1, name)
            part = found[0]
            self.assertEqual(part.get_content_type(), TYPES[os.path.splitext(name)[1]], name)
            self.assertEqual(part["Content-Transfer-Encoding"], "base64", name)
            self.assertIsNone(part["Content-Location"], name)
            self.assertEqual(part.get_payload(decode=True), fixture_file(name), name)

    def assert_every_url_embedded(self, html, left=()):
        without_title = re.sub(r"(?s)<title>.*?</title>", "", html)
        values = re.findall(r"url\(\s*([^)]*?)\s*\)", without_title)
        outside = [value for value in values if not value.startswith("cid:VANTREL-CID-")]
        self.assertEqual(outside, list(left), html)

    def test_imports_two_levels_deep_with_media(self):
        for tool in ("cli", "driver"):
            with self.subTest(tool=tool):
                message, html = self.convert("imports", tool)
                self.assertNotIn("@import", html)
                self.assertIn("@media screen {\n", html)
                self.assertIn("@media screen and (min-width: 100px) {\n", html)
                self.assertIn("@media print {\n.printed { display: none; }", html)
                # level2.css imports level1.css, which is being imported: once each.
                self.assertEqual(html.count(".one {"), 1)
                self.assertEqual(html.count(".two {"), 1)
                self.assert_every_url_embedded(html)
                self.assert_parts(message, ["stripes.png", "blue.png", "green.png", "red.png"])

    def test_every_css_url(self):
        message, html = self.convert("backgrounds")
        # A data: picture becomes a part of its own in the complete mode.
        self.assert_every_url_embedded(html, left=["img/commented.png"])
        home = re.search(r"content: url\((cid:VANTREL-CID-[0-9a-f-]{36})#home\)", html)
        star = re.search(r"content: url\((cid:VANTREL-CID-[0-9a-f-]{36})#star\)", html)
        whole = re.search(r"content: url\((cid:VANTREL-CID-[0-9a-f-]{36})\)", html)
        self.assertTrue(home and star and whole, html)
        # One part for the file, whatever fragment stands behind its address.
        self.assertEqual(home.group(1), star.group(1))
        self.assertEqual(home.group(1), whole.group(1))
        self.assertIn("background: #fff url(cid:", html)
        self.assertEqual(html.count("mask-image: url(cid:"), 2)
        self.assert_parts(message, ["red.png", "green.png", "blue.png", "orange.png",
                                    "purple.png", "bullet.gif", "border.png", "icons.svg",
                                    "dot.gif", "stripes.png"])
        inline = by_file(message)["data.gif"]
        self.assertEqual(len(inline), 1)
        self.assertEqual(inline[0].get_content_type(), "image/gif")
        self.assertEqual(inline[0].get_payload(decode=True), base64.b64decode(
            "R0lGODlhAQABAIAAAP8AAP///ywAAAAAAQABAAACAkQBADs="))

    def test_one_part_per_font(self):
        message, html = self.convert("fonts")
        self.assert_every_url_embedded(html)
        self.assertNotIn("eot", html)
        self.assertNotIn("local(", html)
        self.assertEqual(len(re.findall(r"src: url\(cid:[^)]*\) format\(\"woff2\"\);", html)), 1)
        self.assertEqual(len(re.findall(r"src: url\(cid:[^)]*\) format\(\"woff\"\);", html)), 1)
        self.assert_parts(message, ["blocks.woff2", "blocks.ttf", "bars.woff"])

    def test_style_attributes(self):
        message, html = self.convert("inline-styles")
        self.assertIn('title="url(img/purple.png) is only text here"', html)
        attributes = re.findall(r"(?i)style\s*=\s*(\"[^\"]*\"|'[^']*'|[^\s>]+)", html)
        self.assertEqual(len(attributes), 5)
        for value in attributes:
            self.assertRegex(value, r"url\(cid:VANTREL-CID-[0-9a-f-]{36}\)")
        self.assert_parts(message, ["red.png", "green.png", "blue.png", "orange.png",
                                    "bullet.gif"])

    def test_srcset_and_picture_sources(self):
        message, html = self.convert("responsive")
        self.assertNotIn("sizes=", html)
        srcsets = re.findall(r'srcset="([^"]*)"', html)
        self.assertEqual(len(srcsets), 4)
        for value in srcsets:
            self.assertRegex(value, r"^cid:VANTREL-CID-[0-9a-f-]{36}$")
        self.assert_parts(message, ["teal-400.png", "teal-1200.png", "plum-1x.png",
                                    "plum-2x.png", "wide-2x.png", "narrow-1x.png",
                                    "narrow-2x.png"])
        ids = {part.get_param("name").split("-", 1)[1]: part["Content-ID"].strip("<>")
               for part in message.get_payload()[1:]}
        self.assertEqual(srcsets, ["cid:" + ids[name] for name in
                                   ("teal-1200.png", "plum-2x.png", "wide-2x.png",
                                    "narrow-2x.png")])

    def test_lazy_images_posters_and_refresh(self):
        message, html = self.convert("lazy")
        self.assertNotRegex(html, r"\sdata-(src|original|lazy-src|srcset)=")
        for gone in ("refresh", "data:image/png"):
            self.assertNotIn(gone, html)
        self.assertEqual(len(re.findall(r'<img[^>]* src="cid:VANTREL-CID-', html)), 4)
        self.assertRegex(html, r'<video poster="cid:VANTREL-CID-[0-9a-f-]{36}"')
        self.assert_parts(message, ["lazy-a.png", "lazy-b.png", "lazy-c.png",
                                    "lazy-set-2x.png", "poster.png"])

    def test_help_names_the_option(self):
        result = subprocess.run([ARGS.pagewing, "--help"], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"\n      --complete ", result.stdout)

    def test_local_pages(self):
        """Read from files, sheets and their imports resolve against their folders."""
        for page, names in (("imports", ["stripes.png", "blue.png", "green.png", "red.png"]),
                            ("fonts", ["blocks.woff2", "blocks.ttf", "bars.woff"])):
            with self.subTest(page=page):
                message = self.checked(run_pagewing("--complete", page + ".html",
                                                    cwd=fixture_dir()))
                self.assert_parts(message, names)
                html = message.get_payload()[0].get_payload(decode=True).decode()
                self.assert_every_url_embedded(html)


class UnknownBinaryTypes(MessageChecks):
    """Fonts and pictures whose extensions the type table does not know are
    sent as they were served, never cleaned as HTML frame documents."""

    EOT = bytes(8) + b"\x00\x00\x01\x00" + b"\r\n<b>" * 4 + b"LP" + b"\x00\x01" * 8
    CURSOR = b"\x00\x00\x02\x00\x01\x00" + b"\x10\x10\r\n<script>" * 3

    def test_old_font_and_cursor(self):
        with tempfile.TemporaryDirectory() as site:
            with open(os.path.join(site, "old.eot"), "wb") as data:
                data.write(self.EOT)
            with open(os.path.join(site, "hand.cur"), "wb") as data:
                data.write(self.CURSOR)
            with open(os.path.join(site, "page.html"), "w") as page:
                page.write("<html><head><title>Old</title><style>"
                           "@font-face{font-family:Old;src:url(old.eot)}"
                           "a{cursor:url(hand.cur),pointer}</style></head>"
                           "<body><a href=x.html>x</a></body></html>")
            server = Server(site)
            try:
                message = self.checked(run_pagewing("--complete", server.url("/page.html")))
            finally:
                server.stop()
        parts = by_file(message)
        expected = {"old.eot": ("application/vnd.ms-fontobject", self.EOT),
                    "hand.cur": ("application/octet-stream", self.CURSOR)}
        self.assertEqual(sorted(parts), sorted(expected))
        for name, (content_type, body) in expected.items():
            part = parts[name][0]
            self.assertEqual(part.get_content_type(), content_type, name)
            self.assertEqual(part["Content-Transfer-Encoding"], "base64", name)
            self.assertIsNone(part["Content-Location"], name)
            self.assertEqual(part.get_payload(decode=True), body, name)


# --- without the mode: the messages of before ------------------------------------


def soft_broken(literal):
    """A pattern for literal that allows a quoted-printable soft line break
    between any two of its bytes."""
    return re.compile(b"(?:=\r\n)?".join(re.escape(bytes([byte])) for byte in literal))


def replace_keeping_breaks(data, literal, replacement):
    assert len(literal) == len(replacement)

    def rebuilt(match):
        out = bytearray()
        index = 0
        text = match.group(0)
        position = 0
        while position < len(text):
            if text.startswith(b"=\r\n", position):
                out += b"=\r\n"
                position += 3
                continue
            out.append(replacement[index])
            index += 1
            position += 1
        return bytes(out)

    return soft_broken(literal).sub(rebuilt, data)


def normalised(data):
    """The message with its random and run-dependent values in a fixed form
    of the same length, so that line breaks stay where they were."""
    flat = data.replace(b"=\r\n", b"")
    ids = []
    for found in re.findall(rb"VANTREL-CID-[0-9a-f-]{36}", flat):
        if found not in ids:
            ids.append(found)
    for number, found in enumerate(ids):
        data = replace_keeping_breaks(data, found,
                                      b"VANTREL-CID-%08d-0000-0000-0000-000000000000" % number)
    boundary = re.search(rb'boundary="([^"]+)"', data)
    if boundary:
        data = data.replace(boundary.group(1), b"=_BOUNDARY_".ljust(len(boundary.group(1)),
                                                                        b"_"))
    # A "." at the start of a quoted-printable line is written "=2E".
    for port in sorted(set(re.findall(rb"127\.0\.0\.1:(\d{5})", flat.replace(b"=2E", b".")))):
        data = replace_keeping_breaks(data, b":" + port, b":PPPPP")
    data = re.sub(rb"(?m)^Message-ID: <[^\r\n]*>", b"Message-ID: (new)", data)
    return re.sub(rb"(?m)^Date: [^\r\n]*", b"Date: (date)", data)


class RecordedMessages(unittest.TestCase):
    """Every fixture page gives the recorded message, without the mode and
    with it."""

    @classmethod
    def setUpClass(cls):
        cls.site_root = tempfile.mkdtemp(prefix="pw-complete-site-")
        site = os.path.join(ARGS.source_dir, "tests", "data", "e2e", "site")
        cls.site = five_digit_server(cls.site_root, os.path.join(site, "routes.json"))
        copy_site(site, cls.site_root, cls.site.host)
        cls.complete = five_digit_server(fixture_dir())
        cls.render = five_digit_server(render_dir())
        cls.local_root = tempfile.mkdtemp(prefix="pw-complete-local-")
        copy_site(os.path.join(ARGS.source_dir, "tests", "data", "e2e", "local"),
                  cls.local_root, "")

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        cls.complete.stop()
        cls.render.stop()
        shutil.rmtree(cls.site_root, ignore_errors=True)
        shutil.rmtree(cls.local_root, ignore_errors=True)

    def cases(self):
        """Every fixture page under tests/data, served and as a local file."""
        for page in FIXTURES:
            yield "complete-web-" + page, [self.complete.url("/" + page + ".html")], None
            yield "complete-local-" + page, [page + ".html"], fixture_dir()
        for page in ("index.html", "frames.html", "base.html", "latin1.html", "ascii.html",
                     "utf8-header.html", "utf8-meta.html", "utf8-ascii.html"):
            yield "site-" + page.replace(".html", ""), [self.site.url("/" + page)], None
        yield "site-keep-scripts", ["--keep-scripts", self.site.url("/index.html")], None
        yield "local-page", ["page.htm"], self.local_root
        for page in RENDER_PAGES:
            yield "render-web-" + page, [self.render.url("/" + page + ".html")], None
            yield "render-local-" + page, [page + ".html"], render_dir()
        yield "demo-local", ["index.html"], demo_dir()

    def test_messages_as_recorded(self):
        """Both modes, with one connection and with sixteen: the connections
        must never change a byte."""
        for name, arguments, cwd in self.cases():
            for mode, mode_arguments in (("", []), (".complete", ["--complete"])):
                path = os.path.join(golden_dir(), name + mode + ".eml")
                for connections in ("1", "16"):
                    with self.subTest(case=name + mode, connections=connections):
                        message = normalised(run_pagewing(
                            "--connections", connections, *mode_arguments, *arguments, cwd=cwd))
                        if ARGS.write_golden:
                            os.makedirs(golden_dir(), exist_ok=True)
                            with open(path, "wb") as golden:
                                golden.write(message)
                            continue
                        with open(path, "rb") as golden:
                            expected = golden.read()
                        self.assertEqual(message.decode("latin-1"), expected.decode("latin-1"),
                                         name + mode)

    def test_normalising_keeps_soft_line_breaks(self):
        data = (b"a cid:VANTREL-CID-0123abcd-0000-4000-8000-0000000=\r\n00001 b\r\n"
                b"cid:VANTREL-CID-0123abcd-0000-4000-8000-000000000001 "
                b"http://127.0.0.1:4=\r\n5678/x http://127.0.0=\r\n=2E1:45678/y\r\n"
                b"Date: Mon, 1 Jan 2024\r\n")
        self.assertEqual(normalised(data),
                         b"a cid:VANTREL-CID-00000000-0000-0000-0000-0000000=\r\n00000 b\r\n"
                         b"cid:VANTREL-CID-00000000-0000-0000-0000-000000000000 "
                         b"http://127.0.0.1:P=\r\nPPPP/x http://127.0.0=\r\n=2E1:PPPPP/y\r\n"
                         b"Date: (date)\r\n")


class Sizes(unittest.TestCase):
    """What the mode costs: the message size of every fixture without and with it."""

    def test_sizes(self):
        server = five_digit_server(fixture_dir())
        rows = []
        try:
            for page in FIXTURES:
                url = server.url("/" + page + ".html")
                off = run_pagewing(url)
                on = run_pagewing("--complete", url)
                rows.append((page, len(off), len(on),
                             len(read_message(off).get_payload()),
                             len(read_message(on).get_payload())))
        finally:
            server.stop()
        lines = ["%-14s %10s %10s %7s %6s %6s" % ("fixture", "off bytes", "complete", "ratio",
                                                  "parts", "parts")]
        for page, off, on, off_parts, on_parts in rows:
            lines.append("%-14s %10d %10d %6.2fx %6d %6d" % (page, off, on, on / off,
                                                             off_parts, on_parts))
            self.assertGreater(on_parts, off_parts, page)
        print("\n" + "\n".join(lines), file=sys.stderr)
        if ARGS.sizes_file:
            os.makedirs(os.path.dirname(os.path.abspath(ARGS.sizes_file)), exist_ok=True)
            with open(ARGS.sizes_file, "w") as written:
                written.write("\n".join(lines) + "\n")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--write-golden", action="store_true",
                        help="record the messages of RecordedMessages instead of comparing")
    parser.add_argument("--sizes-file", help="also write the size table to this file")
    ARGS, rest = parser.parse_known_args()
    ARGS.driver = os.path.abspath(ARGS.driver)
    ARGS.pagewing = os.path.abspath(ARGS.pagewing)
    ARGS.source_dir = os.path.abspath(ARGS.source_dir)
    base.ARGS = ARGS
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
