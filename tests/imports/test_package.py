#!/usr/bin/env python3
"""Builds the Windows users' zip with scripts/package.sh and checks what is in
it: the release programs byte for byte, the help pages, sample INI files that
the profile reader accepts with every key of each program, a README for
Windows users, and one version number in the zip's name, the README and both
programs' version resources."""

import configparser
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
from pe import PeImage  # noqa: E402

TREE = os.environ.get("RELEASE_TREE", os.path.join(ROOT, "build", "release"))


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.TemporaryDirectory()
        r = subprocess.run([os.path.join(ROOT, "scripts", "package.sh"), cls.out.name],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise AssertionError("package.sh failed:\n" + r.stderr)
        cls.path = r.stdout.strip().splitlines()[-1]
        cls.zip = zipfile.ZipFile(cls.path)
        cls.version = PeImage(os.path.join(TREE, "vornak", "app", "vornak.exe")).file_version()
        cls.top = f"vornak-lirrow-{cls.version}-win32/"

    @classmethod
    def tearDownClass(cls):
        cls.zip.close()
        cls.out.cleanup()

    def read(self, name):
        return self.zip.read(self.top + name)

    def test_holds_exactly_the_users_files_in_one_folder(self):
        self.assertEqual(os.path.basename(self.path), f"vornak-lirrow-{self.version}-win32.zip")
        names = {n[len(self.top):] for n in self.zip.namelist() if n.startswith(self.top)}
        self.assertEqual(len(names), len(self.zip.namelist()), "everything in one folder")
        self.assertEqual(names - {""}, {"vornak.exe", "lirrow.exe", "helpen.htm", "helpch.htm",
                                        "helpfan.htm", "fmt.ini", "lirrow.ini", "README.txt"})

    def test_programs_and_help_pages_are_the_built_ones(self):
        for name, path in (("vornak.exe", "vornak/app/vornak.exe"),
                           ("lirrow.exe", "lirrow/app/lirrow.exe")):
            with open(os.path.join(TREE, path), "rb") as f:
                self.assertEqual(self.read(name), f.read(), name)
        for page in ("helpen.htm", "helpch.htm", "helpfan.htm"):
            with open(os.path.join(ROOT, "lirrow", "res", page), "rb") as f:
                self.assertEqual(self.read(page), f.read(), page)

    def test_one_version_everywhere(self):
        lirrow = PeImage(os.path.join(TREE, "lirrow", "app", "lirrow.exe")).file_version()
        self.assertEqual(lirrow, self.version)
        self.assertRegex(self.version, r"^\d+\.\d+\.\d+\.\d+$")
        self.assertIn(f"Version {self.version} of both programs.", self.read("README.txt").decode())

    def ini(self, name):
        text = self.read(name).decode("ascii")
        self.assertNotIn("\n", text.replace("\r\n", ""), f"{name}: Windows line ends")
        parser = configparser.ConfigParser(interpolation=None, comment_prefixes=(";",),
                                           delimiters=("=",))
        parser.optionxform = str
        parser.read_string(text)
        self.assertEqual(parser.sections(), ["409"])
        return parser["409"]

    def test_sample_inis_list_every_key_of_each_program(self):
        # Each key the program reads appears once, in the program's order; the
        # key lists come from the source tables, read here independently.
        with open(os.path.join(ROOT, "vornak", "app", "texts.cpp")) as f:
            vornak_keys = re.findall(r"VORNAK_KEY\((\w+)\),", f.read())
        self.assertEqual(len(vornak_keys), 33)
        self.assertEqual(list(self.ini("fmt.ini").keys()), vornak_keys)
        lirrow = self.ini("lirrow.ini")
        self.assertEqual(len(lirrow), 32)
        self.assertEqual(lirrow["IDC_BTN_START"], "Convert")
        self.assertEqual(lirrow["BadFormatFile"], "Unsupport Format")
        self.assertEqual(self.ini("fmt.ini")["MsgFormatFail"], "Format fail!")

    def test_readme_tells_windows_users_what_they_need(self):
        text = self.read("README.txt").decode("ascii")
        self.assertIn("\r\n", text)
        for needed in ("Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe", "unicows.dll",
                       "Layer for Unicode", "Windows 98 SE", "Windows XP", "administrator"):
            self.assertIn(needed, text)


if __name__ == "__main__":
    unittest.main()
