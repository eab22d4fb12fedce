// The uninstaller's payload reader on any bytes: the whole record chain
// (texts, file, group and registry lists, pattern list, options block). What
// it read is then walked the way the passes use it, every string to its end,
// the pattern list to its empty pattern, the option texts, so that
// AddressSanitizer sees any read past a buffer; freeing it lets
// LeakSanitizer see anything left behind.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "payload/entries.h"

namespace {

void fail(const char* what) {
    fprintf(stderr, "payload_fuzz: %s\n", what);
    abort();
}

volatile size_t sink; // keeps the walks from being optimised away

void walkFiles(const PayloadContents& c) {
    for (uint32_t i = 0; i < c.fileCount; ++i) {
        const FileEntry* e = c.fileEntries[i];
        if (strlen(e->folder) + strlen(e->name) > FILE_ENTRY_STRING_LIMIT)
            fail("a file entry over the limit was kept");
        sink = sink + e->flags;
    }
    for (uint32_t i = 0; i < c.groupCount; ++i) {
        const GroupEntry* e = c.groupEntries[i];
        if (strlen(e->folder) + strlen(e->secondFolder) + strlen(e->fileName) >
                GROUP_ENTRY_STRING_LIMIT ||
            e->levels > 255)
            fail("a group entry over the limits was kept");
    }
    for (uint32_t i = 0; i < c.registryCount; ++i) {
        const RegistryEntry* e = c.registryEntries[i];
        if (strlen(e->path) > REGISTRY_ENTRY_STRING_LIMIT)
            fail("a registry entry over the limit was kept");
        sink = sink + e->root;
    }
}

void walkRest(const PayloadContents& c) {
    if (c.stringTable)
        for (char** s = c.stringTable; *s; ++s)
            sink = sink + strlen(*s);
    if (c.patternList) {
        // As the pattern pass goes: pattern after pattern up to the empty one.
        const char* list = reinterpret_cast<const char*>(c.patternList);
        for (const char* p = list; *p; p += strlen(p) + 1)
            if (p >= list + c.patternListLength)
                fail("the pattern list runs past its length");
    }
    sink = sink + readOptionFlags(&c);
    const uint32_t fields[] = {OPTIONS_PRE_UNINSTALL_OFFSET, OPTIONS_CLOSING_DOCUMENT_OFFSET};
    for (uint32_t field : fields) {
        const char* text = readOptionText(&c, field);
        if (!text)
            continue;
        const char* block = reinterpret_cast<const char*>(c.options);
        if (text < block || text + strlen(text) >= block + c.optionsLength)
            fail("an option text lies outside the options block");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PayloadContents contents = {};
    int error = readPayloadChain(data, uint32_t(size), &contents);
    if (error != 0 && error != PAYLOAD_ERR_BLOB && error != PAYLOAD_ERR_HEADER)
        fail("an error other than a damaged payload, with memory to spare");
    // What was read before an error stays, and is walked too.
    walkFiles(contents);
    walkRest(contents);
    freePayloadContents(&contents);
    const PayloadContents& c = contents;
    if (c.stringTable || c.patternList || c.patternListLength || c.fileEntries || c.fileCount ||
        c.groupEntries || c.groupCount || c.registryEntries || c.registryCount || c.options ||
        c.optionsLength)
        fail("freeing left a pointer or a count behind");
    return 0;
}
