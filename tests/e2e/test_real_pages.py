#!/usr/bin/env python3
"""Addresses written the way real sites write them, end to end.

The pages of tests/data/realpages copy real sites' habits: a wiki's sheet
from load.php with "&amp;" in its query, a news site whose queries pick the
picture, lazy loaders' placeholders, protocol-relative addresses on a page
served over https, a table of contents, CSS shorthand and imports, and a
saved page whose file names hold blanks and letters beyond ASCII. They are
served by tests/http/test_server.py (routes.json holds the answers that
depend on the query; https with a throw-away CA made by openssl), converted
by the program without and with --complete, and read back with Python's
email package.

Mends checks each reference of EXPECTED in the message. Coverage asks
headless Chromium which resources it loads for each page (scripts off, as a
mail reader shows a message, and at double density, whose candidate is the
one the complete mode picks from a srcset), counts those the messages
carry and prints a table. The complete mode must carry all of them, the
default mode those of the kinds its passes handle (DEFAULT_KINDS).

Usage: test_real_pages.py --pagewing PROGRAM --source-dir DIR [Mends|Coverage]
"""

import argparse
import base64
import html.parser
import json
import os
import posixpath
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

import test_messages as base
from test_messages import MessageChecks, clean_environment, copy_site, read_message

ARGS = None
SITE = None
TIMEOUT = 90
HTTPS_PAGES = {"cdn"}
NO_SCRIPTS = "Content-Security-Policy:sandbox allow-same-origin"
CHROMIUM = "/usr/bin/chromium"
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--window-size=1024,768", "--hide-scrollbars", "--force-device-scale-factor=2",
    "--virtual-time-budget=5000", "--ignore-certificate-errors",
]
TYPES = {".png": "image/png", ".gif": "image/gif", ".jpg": "image/jpeg", ".woff2": "font/woff2"}

GIF_1X1 = "data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7"
SVG_BLANK = ("data:image/svg+xml,%3Csvg%20xmlns='http://www.w3.org/2000/svg'"
             "%20viewBox='0%200%2040%2040'%3E%3C/svg%3E")
ICON = ("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAwAAAAMCAIAAADZF8uwAAAAE0lEQVR42mM4w8"
        "BAEDGMKhqMigD8yXLBK2LoawAAAABJRU5ErkJggg==")


def part(name):
    """A cid: whose part holds this fixture file (or the data: address's bytes)."""
    return ("part", name)


def absolute(path):
    """The address made absolute on the page's own server."""
    return ("absolute", path)


def candidates(text):
    """A srcset whose candidates are made absolute on the page's own server."""
    return ("srcset", text)


def same(text):
    return ("same", text)


GONE = ("gone", None)

