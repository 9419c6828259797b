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

Firefox: headless, driven over Marionette, the extension installed from the
source tree as a temporary add-on, the host manifest in the test home's
~/.mozilla; the button is clicked with a mouse press and release on it in
the extensions panel, so the browser's own click handling runs the
extension's action.

Runs itself under Xvfb and a session bus of its own. Prints the time from
the capture (Chromium) or the click (Firefox) to the message.

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
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "http"))
from server_process import ServerProcess  # noqa: E402

PAGEWING = None
SOURCE = None
TIMEOUT = 90
SKIP = 77


def extension_folder():
    return SOURCE / "browser" / "extension"


def chromium_id():
    return (extension_folder() / "EXTENSION_ID").read_text().strip()


FIREFOX_ID = "pagewing@pagewing.org"
HOST_NAME = "org.pagewing.host"

# What the page shows when it is ready: its address, its state and, once the
# page's script ran, its pictures.
PAGE_STATE = "location.pathname + ' ' + document.readyState + ' ' + document.images.length"


class Server(ServerProcess):
    """The test server on a free port, serving root with routes."""

    def __init__(self, root, routes):
        super().__init__("--root", str(root), "--routes", str(routes))
        self.origin = "http://127.0.0.1:%d" % self.port


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


# A test profile talks to nothing but the test server: no updates, telemetry,
# experiments, blocklists, safe browsing lists, remote settings, push, portal
# or connectivity checks; every name resolves to loopback without asking DNS,
# and whatever is left goes to a proxy on a loopback port where nothing
# listens. Marionette picks a free port and writes it into the profile
# (MarionetteActivePort).
FIREFOX_PREFS = {
    "marionette.port": 0,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.page": 0,
    "browser.startup.homepage": "about:blank",
    "browser.startup.homepage_override.mstone": "ignore",
    "startup.homepage_welcome_url": "about:blank",
    "startup.homepage_welcome_url.additional": "",
    "browser.aboutwelcome.enabled": False,
    "browser.newtabpage.enabled": False,
    "browser.newtabpage.activity-stream.feeds.system.topstories": False,
    "browser.newtabpage.activity-stream.feeds.topsites": False,
    "browser.newtabpage.activity-stream.telemetry": False,
    "browser.topsites.contile.enabled": False,
    "browser.ping-centre.telemetry": False,
    "browser.discovery.enabled": False,
    "browser.region.network.url": "",
    "browser.region.update.enabled": False,
    "browser.search.update": False,
    "browser.uitour.enabled": False,
    "browser.urlbar.suggest.searches": False,
    "browser.translations.enable": False,
    "browser.ml.enable": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "browser.safebrowsing.blockedURIs.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "browser.safebrowsing.provider.mozilla.updateURL": "",
    "browser.safebrowsing.provider.google4.updateURL": "",
    "privacy.trackingprotection.enabled": False,
    "app.update.enabled": False,
    "app.update.auto": False,
    "app.update.disabledForTesting": True,
    "app.normandy.enabled": False,
    "app.normandy.api_url": "",
    "app.shield.optoutstudies.enabled": False,
    "toolkit.telemetry.enabled": False,
    "toolkit.telemetry.unified": False,
    "toolkit.telemetry.archive.enabled": False,
    "toolkit.telemetry.server": "",
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "datareporting.usage.uploadEnabled": False,
    "extensions.update.enabled": False,
    "extensions.getAddons.cache.enabled": False,
    "extensions.systemAddon.update.enabled": False,
    "extensions.blocklist.enabled": False,
    "services.settings.server": "data:,#remote-settings-dummy/v1",
    "security.remote_settings.crlite_filters.enabled": False,
    "security.remote_settings.intermediates.enabled": False,
    "security.OCSP.enabled": 0,
    "media.gmp-manager.updateEnabled": False,
    "media.gmp-gmpopenh264.enabled": False,
    "dom.push.connection.enabled": False,
    "geo.provider.network.url": "",
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.dns.disablePrefetch": True,
    "network.prefetch-next": False,
    "network.http.speculative-parallel-limit": 0,
    "network.trr.mode": 5,
    "network.dns.forceResolve": "127.0.0.1",
    "doh-rollout.disable-heuristics": True,
    "network.proxy.type": 1,
    "network.proxy.http": "127.0.0.1",
    "network.proxy.http_port": 9,
    "network.proxy.ssl": "127.0.0.1",
    "network.proxy.ssl_port": 9,
    "network.proxy.socks": "127.0.0.1",
    "network.proxy.socks_port": 9,
    "network.proxy.socks_remote_dns": True,
    "network.proxy.no_proxies_on": "127.0.0.1",
    "network.proxy.allow_hijacking_localhost": False,
    "browser.sessionstore.resume_from_crash": False,
    "browser.tabs.warnOnClose": False,
    "browser.warnOnQuit": False,
}


