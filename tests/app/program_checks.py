#!/usr/bin/python3
"""Checks of the built program that need no display, and of its installation.

Usage: program_checks.py PAGEWING BUILD_DIR
"""

import json
import os
import pathlib
import shutil
import struct
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


def png_size(path):
    data = path.read_bytes()[:24]
    check(data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", "%s is no PNG" % path)
    return struct.unpack(">II", data[16:24])


def check_desktop_files(root, version):
    """The manual, the completions, the icons and the AppStream file."""
    share = root / "share"
    for path, mark in (("man/man1/pagewing.1", "\n.TH PAGEWING 1 "),
                       ("bash-completion/completions/pagewing", "complete -F _pagewing pagewing"),
                       ("zsh/vendor-completions/_pagewing", "#compdef pagewing\n")):
        check((share / path).is_file() and mark in (share / path).read_text(),
              "%s is missing or not what it should be" % path)
    for size in (16, 32, 48, 64, 128, 256):
        icon = share / "icons" / "hicolor" / ("%dx%d" % (size, size)) / "apps" / "pagewing.png"
        check(icon.is_file() and png_size(icon) == (size, size), "no %d pixel icon" % size)
    metainfo = share / "metainfo" / "org.pagewing.Pagewing.metainfo.xml"
    component = xml.etree.ElementTree.parse(metainfo).getroot()
    releases = [release.get("version") for release in component.iter("release")]
    check(releases[:1] == [version], "AppStream releases %r, the program is %s" % (releases, version))
    # The whole tree, as a software centre reads it: the file, and the
    # desktop entry and icon it names.
    if shutil.which("appstreamcli"):
        result = run(["appstreamcli", "validate-tree", "--no-net", str(root.parent)])
        check(result.returncode == 0, "appstreamcli: " + result.stdout + result.stderr)


def check_install(build_dir, version):
    with tempfile.TemporaryDirectory(prefix="pw-install-") as scratch:
        # A prefix called usr, so that the scratch folder is a system's root.
        prefix = os.path.join(scratch, "usr")
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
        check_desktop_files(root, version)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    check_entry_points(sys.argv[1])
    version = run([sys.argv[1], "--version"]).stdout.split()[-1]
    check_install(sys.argv[2], version)
    print("program checks passed")


if __name__ == "__main__":
    main()
