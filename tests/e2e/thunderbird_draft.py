#!/usr/bin/env python3
"""A converted page opened as a draft in the real Thunderbird and sent.

The page (tests/data/e2e/draft) has pictures in a style element, a style
attribute, a table and a cell, and @media rules. It is converted with
--mail-program thunderbird, opened in Thunderbird under Xvfb with a fresh
profile (one local account that never logs in, SMTP to a sink on 127.0.0.1,
every first-run dialog, reminder and update off, every name resolved to
127.0.0.1). The compose window must show the main colour of every picture
(read from a screenshot); then it is sent with Ctrl+Return. The mail that
reaches the sink must
hold every picture, resolve every cid: reference, name no mailbox: address
and keep the @media rules.

Exits 77 (skipped) where Thunderbird, Xvfb or xdotool is missing.
"""

import argparse
import base64
import email
import email.policy
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
# Thunderbird takes up to 40 s to open a message here; each wait is bounded.
WINDOW_WAIT = 120
SEND_WAIT = 120
SENDER = "drafts@example.org"
RECEIVER = "reader@example.org"
PICTURES = ("sky.png", "grass.gif", "sand.gif", "brick.jpg", "badge.png", "paper.png")


class SmtpSink(threading.Thread):
    """Just enough SMTP on 127.0.0.1 to take Thunderbird's messages."""

    def __init__(self):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(1)
        self.port = self.listener.getsockname()[1]
        self.messages = []
        self.stopping = False

    def run(self):
        while not self.stopping:
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            with connection:
                connection.settimeout(SEND_WAIT)
                try:
                    self.converse(connection)
                except (OSError, ValueError):
                    pass

    def converse(self, connection):
        reader = connection.makefile("rb")
        connection.sendall(b"220 127.0.0.1 sink\r\n")
        while True:
            line = reader.readline()
            if not line:
                return
            command = line.strip().upper()
            if command.startswith((b"EHLO", b"HELO")):
                connection.sendall(b"250-127.0.0.1\r\n250 8BITMIME\r\n")
            elif command == b"DATA":
                connection.sendall(b"354 go on\r\n")
                lines = []
                while True:
                    data = reader.readline()
                    if not data or data == b".\r\n":
                        break
                    lines.append(data[1:] if data.startswith(b"..") else data)
                self.messages.append(b"".join(lines))
                connection.sendall(b"250 taken\r\n")
            elif command == b"QUIT":
                connection.sendall(b"221 bye\r\n")
                return
            else:
                connection.sendall(b"250 ok\r\n")

    def stop(self):
        self.stopping = True
        self.join(5)
        self.listener.close()


