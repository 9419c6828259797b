#!/usr/bin/env python3
"""What --render costs: pagewing on two pages served from 127.0.0.1 with
20 ms added to every response, converted as fetched and after their scripts
ran in headless Chromium (--render): the demo page, which has no script, a
page that builds its text and pictures with a script, fetches more text and
loads a picture only when scrolled to, and a page that also keeps a request
open for a minute, as long polling does (the --render timeout is 30 s).

Each way is timed several times, alternately; the medians are reported with
their ratio rendered / plain and the parts each message holds. Figures only:
nothing here fails on a timing.

  render_bench.py --pagewing PATH [--runs N] [--source-dir DIR]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from missing_bench import DELAY_MS, Server, clean_environment, median_ms

TIMEOUT = 300


def make_site(source_dir, root):
    shutil.copytree(os.path.join(source_dir, "examples", "demo"), root)
    scripted = os.path.join(source_dir, "tests", "data", "e2e", "scripted", "app.html")
    shutil.copy(scripted, os.path.join(root, "app.html"))
    dot = os.path.join(source_dir, "tests", "data", "e2e", "local", "dot.gif")
    for name in ("private.gif", "made.gif", "lazy.gif"):
        shutil.copy(dot, os.path.join(root, name))
    with open(os.path.join(root, "more.txt"), "w") as more:
        more.write("Fetched after the load")
    with open(scripted, "rb") as page:
        text = page.read()
    poll = b'<script>fetch("/_/r?delay_ms=60000&body=news");</script>'
    with open(os.path.join(root, "poll.html"), "wb") as page:
        page.write(text.replace(b"</body>", poll + b"</body>", 1))


def convert(pagewing, url, render, scratch):
    """Wall time in seconds and the Content-ID parts of the message."""
    output = os.path.join(scratch, "page.eml")
    command = [pagewing, "-q", "-o", output] + (["--render"] if render else []) + [url]
    start = time.monotonic()
    result = subprocess.run(command, env=clean_environment(), capture_output=True,
                            timeout=TIMEOUT)
    wall = time.monotonic() - start
    if result.returncode not in (0, 3):
        raise RuntimeError("pagewing failed with %d on %s: %s"
                           % (result.returncode, url, result.stderr.decode(errors="replace")))
    with open(output, "rb") as message:
        parts = message.read().count(b"\r\nContent-ID: ")
    os.remove(output)
    return wall, parts


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pagewing", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--source-dir", default=os.path.dirname(os.path.dirname(here)))
    options = parser.parse_args()
    if options.runs < 1:
        parser.error("--runs must be at least 1")

    scratch = tempfile.mkdtemp(prefix="pw-render-bench-")
    site = os.path.join(scratch, "site")
    make_site(options.source_dir, site)
    pages = (("demo page", "/index.html"), ("scripted page", "/app.html"),
             ("long polling", "/poll.html"))
    walls = {}
    parts = {}
    server = None
    try:
        server = Server(site, os.path.join(scratch, "requests.log"))
        for _ in range(options.runs):
            for name, path in pages:
                for render in (False, True):
                    wall, embedded = convert(options.pagewing, server.origin + path, render,
                                             scratch)
                    walls.setdefault((name, render), []).append(wall)
                    parts[(name, render)] = embedded
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    print("%d ms per response; %d runs each, medians" % (DELAY_MS, options.runs))
    for name, _ in pages:
        for render in (False, True):
            print("%-14s %-9s %7.0f ms  (%d parts embedded)"
                  % (name, "--render" if render else "plain",
                     median_ms(walls[(name, render)]), parts[(name, render)]))
        print("%-14s ratio rendered / plain: %.1f"
              % (name, median_ms(walls[(name, True)]) / median_ms(walls[(name, False)])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