class Marionette:
    """Firefox over Marionette: "LENGTH:JSON" messages on a loopback port,
    commands [0, id, name, params], answers [1, id, error, result]."""

    def __init__(self, arguments, profile, env, log, seconds):
        with open(log, "wb") as output:
            self.process = subprocess.Popen(arguments, env=env, stdin=subprocess.DEVNULL,
                                            stdout=output, stderr=subprocess.STDOUT)
        self.socket = None
        self.buffer = b""
        self.next_id = 1
        try:
            self.connect(profile / "MarionetteActivePort", seconds)
        except RuntimeError as error:
            self.stop()
            # The test's folder goes away with the test; keep why it failed.
            lines = log.read_text(errors="replace").splitlines()[-20:]
            raise RuntimeError("\n".join([str(error)] + lines)) from None
        except BaseException:
            self.stop()
            raise

    def connect(self, port_file, seconds):
        deadline = time.monotonic() + seconds
        while self.socket is None:
            if self.process.poll() is not None:
                raise RuntimeError("Firefox ended with status %d" % self.process.returncode)
            if time.monotonic() > deadline:
                raise RuntimeError("Marionette did not start")
            text = port_file.read_text().strip() if port_file.exists() else ""
            if text.isdigit():
                try:
                    self.socket = socket.create_connection(("127.0.0.1", int(text)), timeout=5)
                except OSError:
                    pass
            time.sleep(0.2)
        hello = self.read(max(1, deadline - time.monotonic()))
        if hello.get("marionetteProtocol") != 3:
            raise RuntimeError("not Marionette: %r" % hello)

    def read(self, seconds):
        deadline = time.monotonic() + seconds
        while True:
            head, colon, rest = self.buffer.partition(b":")
            if colon and len(rest) >= int(head):
                self.buffer = rest[int(head):]
                return json.loads(rest[:int(head)])
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("no answer from Marionette")
            ready, _, _ = select.select([self.socket], [], [], left)
            if ready:
                data = self.socket.recv(1 << 20)
                if not data:
                    raise RuntimeError("Firefox closed the Marionette connection")
                self.buffer += data

    def call(self, name, params=None, seconds=60):
        command_id = self.next_id
        self.next_id += 1
        data = json.dumps([0, command_id, name, params or {}]).encode()
        self.socket.sendall(b"%d:%s" % (len(data), data))
        while True:
            answer = self.read(seconds)
            if answer[0] == 1 and answer[1] == command_id:
                if answer[2]:
                    raise RuntimeError("%s: %s" % (name, answer[2]))
                return answer[3]

    def script(self, body, *args, seconds=60):
        """Runs body as a function in the current context; a promise it
        returns is waited for."""
        return self.call("WebDriver:ExecuteScript", {"script": body, "args": list(args)},
                         seconds)["value"]

    def stop(self):
        if self.socket is not None:
            try:
                self.call("Marionette:Quit", {"flags": ["eAttemptQuit"]}, seconds=30)
            except (OSError, RuntimeError):
                pass
            self.socket.close()
            self.socket = None
        elif self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# Opens the extensions panel, where a new extension's button is, in the
# window of the page's tab.
OPEN_PANEL = """
const [tabUrl] = arguments;
return (async () => {
    const selected = gBrowser.currentURI.prePath + gBrowser.currentURI.pathQueryRef;
    if (selected !== tabUrl) {
        throw new Error("the page's tab is not the selected one: " + selected);
    }
    const panel = gUnifiedExtensions.panel;
    if (panel.state !== "open") {
        const shown = new Promise((resolve) =>
            panel.addEventListener("popupshown", resolve, {once: true}));
        gUnifiedExtensions.togglePanel();
        await shown;
    }
})();
"""