def user_js(smtp_port):
    """A profile with one POP3 account on 127.0.0.1 that never logs in and
    no first-run dialog, reminder, update or telemetry."""
    prefs = {
        "mail.accountmanager.accounts": "account1,account2",
        "mail.accountmanager.defaultaccount": "account1",
        "mail.accountmanager.localfoldersserver": "server2",
        "mail.account.account1.identities": "id1",
        "mail.account.account1.server": "server1",
        "mail.account.account2.server": "server2",
        "mail.identity.id1.fullName": "Drafts",
        "mail.identity.id1.useremail": SENDER,
        "mail.identity.id1.smtpServer": "smtp1",
        "mail.identity.id1.valid": True,
        "mail.identity.id1.compose_html": True,
        "mail.identity.id1.fcc": False,
        "mail.identity.id1.attach_vcard": False,
        "mail.server.server1.type": "pop3",
        "mail.server.server1.hostname": "127.0.0.1",
        "mail.server.server1.port": 1,
        "mail.server.server1.userName": "drafts",
        "mail.server.server1.name": "Drafts",
        "mail.server.server1.login_at_startup": False,
        "mail.server.server1.check_new_mail": False,
        "mail.server.server1.download_on_biff": False,
        "mail.server.server2.type": "none",
        "mail.server.server2.hostname": "Local Folders",
        "mail.server.server2.userName": "nobody",
        "mail.server.server2.name": "Local Folders",
        "mail.smtpservers": "smtp1",
        "mail.smtp.defaultserver": "smtp1",
        "mail.smtpserver.smtp1.hostname": "127.0.0.1",
        "mail.smtpserver.smtp1.port": smtp_port,
        "mail.smtpserver.smtp1.authMethod": 1,
        "mail.smtpserver.smtp1.try_ssl": 0,
        "mail.smtpserver.smtp1.username": "",
        "mail.smtpserver.smtp1.description": "sink",
        "mail.shell.checkDefaultClient": False,
        "mail.rights.version": 1,
        "mailnews.start_page.enabled": False,
        "mail.provider.enabled": False,
        "mail.startup.enabledMailCheckOnce": True,
        "mail.spotlight.firstRunDone": True,
        "mail.inappnotifications.enabled": False,
        "mail.compose.attachment_reminder": False,
        "mail.compose.big_attachments.notify": False,
        "mail.compose.warn_public_recipients.threshold": 0,
        "mail.warn_on_send_accel_key": False,
        "mail.SpellCheckBeforeSend": False,
        "mail.spellcheck.inline": False,
        "mail.default_send_format": 2,
        "mail.biff.play_sound": False,
        "mail.biff.show_alert": False,
        "mail.cloud_files.enabled": False,
        "datareporting.policy.dataSubmissionEnabled": False,
        "datareporting.healthreport.uploadEnabled": False,
        "toolkit.telemetry.enabled": False,
        "app.update.enabled": False,
        "app.update.auto": False,
        "app.update.disabledForTesting": True,
        "extensions.update.enabled": False,
        "extensions.getAddons.cache.enabled": False,
        "browser.safebrowsing.malware.enabled": False,
        "browser.safebrowsing.phishing.enabled": False,
        "network.dns.forceResolve": "127.0.0.1",
        "network.captive-portal-service.enabled": False,
        "network.connectivity-service.enabled": False,
        "calendar.integration.notify": False,
        "calendar.timezone.local": "UTC",
        "mailnews.auto_config.fetchFromISP.enabled": False,
        "mailnews.auto_config.guess.enabled": False,
    }
    lines = []
    for name, value in prefs.items():
        if isinstance(value, bool):
            text = "true" if value else "false"
        elif isinstance(value, int):
            text = str(value)
        else:
            text = '"%s"' % value
        lines.append('user_pref("%s", %s);\n' % (name, text))
    return "".join(lines)


