#!/usr/bin/env python3
"""Byte-exact checks of whole messages, one small page per case.

Every case in page_cases.py names a page (a local file, or a path served by
the HTTP tests' scripted server on 127.0.0.1), the options it is converted
with, and the message that must come out, written down by hand: the page's
HTML after conversion, its charset and Subject, and every part in order.
This harness renders that expectation into message bytes (the header field
order, Content-Type composition, quoted-printable and base64 line rules of
the message format) and compares it with what the converter wrote, byte for
byte. Only the boundary, the content-ids, the Date and the Message-ID are
taken from the real message.

  test_page_cases.py --driver convert_driver --pagewing pagewing \
      --source-dir SRC [unittest arguments]
"""

import argparse
import base64
import difflib
import json
import os
import quopri
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import page_cases  # noqa: E402
import test_messages  # noqa: E402

ARGS = None
TIMEOUT = 60

BOUNDARY = re.compile(rb'boundary="(----=_NextPart_[0-9a-f]{3}_[0-9a-f]{4}_[0-9a-f]{8}'
                      rb'\.[0-9a-f]{8}_\.REL)"')
DATE = re.compile(rb"\r\nDate: ((?:Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d "
                  rb"(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} "
                  rb"\d\d:\d\d:\d\d [+-]\d{4})\r\n")
MESSAGE_ID = re.compile(rb"\r\nMessage-ID: (<[0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12}"
                        rb"@[A-Za-z0-9.-]+>)\r\n")
CONTENT_ID = re.compile(rb"VANTREL-CID-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")
CID_MARK = re.compile(rb"%c:(\w+)%")


# ---------------------------------------------------------------- encoders

def quoted_printable(data):
    """Quoted-printable with 72-column lines, as the message writer does it."""
    out = bytearray()
    column = 0
    i = 0
    n = len(data)
    while i < n:
        byte = data[i]
        if column == 0 and byte == 0x2E:
            out += b"=2E"
            column = 3
        elif column == 0 and byte == 0x46 and data[i + 1:i + 5] == b"rom ":
            out += b"=46"
            column = 3
        elif 33 <= byte <= 60 or 62 <= byte <= 126:
            out.append(byte)
            column += 1
        elif byte in (0x20, 0x09):
            if i == n - 1 or data[i + 1:i + 3] == b"\r\n":
                out += b"=%02X" % byte
                column += 3
            else:
                out.append(byte)
                column += 1
        elif byte == 0x0D and i + 1 < n and data[i + 1] == 0x0A:
            out += b"\r\n"
            i += 1
            column = 0
        else:
            out += b"=%02X" % byte
            column += 3
        i += 1
        if column >= 72 and not (n - i >= 2 and data[i:i + 2] == b"\r\n"):
            out += b"=\r\n"
            column = 0
    return bytes(out)


ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def base64_lines(data):
    if not data:
        return b""
    out = bytearray()
    column = 0
    whole = len(data) - len(data) % 3
    for i in range(0, whole, 3):
        value = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2]
        out += bytes(ALPHABET[(value >> shift) & 63] for shift in (18, 12, 6, 0))
        column += 4
        if column >= 72:
            out += b"\r\n"
            column = 0
    rest = data[whole:]
    if len(rest) == 1:
        value = rest[0] << 16
        out += bytes(ALPHABET[(value >> shift) & 63] for shift in (18, 12)) + b"=="
    elif len(rest) == 2:
        value = (rest[0] << 16) | (rest[1] << 8)
        out += bytes(ALPHABET[(value >> shift) & 63] for shift in (18, 12, 6)) + b"="
    out += b"\r\n"
    return bytes(out)


def content_type(media, charset=None, name=None):
    value = media
    if media[:4].lower() == b"text" or media[:7].lower() == b"message":
        value += b'; charset="' + (charset or b"us-ascii") + b'";'
    else:
        value += b";"
    if name:
        value += b'\r\n\tname="' + name + b'";'
    value = value.strip(b" \t\r\n")
    if value.endswith(b";"):
        value = value[:-1].strip(b" \t\r\n")
    return value


# ---------------------------------------------------------------- the expectation

def part_fields(part, cids):
    """Header lines and the unencoded body of one expected part."""
    if isinstance(part, page_cases.Page):
        lines = [b'content-type: text/html; charset="' + part.charset + b'"',
                 b"content-transfer-encoding: quoted-printable"]
        if part.location:
            lines.append(b"Content-Location: " + part.location)
        return lines, part.html, "quoted-printable"
    lines = [b"content-type: " + content_type(part.type, part.charset, part.name),
             b"Content-ID: <" + cids(b"%c:" + part.cid.encode() + b"%") + b">"]
    if part.location:
        lines.append(b"Content-Location: " + part.location)
    lines.append(b"content-transfer-encoding: " + part.encoding.encode())
    return lines, part.data, part.encoding


