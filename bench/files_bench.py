#!/usr/bin/env python3
"""Times Varnel's quiet uninstall against NSIS's uninstaller on the same tree.

Lays out a product of FILES files in FOLDERS folders inside the bench's own
throwaway Wine prefix, and for each of RUNS runs: lays the tree out afresh,
times `uninst.exe /S` (Varnel, payload packed by the payload writer's rules),
lays it out again, times the NSIS uninstaller (`/S _?=DIR`, so that it runs in
place) built by makensis with one Delete per file and one RMDir per folder.
Prints both medians and the ratio. Timing is wall-clock time of the whole
process under Wine, the way a user waits for it.

Usage: files_bench.py BED STUB_EXE VARNEL_TOOL [--files N] [--folders N] [--runs N]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "tests", "bed", "wine-run")


def wine(bed, *args):
    env = dict(os.environ, VARNEL_BED=bed)
    return subprocess.run([WINE_RUN, *args], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def tree(files, folders):
    per = max(1, files // folders)
    out = []
    for f in range(folders):
        folder = f"data\\set{f:03d}"
        for i in range(per if f < folders - 1 else files - per * (folders - 1)):
            out.append((folder, f"file{i:04d}.dat"))
    return out


def lay_out(root, entries):
    """Lays the tree out afresh under ROOT (its folders all start with "data")."""
    shutil.rmtree(os.path.join(root, "data"), ignore_errors=True)
    for folder, name in entries:
        d = os.path.join(root, *folder.split("\\"))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, name), "wb") as f:
            f.write(b"x" * 64)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("bed")
    p.add_argument("stub")
    p.add_argument("varnel")
    p.add_argument("--files", type=int, default=5000)
    p.add_argument("--folders", type=int, default=200)
    p.add_argument("--runs", type=int, default=5)
    a = p.parse_args()
    drive_c = os.path.join(a.bed, "prefix", "drive_c")
    work = os.path.join(a.bed, "work")
    os.makedirs(work, exist_ok=True)
    entries = tree(a.files, a.folders)
    folders = sorted({f for f, _ in entries})

    # Varnel: folders first, then their files; the pass goes from last to first.
    manifest = {"files": [{"folder": ".\\data"}]}
    for folder in folders:
        manifest["files"].append({"folder": ".\\" + folder})
        manifest["files"] += [{"folder": ".\\" + f, "name": n} for f, n in entries if f == folder]
    with open(os.path.join(work, "bench.json"), "w") as f:
        json.dump(manifest, f)
    varnel_exe = os.path.join(work, "uninst.exe")
    subprocess.run([a.varnel, "pack", os.path.join(work, "bench.json"), "-o", varnel_exe,
                    "--stub", a.stub], check=True, stdout=subprocess.DEVNULL)

    # NSIS: an installer that writes its uninstaller; the uninstaller deletes
    # each file and folder.
    nsi = ["Unicode false", "SetCompressor zlib", "Name Bench", "OutFile nsis-setup.exe",
           "RequestExecutionLevel user", "InstallDir C:\\bench\\nsis", "Section",
           "SetOutPath $INSTDIR", "WriteUninstaller $INSTDIR\\nsis-uninst.exe", "SectionEnd",
           "Section Uninstall"]
    nsi += [f'Delete "$INSTDIR\\{f}\\{n}"' for f, n in entries]
    nsi += [f'RMDir "$INSTDIR\\{f}"' for f in reversed(folders)]
    nsi += ['RMDir "$INSTDIR\\data"', "SectionEnd"]
    with open(os.path.join(work, "bench.nsi"), "w") as f:
        f.write("\n".join(nsi) + "\n")
    subprocess.run(["makensis", "-V1", "bench.nsi"], cwd=work, check=True)
    nsis_dir = os.path.join(drive_c, "bench", "nsis")
    shutil.rmtree(nsis_dir, ignore_errors=True)
    wine(a.bed, os.path.join(work, "nsis-setup.exe"), "/S")
    nsis_uninst = os.path.join(nsis_dir, "nsis-uninst.exe")
    if not os.path.exists(nsis_uninst):
        sys.exit("the NSIS installer did not write its uninstaller")

    varnel_dir = os.path.join(drive_c, "bench", "varnel")
    times = {"varnel": [], "nsis": []}
    for run in range(a.runs):
        lay_out(varnel_dir, entries)
        shutil.copy(varnel_exe, os.path.join(varnel_dir, "uninst.exe"))
        start = time.monotonic()
        wine(a.bed, "C:\\bench\\varnel\\uninst.exe", "/S")
        times["varnel"].append(time.monotonic() - start)
        left = sum(len(fs) for _, _, fs in os.walk(os.path.join(varnel_dir, "data")))
        if left:
            sys.exit(f"varnel left {left} files behind")

        lay_out(nsis_dir, entries)
        start = time.monotonic()
        wine(a.bed, "C:\\bench\\nsis\\nsis-uninst.exe", "/S", "_?=C:\\bench\\nsis")
        times["nsis"].append(time.monotonic() - start)
        left = sum(len(fs) for _, _, fs in os.walk(os.path.join(nsis_dir, "data")))
        if left:
            sys.exit(f"nsis left {left} files behind")
        print(f"run {run + 1}: varnel {times['varnel'][-1]:.3f} s, nsis {times['nsis'][-1]:.3f} s",
              flush=True)

    v, n = statistics.median(times["varnel"]), statistics.median(times["nsis"])
    print(f"{a.files} files in {a.folders} folders, median of {a.runs} runs:")
    print(f"  varnel uninst.exe /S   {v:.3f} s")
    print(f"  nsis uninstaller /S    {n:.3f} s")
    print(f"  ratio varnel / nsis    {v / n:.2f}")


if __name__ == "__main__":
    main()
