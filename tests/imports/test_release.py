#!/usr/bin/env python3
"""Checks of the shipped programs in the release tree (RELEASE_TREE, default
build/release): every import exists on Windows 98 SE, 2000 SP4 and XP SP3, the probes
that import newer functions are rejected by name, the manifests ask for the
right rights and name the supported systems, `file` sees 32-bit GUI
programs, their headers have what the Windows 9x loader needs, and no test
switch is inside."""

import glob
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from pe import PeImage  # noqa: E402
import check_imports  # noqa: E402
import derive_lists  # noqa: E402

TREE = os.environ.get("RELEASE_TREE", os.path.join(HERE, "..", "..", "build", "release"))
PROGRAMS = {"vornak": os.path.join(TREE, "vornak", "app", "vornak.exe"),
            "lirrow": os.path.join(TREE, "lirrow", "app", "lirrow.exe")}
PROBES = os.path.join(TREE, "tests", "imports", "probes")
EXPORTS = os.path.join(HERE, "exports")
SYSTEMS = ["win98se", "win2000sp4", "winxpsp3"]
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
DPI_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10/11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def run_check(*programs):
    r = subprocess.run([sys.executable, os.path.join(HERE, "check_imports.py"), *programs],
                       capture_output=True, text=True)
    return r.returncode, r.stdout


class Imports(unittest.TestCase):
    def test_shipped_programs_import_only_what_98_2000_and_xp_export(self):
        code, out = run_check(*PROGRAMS.values())
        self.assertEqual(code, 0, out)

    def test_probe_importing_getfilesizeex_is_rejected_for_98_only(self):
        faults = check_imports.missing_imports(
            os.path.join(PROBES, "probe_getfilesizeex.exe"), EXPORTS, SYSTEMS)
        self.assertIn(("win98se", "KERNEL32.dll", "GetFileSizeEx"), faults)
        self.assertEqual({s for s, _, _ in faults}, {"win98se"})
        code, out = run_check(os.path.join(PROBES, "probe_getfilesizeex.exe"))
        self.assertEqual(code, 1)
        self.assertIn("KERNEL32.dll!GetFileSizeEx is not exported by Windows 98 SE", out)

    def test_probe_importing_shgetfolderpathw_is_rejected_for_98_only(self):
        faults = check_imports.missing_imports(
            os.path.join(PROBES, "probe_shgetfolderpath.exe"), EXPORTS, SYSTEMS)
        self.assertEqual(faults, [("win98se", "SHELL32.dll", "SHGetFolderPathW")])

    def test_probe_importing_initializeconditionvariable_is_rejected_for_xp(self):
        code, out = run_check(os.path.join(PROBES, "probe_condition_variable.exe"))
        self.assertEqual(code, 1)
        self.assertIn("KERNEL32.dll!InitializeConditionVariable is not exported by Windows XP SP3",
                      out)

    def test_probe_importing_vscprintf_is_rejected_before_xp(self):
        # msvcrt.dll of Windows XP added _vscprintf; mingw-w64 serves it from
        # static code, so only the probe's own import library imports it.
        faults = check_imports.missing_imports(
            os.path.join(PROBES, "probe_vscprintf.exe"), EXPORTS, SYSTEMS)
        self.assertEqual(faults, [("win98se", "msvcrt.dll", "_vscprintf"),
                                  ("win2000sp4", "msvcrt.dll", "_vscprintf")])

    def test_probe_importing_fseeki64_is_rejected_for_xp(self):
        code, out = run_check(os.path.join(PROBES, "probe_fseeki64.exe"))
        self.assertEqual(code, 1)
        self.assertIn("msvcrt.dll!_fseeki64 is not exported by Windows XP SP3", out)

    def test_lirrow_imports_no_w_function(self):
        # On Windows 95/98/ME a W function imported directly is a stub that
        # fails; lirrow reaches every one through its table, which it fills
        # from unicows.dll there.
        wide = check_imports.wide_imports(PROGRAMS["lirrow"])
        if wide:
            self.fail(f"lirrow.exe imports {len(wide)} W functions directly: "
                      + ", ".join(f"{dll}!{fn}" for dll, fn in wide))
        code, out = run_check("--no-wide", PROGRAMS["lirrow"])
        self.assertEqual(code, 0, out)

    def test_vornak_imports_no_w_function(self):
        # vornak is an ANSI program; the runtime's own W calls are served by
        # the ANSI functions, so nothing it imports is a 9x stub.
        wide = check_imports.wide_imports(PROGRAMS["vornak"])
        if wide:
            self.fail(f"vornak.exe imports {len(wide)} W functions directly: "
                      + ", ".join(f"{dll}!{fn}" for dll, fn in wide))

    def test_the_w_check_names_each_w_import(self):
        probe = os.path.join(PROBES, "probe_shgetfolderpath.exe")
        self.assertIn(("SHELL32.dll", "SHGetFolderPathW"), check_imports.wide_imports(probe))
        code, out = run_check("--no-wide", "--systems", "winxpsp3", probe)
        self.assertEqual(code, 1)
        self.assertIn("SHELL32.dll!SHGetFolderPathW is a W function imported directly", out)
        # Without the option the same program passes for XP.
        self.assertEqual(run_check("--systems", "winxpsp3", probe)[0], 0)

    def test_every_export_list_names_its_source(self):
        for system in os.listdir(EXPORTS):
            for name in os.listdir(os.path.join(EXPORTS, system)):
                with open(os.path.join(EXPORTS, system, name), encoding="utf-8") as f:
                    head = f.read(2000)
                self.assertIn("Source:", head, f"{system}/{name}")


