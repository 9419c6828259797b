#!/usr/bin/python3
"""The message shows what the page shows.

For the demo page, every fixture page under tests/data/render and every
page of tests/data/complete and tests/data/realpages, the page is served on
127.0.0.1 and photographed by headless Chromium; the page is converted by the
command-line program (mail-safe, marked as unsent, as the desktop program
does; the pages of tests/data/complete and tests/data/realpages with
--complete); the server is stopped, so that nothing can come from
the network any more; Chromium opens the .eml file, which it reads as MHTML
(the first HTML part is the document, "cid:" references are looked up by
Content-ID, frames by Content-Location), and photographs it again. The two
pictures must agree: a pixel differs when one of its colour channels is off
by more than TOLERANCE, and at most MAX_SHARE of all pixels may differ.

Both pictures are taken with scripting off, as a mail reader shows a
message, so that the page's noscript alternative is visible in both: Chromium
never runs scripts of an MHTML document, and the server delivers every HTML
file with a sandbox policy that allows no scripts. (Chromium's own switch for
turning scripts off also stops its screenshots.)

A control run damages one message on purpose (one picture's Content-ID is
renamed) and expects the comparison to see it, so the check cannot pass by
comparing two blank pictures.

On a failure the two screenshots, a picture of the differences and the
message are kept under the artifact directory.

Usage: render_check.py --pagewing PROGRAM --source-dir DIR --artifacts DIR
"""

import argparse
import email
import email.policy
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import traceback

from PIL import Image, ImageChops

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "http"))
from server_process import ServerProcess  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
WINDOW = (1024, 768)
# Identical bytes give identical pixels in one browser; the tolerance only
# absorbs rounding in image scaling, and the share allows a few glyphs (the
# demo's inline frame, which the mail-safe message leaves out, holds one
# short line of small text) but not a missing 40 x 40 picture.
TOLERANCE = 24
MAX_SHARE = 0.002
TIMEOUT = 90
# The picture is taken once the page's virtual clock has run this long, and
# the clock stands still while anything is still being fetched. Without it,
# on a busy machine, a served page was sometimes photographed while its web
# fonts were still on the way (their text invisible, the lines below it
# moved), which the message, read from one file, never is.
SETTLE_MS = 5000

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--window-size=%d,%d" % WINDOW, "--hide-scrollbars", "--force-device-scale-factor=1",
    "--virtual-time-budget=%d" % SETTLE_MS,
]
NO_SCRIPTS = "Content-Security-Policy:sandbox allow-same-origin"

# (name, fixture tree relative to the source directory, page path in it,
# options of the command line). The pages of tests/data/complete are
# converted in the complete mode. Two of their references are shaped for this
# check (see the comments in backgrounds.html and lazy.html); test_complete.py
# checks both in the message itself:
# - an address with a fragment becomes "cid:ID#home", as it must, but
#   Chromium's MHTML reader looks such a reference up whole, finds no part and
#   shows nothing; those lines stand below the first screen, which is all that
#   is photographed, and a line above them shows the same picture without one;
# - a video poster is embedded and shown from the message, but in a document
#   without scripts (the served page here, and every message) Chromium forces
#   the video's controls on, whose shade hid the small poster in both
#   pictures; the page's style hides them.
COMPLETE_PAGES = ["imports", "backgrounds", "fonts", "inline-styles", "responsive", "lazy"]
# The pages of tests/data/realpages, in the complete mode too; their query-
# dependent answers come from the tree's routes.json, and cdn.html, served
# over https by test_real_pages.py, is served over http here like the rest.
REAL_PAGES = ["wiki", "news", "lazy", "preload", "cdn", "toc", "shorthand"]
PAGES = [
    ("demo", "examples/demo", "index.html", ()),
    ("images", "tests/data/render", "images.html", ()),
    ("attributes", "tests/data/render", "attributes.html", ()),
    ("styles", "tests/data/render", "styles.html", ()),
    ("linked", "tests/data/render", "linked.html", ()),
    ("frames", "tests/data/render", "frames.html", ()),
    ("utf8", "tests/data/render", "utf8.html", ()),
    ("cp1252", "tests/data/render", "cp1252.html", ()),
    ("base", "tests/data/render", "base.html", ()),
    ("relative", "tests/data/render", "sub/relative.html", ()),
] + [("complete-" + name, "tests/data/complete", name + ".html", ("--complete",))
     for name in COMPLETE_PAGES] + [
    ("real-" + name, "tests/data/realpages", name + ".html", ("--complete",))
    for name in REAL_PAGES]

