#!/usr/bin/env python3
"""Checks that every function a Windows program imports is exported by each
listed Windows version. The export lists live in exports/<system>/<dll>.txt,
one name a line; '#' starts a comment, and the first comment names the list's
public source. Prints each import a system lacks, as DLL!function, and exits
with 1 if there is any (2 on bad usage or an unreadable file).

With --no-wide, also prints each imported function whose name ends in "W"
(a Unicode call that Windows 95/98/ME export only as a stub that fails; a
program that must run there reaches those through a table bound at run time)
and fails for any.

Usage: check_imports.py [--exports DIR] [--systems win98se,win2000sp4,winxpsp3] [--no-wide]
                        PROGRAM..."""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe import PeImage  # noqa: E402

SYSTEM_NAMES = {"win98se": "Windows 98 SE", "win2000sp4": "Windows 2000 SP4",
                "winxpsp3": "Windows XP SP3"}


def load_list(path):
    names = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                names.add(line)
    return names


def missing_imports(program, exports_dir, systems):
    """[(system, dll, function)] that the systems lack; a DLL without a list
    for a system counts as absent there."""
    faults = []
    for dll, functions in sorted(PeImage(program).imports().items()):
        base = dll.lower()
        if base.endswith(".dll"):
            base = base[:-4]
        for system in systems:
            path = os.path.join(exports_dir, system, base + ".txt")
            exported = load_list(path) if os.path.exists(path) else None
            for fn in functions:
                if exported is None or fn not in exported:
                    faults.append((system, dll, fn))
    return faults


def wide_imports(program):
    """[(dll, function)] of the imported functions whose names end in "W"."""
    return [(dll, fn) for dll, functions in sorted(PeImage(program).imports().items())
            for fn in sorted(functions) if fn.endswith("W")]


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exports", default=os.path.join(here, "exports"))
    parser.add_argument("--systems", default=",".join(SYSTEM_NAMES))
    parser.add_argument("--no-wide", action="store_true",
                        help="fail for any imported function whose name ends in W")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args(argv)
    systems = [s for s in args.systems.split(",") if s]
    bad = False
    for program in args.programs:
        try:
            faults = missing_imports(program, args.exports, systems)
            wide = wide_imports(program) if args.no_wide else []
        except (OSError, ValueError) as e:
            print(f"{program}: {e}", file=sys.stderr)
            return 2
        for system, dll, fn in faults:
            print(f"{os.path.basename(program)}: {dll}!{fn} is not exported by "
                  f"{SYSTEM_NAMES.get(system, system)}")
        for dll, fn in wide:
            print(f"{os.path.basename(program)}: {dll}!{fn} is a W function imported directly")
        if faults or wide:
            bad = True
        else:
            print(f"{os.path.basename(program)}: every import exists on "
                  + ", ".join(SYSTEM_NAMES.get(s, s) for s in systems))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