class Derivation(unittest.TestCase):
    """The lists made from dated public sources: Windows 9x export tables,
    msvcrt.dll's exports by release, the kernel32 functions of later systems."""

    def test_lists_are_what_the_sources_make(self):
        for dll in derive_lists.WIN9X_TABLES:
            with open(os.path.join(EXPORTS, "win98se", dll + ".txt"), encoding="utf-8") as f:
                self.assertEqual(f.read(), derive_lists.win9x_list(dll), dll)

    def test_msvcrt_lists_are_what_the_release_groups_make(self):
        for system in SYSTEMS:
            with open(os.path.join(EXPORTS, system, "msvcrt.txt"), encoding="utf-8") as f:
                self.assertEqual(f.read(), derive_lists.msvcrt_list(system), system)

    def test_msvcrt_lists_grow_by_release(self):
        lists = [check_imports.load_list(os.path.join(EXPORTS, s, "msvcrt.txt")) for s in SYSTEMS]
        self.assertLess(lists[0], lists[1])
        self.assertLess(lists[1], lists[2])
        self.assertIn("_get_heap_handle", lists[1] - lists[0])  # 2000 SP4
        self.assertIn("__iob_func", lists[2] - lists[1])  # XP
        self.assertNotIn("_mkgmtime", lists[2])  # Server 2003

    def test_msvcrt_entries_count_for_the_i386_dll_only(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "msvcrt.def.in")
            with open(path, "w") as f:
                f.write("; This is list of symbols available in the original Microsoft Visual "
                        "C++ 4.2 version\n"
                        "plain DATA\nF_I386(only_i386)\nF_X64(only_x64)\n"
                        "atan2 F_X86_ANY(DATA)\n"
                        "#ifdef DEF_X64\n??0x64@@QEAA@XZ\n#endif\n"
                        "#ifdef DEF_I386\n??0x86@@QAE@XZ\n#endif\n"
                        "; These symbols were added in Windows XP OS system version\n"
                        "F_NON_I386(_vscprintf) ; i386 _vscprintf replaced by emu\n"
                        "F_NON_I386(acosf F_X86_ANY(DATA)) ; i386 acosf provided by emu\n"
                        "F_NON_I386(__C_specific_handler)\n"
                        "_ctime32 F_I386(== ctime) ; i386 _ctime32 replaced by alias\n")
            groups = derive_lists.msvcrt_groups(path)
        self.assertEqual([names for _, names in groups],
                         [["plain", "only_i386", "atan2", "??0x86@@QAE@XZ"],
                          ["_vscprintf", "_ctime32"]])

    def test_kernel32_lists_lack_what_later_systems_added(self):
        later = derive_lists.after_xp("kernel32")
        for name in ("GetCurrentProcessorNumber", "SetThreadStackGuarantee",
                     "WerRegisterMemoryBlock", "GetTickCount64"):
            self.assertIn(name, later)
        lists = {}
        for system in ("win2000sp4", "winxpsp3"):
            lists[system] = check_imports.load_list(os.path.join(EXPORTS, system, "kernel32.txt"))
            self.assertEqual(lists[system] & later, set(), system)
            self.assertIn("GetFileSizeEx", lists[system], system)
        xp = derive_lists.after_xp("kernel32", ".after-2000")
        self.assertIn("AttachConsole", xp)
        self.assertEqual(lists["win2000sp4"] & xp, set())
        self.assertLessEqual(xp, lists["winxpsp3"])

    def test_table_lines_of_the_original_files_are_read_too(self):
        with tempfile.NamedTemporaryFile("w", suffix=".exports", delete=False) as f:
            f.write("name\tcomctl32\ntype\twin32\n\n"
                    "  2 stdcall MenuHelp(long long long long long long ptr\n"
                    "                     long) MenuHelp\n"
                    " 10 stub COMCTL32_10\n"
                    "153 stub AddMRUStringA@8\n"
                    "183 cdecl ShellMessageBoxA(long long long str long long) ShellMessageBoxA\n"
                    "301 stub StrChrA # proper ordinal unknown\n"
                    "# later additions ... FIXME: incorrect ordinals\n"
                    "1218 stdcall -noname SHGetSpecialFolderPathA(long long long long) X\n")
        try:
            self.assertEqual(derive_lists.win9x_exports("comctl32", f.name),
                             {"MenuHelp", "AddMRUStringA", "ShellMessageBoxA"})
        finally:
            os.unlink(f.name)

    def test_approximations_say_so(self):
        for name in os.listdir(os.path.join(EXPORTS, "win98se")):
            dll = name[:-4]
            with open(os.path.join(EXPORTS, "win98se", name), encoding="utf-8") as f:
                head = f.read(2000)
            if dll not in derive_lists.WIN9X_TABLES and dll not in ("kernel32", "msvcrt"):
                self.assertIn("APPROXIMATION", head, name)
            else:
                self.assertNotIn("Wine 8", head, name)
        for name in os.listdir(os.path.join(EXPORTS, "win2000sp4")):
            with open(os.path.join(EXPORTS, "win2000sp4", name), encoding="utf-8") as f:
                head = f.read(2000)
            if "Wine 8" in head:
                self.assertIn("APPROXIMATION", head, name)


