#!/usr/bin/env python3
"""Reads the import tables of Windows programs and fails on any library that
Windows might take from the program's own folder.

usage: check_imports.py [--first-only DLL,...] PROGRAM...

Windows takes the libraries it lists as "known" (KnownDLLs) from the system
directory whoever asks; any other library named in a program's import table
is looked for first in the folder the program was started from, before the
program has run a single instruction. Every library a program imports, and
every one it delay-loads (when the delay-import directory is filled in), must
be one of ALWAYS_FROM_SYSTEM.

--first-only names, further, the only libraries the program may import for
its start: those resolved before its first instruction, when it has not yet
limited the library search. (Libraries loaded by the ones it imports are then
looked for with the program's folder first; delay-loaded ones are loaded after.)

Prints one line per program and library; exits 1 when any check fails, 2 when
a file cannot be read as a PE image.
"""
import struct
import sys

# Known libraries of every Windows version the programs run on (Vista on).
ALWAYS_FROM_SYSTEM = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
    "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
}

IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13


class BadImage(Exception):
    pass


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = self.u16(optional)
        if magic == 0x10B:
            self.image_base = self.u32(optional + 28)
            directories = optional + 96
            count = self.u32(optional + 92)
        elif magic == 0x20B:
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            directories = optional + 112
            count = self.u32(optional + 108)
        else:
            raise BadImage(f"unknown optional header magic {magic:#x}")
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        if offset < 0 or offset + 4 > len(self.data):
            raise BadImage(f"read past the end at {offset:#x}")
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for start, size, raw, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw + rva - start
        raise BadImage(f"address {rva:#x} is in no section")

    def text(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise BadImage(f"unterminated name at {rva:#x}")
        return self.data[start:end].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        rva, size = self.directory(IMPORT_DIRECTORY)
        names = []
        if rva == 0:
            return names
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and thunks == 0:
                return names
            names.append(self.text(name))
            at += 20

    def delay_imports(self):
        rva, size = self.directory(DELAY_IMPORT_DIRECTORY)
        names = []
        if rva == 0:
            return names
        at = self.offset(rva)
        while True:
            attributes, name = struct.unpack_from("<II", self.data, at)
            if name == 0:
                return names
            # Old linkers wrote addresses, not offsets from the image base.
            names.append(self.text(name if attributes & 1 else name - self.image_base))
            at += 32


def main(argv):
    first_only = None
    if len(argv) >= 2 and argv[0] == "--first-only":
        first_only = {n.strip().lower() for n in argv[1].split(",") if n.strip()}
        argv = argv[2:]
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for path in argv:
        try:
            with open(path, "rb") as f:
                image = Image(f.read())
            imports, delayed = image.imports(), image.delay_imports()
        except (OSError, BadImage, struct.error) as e:
            print(f"{path}: cannot read the import table: {e}", file=sys.stderr)
            return 2
        if not imports:
            print(f"{path}: no imports at all", file=sys.stderr)
            failed = True
        for kind, names in (("imports", imports), ("delay-loads", delayed)):
            for name in names:
                lowered = name.lower()
                if lowered not in ALWAYS_FROM_SYSTEM:
                    print(f"{path}: {kind} {name}, which Windows may take from the program's folder")
                    failed = True
                elif kind == "imports" and first_only is not None and lowered not in first_only:
                    print(f"{path}: imports {name} for its start; it must be loaded after the search is limited")
                    failed = True
                else:
                    print(f"{path}: {kind} {name}: ok")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
