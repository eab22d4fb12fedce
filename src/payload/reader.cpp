// Reads the payload appended to the executable into the uninstall state.
//
// Every record body is read into memory and parsed from there with bounds
// checks, so a damaged payload can never make the reader go past a buffer:
// - a body is parsed only within its own length (and within the file);
// - an entry that does not fit whole in what is left of its body ends its list;
// - an entry whose strings are longer than the format allows is passed over;
// - a record whose length runs past the end of the file ends the chain with
//   the header error, as the next header cannot be read.
#include <string.h>

#include "../driver/state.h"
#include "strings.h"

extern "C"
    __attribute__((used)) volatile const unsigned char payloadLocator[PAYLOAD_LOCATOR_SIZE] = {
        'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0};

uint32_t payloadOffset() {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | payloadLocator[PAYLOAD_MARKER_LENGTH + i];
    return value;
}

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

// Reads `length` bytes of the body (fewer when the file ends first) into a
// new block. Returns 0 or PAYLOAD_ERR_MEMORY.
int readBody(HANDLE file, uint32_t length, unsigned char** body, uint32_t* got) {
    *got = 0;
    if (!allocRaw(length, reinterpret_cast<void**>(body)))
        return PAYLOAD_ERR_MEMORY;
    DWORD read = 0;
    if (length && ReadFile(file, *body, length, &read, nullptr))
        *got = read;
    return 0;
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

void freeStringTable() {
    if (!state.stringTable)
        return;
    for (char** s = state.stringTable; *s; ++s)
        freeAndClearAs(s);
    freeAndClearAs(&state.stringTable);
}

int readStrings(Cursor* body) {
    if (takeLittleEndian(body, 2) == 0)
        return 0; // no tables
    uint32_t strings = takeLittleEndian(body, 2);
    if (strings == 0)
        return 0; // the current table stays
    char** table;
    if (!allocZeroedAs((strings + 1) * sizeof(char*), &table))
        return PAYLOAD_ERR_MEMORY;
    freeStringTable();
    state.stringTable = table;
    for (uint32_t i = 0; i < strings; ++i) {
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

// Reads a body that must be read whole. Two NULs follow the block (not
// counted in its length) so that texts inside it always end in the buffer.
int readBlob(HANDLE file, uint8_t flags, uint32_t length, uint32_t available, unsigned char** out,
             uint32_t* outLength) {
    if (outLength)
        *outLength = length;
    *out = nullptr;
    if (flags & RF_UNREADABLE)
        return PAYLOAD_ERR_BLOB;
    if (length > available)
        return PAYLOAD_ERR_BLOB; // the file ends inside the body
    if (!allocRaw(length + 2, reinterpret_cast<void**>(out)))
        return PAYLOAD_ERR_BLOB_MEMORY;
    if (readExact(file, *out, length)) {
        freeAndClearAs(out);
        return PAYLOAD_ERR_BLOB;
    }
    (*out)[length] = 0;
    (*out)[length + 1] = 0;
    return 0;
}

int joinPatterns(unsigned char* body, uint32_t length) {
    if (!state.patternList) {
        state.patternList = body;
        state.patternListLength = length;
        return 0;
    }
    int error = 0;
    if (!reallocate(state.patternListLength + length + 2,
                    reinterpret_cast<void**>(&state.patternList))) {
        error = PAYLOAD_ERR_MEMORY;
    } else if (state.patternList[state.patternListLength - 1] == 0) {
        memcpy(state.patternList + state.patternListLength - 1, body, length + 2);
        state.patternListLength += length - 1;
    }
    freeAndClearAs(&body);
    return error;
}

int dispatch(HANDLE file, uint16_t tag, uint8_t flags, uint32_t length, uint32_t available) {
    if (tag == RT_PATTERNS || tag == RT_OPTIONS) {
        unsigned char* blob;
        uint32_t blobLength;
        if (tag == RT_OPTIONS)
            freeAndClearAs(&state.options);
        int error = readBlob(file, flags, length, available, &blob, &blobLength);
        if (error)
            return error;
        if (tag == RT_PATTERNS)
            return joinPatterns(blob, blobLength);
        state.options = blob;
        state.optionsLength = blobLength;
        return 0;
    }
    if (tag != RT_STRINGS && tag != RT_FILES && tag != RT_GROUPS && tag != RT_REGISTRY)
        return 0;

    unsigned char* data;
    uint32_t got;
    if (readBody(file, length < available ? length : available, &data, &got))
        return PAYLOAD_ERR_MEMORY;
    Cursor body = {data, got};
    int error;
    if (tag == RT_STRINGS)
        error = readStrings(&body);
    else if (tag == RT_FILES)
        error = readList(&body, LIST_FILES, reinterpret_cast<void***>(&state.fileEntries),
                         &state.fileCount);
    else if (tag == RT_GROUPS)
        error = readList(&body, LIST_GROUPS, reinterpret_cast<void***>(&state.groupEntries),
                         &state.groupCount);
    else
        error = readList(&body, LIST_REGISTRY, reinterpret_cast<void***>(&state.registryEntries),
                         &state.registryCount);
    freeAndClearAs(&data);
    return error;
}

void showPayloadError(int error) {
    char* message;
    if (!allocZeroedAs(FORMAT_BUFFER_SIZE, &message))
        return;
    formatString(message, error, state.modulePath);
    showMessage(message, MB_OK | MB_ICONINFORMATION);
    freeAndClearAs(&message);
}

template <typename T> void freeList(T*** list, uint32_t* count) {
    if (*list)
        for (uint32_t i = 0; i < *count; ++i)
            freeAndClearAs(&(*list)[i]);
    freeAndClearAs(list);
    *count = 0;
}

} // namespace

int readPayloadChain(HANDLE file, uint32_t offset) {
    uint32_t fileSize = GetFileSize(file, nullptr);
    uint32_t position = offset;
    fileSeek(file, position);
    for (;;) {
        unsigned char header[PAYLOAD_HEADER_SIZE];
        if (position > fileSize || readExact(file, header, PAYLOAD_HEADER_SIZE))
            return PAYLOAD_ERR_HEADER;
        Cursor c = {header, PAYLOAD_HEADER_SIZE};
        uint16_t tag = (uint16_t)takeLittleEndian(&c, 2);
        uint8_t flags = (uint8_t)takeLittleEndian(&c, 1);
        skip(&c, 1);
        uint32_t length = takeLittleEndian(&c, 4);
        position += PAYLOAD_HEADER_SIZE;
        if (length != 0) {
            uint32_t available = fileSize > position ? fileSize - position : 0;
            int error = dispatch(file, tag, flags, length, available);
            if (error)
                return error;
            if (length > available)
                return PAYLOAD_ERR_HEADER; // the body runs past the end: no header follows
            position += length;
            fileSeek(file, position);
        }
        if (tag == RT_END)
            return 0;
    }
}

bool loadPayload() {
    uint32_t offset = payloadOffset();
    if (offset == 0)
        return false;
    if (!GetModuleFileNameA(state.instance, state.modulePath, PATH_BUFFER_SIZE))
        return false;
    state.modulePath[PATH_BUFFER_SIZE - 1] = 0; // older systems leave a cut path unterminated
    HANDLE file = openExistingFile(state.modulePath, FILE_MODE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    int error = readPayloadChain(file, offset);
    closeFile(file);
    if (error == 0)
        return true;
    showPayloadError(error);
    return false;
}

void freePayload() {
    freeAndClearAs(&state.patternList);
    state.patternListLength = 0;
    freeList(&state.registryEntries, &state.registryCount);
    freeList(&state.groupEntries, &state.groupCount);
    freeList(&state.fileEntries, &state.fileCount);
    freeAndClearAs(&state.options);
    state.optionsLength = 0;
    freeStringTable();
}

static uint32_t optionField(uint32_t at) {
    if (!state.options || state.optionsLength < at + 4)
        return 0;
    uint32_t value;
    memcpy(&value, state.options + at, 4);
    return value;
}

uint32_t optionFlags() {
    return optionField(OPTIONS_FLAGS_OFFSET);
}

const char* optionText(uint32_t fieldOffset) {
    uint32_t at = optionField(fieldOffset);
    if (at == 0 || at >= state.optionsLength)
        return nullptr;
    if (!memchr(state.options + at, 0, state.optionsLength - at))
        return nullptr;
    return reinterpret_cast<const char*>(state.options + at);
}
