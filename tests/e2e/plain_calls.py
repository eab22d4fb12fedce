#!/usr/bin/env python3
"""Lists every Win32 call in the executable's code that does not go through the seam.

Every call of a function exported by a system DLL is written W32(Name, ...)
and has a row in src/base/calls.h, except the few that start the program,
listed below with the reason. The Win32 names are those the import libraries
of the system DLLs export. Fails when a plain call is found, or a seam row is
never used. Usage: plain_calls.py SRC_DIR LIB_DIR NM
"""
import os
import re
import subprocess
import sys

# Plain calls allowed, by file: what runs before the seam can, or must not, be used.
EXEMPT = {
    # The entry point: the process's own handle and command line, and its end.
    "driver/entry.cpp": {"GetModuleHandleA", "GetCommandLineA", "ExitProcess"},
    # The platform, read before anything else; it decides the families' ways.
    "driver/driver.cpp": {"GetVersionExA"},
    # The seam's late rows are looked up in their libraries.
    "base/calls.cpp": {"GetModuleHandleA", "GetProcAddress", "LoadLibraryA", "GetSystemDirectoryA",
                       "GetEnvironmentVariableA"},
}
# The seam's own machinery (the test build's rules and log) calls the platform directly.
NOT_SCANNED = {"base/seam.cpp", "base/seam.h"}
LIBRARIES = ["kernel32", "user32", "gdi32", "advapi32", "shell32", "ole32", "comctl32", "uxtheme"]


def win32_names(lib_dir, nm):
    names = set()
    for lib in LIBRARIES:
        path = os.path.join(lib_dir, "lib%s.a" % lib)
        if not os.path.exists(path):
            continue
        out = subprocess.run([nm, "-g", "--defined-only", path], capture_output=True,
                             text=True, check=True).stdout
        for line in out.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[1] == "T":
                names.add(re.sub(r"@\d+$", "", fields[2].lstrip("_")))
    return names


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"'(\\.|[^'\\])'", "''", text)
    text = re.sub(r'"(\\.|[^"\\])*"', '""', text)
    return re.sub(r"//[^\n]*", "", text)


def main(src, lib_dir, nm):
    names = win32_names(lib_dir, nm)
    rows = set(re.findall(r"^CALL\(\w+, (\w+),", open(os.path.join(src, "base/calls.h")).read(),
                          re.M))
    call = re.compile(r"(?<![\w.>])(" + "|".join(sorted(names, key=len, reverse=True)) +
                      r")\s*\(")
    seamed = re.compile(r"\bW32\(\s*(\w+)")
    plain, used = [], set()
    for folder, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            text = without_comments(open(path, encoding="utf-8").read())
            used.update(seamed.findall(text))
            if rel in NOT_SCANNED or rel == "base/calls.h":
                continue
            for m in call.finditer(text):
                if m.group(1) not in EXEMPT.get(rel, set()):
                    line = text.count("\n", 0, m.start()) + 1
                    plain.append("%s:%d: %s" % (rel, line, m.group(1)))
    for p in plain:
        print("plain call:", p)
    unused = sorted(rows - used)
    for u in unused:
        print("seam row never used:", u)
    print("%d seam rows, %d plain calls, %d unused rows" % (len(rows), len(plain), len(unused)))
    return 1 if plain or unused else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
