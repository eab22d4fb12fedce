#!/usr/bin/env python3
"""Post-link step: fits the headers in 512 bytes, then writes the executable's
own size into its payload locator.

The headers: the linker leaves a DOS stub program and rounds the headers up
to 1024 bytes. Where the PE headers fit in the first 512 bytes without the
stub (a few sections), they are moved to offset 0x40, SizeOfHeaders becomes
512 and every section's data comes 512 bytes earlier in the file. Nothing
else in the file points at file offsets (no certificate, no debug data).

The locator is the 6-byte marker followed by a u32 little-endian offset. With
the offset set to the file's size, a payload appended at the very end of the
file is found without any further patching. Fails unless the marker occurs
exactly once. Prints the final size.
"""
import struct
import sys

MARKER = b"wwgT)H"
SMALL_HEADERS = 0x200


def compact_headers(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    file_alignment, = struct.unpack_from("<I", data, optional + 36)
    size_of_headers, = struct.unpack_from("<I", data, optional + 60)
    headers = data[pe:optional + optional_size + 40 * sections]
    if (0x40 + len(headers) > SMALL_HEADERS or file_alignment != SMALL_HEADERS or
            size_of_headers <= SMALL_HEADERS):
        return data
    shift = size_of_headers - SMALL_HEADERS
    out = bytearray(data[:0x40]) + headers
    struct.pack_into("<I", out, 0x3C, 0x40)
    optional = 0x40 + 24
    struct.pack_into("<I", out, optional + 60, SMALL_HEADERS)
    struct.pack_into("<I", out, optional + 64, 0)  # the checksum, which none of this keeps
    table = optional + optional_size
    for i in range(sections):
        at = table + 40 * i + 20  # PointerToRawData
        raw, = struct.unpack_from("<I", out, at)
        if raw:
            struct.pack_into("<I", out, at, raw - shift)
    out += b"\0" * (SMALL_HEADERS - len(out))
    return out + data[size_of_headers:]


def main(path, limit, goal):
    data = bytearray(compact_headers(bytearray(open(path, "rb").read())))
    first = data.find(MARKER)
    if first < 0 or data.find(MARKER, first + 1) >= 0:
        sys.exit(f"{path}: the locator marker must occur exactly once")
    field = first + len(MARKER)
    data[field:field + 4] = struct.pack("<I", len(data))
    open(path, "wb").write(data)
    print(f"{path}: {len(data)} bytes (goal: at most {goal}; limit: {limit})")
    if len(data) > limit:
        sys.exit(f"{path}: larger than {limit} bytes")
    if len(data) > goal:
        print(f"warning: {path}: {len(data) - goal} bytes over the goal of {goal}")


if __name__ == "__main__":
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 49152
    main(sys.argv[1], limit, int(sys.argv[3]) if len(sys.argv) > 3 else limit)