def loader_faults(image):
    """What the Windows 95/98/ME loader refuses in an image's headers."""
    faults = []
    if image.section_alignment != 0x1000:
        faults.append(f"SectionAlignment {image.section_alignment:#x}, not 0x1000")
    if image.file_alignment not in (0x200, 0x1000):
        faults.append(f"FileAlignment {image.file_alignment:#x}, not 0x200 or 0x1000")
    if image.win32_version != 0:
        faults.append(f"Win32VersionValue {image.win32_version:#x}, not 0")
    return faults


class Headers(unittest.TestCase):
    def test_programs_have_the_alignments_the_9x_loader_needs(self):
        for name, path in PROGRAMS.items():
            image = PeImage(path)
            self.assertEqual(loader_faults(image), [], name)
            # The fields as binutils reads them.
            dump = subprocess.run(["objdump", "-p", path], capture_output=True,
                                  text=True, check=True).stdout
            fields = dict(re.findall(r"^(SectionAlignment|FileAlignment|Win32Version)\s+(\w+)$",
                                     dump, re.M))
            self.assertEqual({k: int(v, 16) for k, v in fields.items()},
                             {"SectionAlignment": image.section_alignment,
                              "FileAlignment": image.file_alignment,
                              "Win32Version": image.win32_version}, name)

    def test_a_changed_header_is_refused(self):
        with open(PROGRAMS["vornak"], "rb") as f:
            data = bytearray(f.read())
        opt = struct.unpack_from("<I", data, 0x3C)[0] + 24
        struct.pack_into("<III", data, opt + 32, 0x2000, 0x400, 0)
        struct.pack_into("<I", data, opt + 52, 1)
        with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
            f.write(data)
        try:
            faults = loader_faults(PeImage(f.name))
        finally:
            os.unlink(f.name)
        self.assertEqual(faults, ["SectionAlignment 0x2000, not 0x1000",
                                  "FileAlignment 0x400, not 0x200 or 0x1000",
                                  "Win32VersionValue 0x1, not 0"])

    def test_every_imported_dll_has_an_export_list_for_every_system(self):
        for name, path in PROGRAMS.items():
            for dll in PeImage(path).imports():
                base = dll.lower()[:-4] if dll.lower().endswith(".dll") else dll.lower()
                for system in SYSTEMS:
                    self.assertTrue(os.path.exists(os.path.join(EXPORTS, system, base + ".txt")),
                                    f"{name}: {dll} has no export list for {system}")

    def test_programs_are_32_bit_gui_images_for_subsystem_4_0(self):
        for name, path in PROGRAMS.items():
            image = PeImage(path)
            self.assertEqual(image.machine, 0x14C, name)  # i386
            self.assertFalse(image.pe32plus, name)
            self.assertEqual(image.subsystem, 2, name)  # Windows GUI
            self.assertEqual((image.major_subsystem, image.minor_subsystem), (4, 0), name)
            self.assertEqual((image.major_os, image.minor_os), (4, 0), name)
            described = subprocess.run(["file", "-b", path], capture_output=True,
                                       text=True).stdout
            self.assertTrue(described.startswith("PE32 executable (GUI) Intel 80386"), described)


