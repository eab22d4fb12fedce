// The uninstall payload's file format: record tags, flag bits and limits.
// Shared by the reader in the executable and by the payload writer, so both
// always agree on every number.
#pragma once

#include <stdint.h>

// The locator: these 6 bytes, then a u32 little-endian payload offset.
#define PAYLOAD_MARKER "wwgT)H"
enum { PAYLOAD_MARKER_LENGTH = 6, PAYLOAD_LOCATOR_SIZE = 10 };

// Every record starts with this 8-byte header (all integers little-endian).
enum { PAYLOAD_HEADER_SIZE = 8 };

enum PayloadTag : uint16_t {
    RT_STRINGS = 0x1234,
    RT_FILES = 0x1235,
    RT_GROUPS = 0x1236,
    RT_REGISTRY = 0x1237,
    RT_UNASSIGNED = 0x1238, // skipped like any unknown tag
    RT_PATTERNS = 0x1239,
    RT_OPTIONS = 0x123A,
    RT_INFO = 0x123B, // what the payload is (code page, tool, registration): for the tools only,
                      // skipped by the uninstaller like any unknown tag
    RT_END = 0x7F7F,
};

// Header flags: bit 0 makes an RT_PATTERNS or RT_OPTIONS record unreadable.
enum { RF_UNREADABLE = 0x01 };

// File-entry flags.
enum {
    FE_SHARED = 0x01,
    FE_FONT = 0x02,
    FE_SELFREG = 0x04,
    FE_CHECKINUSE = 0x08,
};

// OptionsBlock flags and layout.
enum {
    OF_WAIT = 0x01,
    OF_THEMED = 0x02,
};
enum {
    OPTIONS_FLAGS_OFFSET = 0,
    OPTIONS_PRE_UNINSTALL_OFFSET = 4,
    OPTIONS_CLOSING_DOCUMENT_OFFSET = 8,
    OPTIONS_FIXED_SIZE = 12,
};

// Limits on the strings of one list entry, all strings together.
enum {
    FILE_ENTRY_STRING_LIMIT = 518,
    GROUP_ENTRY_STRING_LIMIT = 777,
    REGISTRY_ENTRY_STRING_LIMIT = 519,
};

// Payload errors; error N is shown as text N of the string table.
enum {
    PAYLOAD_ERR_BLOB = 1,
    PAYLOAD_ERR_BLOB_MEMORY = 5,
    PAYLOAD_ERR_MEMORY = 7,
    PAYLOAD_ERR_HEADER = 8,
};
