#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (tests/fuzz/corpus/NAME):

  make_seeds.py VARNEL OUT_DIR

pack: manifests in both forms, every kind of key; dump: each packed with a
14-byte stub (its first byte picks the code page the target dumps with);
payload: the payloads alone, and a few damaged ones; font_name: small
TrueType files with naming tables of several shapes. Seeds are small on
purpose: the fuzzer grows them.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

STUB = b"MZ\0\0wwgT)H\0\0\0\0"
DUMP_CODE_PAGES = [1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 1258, 874, 437, 866]

MANIFESTS = {
    "demo": None,  # demo/sample-product.json
    "minimal": {"language": "none"},
    "texts": {
        "language": "none",
        "texts": {"caption": "Ärger", "confirm": "Remove %s? 100%%", "15": "in use"},
    },
    "german-1250": {
        "codePage": 1250,
        "language": "German",
        "texts": {"caption": "Přehrávač"},
        "files": [{"folder": "C:\\Programy\\Ž", "name": "č.txt"}],
    },
    "cyrillic-1251": {
        "codePage": 1251,
        "language": "none",
        "texts": {"0": "Удалить"},
        "patterns": ["#AppData#\\Продукт\\*.*"],
    },
    "lists": {
        "language": "French",
        "options": {
            "wait": True,
            "themed": False,
            "extraFlags": 64,
            "preUninstall": "\"#InstallDir#\\setup.exe\" /u",
            "closingDocument": "https://example.com/bye",
        },
        "files": [
            {"folder": "."},
            {"folder": ".\\sub", "name": "a.dll", "flags": ["shared", "selfreg", 128]},
            {"folder": "C:\\Windows\\Fonts", "name": "f.ttf", "flags": ["font", "checkInUse"]},
        ],
        "groups": [
            {"folder": "C:\\Start\\Product", "secondFolder": "C:\\Start\\Second",
             "fileName": "Product.lnk", "levels": 255},
            {"folder": "C:\\Start\\Other", "levels": 0},
        ],
        "registry": [
            {"root": "HKLM", "key": "Software\\Product"},
            {"root": "0x80000001", "key": "Software\\Run", "value": "Tray"},
            {"root": "HKEY_CLASSES_ROOT", "key": ".prd"},
        ],
        "patterns": ["cache\\*.tmp", "#TempDir#\\prd*.log"],
    },
    "records": {
        "records": [
            {"type": "strings", "language": "Spanish", "texts": {"caption": "Producto"}},
            {"type": "files", "files": [{"folder": ".", "name": "a"}]},
            {"type": "patterns", "patterns": ["*.bak"]},
            {"type": "files", "files": [{"folder": ".\\b"}]},
            {"type": "patterns", "patterns": ["logs\\*.txt"]},
            {"type": "options", "wait": False, "themed": True},
            {"tag": "0x1238", "flags": 0, "reserved": 7, "body": "00112233"},
            {"type": "registry", "registry": [{"root": "HKCU", "key": "Software\\P"}]},
            {"type": "groups", "groups": [{"folder": "C:\\G", "fileName": "g.lnk", "levels": 1}]},
            {"type": "end"},
        ]
    },
    "raw-options": {
        "records": [
            {"tag": "0x123A", "body": "000000000c000000100000006162630064656600"},
            {"tag": "0x1239", "body": "612a0000"},
            {"tag": "0x7F7F", "body": ""},
        ]
    },
    "errors": {
        "language": "Latin",
        "files": [{"folder": "C:\\" + "x" * 600, "name": "y"}],
        "patterns": [""],
    },
}


def tt_font(names, tables=("cmap", "head", "name"), bad_offset=False):
    """A TrueType file with only a table directory and a naming table."""
    count = len(tables)
    directory_end = 12 + 16 * count
    storage = b""
    records = b""
    for platform, encoding, language, name_id, text in names:
        records += struct.pack(">HHHHHH", platform, encoding, language, name_id, len(text),
                               len(storage))
        storage += text
    header_size = 6 + len(records)
    name_table = struct.pack(">HHH", 0, len(names), header_size) + records + storage
    out = struct.pack(">IHHHH", 0x00010000, count, 16, 0, 0)
    for tag in tables:
        offset = directory_end + (0x7FFFFFF0 if bad_offset and tag == "name" else 0)
        length = len(name_table) if tag == "name" else 0
        out += tag.encode() + struct.pack(">III", 0, offset, length)
    return out + name_table


FONTS = {
    "mac-full-name": tt_font([(1, 0, 0, 4, b"Varnel Sans")]),
    "several": tt_font([(1, 0, 0, 1, b"Varnel"), (3, 1, 0x409, 4, "Varnel Sans".encode("utf-16-be")),
                        (1, 0, 0, 4, b"Varnel Sans Bold"), (1, 0, 0, 4, b"Varnel Last")]),
    "windows-only": tt_font([(3, 1, 0x409, 4, "Only Unicode".encode("utf-16-be"))]),
    "long-name": tt_font([(1, 0, 0, 4, b"N" * 600)]),
    "name-first": tt_font([(1, 0, 0, 4, b"First")], tables=("name",)),
    "no-name-table": tt_font([(1, 0, 0, 4, b"Hidden")], tables=("cmap", "glyf")),
    "bad-offset": tt_font([(1, 0, 0, 4, b"Far")], bad_offset=True),
    "otto": b"OTTO" + tt_font([(1, 0, 0, 4, b"Open")])[4:],
}


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    varnel, out = sys.argv[1], sys.argv[2]
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    with tempfile.TemporaryDirectory() as tmp:
        stub = os.path.join(tmp, "stub.exe")
        write(stub, STUB)
        for name, manifest in MANIFESTS.items():
            if manifest is None:
                with open(os.path.join(root, "demo", "sample-product.json"), "rb") as f:
                    text = f.read()
                code_page = 1252
            else:
                text = json.dumps(manifest, ensure_ascii=False, indent=1).encode()
                code_page = manifest.get("codePage", 1252)
            write(os.path.join(out, "pack", name + ".json"), text)
            source = os.path.join(tmp, name + ".json")
            packed = os.path.join(tmp, name + ".exe")
            write(source, text)
            if subprocess.run([varnel, "pack", source, "-o", packed, "--stub", stub],
                              stderr=subprocess.DEVNULL).returncode != 0:
                continue  # the manifest with errors is a pack seed only
            with open(packed, "rb") as f:
                exe = f.read()
            selector = bytes([DUMP_CODE_PAGES.index(code_page)])
            write(os.path.join(out, "dump", name + ".exe"), selector + exe[1:])
            payload = exe[len(STUB):]
            write(os.path.join(out, "payload", name + ".bin"), payload)
            if name == "lists":
                write(os.path.join(out, "payload", "cut-short.bin"), payload[: len(payload) // 2])
                write(os.path.join(out, "dump", "cut-short.exe"), selector + exe[1:-20])
    # Payloads the writer cannot make: unknown tags, unreadable blobs, a body past the end.
    header = lambda tag, flags, length: struct.pack("<HBBI", tag, flags, 0, length)
    write(os.path.join(out, "payload", "odd-records.bin"),
          header(0x4242, 0, 2) + b"xy" + header(0x1239, 1, 2) + b"a\0" + header(0x7F7F, 0, 0))
    write(os.path.join(out, "payload", "past-the-end.bin"),
          header(0x1235, 0, 400) + struct.pack("<I", 3) + b"\x02\0.\\")
    for name, data in FONTS.items():
        write(os.path.join(out, "font_name", name + ".ttf"), data)


main()
