#!/usr/bin/env python3
"""Compares the Windows probe's answers with the host probe's, line by line.

  compare_probes.py KNOWN WIN1 HOST1 [WIN2 HOST2 ...]

Each pair of files must have the same lines, except those listed in KNOWN:
lines of the form  FILE <TAB> WINDOWS LINE <TAB> HOST LINE  ('#' starts a
comment). Prints what it compared and every difference; exits 1 when a
difference is not listed or a listed one did not show.
"""
import difflib
import sys


def read_known(path):
    known = set()
    with open(path, encoding="latin-1") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) == 2:
                parts.append("")  # a line that only the system gives
            if len(parts) != 3:
                sys.exit(f"{path}: expected FILE<TAB>WINDOWS<TAB>HOST: {line!r}")
            known.add(tuple(parts))
    return known


def split_files(lines):
    """The lines of each "== FILE" block, in order."""
    blocks = []
    for line in lines:
        if line.startswith("== ") or not blocks:
            blocks.append((line[3:] if line.startswith("== ") else "?", []))
        blocks[-1][1].append(line)
    return blocks


def differences(win_path, host_path):
    """(FILE, system line, portable line) for every line that differs; a line
    that only one side has is paired with an empty one."""
    with open(win_path, encoding="latin-1") as f:
        win = split_files([l.rstrip("\r\n") for l in f])
    with open(host_path, encoding="latin-1") as f:
        host = split_files([l.rstrip("\r\n") for l in f])
    if [name for name, _ in win] != [name for name, _ in host]:
        print(f"MISMATCH: {win_path} and {host_path} do not list the same files")
        return None, 0
    found = []
    count = 0
    for (name, w), (_, h) in zip(win, host):
        count += max(len(w), len(h))
        matcher = difflib.SequenceMatcher(a=w, b=h, autojunk=False)
        for op, i1, i2, j1, j2 in matcher.get_opcodes():
            if op == "equal":
                continue
            for k in range(max(i2 - i1, j2 - j1)):
                found.append((name, w[i1 + k] if i1 + k < i2 else "", h[j1 + k] if j1 + k < j2 else ""))
    return found, count


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2 != 0:
        sys.exit(__doc__)
    known = read_known(sys.argv[1])
    seen = set()
    failed = False
    for i in range(2, len(sys.argv), 2):
        found, count = differences(sys.argv[i], sys.argv[i + 1])
        if found is None:
            failed = True
            continue
        files = sum(1 for _ in open(sys.argv[i], encoding="latin-1") if _.startswith("== "))
        print(f"{sys.argv[i].rsplit('/', 1)[-1]}: {count} lines for {files} files, {len(found)} differ")
        listed = {}
        for d in found:
            if d in known:
                seen.add(d)
                listed[d[0]] = listed.get(d[0], 0) + 1
            else:
                failed = True
                print(f"  MISMATCH in {d[0]}:\n    system:   {d[1]}\n    portable: {d[2]}")
        for name, n in sorted(listed.items()):
            print(f"  {n} listed difference(s) in {name}")
    for d in sorted(known - seen):
        failed = True
        print(f"  listed difference did not show in {d[0]}:\n    system:   {d[1]}\n    portable: {d[2]}")
    print("readers: FAILED" if failed else "readers: the portable readers answer as the system does")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
