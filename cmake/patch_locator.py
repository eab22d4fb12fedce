#!/usr/bin/env python3
"""Post-link step: writes the executable's own size into its payload locator.

The locator is the 6-byte marker followed by a u32 little-endian offset. With
the offset set to the file's size, a payload appended at the very end of the
file is found without any further patching. Fails unless the marker occurs
exactly once. Prints the final size.
"""
import struct
import sys

MARKER = b"wwgT)H"


def main(path, limit, goal):
    data = bytearray(open(path, "rb").read())
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
