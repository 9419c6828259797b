#!/usr/bin/python3
"""The extension's button end to end, in real browsers: a page that needs a
login cookie and builds its text and pictures with a script is open in the
browser; the extension's capture (what its toolbar button runs) hands it to
the native host, which starts the desktop program, which converts it and
hands the message to the user's mail program (here a recorder named in the
test home's mimeapps.list). The message must hold the script-built text,
the private picture and the one that needs the script's own cookie, and no
script.

Chromium: headless, the extension loaded from the source tree, the host
manifest in the profile folder, driven over its DevTools pipe; the capture is
called in the extension's service worker.

Runs itself under Xvfb and a session bus of its own. Prints the time from
the capture to the message.

Usage: button_test.py PAGEWING SOURCE_DIR [SUITE...]
"""

import email
import email.policy
import json
import os
import pathlib
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

PAGEWING = None
SOURCE = None
TIMEOUT = 90
SKIP = 77


def extension_folder():
    return SOURCE / "browser" / "extension"


def chromium_id():
    return (extension_folder() / "EXTENSION_ID").read_text().strip()


class Server:
    """tests/http/test_server.py on 127.0.0.1 with a free port."""

    def __init__(self, root, routes):
        self.process = subprocess.Popen(
            [sys.executable, str(SOURCE / "tests" / "http" / "test_server.py"), "--port", "0",
             "--root", str(root), "--routes", str(routes)], stdout=subprocess.PIPE)
        ready, _, _ = select.select([self.process.stdout], [], [], 15)
        line = self.process.stdout.readline().decode() if ready else ""
        match = re.match(r"PORT (\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError("the test server did not start")
        self.origin = "http://127.0.0.1:%s" % match.group(1)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


class Home:
    """A user of their own: settings, temporary folder, and a mail program
    that keeps every message it is given."""

    def __init__(self, root):
        self.root = root
        self.records = root / "records"
        for folder in ("home", "config", "data/applications", "tmp", "records"):
            (root / folder).mkdir(parents=True)
        recorder = root / "record-message.sh"
        recorder.write_text("#!/bin/sh\nn=$(ls '%s' | wc -l)\ncp \"$1\" '%s'/message-$n.eml\n"
                            % (self.records, self.records))
        recorder.chmod(0o755)
        (root / "data" / "applications" / "recorder.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\n"
            "MimeType=message/rfc822;\n" % recorder)
        (root / "config" / "mimeapps.list").write_text(
            "[Default Applications]\nmessage/rfc822=recorder.desktop\n")
        self.env = {key: value for key, value in os.environ.items()
                    if key.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
        self.env.update(HOME=str(root / "home"), XDG_CONFIG_HOME=str(root / "config"),
                        XDG_DATA_HOME=str(root / "data"), TMPDIR=str(root / "tmp"),
                        ASAN_OPTIONS="detect_leaks=0")

    def host_wrapper(self):
        """The program the manifests name: it notes how the browser started
        the host, then is the host."""
        wrapper = self.root / "host.sh"
        wrapper.write_text("#!/bin/sh\nprintf '%%s\\n' \"$*\" >> '%s/host-calls'\n"
                           "exec '%s' --native-host \"$@\"\n" % (self.root, PAGEWING))
        wrapper.chmod(0o755)
        return wrapper

    def wait_for_message(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            messages = sorted(self.records.glob("message-*.eml"))
            if messages:
                time.sleep(0.2)  # the copy may still be under way
                return messages[0]
            time.sleep(0.1)
        return None


class DevToolsPipe:
    """Chromium's DevTools over --remote-debugging-pipe: NUL-separated JSON,
    commands on the browser's descriptor 3, answers on 4."""

    def __init__(self, arguments, env):
        to_browser, self.commands = os.pipe()
        self.answers, from_browser = os.pipe()

        def descriptors():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)
        self.process = subprocess.Popen(arguments + ["--remote-debugging-pipe"], env=env,
                                        preexec_fn=descriptors, pass_fds=(3, 4),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.next_id = 1
        self.events = []

    def call(self, method, params=None, session=None, seconds=30):
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        self.next_id += 1
        os.write(self.commands, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            while b"\0" in self.buffer:
                text, self.buffer = self.buffer.split(b"\0", 1)
                answer = json.loads(text)
                if answer.get("id") == command["id"]:
                    if "error" in answer:
                        raise RuntimeError("%s: %s" % (method, answer["error"]))
                    return answer.get("result", {})
                if "id" not in answer:
                    self.events.append(answer)
            ready, _, _ = select.select([self.answers], [], [], 0.5)
            if ready:
                data = os.read(self.answers, 1 << 20)
                if not data:
                    raise RuntimeError("the browser ended")
                self.buffer += data
        raise RuntimeError("no answer to " + method)

    def evaluate(self, session, expression, seconds=30):
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, session, seconds)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression[:60], result["exceptionDetails"]))
        return result["result"].get("value")

    def stop(self):
        os.close(self.commands)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.answers)


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class ButtonTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="pw-button-"))
        site = cls.scratch / "site"
        site.mkdir()
        shutil.copy(SOURCE / "tests" / "data" / "e2e" / "scripted" / "app.html", site)
        shutil.copy(SOURCE / "tests" / "data" / "e2e" / "local" / "dot.gif", site)
        member = {"need_cookie": "kept=yes"}
        routes = {
            "/login": {"header": ["Set-Cookie: kept=yes; Path=/; HttpOnly; Max-Age=3600"],
                       "type": "text/html", "body": "<p>welcome</p>"},
            "/app.html": dict(member, file="/app.html", type="text/html"),
            "/private.gif": dict(member, file="/dot.gif", type="image/gif"),
            "/more.txt": dict(member, body="Fetched after the load", type="text/plain"),
            "/made.gif": {"file": "/dot.gif", "type": "image/gif",
                          "need_cookie": "made=byscript"},
            "/lazy.gif": {"file": "/dot.gif", "type": "image/gif"},
        }
        (cls.scratch / "routes.json").write_text(json.dumps(routes))
        cls.server = Server(site, cls.scratch / "routes.json")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def check_message(self, path):
        message = email.message_from_bytes(path.read_bytes(), policy=email.policy.default)
        parts = list(message.iter_parts())
        kinds = [part.get_content_type() for part in parts]
        # The private picture and the one that needs the script's cookie; the
        # lazy one was never scrolled to, so the page never showed it.
        self.assertEqual(kinds, ["text/html", "image/gif", "image/gif"])
        html = parts[0].get_content()
        self.assertIn("Built by the page\u2019s script", html)
        self.assertIn("Fetched after the load", html)
        self.assertNotIn("<script", html.lower())
        self.assertEqual(message["X-Unsent"], "1")
        self.assertEqual(parts[0]["Content-Location"], self.server.origin + "/app.html")

    def test_chromium(self):
        chromium = shutil.which("chromium")
        if not chromium:
            self.skipTest("no chromium")
        home = Home(self.scratch / "chromium")
        profile = home.root / "profile"
        hosts = profile / "NativeMessagingHosts"
        hosts.mkdir(parents=True)
        (hosts / "org.pagewing.host.json").write_text(json.dumps({
            "name": "org.pagewing.host", "description": "test", "type": "stdio",
            "path": str(home.host_wrapper()),
            "allowed_origins": ["chrome-extension://%s/" % chromium_id()]}))
        browser = DevToolsPipe(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=%s" % profile, "--password-store=basic",
             "--disable-features=DisableLoadExtensionCommandLineSwitch",
             "--load-extension=%s" % extension_folder(), "about:blank"], home.env)
        try:
            target = browser.call("Target.createTarget",
                                  {"url": self.server.origin + "/login"})["targetId"]
            page = browser.call("Target.attachToTarget",
                                {"targetId": target, "flatten": True})["sessionId"]
            # A new tab shows about:blank, complete, before the address loads.
            loaded = "location.pathname + ' ' + document.readyState"
            wait_for(lambda: browser.evaluate(page, loaded) == "/login complete", TIMEOUT,
                     "the login page")
            browser.call("Page.navigate", {"url": self.server.origin + "/app.html"}, page)
            wait_for(lambda: browser.evaluate(page, loaded + " + ' ' + document.images.length")
                     == "/app.html complete 3", TIMEOUT, "the page's script")

            def worker():
                for info in browser.call("Target.getTargets")["targetInfos"]:
                    if info["type"] == "service_worker" and info["url"].startswith(
                            "chrome-extension://%s/" % chromium_id()):
                        return info["targetId"]
                return None
            background = browser.call("Target.attachToTarget", {
                "targetId": wait_for(worker, TIMEOUT, "the extension's service worker"),
                "flatten": True})["sessionId"]
            started = time.monotonic()
            answer = browser.evaluate(
                background, "(async () => { const [tab] = await chrome.tabs.query("
                "{url: %s}); return await pagewingCapture(tab.id); })()"
                % json.dumps(self.server.origin + "/app.html"), TIMEOUT)
            self.assertEqual(answer, {"ok": True})
            message = home.wait_for_message(TIMEOUT)
            self.assertIsNotNone(message, "no message reached the mail program")
            print("Chromium: %.1f s from the capture to the message"
                  % (time.monotonic() - started), file=sys.stderr)
        finally:
            browser.stop()
        calls = (home.root / "host-calls").read_text().split("\n")
        self.assertEqual(calls[0], "chrome-extension://%s/" % chromium_id())
        self.check_message(message)
        self.assertEqual(os.listdir(home.root / "tmp"), ["wpx.eml"])


def main():
    global PAGEWING, SOURCE
    if len(sys.argv) >= 2 and sys.argv[1] == "--inner":
        sys.argv.pop(1)
        PAGEWING = os.path.abspath(sys.argv.pop(1))
        SOURCE = pathlib.Path(sys.argv.pop(1)).resolve()
        unittest.main(verbosity=2)
        return
    missing = [tool for tool in ("xvfb-run", "dbus-run-session") if not shutil.which(tool)]
    if missing:
        print("skipped: %s not installed" % ", ".join(missing))
        sys.exit(SKIP)
    sys.exit(subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                             "dbus-run-session", "--", sys.executable, __file__, "--inner"]
                            + sys.argv[1:]).returncode)


if __name__ == "__main__":
    main()
