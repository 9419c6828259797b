#!/usr/bin/python3
"""The Debian package that `make deb` makes, made here by CPack in a scratch
folder from the build tree: it holds what `cmake --install` installs, its
dependencies are computed, its program runs from the unpacked tree, and
lintian finds no error in it (when lintian is installed). Exits 77 where
dpkg-deb or cpack is missing.

Usage: debian_package_check.py BUILD_DIR SCRATCH_DIR
"""

import email
import email.policy
import json
import pathlib
import re
import shutil
import subprocess
import sys

PAGE = """<!DOCTYPE html>
<html><head><title>Packaged</title><link rel="stylesheet" href="style.css"></head>
<body><h1>From the package</h1><img src="picture.svg" alt=""></body></html>
"""
PICTURE = '<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"/>\n'
# Debian wants these in every package; an installation does without them.
DEBIAN_ONLY = {"usr/share/doc/pagewing/copyright", "usr/share/doc/pagewing/changelog.gz"}


def check(condition, message):
    if not condition:
        print("FAILED:", message)
        sys.exit(1)


def run(command, timeout=120, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, **kwargs)
    check(result.returncode == 0, "%s: status %d\n%s%s" % (" ".join(map(str, command)),
                                                          result.returncode, result.stdout,
                                                          result.stderr))
    return result.stdout


def files_under(root):
    return {str(path.relative_to(root)) for path in root.rglob("*") if not path.is_dir()}


def build_package(build, scratch):
    out = scratch / "cpack"
    run(["cpack", "-G", "DEB", "--config", build / "CPackConfig.cmake", "-B", out],
        timeout=600, cwd=scratch)
    version = run([build / "pagewing", "--version"]).split()[-1]
    arch = run(["dpkg", "--print-architecture"]).strip()
    package = out / ("pagewing_%s_%s.deb" % (version, arch))
    check(package.is_file(), "no %s in %s" % (package.name, sorted(p.name for p in out.iterdir())))
    return package, version


def check_control(package, version):
    fields = {name: run(["dpkg-deb", "-f", package, name]).strip()
              for name in ("Package", "Version", "Depends", "Section", "Priority", "Maintainer")}
    check(fields["Package"] == "pagewing" and fields["Version"] == version, repr(fields))
    check(all(fields.values()), "empty control fields: %r" % fields)
    depends = fields["Depends"]
    for library in ("libcurl", "libgtk-3", "libc6"):
        check(re.search(r"(^|, )%s" % re.escape(library), depends),
              "Depends lacks %s: %s" % (library, depends))
    print("Depends:", depends)


def check_contents(package, build, scratch):
    root = scratch / "root"
    run(["dpkg", "-x", package, root])
    packaged = files_under(root)

    # The same install rules with the package's prefix; Debian compresses manuals.
    installed_root = scratch / "installed"
    run(["cmake", "--install", build, "--prefix", "/usr"],
        env={"DESTDIR": str(installed_root), "PATH": "/usr/bin:/bin"})
    installed = {re.sub(r"(/man/man\d/[^/]+)$", r"\1.gz", path)
                 for path in files_under(installed_root)}
    check(installed <= packaged, "installed but not packaged: %s" % sorted(installed - packaged))
    check(packaged - installed == DEBIAN_ONLY,
          "packaged beyond the installation: %s" % sorted(packaged - installed))

    # Files under /etc are the administrator's: dpkg keeps their changes.
    control = scratch / "control"
    run(["dpkg-deb", "-e", package, control])
    conffiles = set((control / "conffiles").read_text().split()) if (control / "conffiles").exists() else set()
    etc = {"/" + path for path in packaged if path.startswith("etc/")}
    check(etc and etc == conffiles, "files in /etc %s, conffiles %s" % (etc, conffiles))

    # The browsers start the program where the package puts it.
    for manifest in ("usr/lib/mozilla/native-messaging-hosts/org.pagewing.host.json",
                     "etc/chromium/native-messaging-hosts/org.pagewing.host.json"):
        text = json.loads((root / manifest).read_text())
        check(text["path"] == "/usr/bin/pagewing", "%s names %s" % (manifest, text["path"]))
    return root


def check_program(root, version, scratch):
    program = root / "usr" / "bin" / "pagewing"
    check(run([program, "--version"]) == "pagewing %s\n" % version, "--version of the package")
    page = scratch / "page"
    page.mkdir()
    (page / "index.html").write_text(PAGE)
    (page / "style.css").write_text("h1 { color: #3b5b8c }\n")
    (page / "picture.svg").write_text(PICTURE)
    message = scratch / "page.eml"
    run([program, "--quiet", "-o", message, page / "index.html"])
    parsed = email.message_from_bytes(message.read_bytes(), policy=email.policy.default)
    parts = [part.get_content_type() for part in parsed.iter_parts()]
    page_text = parsed.get_body(("html",)).get_content()
    # The style sheet goes into the page, the picture into a part of its own.
    check(parsed.get_content_type() == "multipart/related" and str(parsed["Subject"]) == "Packaged"
          and parts == ["text/html", "image/svg+xml"] and "#3b5b8c" in page_text
          and 'src="cid:' in page_text, "the packaged program's message: %r %r" % (parts, page_text))


def check_lintian(package):
    if shutil.which("lintian") is None:
        print("lintian is not installed; not run")
        return
    result = subprocess.run(["lintian", "--info", package], capture_output=True, text=True,
                            timeout=300)
    errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
    check(not errors and result.returncode == 0,
          "lintian: %s%s" % (result.stdout, result.stderr))
    print("lintian: no errors%s" % ("; " + result.stdout.strip() if result.stdout.strip() else ""))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if shutil.which("dpkg-deb") is None or shutil.which("cpack") is None:
        print("dpkg-deb or cpack is missing; skipped")
        sys.exit(77)
    build = pathlib.Path(sys.argv[1]).resolve()
    scratch = pathlib.Path(sys.argv[2]).resolve()
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)

    package, version = build_package(build, scratch)
    print("%s: %d bytes" % (package.name, package.stat().st_size))
    check_control(package, version)
    root = check_contents(package, build, scratch)
    check_program(root, version, scratch)
    check_lintian(package)
    shutil.rmtree(scratch, ignore_errors=True)
    print("Debian package checks passed")


if __name__ == "__main__":
    main()