def start_display():
    """Xvfb on a display it picks itself."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "1280x1024x24", "-nolisten", "tcp"],
                              pass_fds=(write_end,), stderr=subprocess.DEVNULL,
                              start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end) as display:
        number = display.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number


def stop(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def find_window(environment, pattern, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                               env=environment, capture_output=True, text=True).stdout.split()
        if found:
            return found[-1]
        time.sleep(1)
    return None


def screenshot(environment, path, window="root"):
    if shutil.which("import"):
        subprocess.run(["import", "-window", window, path], env=environment,
                       capture_output=True, timeout=30)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.5)
    return False


def missing_from_screen(shot, source_dir):
    """The pictures whose main colour the compose window does not show: a
    picture that Thunderbird cannot load leaves no pixel of it."""
    from PIL import Image
    with Image.open(shot) as screen:
        shown = screen.convert("RGB").getcolors(1 << 24)
    missing = []
    for name in PICTURES:
        with Image.open(os.path.join(source_dir, "tests", "data", "render", "img", name)) as image:
            colours = sorted(image.convert("RGB").getcolors(1 << 24), reverse=True)
        # The picture's two commonest colours (a check has two), the page's
        # white aside; a second colour must cover a tenth of it to count.
        total = sum(count for count, _ in colours)
        mains = [colour for count, colour in colours if min(colour) < 235][:2]
        mains = [colour for index, colour in enumerate(mains)
                 if index == 0 or dict((c, n) for n, c in colours)[colour] * 10 >= total]
        for main in mains:
            # The smallest picture here shows about 1900 pixels of its second
            # colour; the editor's ring around a selected table cell, which
            # shares the sky's blues, about 900.
            near = sum(count for count, colour in shown
                       if all(abs(a - b) <= 12 for a, b in zip(main, colour)))
            if near < 1500:
                missing.append("the compose window does not show %s (%r)" % (name, main))
                break
    return missing


def pictures_of(message):
    """The bytes of every picture the mail carries: parts and data: addresses."""
    found = []
    for part in message.walk():
        if part.get_content_maintype() == "image":
            found.append(part.get_payload(decode=True))
        elif part.get_content_type() == "text/html":
            html = part.get_payload(decode=True)
            found += [base64.b64decode(data) for data in
                      re.findall(rb"data:[a-z+/.-]+;base64,([A-Za-z0-9+/=]+)", html)]
    return found


def check_sent(data, source_dir):
    """The problems of the mail as sent; empty when there are none."""
    problems = []
    if b"mailbox:" in data.lower():
        problems.append("a mailbox: address was sent")
    message = email.message_from_bytes(data, policy=email.policy.compat32)
    ids = {part["Content-ID"].strip().strip("<>") for part in message.walk()
           if part["Content-ID"]}
    html = b"".join(part.get_payload(decode=True) for part in message.walk()
                    if part.get_content_type() == "text/html")
    for reference in set(re.findall(rb"cid:([^\"')\s>]+)", html)):
        if reference.decode() not in ids:
            problems.append("cid:%s names no part" % reference.decode())
    sent = pictures_of(message)
    for name in PICTURES:
        with open(os.path.join(source_dir, "tests", "data", "render", "img", name), "rb") as file:
            if file.read() not in sent:
                problems.append("the picture %s is missing" % name)
    if not re.search(rb"(media=\"\(max-width: 600px\)\"|@media \(max-width: 600px\))", html):
        problems.append("the (max-width: 600px) rules are gone")
    if not re.search(rb"(media=\"print\"|@media print)", html):
        problems.append("the print rules are gone")
    if b"color: black" not in html or b"height: 20px" not in html:
        problems.append("the rules inside the media blocks are gone")
    return problems


def run(arguments, scratch):
    page = os.path.join(arguments.source_dir, "tests", "data", "e2e", "draft", "page.html")
    draft = os.path.join(scratch, "draft.eml")
    subprocess.run([arguments.pagewing, "-q", "--complete", "--mail-program", "thunderbird",
                    "--to", RECEIVER, "--from", SENDER, "-o", draft, page],
                   check=True, timeout=60)
    profile = os.path.join(scratch, "profile")
    home = os.path.join(scratch, "home")
    os.makedirs(profile)
    os.makedirs(home)
    sink = SmtpSink()
    sink.start()
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        prefs.write(user_js(sink.port))
    display, name = start_display()
    environment = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "DISPLAY": name,
        "TMPDIR": scratch, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"), "LANG": "C.UTF-8",
        "MOZ_DISABLE_NONLOCAL_CONNECTIONS": "1", "MOZ_CRASHREPORTER_DISABLE": "1",
        "MOZ_DISABLE_AUTO_SAFE_MODE": "1",
    }
    thunderbird = None
    try:
        with open(os.path.join(scratch, "thunderbird.log"), "wb") as log:
            thunderbird = subprocess.Popen(
                ["thunderbird", "-profile", profile, "-no-remote", draft], env=environment,
                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        window = find_window(environment, "^Write: ", WINDOW_WAIT)
        if window is None:
            screenshot(environment, os.path.join(arguments.artifacts, "no-compose.png"))
            return ["no compose window opened within %d s" % WINDOW_WAIT]
        # The editor fills in after the window shows.
        time.sleep(5)
        compose = os.path.join(arguments.artifacts, "compose.png")
        screenshot(environment, compose, window)
        problems = missing_from_screen(compose, arguments.source_dir)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=environment,
                       timeout=30)
        subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+Return"], env=environment,
                       timeout=30)
        if not wait_for(lambda: sink.messages, SEND_WAIT):
            screenshot(environment, os.path.join(arguments.artifacts, "not-sent.png"))
            return ["nothing reached the sink within %d s" % SEND_WAIT]
        with open(os.path.join(arguments.artifacts, "sent.eml"), "wb") as sent:
            sent.write(sink.messages[0])
        return problems + check_sent(sink.messages[0], arguments.source_dir)
    finally:
        if thunderbird is not None:
            stop(thunderbird)
        stop(display)
        sink.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    arguments = parser.parse_args()
    for tool in ("thunderbird", "Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed" % tool)
            return SKIPPED
    os.makedirs(arguments.artifacts, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="pw-thunderbird-")
    try:
        problems = run(arguments, scratch)
    finally:
        log = os.path.join(scratch, "thunderbird.log")
        if os.path.exists(log):
            shutil.copy(log, arguments.artifacts)
        shutil.rmtree(scratch, ignore_errors=True)
    for problem in problems:
        print("FAILED: " + problem)
    print("%d passed, %d failed" % (1 if not problems else 0, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
