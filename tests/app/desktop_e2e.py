#!/usr/bin/python3
"""End-to-end test of the desktop program under a virtual display.

Runs build/pagewing under Xvfb with a session bus, drives its dialogs through
the accessibility bus (AT-SPI), and checks what reaches the user:

1. the URL of a page served on 127.0.0.1 is typed, Create Email is pressed, and
   the user's handler for message/rfc822 (a recorder set up in mimeapps.list of
   a temporary HOME) receives wpx.eml in the temporary directory, a message with
   the page and its image;
2. Options switches the action to saving, ticks the complete-page box (stored
   as CompletePage=1) and the box that runs the page's scripts (the message then
   holds what the page's script wrote) and sets the directory, the status
   line says so, Create Email opens the Save dialog, a name without extension
   is given, and the message lands in that directory as <name>.eml;
3. "Working... PLEASE WAIT..." is on the screen while a slow page downloads;
4. Enter, pressed while the page list has the focus, runs Create Email (the
   default button);
5. a page picked from the list, in a Firefox profile whose cookies the page
   and its picture need, is converted with those cookies;
6. a page that fails shows its reason after "Failed.";
7. Cancel during a slow download stops it within a second, and nothing opens;
8. closing the window during a download ends the program without a message;
9. without any mail program a message box says where the message is and
   offers the Save dialog, which proposes the page's title as the name.

A screenshot of the main dialog is kept under the build directory.

Usage: desktop_e2e.py PAGEWING ARTIFACT_DIR
"""

import email
import email.policy
import http.server
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

WORKING = "Working... PLEASE WAIT..."
MAIN_TITLE = "Pagewing!     courtesy of Vantrel Software, Inc.  "
SAVE_LABEL = "Create Email Action: Save Email to File"
LAUNCH_LABEL = "Create Email Action: Launch Outlook Express"
COMPLETE_LABEL = "Also embed fonts, imported style sheets and responsive images"
SCRIPTS_LABEL = "Run the page's scripts before converting"

# A 1x1 PNG.
PIXEL = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c63f8cfc0f01f0005000201a5f6f5e10000000049454e44ae426082")
PAGE = ("<html><head><title>Loopback page</title></head><body>"
        "<h1>Hello from 127.0.0.1</h1><img src=\"pixel.png\">"
        "<script>document.write('<p>Written by the script</p>')</script></body></html>")


MEMBER_PAGE = ("<html><head><title>Members</title></head><body><p>Only for members</p>"
               "<img src=\"member.png\"></body></html>")
MEMBER_COOKIE = "member=yes"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise Failure("timed out waiting for " + what)


# --- the page server ----------------------------------------------------------------

SLOW_SECONDS = 4
# A download that the user stops (or leaves by closing the window). Long
# enough that "stopped at once" can be told from "waited for it" on a busy
# machine without timing the program to the second.
STALL_SECONDS = 12


def start_server(site):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=str(site), **kwargs)

        def do_GET(self):
            if self.path == "/slow.html":
                time.sleep(SLOW_SECONDS)
                self.path = "/page.html"
            if self.path == "/stall.html":
                time.sleep(STALL_SECONDS)
                self.path = "/page.html"
            if self.path.startswith("/member") and MEMBER_COOKIE not in (
                    self.headers.get("Cookie") or ""):
                self.send_error(403)
                return
            super().do_GET()

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- AT-SPI helpers -----------------------------------------------------------------

def atspi():
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    return Atspi


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        count = node.get_child_count()
    except Exception:
        return
    for index in range(count):
        try:
            child = node.get_child_at_index(index)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def application(pid):
    Atspi = atspi()
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def showing(node):
    Atspi = atspi()
    try:
        return node.get_state_set().contains(Atspi.StateType.SHOWING)
    except Exception:
        return False


def find(root, role=None, name=None, only_showing=True):
    for node in walk(root):
        try:
            if role is not None and node.get_role_name() != role:
                continue
            if name is not None and node.get_name() != name:
                continue
        except Exception:
            continue
        if only_showing and not showing(node):
            continue
        return node
    return None


