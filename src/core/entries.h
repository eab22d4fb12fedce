// The payload's contents in memory: entries and lists, as the reader leaves
// them. Plain data, with no platform header, so the reader's parser also
// builds for the host.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "format.h"

struct FileEntry {
    char* folder;        // a leading "." makes it relative to the installation folder
    char* name;          // empty for an entry that stands for the folder itself
    unsigned char flags; // FE_ bits; ignored on folder entries
};

struct GroupEntry {
    uint32_t levels; // parent levels the group folder pass may climb, 0 to 255
    char* folder;
    char* secondFolder; // may be empty
    char* fileName;     // may be empty
};

struct RegistryEntry {
    uint32_t root; // the predefined key handle value, used as the key
    char* path;    // a key, or a key, two backslashes and a value name
};

// Everything the reader fills. Each list is an array of pointers to entries,
// each entry one allocation holding its record and its strings. All of it is
// set by the reader and released by freePayloadContents.
struct PayloadContents {
    char** stringTable;              // texts by number, closed by a null entry; null: no texts
    unsigned char* patternList;      // NUL-terminated patterns, closed by an empty one; may be null
    uint32_t patternListLength;      // bytes of patternList, its closing NUL included
    FileEntry** fileEntries;         // payload order
    uint32_t fileCount;              // entries in fileEntries
    GroupEntry** groupEntries;       // payload order
    uint32_t groupCount;             // entries in groupEntries
    RegistryEntry** registryEntries; // payload order
    uint32_t registryCount;          // entries in registryEntries
    unsigned char* options; // the OptionsBlock body as read, two NULs after it; may be null
    uint32_t optionsLength; // bytes of the body, without the two NULs
};

// Reads the record chain in `bytes` (`size` bytes, the first record at its
// start) into `out`, which starts zeroed or holds an earlier read. Returns 0,
// or the payload error code (PAYLOAD_ERR_); what was read before an error stays
// in `out`. Never reads outside `bytes`.
int readPayloadChain(const unsigned char* bytes, uint32_t size, PayloadContents* out);
// Releases every list, the pattern list, the options and the texts; each
// pointer becomes null and each count 0.
void freePayloadContents(PayloadContents* contents);
// The OptionsBlock's flags; a missing block or missing bytes read as 0.
uint32_t readOptionFlags(const PayloadContents* contents);
// The text at one of the block's offsets, or null when the offset is 0 or does
// not point at a NUL-terminated text inside the block.
const char* readOptionText(const PayloadContents* contents, uint32_t fieldOffset);
