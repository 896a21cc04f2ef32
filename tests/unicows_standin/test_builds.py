#!/usr/bin/env python3
"""The stand-in unicows.dll built with the 32-bit and the 64-bit mingw-w64
compilers (only one of them makes the Windows test tree on a given machine):
each build exports exactly the table's functions under the names the 32-bit
or 64-bit system DLLs export (GetWindowLongW for GetWindowLongPtrW on 32-bit
Windows), undecorated, as GetProcAddress looks them up; the incomplete
variant lacks CopyFileW and mciSendStringW only.

Environment: SOURCE_DIR (top of the tree; default two folders up)."""

import functools
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("SOURCE_DIR", os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "imports"))
from pe import PeImage  # noqa: E402

STANDIN = os.path.join(SOURCE, "tools", "standins", "unicows", "unicows_standin.cpp")
APP = os.path.join(SOURCE, "lirrow", "app")
FLAGS = ["-std=c++17", "-O2", "-Wall", "-Wextra", "-Werror", "-DWINVER=0x0501",
         "-D_WIN32_WINNT=0x0501", "-DNOMINMAX", "-I" + APP]
TARGETS = {"i686": ("i686-w64-mingw32-g++-posix", 0x14C),
           "x86_64": ("x86_64-w64-mingw32-g++-posix", 0x8664)}


@functools.lru_cache(maxsize=None)
def table_names(compiler):
    """The exported names of the table's functions for that compiler."""
    snippet = ('#include "unicode_win32.h"\n'
               "#define STANDIN_NAME(dll, name) standin_name LIRROW_UNICODE_NAME(name)\n"
               "LIRROW_UNICODE_CALLS(STANDIN_NAME)\n")
    out = subprocess.run([compiler, *FLAGS, "-E", "-P", "-x", "c++", "-"], input=snippet,
                         capture_output=True, text=True, check=True).stdout
    return tuple(re.findall(r'standin_name "([^"]+)"', out))


class Builds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="unicows_builds_")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def build(self, arch, *defines):
        compiler, _ = TARGETS[arch]
        if not shutil.which(compiler):
            self.skipTest(f"no {compiler}")
        dll = os.path.join(self.tmp, f"{arch}{len(defines)}", "unicows.dll")
        os.makedirs(os.path.dirname(dll), exist_ok=True)
        r = subprocess.run([compiler, *FLAGS, *defines, "-shared", "-static", "-static-libgcc",
                            "-o", dll, STANDIN], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        return compiler, PeImage(dll)

    def test_each_build_exports_the_table_under_the_systems_names(self):
        for arch, (_, machine) in TARGETS.items():
            with self.subTest(arch=arch):
                compiler, image = self.build(arch)
                self.assertEqual(image.machine, machine)
                names = table_names(compiler)
                self.assertGreater(len(names), 0)
                self.assertEqual(sorted(image.exports()), sorted(names))
                wanted = "GetWindowLongW" if arch == "i686" else "GetWindowLongPtrW"
                self.assertIn(wanted, image.exports())
                # Only the system DLLs: the stand-in must not need lirrow's binder.
                self.assertEqual({d.lower() for d in image.imports()},
                                 {"kernel32.dll", "msvcrt.dll"})

    def test_the_incomplete_variant_lacks_copyfilew_and_mcisendstringw_only(self):
        for arch in TARGETS:
            with self.subTest(arch=arch):
                compiler, image = self.build(arch, "-DUNICOWS_STANDIN_OMIT=CopyFileW",
                                             "-DUNICOWS_STANDIN_OMIT_ALSO=mciSendStringW")
                self.assertEqual(sorted(image.exports()),
                                 sorted(set(table_names(compiler))
                                        - {"CopyFileW", "mciSendStringW"}))


if __name__ == "__main__":
    unittest.main()
