#!/usr/bin/env python3
"""Reads one ctest run (its console log and its --output-junit file) and prints
what it counted: a first line "PASSED FAILED SKIPPED", then one line for each
skipped test, "NAME: reason", the reason being what the test said when it
skipped (GoogleTest's "Skipped" message, or the last line the test printed).

A skipped test is neither passed nor failed: ctest's own summary line counts
it as not failed, so the passed figure is the total less both.
A log without ctest's summary line is one failure (the run itself broke),
unless ctest found no test at all.

Usage: ctest-summary.py LOG JUNIT
"""
import re
import sys
import xml.etree.ElementTree as ET

SUMMARY = re.compile(r"\d+% tests passed, (\d+) tests? failed out of (\d+)")
SKIPPED = re.compile(r"^\s*\d+ - (\S+) \(Skipped\)\s*$")


def skip_reason(output):
    """The reason a test gave for skipping, from what it printed."""
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    for i, line in enumerate(lines):
        # GoogleTest: "file:line: Skipped", then the streamed message.
        if line.endswith(": Skipped") and i + 1 < len(lines):
            following = lines[i + 1]
            if not following.startswith("[  SKIPPED ]"):
                return following
    if lines:
        return lines[-1]
    return "no reason given"


def reasons_from_junit(path):
    reasons = {}
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        return reasons
    for case in root.iter("testcase"):
        if case.find("skipped") is None:
            continue
        out = case.find("system-out")
        text = out.text if out is not None and out.text else ""
        reasons[case.get("name")] = skip_reason(text)
    return reasons


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: ctest-summary.py LOG JUNIT\n")
        return 2
    log_path, junit_path = sys.argv[1:]
    try:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            log = f.read()
    except OSError:
        log = ""
    matches = SUMMARY.findall(log)
    if not matches:
        print("0 0 0" if "No tests were found" in log else "0 1 0")
        return 0
    failed, total = (int(n) for n in matches[-1])
    skipped = [m.group(1) for m in map(SKIPPED.match, log.splitlines()) if m]
    reasons = reasons_from_junit(junit_path)
    print(total - failed - len(skipped), failed, len(skipped))
    for name in skipped:
        print(f"{name}: {reasons.get(name, 'no reason given')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
