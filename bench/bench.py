#!/usr/bin/env python3
"""The whole-uninstall benchmark: Varnel against NSIS, Windows Installer and
the floor, on the same generated product, in throwaway Wine beds.

The product of size N: N files of 64 bytes in N/25 folders under data\\, 200
registry keys with two values each under HKCU\\Software\\Bench-CONTENDER, 20
group entries (Start-menu shortcuts in Programs\\Bench-CONTENDER) and five
patterns over a cache folder of 50 files. Each contender has its own
installation folder C:\\bench\\CONTENDER and removes the same product:

  varnel  uninst.exe /S with the product's payload packed by varnel
  varnel-log  the same with its uninstall log (/S /L=FILE)
  nsis    the uninstaller makensis builds, one command per item, /S _?=DIR
  msi     msiexec /x /qn of an MSI built by wixl, installed by msiexec /i /qn
  floor   a program made for the product that only calls DeleteFileA,
          RemoveDirectoryA and RegDeleteKeyA once per item, with no checks

Every run lays the product out afresh (the MSI's by msiexec /i), times the
whole Wine process as a user waits for it, and checks that nothing of the
product is left. Contenders alternate, in an order that turns each run.
Each size is measured twice: cold, as a lone program meets Wine (its first
window starts Wine's desktop process, which the floor never pays for), and
warm, with one windowed program kept open in the bed for the whole pass, as
the shell's desktop always runs on Windows.

Usage: bench.py [--sizes 500,5000,50000] [--runs 3] [--big-runs 3]
                [--kinds win32,win64] [--out build/bench] [--plot docs/bench.png]
"""
import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BED_TOOLS = os.path.join(ROOT, "tests", "bed")
CONTENDERS = ["varnel", "varnel-log", "nsis", "msi", "floor"]
LABELS = {"varnel": "Varnel /S", "varnel-log": "Varnel /S /L", "nsis": "NSIS /S",
          "msi": "msiexec /x /qn", "floor": "floor"}
PASSES = ["cold", "warm"]
FILES_PER_FOLDER = 25
REGISTRY_KEYS = 200
GROUP_ENTRIES = 20
PATTERNS = ["*.tmp", "*.log", "*.bak", "thumb*.db", "~*.dat"]
CACHE_PER_PATTERN = 10
CAPTION = "Varnel Bench"
BIG = 50000  # sizes from here on use --big-runs


def cache_names():
    names = []
    for mask in PATTERNS:
        for k in range(CACHE_PER_PATTERN):
            names.append(mask.replace("*", f"c{k:02d}"))
    return names


