#!/usr/bin/env python3
"""Holds the oldest Windows FeedMarquee.dll supports: every function it imports must be in
imports_windows7.txt (beside this file) with a version no newer than Windows 7. A function of a
newer Windows imported by name would keep the DLL from loading at all on the older ones; such a
function is looked up at run time instead, with a fallback.

imports_test.py DLL"""
import os
import struct
import sys

OLDEST = "7"
ORDER = ["2000", "XP", "Vista", "7", "8", "8.1", "10"]


def read_imports(path):
    """(library, function) pairs of the PE file's import table; ordinals as "#N"."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE file")
    sections_count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        raise SystemExit(f"{path}: not a 32-bit PE file")
    directories = optional + 96
    import_rva, _ = struct.unpack_from("<II", data, directories + 8 * 1)
    delay_rva, _ = struct.unpack_from("<II", data, directories + 8 * 13)
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise SystemExit(f"{path}: address {rva:#x} lies in no section")

    def text(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii")

    if delay_rva:
        raise SystemExit(f"{path}: delay-loaded imports, which this test does not read")
    imports = []
    descriptor = offset(import_rva)
    while True:
        names, _, _, name, first = struct.unpack_from("<IIIII", data, descriptor)
        if name == 0:
            break
        library = text(name).upper()
        thunk = offset(names or first)
        while True:
            entry, = struct.unpack_from("<I", data, thunk)
            if entry == 0:
                break
            function = f"#{entry & 0xFFFF}" if entry & 0x80000000 else text(entry + 2)
            imports.append((library, function))
            thunk += 4
        descriptor += 20
    return imports


def read_list(path):
    listed = {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        library, function, version = line.split()
        if version != "shell" and version not in ORDER:
            raise SystemExit(f"{path}:{number}: unknown Windows version {version}")
        listed[(library.upper(), function)] = version
    return listed


def main():
    dll = sys.argv[1]
    listed = read_list(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "imports_windows7.txt"))
    imports = read_imports(dll)
    faults = []
    for library, function in imports:
        version = listed.get((library, function))
        if version is None:
            faults.append(f"{library} {function}: not in the list; look up its minimum "
                          "supported client and add it")
        elif version != "shell" and ORDER.index(version) > ORDER.index(OLDEST):
            faults.append(f"{library} {function}: needs Windows {version}; look it up at run "
                          "time with a fallback instead")
        elif version == "shell" and library != "BLACKBOX.EXE":
            faults.append(f"{library} {function}: listed as the shell's")
    if not faults:
        print(f"{len(imports)} imports of {len(set(l for l, _ in imports))} libraries, "
              f"all on Windows {OLDEST}")
    for fault in faults:
        print("FAIL", fault)
    return 1 if faults or not imports else 0


if __name__ == "__main__":
    sys.exit(main())