# page: (where, in the default mode, in the complete mode); a row of two
# expects the same in both, None expects nothing. Where: "css:SELECTOR" (the
# first url() of the rule), "css:@import", "TAG[ATTR=VALUE]@ATTR",
# "TAG[N]@ATTR" (the N-th such tag) or "TAG@ATTR" (the first that has it); a
# style attribute gives its first url().
EXPECTED = {
    "wiki": [
        ("img[alt=]@src", part("w/images/crane-60.png")),
        ("img[alt=]@srcset",
         candidates("/w/thumb.php?f=Crane.png&width=90 1.5x, "
                    "/w/thumb.php?f=Crane.png&width=120 2x"),
         part("w/images/crane-120.png")),
        ("img[alt=Harbour map]@src", part("w/images/harbour-80.gif")),
        ("css:#head-base", part("w/skins/head-fade.png")),
        ("css:#p-logo a", part("w/skins/logo.png")),
        ("a[title=Edit section]@href",
         absolute("/w/index.php?title=Harbour_crane&action=edit&section=1")),
    ],
    "news": [
        ("img[alt=The Coastal Ledger]@src", part("themes/ledger/logo.gif")),
        ("img[alt=The harbour office]@src", part("media/harbour-large.jpg")),
        ("img[alt=Boats]@src", part("media/boats-300.jpg")),
        ("img[alt=The pier]@src", part("media/pier-120.jpg")),
        ("img[alt=Withdrawn]@src", absolute("/media/gone.jpg?width=300&s=abc")),
        ("td@background", part("themes/ledger/paper.gif")),
        ("css:.site-header", part("themes/ledger/masthead.png")),
        ("css:@font-face", absolute("/themes/ledger/fonts/ledger.woff2?v=2"),
         part("themes/ledger/fonts/ledger.woff2")),
    ],
    "lazy": [
        ("img[alt=Orange]@src", same(GIF_1X1), part("img/real.png")),
        ("img[alt=Orange]@srcset", candidates("/img/a-1x.png 1x, /img/a-2x.png 2x"),
         part("img/a-2x.png")),
        ("img[alt=Green]@src", part("img/real.png")),
        ("source@srcset", candidates("/img/wide.png"), part("img/wide.png")),
        ("img[alt=Art direction]@src", part("img/narrow.png")),
        ("img[alt=Teal]@src", same(GIF_1X1), part("img/ds-1x.png")),
        ("img[alt=Teal]@srcset", None, part("img/ds-2x.png")),
        ("img[alt=Magenta]@src", same(SVG_BLANK), part("img/wp-lazy.png")),
        ("img[alt=Inline icon]@src", same(ICON), part(ICON)),
    ],
    "preload": [
        ("css:.strip", part("img/stripe.png")),
        ("css:.badge", None, part("img/badge.png")),
        ("div[class=hero lazyload]@style", None, part("img/hero.png")),
    ],
    "cdn": [
        ("img[alt=Ferry]@src", part("cdn/x.png")),
        ("img[alt=Route]@src", part("cdn/y.gif")),
        ("css:.promo", part("cdn/promo.png")),
    ],
    "toc": [
        ("img[alt=Berth plan]@src", part("img/diagram.png")),
        ("a[1]@href", same("#part-1")),
        ("a[2]@href", same("#part-2")),
        ("a[4]@href", absolute("/wiki.html")),
        ("a[5]@href", same("#")),
        ("a[6]@href", same("#toc")),
    ],
    "shorthand": [
        ("css:.hero", absolute("/img/sh-block.png"), part("img/sh-block.png")),
        ("css:.layers", absolute("/img/sh-layer.png"), part("img/sh-layer.png")),
        ("css:ul.ticks", absolute("/img/tick.gif"), part("img/tick.gif")),
        ("css:.framed", absolute("/img/frame.png"), part("img/frame.png")),
        ("css:.card", absolute("/img/card.png"), part("img/card.png")),
        ("css:@import", absolute("/css/more.css"), GONE),
        ("css:.note", None, part("img/note.png")),
        ("div@style", absolute("/img/attr.png"), part("img/attr.png")),
    ],
}
LOCAL = [
    ("img[alt=A blank in the name]@src", part("local/a b.png")),
    ("img[alt=A name beyond ASCII]@src", part("local/café.png")),
    ("css:.tiled", part("local/tile (1).png")),
]

# What Chromium loads for each page, by request target, with the kind of
# reference that brings it in; "missing" ones are answered 404.
BROWSER = {
    "wiki": {"/w/load.php?lang=en&modules=site.styles&only=styles": "sheet",
             "/w/thumb.php?f=Crane.png&width=120": "srcset",
             "/w/thumb.php?f=Harbour.gif&width=80": "img",
             "/w/skins/head-fade.png?1cc52": "background-image",
             "/w/skins/logo.png?e1f2a": "background-image"},
    "news": {"/sites/default/files/css/css_Xk2b9.css?t4k9pq": "sheet",
             "/themes/ledger/logo.gif?v=12": "img",
             "/sites/default/files/styles/large/public/photo.jpg?itok=pwXT3a": "img",
             "/media/img.jpg?width=300&s=abc": "img",
             "/photos/77?w=120&fm=jpg": "img",
             "/media/gone.jpg?width=300&s=abc": "missing",
             "/themes/ledger/masthead.png": "background-image",
             "/themes/ledger/paper.gif": "background",
             "/themes/ledger/fonts/ledger.woff2?v=2": "font"},
    "lazy": {"/img/real.png": "img", "/img/wide.png": "picture", "/img/a-2x.png": "srcset"},
    "preload": {"/css/layout.css": "sheet", "/css/deferred.css": "preload",
                "/img/stripe.png": "background-image"},
    "cdn": {"/cdn/cdn.css": "sheet", "/cdn/x.png": "img", "/cdn/y.gif?v=3": "img",
            "/cdn/promo.png": "background-image"},
    "toc": {"/img/diagram.png": "img", "/img/footer.gif": "img"},
    "shorthand": {"/css/shorthand.css": "sheet", "/css/more.css": "import",
                  "/img/sh-block.png": "shorthand", "/img/sh-layer.png": "shorthand",
                  "/img/card.png": "shorthand", "/img/tick.gif": "list-style-image",
                  "/img/frame.png": "border-image", "/img/note.png": "import",
                  "/img/attr.png": "style-attribute"},
}
DEFAULT_KINDS = {"img", "background-image", "sheet", "background"}

