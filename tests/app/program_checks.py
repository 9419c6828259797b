#!/usr/bin/python3
"""Checks of the built program that need no display, and of its installation.

Usage: program_checks.py PAGEWING BUILD_DIR
"""

import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree

BOOKMARKLET = "javascript:location.href='pagewing:'+encodeURIComponent(location.href)\n"


def check(condition, message):
    if not condition:
        print("FAILED:", message)
        sys.exit(1)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=60, **kwargs)


def check_entry_points(pagewing):
    result = run([pagewing, "--bookmarklet"])
    check(result.returncode == 0 and result.stdout == BOOKMARKLET,
          "--bookmarklet printed %r (status %d)" % (result.stdout, result.returncode))

    # Without a display the dialog cannot start; the user is told so.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["ASAN_OPTIONS"] = "detect_leaks=0"
    for arguments in ([], ["pagewing:https%3A%2F%2Fexample.com%2F"]):
        result = run([pagewing] + arguments, env=env)
        check(result.returncode == 1 and "cannot open the display" in result.stderr,
              "%r without a display: status %d, %r" % (arguments, result.returncode, result.stderr))


def check_install(build_dir):
    with tempfile.TemporaryDirectory(prefix="pw-install-") as prefix:
        result = run(["cmake", "--install", build_dir, "--prefix", prefix])
        check(result.returncode == 0, "cmake --install failed: " + result.stdout + result.stderr)
        root = pathlib.Path(prefix)
        program = root / "bin" / "pagewing"
        check(program.is_file() and os.access(program, os.X_OK), "no program in " + prefix)
        entry = root / "share" / "applications" / "pagewing.desktop"
        check(entry.is_file(), "no desktop entry")
        check("MimeType=x-scheme-handler/pagewing;" in entry.read_text(), "entry lacks the scheme")
        if shutil.which("desktop-file-validate"):
            result = run(["desktop-file-validate", str(entry)])
            check(result.returncode == 0, "desktop entry: " + result.stdout + result.stderr)
        icon = root / "share" / "icons" / "hicolor" / "scalable" / "apps" / "pagewing.svg"
        check(icon.is_file(), "no icon")
        svg = xml.etree.ElementTree.parse(icon).getroot()
        check(svg.tag.endswith("svg"), "the icon is not an SVG picture")
        result = run([str(program), "--bookmarklet"])
        check(result.stdout == BOOKMARKLET, "the installed program does not run")
        # The browsers find the installed program as their extension's host.
        for manifest, allowed in (("lib/mozilla/native-messaging-hosts", "allowed_extensions"),
                                  ("etc/chromium/native-messaging-hosts", "allowed_origins")):
            path = root / manifest / "org.pagewing.host.json"
            check(path.is_file(), "no host manifest " + manifest)
            text = json.loads(path.read_text())
            check(text["path"] == str(program) and text["name"] == "org.pagewing.host" and
                  len(text[allowed]) == 1, "host manifest %s: %r" % (manifest, text))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    check_entry_points(sys.argv[1])
    check_install(sys.argv[2])
    print("program checks passed")


if __name__ == "__main__":
    main()