def window(pid, title, process=None):
    def found():
        app = application(pid)
        if app is None:
            return None
        for index in range(app.get_child_count()):
            child = app.get_child_at_index(index)
            if child is not None and child.get_name() == title and showing(child):
                return child
        return None
    try:
        return wait_until(found, 30, "the window " + repr(title))
    except Failure:
        if process is not None and process.poll() is not None:
            raise Failure("the program ended (%d) before its window %r showed: %s" % (
                process.returncode, title, process.stdout.read().decode(errors="replace")))
        app = application(pid)
        seen = []
        if app is not None:
            for index in range(app.get_child_count()):
                child = app.get_child_at_index(index)
                seen.append((child.get_role_name(), child.get_name(), showing(child)))
        raise Failure("no window %r among %r" % (title, seen))


def press(root, name, role="push button"):
    button = wait_until(lambda: find(root, role, name), 10, "the button " + repr(name))
    button.do_action(0)


def type_into(node, text):
    check(node.set_text_contents(text), "could not set the text " + repr(text))


def status_line(dialog, candidates):
    for node in walk(dialog):
        try:
            if node.get_role_name() == "label" and node.get_name() in candidates:
                return node.get_name()
        except Exception:
            continue
    return None


# --- the checks ---------------------------------------------------------------------

def check_message(path, base, scripts_ran=False):
    raw = pathlib.Path(path).read_bytes()
    check(b"\r\n" in raw, "the message has no CR LF line ends")
    message = email.message_from_bytes(raw, policy=email.policy.default)
    check(message.get_content_type() == "multipart/related", "root is " + message.get_content_type())
    check(message["X-Unsent"] == "1", "X-Unsent is missing")
    check(message["Subject"] == "Loopback page", "Subject is %r" % message["Subject"])
    parts = list(message.iter_parts())
    html = [p for p in parts if p.get_content_type() == "text/html"]
    images = [p for p in parts if p.get_content_type() == "image/png"]
    check(len(html) == 1 and len(images) == 1, "parts: %r" % [p.get_content_type() for p in parts])
    body = html[0].get_content()
    check("Hello from 127.0.0.1" in body, "the page text is missing")
    check("document.write" not in body, "the script was kept")
    check(("Written by the script" in body) == scripts_ran,
          "the script's text is %s" % ("missing" if scripts_ran else "there"))
    content_id = images[0]["Content-ID"].strip("<>")
    check("cid:" + content_id in body, "the image is not referenced by its content-id")
    check(images[0].get_content() == PIXEL, "the image bytes differ from the served file")
    check(html[0]["Content-Location"] == base + "page.html",
          "Content-Location of the page: %r" % html[0]["Content-Location"])


def run_program(pagewing, env):
    child_env = dict(env)
    # GTK and fontconfig keep caches until exit; the program's own code is
    # checked for leaks by the unit tests.
    child_env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=1"
    return subprocess.Popen([pagewing], env=child_env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)


def finish(process, seconds=30):
    try:
        output, _ = process.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        output, _ = process.communicate()
        raise Failure("the program did not end: " + output.decode(errors="replace"))
    check(process.returncode == 0,
          "exit status %d: %s" % (process.returncode, output.decode(errors="replace")))


def install_open_browser(home):
    """A running Firefox as its session file shows it, so the list has pages."""
    sessions = pathlib.Path(__file__).resolve().parent.parent / "data" / "app" / "sessions"
    profile = home / ".mozilla" / "firefox" / "e2e.default"
    (profile / "sessionstore-backups").mkdir(parents=True)
    (home / ".mozilla" / "firefox" / "profiles.ini").write_text(
        "[Profile0]\nName=default\nIsRelative=1\nPath=e2e.default\n")
    shutil.copyfile(sessions / "firefox-recovery.jsonlz4",
                    profile / "sessionstore-backups" / "recovery.jsonlz4")
    lines = (sessions / "expected.txt").read_text().split("# chromium-Session")[0].split("\n")
    return [line for line in lines if line.startswith("http")]


