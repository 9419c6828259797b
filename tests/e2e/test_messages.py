#!/usr/bin/env python3
"""End-to-end checks of the converter and the command line.

Fixture sites (tests/data/e2e) are served by the HTTP tests' scripted server
on 127.0.0.1, converted through the entry operations (convert_driver) and
through the command line (pagewing), and the messages are read back with
Python's email package.
"""

import argparse
import base64
import email
import email.header
import email.policy
import json
import os
import pty
import quopri
import re
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "http"))
from server_process import ServerProcess  # noqa: E402

ARGS = None
TIMEOUT = 60


def source_path(*parts):
    return os.path.join(ARGS.source_dir, *parts)


class Server(ServerProcess):
    """The test server serving root, on a free port unless one is given."""

    def __init__(self, root, routes="", log="", address="127.0.0.1", port=0, stderr=None):
        arguments = ["--root", root, "--address", address]
        if routes:
            arguments += ["--routes", routes]
        if log:
            arguments += ["--log", log]
        super().__init__(*arguments, port=port, stderr=stderr)
        self.host = "%s:%d" % (address, self.port)

    def url(self, path):
        return "http://%s%s" % (self.host, path)


def copy_site(source, target, host):
    """Copies a fixture tree, writing the server's host where "@HOST@" stands."""
    for folder, _, files in os.walk(source):
        relative = os.path.relpath(folder, source)
        os.makedirs(os.path.join(target, relative), exist_ok=True)
        for name in files:
            with open(os.path.join(folder, name), "rb") as original:
                data = original.read()
            if name.endswith((".html", ".htm", ".css", ".json")):
                data = data.replace(b"@HOST@", host.encode())
            with open(os.path.join(target, relative, name), "wb") as copy:
                copy.write(data)


def read_message(data):
    return email.message_from_bytes(data, policy=email.policy.compat32)


def clean_environment(**extra):
    environment = {key: value for key, value in os.environ.items()
                   if key.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
    environment.update(extra)
    return environment


def run_pagewing(*arguments, env=None, cwd=None, stdin=subprocess.DEVNULL):
    return subprocess.run([ARGS.pagewing, *arguments], capture_output=True, timeout=TIMEOUT,
                          env=env or clean_environment(), cwd=cwd, stdin=stdin)


# The message was written without some resources: status 3 and one line.
INCOMPLETE = 3
SUMMARY = re.compile(rb"pagewing: (\d+) of (\d+) resources? could not be embedded "
                     rb"\(run with -v to list them\)\n$")


def assert_written(test, result, missing=0):
    """A message was written: status 0 when it holds every resource, else 3
    with the summary line, which names missing resources."""
    if missing == 0 and result.returncode == 0:
        test.assertNotRegex(result.stderr, SUMMARY)
        return
    test.assertEqual(result.returncode, INCOMPLETE, result.stderr)
    summary = SUMMARY.search(result.stderr)
    test.assertIsNotNone(summary, result.stderr)
    if missing:
        test.assertEqual(int(summary.group(1)), missing, result.stderr)


class MessageChecks(unittest.TestCase):
    """Checks every message must pass, whatever page it came from."""

    def convert_url(self, url, tool, dangling=0):
        if tool == "driver":
            with tempfile.TemporaryDirectory() as scratch:
                output = os.path.join(scratch, "out.eml")
                result = subprocess.run([ARGS.driver, "url", url, output], capture_output=True,
                                        timeout=TIMEOUT, env=clean_environment())
                self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
                with open(output, "rb") as message:
                    data = message.read()
        else:
            result = run_pagewing(url)
            self.assertIn(result.returncode, (0, INCOMPLETE), result.stderr)
            data = result.stdout
        return self.checked(data, dangling)

    def checked(self, data, dangling=0):
        """dangling: how many distinct references name resources that the
        user excluded (they keep their cid: and get no part); one that could
        not be fetched keeps its address instead."""
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "every line ends in CR LF")
        for line in data.split(b"\r\n"):
            self.assertLessEqual(len(line), 998)
        self.assertTrue(data.endswith(b"--\r\n"))
        message = read_message(data)
        # A new Message-ID on every message, right behind the Date.
        self.assertRegex(message["Message-ID"],
                         r"^<[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}@[A-Za-z0-9.-]+>$")
        names = message.keys()
        self.assertEqual(names.index("Message-ID"), names.index("Date") + 1)
        self.assertEqual(message.get_content_type(), "multipart/related")
        self.assertEqual(message.get_param("type"), "text/html")
        self.assertEqual(message["MIME-Version"], "1.0")
        parts = message.get_payload()
        self.assertEqual(parts[0].get_content_type(), "text/html")
        self.assertEqual(parts[0]["Content-Transfer-Encoding"], "quoted-printable")
        ids = [part["Content-ID"] for part in parts if part["Content-ID"]]
        self.assertEqual(len(ids), len(set(ids)), "no two parts share a Content-ID")
        by_id = {content_id.strip("<>"): part for content_id in ids
                 for part in parts if part["Content-ID"] == content_id}
        unresolved = set()
        for part in parts:
            if part.get_content_type() != "text/html":
                continue
            html = part.get_payload(decode=True)
            for reference in re.findall(rb"cid:(VANTREL-CID-[0-9a-f-]{36})", html):
                if reference.decode() not in by_id:
                    unresolved.add(reference)
        self.assertEqual(len(unresolved), dangling, "every cid: finds its part")
        return message

    def assert_mail_safe(self, html):
        lowered = html.lower()
        self.assertNotIn(b"<script", lowered)
        self.assertNotIn(b"</script", lowered)
        self.assertNotIn(b"<noscript", lowered)
        self.assertNotIn(b"<iframe", lowered)
        for handler in (b"onload", b"onclick", b"onmouseover"):
            self.assertNotIn(handler, lowered)


def normalised(data):
    """Gives each content-id and the boundary a stand-in of the same length,
    numbered by first appearance, and blanks the Date and the Message-ID. A content-id in
    quoted-printable text may be broken by soft line breaks; it is found
    across them and the breaks stay where they are."""
    soft = rb"(?:=\r\n)?"
    pattern = re.compile(soft.join(re.escape(bytes([c])) for c in b"VANTREL-CID-")
                         + rb"(?:" + soft + rb"[0-9a-f-]){36}")
    stand_ins = {}

    def replace(match):
        text = match.group(0)
        key = text.replace(b"=\r\n", b"")
        stand_in = stand_ins.setdefault(key, b"CID-%d-" % len(stand_ins))
        stand_in = stand_in.ljust(len(key), b"#")
        out, taken = bytearray(), 0
        i = 0
        while i < len(text):
            if text.startswith(b"=\r\n", i):
                out += b"=\r\n"
                i += 3
                continue
            out.append(stand_in[taken])
            taken += 1
            i += 1
        return bytes(out)

    data = pattern.sub(replace, data)
    for number, boundary in enumerate(dict.fromkeys(re.findall(rb'boundary="([^"]+)"', data))):
        data = data.replace(boundary, b"BOUNDARY-%d" % number)
    data = re.sub(rb"\r\nMessage-ID: <[^\r]*>\r\n", b"\r\nMessage-ID: (new)\r\n", data)
    return re.sub(rb"\r\nDate: [^\r]*\r\n", b"\r\nDate: (now)\r\n", data)


