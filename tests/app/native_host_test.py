#!/usr/bin/python3
"""The native host alone, over its standard input and output as a browser
starts it: every message it must refuse is answered with an error and
starts nothing; a good one is answered {"ok":true} at once, and the page it
leaves for the desktop program is gone once that program has read it (here,
without a display, the program ends right after).

Usage: native_host_test.py PAGEWING
"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

PAGEWING = None
FIREFOX_ID = "pagewing@pagewing.org"


def framed(payload):
    return struct.pack("=I", len(payload)) + payload


def message(**fields):
    page = {"url": "https://example.org/a", "title": "A", "charset": "UTF-8",
            "html": "<!DOCTYPE html>\n<html><body>a</body></html>", "cookies": []}
    page.update(fields)
    return framed(json.dumps({k: v for k, v in page.items() if v is not None}).encode())


def chromium_origin():
    source = os.path.join(os.path.dirname(__file__), "..", "..", "browser", "extension",
                          "EXTENSION_ID")
    with open(source) as written:
        return "chrome-extension://%s/" % written.read().strip()


class NativeHost(unittest.TestCase):
    def setUp(self):
        self.temporary = tempfile.TemporaryDirectory(prefix="pw-host-")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(TMPDIR=self.temporary.name, ASAN_OPTIONS="detect_leaks=0")

    def tearDown(self):
        self.temporary.cleanup()

    def host(self, arguments, data):
        result = subprocess.run([PAGEWING] + arguments, input=data, capture_output=True,
                                timeout=30, env=self.env)
        self.assertGreaterEqual(len(result.stdout), 4, result.stderr)
        (length,) = struct.unpack("=I", result.stdout[:4])
        self.assertEqual(length, len(result.stdout) - 4)
        return result.returncode, json.loads(result.stdout[4:])

    def test_what_it_refuses(self):
        chromium = [chromium_origin()]
        firefox = ["/home/u/.mozilla/native-messaging-hosts/org.pagewing.host.json", FIREFOX_ID]
        cases = [
            ("no message", chromium, b"", "no message came"),
            ("half a length", chromium, b"\x05\x00", "the message's length was cut short"),
            ("a length beyond the data", chromium, framed(b"{}")[:4] + b"{",
             "the message ended after 1 of 2 bytes"),
            ("65 MiB", chromium, struct.pack("=I", 65 << 20) + b"{}",
             "the message is larger than 64 MiB"),
            ("not JSON", chromium, framed(b"{\"url\": "), "the message is not a JSON object"),
            ("a list", chromium, framed(b"[]"), "the message is not a JSON object"),
            ("no html", chromium, message(html=None), 'the message has no text "html"'),
            ("cookies not a list", chromium, message(cookies={}),
             'the message has no list "cookies"'),
            ("a file", firefox, message(url="file:///etc/passwd"),
             "only http and https pages can be converted, not file:///etc/passwd"),
            ("a script", firefox, message(url="javascript:alert(1)"),
             "only http and https pages can be converted, not javascript:alert(1)"),
            ("another extension", ["chrome-extension://abcdefghijklmnopabcdefghijklmnop/"],
             message(), "this host answers only the Pagewing extension"),
            ("no browser arguments", [], message(),
             "this host answers only the Pagewing extension"),
        ]
        for name, arguments, data, error in cases:
            with self.subTest(name):
                status, answer = self.host(["--native-host"] + arguments, data)
                self.assertEqual((status, answer), (1, {"ok": False, "error": error}))
                self.assertEqual(os.listdir(self.temporary.name), [])

    def test_a_good_message_is_handed_on(self):
        cookie = {"domain": "example.org", "hostOnly": True, "path": "/", "secure": True,
                  "httpOnly": True, "name": "s", "value": "secret", "expirationDate": 2e9}
        # Started as each browser starts it, without --native-host.
        for arguments in ([chromium_origin()],
                          ["/x/org.pagewing.host.json", FIREFOX_ID]):
            with self.subTest(arguments=arguments):
                started = time.monotonic()
                status, answer = self.host(arguments, message(cookies=[cookie]))
                self.assertEqual((status, answer), (0, {"ok": True}))
                self.assertLess(time.monotonic() - started, 10)
                deadline = time.monotonic() + 20
                while os.listdir(self.temporary.name) and time.monotonic() < deadline:
                    time.sleep(0.1)
                self.assertEqual(os.listdir(self.temporary.name), [],
                                 "the page is left on disk")


def main():
    global PAGEWING
    PAGEWING = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
