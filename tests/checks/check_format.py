#!/usr/bin/env python3
"""Fails when a C++ source of the tree is not formatted as .clang-format says.

In a git checkout the files are the tracked .cpp and .h files (what CI's
fresh clone holds); elsewhere every .cpp and .h outside build folders.

    check_format.py --clang-format PROGRAM --source-dir DIR
"""

import argparse
import os
import re
import subprocess
import sys

EXTENSIONS = (".cpp", ".h")
BATCH = 200


def tracked_files(source_dir):
    """The tracked sources relative to source_dir, or None outside a git checkout."""
    try:
        top = subprocess.run(["git", "-C", source_dir, "rev-parse", "--show-toplevel"],
                             capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    if os.path.realpath(top) != os.path.realpath(source_dir):
        return None
    listed = subprocess.run(["git", "-C", source_dir, "ls-files", "-z", "--", "*.cpp", "*.h"],
                            capture_output=True, check=True).stdout
    return sorted(name for name in listed.decode().split("\0") if name)


def files_on_disk(source_dir):
    found = []
    for directory, subdirectories, names in os.walk(source_dir):
        subdirectories[:] = sorted(d for d in subdirectories
                                   if not d.startswith(".") and not d.startswith("build"))
        for name in names:
            if name.endswith(EXTENSIONS):
                found.append(os.path.relpath(os.path.join(directory, name), source_dir))
    return sorted(found)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clang-format", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()

    files = tracked_files(args.source_dir)
    origin = "tracked"
    if files is None:
        files = files_on_disk(args.source_dir)
        origin = "found"
    if not files:
        sys.exit("check_format: no .cpp or .h files in %s" % args.source_dir)

    version = subprocess.run([args.clang_format, "--version"], capture_output=True,
                             text=True).stdout.strip()
    unformatted = set()
    for start in range(0, len(files), BATCH):
        batch = files[start:start + BATCH]
        result = subprocess.run([args.clang_format, "--dry-run", "-Werror", "--style=file"]
                                + batch, cwd=args.source_dir, capture_output=True, text=True)
        for line in result.stderr.splitlines():
            match = re.match(r"(.+?):\d+:\d+: error:", line)
            if match:
                unformatted.add(match.group(1))
        if result.returncode != 0 and not unformatted:
            sys.exit("check_format: %s failed:\n%s" % (args.clang_format, result.stderr))

    print("%d %s files checked with %s" % (len(files), origin, version))
    if unformatted:
        print("Not formatted (run clang-format -i on them):")
        for name in sorted(unformatted):
            print("  " + name)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
