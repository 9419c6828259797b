#!/usr/bin/env python3
"""How long a whole page takes to arrive: pagewing with one connection and
with its default, wget -p, and headless Chromium's own MHTML snapshot, on a
generated site served from 127.0.0.1 with 20 ms added to every response.

The site: a page with 200 images of 5 to 50 KB, 3 linked style sheets with
20 background images between them, and 2 frames (iframes) with 20 images
each. Each tool is timed several times; the median is reported, with the
floor: for each level of the site's dependencies (the page; its style
sheets and frames; their images) the requests of that level divided by 6,
the per-host limit, rounded up, times the delay, summed over the levels.

  fetch_bench.py --pagewing PATH [--runs N] [--source-dir DIR]
"""

import argparse
import json
import math
import os
import random
import re
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "http"))
from server_process import ServerProcess  # noqa: E402

DELAY_MS = 20
PER_HOST = 6
PAGE_IMAGES = 200
SHEETS = 3
BACKGROUNDS = 20
FRAMES = 2
FRAME_IMAGES = 20
TIMEOUT = 300


def clean_environment():
    """Loopback only: no proxy from the environment applies to any tool."""
    return {key: value for key, value in os.environ.items()
            if key.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}


def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


# A 1x1 GIF; the filler goes into a comment extension so that the image
# stays valid (a browser keeps only images it could decode in a snapshot).
GIF_HEAD = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
GIF_TAIL = b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"


def image(rng, size):
    """A valid GIF of about size bytes."""
    comment = bytearray(b"!\xfe")
    left = max(size - len(GIF_HEAD) - len(GIF_TAIL) - 3, 0)
    while left > 0:
        piece = min(left, 255)
        comment.append(piece)
        comment += rng.randbytes(piece)
        left -= piece + 1
    comment.append(0)
    return GIF_HEAD + bytes(comment) + GIF_TAIL


def generate_site(root):
    rng = random.Random(10)
    page = ["<html><head><title>Bench page</title>"]
    backgrounds = [[] for _ in range(SHEETS)]
    for number in range(BACKGROUNDS):
        backgrounds[number % SHEETS].append(number)
    for sheet, numbers in enumerate(backgrounds):
        rules = "".join(".bg%d { background-image: url(../bg/b%d.gif); width: 8px; height: 8px }\n"
                        % (number, number) for number in numbers)
        write(root, "css/s%d.css" % sheet, rules.encode())
        page.append('<link rel="stylesheet" href="css/s%d.css">' % sheet)
    for number in range(BACKGROUNDS):
        write(root, "bg/b%d.gif" % number, image(rng, rng.randint(5000, 50000)))
    page.append("</head><body>")
    for number in range(BACKGROUNDS):
        page.append('<div class="bg%d"></div>' % number)
    for number in range(PAGE_IMAGES):
        write(root, "img/p%d.gif" % number, image(rng, rng.randint(5000, 50000)))
        page.append('<img src="img/p%d.gif" width="8" height="8">' % number)
    for frame in range(FRAMES):
        body = ["<html><head><title>Frame %d</title></head><body>" % frame]
        for number in range(FRAME_IMAGES):
            write(root, "f%d/i%d.gif" % (frame, number), image(rng, rng.randint(5000, 50000)))
            body.append('<img src="f%d/i%d.gif" width="8" height="8">' % (frame, number))
        body.append("</body></html>")
        write(root, "frame%d.html" % frame, "\n".join(body).encode())
        page.append('<iframe src="frame%d.html" width="100" height="100"></iframe>' % frame)
    page.append("</body></html>")
    write(root, "index.html", "\n".join(page).encode())
    write(root, "tiny.html", b"<html><head><title>t</title></head><body>t</body></html>")
    # Requests per level of the site's dependencies.
    return [1, SHEETS + FRAMES, PAGE_IMAGES + BACKGROUNDS + FRAMES * FRAME_IMAGES]