ARGS = None


class CheckFailed(Exception):
    pass


def clean_environment():
    return {key: value for key, value in os.environ.items()
            if key.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}


class Server(ServerProcess):
    """The test server on a free port, serving root with routes."""

    def __init__(self, root, routes):
        try:
            super().__init__("--root", root, "--routes", routes)
        except RuntimeError as failure:
            raise CheckFailed(str(failure)) from None
        self.host = "127.0.0.1:%d" % self.port


def copy_site(source, target, host):
    """Copies a fixture tree, writing the server's host where "@HOST@" stands."""
    for folder, _, files in os.walk(source):
        relative = os.path.relpath(folder, source)
        os.makedirs(os.path.join(target, relative), exist_ok=True)
        for name in files:
            with open(os.path.join(folder, name), "rb") as original:
                data = original.read()
            if name.endswith((".html", ".htm", ".css")):
                data = data.replace(b"@HOST@", host.encode())
            with open(os.path.join(target, relative, name), "wb") as copy:
                copy.write(data)


def write_routes(source, routes):
    """Every HTML file of the tree is served with scripts forbidden, beside
    the tree's own routes.json, if it has one."""
    table = {}
    if os.path.isfile(os.path.join(source, "routes.json")):
        with open(os.path.join(source, "routes.json"), encoding="utf-8") as own:
            table = json.load(own)
    for folder, _, files in os.walk(source):
        for name in files:
            if name.endswith((".html", ".htm")):
                relative = os.path.relpath(os.path.join(folder, name), source)
                table["/" + relative.replace(os.sep, "/")] = {"file": relative,
                                                              "header": NO_SCRIPTS}
    with open(routes, "w") as target:
        json.dump(table, target)


def chromium_errors(errors):
    lines = [line for line in errors.decode(errors="replace").splitlines()
             if "dbus" not in line and line.strip()]
    return "\n".join(lines[-10:])


def screenshot(url, picture, scratch):
    """Photographs url with a new, empty profile; returns the picture."""
    profile = tempfile.mkdtemp(prefix="profile-", dir=scratch)
    command = [CHROMIUM, *CHROMIUM_FLAGS, "--user-data-dir=" + profile,
               "--screenshot=" + picture, url]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True, env=clean_environment())
    try:
        _, errors = process.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise CheckFailed("Chromium did not finish with " + url)
    if process.returncode != 0 or not os.path.isfile(picture):
        raise CheckFailed("Chromium made no picture of %s: %s" % (url, chromium_errors(errors)))
    with Image.open(picture) as image:
        return image.convert("RGB")


def convert(url, message_path, options=()):
    result = subprocess.run([ARGS.pagewing, "--quiet", *options, "-o", message_path, url],
                            capture_output=True, timeout=TIMEOUT, env=clean_environment())
    # 3: written, without resources that the expectations show missing.
    if result.returncode not in (0, 3):
        raise CheckFailed("pagewing failed with %s: %s"
                          % (url, result.stderr.decode(errors="replace")))
    with open(message_path, "rb") as source:
        return source.read()


def check_references(data):
    """Every cid: reference of every HTML part must find its part; a fragment
    behind the content-id names something inside that part."""
    message = email.message_from_bytes(data, policy=email.policy.compat32)
    parts = message.get_payload()
    ids = {part["Content-ID"].strip("<>") for part in parts if part["Content-ID"]}
    for part in parts:
        if part.get_content_type() != "text/html":
            continue
        for reference in re.findall(rb"cid:([^\"' >)#]+)", part.get_payload(decode=True)):
            if reference.decode() not in ids:
                raise CheckFailed("cid:%s finds no part" % reference.decode())
    return len(parts)


def differences(first, second):
    """The share of differing pixels and a picture that marks them."""
    if first.size != second.size:
        return 1.0, None
    delta = ImageChops.difference(first, second)
    channels = delta.split()
    worst = ImageChops.lighter(ImageChops.lighter(channels[0], channels[1]), channels[2])
    mask = worst.point(lambda value: 255 if value > TOLERANCE else 0)
    count = mask.histogram()[255]
    marked = Image.blend(first, Image.new("RGB", first.size, (255, 255, 255)), 0.7)
    marked.paste((255, 0, 0), mask=mask)
    return count / (first.size[0] * first.size[1]), marked


