#!/usr/bin/env python3
"""Lays out a product described by a varnel manifest, as its installer would.

Usage: lay-out-product.py MANIFEST DRIVE_C INSTALL_DIR

Creates every file and folder of the manifest's file list under INSTALL_DIR
(the host path of the installation folder inside a Wine prefix), the group
files and folders, and a few files that the wildcard patterns match. Prints
one line per registry entry to create: "reg<TAB>ROOT\\KEY<TAB>VALUE".
Paths may be relative to the installation folder (".", ".\\sub", or without
a drive) or absolute on drive C:.
"""
import json
import os
import sys


def host_path(path, drive_c, install_dir):
    path = path.replace("#InstallDir#", ".")
    if len(path) >= 2 and path[1] == ":":
        if path[0].upper() != "C":
            raise SystemExit(f"only drive C: exists in the prefix: {path}")
        return os.path.join(drive_c, *[p for p in path[2:].split("\\") if p])
    parts = [p for p in path.split("\\") if p and p != "."]
    return os.path.join(install_dir, *parts)


def main(manifest_path, drive_c, install_dir):
    with open(manifest_path, encoding="utf-8") as f:
        manifest = json.load(f)
    os.makedirs(install_dir, exist_ok=True)
    for entry in manifest.get("files", []):
        folder = host_path(entry.get("folder", "."), drive_c, install_dir)
        os.makedirs(folder, exist_ok=True)
        if entry.get("name"):
            with open(os.path.join(folder, entry["name"]), "w") as out:
                out.write(f"{entry['name']} of the sample product\n")
    for group in manifest.get("groups", []):
        for key in ("folder", "secondFolder"):
            if group.get(key):
                os.makedirs(host_path(group[key], drive_c, install_dir), exist_ok=True)
        if group.get("fileName"):
            target = os.path.join(host_path(group["folder"], drive_c, install_dir),
                                  group["fileName"])
            with open(target, "w") as out:
                out.write("shortcut\n")
    for pattern in manifest.get("patterns", []):
        folder, _, mask = pattern.rpartition("\\")
        folder = host_path(folder or ".", drive_c, install_dir)
        os.makedirs(folder, exist_ok=True)
        for n in (1, 2):
            name = mask.replace("*", f"match{n}").replace("?", "x")
            with open(os.path.join(folder, name), "w") as out:
                out.write("left behind by the product\n")
    for entry in manifest.get("registry", []):
        print(f"reg\t{entry['root']}\\{entry['key']}\t{entry.get('value', '')}")


if __name__ == "__main__":
    main(*sys.argv[1:4])
