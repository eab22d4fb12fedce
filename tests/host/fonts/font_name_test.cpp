// The TrueType full-name parser on the host, built with the address
// sanitizer: fonts made here with the edge cases of the naming table, cut at
// every length, and a real font from the system.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "removal/font_name.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct NameRecord {
    unsigned platform, name;
    std::string text;
};

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// A font file: `tables` table records (numTables as given), the "name" one at
// `nameIndex`, then the naming table with `records`, their strings in order.
Bytes makeFont(const std::vector<NameRecord>& records, unsigned nameIndex = 0, unsigned tables = 4,
               unsigned numTables = ~0u) {
    Bytes b = {0, 1, 0, 0};
    put16(b, numTables == ~0u ? tables : numTables);
    b.resize(12);
    uint32_t tableOffset = 12 + 16 * tables;
    for (unsigned i = 0; i < tables; ++i) {
        const char* tag = i == nameIndex ? "name" : "glyf";
        b.insert(b.end(), tag, tag + 4);
        put32(b, 0);
        put32(b, i == nameIndex ? tableOffset : 0);
        put32(b, 0);
    }
    put16(b, 0);
    put16(b, unsigned(records.size()));
    put16(b, unsigned(6 + 12 * records.size()));
    unsigned offset = 0;
    for (const NameRecord& r : records) {
        for (unsigned v : {r.platform, 0u, 0u, r.name, unsigned(r.text.size()), offset})
            put16(b, v);
        offset += unsigned(r.text.size());
    }
    for (const NameRecord& r : records)
        b.insert(b.end(), r.text.begin(), r.text.end());
    return b;
}

// Parses exactly `size` bytes of `font`, from a heap block of that size, so
// the sanitizer sees any read past it; checks the output's own bounds too.
std::string parse(const Bytes& font, size_t size = ~size_t(0)) {
    size = std::min(size, font.size());
    std::unique_ptr<unsigned char[]> data(new unsigned char[size ? size : 1]);
    std::copy(font.begin(), font.begin() + long(size), data.get());
    std::unique_ptr<char[]> out(new char[FONT_NAME_SIZE]);
    std::fill(out.get(), out.get() + FONT_NAME_SIZE, 'x');
    parseFontFullName(data.get(), uint32_t(size), out.get());
    return std::string(out.get(), strnlen(out.get(), FONT_NAME_SIZE));
}

uint32_t namingTableOffset(const Bytes& font) {
    return 12 + 16 * (uint32_t(font[4]) << 8 | font[5]);
}

const NameRecord macFull{1, 4, "Varnel Sans"};
const NameRecord windowsFull{3, 4, std::string("\0V\0a", 4)};
const NameRecord macFamily{1, 1, "Varnel"};

TEST(FontName, Records) {
    struct Row {
        const char* what;
        Bytes font;
        std::string name;
    } rows[] = {
        {"one match among others", makeFont({macFamily, windowsFull, macFull}), "Varnel Sans"},
        {"the last match counts", makeFont({{1, 4, "First"}, windowsFull, {1, 4, "Second"}}),
         "Second"},
        {"a last match of length 0", makeFont({macFull, {1, 4, ""}}), ""},
        {"no platform-1 full name", makeFont({macFamily, windowsFull, {3, 1, "x"}}), ""},
        {"no records", makeFont({}), ""},
        {"name table as the 40th record", makeFont({macFull}, 39, 45), "Varnel Sans"},
        {"name table as the 41st record", makeFont({macFull}, 40, 45), ""},
        {"name table past numTables", makeFont({macFull}, 3, 4, 3), ""},
        {"numTables 0", makeFont({macFull}, 0, 1, 0), ""},
        {"numTables beyond the file", makeFont({macFull}, 5, 6, 65535), "Varnel Sans"},
        {"a name of 508 bytes", makeFont({{1, 4, std::string(508, 'n')}}), std::string(508, 'n')},
        {"a name of 509 bytes", makeFont({{1, 4, std::string(509, 'n')}}), ""},
        {"a too long name keeps the one before",
         makeFont({macFull, {1, 4, std::string(509, 'n')}, {1, 4, "Later"}}), "Varnel Sans"},
        {"bytes kept as they are", makeFont({{1, 4, "Caf\xe9 \xff"}}), "Caf\xe9 \xff"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parse(row.font), row.name) << row.what;
}

TEST(FontName, OffsetsBeyondTheFile) {
    Bytes font = makeFont({macFull});
    uint32_t table = namingTableOffset(font);
    auto patched = [&](size_t at, std::initializer_list<unsigned char> bytes) {
        Bytes f = font;
        std::copy(bytes.begin(), bytes.end(), f.begin() + long(at));
        return parse(f);
    };
    EXPECT_EQ(patched(12 + 8, {0xFF, 0xFF, 0xFF, 0xF0}), "") << "table offset";
    EXPECT_EQ(patched(12 + 8, {0, 0, uint8_t(font.size() >> 8), uint8_t(font.size() - 3)}), "")
        << "table header cut by the end";
    EXPECT_EQ(patched(table + 4, {0xFF, 0xFF}), "") << "string storage offset";
    EXPECT_EQ(patched(table + 6 + 10, {0xFF, 0xF0}), "") << "string offset";
    EXPECT_EQ(patched(table + 6 + 8, {0x01, 0xFC}), "") << "string length";
    EXPECT_EQ(patched(table + 2, {0xFF, 0xFF}), "Varnel Sans") << "count past the end";
}

// Cut at every length, the parser stays inside the bytes and gives nothing,
// the first name or the last one, as far as the file reaches.
TEST(FontName, TruncatedFiles) {
    Bytes font = makeFont({{1, 4, "First"}, macFamily, {1, 4, "Second"}}, 2, 3);
    size_t second = font.size(), first = second - 6 - 6;
    for (size_t size = 0; size <= font.size(); ++size) {
        std::string expected = size >= second ? "Second" : size >= first ? "First" : "";
        ASSERT_EQ(parse(font, size), expected) << "cut at " << size;
    }
}

TEST(FontName, RealFont) {
    std::ifstream file(VARNEL_REAL_FONT, std::ios::binary);
    ASSERT_TRUE(file) << VARNEL_REAL_FONT;
    Bytes font((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(parse(font), "DejaVu Sans");
}

} // namespace
