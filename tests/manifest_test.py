#!/usr/bin/env python3
"""Checks the updater's application manifest: Windows refuses to start a
program whose manifest is not well-formed XML, so the file is parsed here; it
must ask for administrator rights, name the supported Windows versions and
ask for no newer common controls (the classic look). Given the built
program, checks that the manifest is in it as resource 1 of type 24.

  manifest_test.py MANIFEST [ZVUPDATE_EXE]
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

MANIFEST = None
PROGRAM = None

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
WINDOWS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10",
}


def resource(exe, type_id, name_id):
    """The bytes of resource (type_id, name_id) of the first language, or None."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections = struct.unpack_from("<H", exe, pe + 6)[0]
    optional = struct.unpack_from("<H", exe, pe + 20)[0]
    magic = struct.unpack_from("<H", exe, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", exe, directories + 2 * 8)[0]
    table = pe + 24 + optional
    for k in range(sections):
        at = table + 40 * k
        size, rva, raw_size, raw = struct.unpack_from("<IIII", exe, at + 8)
        if rva <= rsrc_rva < rva + max(size, raw_size):
            base = raw + (rsrc_rva - rva)
            break
    else:
        return None

    def entries(offset):
        named, ids = struct.unpack_from("<HH", exe, base + offset + 12)
        for n in range(named + ids):
            key, target = struct.unpack_from("<II", exe, base + offset + 16 + 8 * n)
            yield key, target

    def find(offset, key):
        for k, target in entries(offset):
            if k == key:
                return target
        return None

    level = find(0, type_id)
    if level is None or not level & 0x80000000:
        return None
    level = find(level & 0x7FFFFFFF, name_id)
    if level is None or not level & 0x80000000:
        return None
    data = next(entries(level & 0x7FFFFFFF))[1]
    data_rva, data_size = struct.unpack_from("<II", exe, base + data)
    return exe[base + data_rva - rsrc_rva: base + data_rva - rsrc_rva + data_size]


class ManifestTest(unittest.TestCase):
    def setUp(self):
        with open(MANIFEST, "rb") as f:
            self.text = f.read()
        self.root = ET.fromstring(self.text)

    def test_asks_for_administrator_rights(self):
        levels = self.root.findall(
            f"{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/{{{ASM_V3}}}requestedPrivileges/"
            f"{{{ASM_V3}}}requestedExecutionLevel")
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "requireAdministrator")
        self.assertEqual(levels[0].get("uiAccess"), "false")

    def test_names_the_supported_windows_versions(self):
        ids = [e.get("Id") for e in self.root.iter(f"{{{COMPAT}}}supportedOS")]
        self.assertEqual(sorted(WINDOWS[i] for i in ids), sorted(WINDOWS.values()))

    def test_keeps_the_classic_look(self):
        for identity in self.root.iter(f"{{{ASM_V1}}}assemblyIdentity"):
            self.assertNotIn("Common-Controls", identity.get("name", ""))
        self.assertEqual(list(self.root.iter(f"{{{ASM_V1}}}dependency")), [])

    @unittest.skipUnless(len(sys.argv) > 2, "no built program given")
    def test_the_program_carries_it(self):
        with open(PROGRAM, "rb") as f:
            exe = f.read()
        self.assertEqual(resource(exe, 24, 1), self.text)


if __name__ == "__main__":
    MANIFEST = sys.argv[1]
    PROGRAM = sys.argv[2] if len(sys.argv) > 2 else None
    unittest.main(argv=sys.argv[:1])
