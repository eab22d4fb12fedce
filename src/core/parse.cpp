// Parses the payload's record chain from bytes in memory into the lists.
//
// Every body is parsed with bounds checks, so a damaged payload can never
// make the parser go past a buffer:
// - a body is parsed only within its own length (and within the bytes);
// - an entry that does not fit whole in what is left of its body ends its list;
// - an entry whose strings are longer than the format allows is passed over;
// - a record whose length runs past the end of the bytes ends the chain with
//   the header error, as the next header cannot be read; but an end record
//   needs no header after it, so its body may be cut short.
// Plain C++ with no platform header: it also builds for the host.
#include <string.h>

#include "entries.h"
#include "memory.h"

namespace {

// Little-endian reads from a bounded span; bytes past its end read as 0.
struct Cursor {
    const unsigned char* p;
    uint32_t left;
};

uint32_t takeLittleEndian(Cursor* c, uint32_t size) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (c->left == 0)
            break;
        value |= (uint32_t)*c->p << (8 * i);
        ++c->p;
        --c->left;
    }
    return value;
}

void skip(Cursor* c, uint32_t n) {
    if (n > c->left)
        n = c->left;
    c->p += n;
    c->left -= n;
}

// Grows a list's pointer array before entry number `count` is stored. The
// capacity follows from the count (8, then doubling), so nothing else is kept.
bool growList(void*** list, uint32_t count) {
    if (count != 0 && (count < 8 || (count & (count - 1)) != 0))
        return true;
    uint32_t capacity = count == 0 ? 8 : count * 2;
    if (capacity < count || capacity > 0x3FFFFFFF)
        return false;
    if (!*list)
        return allocZeroed(capacity * sizeof(void*), reinterpret_cast<void**>(list));
    return reallocate(capacity * sizeof(void*), reinterpret_cast<void**>(list));
}

enum ListKind { LIST_FILES, LIST_GROUPS, LIST_REGISTRY };

struct ListShape {
    uint8_t leadingBytes;  // fixed field before the strings
    uint8_t trailingBytes; // fixed field after the strings
    uint8_t stringCount;
    uint16_t limit;      // all strings of one entry together
    uint16_t entrySize;  // the record before its strings
    uint16_t firstField; // offset of the first string pointer, the rest follow
};

const ListShape listShapes[] = {
    {0, 1, 2, FILE_ENTRY_STRING_LIMIT, sizeof(FileEntry), offsetof(FileEntry, folder)},
    {1, 0, 3, GROUP_ENTRY_STRING_LIMIT, sizeof(GroupEntry), offsetof(GroupEntry, folder)},
    {4, 0, 1, REGISTRY_ENTRY_STRING_LIMIT, sizeof(RegistryEntry), offsetof(RegistryEntry, path)},
};

// Appends the entries of one list body. Returns 0 or PAYLOAD_ERR_MEMORY.
int readList(Cursor* body, ListKind kind, void*** list, uint32_t* count) {
    const ListShape& shape = listShapes[kind];
    uint32_t entries = takeLittleEndian(body, 4);
    for (uint32_t i = 0; i < entries; ++i) {
        if (body->left < shape.leadingBytes)
            break;
        uint32_t fixed = takeLittleEndian(body, shape.leadingBytes);
        const unsigned char* text[3];
        uint32_t length[3];
        uint32_t total = 0;
        bool whole = true;
        for (int s = 0; s < shape.stringCount && whole; ++s) {
            whole = body->left >= 2;
            length[s] = takeLittleEndian(body, 2);
            text[s] = body->p;
            whole = whole && body->left >= length[s];
            skip(body, length[s]);
            total += length[s];
        }
        if (!whole || body->left < shape.trailingBytes)
            break;
        if (shape.trailingBytes)
            fixed = takeLittleEndian(body, shape.trailingBytes);
        if (total > shape.limit)
            continue;

        unsigned char* entry;
        if (!allocZeroedAs(shape.entrySize + total + shape.stringCount, &entry))
            return PAYLOAD_ERR_MEMORY;
        char* copy = reinterpret_cast<char*>(entry + shape.entrySize);
        char** field = reinterpret_cast<char**>(entry + shape.firstField);
        for (int s = 0; s < shape.stringCount; ++s) {
            memcpy(copy, text[s], length[s]);
            field[s] = copy;
            copy += length[s] + 1;
        }
        if (kind == LIST_FILES)
            reinterpret_cast<FileEntry*>(entry)->flags = (unsigned char)fixed;
        else if (kind == LIST_GROUPS)
            reinterpret_cast<GroupEntry*>(entry)->levels = fixed;
        else
            reinterpret_cast<RegistryEntry*>(entry)->root = fixed;

        if (!growList(list, *count)) {
            freeAndClearAs(&entry);
            return PAYLOAD_ERR_MEMORY;
        }
        (*list)[(*count)++] = entry;
    }
    return 0;
}

void freeStringTable(PayloadContents* out) {
    if (!out->stringTable)
        return;
    for (char** s = out->stringTable; *s; ++s)
        freeAndClearAs(s);
    freeAndClearAs(&out->stringTable);
}

int readStrings(Cursor* body, PayloadContents* out) {
    if (takeLittleEndian(body, 2) == 0)
        return 0; // no tables
    uint32_t strings = takeLittleEndian(body, 2);
    if (strings == 0)
        return 0; // the current table stays
    // Texts past the end of the body would all be empty. The table ends there
    // instead, which reads the same (past its end every text is empty) and
    // spares a damaged count tens of thousands of allocations. Each text
    // present starts with at least one byte of its length.
    uint32_t present = (body->left + 1) / 2;
    if (present > strings)
        present = strings;
    char** table;
    if (!allocZeroedAs((present + 1) * sizeof(char*), &table))
        return PAYLOAD_ERR_MEMORY;
    freeStringTable(out);
    out->stringTable = table;
    for (uint32_t i = 0; i < present && body->left > 0; ++i) {
        uint32_t length = takeLittleEndian(body, 2);
        if (length > body->left)
            length = body->left; // the missing bytes read as NULs
        if (!allocZeroedAs(length + 1, &table[i]))
            return PAYLOAD_ERR_MEMORY;
        memcpy(table[i], body->p, length);
        skip(body, length);
    }
    return 0;
}