# Names the GUI tests set in the programs' environment (`--env NAME=...`),
# except the system's own, which Wine and the C runtime read.
SYSTEM_VARIABLES = {"LANG", "LC_ALL", "LOCPATH", "WINEDLLOVERRIDES"}
# Any name of the projects' test switches, set by a test or not.
TEST_NAME = re.compile(rb"(?:VORNAK|LIRROW)_TEST_[A-Z0-9_]+")


def names_tests_set():
    names = set()
    for script in glob.glob(os.path.join(HERE, "..", "gui", "**", "*.sh"), recursive=True):
        with open(script, encoding="utf-8") as f:
            names.update(re.findall(r"--env [\"']?([A-Z][A-Z0-9]*_[A-Z0-9_]+)=", f.read()))
    return names - SYSTEM_VARIABLES


def test_names_in(data, names):
    """The test names found in an image, as ASCII or UTF-16LE text."""
    found = set()
    for text in (data, data.decode("utf-16-le", "replace").encode("ascii", "replace"),
                 data[1:].decode("utf-16-le", "replace").encode("ascii", "replace")):
        found.update(m.decode() for m in TEST_NAME.findall(text))
        found.update(n for n in names if n.encode() in text)
    return found


class Switches(unittest.TestCase):
    """The shipped programs hold no test binding or switch: no name a test sets."""

    def test_the_tests_set_the_names_looked_for(self):
        names = names_tests_set()
        self.assertIn("VORNAK_TEST_DRIVES", names)
        self.assertIn("LIRROW_TEST_WINDOWS_9X", names)
        self.assertNotIn("LANG", names)

    def test_names_are_found_in_both_encodings(self):
        names = {"HH_RECORD"}
        self.assertEqual(test_names_in(b"\0x" + "HH_RECORD".encode("utf-16-le"), names),
                         {"HH_RECORD"})
        self.assertEqual(test_names_in(b"..LIRROW_TEST_OTHER\0", names), {"LIRROW_TEST_OTHER"})
        self.assertEqual(test_names_in(b"HH_RECOR\0D", names), set())

    def test_shipped_programs_hold_no_test_name(self):
        names = names_tests_set()
        found = {}
        for name, path in PROGRAMS.items():
            with open(path, "rb") as f:
                found[name] = sorted(test_names_in(f.read(), names))
        self.assertEqual(found, {name: [] for name in PROGRAMS}, "test names in shipped programs")