class Product:
    """The product of one size, as each contender names it."""

    def __init__(self, n, programs):
        self.n = n
        self.programs = programs  # Windows path of the Start menu's Programs folder
        folders = max(1, n // FILES_PER_FOLDER)
        self.folders = [f"data\\set{f:04d}" for f in range(folders)]
        self.files = []
        for f, folder in enumerate(self.folders):
            count = FILES_PER_FOLDER if f < folders - 1 else n - FILES_PER_FOLDER * (folders - 1)
            self.files += [(folder, f"file{i:04d}.dat") for i in range(count)]
        self.cache = cache_names()
        self.groups = [f"Entry {g:02d}.lnk" for g in range(GROUP_ENTRIES)]
        self.keys = [f"Key{k:03d}" for k in range(REGISTRY_KEYS)]

    def install_dir(self, who):
        return f"C:\\bench\\{who}"

    def group_dir(self, who):
        return f"{self.programs}\\Bench-{who}"

    def reg_parent(self, who):
        return f"Software\\Bench-{who}"


def win_to_host(drive_c, path):
    assert path[:3].upper() == "C:\\", path
    return os.path.join(drive_c, *path[3:].split("\\"))


# ----- building the contenders ---------------------------------------------


def build_varnel(p, work, stub, varnel, who="varnel"):
    files = [{"folder": ".\\data"}]
    for folder in p.folders:
        files.append({"folder": ".\\" + folder})
    files += [{"folder": ".\\" + f, "name": n} for f, n in p.files]
    files.append({"folder": ".\\cache"})
    reg = [{"root": "HKCU", "key": p.reg_parent(who) + "\\" + k} for k in p.keys]
    reg.append({"root": "HKCU", "key": p.reg_parent(who)})
    manifest = {
        "language": "English",
        "texts": {"caption": CAPTION},
        "files": files,
        "groups": [{"folder": p.group_dir(who), "fileName": g, "levels": 0}
                   for g in p.groups],
        "registry": reg,
        "patterns": ["cache\\" + m for m in PATTERNS],
    }
    return pack(manifest, work, who + ".exe", stub, varnel)


def pack(manifest, work, name, stub, varnel):
    source = os.path.join(work, name + ".json")
    with open(source, "w") as f:
        json.dump(manifest, f)
    exe = os.path.join(work, name)
    subprocess.run([varnel, "pack", source, "-o", exe, "--stub", stub], check=True,
                   stdout=subprocess.DEVNULL)
    return exe


def build_nsis(p, work):
    d = p.install_dir("nsis")
    nsi = ["Unicode false", "SetCompressor zlib", "Name Bench", "OutFile nsis-setup.exe",
           "RequestExecutionLevel user", f"InstallDir {d}", "Section", "SetOutPath $INSTDIR",
           "WriteUninstaller $INSTDIR\\nsis-uninst.exe", "SectionEnd", "Section Uninstall"]
    nsi += [f'Delete "$INSTDIR\\{f}\\{n}"' for f, n in p.files]
    nsi += [f'RMDir "$INSTDIR\\{f}"' for f in reversed(p.folders)]
    nsi += ['RMDir "$INSTDIR\\data"']
    nsi += [f'Delete "$INSTDIR\\cache\\{m}"' for m in PATTERNS]
    nsi += ['RMDir "$INSTDIR\\cache"']
    nsi += [f'Delete "{p.group_dir("nsis")}\\{g}"' for g in p.groups]
    nsi += [f'RMDir "{p.group_dir("nsis")}"']
    nsi += [f'DeleteRegKey HKCU "{p.reg_parent("nsis")}\\{k}"' for k in p.keys]
    nsi += [f'DeleteRegKey HKCU "{p.reg_parent("nsis")}"', "SectionEnd"]
    with open(os.path.join(work, "bench.nsi"), "w") as f:
        f.write("\n".join(nsi) + "\n")
    subprocess.run(["makensis", "-V1", "bench.nsi"], cwd=work, check=True)
    return os.path.join(work, "nsis-setup.exe")


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def build_floor(p, work):
    d = p.install_dir("floor")
    files = [f"{d}\\{f}\\{n}" for f, n in p.files] + [f"{d}\\cache\\{c}" for c in p.cache]
    files += [f"{p.group_dir('floor')}\\{g}" for g in p.groups]
    dirs = [f"{d}\\{f}" for f in reversed(p.folders)]
    dirs += [f"{d}\\data", f"{d}\\cache", p.group_dir("floor")]
    keys = [f"{p.reg_parent('floor')}\\{k}" for k in p.keys] + [p.reg_parent("floor")]

    def table(name, items):
        return (f"static const char *const {name}[] = {{\n" +
                ",\n".join(c_string(i) for i in items) + "};\n")

    src = ("#include <windows.h>\n" + table("files", files) + table("dirs", dirs) +
           table("keys", keys) +
           "int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {\n"
           "    for (const char *f : files) DeleteFileA(f);\n"
           "    for (const char *d : dirs) RemoveDirectoryA(d);\n"
           "    for (const char *k : keys) RegDeleteKeyA(HKEY_CURRENT_USER, k);\n"
           "    return 0;\n}\n")
    with open(os.path.join(work, "floor.cpp"), "w") as f:
        f.write(src)
    exe = os.path.join(work, "floor.exe")
    subprocess.run(["i686-w64-mingw32-g++", "-O2", "-mwindows", "-s", "-static", "floor.cpp",
                    "-o", "floor.exe"], cwd=work, check=True)
    return exe


def build_msi(p, work):
    """A WiX source for wixl: one component per folder of 25 files (fewer,
    larger components install and remove far faster under Wine), the cache
    files as installed files (wixl has no RemoveFile), the registry values,
    and the shortcuts."""
    os.makedirs(os.path.join(work, "src"), exist_ok=True)
    with open(os.path.join(work, "src", "x.dat"), "wb") as f:
        f.write(b"x" * 64)
    group_name = p.group_dir("msi").rsplit("\\", 1)[1]
    out = ['<?xml version="1.0" encoding="utf-8"?>',
           '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
           '<Product Id="*" Name="Bench" Language="1033" Version="1.0.0" Manufacturer="Bench" '
           'UpgradeCode="6d1a3c7e-2b4f-4e0a-9b8c-5f1e2d3c4b5a">',
           '<Package InstallerVersion="200" Compressed="yes"/>',
           '<Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>',
           '<Directory Id="TARGETDIR" Name="SourceDir">',
           '<Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="Bench">',
           '<Directory Id="DATA" Name="data">']
    comps = []
    by_folder = {}
    for f, n in p.files:
        by_folder.setdefault(f, []).append(n)
    for i, folder in enumerate(p.folders):
        out.append(f'<Directory Id="d{i}" Name="{folder.split(chr(92))[1]}">'
                   f'<Component Id="c{i}" Guid="*">')
        for j, n in enumerate(by_folder.get(folder, [])):
            key = ' KeyPath="yes"' if j == 0 else ""
            out.append(f'<File Id="f{i}_{j}" Name="{n}" Source="src/x.dat"{key}/>')
        out.append("</Component></Directory>")
        comps.append(f"c{i}")
    out.append('</Directory><Directory Id="CACHE" Name="cache"><Component Id="cache" Guid="*">')
    out += [f'<File Id="k{j}" Name="{c}" Source="src/x.dat"/>' for j, c in enumerate(p.cache)]
    out.append("</Component></Directory>")
    comps.append("cache")
    parent = p.reg_parent("msi")
    out.append('<Component Id="reg" Guid="*">')
    for k in p.keys:
        out.append(f'<RegistryKey Root="HKCU" Key="{parent}\\{k}">'
                   f'<RegistryValue Name="path" Type="string" Value="[INSTALLDIR]"/>'
                   f'<RegistryValue Name="count" Type="integer" Value="1"/></RegistryKey>')
    out.append(f'<RegistryValue Root="HKCU" Key="{parent}" Name="installed" Type="integer" '
               'Value="1" KeyPath="yes"/></Component>')
    comps.append("reg")
    out.append("</Directory></Directory>")
    out.append(f'<Directory Id="ProgramMenuFolder"><Directory Id="GROUP" Name="{group_name}">'
               '<Component Id="group" Guid="*">')
    for g, name in enumerate(p.groups):
        out.append(f'<Shortcut Id="s{g}" Name="{name[:-4]}" '
                   'Target="[INSTALLDIR]data\\set0000\\file0000.dat" WorkingDirectory="INSTALLDIR"/>')
    out.append(f'<RemoveFolder Id="rmgroup" On="uninstall"/><RegistryValue Root="HKCU" '
               f'Key="{parent}" Name="menu" Type="integer" Value="1" KeyPath="yes"/>'
               "</Component></Directory></Directory>")
    comps.append("group")
    out.append('</Directory><Feature Id="all" Level="1">' +
               "".join(f'<ComponentRef Id="{c}"/>' for c in comps) + "</Feature></Product></Wix>")
    with open(os.path.join(work, "bench.wxs"), "w") as f:
        f.write("\n".join(out) + "\n")
    exe = os.path.join(work, "bench.msi")
    subprocess.run(["wixl", "-o", "bench.msi", "bench.wxs"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return exe


# ----- the bed ---------------------------------------------------------------


class Bed:
    def __init__(self, path, kind):
        self.path, self.kind = path, kind
        subprocess.run([os.path.join(BED_TOOLS, "setup.sh"), path, kind], check=True,
                       stdout=subprocess.DEVNULL)
        self.env = dict(os.environ)
        with open(os.path.join(path, "env")) as f:
            for line in f:
                name, _, value = shlex.split(line)[1].partition("=")
                self.env[name] = value
        with open(os.path.join(path, "wine")) as f:
            self.wine = f.read().strip().partition("=")[2]
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")
        # wine-run checks once that the prefix has no way out; the timed runs
        # then start Wine in the sealed bed directly, without its copies.
        if self.guarded("cmd", "/c", "exit") != 0:
            sys.exit(f"the {kind} bed refuses to run programs")
        users = [u for u in os.listdir(os.path.join(self.drive_c, "users"))
                 if u.lower() != "public"]
        self.programs = ("C:\\users\\" + users[0] +
                         "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs")

    def guarded(self, *args):
        return subprocess.run([os.path.join(BED_TOOLS, "wine-run"), *args], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def run(self, *args):
        """Runs a Windows program in the bed; returns (seconds, exit code, output).
        Output goes through files: Wine's service processes would hold a pipe."""
        out_path = os.path.join(self.path, "tmp", "bench.out")
        with open(out_path, "w") as out:
            start = time.monotonic()
            code = subprocess.run([os.path.join(BED_TOOLS, "in-bed"), self.wine, *args],
                                  env=self.env, cwd=self.drive_c, stdout=out,
                                  stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL).returncode
            seconds = time.monotonic() - start
        with open(out_path) as f:
            return seconds, code, f.read()

    def put(self, host_file, win_path):
        target = win_to_host(self.drive_c, win_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(host_file, target)

    def teardown(self):
        subprocess.run([os.path.join(BED_TOOLS, "teardown.sh"), self.path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# ----- one size in one bed ---------------------------------------------------


def write_reg(bed, p, who):
    lines = ["REGEDIT4", ""]
    for k in p.keys:
        lines += [f"[HKEY_CURRENT_USER\\{p.reg_parent(who)}\\{k}]", '"path"="C:\\\\bench"',
                  '"count"=dword:00000001', ""]
    path = win_to_host(bed.drive_c, f"C:\\bench\\keys-{who}.reg")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    return f"C:\\bench\\keys-{who}.reg"


def lay_out(bed, p, who):
    """Lays out afresh what the installer of WHO would have left."""
    root = win_to_host(bed.drive_c, p.install_dir(who))
    for sub in ("data", "cache"):
        shutil.rmtree(os.path.join(root, sub), ignore_errors=True)
    payload = b"x" * 64
    made = set()
    for folder, name in p.files:
        d = os.path.join(root, *folder.split("\\"))
        if d not in made:
            os.makedirs(d, exist_ok=True)
            made.add(d)
        with open(os.path.join(d, name), "wb") as f:
            f.write(payload)
    os.makedirs(os.path.join(root, "cache"), exist_ok=True)
    for c in p.cache:
        with open(os.path.join(root, "cache", c), "wb") as f:
            f.write(payload)
    group = win_to_host(bed.drive_c, p.group_dir(who))
    os.makedirs(group, exist_ok=True)
    for g in p.groups:
        with open(os.path.join(group, g), "wb") as f:
            f.write(b"shortcut\n")
    seconds, code, _ = bed.run("regedit", "/S", f"C:\\bench\\keys-{who}.reg")
    if code != 0:
        sys.exit(f"cannot lay out the registry keys for {who}")


def left_behind(bed, p, who):
    """What of the product is still there after WHO's run."""
    left = []
    root = win_to_host(bed.drive_c, p.install_dir(who))
    for sub in ("data", "cache"):
        d = os.path.join(root, sub)
        if os.path.exists(d):
            count = sum(len(ds) + len(fs) for _, ds, fs in os.walk(d)) + 1
            left.append(f"{count} files and folders in {sub}")
    if os.path.exists(win_to_host(bed.drive_c, p.group_dir(who))):
        left.append("the group folder")
    _, code, _ = bed.run("reg", "query", "HKCU\\" + p.reg_parent(who))
    if code == 0:
        left.append("registry keys")
    return left


def prepare(bed, p, who, built):
    if who == "msi":
        _, code, _ = bed.run("msiexec", "/i", "C:\\bench\\bench.msi", "/qn",
                             "INSTALLDIR=C:\\bench\\msi\\")
        if code != 0:
            sys.exit(f"msiexec /i failed ({code})")
        root = win_to_host(bed.drive_c, p.install_dir("msi"))
        count = sum(len(fs) for _, _, fs in os.walk(os.path.join(root, "data")))
        if count != p.n:
            sys.exit(f"msiexec /i installed {count} of {p.n} files")
        group = win_to_host(bed.drive_c, p.group_dir("msi"))
        shortcuts = len(os.listdir(group)) if os.path.isdir(group) else 0
        if shortcuts != len(p.groups):
            sys.exit(f"msiexec /i made {shortcuts} of {len(p.groups)} shortcuts")
        return
    lay_out(bed, p, who)
    if who.startswith("varnel"):
        bed.put(built[who], f"C:\\bench\\{who}\\uninst.exe")
        os.makedirs(win_to_host(bed.drive_c, "C:\\bench\\logs"), exist_ok=True)


def command(who):
    return {"varnel": ["C:\\bench\\varnel\\uninst.exe", "/S"],
            "varnel-log": ["C:\\bench\\varnel-log\\uninst.exe", "/S",
                           "/L=C:\\bench\\logs\\varnel.log"],
            "nsis": ["C:\\bench\\nsis\\nsis-uninst.exe", "/S", "_?=C:\\bench\\nsis"],
            "msi": ["msiexec", "/x", "C:\\bench\\bench.msi", "/qn",
                    "INSTALLDIR=C:\\bench\\msi\\"],
            "floor": ["C:\\bench\\bin\\floor.exe"]}[who]


def bench_size(bed, p, built, runs, contenders, log):
    bed.put(built["msi"], "C:\\bench\\bench.msi")
    bed.put(built["floor"], "C:\\bench\\bin\\floor.exe")
    bed.put(built["nsis"], "C:\\bench\\bin\\nsis-setup.exe")
    shutil.rmtree(win_to_host(bed.drive_c, p.install_dir("nsis")), ignore_errors=True)
    bed.run("C:\\bench\\bin\\nsis-setup.exe", "/S")
    if not os.path.exists(win_to_host(bed.drive_c, "C:\\bench\\nsis\\nsis-uninst.exe")):
        sys.exit("the NSIS installer did not write its uninstaller")
    for who in contenders:
        write_reg(bed, p, who)
    times = {who: [] for who in contenders}
    for run in range(runs):
        order = contenders[run % len(contenders):] + contenders[:run % len(contenders)]
        untimed = time.monotonic()
        for who in order:
            prepare(bed, p, who, built)
            seconds, code, _ = bed.run(*command(who))
            if code != 0:
                sys.exit(f"{bed.kind} N={p.n}: {who} exited with {code}")
            left = left_behind(bed, p, who)
            if left:
                sys.exit(f"{bed.kind} N={p.n}: {who} left " + ", ".join(left))
            times[who].append(seconds)
        untimed = time.monotonic() - untimed - sum(times[w][-1] for w in contenders)
        log(f"  {bed.kind} N={p.n} run {run + 1}/{runs}: " +
            ", ".join(f"{w} {times[w][-1]:.2f} s" for w in contenders) +
            f" (laying out and checking: {untimed:.0f} s)")
    return {who: statistics.median(t) for who, t in times.items()}


class Keeper:
    """One windowed program kept open in the bed (a message box nobody
    answers), so that every contender finds Wine's desktop process running."""

    def __init__(self, bed, helper):
        bed.put(helper, "C:\\bench\\bin\\keeper.exe")
        self.bed = bed
        self.out = open(os.path.join(bed.path, "tmp", "keeper.out"), "w")
        self.process = subprocess.Popen(
            [os.path.join(BED_TOOLS, "in-bed"), bed.wine, "C:\\bench\\bin\\keeper.exe",
             CAPTION + " keeper"], env=bed.env, cwd=bed.drive_c, stdout=self.out,
            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        time.sleep(3)  # its window is up, and the desktop process with it

    def close(self):
        self.bed.run("taskkill", "/f", "/im", "keeper.exe")
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.out.close()


def bench_extras(bed, p, built, helpers, reps, log):
    """Peak working set of Varnel at size N, and the time to its confirmation
    box beside a program that only shows a message box."""
    for name, path in helpers.items():
        bed.put(path, f"C:\\bench\\bin\\{name}.exe")

    def peak_of(program):
        _, code, out = bed.run("C:\\bench\\bin\\bench_launch.exe", "peak", program, "/S")
        fields = out.split()
        if code != 0 or len(fields) < 4 or fields[0] != "peak":
            sys.exit(f"bench_launch peak failed: {out!r}")
        return int(fields[1])

    # The same uninstaller with an empty product: what Wine and the program
    # take before any entry.
    bed.put(built["empty"], "C:\\bench\\empty\\uninst.exe")
    empty = peak_of("C:\\bench\\empty\\uninst.exe")
    prepare(bed, p, "varnel", built)
    peak = peak_of("C:\\bench\\varnel\\uninst.exe")
    if left_behind(bed, p, "varnel"):
        sys.exit("varnel left part of the product behind under bench_launch")
    prepare(bed, p, "varnel", built)  # the confirmation box: answered by ending the process
    # The message box alone, and with the uninstaller's manifest (common
    # controls 6, which Wine loads for the box's buttons, and the
    # administrator level).
    window = {"varnel": [], "msgbox": [], "msgbox6": []}
    targets = {"varnel": ["C:\\bench\\varnel\\uninst.exe"],
               "msgbox": ["C:\\bench\\bin\\bench_msgbox.exe", CAPTION],
               "msgbox6": ["C:\\bench\\bin\\bench_msgbox6.exe", CAPTION]}
    for rep in range(reps + 1):  # the first round warms the caches and is not counted
        for who in window:
            _, _, out = bed.run("C:\\bench\\bin\\bench_launch.exe", "window", CAPTION,
                                *targets[who])
            fields = out.split()
            if len(fields) < 2 or fields[0] != "window" or fields[1] == "none":
                sys.exit(f"no {who} window seen: {out!r}")
            if rep:
                window[who].append(float(fields[1]))
    if len(left_behind(bed, p, "varnel")) < 4:
        sys.exit("the uninstaller removed something although its question was never answered")
    log(f"  {bed.kind} window ms: varnel {window['varnel']}, message box {window['msgbox']}, "
        f"with the manifest {window['msgbox6']}")
    medians = {w: statistics.median(v) for w, v in window.items()}
    medians.update({w + "-min": min(v) for w, v in window.items()})
    return peak, empty, medians


# ----- report ----------------------------------------------------------------


def verdict(ok):
    return "met" if ok else "NOT met"


def report(results, warm, extras, sizes, kinds, stub_size, payload_sizes, runs_of, plot, out):
    lines = []
    for kind in kinds:
        for name, table in (("cold", results), ("warm", warm)):
            lines.append(f"\n{kind} bed, {name}: median seconds (runs)")
            lines.append(f"{'N':>7} " + "".join(f"{LABELS[w]:>16}" for w in CONTENDERS) +
                         f"{'/floor':>8}{'/NSIS':>8}{'/MSI':>8}{'ms/file':>9}")
            for n in sizes:
                r = table[kind][n]
                v = r["varnel"]
                lines.append(f"{n:>7} " +
                             "".join(f"{r[w]:>12.2f} ({runs_of[n]})" for w in CONTENDERS) +
                             f"{v / r['floor']:>8.2f}{v / r['nsis']:>8.2f}{v / r['msi']:>8.3f}"
                             f"{v / n * 1000:>9.3f}")
    lines.append("\nGoals (judged at 5,000 files and more; the cold pass unless said):")
    judged = [n for n in sizes if n >= 5000]
    for kind in kinds:
        for n in judged:
            q = warm[kind][n]["varnel-log"] / warm[kind][n]["varnel"]
            lines.append(f"  {kind} N={n}, warm: the log costs at most 5%: {q:.3f}x, "
                         f"{verdict(q <= 1.05)}")
    for kind in kinds:
        r = results[kind]
        for n in judged:
            v = r[n]["varnel"]
            for who, limit, name in (("floor", 1.25, "floor"), ("nsis", 0.4, "NSIS"),
                                     ("msi", 0.15, "Windows Installer")):
                q = v / r[n][who]
                lines.append(f"  {kind} N={n}: Varnel <= {limit}x {name}: {q:.3f}x, "
                             f"{verdict(q <= limit)}")
        if 5000 in sizes and 50000 in sizes:
            q = (r[50000]["varnel"] / 50000) / (r[5000]["varnel"] / 5000)
            lines.append(f"  {kind}: time per file at 50,000 within 1.2x of 5,000: {q:.2f}x, "
                         f"{verdict(q <= 1.2)}")
    big = max(sizes)
    mib = 1048576
    for kind in kinds:
        peak, empty, window = extras[kind]
        payload = payload_sizes[big]
        lines.append(f"  {kind}: peak working set of Varnel /S at N={big}: {peak / mib:.2f} MiB "
                     f"(the same uninstaller with an empty product: {empty / mib:.2f} MiB, "
                     f"Wine's own share included); payload {payload / mib:.2f} MiB")
        lines.append(f"  {kind}:   <= 4 MiB + 2 x payload ({(4 * mib + 2 * payload) / mib:.2f} MiB) "
                     f"with Wine's own share: {verdict(peak <= 4 * mib + 2 * payload)}; without it "
                     f"(growth over the empty product, {(peak - empty) / mib:.2f} MiB): "
                     f"{verdict(peak - empty <= 4 * mib + 2 * payload)}; the growth is "
                     f"{(peak - empty) / payload:.2f} x payload")
        q = window["varnel"] / window["msgbox"]
        lines.append(f"  {kind}: start to confirmation box (N={big}): Varnel "
                     f"{window['varnel']:.0f} ms, a program that only shows a message box "
                     f"{window['msgbox']:.0f} ms (medians; fastest {window['varnel-min']:.0f} ms "
                     f"and {window['msgbox-min']:.0f} ms), {q:.2f}x: within 10% {verdict(q <= 1.10)}")
        q = window["varnel"] / window["msgbox6"]
        lines.append(f"  {kind}:   against the message box with the uninstaller's manifest, "
                     f"{window['msgbox6']:.0f} ms: {q:.2f}x, within 10% {verdict(q <= 1.10)}")
    lines.append(f"  uninst.exe: {stub_size} bytes (goal at most 40960; the build fails above 49152): "
                 f"{verdict(stub_size <= 40960)}")
    lines.append(f"  payload sizes: " + ", ".join(f"N={n}: {s} bytes" for n, s in payload_sizes.items()))
    text = "\n".join(lines)
    print(text, flush=True)
    with open(os.path.join(out, "results.txt"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write(markdown(results, warm, extras, sizes, kinds, stub_size, payload_sizes, runs_of))
    print(f"the table of docs/benchmark.md: {os.path.join(out, 'results.md')}")
    if plot:
        draw(results, sizes, kinds, plot, out)


def markdown(results, warm, extras, sizes, kinds, stub_size, payload_sizes, runs_of):
    """The table of the run, as docs/benchmark.md shows it."""
    rows = ["| Bed | pass | N | runs | Varnel /S | Varnel /S /L | NSIS /S | msiexec /x | floor "
            "| Varnel / floor | Varnel / NSIS | Varnel / MSI |",
            "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for kind in kinds:
        for name, table in (("cold", results), ("warm", warm)):
            for n in sizes:
                r = table[kind][n]
                v = r["varnel"]
                rows.append(f"| {kind} | {name} | {n:,} | {runs_of[n]} | " +
                            " | ".join(f"{r[w]:.2f} s" for w in CONTENDERS) +
                            f" | {v / r['floor']:.2f} | {v / r['nsis']:.2f} | {v / r['msi']:.3f} |")
    big = max(sizes)
    rows += ["", f"| Bed | peak working set, N={big:,} | empty product | payload "
             "| to the confirmation box | message box only | with the manifest |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for kind in kinds:
        peak, empty, window = extras[kind]
        rows.append(f"| {kind} | {peak / 1048576:.2f} MiB | {empty / 1048576:.2f} MiB | "
                    f"{payload_sizes[big] / 1048576:.2f} MiB | {window['varnel']:.0f} ms | "
                    f"{window['msgbox']:.0f} ms | {window['msgbox6']:.0f} ms |")
    rows += ["", f"`uninst.exe`: {stub_size:,} bytes."]
    return "\n".join(rows) + "\n"


def draw(results, sizes, kinds, plot, out):
    data = os.path.join(out, "results.dat")
    with open(data, "w") as f:
        for kind in kinds:
            f.write(f"# {kind}: N " + " ".join(CONTENDERS) + "\n")
            for n in sizes:
                f.write(f"{n} " + " ".join(f"{results[kind][n][w]:.4f}" for w in CONTENDERS) + "\n")
            f.write("\n\n")
    colours = {"varnel": "#1f77b4", "nsis": "#ff7f0e", "msi": "#d62728", "floor": "#2ca02c"}
    plots = []
    for k, kind in enumerate(kinds):
        for c, who in enumerate(CONTENDERS):
            dash = 1 if kind == "win32" else 2
            plots.append(f"'{data}' index {k} using 1:{c + 2} with linespoints lw 2 pt 7 "
                         f"dt {dash} lc rgb '{colours[who]}' title '{LABELS[who]} ({kind})'")
    script = "\n".join([
        "set terminal pngcairo size 900,600 font 'DejaVu Sans,11'" if has_cairo() else
        "set terminal png size 900,600",
        f"set output '{os.path.abspath(plot)}'",
        "set logscale xy", "set grid", "set key top left",
        "set xlabel 'files in the product (N)'", "set ylabel 'seconds, whole process under Wine'",
        "set title 'Uninstalling the same product under Wine (median wall-clock time)'",
        f"set xrange [{min(sizes) * 0.7}:{max(sizes) * 1.4}]",
        "set xtics (" + ", ".join(f"'{n:,}' {n}" for n in sizes) + ")",
        "plot " + ", \\\n  ".join(plots)])
    with open(os.path.join(out, "plot.gp"), "w") as f:
        f.write(script + "\n")
    subprocess.run(["gnuplot", os.path.join(out, "plot.gp")], check=True)
    print(f"plot: {plot}")


def has_cairo():
    r = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True, text=True)
    return "pngcairo" in (r.stdout + r.stderr)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="500,5000,50000")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--big-runs", type=int, default=3, help="runs at 50,000 files and more")
    ap.add_argument("--kinds", default="win32,win64")
    ap.add_argument("--window-reps", type=int, default=7)
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--plot", default=os.path.join(ROOT, "docs", "bench.png"))
    ap.add_argument("--stub", default=os.path.join(ROOT, "build", "win32", "uninst.exe"))
    ap.add_argument("--varnel", default=os.path.join(ROOT, "build", "host", "tools", "varnel",
                                                     "varnel"))
    ap.add_argument("--helpers", default=os.path.join(ROOT, "build", "win32", "bench"))
    a = ap.parse_args()
    started = time.monotonic()
    sizes = sorted(int(s) for s in a.sizes.split(","))
    kinds = a.kinds.split(",")
    runs_of = {n: (a.big_runs if n >= BIG else a.runs) for n in sizes}

    def log(msg):
        print(f"[{time.monotonic() - started:7.1f} s] {msg}", flush=True)

    os.makedirs(a.out, exist_ok=True)
    stub_size = os.path.getsize(a.stub)
    helpers = {h: os.path.join(a.helpers, h + ".exe")
               for h in ("bench_launch", "bench_msgbox", "bench_msgbox6")}
    results = {k: {} for k in kinds}
    warm = {k: {} for k in kinds}
    extras = {}
    payload_sizes = {}
    built_by_size = {}
    for kind in kinds:
        bed = Bed(os.path.join(a.out, f"bed-{kind}"), kind)
        try:
            log(f"{kind} bed ready")
            for n in sizes:
                p = Product(n, bed.programs)
                key = (n, bed.programs)
                if key not in built_by_size:
                    work = os.path.join(a.out, f"product-{n}")
                    os.makedirs(work, exist_ok=True)
                    log(f"building the contenders for N={n}")
                    built_by_size[key] = {
                        "varnel": build_varnel(p, work, a.stub, a.varnel),
                        "varnel-log": build_varnel(p, work, a.stub, a.varnel, "varnel-log"),
                        "nsis": build_nsis(p, work), "floor": build_floor(p, work),
                        "msi": build_msi(p, work),
                        "empty": pack({"language": "English", "texts": {"caption": CAPTION}},
                                      work, "empty.exe", a.stub, a.varnel)}
                    payload_sizes[n] = os.path.getsize(built_by_size[key]["varnel"]) - stub_size
                results[kind][n] = bench_size(bed, p, built_by_size[key], runs_of[n], CONTENDERS, log)
            log(f"{kind}: the warm pass, with a windowed program kept open")
            keeper = Keeper(bed, helpers["bench_msgbox"])
            try:
                for n in sizes:
                    warm[kind][n] = bench_size(bed, Product(n, bed.programs),
                                               built_by_size[(n, bed.programs)], runs_of[n],
                                               CONTENDERS, log)
            finally:
                keeper.close()
            big = max(sizes)
            extras[kind] = bench_extras(bed, Product(big, bed.programs),
                                        built_by_size[(big, bed.programs)], helpers,
                                        a.window_reps, log)
        finally:
            bed.teardown()
    if any(runs_of[n] != a.runs for n in sizes):
        print(f"\nruns: {a.runs} per size, {a.big_runs} at {BIG:,} files and more")
    report(results, warm, extras, sizes, kinds, stub_size, payload_sizes, runs_of, a.plot, a.out)
    log(f"the whole run took {(time.monotonic() - started) / 60:.1f} minutes")


if __name__ == "__main__":
    main()