# Attributes a mail reader follows, and what a message may leave in them.
FOLLOWED = {("img", "src"), ("img", "srcset"), ("source", "srcset"), ("a", "href"),
            ("link", "href"), ("td", "background"), ("table", "background"),
            ("body", "background"), ("video", "poster"), ("input", "src")}
SELF_CONTAINED = ("cid:", "http://", "https://", "data:", "#", "mailto:")


def fixtures(*parts):
    return os.path.join(ARGS.source_dir, "tests", "data", "realpages", *parts)


def fixture_bytes(name):
    if name.startswith("data:"):
        return base64.b64decode(name.split(",", 1)[1])
    with open(fixtures(*name.split("/")), "rb") as data:
        return data.read()


def run_quietly(command):
    subprocess.run(command, check=True, capture_output=True, timeout=TIMEOUT)


def make_certificates(folder):
    """A throw-away CA and a certificate for 127.0.0.1 signed by it."""
    os.makedirs(folder)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    with open(path("ca.cnf"), "w") as config:
        config.write("[req]\ndistinguished_name=dn\nprompt=no\n[dn]\nCN=Realpages Test CA\n"
                     "[ca]\nbasicConstraints=critical,CA:TRUE\n"
                     "keyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\n")
    with open(path("server.ext"), "w") as extensions:
        extensions.write("basicConstraints=CA:FALSE\n"
                         "keyUsage=critical,digitalSignature,keyEncipherment\n"
                         "extendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1\n")
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run_quietly(["openssl", "req", "-x509", *key, "-days", "2", "-sha256", "-config",
                 path("ca.cnf"), "-extensions", "ca", "-keyout", path("ca.key"),
                 "-out", path("ca.pem")])
    run_quietly(["openssl", "req", "-new", *key, "-subj", "/CN=127.0.0.1",
                 "-keyout", path("server.key"), "-out", path("server.csr")])
    run_quietly(["openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"),
                 "-CAkey", path("ca.key"), "-CAcreateserial", "-days", "2", "-sha256",
                 "-extfile", path("server.ext"), "-out", path("server.pem")])
    return path("ca.pem"), path("server.pem"), path("server.key")


class LoggedServer(base.ServerProcess):
    """tests/http/test_server.py on 127.0.0.1 with a free port, logging every
    request; over TLS when given a certificate and its key."""

    def __init__(self, root, routes, log, tls=()):
        self.log = log
        self.scheme = "https" if tls else "http"
        arguments = ["--root", root, "--routes", routes, "--log", log]
        if tls:
            arguments += ["--cert", tls[0], "--key", tls[1]]
        super().__init__(*arguments)
        self.host = "127.0.0.1:%d" % self.port

    def url(self, path):
        return "%s://%s%s" % (self.scheme, self.host, path)

    def mark(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def targets_since(self, mark):
        if not os.path.exists(self.log):
            return []
        with open(self.log, "rb") as log:
            log.seek(mark)
            return [json.loads(line)["target"] for line in log.read().splitlines()]


class Site:
    """The fixture tree served twice, over http and over https, each copy
    naming its own server where "@HOST@" stands."""

    def __init__(self):
        self.scratch = tempfile.mkdtemp(prefix="pw-realpages-")
        with open(fixtures("routes.json"), encoding="utf-8") as routes:
            self.routes = json.load(routes)
        for name in os.listdir(fixtures()):
            if name.endswith(".html"):
                self.routes["/" + name] = {"file": name, "header": NO_SCRIPTS}
        routes = os.path.join(self.scratch, "routes.json")
        with open(routes, "w") as target:
            json.dump(self.routes, target)
        self.ca, cert, key = make_certificates(os.path.join(self.scratch, "ca"))
        self.servers = {}
        for scheme, tls in (("http", ()), ("https", (cert, key))):
            root = os.path.join(self.scratch, scheme)
            os.makedirs(root)
            server = LoggedServer(root, routes, os.path.join(self.scratch, scheme + ".log"), tls)
            server.root = root
            self.servers[scheme] = server
            copy_site(fixtures(), root, server.host)
        self.messages = {}

    def server(self, page):
        return self.servers["https" if page in HTTPS_PAGES else "http"]

    def served(self, page, target):
        """The bytes the server answers target with, None for an error."""
        path = urllib.parse.unquote(urllib.parse.urlsplit(target).path)
        script = self.routes.get(target) or self.routes.get(path) or {"file": path}
        file = os.path.join(self.server(page).root, script.get("file", "").lstrip("/"))
        if "file" not in script or int(script.get("status", 200)) != 200 or \
                not os.path.isfile(file):
            return None
        with open(file, "rb") as data:
            return data.read()

    def stop(self):
        for server in self.servers.values():
            server.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)