def mozlz4(data):
    """Firefox's session file framing around one LZ4 block of literals only."""
    block = bytearray([min(len(data), 15) << 4])
    if len(data) >= 15:
        rest = len(data) - 15
        block += b"\xff" * (rest // 255) + bytes([rest % 255])
    return b"mozLz40\0" + len(data).to_bytes(4, "little") + bytes(block) + data


def install_member_profile(home, url):
    """A second Firefox profile, showing a page that needs its cookie."""
    import json
    import sqlite3
    firefox = home / ".mozilla" / "firefox"
    profile = firefox / "member.profile"
    (profile / "sessionstore-backups").mkdir(parents=True)
    with open(firefox / "profiles.ini", "a") as ini:
        ini.write("\n[Profile1]\nName=member\nIsRelative=1\nPath=member.profile\n")
    session = {"windows": [{"tabs": [{"entries": [{"url": url, "title": "Members"}],
                                      "index": 1}]}]}
    (profile / "sessionstore-backups" / "recovery.jsonlz4").write_bytes(
        mozlz4(json.dumps(session).encode()))
    database = sqlite3.connect(str(profile / "cookies.sqlite"))
    database.execute("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT "
                     "NOT NULL DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, "
                     "expiry INTEGER, isSecure INTEGER, isHttpOnly INTEGER)")
    name, value = MEMBER_COOKIE.split("=")
    database.execute("INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, "
                     "isHttpOnly) VALUES (?, ?, '127.0.0.1', '/', ?, 0, 1)",
                     (name, value, int(time.time()) + 86400))
    database.commit()
    database.close()


def select_list_row(dialog, text):
    Atspi = atspi()
    table = wait_until(lambda: find(dialog, "table"), 10, "the page list")
    cell = wait_until(lambda: find(table, "table cell", text, only_showing=False), 10,
                      "the open page " + text)
    check(Atspi.Selection.select_child(table, cell.get_index_in_parent()),
          "the page %s could not be selected" % text)


def screen_bytes(node, env):
    """The raw pixels of the node's rectangle on the screen."""
    Atspi = atspi()
    box = node.get_extents(Atspi.CoordType.SCREEN)
    return subprocess.run(["import", "-window", "root", "-crop",
                           "%dx%d+%d+%d" % (box.width, box.height, box.x, box.y), "+repage",
                           "rgb:-"], check=True, env=env, capture_output=True).stdout


def press_enter_in_list(dialog, env):
    Atspi = atspi()
    table = wait_until(lambda: find(dialog, "table"), 10, "the page list")
    check(Atspi.Component.grab_focus(table), "the page list took no focus")
    windows = subprocess.run(["xdotool", "search", "--name", "^Pagewing!"], env=env,
                             capture_output=True, text=True).stdout.split()
    check(windows, "xdotool found no main dialog")
    subprocess.run(["xdotool", "windowfocus", "--sync", windows[-1]], check=True, env=env)
    subprocess.run(["xdotool", "key", "Return"], check=True, env=env)


def texts(root):
    """The names and the texts of every node under root."""
    for node in walk(root):
        try:
            yield node.get_name() or ""
            yield node.get_text(0, -1) or ""
        except Exception:
            continue


def close_window(title_pattern, env):
    """What the window manager's close button does: WM_DELETE_WINDOW to the
    window (Xvfb has no window manager to send it)."""
    import ctypes
    windows = subprocess.run(["xdotool", "search", "--name", title_pattern], env=env,
                             capture_output=True, text=True).stdout.split()
    check(windows, "xdotool found no window " + title_pattern)
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 24)]
    display = x11.XOpenDisplay(env["DISPLAY"].encode())
    check(display, "cannot open the display")
    event = ClientMessage(type=33, window=int(windows[-1]), format=32,
                          message_type=x11.XInternAtom(display, b"WM_PROTOCOLS", 0))
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, int(windows[-1]), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def store_settings(config, **values):
    """Changes stored settings between runs of the program, as Options would."""
    path = config / "pagewing" / "registry.ini"
    text = path.read_text()
    for name, value in values.items():
        text, count = re.subn(r"(?m)^%s=.*$" % name, "%s=%s" % (name, value), text)
        check(count == 1, "no %s in the settings: %s" % (name, text))
    path.write_text(text)


