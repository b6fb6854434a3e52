"""Makes a delay-import library for a system DLL from its import library.

usage: delay_import_lib.py NM DLLTOOL IMPORT_LIB DLL_NAME BITS OUTPUT

A program linked against the result loads DLL_NAME at the first call of one of
its functions instead of when it starts. The exports are read from the import
library's __imp_ symbols (with their stdcall decorations on 32-bit, whose
imports are then made by undecorated name, as the system DLL exports them).
"""
import os
import subprocess
import sys


def main():
    nm, dlltool, import_lib, dll_name, bits, output = sys.argv[1:]
    prefix = "__imp__" if bits == "32" else "__imp_"
    listing = subprocess.run([nm, import_lib], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] == "I" and fields[2].startswith(prefix):
            names.add(fields[2][len(prefix):])
    if not names:
        sys.exit(f"delay_import_lib: no imports found in {import_lib}")
    definition = output + ".def"
    with open(definition, "w") as f:
        f.write(f"LIBRARY {dll_name}\nEXPORTS\n")
        for name in sorted(names):
            f.write(f"  {name}\n")
    # Run beside the output, named without its folder: dlltool names the
    # library's members after it.
    folder, name = os.path.split(os.path.abspath(output))
    command = [dlltool, "--input-def", os.path.basename(definition), "--dllname", dll_name, "--output-delaylib", name]
    if bits == "32":
        command.append("--kill-at")
    if os.path.exists(output):
        os.remove(output)
    subprocess.run(command, check=True, cwd=folder)


if __name__ == "__main__":
    main()
