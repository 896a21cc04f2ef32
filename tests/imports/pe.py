"""Reads what the checks need from a Windows PE image: the header fields, the
import table (by DLL, names and ordinals) and the resources (type, id) -> bytes.
Standard library only; refuses malformed files with ValueError."""

import struct


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        self.machine, nsect, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"{path}: unknown optional header magic {magic:#x}")
        self.pe32plus = magic == 0x20B
        (self.major_os, self.minor_os, _, _, self.major_subsystem, self.minor_subsystem) = \
            struct.unpack_from("<HHHHHH", d, opt + 40)
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        # Same offsets in PE32 and PE32+ (ImageBase grows into BaseOfData).
        self.section_alignment, self.file_alignment = struct.unpack_from("<II", d, opt + 32)
        self.win32_version = struct.unpack_from("<I", d, opt + 52)[0]
        dirs = opt + (112 if self.pe32plus else 96)
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(nsect):
            s = opt + optsize + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise ValueError(f"RVA {rva:#x} lies in uninitialised data")
                return rawptr + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        o = self.offset(rva)
        end = self.data.index(b"\0", o)
        return self.data[o:end].decode("ascii")

    def imports(self):
        """{dll name as written: [function name or '#ordinal']}"""
        rva, size = self.directories[1]
        result = {}
        if not rva:
            return result
        o = self.offset(rva)
        thunk_size, ordinal_flag = (8, 1 << 63) if self.pe32plus else (4, 1 << 31)
        fmt = "<Q" if self.pe32plus else "<I"
        while True:
            lookup, _, _, name_rva, iat = struct.unpack_from("<IIIII", self.data, o)
            if not (lookup or name_rva or iat):
                break
            dll = self.cstring(name_rva)
            names = result.setdefault(dll, [])
            t = self.offset(lookup or iat)
            while True:
                value = struct.unpack_from(fmt, self.data, t)[0]
                if not value:
                    break
                if value & ordinal_flag:
                    names.append(f"#{value & 0xFFFF}")
                else:
                    names.append(self.cstring((value & 0x7FFFFFFF) + 2))
                t += thunk_size
            o += 20
        return result

    def exports(self):
        """Names this image exports (a DLL's export table)."""
        rva, _ = self.directories[0]
        if not rva:
            return []
        o = self.offset(rva)
        count, names_rva = struct.unpack_from("<II", self.data, o + 24)[0], \
            struct.unpack_from("<I", self.data, o + 32)[0]
        names = []
        for i in range(count):
            name_rva = struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0]
            names.append(self.cstring(name_rva))
        return names

    def resources(self):
        """{(type id, name id, language id): bytes}; named entries use their string."""
        rva, _ = self.directories[2]
        result = {}
        if not rva:
            return result
        base = self.offset(rva)

        def entries(dir_offset):
            nnamed, nid = struct.unpack_from("<HH", self.data, base + dir_offset + 12)
            for i in range(nnamed + nid):
                name, target = struct.unpack_from("<II", self.data, base + dir_offset + 16 + 8 * i)
                if name & 0x80000000:
                    o = base + (name & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, o)[0]
                    key = self.data[o + 2:o + 2 + 2 * n].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        for type_key, t in entries(0):
            for name_key, n in entries(t & 0x7FFFFFFF):
                for lang_key, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise ValueError("resource tree deeper than three levels")
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    o = self.offset(data_rva)
                    result[(type_key, name_key, lang_key)] = self.data[o:o + size]
        return result

    def file_version(self):
        """FILEVERSION of the VS_VERSIONINFO resource as 'a.b.c.d', or None."""
        for (t, _, _), blob in self.resources().items():
            if t == 16:
                at = blob.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO signature
                if at < 0:
                    return None
                ms, ls = struct.unpack_from("<II", blob, at + 8)
                return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
        return None
