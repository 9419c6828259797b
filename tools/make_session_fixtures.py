#!/usr/bin/env python3
"""Makes the browser session fixtures that the open-page readers are tested on.

Runs Debian's firefox-esr and chromium on temporary profiles under a virtual
display (xvfb-run), lets them open a few pages served on 127.0.0.1, and copies
the session files they write into tests/data/app/sessions/, together with
expected.txt: the URL of the current page of every open tab, in tab order
(blank tabs included; the list of open pages filters them out later).

Every other destination is sent to a closed port on 127.0.0.1 (a proxy that
does not exist, no DNS), so the browsers reach nothing but this machine.

Needs: firefox-esr, chromium, xvfb. Usage: tools/make_session_fixtures.py
"""

import http.server
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "tests" / "data" / "app" / "sessions"

PAGES = {
    "index.html": "<html><head><title>Index</title></head><body>Index</body></html>",
    "article.htm": "<html><head><title>Article</title></head><body>Article</body></html>",
    # Moves on by itself, so the tab's current entry is its second one.
    "first.html": "<html><head><title>First</title></head><body>"
    "<script>setTimeout(function(){location.href='second.html';},300);</script></body></html>",
    "second.html": "<html><head><title>Second</title></head><body>Second</body></html>",
    "plain": "<html><head><title>Plain</title></head><body>No extension</body></html>",
}

FIREFOX_PREFS = {
    "browser.sessionstore.interval": 500,
    "browser.startup.page": 0,
    "browser.shell.checkDefaultBrowser": False,
    "browser.aboutwelcome.enabled": False,
    "startup.homepage_welcome_url": "",
    "startup.homepage_welcome_url.additional": "",
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.enabled": False,
    "toolkit.telemetry.unified": False,
    "app.update.enabled": False,
    "app.normandy.enabled": False,
    "extensions.update.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.dns.disablePrefetch": True,
    "network.prefetch-next": False,
    "network.trr.mode": 5,
    "network.proxy.type": 1,
    "network.proxy.http": "127.0.0.1",
    "network.proxy.http_port": 9,
    "network.proxy.ssl": "127.0.0.1",
    "network.proxy.ssl_port": 9,
    "network.proxy.allow_hijacking_localhost": False,
    "services.settings.server": "http://127.0.0.1:9/",
    "browser.newtabpage.enabled": False,
    "browser.newtabpage.activity-stream.feeds.topsites": False,
    "browser.tabs.warnOnClose": False,
}


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{"": "text/html"})

    def log_message(self, *args):
        pass


def serve(directory):
    handler = lambda *a, **k: QuietHandler(*a, directory=directory, **k)  # noqa: E731
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def pref_line(name, value):
    if isinstance(value, bool):
        text = "true" if value else "false"
    elif isinstance(value, int):
        text = str(value)
    else:
        text = '"%s"' % value
    return 'user_pref("%s", %s);\n' % (name, text)


def stop(process, seconds=20):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.5)
    return False


def firefox_fixture(base, local_page, work):
    profile = work / "firefox-profile"
    profile.mkdir()
    (profile / "user.js").write_text("".join(pref_line(k, v) for k, v in FIREFOX_PREFS.items()))
    urls = [base + "index.html", base + "first.html", "about:blank", local_page, base + "plain"]
    process = subprocess.Popen(
        ["xvfb-run", "-a", "firefox-esr", "--no-remote", "--profile", str(profile)] + urls,
        start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=dict(os.environ, HOME=str(work), MOZ_CRASHREPORTER_DISABLE="1"))
    recovery = profile / "sessionstore-backups" / "recovery.jsonlz4"
    try:
        if not wait_for(recovery.exists, 90):
            sys.exit("firefox wrote no recovery.jsonlz4")
        time.sleep(8)  # the moving tab settles and the store is written again
        shutil.copyfile(recovery, OUT / "firefox-recovery.jsonlz4")
    finally:
        stop(process)
    return [base + "index.html", base + "second.html", "about:blank", local_page, base + "plain"]


def chromium_fixture(base, local_page, work):
    data = work / "chromium-data"
    urls = [base + "article.htm", base + "first.html", "about:blank", local_page]
    process = subprocess.Popen(
        ["xvfb-run", "-a", "chromium", "--user-data-dir=" + str(data), "--no-first-run",
         "--no-default-browser-check", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-default-apps",
         "--disable-features=MediaRouter,OptimizationHints,Translate",
         "--proxy-server=http://127.0.0.1:9",
         "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
         "--password-store=basic", "--no-sandbox"] + urls,
        start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=dict(os.environ, HOME=str(work)))
    sessions = data / "Default" / "Sessions"
    try:
        if not wait_for(lambda: sessions.is_dir() and any(sessions.glob("Session_*")), 90):
            sys.exit("chromium wrote no session file")
        time.sleep(10)  # commands are written a few seconds after they happen
    finally:
        stop(process)
    newest = sorted(sessions.glob("Session_*"), key=lambda p: (len(p.name), p.name))[-1]
    shutil.copyfile(newest, OUT / "chromium-Session")
    return [base + "article.htm", base + "second.html", "about:blank", local_page]


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="pw-sessions-") as scratch:
        work = pathlib.Path(scratch)
        site = work / "site"
        site.mkdir()
        for name, body in PAGES.items():
            (site / name).write_text(body)
        local = work / "local page.html"
        local.write_text("<html><head><title>Local</title></head><body>Local</body></html>")
        local_page = local.as_uri()
        server = serve(str(site))
        base = "http://127.0.0.1:%d/" % server.server_address[1]
        try:
            firefox = firefox_fixture(base, local_page, work)
            chromium = chromium_fixture(base, local_page, work)
        finally:
            server.shutdown()
    with open(OUT / "expected.txt", "w") as out:
        out.write("# firefox-recovery.jsonlz4\n" + "\n".join(firefox) + "\n")
        out.write("# chromium-Session\n" + "\n".join(chromium) + "\n")
    print("wrote", OUT)


if __name__ == "__main__":
    main()
