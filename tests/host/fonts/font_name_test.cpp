// The TrueType full-name parser on the host, built with the address sanitizer: rows of fonts made
// here with the edge cases of the naming table, damaged or cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/font_name.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct NameRecord {
    unsigned platform, name;
    std::string text;
};

// A font file: `tables` table records (numTables as given), the "name" one at `nameIndex` and
// 28 + 16 * tables bytes from the start, then the naming table with `records`, strings in order.
Bytes font(const std::vector<NameRecord>& records, unsigned nameIndex = 0, unsigned tables = 1,
           unsigned numTables = ~0u) {
    Bytes b = {0, 1, 0, 0};
    auto put16 = [&b](unsigned v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); };
    put16(numTables == ~0u ? tables : numTables);
    b.resize(12);
    for (unsigned i = 0; i < tables; ++i) {
        const char* tag = i == nameIndex ? "name" : "glyf";
        b.insert(b.end(), tag, tag + 4);
        for (unsigned v : {0u, 0u, 0u, i == nameIndex ? 12 + 16 * tables : 0u, 0u, 0u})
            put16(v);
    }
    for (size_t v : {size_t(0), records.size(), 6 + 12 * records.size()})
        put16(unsigned(v));
    unsigned offset = 0;
    for (const NameRecord& r : records) {
        for (unsigned v : {r.platform, 0u, 0u, r.name, unsigned(r.text.size()), offset})
            put16(v);
        offset += unsigned(r.text.size());
    }
    for (const NameRecord& r : records)
        b.insert(b.end(), r.text.begin(), r.text.end());
    return b;
}

// `f` with `bytes` written at `at`, then cut to `size` bytes.
Bytes patch(Bytes f, size_t at, Bytes bytes, size_t size = ~size_t(0)) {
    std::copy(bytes.begin(), bytes.end(), f.begin() + long(at));
    f.resize(std::min(size, f.size()));
    return f;
}

// Parses the bytes from a heap block of their size, so the sanitizer sees any read past it, into
// a buffer of FONT_NAME_SIZE; the name must end inside it.
std::string parse(const Bytes& f) {
    Bytes data(f.begin(), f.end()); // no spare capacity after the bytes
    std::vector<char> out(FONT_NAME_SIZE, 'x');
    parseFontFullName(data.data(), uint32_t(f.size()), out.data());
    return std::string(out.data(), strnlen(out.data(), FONT_NAME_SIZE));
}

const NameRecord mac{1, 4, "Varnel Sans"}, first{1, 4, "First"}, second{1, 4, "Second"};
const NameRecord windows{3, 4, std::string("\0V\0a", 4)}, family{1, 1, "Varnel"};
const Bytes three = font({first, family, second}); // naming table at 28, strings at 70

TEST(FontName, Rows) {
    struct Row {
        const char* what;
        Bytes font;
        std::string name;
    } rows[] = {
        {"the Macintosh full name only", font({mac, family, windows, {3, 1, "x"}}), "Varnel Sans"},
        {"the last match counts", font({first, windows, second}), "Second"},
        {"a last match of length 0", font({mac, {1, 4, ""}}), ""},
        {"name table as the 40th record", font({mac}, 39, 45), "Varnel Sans"},
        {"name table as the 41st record", font({mac}, 40, 45), ""},
        {"name table past numTables", font({mac}, 3, 4, 3), ""},
        {"numTables beyond the file", font({mac}, 5, 6, 65535), "Varnel Sans"},
        {"a name of 508 bytes", font({{1, 4, std::string(508, 'n')}}), std::string(508, 'n')},
        {"a too long name ends the reading with none", font({mac, {1, 4, std::string(509, 'n')}, second}),
         ""},
        {"bytes kept as they are", font({{1, 4, "Caf\xe9 \xff"}}), "Caf\xe9 \xff"},
        {"table offset past the end", patch(three, 20, {0xFF, 0xFF, 0xFF, 0xF0}), ""},
        {"string offset past the end", patch(three, 28 + 6 + 10, {0xFF, 0xF0}), ""},
        {"record count past the end", patch(three, 28 + 2, {0xFF, 0xFF}), "Second"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parse(row.font), row.name) << row.what;
    // Cut anywhere, it reads as far as the file reaches.
    for (size_t size = 0; size <= three.size(); ++size)
        EXPECT_EQ(parse(patch(three, 0, {}, size)), size == three.size() ? "Second"
                                                    : size >= 75         ? "First"
                                                                         : "")
            << "cut at " << size;
}

} // namespace
