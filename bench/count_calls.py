#!/usr/bin/env python3
"""Counts the Win32 calls of a quiet uninstall, by name, per installed file.

Lays out a product of FILES files in FOLDERS folders (plus registry keys,
group entries and a wildcard pattern) in the bed's prefix, runs the test
build uninst_seam.exe /S with VARNEL_SEAM_LOG, and tallies the log. Does so
at FILES and at twice FILES: the difference between the two runs, divided by
FILES, is the cost of one more file (the fixed start-up and the other passes
cancel out), and the per-file figure at both sizes shows whether the cost is
linear.

Usage: count_calls.py BED SEAM_STUB VARNEL_TOOL [--files N] [--folders N]
"""
import argparse
import collections
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
WINE_RUN = os.path.join(ROOT, "tests", "bed", "wine-run")
LAY_OUT = os.path.join(ROOT, "scripts", "lay-out-product.py")
INSTALL = "C:\\count\\product"


def wine(bed, *args, env=None):
    return subprocess.run([WINE_RUN, *args], env=dict(os.environ, VARNEL_BED=bed, **(env or {})),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def manifest(files, folders):
    per = max(1, files // folders)
    entries = [{"folder": ".\\data"}]
    for f in range(folders):
        folder = f".\\data\\set{f:03d}"
        entries.append({"folder": folder})
        count = per if f < folders - 1 else files - per * (folders - 1)
        entries += [{"folder": folder, "name": f"file{i:04d}.dat"} for i in range(count)]
    menu = "C:\\count\\menu\\Count Product"
    return {
        "language": "none",
        "texts": {"0": "Count"},
        "files": entries,
        "groups": [{"folder": menu, "fileName": "Product.lnk", "levels": 1},
                   {"folder": menu, "fileName": "Help.lnk", "levels": 0}],
        "registry": [{"root": "HKCU", "key": f"Software\\VarnelCount\\Key{i}"} for i in range(4)] +
                    [{"root": "HKCU", "key": "Software\\VarnelCount", "value": "Extra"}],
        "patterns": ["data\\*.tmp"],
    }


def count(a, files):
    work = os.path.join(a.bed, "count")
    os.makedirs(work, exist_ok=True)
    drive_c = os.path.join(a.bed, "prefix", "drive_c")
    shutil.rmtree(os.path.join(drive_c, "count"), ignore_errors=True)
    path = os.path.join(work, "count.json")
    with open(path, "w") as f:
        json.dump(manifest(files, a.folders), f)
    product = os.path.join(drive_c, "count", "product")
    regs = subprocess.run([sys.executable, LAY_OUT, path, drive_c, product], check=True,
                          capture_output=True, text=True).stdout.splitlines()
    for line in regs:
        _, key, value = line.split("\t")
        wine(a.bed, "reg", "add", key, *(["/v", value] if value else []), "/f")
    subprocess.run([a.varnel, "pack", path, "-o", os.path.join(product, "uninst.exe"), "--stub",
                    a.stub], check=True, stdout=subprocess.DEVNULL)
    log = os.path.join(drive_c, "count", "seam.log")
    wine(a.bed, INSTALL + "\\uninst.exe", "/S", env={"VARNEL_SEAM_LOG": "C:\\count\\seam.log"})
    left = sum(len(fs) for _, _, fs in os.walk(os.path.join(product, "data")))
    if left:
        sys.exit(f"{left} files were left behind")
    with open(log, encoding="latin-1") as f:
        return collections.Counter(line.split("\t", 1)[0].strip() for line in f if line.strip())


def main():
    p = argparse.ArgumentParser()
    p.add_argument("bed")
    p.add_argument("stub")
    p.add_argument("varnel")
    p.add_argument("--files", type=int, default=500)
    p.add_argument("--folders", type=int, default=20)
    a = p.parse_args()
    small, large = count(a, a.files), count(a, 2 * a.files)
    runtime = {"malloc", "calloc", "realloc", "free"}  # the heap, not Win32
    print(f"{'call':<28}{a.files:>8}{2 * a.files:>8}  per added file")
    for group in (lambda n: n not in runtime, lambda n: n in runtime):
        names = [n for n in set(small) | set(large) if group(n)]
        for n in sorted(names, key=lambda n: (-(large[n] - small[n]), n)):
            print(f"{n:<28}{small[n]:>8}{large[n]:>8}  {(large[n] - small[n]) / a.files:.2f}")
        s, l = sum(small[n] for n in names), sum(large[n] for n in names)
        label = "all Win32 calls" if group("DeleteFileA") else "all heap calls"
        print(f"{label:<28}{s:>8}{l:>8}  {(l - s) / a.files:.2f}\n")
    print("The floor, one DeleteFileA a file: 1.00 Win32 call per added file.")

if __name__ == "__main__":
    main()