// Copies a body that must be read whole. Two NULs follow the block (not
// counted in its length) so that texts inside it always end in the buffer. A
// body that the file ends inside cannot be read whole: error 1, before any
// memory is asked for it.
int readBlob(const Cursor* body, uint8_t flags, uint32_t length, unsigned char** out,
             uint32_t* outLength) {
    if (outLength)
        *outLength = length;
    *out = nullptr;
    if (flags & RF_UNREADABLE)
        return PAYLOAD_ERR_BLOB;
    if (length > body->left)
        return PAYLOAD_ERR_BLOB;
    if (!allocRaw(length + 2, reinterpret_cast<void**>(out)))
        return PAYLOAD_ERR_BLOB_MEMORY;
    memcpy(*out, body->p, length);
    (*out)[length] = 0;
    (*out)[length + 1] = 0;
    return 0;
}

int joinPatterns(unsigned char* body, uint32_t length, PayloadContents* out) {
    if (!out->patternList) {
        out->patternList = body;
        out->patternListLength = length;
        return 0;
    }
    int error = 0;
    if (!reallocate(out->patternListLength + length + 2,
                    reinterpret_cast<void**>(&out->patternList))) {
        error = PAYLOAD_ERR_MEMORY;
    } else if (out->patternList[out->patternListLength - 1] == 0) {
        memcpy(out->patternList + out->patternListLength - 1, body, length + 2);
        out->patternListLength += length - 1;
    }
    freeAndClearAs(&body);
    return error;
}

// Reads one record's body, of which `available` bytes are in the file.
int dispatch(Cursor body, uint16_t tag, uint8_t flags, uint32_t length, PayloadContents* out) {
    if (tag == RT_PATTERNS || tag == RT_OPTIONS) {
        unsigned char* blob;
        uint32_t blobLength;
        if (tag == RT_OPTIONS)
            freeAndClearAs(&out->options);
        int error = readBlob(&body, flags, length, &blob, &blobLength);
        if (error)
            return error;
        if (tag == RT_PATTERNS)
            return joinPatterns(blob, blobLength, out);
        out->options = blob;
        out->optionsLength = blobLength;
        return 0;
    }
    if (length < body.left)
        body.left = length;
    if (tag == RT_STRINGS)
        return readStrings(&body, out);
    if (tag == RT_FILES)
        return readList(&body, LIST_FILES, reinterpret_cast<void***>(&out->fileEntries),
                        &out->fileCount);
    if (tag == RT_GROUPS)
        return readList(&body, LIST_GROUPS, reinterpret_cast<void***>(&out->groupEntries),
                        &out->groupCount);
    if (tag == RT_REGISTRY)
        return readList(&body, LIST_REGISTRY, reinterpret_cast<void***>(&out->registryEntries),
                        &out->registryCount);
    return 0; // RT_END, the unassigned tag and every unknown one
}

template <typename T> void freeList(T*** list, uint32_t* count) {
    if (*list)
        for (uint32_t i = 0; i < *count; ++i)
            freeAndClearAs(&(*list)[i]);
    freeAndClearAs(list);
    *count = 0;
}

} // namespace

int readPayloadChain(const unsigned char* bytes, uint32_t size, PayloadContents* out) {
    Cursor chain = {bytes, size};
    for (;;) {
        if (chain.left < PAYLOAD_HEADER_SIZE)
            return PAYLOAD_ERR_HEADER;
        uint16_t tag = (uint16_t)takeLittleEndian(&chain, 2);
        uint8_t flags = (uint8_t)takeLittleEndian(&chain, 1);
        skip(&chain, 1);
        uint32_t length = takeLittleEndian(&chain, 4);
        if (length != 0) {
            int error = dispatch(chain, tag, flags, length, out);
            if (error)
                return error;
            if (length > chain.left && tag != RT_END)
                return PAYLOAD_ERR_HEADER; // the body runs past the end: no header follows
            skip(&chain, length);
        }
        if (tag == RT_END)
            return 0;
    }
}

void freePayloadContents(PayloadContents* out) {
    freeAndClearAs(&out->patternList);
    out->patternListLength = 0;
    freeList(&out->registryEntries, &out->registryCount);
    freeList(&out->groupEntries, &out->groupCount);
    freeList(&out->fileEntries, &out->fileCount);
    freeAndClearAs(&out->options);
    out->optionsLength = 0;
    freeStringTable(out);
}

static uint32_t optionField(const PayloadContents* contents, uint32_t at) {
    if (!contents->options || contents->optionsLength < at + 4)
        return 0;
    uint32_t value;
    memcpy(&value, contents->options + at, 4);
    return value;
}

uint32_t readOptionFlags(const PayloadContents* contents) {
    return optionField(contents, OPTIONS_FLAGS_OFFSET);
}

const char* readOptionText(const PayloadContents* contents, uint32_t fieldOffset) {
    uint32_t at = optionField(contents, fieldOffset);
    if (at == 0 || at >= contents->optionsLength)
        return nullptr;
    if (!memchr(contents->options + at, 0, contents->optionsLength - at))
        return nullptr;
    return reinterpret_cast<const char*>(contents->options + at);
}