def render(expected, boundary, date, message_id, cids):
    root = [b'content-type: multipart/related; type="text/html";\r\n\tboundary="' + boundary + b'"',
            b"MIME-Version: 1.0"]
    if expected.subject is not None and expected.subject.strip(b" \t\r\n"):
        root.append(b"Subject: " + expected.subject.strip(b" \t\r\n"))
    if expected.to:
        root.append(b"To: " + expected.to)
    if expected.sender:
        root.append(b"From: " + expected.sender)
    if expected.unsent:
        root.append(b"X-Unsent: 1")
    root.append(b"Date: " + date)
    root.append(b"Message-ID: " + message_id)
    out = b"\r\n".join(root) + b"\r\n\r\n"
    out += b"This is a multi-part message in MIME format.\r\n\r\n"
    for part in expected.parts:
        lines, body, encoding = part_fields(part, cids)
        body = cids(body)
        encoded = quoted_printable(body) if encoding == "quoted-printable" else base64_lines(body)
        out += b"--" + boundary + b"\r\n" + b"\r\n".join(lines) + b"\r\n\r\n" + encoded + b"\r\n"
    return out + b"--" + boundary + b"--\r\n"


def expected_cid_order(expected):
    order = []

    def note(text):
        for match in CID_MARK.finditer(text):
            if match.group(1) not in order:
                order.append(match.group(1))

    for part in expected.parts:
        if isinstance(part, page_cases.Page):
            note(part.html)
            continue
        note(b"%c:" + part.cid.encode() + b"%")
        if part.encoding == "quoted-printable":
            note(part.data)
    return order


# ---------------------------------------------------------------- the real message

def split_parts(message, boundary):
    """(header, decoded body) of every part, for reading and for diffs."""
    pieces = message.split(b"\r\n--" + boundary)
    parts = []
    for piece in pieces[1:]:
        if piece.startswith(b"--"):
            break
        header, _, body = piece[2:].partition(b"\r\n\r\n")
        if re.search(rb"(?im)^content-transfer-encoding: quoted-printable", header):
            body = quopri.decodestring(body)
        parts.append((header, body))
    return parts


def actual_cid_order(parts):
    order = []
    for header, body in parts:
        for text in (header, body):
            for match in CONTENT_ID.finditer(text):
                if match.group(0) not in order:
                    order.append(match.group(0))
    return order


def readable(message, boundary):
    """The message with quoted-printable bodies decoded, for a diff."""
    head = message.split(b"\r\n\r\n", 1)[0]
    lines = [head.decode("latin-1")]
    for header, body in split_parts(message, boundary):
        lines.append("---- part")
        lines.append(header.decode("latin-1"))
        lines.append("")
        lines.append(body.decode("latin-1"))
    return "\n".join(lines).replace("\r", "\\r").splitlines()


# ---------------------------------------------------------------- running cases

def substitute(data, names):
    for key, value in names.items():
        data = data.replace(key, value)
    return data