def subject_text(message):
    pieces = email.header.decode_header(message["Subject"])
    return "".join(text.decode(charset or "ascii") if isinstance(text, bytes) else text
                   for text, charset in pieces)


class WebSite(MessageChecks):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="pw-e2e-site-")
        site = source_path("tests", "data", "e2e", "site")
        # Files are read when asked for, so they can follow once the port,
        # which some pages name, is known.
        cls.server = Server(cls.root, os.path.join(site, "routes.json"))
        copy_site(site, cls.root, cls.server.host)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def served(self, relative):
        with open(os.path.join(self.root, relative), "rb") as served:
            return served.read()

    def test_index_page(self):
        for tool in ("driver", "cli"):
            with self.subTest(tool=tool):
                message = self.convert_url(self.server.url("/index.html#part"), tool)
                parts = message.get_payload()
                page = parts[0]
                # The 404, the refused connection and the local file keep
                # their addresses, which a mail reader may still load.
                html = page.get_payload(decode=True)
                for address in (self.server.url("/img/missing.gif"),
                                "http://127.0.0.1:1/refused.gif", "file:///etc/hostname"):
                    self.assertIn(('src="%s"' % address).encode(), html)
                self.assertEqual(page["Content-Location"], self.server.url("/index.html"))
                self.assertEqual(page.get_param("charset"), "iso-8859-1")
                self.assertEqual(message["Subject"], "=?iso-8859-1?Q?Fixture_index?=")
                self.assertEqual(message["X-Unsent"], "1")
                self.assertIsNone(message["To"])
                names = [part.get_param("name") for part in parts[1:]]
                self.assertEqual(names[:3], ["vt0-banner.gif", "vt1-photo.jpg", "vt2-logo.png"])
                self.assertEqual(names[-1], "vt7-paper.png")
                expected_types = {".gif": "image/gif", ".jpg": "image/jpeg", ".png": "image/png"}
                for part in parts[1:]:
                    name = part.get_param("name")
                    self.assertEqual(part["Content-Transfer-Encoding"], "base64")
                    self.assertEqual(part.get_content_type(), expected_types[name[-4:]])
                    self.assertIsNone(part["Content-Location"])
                    self.assertEqual(part.get_payload(decode=True),
                                     self.served(os.path.join("img", name.split("-", 1)[1])))
                html = page.get_payload(decode=True)
                self.assert_mail_safe(html)
                self.assertIn(b"<p>No scripts here.</p>", html)
                self.assertIn(b'href="%s"' % self.server.url("/other.html").encode(), html)
                # Three of the six images could not be fetched: they keep their
                # addresses and have no part.
                self.assertEqual(len(re.findall(rb'(?i)src=["\x27]cid:', html)), 3)
                self.assertNotIn(b"missing", b"".join(p.get_param("name", "").encode()
                                                      for p in parts[1:]))
                # A page from the web reads no local file.
                with open("/etc/hostname", "rb") as local:
                    secret = local.read().strip()
                for part in parts[1:]:
                    if secret:
                        self.assertNotEqual(part.get_payload(decode=True).strip(), secret)
                self.assertIn(b"<STYLE TYPE=\"text/css\">", html)

    def test_frameset(self):
        message = self.convert_url(self.server.url("/frames.html"), "cli")
        parts = message.get_payload()
        summary = [(part.get_content_type(), part.get_param("name"), part["Content-Location"])
                   for part in parts]
        self.assertEqual(summary, [
            ("text/html", None, self.server.url("/frames.html")),
            ("image/gif", "vt0-left.gif", None),
            ("image/gif", "vt1-banner.gif", None),
            ("text/html", "vt0-left.html", self.server.url("/left.html")),
            ("image/gif", "vt0-right.gif", None),
            ("text/html", "vt1-right.html", self.server.url("/right.html")),
        ])
        frameset = parts[0].get_payload(decode=True)
        self.assertIn(b'<frame src="%s"' % self.server.url("/left.html").encode(), frameset)
        self.assertIn(b'<frame src="%s"' % self.server.url("/right.html").encode(), frameset)
        self.assertEqual(parts[4].get_payload(decode=True), self.served("img/right.gif"))
        for frame in (parts[3], parts[5]):
            self.assertEqual(frame["Content-Transfer-Encoding"], "quoted-printable")
            self.assertIn(b"charset=iso-8859-1", frame.get_payload(decode=True))

    def test_base_href(self):
        message = self.convert_url(self.server.url("/base.html"), "driver")
        parts = message.get_payload()
        self.assertEqual([part.get_param("name") for part in parts[1:]], ["vt0-left.gif"])
        self.assertEqual(parts[1].get_payload(decode=True), self.served("img/left.gif"))
        html = parts[0].get_payload(decode=True)
        self.assertIn(b'href="%s"' % self.server.url("/img/page.html").encode(), html)

    def test_charsets_and_subjects(self):
        cases = [
            ("/utf8-header.html", "utf-8", "=?utf-8?Q?Caf=C3=A9_header?=", "Caf\u00e9 header"),
            ("/utf8-meta.html", "utf-8", "=?utf-8?Q?Caf=C3=A9_meta?=", "Caf\u00e9 meta"),
            ("/utf8-ascii.html", "utf-8", "Plain title", "Plain title"),
            ("/latin1.html", "iso-8859-1", "=?iso-8859-1?Q?Caf=E9_latin?=", "Caf\u00e9 latin"),
            ("/ascii.html", "us-ascii", "Ascii page", "Ascii page"),
        ]
        for path, charset, raw_subject, subject in cases:
            with self.subTest(path=path):
                message = self.convert_url(self.server.url(path), "driver")
                page = message.get_payload()[0]
                self.assertEqual(page.get_param("charset"), charset)
                self.assertEqual(message["Subject"], raw_subject)
                self.assertEqual(subject_text(message), subject)
                self.assertIn(b"charset=%s\">" % charset.encode(), page.get_payload(decode=True))

    def test_login_with_the_password_from_the_environment(self):
        url = self.server.url("/private.html")
        refused = run_pagewing(url)
        self.assertEqual(refused.returncode, 1)
        accepted = run_pagewing("--user", "reader", url,
                                env=clean_environment(PAGEWING_PASSWORD="s3cret"))
        # The fixture's missing picture, refused host and local file.
        assert_written(self, accepted, missing=3)
        self.assertEqual(read_message(accepted.stdout)["Subject"],
                         "=?iso-8859-1?Q?Fixture_index?=")
        missing = run_pagewing("--user", "reader", url, env=clean_environment())
        self.assertEqual(missing.returncode, 2)
        self.assertIn(b"PAGEWING_PASSWORD", missing.stderr)

    def test_proxy(self):
        with tempfile.TemporaryDirectory() as proxy_root:
            with open(os.path.join(proxy_root, "index.html"), "wb") as page:
                page.write(b"<title>Seen through the proxy</title>")
            proxy = Server(proxy_root)
            try:
                result = run_pagewing("--proxy", proxy.host, self.server.url("/index.html"))
            finally:
                proxy.stop()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read_message(result.stdout)["Subject"],
                         "=?iso-8859-1?Q?Seen_through_the_proxy?=")

    def test_options(self):
        url = self.server.url("/index.html")
        result = run_pagewing("--subject", "Chosen", "--to", "a@example.com", "--from",
                              "b@example.com", "--no-unsent", "--exclude", "banner",
                              "--connections", "4", url)
        assert_written(self, result, missing=3)
        message = self.checked(result.stdout, dangling=1)
        # What the user typed is UTF-8, whatever the page's charset.
        self.assertEqual(message["Subject"], "Chosen")
        self.assertEqual(message["To"], "a@example.com")
        self.assertEqual(message["From"], "b@example.com")
        self.assertIsNone(message["X-Unsent"])
        names = [part.get_param("name") for part in message.get_payload()[1:]]
        self.assertNotIn("vt0-banner.gif", names)

        kept = run_pagewing("--keep-scripts", url)
        assert_written(self, kept, missing=3)
        message = self.checked(kept.stdout)
        html = message.get_payload()[0].get_payload(decode=True)
        self.assertIn(b"<script", html)
        scripts = [part for part in message.get_payload()
                   if (part.get_param("name") or "").endswith("app.js")]
        self.assertEqual(len(scripts), 1)
        self.assertEqual(scripts[0].get_payload(decode=True), self.served("js/app.js"))

        styled = run_pagewing("--style-sheet", self.server.url("/css/site.css"),
                              self.server.url("/utf8-ascii.html"))
        self.assertEqual(styled.returncode, 0, styled.stderr)
        html = self.checked(styled.stdout).get_payload()[0].get_payload(decode=True)
        self.assertIn(b"h1 { color: #204a87; }", html)

    def test_connections_change_neither_message_nor_log(self):
        """One download at a time and many at once give the same message and
        the same log, content-ids, the boundary, the Date and the Message-ID aside."""
        pages = ["/index.html#part", "/frames.html", "/base.html", "/utf8-header.html",
                 "/utf8-meta.html", "/utf8-ascii.html", "/latin1.html", "/ascii.html",
                 "/left.html", "/right.html", "/missing.html"]
        variants = [[], ["--keep-scripts"], ["--exclude", "banner"],
                    ["--style-sheet", self.server.url("/css/site.css")]]
        for page in pages:
            for variant in variants:
                with self.subTest(page=page, variant=variant):
                    arguments = ["-v", *variant, self.server.url(page)]
                    one = run_pagewing("--connections", "1", *arguments)
                    many = run_pagewing(*arguments)
                    self.assertEqual(many.returncode, one.returncode)
                    self.assertEqual(normalised(many.stdout + b"\0" + many.stderr),
                                     normalised(one.stdout + b"\0" + one.stderr))
        environment = clean_environment(PAGEWING_PASSWORD="s3cret")
        arguments = ["-v", "--user", "reader", self.server.url("/private.html")]
        one = run_pagewing("--connections", "1", *arguments, env=environment)
        many = run_pagewing("--connections", "3", *arguments, env=environment)
        assert_written(self, one, missing=3)
        self.assertEqual(normalised(many.stdout + b"\0" + many.stderr),
                         normalised(one.stdout + b"\0" + one.stderr))

    def test_verbose_log_and_failed_resources(self):
        """-v: a line per resource with its size or why it is missing; -vv
        adds the diagnostic log."""
        page = self.server.url("/index.html")
        result = run_pagewing("-v", "-o", os.devnull, page)
        assert_written(self, result, missing=3)
        lines = result.stderr.decode().splitlines()
        self.assertEqual(lines[0], "page " + page)
        logo = os.path.getsize(os.path.join(self.root, "img", "logo.png"))
        for line in ("  %s: %d bytes" % (self.server.url("/img/logo.png"), logo),
                     "  %s: not embedded: the server answered 404 Not Found"
                     % self.server.url("/img/missing.gif"),
                     "  http://127.0.0.1:1/refused.gif: not embedded: could not connect to "
                     "127.0.0.1 port 1: connection refused",
                     "  file:///etc/hostname: not embedded: a page from the web may not read "
                     "local files"):
            self.assertIn(line, lines)
        self.assertNotIn("external_content", result.stderr.decode())
        diagnostic = run_pagewing("-vv", "-o", os.devnull, page)
        self.assertIn(b"Failed to download or include external content.", diagnostic.stderr)

    def test_progress_line_on_a_terminal(self):
        primary, secondary = pty.openpty()
        try:
            process = subprocess.Popen([ARGS.pagewing, "-o", os.devnull,
                                        self.server.url("/index.html")],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=secondary, env=clean_environment())
            os.close(secondary)
            secondary = -1
            seen = b""
            deadline = time.monotonic() + TIMEOUT
            while time.monotonic() < deadline:
                ready, _, _ = select.select([primary], [], [], 1)
                if ready:
                    try:
                        chunk = os.read(primary, 4096)
                    except OSError:
                        break
                    if not chunk:
                        break
                    seen += chunk
                elif process.poll() is not None:
                    break
            self.assertEqual(process.wait(timeout=TIMEOUT), INCOMPLETE)
        finally:
            os.close(primary)
            if secondary >= 0:
                os.close(secondary)
        self.assertIn(b"fetching " + self.server.url("/index.html").encode(), seen)
        self.assertIn(b"6 resources fetched", seen)
        self.assertIn(b"3 failed", seen)
        quiet = subprocess.run([ARGS.pagewing, "-q", "-o", os.devnull,
                                self.server.url("/index.html")], capture_output=True,
                               timeout=TIMEOUT, env=clean_environment())
        # Quiet draws no progress line; what is missing is still told.
        self.assertRegex(quiet.stderr, rb"\Apagewing: 3 of 9 resources could not be embedded")
        self.assertEqual(quiet.stderr.count(b"\n"), 1)