def pagewing_environment(**variables):
    """No proxy, and only the certificate store given here."""
    environment = clean_environment()
    for name in ("CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"):
        environment.pop(name, None)
    environment.update(variables)
    return environment


def run_pagewing(arguments, cwd=None, **variables):
    result = subprocess.run([ARGS.pagewing, "-q", *arguments], capture_output=True,
                            timeout=TIMEOUT, cwd=cwd, stdin=subprocess.DEVNULL,
                            env=pagewing_environment(**variables))
    # 3: written, without resources that the expectations show missing.
    if result.returncode not in (0, 3):
        raise AssertionError("pagewing %s failed (%d): %s" % (
            " ".join(arguments), result.returncode, result.stderr.decode(errors="replace")))
    return result.stdout


class Markup(html.parser.HTMLParser):
    """The tags of a page, with their attributes decoded, and its style blocks."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.tags, self.styles, self.in_style = [], [], False
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, {name: value or "" for name, value in attrs}))
        self.in_style = tag == "style"

    def handle_endtag(self, tag):
        self.in_style = False

    def handle_data(self, data):
        if self.in_style:
            self.styles.append(data)


def first_url(css):
    found = re.search(r"url\(\s*(['\"]?)(.*?)\1\s*\)", css or "")
    return found.group(2) if found else None


class Message:
    """One message, its first HTML part read and its parts by content-id."""

    def __init__(self, data, requests=(), elsewhere=()):
        self.data, self.requests, self.elsewhere = data, list(requests), list(elsewhere)
        self.message = read_message(data)
        self.parts = self.message.get_payload()
        self.html = self.parts[0].get_payload(decode=True).decode("utf-8", "replace")
        self.markup = Markup(self.html)
        self.by_id = {p["Content-ID"].strip("<>"): p for p in self.parts if p["Content-ID"]}

    def find(self, where):
        """The value written where the locator points, None if nothing is there."""
        if where == "css:@import":
            found = re.search(r"@import\s+(?:url\(\s*)?['\"]?([^'\")\s;]+)",
                              "\n".join(self.markup.styles))
            return found.group(1) if found else None
        if where.startswith("css:"):
            found = re.search(r"(?<![\w.#-])" + re.escape(where[4:]) + r"\s*\{([^}]*)\}",
                              "\n".join(self.markup.styles))
            return first_url(found.group(1)) if found else None
        selector, attribute = where.split("@")
        tag, _, condition = selector.partition("[")
        matching = [attrs for name, attrs in self.markup.tags if name == tag]
        if condition[:-1].isdigit():
            matching = matching[int(condition[:-1]) - 1:int(condition[:-1])]
        elif condition:
            key, value = condition[:-1].split("=", 1)
            matching = [attrs for attrs in matching if attrs.get(key) == value]
        else:
            matching = [attrs for attrs in matching if attribute in attrs]
        if not matching or attribute not in matching[0]:
            return None
        value = matching[0][attribute]
        return first_url(value) if attribute == "style" else value

    def bytes_of(self, reference):
        part = self.by_id.get(reference[4:]) if reference and reference.startswith("cid:") else None
        return (part, part.get_payload(decode=True)) if part is not None else (None, None)

    def relative_references(self):
        """Every reference a mail reader follows that names nothing by itself."""
        found = []
        for tag, attrs in self.markup.tags:
            for name, value in attrs.items():
                if (tag, name) in FOLLOWED:
                    values = [c.split()[0] for c in value.split(",") if c.strip()] \
                        if name == "srcset" else [value.strip()]
                    found += ["<%s %s=%s>" % (tag, name, v) for v in values
                              if not v.startswith(SELF_CONTAINED)]
                if name == "style":
                    found += ["style=url(%s)" % url for url in css_urls(value)
                              if not url.startswith(SELF_CONTAINED)]
        for css in self.markup.styles:
            found += ["url(%s)" % url for url in css_urls(css)
                      if not url.startswith(SELF_CONTAINED)]
            found += ["@import %s" % url for url in
                      re.findall(r"@import\s+['\"]([^'\"]+)", css)
                      if not url.startswith(SELF_CONTAINED)]
        return found


def css_urls(css):
    without_comments = re.sub(r"(?s)/\*.*?\*/", "", css)
    return [found[1] for found in
            re.findall(r"url\(\s*(['\"]?)(.*?)\1\s*\)", without_comments)]


class RealPages(MessageChecks):
    """Conversions shared by the checks of one run, made once each."""

    def converted(self, page, complete):
        key = (page, complete)
        if key not in SITE.messages:
            server = SITE.server(page)
            other = SITE.servers["http" if server.scheme == "https" else "https"]
            marks = server.mark(), other.mark()
            data = run_pagewing((["--complete"] if complete else [])
                                + [server.url("/%s.html" % page)], SSL_CERT_FILE=SITE.ca)
            SITE.messages[key] = Message(data, server.targets_since(marks[0]),
                                         other.targets_since(marks[1]))
        return SITE.messages[key]

    def assert_rows(self, message, rows, complete, server=None):
        failures = []
        for where, expected in rows_by_mode(rows, complete):
            failures += check(message, where, expected, server)
        self.assertEqual(failures, [])


def check(message, where, expected, server):
    """One reference against its expectation: a line for each failure."""
    if expected is None:
        return []
    kind, value = expected
    written = message.find(where)
    shown = "%s: %r" % (where, written)
    if kind == "gone":
        return [] if written is None else [shown + " should be gone"]
    if written is None:
        return ["%s: nothing there" % where]
    if kind == "same":
        return [] if written == value else [shown + " should stay %r" % value]
    if kind == "absolute":
        wanted = server.url(value)
        return [] if same_address(written, wanted) else [shown + " should be %r" % wanted]
    if kind == "srcset":
        wanted = ", ".join(server.url(c.strip()) for c in value.split(","))
        got = ", ".join(c.strip() for c in written.split(","))
        return [] if got == wanted else [shown + " should be %r" % wanted]
    found, data = message.bytes_of(written)
    if found is None:
        return [shown + " should be the cid: of a part holding " + value[:40]]
    if data != fixture_bytes(value):
        return [shown + " names a part that does not hold " + value[:40]]
    wanted = value[5:].split(";")[0] if value.startswith("data:") else \
        TYPES[os.path.splitext(value)[1]]
    if found.get_content_type() != wanted and not sent_as_served(found, data):
        return [shown + " is typed %s, not %s" % (found.get_content_type(), wanted)]
    return []


def same_address(written, wanted):
    """The same address once "." and ".." segments are taken out, as a
    server and a browser take them."""
    parts = urllib.parse.urlsplit(written)
    path = posixpath.normpath(parts.path) + ("/" if parts.path.endswith("/") else "")
    return urllib.parse.urlunsplit(parts._replace(path=path)) == wanted


def sent_as_served(part, data):
    """A JPEG is known by its JFIF marker or its extension; an Exif JPEG at an
    address without one travels as the bytes it is, untyped but intact."""
    return part.get_content_type() == "application/octet-stream" and \
        data.startswith(b"\xff\xd8\xff\xe1")


MODES = (("default", False), ("complete", True))


def rows_by_mode(rows, complete):
    for row in rows:
        yield row[0], (row[2] if len(row) == 3 and complete else row[1])


class Mends(RealPages):
    def test_each_reference_as_expected(self):
        for page, rows in EXPECTED.items():
            for mode, complete in MODES:
                with self.subTest(page=page, mode=mode):
                    self.assert_rows(self.converted(page, complete), rows, complete,
                                     SITE.server(page))

    def test_every_cid_finds_its_part(self):
        for page in EXPECTED:
            for mode, complete in MODES:
                with self.subTest(page=page, mode=mode):
                    self.checked(self.converted(page, complete).data)

    def test_nothing_left_relative(self):
        """A message has no address of its own: what it does not carry it names in full."""
        for page in EXPECTED:
            for mode, complete in MODES:
                with self.subTest(page=page, mode=mode):
                    self.assertEqual(self.converted(page, complete).relative_references(), [],
                                     "%s.html, %s mode" % (page, mode))

    def test_requests_as_a_browser_sends_them(self):
        """Character references decoded, blanks trimmed, data: never asked for,
        and protocol-relative addresses over the page's own scheme."""
        for page in EXPECTED:
            for mode, complete in MODES:
                with self.subTest(page=page, mode=mode):
                    message = self.converted(page, complete)
                    bad = [target for target in message.requests if re.search(
                        r"&amp;|&#|data:|base64|\s|%0[9AD]|^/?%20|%20$", target)]
                    self.assertEqual(bad, [])
                    self.assertEqual(message.elsewhere, [], "requests to the other server")
        for mode, complete in MODES:
            requests = self.converted("wiki", complete).requests
            self.assertIn("/w/load.php?lang=en&modules=site.styles&only=styles", requests)
            self.assertIn("/w/thumb.php?f=Crane.png&width=60", requests)
            cdn = self.converted("cdn", complete).requests
            for target in ("/cdn/cdn.css", "/cdn/x.png", "/cdn/y.gif?v=3", "/cdn/promo.png"):
                self.assertIn(target, cdn, "over https, %s mode" % mode)

    def test_either_certificate_variable(self):
        """libcurl's CURL_CA_BUNDLE and OpenSSL's SSL_CERT_FILE both name the store."""
        for variable in ("CURL_CA_BUNDLE", "SSL_CERT_FILE"):
            with self.subTest(variable=variable):
                data = run_pagewing([SITE.server("cdn").url("/cdn.html")], **{variable: SITE.ca})
                self.assertEqual(len(read_message(data).get_payload()), 4)

    def test_fixture_answers_depend_on_the_query(self):
        """The fixture server makes a lost or mangled query visible."""
        http = SITE.servers["http"]
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        for target, expected in (
                ("/w/load.php?lang=en&modules=site.styles&only=styles", "w/site-styles.css"),
                ("/w/load.php?lang=en&amp;modules=site.styles&amp;only=styles", None),
                ("/sites/default/files/styles/large/public/photo.jpg?itok=pwXT3a",
                 "media/harbour-large.jpg"),
                ("/sites/default/files/styles/large/public/photo.jpg", "media/placeholder.jpg"),
                ("/media/img.jpg?width=300&s=abc", "media/boats-300.jpg"),
                ("/media/img.jpg?width=300&amp;s=abc", None), ("/media/img.jpg", None)):
            with self.subTest(target=target):
                try:
                    with opener.open(http.url(target), timeout=TIMEOUT) as answer:
                        body = answer.read()
                except urllib.error.HTTPError as error:
                    body = error.code
                self.assertEqual(body, fixture_bytes(expected) if expected else 404)
        self.assertEqual(fixture_bytes("media/pier-120.jpg")[:4], b"\xff\xd8\xff\xe1")

    def test_local_page(self):
        """Percent-encoded names of local files are read decoded, relative to
        the page and to its sheet."""
        for mode, complete in MODES:
            with self.subTest(mode=mode):
                data = run_pagewing((["--complete"] if complete else []) + ["page.html"],
                                    cwd=fixtures("local"))
                self.checked(data)
                self.assert_rows(Message(data), LOCAL, complete)

    def test_file_addresses(self):
        """file://localhost/PATH and file:///PATH name the same files."""
        folder = urllib.parse.quote(fixtures("local"))
        page = ('<!DOCTYPE html><html><head><title>Files</title>'
                '<link rel="stylesheet" href="file://localhost%s/site%%20styles.css"></head>'
                '<body><img src="file://localhost%s/a%%20b.png" alt="A blank in the name">'
                '<img src="file://%s/caf%%C3%%A9.png" alt="A name beyond ASCII">'
                '<div class="tiled">Tiled</div></body></html>' % (folder, folder, folder))
        with tempfile.TemporaryDirectory(prefix="pw-realpages-file-") as scratch:
            with open(os.path.join(scratch, "files.html"), "w") as target:
                target.write(page)
            for mode, complete in MODES:
                with self.subTest(mode=mode):
                    data = run_pagewing((["--complete"] if complete else []) + ["files.html"],
                                        cwd=scratch)
                    self.checked(data)
                    self.assert_rows(Message(data), LOCAL, complete)


