#!/usr/bin/env python3
"""Sums up the ctest runs of the given build folders in one line.

Reads each folder's Testing/Temporary/LastTest.log (the log of its last ctest run): the count
of tests that passed, failed and were skipped, with the reasons GoogleTest gave for the skips,
grouped. Prints, for example:

  tests: 230 passed, 0 failed, 12 skipped (10 no CUDA driver or device on this machine; 2 ...); lint: passed; fuzz: passed
"""
import argparse
import collections
import pathlib
import re
import sys


def read_log(build):
    log = pathlib.Path(build) / "Testing" / "Temporary" / "LastTest.log"
    if not log.is_file():
        return None
    return log.read_text(encoding="utf-8", errors="replace")


def summarise(text, reasons):
    passed = failed = skipped = 0
    # One block per test, from its "n/m Testing: name" line to the next one.
    for block in re.split(r"\n(?=\d+/\d+ Testing: )", text):
        if not re.match(r"\d+/\d+ Testing: ", block):
            continue  # the log's header
        if "[  SKIPPED ]" in block:
            skipped += 1
            found = re.search(r"^\S+:\d+: Skipped\n(.*)$", block, re.M)
            reasons[found.group(1).strip() if found and found.group(1).strip() else "no reason given"] += 1
        elif re.search(r"^skipped: ", block, re.M) and re.search(r"^Test Passed\.", block, re.M):
            # A script test that skips says so on a line of its own and exits with its skip code,
            # which ctest logs as passed; a script that failed is counted as failed below.
            skipped += 1
            reasons[re.search(r"^skipped: (.*)$", block, re.M).group(1).strip()] += 1
        elif re.search(r"^Test Passed\.", block, re.M):
            passed += 1
        else:
            failed += 1
    return passed, failed, skipped


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lint", default="not run")
    parser.add_argument("--fuzz", default="not run")
    parser.add_argument("builds", nargs="+")
    args = parser.parse_args()
    totals = [0, 0, 0]
    reasons = collections.Counter()
    missing = []
    for build in args.builds:
        text = read_log(build)
        if text is None:
            missing.append(build)
            continue
        for i, value in enumerate(summarise(text, reasons)):
            totals[i] += value
    why = "; ".join(f"{count} {reason}" for reason, count in reasons.most_common())
    line = f"tests: {totals[0]} passed, {totals[1]} failed, {totals[2]} skipped"
    if why:
        line += f" ({why})"
    if missing:
        line += f" [no test log in {', '.join(missing)}]"
    print(f"{line}; lint: {args.lint}; fuzz: {args.fuzz}")
    return 1 if missing or totals[0] + totals[1] == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