def floor_ms(levels):
    return sum(math.ceil(requests / PER_HOST) * DELAY_MS for requests in levels)


class Server(ServerProcess):
    """The tests' scripted server (threaded, HTTP/1.1 with keep-alive)."""

    def __init__(self, root):
        super().__init__("--root", root, "--delay-ms", str(DELAY_MS))
        self.origin = "http://127.0.0.1:%d" % self.port


def run_timed(command, **options):
    """Wall time and the child's own CPU time (user + system), in seconds."""
    start = time.monotonic()
    process = subprocess.Popen(command, env=clean_environment(), **options)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError("%s failed with %d" % (command[0], process.returncode))
    return wall, usage.ru_utime + usage.ru_stime


def time_pagewing(pagewing, url, connections, scratch):
    output = os.path.join(scratch, "page.eml")
    command = [pagewing, "--keep-scripts", "-q", "-o", output, url]
    if connections is not None:
        command[1:1] = ["--connections", str(connections)]
    wall, cpu = run_timed(command, stdout=subprocess.DEVNULL)
    with open(output, "rb") as message:
        parts = message.read().count(b"\r\nContent-ID: ")
    return wall, cpu, parts


def time_wget(url, scratch):
    target = tempfile.mkdtemp(dir=scratch)
    wall, cpu = run_timed(["wget", "-p", "-q", "-e", "robots=off", "--no-proxy", "-P", target, url])
    files = sum(len(names) for _, _, names in os.walk(target))
    shutil.rmtree(target, ignore_errors=True)
    return wall, cpu, files


class DevTools:
    """The DevTools protocol over --remote-debugging-pipe: JSON messages that
    end in a NUL byte, read by the browser on fd 3 and written on fd 4."""

    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        return self.next_id

    def receive(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.from_browser], [], [], max(left, 0))
            if not ready:
                raise RuntimeError("the browser did not answer in time")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(message)

    def call(self, method, params=None, session=None, deadline=None):
        wanted = self.send(method, params, session)
        while True:
            message = self.receive(deadline)
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method, session, deadline):
        while True:
            for event in self.events:
                if event.get("method") == method and event.get("sessionId") == session:
                    self.events.remove(event)
                    return event
            self.events.append(self.receive(deadline))