def sheet_selectors(data):
    css = re.sub(r"(?s)/\*.*?\*/|@[^;{}]*;", "", data.decode("utf-8", "replace"))
    return [s.strip() for s in re.findall(r"([^{}]+)\{", css) if not s.strip().startswith("@")]


class Coverage(RealPages):
    """How much of what Chromium loads for a page its messages carry."""

    def browser_targets(self, page):
        server = SITE.server(page)
        mark = server.mark()
        profile = tempfile.mkdtemp(prefix="profile-", dir=SITE.scratch)
        command = [CHROMIUM, *CHROMIUM_FLAGS, "--user-data-dir=" + profile,
                   "--screenshot=" + os.path.join(profile, "page.png"),
                   server.url("/%s.html" % page)]
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True, env=clean_environment())
        try:
            process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            self.fail("Chromium did not finish with " + page)
        shutil.rmtree(profile, ignore_errors=True)
        return {target for target in server.targets_since(mark)
                if target not in ("/%s.html" % page, "/favicon.ico")}

    @staticmethod
    def carries(message, served):
        """The message holds the answer: a part with its bytes, or a sheet's rules."""
        if any(p.get_payload(decode=True) == served for p in message.parts[1:]):
            return True
        selectors = sheet_selectors(served) if b"{" in served else []
        styles = "\n".join(message.markup.styles)
        return bool(selectors) and all(s + " {" in styles for s in selectors)

    def test_coverage(self):
        if not os.access(CHROMIUM, os.X_OK):
            self.fail("%s is missing (scripts/install-deps installs it)" % CHROMIUM)
        rows, failures = [], []
        for page, kinds in BROWSER.items():
            loaded = self.browser_targets(page)
            if loaded != set(kinds):
                failures.append("%s.html: Chromium loads %s, BROWSER lists %s"
                                % (page, sorted(loaded), sorted(kinds)))
            kinds = dict(dict.fromkeys(loaded, "unlisted"), **kinds)
            counted = {t: SITE.served(page, t) for t in loaded if kinds[t] != "missing"}
            carried = {}
            for mode, complete in MODES:
                message = self.converted(page, complete)
                carried[mode] = {t for t, data in counted.items()
                                 if data is not None and self.carries(message, data)}
                left = sorted(set(counted) - carried[mode])
                failures += ["%s.html, %s mode: %s (%s)" % (page, mode, t, kinds[t]) for t in left
                             if complete or kinds[t] in DEFAULT_KINDS]
                if not complete and left:
                    print("%s.html, default mode leaves to the browser: %s" % (page, ", ".join(
                        "%s (%s)" % (t, kinds[t]) for t in left)), file=sys.stderr)
            rows.append((page, len(counted), len(carried["default"]), len(carried["complete"]),
                         len(self.converted(page, False).parts) - 1,
                         len(self.converted(page, True).parts) - 1))
        lines = ["%-10s %7s %15s %16s %14s %15s" % (
            "page", "browser", "default (parts)", "complete (parts)", "share, default",
            "share, complete")]
        for page, loaded, default, complete, default_parts, complete_parts in rows:
            lines.append("%-10s %7d %10d (%2d) %11d (%2d) %13.0f%% %14.0f%%" % (
                page, loaded, default, default_parts, complete, complete_parts,
                100.0 * default / loaded, 100.0 * complete / loaded))
        print("\nresources Chromium loads (404s aside), and how many of them each message carries "
              "(its parts in brackets)\n" + "\n".join(lines), file=sys.stderr)
        self.assertEqual(failures, [], "resources a message should carry and does not")


def setUpModule():
    global SITE
    SITE = Site()


def tearDownModule():
    if SITE is not None:
        SITE.stop()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--source-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.pagewing = os.path.abspath(ARGS.pagewing)
    ARGS.source_dir = os.path.abspath(ARGS.source_dir)
    base.ARGS = ARGS
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