def write_tree(folder, files, names):
    for relative, data in files.items():
        path = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as written:
            written.write(substitute(data, names))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class PageCases(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pw-page-cases-")
        cls.site = os.path.join(cls.scratch, "site")
        os.makedirs(cls.site)
        routes = {}
        for case in page_cases.CASES:
            for path, script in case.routes.items():
                script = dict(script)
                if "file" in script:
                    script["file"] = case.name + "/" + script["file"]
                key = path if path.startswith("/") else "/" + case.name + "/" + path
                routes[key] = script
        routes_file = os.path.join(cls.scratch, "routes.json")
        # Redirect routes name the server's own address, so the port is
        # chosen before the server reads its routes.
        cls.server = None
        for _ in range(5):
            port = free_port()
            with open(routes_file, "w", encoding="utf-8") as written:
                written.write(json.dumps(routes).replace("%H%", "127.0.0.1:%d" % port))
            try:
                cls.server = test_messages.Server(cls.site, routes_file, port=port,
                                                  stderr=subprocess.DEVNULL)
                break
            except RuntimeError:
                continue
        if cls.server is None:
            raise RuntimeError("the test server did not start")
        try:
            # Served files are read when asked for, so they can name the port.
            for case in page_cases.CASES:
                write_tree(os.path.join(cls.site, case.name), case.served, cls.names_for(case))
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def names_for(cls, case):
        host = cls.server.host.encode()
        folder = os.path.join(cls.scratch, "cases", case.name).encode()
        return {b"%H%": host, b"%B%": b"http://%s/%s" % (host, case.name.encode()),
                b"%D%": folder}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def convert(self, case, names):
        folder = os.path.join(self.scratch, "cases", case.name)
        os.makedirs(folder)
        write_tree(folder, case.files, names)
        target = substitute(case.page.encode(), names).decode()
        if case.driver is not None:
            output = os.path.join(folder, "out.eml")
            mode = "url" if target.startswith("http") else "file"
            result = subprocess.run([ARGS.driver, mode, target, output, *case.driver],
                                    capture_output=True, timeout=TIMEOUT, cwd=folder,
                                    env=test_messages.clean_environment())
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
            with open(output, "rb") as written:
                return written.read()
        result = test_messages.run_pagewing("-q", *case.args, target, cwd=folder)
        # 3: written without some resources, which the case's message shows.
        self.assertIn(result.returncode, (0, 3), result.stderr.decode(errors="replace"))
        if result.returncode == 3:
            self.assertRegex(result.stderr, rb"^pagewing: \d+ of \d+ resources? could not be "
                                            rb"embedded \(run with -v to list them\)\n$")
        return result.stdout

    def check(self, case):
        names = self.names_for(case)
        actual = self.convert(case, names)
        boundary = BOUNDARY.search(actual)
        date = DATE.search(actual)
        message_id = MESSAGE_ID.search(actual)
        self.assertIsNotNone(boundary, actual[:300])
        self.assertIsNotNone(date, actual[:600])
        self.assertIsNotNone(message_id, actual[:600])
        boundary, date, message_id = boundary.group(1), date.group(1), message_id.group(1)

        expected = case.expect.resolved(lambda data: substitute(data, names))
        wanted = expected_cid_order(expected)
        found = actual_cid_order(split_parts(actual, boundary))
        mapping = {b"%c:" + name + b"%": found[i] if i < len(found) else b"VANTREL-CID-missing"
                   for i, name in enumerate(wanted)}

        def cids(data):
            return CID_MARK.sub(lambda m: mapping.get(m.group(0), m.group(0)), data)

        rendered = render(expected, boundary, date, message_id, cids)
        if rendered == actual and len(found) == len(wanted):
            return
        diff = "\n".join(difflib.unified_diff(readable(rendered, boundary),
                                              readable(actual, boundary),
                                              "expected", "actual", lineterm="", n=2))
        if not diff:
            diff = "\n".join(difflib.unified_diff(
                rendered.decode("latin-1").replace("\r", "\\r").splitlines(),
                actual.decode("latin-1").replace("\r", "\\r").splitlines(),
                "expected (raw)", "actual (raw)", lineterm="", n=2))
        if len(found) != len(wanted):
            diff = "content-ids: expected %d, found %d\n%s" % (len(wanted), len(found), diff)
        self.fail("%s: %s\n%s" % (case.name, case.why, diff))


class LongSubjects(unittest.TestCase):
    """A title too long for one header line is written as several encoded words.

    How the words are cut is free; what is checked is what must hold: every
    line of the header at most 78 characters, every word at most 75, the
    words separated by blanks or folds (CR LF and a blank), no character of
    the charset cut in two, and the words decode to the title."""

    def test_long_titles(self):
        cases = [(b"", b"x" * 1000, "iso-8859-1"),
                 (b"<meta charset=utf-8>", "Caf\u00e9 \u20ac ".encode() * 150, "utf-8"),
                 (b"<meta charset=big5>", "\u4e2d\u6587".encode("big5") * 300, "big5")]
        for head, title, charset in cases:
            with self.subTest(charset=charset), tempfile.TemporaryDirectory() as folder:
                with open(os.path.join(folder, "page.htm"), "wb") as page:
                    page.write(head + b"<title>" + title + b"</title>")
                result = test_messages.run_pagewing("-q", "page.htm", cwd=folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                header = result.stdout.split(b"\r\n\r\n", 1)[0]
                subject = re.search(rb"\r\nSubject: (.*?)\r\n(?! )", header, re.S).group(1)
                for line in header.split(b"\r\n"):
                    if not line.startswith(b"Message-ID: "):
                        self.assertLessEqual(len(line), 78, line)
                words = re.split(rb"\r\n | ", subject)
                self.assertGreater(len(words), 1)
                decoded = b""
                for word in words:
                    self.assertLessEqual(len(word), 75, word)
                    match = re.fullmatch(rb"=\?([^?]+)\?([QB])\?([^?]*)\?=", word)
                    self.assertIsNotNone(match, word)
                    self.assertEqual(match.group(1).decode(), charset)
                    piece = (quopri.decodestring(match.group(3).replace(b"_", b" "), header=True)
                             if match.group(2) == b"Q" else base64.b64decode(match.group(3)))
                    piece.decode(charset)  # each word holds whole characters
                    decoded += piece
                self.assertEqual(decoded, title.strip())


def add_tests():
    for case in page_cases.CASES:
        def test(self, case=case):
            self.check(case)
        test.__doc__ = case.why
        setattr(PageCases, "test_" + case.name, test)


add_tests()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--source-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.driver = os.path.abspath(ARGS.driver)
    ARGS.pagewing = os.path.abspath(ARGS.pagewing)
    ARGS.source_dir = os.path.abspath(ARGS.source_dir)
    test_messages.ARGS = ARGS
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
