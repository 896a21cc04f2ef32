#!/usr/bin/env python3
"""Derives the export lists in exports/ that are not kept by hand.

Windows 98 SE lists of comctl32, shell32 and winmm: the export tables of the
Windows 9x DLLs that early Wine recorded, kept reduced in sources/<dll>.exports
(each file names its origin). The list holds every name the table gives,
less the placeholder names Wine gave to unnamed ordinals (COMCTL32_9,
WINMM_2) and the entries Wine itself marks as unsure ("proper ordinal
unknown", "later additions ... incorrect ordinals"); Wine's @N argument sizes
are dropped. These tables do not tell which entries the DLL exports by name
and which by ordinal only, so a list may admit a by-name import of a
function the DLL offers by ordinal only.

The msvcrt lists of every system: the exports of msvcrt.dll by the release
that added them, as mingw-w64's msvcrt.def.in groups them (kept in
sources/msvcrt.def.in): each system's list holds the groups up to its own
release, with the names the i386 DLL has (the x64- and ARM-only entries
left out; entries that mingw-w64 replaces on i386 by its own code kept, as
the DLL still exports them).

Every other list: the DLL's export table as Wine 8 implements it (which says
what exists in some Windows version, never which one), less every function
that the Windows SDK headers of mingw-w64 declare only for a later system
than the list's: the declarations a program sees with _WIN32_WINNT/WINVER,
_WIN32_IE and __MSVCRT_VERSION__ set to the newest values but not with the
system's own. Names that no header declares (runtime start-up entries,
undocumented calls) are kept. For Windows 98 SE these lists are only
approximations, and their headers say so.

The kernel32 lists of Windows 2000 SP4 and XP SP3 also lack every name of
sources/kernel32.after-xp: what ReactOS's kernel32 marks as added in Vista or
later, and the names whose documented minimum client is Vista or later; the
2000 SP4 list also lacks those of sources/kernel32.after-2000 (documented
minimum client XP).

exports/win98se/kernel32.txt is kept by hand from the Windows 95 export table,
because the headers do not mark what the Windows 9x kernel lacks.

The Wine 8 lists need the i386 Wine DLLs and i686-w64-mingw32-gcc-win32; the
lists from sources/ need nothing. Run it again after adding a DLL or a source;
the lists are data of the repository, the check does not run it (a test
checks that the lists from sources/ are what this script makes of them).
Usage: derive_lists.py [DLL...]"""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe import PeImage  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
DLLS = ["kernel32", "user32", "gdi32", "shell32", "comctl32", "comdlg32", "winmm", "msvcrt",
        "advapi32", "ole32", "oleaut32"]
HEADERS = ["windows.h", "commctrl.h", "commdlg.h", "shellapi.h", "shlobj.h", "mmsystem.h",
           "ole2.h", "oleauto.h", "stdio.h", "stdlib.h", "string.h", "wchar.h", "wctype.h",
           "locale.h", "time.h", "io.h", "signal.h", "process.h", "math.h", "ctype.h",
           "direct.h", "fcntl.h", "sys/stat.h", "mbstring.h", "conio.h", "malloc.h"]
NEWEST = {"_WIN32_WINNT": "0x0A00", "WINVER": "0x0A00", "_WIN32_IE": "0x0A00",
          "__MSVCRT_VERSION__": "0x0E00"}
SYSTEMS = {
    # Windows 98 SE: the Windows 95/NT 4 API level, Win98 additions, IE 5
    # (comctl32 5.80), the Visual C++ 6 runtime msvcrt.dll.
    "win98se": ("Windows 98 SE",
                {"_WIN32_WINNT": "0x0400", "WINVER": "0x0400", "_WIN32_WINDOWS": "0x0410",
                 "_WIN32_IE": "0x0500", "__MSVCRT_VERSION__": "0x0600"}),
    # Windows 2000 SP4: NT 5.0, IE 5.01 (comctl32 5.81).
    "win2000sp4": ("Windows 2000 SP4",
                   {"_WIN32_WINNT": "0x0500", "WINVER": "0x0500", "_WIN32_IE": "0x0501",
                    "__MSVCRT_VERSION__": "0x0600"}),
    # Windows XP SP3: NT 5.1, IE 6 SP2, msvcrt.dll 7.0.
    "winxpsp3": ("Windows XP SP3",
                 {"_WIN32_WINNT": "0x0501", "WINVER": "0x0501", "_WIN32_IE": "0x0603",
                  "__MSVCRT_VERSION__": "0x0700"}),
}


APPROXIMATION_NOTE = (
    "# APPROXIMATION: no public export table known to come from the Windows 9x\n"
    "# DLL was found. The headers mark few of the functions Windows 9x lacks, so\n"
    "# this list may hold some that Windows 98 SE does not export; a pass for\n"
    "# this DLL is weak evidence.\n")


APPROXIMATION_2000_NOTE = (
    "# APPROXIMATION: the headers mark few of the functions that Windows XP added,\n"
    "# so this list may hold some that Windows 2000 SP4 does not export.\n")