def artifact_folder(name):
    return os.path.join(ARGS.artifacts, name)


def keep_artifacts(name, pictures, message, marked=None):
    folder = artifact_folder(name)
    os.makedirs(folder, exist_ok=True)
    for file_name, image in pictures.items():
        image.save(os.path.join(folder, file_name))
    if marked is not None:
        marked.save(os.path.join(folder, "differences.png"))
    shutil.copyfile(message, os.path.join(folder, "message.eml"))
    return folder


def photograph_page(name, tree, page, scratch, options=()):
    """Serves, photographs and converts one page; returns the picture, the
    message's path and its bytes."""
    site = os.path.join(scratch, "site")
    os.makedirs(site)
    source = os.path.join(ARGS.source_dir, tree)
    routes = os.path.join(scratch, "routes.json")
    write_routes(source, routes)
    # Files are read when asked for, so they can follow once the port,
    # which some pages name, is known.
    server = Server(site, routes)
    try:
        copy_site(source, site, server.host)
        url = "http://%s/%s" % (server.host, page)
        served = screenshot(url, os.path.join(scratch, "page.png"), scratch)
        message = os.path.join(scratch, name + ".eml")
        data = convert(url, message, options)
    finally:
        server.stop()
    return served, message, data


def check_page(name, tree, page, options):
    shutil.rmtree(artifact_folder(name), ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="pw-render-") as scratch:
        served, message, data = photograph_page(name, tree, page, scratch, options)
        try:
            part_count = check_references(data)
        except CheckFailed as failure:
            folder = keep_artifacts(name, {"page.png": served}, message)
            raise CheckFailed("%s: %s; see %s" % (name, failure, folder))
        shown = screenshot("file://" + message, os.path.join(scratch, "message.png"), scratch)
        share, marked = differences(served, shown)
        print("%-22s %2d parts, %.4f%% of the pixels differ" % (name, part_count, 100 * share))
        if share > MAX_SHARE:
            folder = keep_artifacts(name, {"page.png": served, "message.png": shown},
                                    message, marked)
            raise CheckFailed("%s: %.4f%% of the pixels differ (at most %.4f%%); see %s"
                              % (name, 100 * share, 100 * MAX_SHARE, folder))


def check_control():
    """A message that lost one picture must not pass."""
    name = "control"
    shutil.rmtree(artifact_folder(name), ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="pw-render-") as scratch:
        served, message, data = photograph_page(name, "tests/data/render", "images.html", scratch)
        parts = data.split(b"\r\n--")
        damaged = None
        for index, part in enumerate(parts):
            if b"name=\"vt2-badge.png\"" in part:
                parts[index] = part.replace(b"Content-ID: <", b"Content-ID: <lost-")
                damaged = b"\r\n--".join(parts)
        if damaged is None:
            raise CheckFailed("control: the message has no part named vt2-badge.png")
        with open(message, "wb") as target:
            target.write(damaged)
        shown = screenshot("file://" + message, os.path.join(scratch, "message.png"), scratch)
        share, marked = differences(served, shown)
        print("%-22s one picture lost, %.4f%% of the pixels differ" % (name, 100 * share))
        if share <= MAX_SHARE:
            folder = keep_artifacts(name, {"page.png": served, "message.png": shown},
                                    message, marked)
            raise CheckFailed("control: a lost picture went unnoticed; see " + folder)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("pages", nargs="*", help="names of the pages to check (default: all)")
    ARGS = parser.parse_args()
    if not os.access(CHROMIUM, os.X_OK):
        sys.exit("render check: %s is missing (scripts/install-deps installs it)" % CHROMIUM)

    print("a pixel differs when a channel is off by more than %d; at most %.2f%% may differ"
          % (TOLERANCE, 100 * MAX_SHARE))
    failures = []
    selected = [page for page in PAGES if not ARGS.pages or page[0] in ARGS.pages]
    for name, tree, page, options in selected:
        try:
            check_page(name, tree, page, options)
        except CheckFailed as failure:
            failures.append(str(failure))
        except Exception:  # noqa: BLE001 - one broken page must not hide the others
            failures.append("%s: %s" % (name, traceback.format_exc()))
    if not ARGS.pages or "control" in ARGS.pages:
        try:
            check_control()
        except CheckFailed as failure:
            failures.append(str(failure))
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        sys.exit(1)
    print("every message renders like its page")


if __name__ == "__main__":
    main()
