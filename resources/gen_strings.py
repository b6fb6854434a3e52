#!/usr/bin/env python3
"""Turns resources/strings.txt into the three forms the build needs.

  gen_strings.py strings.txt OUTDIR

writes OUTDIR/string_ids.h (the symbolic ids), OUTDIR/strings.rc (the
STRINGTABLE compiled into the executable) and OUTDIR/string_table.cpp (the
same texts for the portable build). Files are only rewritten when their
contents change, so a rebuild does not recompile everything.
"""
import os
import re
import sys

LINE = re.compile(r"^(\d+)\s+(IDS_[A-Z0-9_]+)\s+(.*)$")


def read_table(path):
    entries = []
    with open(path, encoding="ascii") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            m = LINE.match(line)
            if not m:
                sys.exit(f"{path}:{number}: expected 'id IDS_NAME text'")
            entries.append((int(m.group(1)), m.group(2), m.group(3)))
    ids = [e[0] for e in entries]
    names = [e[1] for e in entries]
    if len(set(ids)) != len(ids) or len(set(names)) != len(names):
        sys.exit(f"{path}: duplicate id or name")
    if ids != sorted(ids):
        sys.exit(f"{path}: ids must be in ascending order")
    return entries


def c_literal(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def rc_literal(text):
    # Resource compiler strings double an embedded quote; a backslash starts
    # an escape there as well.
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


def write_if_changed(path, text):
    try:
        with open(path, encoding="ascii") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    entries = read_table(sys.argv[1])
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)

    header = ["// Generated from resources/strings.txt; do not edit.",
              "#pragma once", "", "namespace zv {", "",
              "// Ids of the string table, by the names of resources/strings.txt: the",
              "// messages, pages and reports that show a text name it by its id.",
              "enum StringId : unsigned {"]
    header += [f"    {name} = {ident}," for ident, name, _ in entries]
    header += ["};", "", "}  // namespace zv", ""]
    write_if_changed(os.path.join(out, "string_ids.h"), "\n".join(header))

    rc = ["// Generated from resources/strings.txt; do not edit.",
          "STRINGTABLE", "BEGIN"]
    rc += [f"    {ident}, {rc_literal(text)}" for ident, _, text in entries]
    rc += ["END", ""]
    write_if_changed(os.path.join(out, "strings.rc"), "\n".join(rc))

    cpp = ["// Generated from resources/strings.txt; do not edit.",
           '#include "platform/string_table.h"', "", "namespace zv {", "",
           "const StringTableEntry kStringTable[] = {"]
    cpp += [f"    {{{ident}, {c_literal(name)}, {c_literal(text)}}},"
            for ident, name, text in entries]
    cpp += ["};", "",
            "const unsigned kStringTableSize = sizeof(kStringTable) / sizeof(kStringTable[0]);",
            "", "}  // namespace zv", ""]
    write_if_changed(os.path.join(out, "string_table.cpp"), "\n".join(cpp))


if __name__ == "__main__":
    main()
