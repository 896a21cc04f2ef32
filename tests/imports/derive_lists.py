#!/usr/bin/env python3
"""Derives the export lists in exports/ that are not kept by hand.

A DLL's list for a system is the DLL's export table as Wine 8 implements it
(which says what exists in some Windows version, never which one), less every
function that the Windows SDK headers of mingw-w64 declare only for a later
system than the list's: the declarations a program sees with
_WIN32_WINNT/WINVER, _WIN32_IE and __MSVCRT_VERSION__ set to the newest
values but not with the system's own. Names that no header declares (runtime
start-up entries, undocumented calls) are kept.

exports/win98se/kernel32.txt is kept by hand from the Windows 95 export table,
because the headers do not mark what the Windows 9x kernel lacks.

Needs the i386 Wine DLLs and i686-w64-mingw32-gcc-win32. Run it again after
adding a DLL; the lists are data of the repository, the check does not run it.
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
    # Windows XP SP3: NT 5.1, IE 6 SP2, msvcrt.dll 7.0.
    "winxpsp3": ("Windows XP SP3",
                 {"_WIN32_WINNT": "0x0501", "WINVER": "0x0501", "_WIN32_IE": "0x0603",
                  "__MSVCRT_VERSION__": "0x0700"}),
}


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


def main(argv):
    dlls = argv or DLLS
    newest = declared(NEWEST)
    for system, (title, defines) in SYSTEMS.items():
        later = newest - declared(defines)
        for dll in dlls:
            if system == "win98se" and dll == "kernel32":
                continue
            exports = sorted(set(PeImage(os.path.join(WINE_DLLS, dll + ".dll")).exports()) - later)
            out = os.path.join(HERE, "exports", system, dll + ".txt")
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "w") as f:
                f.write(f"# {dll.upper()}.DLL exports on {title}.\n"
                        f"# Source: Wine 8.0 {dll}.dll export table, less the functions the "
                        f"mingw-w64 12 Windows SDK headers declare only for systems after "
                        f"{title} ({', '.join(f'{k}={v}' for k, v in defines.items())}).\n"
                        f"# Made by tests/imports/derive_lists.py.\n")
                if system == "win98se":
                    f.write("# The headers mark few of the functions Windows 9x lacks, so this list\n"
                            "# may hold some that Windows 98 SE does not export.\n")
                f.writelines(n + "\n" for n in exports)
            print(f"{out}: {len(exports)} names")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
