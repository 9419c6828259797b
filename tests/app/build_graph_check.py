#!/usr/bin/python3
"""`make` and `make demo` build the program and nothing of the test suite.

Reads the commands the Makefile runs (make -n, in an empty folder, as on a
fresh checkout), configures the tree as they do in a scratch folder with
Ninja, and reads what the build would run from Ninja's graph (ninja -t
commands), so that nothing is compiled. Exits 77 when ninja is missing.

Usage: build_graph_check.py SOURCE_DIR SCRATCH_DIR
"""

import pathlib
import shlex
import shutil
import subprocess
import sys

# Folders of the build tree whose objects and programs only tests,
# benchmarks and fuzzing need.
TEST_FOLDERS = {"tests", "bench", "fuzz"}


def fail(message):
    print("FAILED:", message)
    sys.exit(1)


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, timeout=240, **kwargs)
    if result.returncode != 0:
        fail("%s: status %d\n%s%s" % (" ".join(command), result.returncode, result.stdout,
                                      result.stderr))
    return result.stdout


def make_commands(source, goal, empty):
    """The configure options and the build targets of `make GOAL`."""
    lines = run(["make", "-n", "-f", str(source / "Makefile"), "-C", str(empty), goal]).splitlines()
    configure = [shlex.split(line) for line in lines if line.startswith("cmake --preset default")]
    builds = [shlex.split(line) for line in lines if line.startswith("cmake --build --preset default")]
    if len(configure) != 1 or len(builds) != 1:
        fail("make %s: expected one configure and one build, got\n%s" % (goal, "\n".join(lines)))
    options = [word for word in configure[0] if word.startswith("-D")]
    build = builds[0]
    if "--target" not in build:
        fail("make %s builds every target: %s" % (goal, " ".join(build)))
    targets = []
    for word in build[build.index("--target") + 1:]:
        if word.startswith("-"):
            break
        targets.append(word)
    return options, targets


def configure(source, folder, options):
    shutil.rmtree(folder, ignore_errors=True)
    return subprocess.Popen(
        ["cmake", "-S", str(source), "-B", str(folder), "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo"] + options,
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def wait(process, folder):
    output, _ = process.communicate(timeout=240)
    if process.returncode != 0:
        fail("configuring %s: %s" % (folder, output))


def outputs(folder, targets):
    """Every file the build of TARGETS writes with a -o option."""
    written = []
    for line in run(["ninja", "-C", str(folder), "-t", "commands"] + targets).splitlines():
        words = line.split()
        written += [words[i + 1] for i, word in enumerate(words[:-1]) if word == "-o"]
    return written


def test_outputs(written):
    return [path for path in written if pathlib.PurePath(path).parts[0] in TEST_FOLDERS]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if shutil.which("ninja") is None:
        print("ninja is missing; skipped")
        sys.exit(77)
    source = pathlib.Path(sys.argv[1]).resolve()
    scratch = pathlib.Path(sys.argv[2])
    empty = scratch / "checkout"
    empty.mkdir(parents=True, exist_ok=True)

    goals = {goal: make_commands(source, goal, empty) for goal in ("all", "demo", "install", "deb")}
    options = {tuple(found[0]) for found in goals.values()}
    if len(options) != 1:
        fail("the goals configure differently: %r" % goals)
    fresh_options = list(options.pop())

    # A folder as a first `make` leaves it, and one that `make test` has
    # turned the suite on in; both configured at once.
    fresh, full = scratch / "fresh", scratch / "full"
    jobs = [(configure(source, fresh, fresh_options), fresh),
            (configure(source, full, ["-DPAGEWING_BUILD_TESTS=ON", "-DPAGEWING_BUILD_BENCH=ON"]),
             full)]
    for process, folder in jobs:
        wait(process, folder)

    # The full graph has the suite, so an empty answer below means something.
    if not test_outputs(outputs(full, ["all"])):
        fail("the full build has no test objects; the check cannot see them")

    # (name, folder, targets, whether they build the program)
    cases = [("fresh folder, everything", fresh, ["all"], True)]
    cases += [("make %s in a folder with the suite" % goal, full, targets, True)
              for goal, (_, targets) in goals.items()]
    # What cpack and `cmake --build --target install` build before they install.
    cases.append(("the install step", full, ["install"], False))
    for name, folder, targets, program in cases:
        written = outputs(folder, targets)
        if program and "pagewing" not in written:  # its link, at the top of the folder
            fail("%s: the program is not built (%s)" % (name, targets))
        found = test_outputs(written)
        if found:
            fail("%s builds %d test, benchmark or fuzz files, such as %s" %
                 (name, len(found), found[:3]))
        print("%s: %d files, none of the suite" % (name, len(written)))
    shutil.rmtree(scratch, ignore_errors=True)
    print("build graph checks passed")


if __name__ == "__main__":
    main()
