#!/usr/bin/env python3
"""What missing pictures cost: pagewing, with its default connections, on a
page of 400 small pictures served from 127.0.0.1 with 20 ms added to every
response, once with all of them present and once with every second one
missing (404).

Each kind is timed several times, alternately; the medians are reported,
with their ratio half-missing / all-present (the target is at most 1.2) and
the requests the server saw per picture: a missing picture is asked for
once, as a present one is. Figures only: nothing here fails on a timing.

  missing_bench.py --pagewing PATH [--runs N] [--source-dir DIR]
"""

import argparse
import json
import os
import random
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
PICTURES = 400
TARGET_RATIO = 1.2
TIMEOUT = 300
# pagewing's exit statuses for a written message: complete, or with some
# resources left out.
WRITTEN = (0, 3)


def clean_environment():
    """Loopback only: no proxy from the environment applies."""
    return {key: value for key, value in os.environ.items()
            if key.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}


def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


# A 1x1 GIF; the filler goes into a comment extension so that it stays valid.
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


def page(title, sources):
    lines = ["<html><head><title>%s</title></head><body>" % title]
    lines += ['<img src="%s" width="8" height="8">' % source for source in sources]
    lines.append("</body></html>")
    return "\n".join(lines).encode()


def generate_site(root):
    """Two pages over the same pictures: one names them all, the other names
    every second one under a path that does not exist. Returns the paths of
    the missing ones."""
    rng = random.Random(12)
    for number in range(PICTURES):
        write(root, "img/p%d.gif" % number, image(rng, rng.randint(500, 3000)))
    write(root, "all.html", page("All present", ["img/p%d.gif" % n for n in range(PICTURES)]))
    half = ["img/p%d.gif" % n if n % 2 == 0 else "gone/p%d.gif" % n for n in range(PICTURES)]
    write(root, "half.html", page("Half missing", half))
    return {"/" + source for source in half if source.startswith("gone/")}


class Server(ServerProcess):
    """The tests' scripted server (threaded, HTTP/1.1 with keep-alive), with
    a log of every request."""

    def __init__(self, root, log):
        self.log = log
        super().__init__("--root", root, "--delay-ms", str(DELAY_MS), "--log", log)
        self.origin = "http://127.0.0.1:%d" % self.port
        self.seen = 0

    def new_requests(self):
        """The targets asked for since the last call. Each request is logged
        before it is answered, so a finished run's requests are all there."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as log:
            lines = log.read().splitlines()
        fresh, self.seen = lines[self.seen:], len(lines)
        return [json.loads(line)["target"] for line in fresh if line]


def run_pagewing(pagewing, url, scratch):
    """Wall time in seconds and the Content-ID parts of the message."""
    output = os.path.join(scratch, "page.eml")
    errors = os.path.join(scratch, "stderr.txt")
    command = [pagewing, "-q", "-o", output, url]
    with open(errors, "wb") as error_file:
        start = time.monotonic()
        process = subprocess.Popen(command, env=clean_environment(),
                                   stdout=subprocess.DEVNULL, stderr=error_file)
        try:
            status = process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise RuntimeError("pagewing took more than %d s" % TIMEOUT)
        wall = time.monotonic() - start
    if status not in WRITTEN:
        with open(errors, encoding="utf-8", errors="replace") as error_file:
            detail = error_file.read().strip()
        raise RuntimeError("pagewing failed with %d on %s: %s" % (status, url, detail))
    with open(output, "rb") as message:
        parts = message.read().count(b"\r\nContent-ID: ")
    os.remove(output)
    return wall, parts


def median_ms(values):
    return statistics.median(values) * 1000


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--source-dir", default=os.path.dirname(os.path.dirname(here)))
    options = parser.parse_args()
    if options.runs < 1:
        parser.error("--runs must be at least 1")

    scratch = tempfile.mkdtemp(prefix="pw-missing-bench-")
    site = os.path.join(scratch, "site")
    missing = generate_site(site)
    kinds = (("all present", "/all.html"), ("half missing", "/half.html"))
    walls = {name: [] for name, _ in kinds}
    requests = {name: [] for name, _ in kinds}
    missing_asks = []
    parts = {}
    server = None
    try:
        server = Server(site, os.path.join(scratch, "requests.log"))
        # Alternate the kinds so that a drift in the machine's load touches both.
        for _ in range(options.runs):
            for name, path in kinds:
                server.new_requests()
                wall, embedded = run_pagewing(options.pagewing, server.origin + path, scratch)
                targets = server.new_requests()
                walls[name].append(wall)
                parts[name] = embedded
                # The page itself is not a picture.
                requests[name].append(sum(1 for target in targets if target != path))
                if path == "/half.html":
                    missing_asks.append(sum(1 for target in targets if target in missing))
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    print("page: %d pictures of 0.5 to 3 KB; %d ms per response; default connections; "
          "%d runs each, medians" % (PICTURES, DELAY_MS, options.runs))
    for name, _ in kinds:
        print("%-14s %8.0f ms  (%d parts embedded; runs: %s)"
              % (name, median_ms(walls[name]), parts[name],
                 ", ".join("%.0f" % (wall * 1000) for wall in walls[name])))
    ratio = median_ms(walls["half missing"]) / median_ms(walls["all present"])
    print("ratio half missing / all present: %.2f" % ratio)
    print("target ratio <= %.1f: %s" % (TARGET_RATIO, "met" if ratio <= TARGET_RATIO else "NOT met"))
    for name, _ in kinds:
        counts = requests[name]
        print("requests for pictures, %-12s: %s per run, %.2f per picture"
              % (name, "/".join(map(str, counts)), statistics.median(counts) / PICTURES))
    print("requests per missing picture: %.2f (%d missing; runs: %s)"
          % (statistics.median(missing_asks) / len(missing), len(missing),
             "/".join(map(str, missing_asks))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