def icon_groups(image):
    """{group id: [(size, bits per pixel)]} of an image's icon groups, each
    image's depth read from the icon resource itself."""
    resources = image.resources()
    icons = {i: blob for (t, i, _), blob in resources.items() if t == 3}
    groups = {}
    for (t, gid, _), blob in resources.items():
        if t != 14:
            continue
        count = struct.unpack_from("<H", blob, 4)[0]
        entries = []
        for n in range(count):
            w, _, _, _, _, _, _, icon_id = struct.unpack_from("<BBBBHHIH", blob, 6 + 14 * n)
            header_size, width, _, _, bits = struct.unpack_from("<IiiHH", icons[icon_id])
            if header_size != 40 or width != (w or 256):
                raise ValueError(f"icon {icon_id}: not the image its group names")
            entries.append((w or 256, bits))
        groups[gid] = sorted(entries)
    return groups


class Icons(unittest.TestCase):
    """Windows 98 and 2000 draw an icon's alpha channel black: every size of
    every icon must also come as a palette image."""

    def test_every_icon_size_has_a_palette_image(self):
        for name, path in PROGRAMS.items():
            groups = icon_groups(PeImage(path))
            self.assertTrue(groups, name)
            for gid, entries in groups.items():
                for size in {s for s, _ in entries}:
                    self.assertTrue([b for s, b in entries if s == size and b <= 8],
                                    f"{name}: icon {gid} at {size} px has only {entries}")

    def test_vornak_icons_come_in_4_8_and_32_bits_at_16_and_32_pixels(self):
        groups = icon_groups(PeImage(PROGRAMS["vornak"]))
        self.assertEqual(sorted(groups), [128, 134, 135, 136, 137])
        for gid, entries in groups.items():
            self.assertEqual(entries, [(16, 4), (16, 8), (16, 32), (32, 4), (32, 8), (32, 32)],
                             f"icon {gid}")


class Manifests(unittest.TestCase):
    def manifest(self, name):
        image = PeImage(PROGRAMS[name])
        found = [blob for (t, i, _), blob in image.resources().items() if t == 24]
        self.assertEqual(len(found), 1, f"{name}: one RT_MANIFEST resource")
        ids = [i for (t, i, _) in image.resources() if t == 24]
        self.assertEqual(ids, [1], f"{name}: manifest id")
        return image, ET.fromstring(found[0])

    def check(self, name, level):
        image, root = self.manifest(name)
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        identity = root.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.get("type"), "win32")
        self.assertEqual(identity.get("version"), image.file_version(),
                         "manifest version matches the version resource")
        levels = root.findall(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                              f"{ASM_V3}requestedExecutionLevel")
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), level)
        self.assertEqual(levels[0].get("uiAccess"), "false")
        ids = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
        self.assertEqual(ids, SUPPORTED_OS)
        # System DPI awareness, in the namespaces Windows XP's parser accepts.
        aware = root.findall(f"{ASM_V3}application/{ASM_V3}windowsSettings/{DPI_2005}dpiAware")
        self.assertEqual([e.text for e in aware], ["true"])
        # The classic look: no common-controls 6 dependency.
        self.assertIsNone(root.find(ASM_V1 + "dependency"))

    def test_vornak_asks_for_administrator_rights(self):
        self.check("vornak", "requireAdministrator")

    def test_lirrow_runs_as_invoker(self):
        self.check("lirrow", "asInvoker")


if __name__ == "__main__":
    unittest.main()
