#include <gtest/gtest.h>

#include "codepage.h"

using namespace varnel;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += char(v);
    return s;
}

} // namespace

TEST(CodePage, Windows1252KeepsAsciiAndLatin1AndMapsItsOwnRange) {
    EXPECT_EQ(utf8ToCodePage("Readme 1.txt", 1252), std::string("Readme 1.txt"));
    EXPECT_EQ(utf8ToCodePage("Café Größe", 1252),
              bytes({'C', 'a', 'f', 0xE9, ' ', 'G', 'r', 0xF6, 0xDF, 'e'}));
    // The 0x80-0x9F range differs from Latin-1.
    EXPECT_EQ(utf8ToCodePage("€‚Œ™ž", 1252), bytes({0x80, 0x82, 0x8C, 0x99, 0x9E}));
    EXPECT_EQ(codePageToUtf8(bytes({0x80, 0x93, 0x94, 0xFF}), 1252), std::string("€\u201C\u201Dÿ"));
    // Unassigned bytes pass through as the C1 controls of the same value.
    EXPECT_EQ(codePageToUtf8(bytes({0x81, 0x9D}), 1252), std::string("\u0081\u009D"));
    EXPECT_EQ(utf8ToCodePage("\u0081", 1252), bytes({0x81}));
}

TEST(CodePage, EveryByteOf1252SurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    std::optional<std::string> utf8 = codePageToUtf8(all, 1252);
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8ToCodePage(*utf8, 1252), all);
}

TEST(CodePage, ACharacterOutsideTheCodePageIsRefusedWithItsPlace) {
    ConversionFailure failure;
    EXPECT_FALSE(utf8ToCodePage("Dvořák", 1252, &failure));
    EXPECT_EQ(failure.character, 0x0159u); // ř
    EXPECT_EQ(failure.position, 3u);
    EXPECT_FALSE(utf8ToCodePage("Привет", 1252, &failure));
    EXPECT_EQ(failure.character, 0x041Fu);
    EXPECT_EQ(failure.position, 0u);
    EXPECT_FALSE(utf8ToCodePage("smile \U0001F600", 1252, &failure));
    EXPECT_EQ(failure.character, 0x1F600u);
}

TEST(CodePage, MalformedUtf8IsRefused) {
    for (const std::string& bad : {bytes({0xC0, 0xAF}), bytes({0x80}), bytes({'a', 0xE2, 0x82}),
                                   bytes({0xED, 0xA0, 0x80}), bytes({0xF8, 0x88, 0x80, 0x80})})
        EXPECT_FALSE(utf8ToCodePage(bad, 1252)) << "bytes of length " << bad.size();
}

TEST(CodePage, OtherWindowsCodePagesComeFromThePlatform) {
    ASSERT_TRUE(isSupportedCodePage(1250));
    EXPECT_EQ(utf8ToCodePage("Dvořák ą Š €", 1250),
              bytes({'D', 'v', 'o', 0xF8, 0xE1, 'k', ' ', 0xB9, ' ', 0x8A, ' ', 0x80}));
    EXPECT_FALSE(utf8ToCodePage("Ж", 1250));
    // 0x81 is unassigned in 1250.
    EXPECT_FALSE(codePageToUtf8(bytes({'a', 0x81}), 1250));

    ASSERT_TRUE(isSupportedCodePage(1251));
    EXPECT_EQ(utf8ToCodePage("АБЖя", 1251), bytes({0xC0, 0xC1, 0xC6, 0xFF}));
    EXPECT_EQ(codePageToUtf8(bytes({0xC0, 0xC6}), 1251), std::string("АЖ"));
    EXPECT_FALSE(utf8ToCodePage("é", 1251));
}

// The East Asian pages store a character in one or two bytes; a lone lead
// byte, or a pair the page leaves undefined, has no character.
TEST(CodePage, EastAsianDoubleBytePagesComeFromThePlatform) {
    struct Row {
        unsigned codePage;
        const char* text;
        std::string bytes;
    };
    for (const Row& r : std::vector<Row>{
             {932, "aｱ表示", bytes({'a', 0xB1, 0x95, 0x5C, 0x8E, 0xA6})},
             {936, "a 卸载", bytes({'a', ' ', 0xD0, 0xB6, 0xD4, 0xD8})},
             {949, "한글", bytes({0xC7, 0xD1, 0xB1, 0xDB})},
             {950, "中文", bytes({0xA4, 0xA4, 0xA4, 0xE5})},
         }) {
        ASSERT_TRUE(isSupportedCodePage(r.codePage)) << r.codePage;
        EXPECT_EQ(utf8ToCodePage(r.text, r.codePage), r.bytes) << r.codePage;
        EXPECT_EQ(codePageToUtf8(r.bytes, r.codePage), std::string(r.text)) << r.codePage;
        EXPECT_FALSE(codePageToUtf8(r.bytes.substr(0, r.bytes.size() - 1), r.codePage))
            << r.codePage << ": a lead byte at the end";
        EXPECT_FALSE(utf8ToCodePage("Dvořák", r.codePage)) << r.codePage;
    }
    // 0x5C after a lead byte is part of a character, not a folder separator.
    EXPECT_EQ(backslashTrailByte(bytes({'a', 0x95, 0x5C}), 932), 2u);
    EXPECT_FALSE(backslashTrailByte(bytes({'a', '\\', 0xB1, 0x5C}), 932));
    EXPECT_FALSE(backslashTrailByte(bytes({0x95, 0x5C}), 1252));
}

TEST(CodePage, UnknownCodePagesAreNotSupported) {
    for (unsigned cp : {0u, 65001u, 1200u, 12345u, 54936u}) {
        EXPECT_FALSE(isSupportedCodePage(cp)) << cp;
        EXPECT_FALSE(utf8ToCodePage("a", cp)) << cp;
    }
}