# Clicks the extension's button as a mouse does: a press and a release at its
# middle, which the browser turns into the click and command that run the
# extension's action. Answers whether the button had the browser's own
# (trusted) command.
CLICK_BUTTON = """
const [widgetId] = arguments;
return (async () => {
    const button = document.getElementById(widgetId)
        ?.querySelector(".unified-extensions-item-action-button");
    if (!button) {
        throw new Error("no button " + widgetId + " in the extensions panel");
    }
    const commanded = new Promise((resolve) => {
        button.addEventListener("command", (event) => resolve(event.isTrusted), {once: true});
        setTimeout(() => resolve(false), 10000);
    });
    const box = button.getBoundingClientRect();
    const x = box.left + box.width / 2;
    const y = box.top + box.height / 2;
    for (const type of ["mousedown", "mouseup"]) {
        window.synthesizeMouseEvent(type, x, y, {button: 0, clickCount: 1}, {});
    }
    return await commanded;
})();
"""


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

    def check_delivery(self, home, message, host_arguments):
        """The browser started the host as it should, the message is whole,
        and nothing but it was left in the temporary folder."""
        calls = (home.root / "host-calls").read_text().split("\n")
        self.assertEqual(calls[0], host_arguments)
        self.check_message(message)
        self.assertEqual(os.listdir(home.root / "tmp"), ["wpx.eml"])

    def test_chromium(self):
        chromium = shutil.which("chromium")
        if not chromium:
            self.skipTest("no chromium")
        home = Home(self.scratch / "chromium")
        profile = home.root / "profile"
        hosts = profile / "NativeMessagingHosts"
        hosts.mkdir(parents=True)
        (hosts / (HOST_NAME + ".json")).write_text(json.dumps({
            "name": HOST_NAME, "description": "test", "type": "stdio",
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
            wait_for(lambda: browser.evaluate(page, PAGE_STATE).startswith("/login complete "),
                     TIMEOUT, "the login page")
            browser.call("Page.navigate", {"url": self.server.origin + "/app.html"}, page)
            wait_for(lambda: browser.evaluate(page, PAGE_STATE) == "/app.html complete 3",
                     TIMEOUT, "the page's script")

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
        self.check_delivery(home, message, "chrome-extension://%s/" % chromium_id())

    def test_firefox(self):
        firefox = shutil.which("firefox-esr") or shutil.which("firefox")
        if not firefox:
            self.skipTest("no firefox")
        home = Home(self.scratch / "firefox")
        hosts = home.root / "home" / ".mozilla" / "native-messaging-hosts"
        hosts.mkdir(parents=True)
        manifest = hosts / (HOST_NAME + ".json")
        manifest.write_text(json.dumps({
            "name": HOST_NAME, "description": "test", "type": "stdio",
            "path": str(home.host_wrapper()), "allowed_extensions": [FIREFOX_ID]}))
        profile = home.root / "profile"
        profile.mkdir()
        (profile / "user.js").write_text("".join(
            "user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value))
            for name, value in FIREFOX_PREFS.items()))
        # Firefox's own guard for tests: it refuses connections off the
        # machine, and lets the remote settings server above take effect.
        env = dict(home.env, MOZ_CRASHREPORTER_DISABLE="1", MOZ_DISABLE_NONLOCAL_CONNECTIONS="1")
        browser = Marionette([firefox, "--headless", "--marionette",
                              "-remote-allow-system-access", "-profile", str(profile)],
                             profile, env, home.root / "firefox.log", TIMEOUT)
        try:
            browser.call("WebDriver:NewSession")
            added = browser.call("Addon:Install", {"path": str(extension_folder()),
                                                   "temporary": True})["value"]
            self.assertEqual(added, FIREFOX_ID)
            # Navigate waits for the load, but the script's fetched text and
            # picture may come after it; the address keeps the first tab's
            # about:blank from passing for the page.
            browser.call("WebDriver:Navigate", {"url": self.server.origin + "/login"})
            wait_for(lambda: browser.script("return " + PAGE_STATE).startswith(
                "/login complete "), TIMEOUT, "the login page")
            app = self.server.origin + "/app.html"
            browser.call("WebDriver:Navigate", {"url": app})
            wait_for(lambda: browser.script("return " + PAGE_STATE) == "/app.html complete 3",
                     TIMEOUT, "the page's script")
            browser.call("Marionette:SetContext", {"value": "chrome"})
            browser.script(OPEN_PANEL, app)
            # Firefox names the button's widget after the add-on's id.
            widget = re.sub(r"[^a-z0-9_-]", "_", FIREFOX_ID.lower()) + "-browser-action"
            started = time.monotonic()
            self.assertTrue(browser.script(CLICK_BUTTON, widget),
                            "the click did not reach the extension's button")
            message = home.wait_for_message(TIMEOUT)
            self.assertIsNotNone(message, "no message reached the mail program")
            print("Firefox: %.1f s from the click to the message"
                  % (time.monotonic() - started), file=sys.stderr)
        finally:
            browser.stop()
        self.check_delivery(home, message, "%s %s" % (manifest, FIREFOX_ID))


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