def declared(defines):
    """Names of the functions the headers declare under these version macros."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "decl.c")
        aux = os.path.join(tmp, "aux.txt")
        with open(src, "w") as f:
            f.writelines(f"#include <{h}>\n" for h in HEADERS)
        cmd = ["i686-w64-mingw32-gcc-win32", "-c", src, "-o", os.devnull, "-aux-info", aux]
        cmd += [f"-D{k}={v}" for k, v in defines.items()]
        subprocess.run(cmd, check=True)
        names = set()
        with open(aux) as f:
            for line in f:
                m = re.search(r"([A-Za-z_][A-Za-z0-9_]*)\s*\(", line.split("*/", 1)[-1])
                if m:
                    names.add(m.group(1))
        return names


SOURCES = os.path.join(HERE, "sources")
# The Windows 98 SE DLLs whose list comes from a Windows 9x export table in
# sources/, and the Windows 9x DLL version the table describes.
WIN9X_TABLES = {
    "comctl32": ("comctl32.dll 4.72 (Internet Explorer 4.01)",
                 "# Windows 98 SE ships a later comctl32.dll (Internet Explorer 5); this\n"
                 "# list lacks what that version added.\n"),
    "shell32": ("shell32.dll 4.72, the shell of Windows 98", ""),
    "winmm": ("the Windows 9x winmm.dll", ""),
}


def read_table(path):
    """[(ordinal, name, note)] of a Wine export table, full or reduced: the
    lines 'ORDINAL [CONVENTION [-FLAG...]] NAME[@N|(ARGS)] ... [# NOTE]'.
    Entries after a comment line about "later additions" get that comment
    as their note."""
    entries = []
    later = ""
    with open(path, encoding="utf-8") as f:
        for line in f:
            text, _, note = line.partition("#")
            if not re.match(r"\s*\d", text):
                # Comments, the file's header (name, type, init ...) and the
                # continued argument lists of long entries.
                if not text.strip() and "later additions" in note:
                    later = note.strip()
                continue
            m = re.match(r"\s*(\d+)\s+(?:(?:stdcall|cdecl|stub|register|varargs|pascal\S*|"
                         r"equate|extern)\s+)?(?:-\S+\s+)*([A-Za-z_][A-Za-z0-9_]*)", text)
            if not m:
                raise ValueError(f"{path}: cannot read: {line.rstrip()}")
            entries.append((int(m.group(1)), m.group(2), (note.strip() + " " + later).strip()))
    return entries


def win9x_exports(dll, path):
    """The names a Windows 9x export table vouches for (see the module doc)."""
    placeholder = re.compile(rf"{dll}_\d+", re.IGNORECASE)
    names = set()
    for _, name, note in read_table(path):
        if placeholder.fullmatch(name) or "ordinal unknown" in note or "later additions" in note:
            continue
        names.add(name)
    return names


def origin(path):
    """The comment lines at the head of a source file that say where it is from."""
    lines = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.startswith("#") or line.startswith("# Kept here"):
                break
            lines.append(line)
    return lines[1:]


def win9x_list(dll):
    """The text of exports/win98se/<dll>.txt made from sources/<dll>.exports."""
    src = os.path.join(SOURCES, dll + ".exports")
    table, caveat = WIN9X_TABLES[dll]
    head = [f"# {dll.upper()}.DLL exports on Windows 98 SE.\n",
            f"# Source: the export table of {table},\n",
            f"# as recorded by Wine and kept in tests/imports/sources/{dll}.exports:\n"]
    head += origin(src)
    head += ["# Made by tests/imports/derive_lists.py: every name of the table, less\n",
             "# Wine's placeholders for unnamed ordinals and the entries Wine marks as unsure.\n",
             "# The check counts a name the table lacks as absent, though the DLL may have\n",
             "# it; and the table does not say which names the DLL exports by ordinal only.\n",
             caveat]
    return "".join(head) + "".join(n + "\n" for n in sorted(win9x_exports(dll, src)))


# The last msvcrt.def.in group of each system: the text its heading names.
MSVCRT_LAST_GROUP = {"win98se": "Windows 98 Second Edition",
                     "win2000sp4": "Windows 2000 SP4",
                     "winxpsp3": "Windows XP OS system"}
# Macros of msvcrt.def.in that keep an entry in the i386 DLL, and those that
# name other architectures only.
I386_MACROS = {"F_I386", "F_X86_ANY", "F32", "F_NON_X64", "F_NON_ARM64"}
OTHER_MACROS = {"F_X64", "F64", "F_ARM32", "F_ARM64", "F_ARM_ANY", "F_NON_I386"}


def msvcrt_entry(text, note):
    """The name an entry of msvcrt.def.in gives the i386 DLL, or None."""
    m = re.match(r"(F\w+)\((.*)\)$", text)
    while m:
        macro, text = m.group(1), m.group(2).strip()
        if macro in OTHER_MACROS:
            # mingw-w64 serves these itself on i386, yet the DLL has them
            # when the note says the i386 export is replaced.
            if not re.search(r"\bi386\b.*\breplaced by\b", note):
                return None
        elif macro not in I386_MACROS:
            raise ValueError(f"msvcrt.def.in: unknown macro {macro}")
        m = re.match(r"(F\w+)\((.*)\)$", text)
    return text.split()[0]


def msvcrt_groups(path):
    """[(heading, [names])] of msvcrt.def.in in file order."""
    groups = []
    skip = False
    with open(path, encoding="utf-8") as f:
        for line in f:
            text, _, note = line.strip().partition(";")
            text = text.strip()
            if line.startswith("#ifdef"):
                skip = "DEF_I386" not in line
            elif line.startswith("#endif"):
                skip = False
            elif re.match(r"; (List of I386 C\+\+|This is list of symbols|These symbols were added)",
                          line):
                if not (groups and "4.2" in groups[-1][0] and "4.2" in line):
                    groups.append((line[2:].strip(), []))
            elif text and not skip and not text.startswith("#"):
                name = msvcrt_entry(text, note)
                if name:
                    groups[-1][1].append(name)
    return groups


def msvcrt_list(system):
    """The text of exports/<system>/msvcrt.txt made from sources/msvcrt.def.in."""
    groups = msvcrt_groups(os.path.join(SOURCES, "msvcrt.def.in"))
    title = SYSTEMS[system][0]
    names = set()
    taken = []
    for heading, entries in groups:
        names.update(entries)
        taken.append(heading)
        if MSVCRT_LAST_GROUP[system] in heading:
            break
    else:
        raise ValueError(f"msvcrt.def.in: no group for {title}")
    head = [f"# MSVCRT.DLL exports on {title}.\n",
            "# Source: mingw-w64's msvcrt.def.in, kept in tests/imports/sources/msvcrt.def.in:\n"]
    with open(os.path.join(SOURCES, "msvcrt.def.in"), encoding="utf-8") as f:
        head += ["#" + f.readline()[1:] for _ in range(2)]
    head += ["# Made by tests/imports/derive_lists.py: the i386 names of the groups\n"]
    head += [f"#   {h}\n" for h in taken]
    return "".join(head) + "".join(n + "\n" for n in sorted(names))


def after_xp(dll, suffix=".after-xp"):
    """The names sources/<dll>.after-xp says Windows XP SP3 lacks (with
    suffix ".after-2000": those that XP added to Windows 2000)."""
    path = os.path.join(SOURCES, dll + suffix)
    if not os.path.exists(path):
        return set()
    with open(path, encoding="utf-8") as f:
        return {line.split()[0] for line in f
                if line.strip() and not line.startswith(("#", "["))}


def main(argv):
    dlls = argv or DLLS
    for dll in dlls:
        if dll in WIN9X_TABLES:
            out = os.path.join(HERE, "exports", "win98se", dll + ".txt")
            with open(out, "w") as f:
                f.write(win9x_list(dll))
            print(f"{out}: from sources/{dll}.exports")
    if "msvcrt" in dlls:
        for system in SYSTEMS:
            out = os.path.join(HERE, "exports", system, "msvcrt.txt")
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "w") as f:
                f.write(msvcrt_list(system))
            print(f"{out}: from sources/msvcrt.def.in")
    dlls = [d for d in dlls if d != "msvcrt"]
    if not dlls:
        return 0
    newest = declared(NEWEST)
    for system, (title, defines) in SYSTEMS.items():
        later = newest - declared(defines)
        for dll in dlls:
            if system == "win98se" and (dll == "kernel32" or dll in WIN9X_TABLES):
                continue
            exports = set(PeImage(os.path.join(WINE_DLLS, dll + ".dll")).exports()) - later
            if system != "win98se":
                exports -= after_xp(dll)
            if system == "win2000sp4":
                exports -= after_xp(dll, ".after-2000")
            exports = sorted(exports)
            out = os.path.join(HERE, "exports", system, dll + ".txt")
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "w") as f:
                f.write(f"# {dll.upper()}.DLL exports on {title}.\n"
                        f"# Source: Wine 8.0 {dll}.dll export table, less the functions the "
                        f"mingw-w64 12 Windows SDK headers declare only for systems after "
                        f"{title} ({', '.join(f'{k}={v}' for k, v in defines.items())}).\n"
                        f"# Made by tests/imports/derive_lists.py.\n")
                if system != "win98se" and after_xp(dll):
                    f.write(f"# Also less every name of tests/imports/sources/{dll}.after-xp "
                            f"(added in Vista or later).\n")
                if system == "win2000sp4" and after_xp(dll, ".after-2000"):
                    f.write(f"# Also less every name of tests/imports/sources/{dll}.after-2000 "
                            f"(added in XP).\n")
                if system == "win98se":
                    f.write(APPROXIMATION_NOTE)
                elif system == "win2000sp4":
                    f.write(APPROXIMATION_2000_NOTE)
                f.writelines(n + "\n" for n in exports)
            print(f"{out}: {len(exports)} names")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