class LocalPage(MessageChecks):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="pw-e2e-local-")
        copy_site(source_path("tests", "data", "e2e", "local"), self.folder, "")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def check_local(self, message):
        parts = message.get_payload()
        self.assertIsNone(parts[0]["Content-Location"])
        self.assertEqual(message["Subject"], "=?iso-8859-1?Q?Local_page?=")
        self.assertEqual([part.get_param("name") for part in parts[1:]],
                         ["vt0-dot.gif", "vt1-dot.gif"])
        with open(os.path.join(self.folder, "dot.gif"), "rb") as dot:
            self.assertEqual(parts[1].get_payload(decode=True), dot.read())
        with open(os.path.join(self.folder, "inc", "dot.gif"), "rb") as dot:
            self.assertEqual(parts[2].get_payload(decode=True), dot.read())
        html = parts[0].get_payload(decode=True)
        self.assertIn(b"<style>p { color: green }</style>", html)
        self.assertEqual(html.count(b"loop start"), 1)
        self.assertIn(b"loop startloop end", html)
        self.assertNotIn(b"#include", html)

    def test_command_line_with_a_backslash_path(self):
        outside = tempfile.mkdtemp(prefix="pw-e2e-cwd-")
        try:
            parent, name = os.path.split(self.folder)
            result = run_pagewing(name + "\\page.htm", cwd=parent)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.check_local(self.checked(result.stdout))
            # A file written with -o lands where the caller stands.
            result = run_pagewing("-o", "out.eml", os.path.join(self.folder, "page.htm"),
                                  cwd=outside)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(outside, "out.eml"), "rb") as written:
                self.check_local(self.checked(written.read()))
        finally:
            shutil.rmtree(outside, ignore_errors=True)

    def test_header_fields_a_reader_can_trust(self):
        """The Subject is the title a browser shows, To and From keep their
        addresses, and every encoded word decodes on its own to whole
        characters, within lines of 78."""
        japanese = "\u65e5\u672c\u8a9e" * 27
        accents = "\u00e9\u00fc" * 40
        title = "A &amp; B &#8212;\x07 C&eacute;\r\n\t\x1b[31m "
        cases = [
            ("utf8.htm", '<meta charset="utf-8"><title>%s%s</title>' % (title, accents),
             "utf-8", [], "A & B \u2014 C\u00e9 [31m " + accents),
            # Every character fits Latin-1: the words are in the page's charset.
            ("latin1.htm", "<title>%s</title>" % ("C&eacute;\x07 " + accents), "latin-1", [],
             "C\u00e9 " + accents),
            ("sjis.htm", '<meta charset="shift_jis"><title>%s</title>' % japanese, "shift_jis",
             [], japanese),
            ("user.htm", "<title>Page</title>", "latin-1",
             ["--subject", "Gr\u00fc\u00dfe\tan\nalle", "--to", "J\u00f6rg <j@example.org>",
              "--from", '"J\u00f6rg, M\u00fcller" <a@example.org>, b@example.org'],
             "Gr\u00fc\u00dfe an alle"),
        ]
        word = re.compile(r"=\?([^?]+)\?([BQbq])\?([^?]*)\?=")
        for name, page, encoding, options, subject in cases:
            with self.subTest(page=name):
                path = os.path.join(self.folder, name)
                with open(path, "wb") as written:
                    written.write(page.encode(encoding))
                result = run_pagewing(*options, path)
                self.assertEqual(result.returncode, 0, result.stderr)
                header = result.stdout.split(b"\r\n\r\n", 1)[0]
                for line in header.split(b"\r\n"):
                    if not line.startswith(b"Message-ID: "):
                        self.assertLessEqual(len(line), 78, line)
                for charset, kind, text in word.findall(header.decode("ascii")):
                    raw = (base64.b64decode(text) if kind in "Bb" else
                           quopri.decodestring(text, header=True))
                    raw.decode(charset)  # no character cut between two words
                    self.assertLessEqual(len(charset) + len(text) + 7, 75)
                self.checked(result.stdout)
                message = email.message_from_bytes(result.stdout, policy=email.policy.default)
                self.assertEqual(str(message["Subject"]), subject)
                if options:
                    to = message["To"].addresses
                    self.assertEqual([(a.display_name, a.addr_spec) for a in to],
                                     [("J\u00f6rg", "j@example.org")])
                    senders = message["From"].addresses
                    self.assertEqual([(a.display_name, a.addr_spec) for a in senders],
                                     [("J\u00f6rg, M\u00fcller", "a@example.org"),
                                      ("", "b@example.org")])

    def test_entry_operation(self):
        output = os.path.join(self.folder, "out.eml")
        result = subprocess.run([ARGS.driver, "file", "file://" + self.folder + "/page.htm",
                                 output], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(output, "rb") as written:
            self.check_local(self.checked(written.read()))


class HonestResults(unittest.TestCase):
    """The login goes only to the page's host, each failure is told in
    words, and a missing picture is asked for once."""

    PICTURES = 20

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pw-e2e-honest-")
        cls.logs = {name: os.path.join(cls.scratch, name + ".jsonl") for name in ("own", "other")}
        os.makedirs(os.path.join(cls.scratch, "own"))
        os.makedirs(os.path.join(cls.scratch, "other"))
        dot = source_path("tests", "data", "e2e", "local", "dot.gif")
        for index in range(0, cls.PICTURES, 2):
            shutil.copy(dot, os.path.join(cls.scratch, "own", "p%d.gif" % index))
        shutil.copy(dot, os.path.join(cls.scratch, "own", "picture.gif"))
        shutil.copy(dot, os.path.join(cls.scratch, "other", "away.gif"))
        cls.other = Server(os.path.join(cls.scratch, "other"), log=cls.logs["other"],
                           address="127.0.0.2")
        cls.own = Server(os.path.join(cls.scratch, "own"), log=cls.logs["own"])
        pictures = "".join('<img src="p%d.gif">' % i for i in range(cls.PICTURES))
        cls.write("own/login.html", '<title>L</title><img src="picture.gif">'
                  '<img src="%s">' % cls.other.url("/away.gif"))
        cls.write("own/half.html", "<title>H</title>" + pictures)

    @classmethod
    def tearDownClass(cls):
        cls.own.stop()
        cls.other.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def write(cls, relative, text):
        with open(os.path.join(cls.scratch, relative), "w") as page:
            page.write(text)

    def requests(self, name):
        """(target, Authorization) of every request the server saw since the last call."""
        path = self.logs[name]
        if not os.path.exists(path):
            return []
        with open(path) as lines:
            entries = [json.loads(line) for line in lines]
        os.remove(path)
        return [(entry["target"], dict(entry["headers"]).get("Authorization")) for entry in entries]

    def test_the_login_goes_only_to_the_page_host(self):
        basic = "Basic " + base64.b64encode(b"reader:s3cret").decode()
        page = self.own.url("/login.html")
        with_url = page.replace("http://", "http://reader:s3cret@")
        for arguments, environment in ((["--user", "reader", page], {"PAGEWING_PASSWORD": "s3cret"}),
                                       ([with_url], {}), (["-v", with_url], {})):
            with self.subTest(arguments=arguments):
                self.requests("own"), self.requests("other")
                result = run_pagewing(*arguments, env=clean_environment(**environment))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(sorted(self.requests("own")),
                                 [("/login.html", basic), ("/picture.gif", basic)])
                self.assertEqual(self.requests("other"), [("/away.gif", None)])
                self.assertNotIn(b"s3cret", result.stdout + result.stderr)
                self.assertEqual(read_message(result.stdout).get_payload()[0]["Content-Location"],
                                 page)
        failed = run_pagewing(with_url.replace("/login.html", "/none.html"))
        self.assertEqual(failed.stderr.decode(), "pagewing: cannot convert %s: the server "
                         "answered 404 Not Found\n" % self.own.url("/none.html"))

    def test_a_missing_picture_is_asked_for_once(self):
        missing = self.PICTURES // 2
        for connections in ("1", "16"):
            with self.subTest(connections=connections):
                self.requests("own")
                result = run_pagewing("--connections", connections, self.own.url("/half.html"))
                self.assertEqual(result.returncode, INCOMPLETE, result.stderr)
                self.assertEqual(result.stderr.decode(),
                                 "pagewing: %d of %d resources could not be embedded (run with "
                                 "-v to list them)\n" % (missing, self.PICTURES))
                asked = [target for target, _ in self.requests("own")]
                self.assertEqual(len(asked), self.PICTURES + 1)
                self.assertEqual(len(set(asked)), self.PICTURES + 1)

    def test_pages_that_fail_say_why(self):
        """A body cut short, a picture as the page, a page that hangs."""
        cases = [
            (["/_/r?type=text/html&body_size=5000&close_after=100"],
             "the connection to 127.0.0.1 closed before the whole answer arrived "
             "(100 of 5000 bytes)"),
            (["/_/r?type=text/html&length=chunked&body_size=5000&close_after=100"],
             "the connection to 127.0.0.1 closed before the whole answer arrived"),
            (["/picture.gif"], "not an HTML page (GIF image)"),
            (["/_/r?type=text/html&stall_after=0&stall_ms=8000&body=x", "--timeout", "1"],
             "no answer from 127.0.0.1 for 1 s"),
        ]
        for (path, *options), reason in cases:
            with self.subTest(path=path):
                self.requests("own")
                result = run_pagewing(*options, self.own.url(path))
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.stderr.decode(), "pagewing: cannot convert %s: %s\n"
                                 % (self.own.url(path), reason))
                self.assertEqual(len(self.requests("own")), 1)


