// The naming table of a TrueType font: every read is checked against the size
// of the data first, so no file can make it read outside its bytes.
#include "font_name.h"

#include <string.h>

static uint32_t big16(const unsigned char* p) {
    return (uint32_t)p[0] << 8 | p[1];
}

static uint32_t big32(const unsigned char* p) {
    return big16(p) << 16 | big16(p + 2);
}

// Whether `length` bytes at `offset` lie within `size` bytes (no overflow).
static bool within(uint64_t offset, uint64_t length, uint32_t size) {
    return offset + length <= size;
}

void parseFontFullName(const unsigned char* data, uint32_t size, char* out) {
    out[0] = 0;
    if (!within(0, 12, size))
        return;
    uint32_t tables = big16(data + 4);
    if (tables > FONT_TABLE_LIMIT)
        tables = FONT_TABLE_LIMIT;
    uint64_t table = 0;
    for (uint32_t i = 0;; ++i) {
        uint32_t record = 12 + 16 * i;
        if (i == tables || !within(record, 16, size))
            return;
        if (memcmp(data + record, "name", 4) == 0) {
            table = big32(data + record + 8);
            break;
        }
    }
    if (!within(table, 6, size))
        return;
    uint32_t count = big16(data + table + 2);
    uint64_t strings = table + big16(data + table + 4);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t record = table + 6 + 12 * (uint64_t)i;
        if (!within(record, 12, size))
            return;
        const unsigned char* r = data + record;
        if (big16(r) != 1 || big16(r + 6) != 4)
            continue;
        uint32_t length = big16(r + 8);
        uint64_t start = strings + big16(r + 10);
        if (length > FONT_NAME_MAX) {
            out[0] = 0; // the name that counts cannot be had: no name at all
            return;
        }
        if (!within(start, length, size))
            return;
        memcpy(out, data + start, length);
        out[length] = 0;
    }
}
