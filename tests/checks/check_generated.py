#!/usr/bin/env python3
"""Fails when a committed generated file differs, byte for byte, from what
its generator writes today.

    check_generated.py --generator SCRIPT --committed FILE --output SCRATCH

The generator is run as `python3 SCRIPT SCRATCH`.
"""

import argparse
import difflib
import os
import subprocess
import sys

DIFF_LINES = 40


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--generator", required=True)
    parser.add_argument("--committed", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    if os.path.exists(args.output):
        os.remove(args.output)
    subprocess.run([sys.executable, args.generator, args.output], check=True)

    with open(args.committed, "rb") as handle:
        committed = handle.read()
    with open(args.output, "rb") as handle:
        generated = handle.read()
    if committed == generated:
        print("%s is what %s writes" % (args.committed, args.generator))
        return 0

    print("%s differs from what %s writes (%s):" % (args.committed, args.generator, args.output))
    diff = difflib.unified_diff(committed.decode("latin-1").splitlines(),
                                generated.decode("latin-1").splitlines(),
                                "committed", "generated", lineterm="")
    for number, line in enumerate(diff):
        if number == DIFF_LINES:
            print("...")
            break
        print(line)
    return 1


if __name__ == "__main__":
    sys.exit(main())
