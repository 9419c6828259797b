#!/usr/bin/python3
"""The manual and the shell completions against `pagewing --help`.

Every option that --help lists is in the manual's OPTIONS and the other way
round, and so are the exit statuses; the bash and zsh completions name every
long option; bash completes options, browser names and files as the user
expects (when bash-completion is installed).

Usage: options_documented_check.py PAGEWING SOURCE_DIR
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

BASH_COMPLETION = pathlib.Path("/usr/share/bash-completion/bash_completion")
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def check(condition, message):
    if not condition:
        print("FAILED:", message)
        sys.exit(1)


def help_options(text):
    """Options and exit statuses that --help lists."""
    options, statuses = set(), set()
    in_statuses = False
    for line in text.splitlines():
        if line.startswith("Exit status"):
            in_statuses = True
        elif in_statuses:
            status = re.match(r"  (\d+)  ", line)
            if status:
                statuses.add(status.group(1))
        else:
            # "  -o, --output FILE   text" or "      --open   text"
            entry = re.match(r"  (?:(-\w), )?\s*(--[\w-]+)", line)
            if entry:
                options.update(name for name in entry.groups() if name)
    return options, statuses


def manual_sections(text):
    sections, name = {}, None
    for line in text.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            sections[name] = []
        elif name:
            sections[name].append(line)
    return sections


def tags(lines):
    """The lines that follow each .TP: what a tagged paragraph is about."""
    return [lines[i + 1] for i, line in enumerate(lines[:-1]) if line.strip() == ".TP"]


def plain(roff):
    return re.sub(r"\\f[BIRP]", "", roff.replace("\\-", "-"))


def manual_options(path):
    sections = manual_sections(path.read_text())
    check("OPTIONS" in sections and "EXIT STATUS" in sections,
          "the manual lacks OPTIONS or EXIT STATUS: %s" % sorted(sections))
    options = set()
    for tag in tags(sections["OPTIONS"]):
        options.update(OPTION.findall(plain(tag)))
    statuses = {plain(tag).split()[-1] for tag in tags(sections["EXIT STATUS"])}
    return options, statuses


def check_manual(manual, options, statuses):
    documented, documented_statuses = manual_options(manual)
    check(options == documented,
          "options in --help only: %s; in the manual only: %s" %
          (sorted(options - documented), sorted(documented - options)))
    check(statuses == documented_statuses,
          "exit statuses: --help %s, manual %s" % (sorted(statuses), sorted(documented_statuses)))
    if shutil.which("man"):
        # groff's complaints about the roff itself.
        result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", str(manual)],
                                capture_output=True, text=True, timeout=60,
                                env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
        check(result.returncode == 0 and result.stderr == "",
              "man reports on the manual: " + result.stderr)


def check_completion_names(completions, options):
    for path in completions:
        named = set(OPTION.findall(path.read_text()))
        missing = sorted(name for name in options if name.startswith("--") and name not in named)
        check(not missing, "%s lacks %s" % (path.name, missing))


def bash_complete(script, folder, words):
    """COMPREPLY of the bash completion for WORDS, the last being completed."""
    program = r'''
source "$1"; source "$2"; shift 2
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
_pagewing pagewing "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
'''
    result = subprocess.run(["bash", "-c", program, "bash", str(BASH_COMPLETION), str(script)]
                            + words, cwd=folder, capture_output=True, text=True, timeout=60)
    check(result.returncode == 0 and result.stderr == "", "bash %r: %s" % (words, result.stderr))
    return set(line for line in result.stdout.splitlines() if line)


def check_bash(script):
    if not BASH_COMPLETION.is_file():
        print("bash-completion is not installed; bash's answers not checked")
        return
    cases = [
        (["pagewing", "--cook"], {"--cookies", "--cookies-from-browser"}),
        (["pagewing", "--cookies-from-browser", "f"], {"firefox"}),
        (["pagewing", "--cookies-from-browser=ch"], {"chromium", "chrome"}),
        (["pagewing", "-o", "pa"], {"page.eml"}),
        (["pagewing", "--cookies", "co"], {"cookies.txt"}),
        (["pagewing", "--subject", "Hello", "in"], {"index.html"}),
        (["pagewing", "--subject", "in"], set()),
    ]
    with tempfile.TemporaryDirectory(prefix="pw-complete-") as folder:
        for name in ("page.eml", "index.html", "cookies.txt"):
            (pathlib.Path(folder) / name).write_text("")
        for words, expected in cases:
            answer = bash_complete(script, folder, words)
            check(answer == expected, "bash %r: %s, expected %s" % (words, answer, expected))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    program, source = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
    result = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "--help: status %d" % result.returncode)
    options, statuses = help_options(result.stdout)
    check(len(options) > 20 and statuses, "--help not understood: %s %s" % (options, statuses))

    check_manual(source / "app" / "pagewing.1", options, statuses)
    bash = source / "app" / "completions" / "pagewing.bash"
    zsh = source / "app" / "completions" / "_pagewing"
    check_completion_names([bash, zsh], options)
    check_bash(bash)
    if shutil.which("zsh"):
        result = subprocess.run(["zsh", "-n", str(zsh)], capture_output=True, text=True,
                                timeout=60)
        check(result.returncode == 0, "zsh -n _pagewing: " + result.stderr)
    print("%d options and %d exit statuses documented and completed" %
          (len(options), len(statuses)))


if __name__ == "__main__":
    main()