def time_chromium(url, scratch):
    profile = tempfile.mkdtemp(dir=scratch)
    to_browser_read, to_browser = os.pipe()
    from_browser, from_browser_write = os.pipe()

    def on_fds_3_and_4():
        reading, writing = os.dup(to_browser_read), os.dup(from_browser_write)
        os.dup2(reading, 3)
        os.dup2(writing, 4)

    command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + profile, "--remote-debugging-pipe",
               "about:blank"]
    start = time.monotonic()
    browser = subprocess.Popen(command, env=clean_environment(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               preexec_fn=on_fds_3_and_4, pass_fds=(3, 4))
    os.close(to_browser_read)
    os.close(from_browser_write)
    try:
        deadline = start + TIMEOUT
        tools = DevTools(to_browser, from_browser)
        target = tools.call("Target.createTarget", {"url": "about:blank"}, deadline=deadline)
        session = tools.call("Target.attachToTarget",
                             {"targetId": target["targetId"], "flatten": True},
                             deadline=deadline)["sessionId"]
        tools.call("Page.enable", session=session, deadline=deadline)
        tools.call("Page.navigate", {"url": url}, session=session, deadline=deadline)
        tools.wait_for("Page.loadEventFired", session, deadline)
        snapshot = tools.call("Page.captureSnapshot", {"format": "mhtml"}, session=session,
                              deadline=deadline)["data"]
        wall = time.monotonic() - start
        try:
            tools.send("Browser.close")
        except OSError:
            pass
    finally:
        try:
            browser.wait(timeout=20)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()
        os.close(to_browser)
        os.close(from_browser)
        shutil.rmtree(profile, ignore_errors=True)
    resources = len(re.findall(r"\nContent-Location: ", snapshot)) - 1
    return wall, resources


def median_ms(values):
    return statistics.median(values) * 1000


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--source-dir", default=os.path.dirname(os.path.dirname(here)))
    parser.add_argument("--skip-chromium", action="store_true")
    options = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="pw-fetch-bench-")
    site = os.path.join(scratch, "site")
    levels = generate_site(site)
    server = Server(site)
    url = server.origin + "/index.html"
    # The style sheets are put into pagewing's page; the other tools keep
    # them as resources of their own.
    expected = {"pagewing --connections 1": sum(levels[1:]) - SHEETS,
                "pagewing": sum(levels[1:]) - SHEETS,
                "wget -p": sum(levels[1:]), "chromium snapshot": sum(levels[1:])}
    try:
        results = {}
        cpu = {}
        counts = {}
        for name, connections in (("pagewing --connections 1", 1), ("pagewing", None)):
            walls, cpus = [], []
            for _ in range(options.runs):
                wall, used, parts = time_pagewing(options.pagewing, url, connections, scratch)
                walls.append(wall)
                cpus.append(used)
                counts[name] = parts
            results[name] = walls
            cpu[name] = cpus
        walls = []
        for _ in range(options.runs):
            wall, _, files = time_wget(url, scratch)
            walls.append(wall)
            counts["wget -p"] = files - 1
        results["wget -p"] = walls
        if not options.skip_chromium:
            walls = []
            for _ in range(options.runs):
                wall, resources = time_chromium(url, scratch)
                walls.append(wall)
                counts["chromium snapshot"] = resources
            results["chromium snapshot"] = walls
        startups = []
        for _ in range(options.runs):
            wall, _ = run_timed([options.pagewing, "-q", "-o", os.path.join(scratch, "t.eml"),
                                 os.path.join(site, "tiny.html")], stdout=subprocess.DEVNULL)
            startups.append(wall)
    finally:
        server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    floor = floor_ms(levels)
    startup = median_ms(startups)
    own_cpu = median_ms(cpu["pagewing"])
    print("site: 1 page, %d style sheets, %d frames, %d images; %d ms per response; "
          "%d runs each, medians" % (SHEETS, FRAMES, PAGE_IMAGES + BACKGROUNDS +
                                     FRAMES * FRAME_IMAGES, DELAY_MS, options.runs))
    print("%-28s %8.0f ms  (requests per level %s, %d per host)"
          % ("floor", floor, "/".join(map(str, levels)), PER_HOST))
    for name, walls in results.items():
        print("%-28s %8.0f ms  (%d of %d resources; runs: %s)"
              % (name, median_ms(walls), counts[name], expected[name],
                 ", ".join("%.0f" % (wall * 1000) for wall in walls)))
    print("%-28s %8.0f ms" % ("pagewing start-up", startup))
    print("%-28s %8.0f ms" % ("pagewing CPU (default)", own_cpu))
    default = median_ms(results["pagewing"])
    print("ratio pagewing --connections 1 / default: %.2f"
          % (median_ms(results["pagewing --connections 1"]) / default))
    print("ratio wget -p / default: %.2f" % (median_ms(results["wget -p"]) / default))
    print("ratio default / floor: %.2f" % (default / floor))
    bound = 1.5 * floor + startup + own_cpu
    print("goal default <= 1.5 x floor + start-up + CPU (%.0f ms): %s, ratio %.2f"
          % (bound, "met" if default <= bound else "NOT met", default / bound))
    if "chromium snapshot" in results:
        chromium = median_ms(results["chromium snapshot"])
        print("goal default <= half of Chromium (%.0f ms): %s, ratio default / chromium %.2f"
              % (chromium / 2, "met" if default <= chromium / 2 else "NOT met",
                 default / chromium))
    return 0


if __name__ == "__main__":
    sys.exit(main())