def screenshot(dialog, path, env):
    Atspi = atspi()
    box = dialog.get_extents(Atspi.CoordType.SCREEN)
    subprocess.run(["import", "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (box.width, box.height, box.x, box.y), "+repage", str(path)],
                   check=True, env=env)


def inner(pagewing, artifacts):
    with tempfile.TemporaryDirectory(prefix="pw-e2e-") as scratch:
        root = pathlib.Path(scratch)
        home, config, data, temp, site, saved = (root / n for n in
                                                 ("home", "config", "data", "tmp", "site", "saved"))
        for folder in (home, config, data / "applications", temp, site, saved):
            folder.mkdir(parents=True)
        (site / "page.html").write_text(PAGE)
        (site / "pixel.png").write_bytes(PIXEL)
        (site / "member.html").write_text(MEMBER_PAGE)
        (site / "member.png").write_bytes(PIXEL)

        record = root / "handler-record.txt"
        handler = root / "record-handler.sh"
        handler.write_text("#!/bin/sh\nprintf '%%s\\n' \"$1\" >> '%s'\n" % record)
        handler.chmod(0o755)
        (data / "applications" / "recorder.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\n"
            "MimeType=message/rfc822;\n" % handler)
        open_pages = install_open_browser(home)
        (config / "mimeapps.list").write_text(
            "[Default Applications]\nmessage/rfc822=recorder.desktop\n")

        env = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(config),
                   XDG_DATA_HOME=str(data), TMPDIR=str(temp), GTK_THEME="Adwaita",
                   NO_AT_BRIDGE="0", GTK_A11Y="atspi", GDK_BACKEND="x11")
        env.pop("GTK_MODULES", None)
        server = start_server(site)
        base = "http://127.0.0.1:%d/" % server.server_address[1]
        try:
            # 1. Launch the mail client with the temporary message.
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            check(status_line(dialog, [LAUNCH_LABEL]) == LAUNCH_LABEL, "the launch label is missing")
            edit = wait_until(lambda: find(dialog, "text"), 10, "the edit box")
            for page in open_pages:
                wait_until(lambda: find(dialog, "table cell", page, only_showing=False), 10,
                           "the open page " + page)
            type_into(edit, base + "page.html")
            time.sleep(0.5)
            shot = pathlib.Path(artifacts) / "main-dialog.png"
            screenshot(dialog, shot, env)
            press(dialog, "Create Email")
            finish(process)
            lines = wait_until(lambda: record.exists() and record.read_text().split(), 20,
                               "the mail handler")
            check(lines == [str(temp / "wpx.eml")], "the handler received %r" % lines)
            check_message(lines[0], base)

            # 2. Switch to saving in Options, then save through the Save dialog.
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            # Cancel stores nothing, whatever was chosen.
            press(dialog, "Options")
            options = window(process.pid, "Options")
            press(options, "Do not launch Outlook Express, just save the email to an EML file.",
                  role="radio button")
            press(options, "Cancel")
            wait_until(lambda: application(process.pid) is not None and
                       find(application(process.pid), "dialog", "Options") is None, 10,
                       "the Options dialog to close")
            check(status_line(dialog, [LAUNCH_LABEL]) == LAUNCH_LABEL, "Cancel changed the action")
            press(dialog, "Options")
            try:
                options = window(process.pid, "Options")
            except Failure:
                if process.poll() is not None:
                    raise Failure("the program ended (%d): %s" % (
                        process.returncode, process.stdout.read().decode(errors="replace")))
                raise
            press(options, "Do not launch Outlook Express, just save the email to an EML file.",
                  role="radio button")
            press(options, COMPLETE_LABEL, role="check box")
            press(options, SCRIPTS_LABEL, role="check box")
            type_into(wait_until(lambda: find(options, "text"), 10, "the directory box"),
                      "  %s  " % saved)
            press(options, "OK")
            wait_until(lambda: status_line(dialog, [SAVE_LABEL]), 10, "the save label")
            type_into(find(dialog, "text"), base + "page.html")
            press(dialog, "Create Email")
            chooser = window(process.pid, "Save As")
            name = wait_until(lambda: find(chooser, "text"), 10, "the file name box")
            type_into(name, "letter")
            time.sleep(0.5)
            press(chooser, "Save")
            finish(process)
            target = saved / "letter.eml"
            check(target.exists(), "nothing was saved as %s: %r" % (target, list(saved.iterdir())))
            check_message(target, base, scripts_ran=True)
            settings = (config / "pagewing" / "registry.ini").read_text()
            check("Option=SaveEML" in settings and "DataDir=%s\n" % saved in settings,
                  "settings: " + settings)
            check("CompletePage=1\n" in settings and "RunPageScripts=1\n" in settings,
                  "settings: " + settings)
            check(record.read_text().split() == lines, "the mail handler ran again")

            # 3. The status line says to wait while a slow page downloads.
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            status = wait_until(lambda: find(dialog, "label", SAVE_LABEL), 10, "the save label")
            time.sleep(0.5)
            before = screen_bytes(status, env)
            button = find(dialog, "push button", "Create Email")
            # Pressed at once after typing, as a user in a hurry does: the
            # window has not drawn a frame since.
            type_into(find(dialog, "text"), base + "slow.html")
            # The answer to the press can wait for the download; the screen cannot.
            threading.Thread(target=lambda: button.do_action(0), daemon=True).start()
            time.sleep(SLOW_SECONDS / 2)
            check(screen_bytes(status, env) != before,
                  "the status line was not redrawn while the page downloaded")
            press(window(process.pid, "Save As"), "Cancel")
            finish(process)

            # 4. Enter in the page list presses Create Email, the default
            # button; the page in the edit box goes before the list.
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            type_into(wait_until(lambda: find(dialog, "text"), 10, "the edit box"),
                      base + "page.html")
            press_enter_in_list(dialog, env)
            press(window(process.pid, "Save As"), "Cancel")
            finish(process)
            check(sorted(saved.iterdir()) == [target], "Cancel saved: %r" % list(saved.iterdir()))

            # 5. A page picked from the list is fetched with its browser's
            # cookies (the scripts box of step 2 is still ticked).
            install_member_profile(home, base + "member.html")
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            select_list_row(dialog, base + "member.html")
            press(dialog, "Create Email")
            chooser = window(process.pid, "Save As")
            type_into(wait_until(lambda: find(chooser, "text"), 10, "the file name box"), "member")
            time.sleep(0.5)
            press(chooser, "Save")
            finish(process)
            member = email.message_from_bytes((saved / "member.eml").read_bytes(),
                                              policy=email.policy.default)
            kinds = [part.get_content_type() for part in member.iter_parts()]
            check(kinds == ["text/html", "image/png"], "the member message holds %r" % kinds)
            check("Only for members" in next(member.iter_parts()).get_content(),
                  "the member page's text is missing")

            # 6. A page that fails says why, and the window stays for another try.
            process = run_program(pagewing, env)
            dialog = window(process.pid, MAIN_TITLE, process)
            type_into(wait_until(lambda: find(dialog, "text"), 10, "the edit box"),
                      base + "missing.html")
            press(dialog, "Create Email")
            failed = "Failed. The server answered 404 File not found."
            wait_until(lambda: status_line(dialog, [failed]), 30, "the reason of the failure")
            check(find(dialog, "text").get_text(0, -1) == base + "missing.html",
                  "the typed address is gone")

            # 7. Cancel stops a download at once; nothing is opened or saved.
            store_settings(config, RunPageScripts=0)
            type_into(find(dialog, "text"), base + "stall.html")
            press(dialog, "Create Email")
            time.sleep(1)
            press(dialog, "Cancel")
            wait_until(lambda: status_line(dialog, ["Stopped."]), STALL_SECONDS / 2,
                       "Stopped. before the stalled download would have ended")
            time.sleep(STALL_SECONDS)
            check(find(application(process.pid), "dialog", "Save As") is None,
                  "a stopped conversion went on to the Save dialog")
            check(find(dialog, "push button", "Cancel") is None, "Cancel is still shown")

            # 8. Closing the window during a download ends the program, and
            # nothing is opened or saved.
            press(dialog, "Create Email")
            time.sleep(1)
            close_window("^Pagewing!", env)
            finish(process, STALL_SECONDS / 2)
            time.sleep(STALL_SECONDS)
            check(sorted(saved.iterdir()) == sorted([target, saved / "member.eml"]),
                  "something was saved: %r" % list(saved.iterdir()))

            # 9. Without any mail program the user is told where the message
            # is and may save it; the Save dialog proposes the page's title.
            store_settings(config, Option="LaunchOutlookExpress")
            (config / "mimeapps.list").write_text("[Default Applications]\n")
            (data / "applications" / "recorder.desktop").unlink()
            # The system's data without its programs: a text editor, as a
            # handler of text/plain, would otherwise be taken for the mail
            # program.
            no_programs = root / "no-programs"
            no_programs.mkdir()
            for entry in pathlib.Path("/usr/share").iterdir():
                if entry.name != "applications":
                    (no_programs / entry.name).symlink_to(entry)
            bare = dict(env, XDG_DATA_DIRS=str(no_programs))
            process = run_program(pagewing, bare)
            dialog = window(process.pid, MAIN_TITLE, process)
            type_into(wait_until(lambda: find(dialog, "text"), 10, "the edit box"),
                      base + "page.html")
            press(dialog, "Create Email")
            box = wait_until(lambda: find(application(process.pid), "alert") or
                             find(application(process.pid), "dialog", "Pagewing"), 30,
                             "the message box")
            named = [pathlib.Path(found) for words in texts(box)
                     for found in re.findall(re.escape(str(temp)) + r"/wpx\S*\.eml", words)]
            check(named and named[0].is_file(),
                  "the box does not say where the message is: %r" % list(texts(box)))
            press(box, "Save As…")
            chooser = window(process.pid, "Save As", process)
            name = wait_until(lambda: find(chooser, "text"), 10, "the file name box")
            check(name.get_text(0, -1) == "Loopback page.eml",
                  "the Save dialog proposes %r" % name.get_text(0, -1))
            press(chooser, "Save")
            finish(process)
            check((saved / "Loopback page.eml").is_file(), "nothing was saved under the title")
            check(record.read_text().split() == lines, "a mail program ran")
        finally:
            server.shutdown()
    print("desktop end-to-end test passed; screenshot: %s" % shot)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--inner":
        try:
            inner(sys.argv[2], sys.argv[3])
        except Failure as failure:
            print("FAILED:", failure)
            sys.exit(1)
        return
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    pagewing, artifacts = sys.argv[1], sys.argv[2]
    missing = [tool for tool in ("xvfb-run", "dbus-run-session", "import") if not shutil.which(tool)]
    if missing:
        print("SKIPPED: missing " + ", ".join(missing))
        sys.exit(77)
    os.makedirs(artifacts, exist_ok=True)
    # Without -noreset the server resets whenever its last client leaves (a
    # helper of the accessibility bus does), and a program that connects
    # during the reset finds no display.
    command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24 -noreset", "dbus-run-session", "--",
               "/usr/bin/python3", os.path.abspath(__file__), "--inner", pagewing, artifacts]
    result = subprocess.run(command, timeout=300)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