class Cookies(unittest.TestCase):
    """One cookie store for every request of a conversion, filled by the
    page's answers and by a cookies.txt the user gives."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pw-e2e-cookies-")
        root = os.path.join(cls.scratch, "site")
        os.makedirs(root)
        shutil.copy(source_path("tests", "data", "e2e", "local", "dot.gif"), root)
        with open(os.path.join(root, "page.html"), "w") as page:
            page.write('<title>Member</title><p>only for members</p><img src="/member.gif">')
        routes = {
            "/login": {"header": ["Set-Cookie: kept=yes; Path=/; Max-Age=3600",
                                  "Set-Cookie: hidden=yes; Path=/; HttpOnly; Max-Age=3600"],
                       "body": "welcome"},
            "/welcome.html": {"file": "/page.html", "type": "text/html",
                              "header": "Set-Cookie: visit=1; Path=/"},
            "/member.gif": {"file": "/dot.gif", "need_cookie": "visit=1"},
            "/private.html": {"file": "/page.html", "type": "text/html",
                              "need_cookie": "hidden=yes"},
            "/private.gif": {"file": "/dot.gif", "need_cookie": "kept=yes"},
        }
        with open(os.path.join(cls.scratch, "routes.json"), "w") as written:
            json.dump(routes, written)
        cls.server = Server(root, os.path.join(cls.scratch, "routes.json"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_a_cookie_the_page_sets_reaches_its_pictures(self):
        for connections in ("1", "16"):
            with self.subTest(connections=connections):
                result = run_pagewing("--connections", connections,
                                      self.server.url("/welcome.html"))
                assert_written(self, result)
                self.assertEqual(len(read_message(result.stdout).get_payload()), 2)

    def test_cookies_from_a_file_another_tool_wrote(self):
        jar = os.path.join(self.scratch, "cookies.txt")
        subprocess.run(["curl", "--silent", "--noproxy", "*", "-c", jar,
                        self.server.url("/login")], check=True, timeout=TIMEOUT,
                       capture_output=True)
        with open(jar) as written:
            self.assertIn("#HttpOnly_", written.read())
        page = self.server.url("/private.html")
        result = run_pagewing("--cookies", jar, page)
        assert_written(self, result)
        self.assertIn(b"only for members",
                      read_message(result.stdout).get_payload()[0].get_payload(decode=True))
        self.assertEqual(run_pagewing(page).returncode, 1)

    def test_a_cookie_file_that_cannot_be_read(self):
        missing = os.path.join(self.scratch, "none.txt")
        garbage = os.path.join(self.scratch, "garbage.txt")
        with open(garbage, "wb") as written:
            written.write(b"\x00\xff not cookies\n")
        page = self.server.url("/welcome.html")
        for path, reason in ((missing, "cannot read the cookies in %s: No such file or "
                                       "directory" % missing),
                             (garbage, "no cookies in %s (it is not a Netscape cookies.txt "
                                       "file)" % garbage)):
            with self.subTest(path=path):
                result = run_pagewing("--cookies", path, page)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr.decode(),
                                 "pagewing: cannot convert %s: %s\n" % (page, reason))
        # A browser profile the user named must be there too.
        for choice, reason in (("netscape", "unknown browser 'netscape' (known: firefox, "
                                          "chromium, chrome)"),
                             ("firefox:" + missing, "no Firefox profile folder " + missing),
                             ("chromium:" + missing, "no Chromium profile at " + missing)):
            with self.subTest(choice=choice):
                result = run_pagewing("--cookies-from-browser", choice, page)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr.decode(), "pagewing: cannot read the cookies "
                                 "of %s: %s\n" % (choice, reason))



class ScriptBuiltPages(MessageChecks):
    """--render: the page as it stands after its scripts ran in headless
    Chromium, with the user's cookies, and those the page set on the way."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pw-e2e-render-")
        root = os.path.join(cls.scratch, "site")
        os.makedirs(root)
        shutil.copy(source_path("tests", "data", "e2e", "scripted", "app.html"), root)
        shutil.copy(source_path("tests", "data", "e2e", "local", "dot.gif"), root)
        with open(os.path.join(root, "app.html"), "rb") as page:
            polling = page.read().replace(
                b"</body>", b'<script>fetch("/_/r?delay_ms=60000");</script></body>', 1)
        with open(os.path.join(root, "poll.html"), "wb") as page:
            page.write(polling)
        member = {"need_cookie": "kept=yes"}
        routes = {
            "/app.html": dict(member, file="/app.html", type="text/html"),
            "/poll.html": dict(member, file="/poll.html", type="text/html"),
            "/private.gif": dict(member, file="/dot.gif", type="image/gif"),
            "/more.txt": dict(member, body="Fetched after the load", type="text/plain"),
            "/made.gif": {"file": "/dot.gif", "type": "image/gif",
                          "need_cookie": "made=byscript"},
            "/lazy.gif": {"file": "/dot.gif", "type": "image/gif"},
            "/slow.html": {"body": "<p>late</p>", "type": "text/html", "delay_ms": 30000},
        }
        with open(os.path.join(cls.scratch, "routes.json"), "w") as written:
            json.dump(routes, written)
        cls.server = Server(root, os.path.join(cls.scratch, "routes.json"))
        cls.jar = os.path.join(cls.scratch, "cookies.txt")
        with open(cls.jar, "w") as written:
            written.write("127.0.0.1\tFALSE\t/\tFALSE\t0\tkept\tyes\n")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        if not shutil.which("chromium"):
            self.skipTest("no chromium")

    def test_what_the_scripts_built_is_in_the_message(self):
        page = self.server.url("/app.html")
        result = run_pagewing("--render", "--cookies", self.jar, page)
        assert_written(self, result)
        message = self.checked(result.stdout)
        html = message.get_payload()[0].get_payload(decode=True).decode("utf-8")
        self.assertIn("Built by the page\u2019s script", html)
        self.assertIn("Fetched after the load", html)
        self.assertNotIn("enable JavaScript", html)
        self.assertNotIn("<script", html.lower())
        self.assertEqual(subject_text(message), "Members\u2019 board")
        # The private picture, the one that needs the script's cookie, and the
        # one that loads on sight; a missing one would have made status 3.
        self.assertEqual(len(message.get_payload()), 4)

        plain = run_pagewing("--cookies", self.jar, page)
        assert_written(self, plain)
        plain_html = next(part for part in read_message(plain.stdout).walk()
                          if part.get_content_type() == "text/html").get_payload(decode=True)
        self.assertNotIn(b"Built by the page", plain_html)
        self.assertIn(b"enable JavaScript", plain_html)

    def test_a_request_that_never_ends_does_not_hold_the_page_back(self):
        # Long polling keeps one request open for a minute. Were the page to
        # wait for it, the timeout would cut the scrolling short and the
        # picture that loads on sight would be missing.
        result = run_pagewing("--render", "--cookies", self.jar, self.server.url("/poll.html"))
        assert_written(self, result)
        self.assertEqual(len(self.checked(result.stdout).get_payload()), 4)

    def test_what_cannot_be_rendered_says_why(self):
        page = self.server.url("/app.html")
        no_chromium = clean_environment(PATH="/nonexistent")
        named = clean_environment(PAGEWING_CHROMIUM="/nonexistent/chromium")
        for arguments, env, status, line in (
                (("--render", page), no_chromium, 1,
                 "pagewing: cannot convert %s: --render needs Chromium, and none was found "
                 "(install it with \"sudo apt install chromium\", or name the program in "
                 "PAGEWING_CHROMIUM)\n" % page),
                (("--render", page), named, 1,
                 "pagewing: cannot convert %s: PAGEWING_CHROMIUM names /nonexistent/chromium, "
                 "which is not a program\n" % page),
                (("--render", page), None, 1,
                 "pagewing: cannot convert %s: the server answered 403 Forbidden\n" % page),
                (("--render", "-"), None, 2,
                 "pagewing: --render needs a URL or a file, not standard input\n"
                 "Try 'pagewing --help' for more information.\n")):
            with self.subTest(arguments=arguments, env=bool(env)):
                result = run_pagewing(*arguments, env=env)
                self.assertEqual(result.returncode, status)
                self.assertEqual(result.stderr.decode(), line)
                self.assertEqual(result.stdout, b"")

    def test_an_interrupted_conversion_leaves_nothing_behind(self):
        temporary = tempfile.mkdtemp(dir=self.scratch)
        process = subprocess.Popen(
            [ARGS.pagewing, "--render", "--cookies", self.jar, self.server.url("/slow.html")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            env=clean_environment(TMPDIR=temporary))
        try:
            profile = None
            deadline = time.monotonic() + TIMEOUT
            while profile is None and time.monotonic() < deadline and process.poll() is None:
                names = [name for name in os.listdir(temporary) if name.startswith("pagewing-")]
                profile = os.path.join(temporary, names[0]) if names else None
                time.sleep(0.1)
            self.assertIsNotNone(profile, process.stderr.read() if process.poll() else "")
            time.sleep(2)  # the browser is under way
            self.assertTrue(browsers_using(profile))
            process.send_signal(signal.SIGINT)
            self.assertEqual(process.wait(timeout=30), -signal.SIGINT)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stderr.close()
        self.assertEqual(os.listdir(temporary), [])
        deadline = time.monotonic() + 10
        while browsers_using(profile) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(browsers_using(profile), [])


def browsers_using(profile):
    """The processes whose command line names the profile folder."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as command:
                if profile.encode() in command.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found

def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class TinyProxy:
    """Debian's tinyproxy on 127.0.0.1 with a free port; it marks what it
    carries with a Via header."""

    def __init__(self, folder):
        self.port = free_port()
        config = os.path.join(folder, "tinyproxy.conf")
        with open(config, "w") as written:
            written.write("Port %d\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
                          "LogLevel Error\nLogFile \"%s\"\n"
                          % (self.port, os.path.join(folder, "tinyproxy.log")))
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("tinyproxy did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class DesktopProxy(unittest.TestCase):
    """Without a proxy in the environment, the desktop's proxy settings (here
    GNOME's, kept by GSettings in a key file) decide for each host: the page
    on 127.0.0.1 must come directly, its picture on localhost through the
    proxy."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="pw-e2e-desktop-proxy-")
        root = os.path.join(cls.scratch, "site")
        os.makedirs(root)
        shutil.copy(source_path("tests", "data", "e2e", "local", "dot.gif"), root)
        routes = os.path.join(cls.scratch, "routes.json")
        with open(routes, "w") as written:
            json.dump({"/page.html": {"file": "/page.html", "type": "text/html",
                                      "proxied": "never"},
                       "/dot.gif": {"file": "/dot.gif", "proxied": "only"}}, written)
        cls.server = Server(root, routes)
        with open(os.path.join(root, "page.html"), "w") as page:
            page.write('<title>Mixed</title><img src="http://localhost:%d/dot.gif">'
                       % cls.server.port)
        try:
            cls.proxy = TinyProxy(cls.scratch)
        except RuntimeError:
            cls.server.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.proxy.stop()
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def desktop(self, name, settings, **extra):
        """The environment of a GNOME session whose proxy settings are the
        given key file groups."""
        folder = os.path.join(self.scratch, name)
        os.makedirs(os.path.join(folder, "glib-2.0", "settings"), exist_ok=True)
        with open(os.path.join(folder, "glib-2.0", "settings", "keyfile"), "w") as written:
            written.write(settings)
        return clean_environment(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=folder,
                                 XDG_CURRENT_DESKTOP="GNOME", **extra)

    def assert_page_and_picture(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(read_message(result.stdout).get_payload()), 2)

    def test_manual_settings_and_their_ignored_hosts(self):
        env = self.desktop("manual", "[system/proxy]\nmode='manual'\n"
                           "ignore-hosts=['127.0.0.0/8']\n"
                           "[system/proxy/http]\nhost='127.0.0.1'\nport=%d\n" % self.proxy.port,
                           # Only a proxy in the environment comes before the desktop.
                           no_proxy="localhost")
        self.assert_page_and_picture(run_pagewing(self.server.url("/page.html"), env=env))

    def test_a_pac_file(self):
        pac = os.path.join(self.scratch, "proxy.pac")
        with open(pac, "w") as written:
            written.write('function FindProxyForURL(url, host) {\n'
                          '  return host == "localhost" ? "PROXY 127.0.0.1:%d" : "DIRECT";\n}\n'
                          % self.proxy.port)
        # Without its own list, GNOME's would keep localhost from the PAC file.
        env = self.desktop("pac", "[system/proxy]\nmode='auto'\nignore-hosts=[]\n"
                           "autoconfig-url='file://%s'\n" % pac)
        # GIO runs PAC files in a helper started on the session bus.
        result = subprocess.run(["dbus-run-session", "--", ARGS.pagewing,
                                 self.server.url("/page.html")],
                                capture_output=True, timeout=TIMEOUT, env=env,
                                stdin=subprocess.DEVNULL)
        self.assert_page_and_picture(result)

    def test_a_proxy_in_the_environment_comes_first(self):
        env = self.desktop("overridden", "[system/proxy]\nmode='manual'\nignore-hosts=[]\n"
                           "[system/proxy/http]\nhost='127.0.0.1'\nport=%d\n" % free_port(),
                           http_proxy="http://127.0.0.1:%d" % self.proxy.port,
                           no_proxy="127.0.0.1")
        self.assert_page_and_picture(run_pagewing(self.server.url("/page.html"), env=env))


class CommandLine(unittest.TestCase):
    def test_help_and_version(self):
        for option in ("--help", "-h"):
            result = run_pagewing(option)
            self.assertEqual(result.returncode, 0)
            self.assertTrue(result.stdout.startswith(b"Usage: pagewing [options] URL-OR-FILE\n"))
            for listed in (b"-o, --output FILE", b"-h, --help", b"-V, --version",
                           b"--bookmarklet", b"--base URL", b"--timeout SECONDS",
                           b"--resolve HOST:PORT:ADDRESS", b"  3  the message was written"):
                self.assertIn(listed, result.stdout)
        for option in ("--version", "-V"):
            result = run_pagewing(option)
            self.assertEqual((result.returncode, result.stdout), (0, b"pagewing 2.0\n"))

    def test_usage_errors(self):
        for arguments in (["--no-such-option", "x"], ["a.htm", "b.htm"], ["--subject"],
                          ["--connections", "none", "x"], ["--connections", "0", "x"],
                          ["-o"], ["--open", "-o", "x.eml", "x.htm"], ["-v"],
                          ["--timeout", "0", "x"], ["--resolve", "host:80", "x"],
                          ["--base", "http://127.0.0.1/", "x.htm"]):
            with self.subTest(arguments=arguments):
                result = run_pagewing(*arguments)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(result.stdout, b"")
                self.assertTrue(result.stderr.startswith(b"pagewing: "))

    def test_failures_say_what_failed_in_one_line(self):
        with tempfile.TemporaryDirectory() as scratch:
            missing = os.path.join(scratch, "missing.htm")
            cases = [
                ([missing], "Failed to open file (No such file or directory)"),
                (["nosuchfile.html"], "Failed to open file (No such file or directory)"),
                (["http://127.0.0.1:1/page.html"],
                 "could not connect to 127.0.0.1 port 1: connection refused"),
                (["127.0.0.1:1/page.html"], "http://127.0.0.1:1/page.html: could not connect"),
                (["/bin/ls"], "/bin/ls: not an HTML page (ELF executable)"),
            ]
            for arguments, reason in cases:
                with self.subTest(arguments=arguments):
                    result = run_pagewing(*arguments)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(result.stdout, b"")
                    lines = result.stderr.decode().splitlines()
                    self.assertEqual(len(lines), 1, lines)
                    self.assertTrue(lines[0].startswith("pagewing: cannot convert "))
                    self.assertIn(reason, lines[0])
            page = os.path.join(scratch, "page.htm")
            with open(page, "w") as written:
                written.write("<title>t</title>")
            # Standard output, or a device, that is full: no message was written.
            for arguments in (["-o", "/dev/full", page], ["-o", "-", page], ["--version"]):
                with self.subTest(arguments=arguments), open("/dev/full", "wb") as full:
                    result = subprocess.run([ARGS.pagewing, *arguments], stdout=full,
                                            stderr=subprocess.PIPE, timeout=TIMEOUT,
                                            env=clean_environment())
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertIn(b"No space left on device", result.stderr)
                    self.assertTrue(stat.S_ISCHR(os.stat("/dev/full").st_mode))

    def test_pages_from_standard_input_and_host_names(self):
        with tempfile.TemporaryDirectory() as scratch:
            root = os.path.join(scratch, "site")
            os.makedirs(root)
            with open(os.path.join(root, "page.html"), "w") as page:
                page.write('<html><body><img src="dot.gif"></body></html>')
            shutil.copy(source_path("tests", "data", "e2e", "local", "dot.gif"), root)
            with open(os.path.join(scratch, "http-page.html"), "w") as page:
                page.write("<title>A file</title>")
            log = os.path.join(scratch, "requests.jsonl")
            server = Server(root, log=log)
            try:
                self.check_inputs(scratch, root, server, log)
            finally:
                server.stop()

    def requests(self, log):
        if not os.path.exists(log):
            return []
        with open(log) as lines:
            entries = [json.loads(line) for line in lines]
        os.remove(log)
        return [(entry["target"], dict(entry["headers"])["Host"]) for entry in entries]

    def check_inputs(self, scratch, root, server, log):
        page_url = server.url("/page.html")
        with open(os.path.join(root, "page.html"), "rb") as page:
            html = page.read()
        host = "xn--bcher-kva.example:%d" % server.port
        cases = [
            # arguments, standard input, working directory: page URL, subject, hosts asked
            (["-o", "-", server.host + "/page.html"], None, scratch,
             page_url, "http://" + server.host, [server.host] * 2),
            (["--base", page_url, "-"], html, scratch, page_url, "http://" + server.host,
             [server.host]),
            (["-"], html, root, None, "localhost", []),
            (["--resolve", "bücher.example:%d:127.0.0.1" % server.port,
              "bücher.example:%d/page.html" % server.port], None, scratch,
             "http://%s/page.html" % host, "http://" + host, [host] * 2),
            (["http-page.html"], None, scratch, None, "A file", []),
        ]
        for arguments, stdin, cwd, location, subject, hosts in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([ARGS.pagewing, *arguments], input=stdin or b"",
                                        capture_output=True, timeout=TIMEOUT, cwd=cwd,
                                        env=clean_environment())
                self.assertEqual(result.returncode, 0, result.stderr)
                message = read_message(result.stdout)
                self.assertEqual(subject_text(message), subject)
                parts = message.get_payload()
                self.assertEqual(parts[0]["Content-Location"], location)
                self.assertEqual(len(parts), 1 if subject == "A file" else 2)
                self.assertEqual([asked for _, asked in self.requests(log)], hosts)
        # A message that cannot be written is refused before anything is fetched.
        result = run_pagewing("-o", os.path.join(scratch, "no", "dir.eml"), page_url)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode().splitlines(),
                         ["pagewing: cannot write %s: the folder %s does not exist"
                          % (os.path.join(scratch, "no", "dir.eml"),
                             os.path.join(scratch, "no"))])
        self.assertEqual(self.requests(log), [])

    def test_open_writes_a_private_file_and_hands_it_to_the_mail_client(self):
        with tempfile.TemporaryDirectory() as scratch:
            temporary = os.path.join(scratch, "tmp")
            config = os.path.join(scratch, "config")
            data = os.path.join(scratch, "data")
            for folder in (temporary, config, os.path.join(data, "applications")):
                os.makedirs(folder)
            record = os.path.join(scratch, "opened.txt")
            handler = os.path.join(scratch, "record-mail")
            with open(handler, "w") as script:
                script.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >> %s\n" % record)
            os.chmod(handler, 0o755)
            with open(os.path.join(data, "applications", "record-mail.desktop"), "w") as entry:
                entry.write("[Desktop Entry]\nType=Application\nName=Record mail\n"
                            "Exec=%s %%f\nMimeType=message/rfc822;\n" % handler)
            with open(os.path.join(config, "mimeapps.list"), "w") as defaults:
                defaults.write("[Default Applications]\nmessage/rfc822=record-mail.desktop\n")
            page = os.path.join(scratch, "page.htm")
            with open(page, "w") as written:
                written.write("<title>Opened</title>")
            environment = clean_environment(
                TMPDIR=temporary, XDG_CONFIG_HOME=config, XDG_DATA_HOME=data,
                XDG_DATA_DIRS=data + ":/usr/share", XDG_CONFIG_DIRS=config)
            environment.pop("DBUS_SESSION_BUS_ADDRESS", None)
            paths = []
            for _ in range(2):
                result = run_pagewing("--open", page, env=environment)
                self.assertEqual(result.returncode, 0, result.stderr)
                paths.append(result.stdout.decode().strip())
            self.assertEqual(os.path.basename(paths[0]), "wpx.eml")
            self.assertRegex(os.path.basename(paths[1]), r"^wpx[0-9a-f]+_2\.eml$")
            for path in paths:
                self.assertEqual(os.path.dirname(path), temporary)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
                with open(path, "rb") as written:
                    self.assertEqual(read_message(written.read())["Subject"],
                                     "=?iso-8859-1?Q?Opened?=")
            deadline = time.monotonic() + 20
            opened = []
            while time.monotonic() < deadline:
                if os.path.exists(record):
                    with open(record) as recorded:
                        opened = recorded.read().split()
                    if len(opened) == 2:
                        break
                time.sleep(0.1)
            self.assertEqual(sorted(opened), sorted(paths))


