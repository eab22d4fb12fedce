// The uninstaller's payload reader on any bytes: the whole record chain. What it read, also before
// an error, is then walked the way the passes use it (every string to its end, the pattern list to
// its empty pattern, the option texts), so that AddressSanitizer sees any read past a buffer, and
// freed, so that LeakSanitizer sees anything left behind.
#include <string.h>

#include <initializer_list>

#include "authoring.h"

namespace {

using fuzz::check;

volatile size_t sink; // keeps the walks from being optimised away

void walk(const PayloadContents& c) {
    for (uint32_t i = 0; i < c.fileCount; ++i)
        check(strlen(c.fileEntries[i]->folder) + strlen(c.fileEntries[i]->name) <=
                  FILE_ENTRY_STRING_LIMIT,
              "a file entry over the limit was kept");
    for (uint32_t i = 0; i < c.groupCount; ++i) {
        const GroupEntry* e = c.groupEntries[i];
        size_t length = strlen(e->folder) + strlen(e->secondFolder) + strlen(e->fileName);
        check(length <= GROUP_ENTRY_STRING_LIMIT && e->levels <= 255,
              "a group entry over the limits was kept");
    }
    for (uint32_t i = 0; i < c.registryCount; ++i)
        check(strlen(c.registryEntries[i]->path) <= REGISTRY_ENTRY_STRING_LIMIT,
              "a registry entry over the limit was kept");
    for (char** s = c.stringTable; s && *s; ++s)
        sink = sink + strlen(*s);
    const char* list = reinterpret_cast<const char*>(c.patternList);
    for (const char* p = list; p && *p; p += strlen(p) + 1)
        check(p < list + c.patternListLength, "the pattern list runs past its length");
    sink = sink + readOptionFlags(&c);
    const char* block = reinterpret_cast<const char*>(c.options);
    for (uint32_t field : {OPTIONS_PRE_UNINSTALL_OFFSET, OPTIONS_CLOSING_DOCUMENT_OFFSET})
        if (const char* text = readOptionText(&c, field))
            check(text >= block && text + strlen(text) < block + c.optionsLength,
                  "an option text lies outside the options block");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PayloadContents c = {};
    int error = readPayloadChain(data, uint32_t(size), &c);
    check(error == 0 || error == PAYLOAD_ERR_BLOB || error == PAYLOAD_ERR_HEADER,
          "an error other than a damaged payload, with memory to spare");
    walk(c);
    freePayloadContents(&c);
    check(!c.stringTable && !c.patternList && !c.patternListLength && !c.fileEntries &&
              !c.fileCount && !c.groupEntries && !c.groupCount && !c.registryEntries &&
              !c.registryCount && !c.options && !c.optionsLength,
          "freeing left a pointer or a count behind");
    return 0;
}