def css_of(html):
    """The text of every style element and style attribute."""
    sheets = re.findall(rb"<style[^>]*>(.*?)</style", html, re.S | re.I)
    attributes = re.findall(rb"""\sstyle=(?:"([^"]*)"|'([^']*)')""", html, re.I)
    return sheets + [b"".join(value) for value in attributes]


def data_url_bytes(text):
    """The bytes of every base64 data: address in the text."""
    return [base64.b64decode(data)
            for data in re.findall(rb"data:[a-z+/.-]+;base64,([A-Za-z0-9+/=]+)", text)]


class ThunderbirdDrafts(unittest.TestCase):
    """--mail-program thunderbird: CSS pictures as data:, cell and table
    backgrounds in the style, @media blocks as style elements; without it the
    message is made as for any reader."""

    page = None

    @classmethod
    def setUpClass(cls):
        cls.page = source_path("tests", "data", "e2e", "draft", "page.html")

    def convert(self, *options, env=None):
        result = run_pagewing("--complete", *options, self.page, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def picture(self, name):
        with open(source_path("tests", "data", "render", "img", name), "rb") as picture:
            return picture.read()

    def assert_adapted(self, data):
        message = read_message(data)
        parts = message.get_payload()
        page = parts[0]
        self.assertEqual(page["Content-Transfer-Encoding"], "quoted-printable")
        encoded = page.get_payload(decode=False).encode()
        self.assertLessEqual(max(len(line) for line in encoded.split(b"\n")), 77,
                             "no line of the page's part over 76 characters")
        html = page.get_payload(decode=True)
        for css in css_of(html):
            self.assertNotIn(b"cid:", css.lower())
        cell = re.search(rb"<td[^>]*>", html).group(0)
        table = re.search(rb"<table[^>]*>", html).group(0)
        for tag in (cell, table):
            self.assertNotIn(b"background=", tag.lower())
        self.assertRegex(cell, rb'style="background-image:url\(data:image/jpeg;base64,'
                               rb'[^)]+\);color: #fff"')
        self.assertEqual(data_url_bytes(cell), [self.picture("brick.jpg")])
        self.assertEqual(data_url_bytes(table), [self.picture("sky.png")])
        pictures = data_url_bytes(html)
        for name in ("sky.png", "grass.gif", "sand.gif"):
            self.assertIn(self.picture(name), pictures)
        # The @media blocks are elements of their own, between the rules
        # around them; the strings and comments that name @media stay.
        elements = re.findall(rb"<style([^>]*)>(.*?)</style>", html, re.S)
        self.assertEqual([attributes for attributes, _ in elements],
                         [b' type="text/css"', b' media="(max-width: 600px)" type="text/css"',
                          b' type="text/css"', b' media="print" type="text/css"'])
        self.assertIn(b"@media print {", elements[0][1])
        self.assertIn(b'" @media url( "', elements[0][1])
        self.assertIn(b"@supports (display: grid)", elements[1][1])
        self.assertIn(b".after { color: #204a87; }", elements[2][1])
        # The pictures of img and body stay parts; those of CSS alone leave.
        self.assertIn(b'<img src="cid:', html)
        self.assertIn(b'<body background="cid:', html)
        self.assertEqual([part.get_param("name") for part in parts[1:]],
                         ["vt2-badge.png", "vt3-paper.png"])
        for part in parts[1:]:
            self.assertIn(b"cid:" + part["Content-ID"].strip("<>").encode(), html)

    def test_the_draft_keeps_every_picture_and_media_rule(self):
        self.assert_adapted(self.convert("--mail-program", "thunderbird"))

    def test_without_thunderbird_the_message_is_unchanged(self):
        made = normalised(self.convert())
        self.assertEqual(normalised(self.convert("--mail-program", "none")), made)
        self.assertIn(b"url(cid:", made.replace(b"=\r\n", b""))
        self.assertEqual(len(read_message(made).get_payload()), 7)

    def test_open_makes_it_for_the_program_that_opens_it(self):
        """The desktop's handler of message/rfc822 decides: one whose desktop
        id names Thunderbird gets the draft, another the plain message."""
        for desktop_id, adapted in (("org.example.thunderbird.desktop", True),
                                    ("record-mail.desktop", False)):
            with tempfile.TemporaryDirectory() as scratch:
                environment = self.handler_environment(scratch, desktop_id)
                result = subprocess.run([ARGS.pagewing, "--complete", "--open", self.page],
                                        capture_output=True, timeout=TIMEOUT, env=environment)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(result.stdout.decode().strip(), "rb") as written:
                    data = written.read()
                if adapted:
                    self.assert_adapted(data)
                else:
                    self.assertIn(b"url(cid:", data.replace(b"=\r\n", b""))

    def handler_environment(self, scratch, desktop_id):
        temporary = os.path.join(scratch, "tmp")
        config = os.path.join(scratch, "config")
        data = os.path.join(scratch, "data")
        for folder in (temporary, config, os.path.join(data, "applications")):
            os.makedirs(folder)
        with open(os.path.join(data, "applications", desktop_id), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Mail\n"
                        "Exec=/bin/true %f\nMimeType=message/rfc822;\n")
        with open(os.path.join(config, "mimeapps.list"), "w") as defaults:
            defaults.write("[Default Applications]\nmessage/rfc822=%s\n" % desktop_id)
        environment = clean_environment(
            TMPDIR=temporary, XDG_CONFIG_HOME=config, XDG_DATA_HOME=data,
            XDG_DATA_DIRS=data, XDG_CONFIG_DIRS=config)
        environment.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return environment

    def test_an_unknown_mail_program_is_a_usage_error(self):
        result = run_pagewing("--mail-program", "thunderbrid", self.page)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--mail-program knows thunderbird", result.stderr)
        self.assertIn(b"--mail-program NAME", run_pagewing("--help").stdout)


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
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
