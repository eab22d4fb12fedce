// The built executable's resources, read back from its file: the two dialog
// templates byte by byte, the icon group and its images, the manifest; all in
// language 1033 and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>

#include "harness.h"
#include "pe.h"

using varnel::Bytes;

namespace {

using bed::u16;
using bed::u32;

// One resource: type, id and language from the directory, its bytes.
struct Resource {
    uint32_t type, id, language;
    Bytes data;
};

// Walks the three levels (type, name, language) of the resource directory.
std::vector<Resource> readResources(const Bytes& exe) {
    uint32_t resourceRva = bed::dataDirectory(exe, 2);
    if (resourceRva == 0)
        throw std::runtime_error("no resource directory");
    auto offsetOf = [&](uint32_t rva) { return bed::fileOffset(exe, rva); };
    size_t root = offsetOf(resourceRva);
    // Entries of one directory: (id, offset of its target relative to the root, is directory).
    auto entries = [&](size_t dir) {
        std::vector<std::tuple<uint32_t, uint32_t, bool>> out;
        unsigned count = u16(exe, dir + 12) + u16(exe, dir + 14);
        for (unsigned i = 0; i < count; ++i) {
            size_t e = dir + 16 + i * 8;
            uint32_t name = u32(exe, e), target = u32(exe, e + 4);
            if (name & 0x80000000u)
                throw std::runtime_error("resource with a name instead of a number");
            out.emplace_back(name, target & 0x7FFFFFFFu, (target & 0x80000000u) != 0);
        }
        return out;
    };
    std::vector<Resource> out;
    for (auto [type, typeDir, d1] : entries(root)) {
        EXPECT_TRUE(d1);
        for (auto [id, idDir, d2] : entries(root + typeDir)) {
            EXPECT_TRUE(d2);
            for (auto [language, leaf, d3] : entries(root + idDir)) {
                EXPECT_FALSE(d3);
                size_t dataEntry = root + leaf;
                size_t at = offsetOf(u32(exe, dataEntry));
                uint32_t size = u32(exe, dataEntry + 4);
                out.push_back(
                    {type, id, language, Bytes(exe.begin() + at, exe.begin() + at + size)});
            }
        }
    }
    return out;
}

const Resource* find(const std::vector<Resource>& all, uint32_t type, uint32_t id) {
    for (const Resource& r : all)
        if (r.type == type && r.id == id)
            return &r;
    return nullptr;
}

// A classic dialog template, written out field by field.
struct Template {
    Bytes bytes;
    void word(uint16_t v) { varnel::putU16(bytes, v); }
    void dword(uint32_t v) { varnel::putU32(bytes, v); }
    void text(const char* s) {
        for (; *s; ++s)
            word(uint16_t(*s));
        word(0);
    }
    void align() {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
};

struct Item {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    uint16_t classAtom; // 0x80 button, 0x82 static; 0 for a class given by name
    const char* className;
    const char* text;
};

// Header: style, no extended style, item count, position 0,0, 257x73, no menu,
// default class, empty caption, 8 point Arial.
Bytes dialogTemplate(uint32_t style, const std::vector<Item>& items) {
    Template t;
    t.dword(style);
    t.dword(0);
    t.word(uint16_t(items.size()));
    for (int v : {0, 0, 257, 73})
        t.word(uint16_t(v));
    t.word(0);
    t.word(0);
    t.text("");
    t.word(8);
    t.text("Arial");
    for (const Item& item : items) {
        t.align();
        t.dword(item.style);
        t.dword(0);
        for (int v : {item.x, item.y, item.cx, item.cy})
            t.word(uint16_t(v));
        t.word(item.id);
        if (item.classAtom) {
            t.word(0xFFFF);
            t.word(item.classAtom);
        } else {
            t.text(item.className);
        }
        t.text(item.text);
        t.word(0); // no creation data
    }
    return t.bytes;
}

// Style bits as the platform defines them.
const uint32_t POPUP = 0x80000000, CHILD = 0x40000000, VISIBLE = 0x10000000, CAPTION = 0x00C00000,
               SYSMENU = 0x00080000, GROUP = 0x00020000, TABSTOP = 0x00010000, MODALFRAME = 0x80,
               SETFONT = 0x40, DEFPUSHBUTTON = 1, NOPREFIX = 0x80;
const uint16_t BUTTON = 0x80, STATIC = 0x82;

class Resources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        all = readResources(varnel::readFileBytes(bed::fixture("uninst.exe")));
    }
    static std::vector<Resource> all;
};
std::vector<Resource> Resources::all;

// Hex dump with the first differing offset, for a readable failure.
std::string firstDifference(const Bytes& got, const Bytes& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    char text[96];
    snprintf(text, sizeof(text), "sizes %zu and %zu, first difference at byte %zu", got.size(),
             want.size(), i);
    return text;
}

TEST_F(Resources, OnlyTheExpectedResourcesAllInLanguage1033) {
    std::set<std::pair<uint32_t, uint32_t>> named;
    for (const Resource& r : all) {
        EXPECT_EQ(r.language, 1033u) << "type " << r.type << " id " << r.id;
        if (r.type != 3) // the icon images are numbered by the group
            named.insert({r.type, r.id});
    }
    std::set<std::pair<uint32_t, uint32_t>> expected = {{5, 109}, {5, 110}, {14, 800}, {24, 1}};
    EXPECT_EQ(named, expected);
}

TEST_F(Resources, QuestionDialogTemplate) {
    const Resource* r = find(all, 5, 109);
    ASSERT_TRUE(r);
    const uint32_t button = CHILD | VISIBLE | TABSTOP;
    Bytes want = dialogTemplate(POPUP | CAPTION | SYSMENU | MODALFRAME | SETFONT,
                                {{button | DEFPUSHBUTTON, 20, 52, 50, 14, 6, BUTTON, "", ""},
                                 {button, 75, 52, 50, 14, 1001, BUTTON, "", ""},
                                 {CHILD | VISIBLE | GROUP, 7, 7, 243, 36, 1000, STATIC, "", ""},
                                 {button, 130, 52, 50, 14, 7, BUTTON, "", ""},
                                 {button, 186, 52, 50, 14, 1002, BUTTON, "", ""}});
    EXPECT_TRUE(r->data == want) << firstDifference(r->data, want);
}

TEST_F(Resources, ProgressDialogTemplate) {
    const Resource* r = find(all, 5, 110);
    ASSERT_TRUE(r);
    Bytes want = dialogTemplate(
        POPUP | VISIBLE | CAPTION | SYSMENU | MODALFRAME | SETFONT,
        {{CHILD | VISIBLE | GROUP | NOPREFIX, 7, 24, 243, 8, 1000, STATIC, "", ""},
         {CHILD | VISIBLE, 7, 38, 243, 12, 1009, 0, "msctls_progress32", "Progress1"}});
    EXPECT_TRUE(r->data == want) << firstDifference(r->data, want);
}

TEST_F(Resources, IconGroupOfFiveImages) {
    const Resource* group = find(all, 14, 800);
    ASSERT_TRUE(group);
    const Bytes& g = group->data;
    ASSERT_GE(g.size(), 6u);
    EXPECT_EQ(u16(g, 0), 0);
    EXPECT_EQ(u16(g, 2), 1);
    ASSERT_EQ(u16(g, 4), 5);
    ASSERT_EQ(g.size(), 6u + 5 * 14);
    std::multiset<std::pair<int, int>> formats; // size, bits per pixel
    std::set<uint16_t> ids;
    for (int i = 0; i < 5; ++i) {
        size_t e = 6 + i * 14;
        int width = g[e], height = g[e + 1], colours = g[e + 2], bits = u16(g, e + 6);
        uint16_t id = u16(g, e + 12);
        SCOPED_TRACE("image " + std::to_string(i));
        EXPECT_EQ(width, height);
        EXPECT_EQ(g[e + 3], 0);
        EXPECT_EQ(u16(g, e + 4), 1); // planes
        EXPECT_EQ(colours, bits == 4 ? 16 : 0);
        formats.insert({width, bits});
        EXPECT_TRUE(ids.insert(id).second);
        const Resource* image = find(all, 3, id);
        ASSERT_TRUE(image);
        const Bytes& d = image->data;
        EXPECT_EQ(u32(g, e + 8), d.size());
        // The image itself: a BITMAPINFOHEADER of the same size and depth
        // (height counts colour and mask rows), its palette, colour bits and mask.
        ASSERT_GE(d.size(), 40u);
        EXPECT_EQ(u32(d, 0), 40u);
        EXPECT_EQ(int(u32(d, 4)), width);
        EXPECT_EQ(int(u32(d, 8)), 2 * height);
        EXPECT_EQ(u16(d, 12), 1);
        EXPECT_EQ(u16(d, 14), bits);
        EXPECT_EQ(u32(d, 16), 0u); // uncompressed
        size_t palette = size_t(1) << bits;
        size_t colourRow = (size_t(width) * bits / 8 + 3) / 4 * 4;
        size_t maskRow = (size_t(width) / 8 + 3) / 4 * 4;
        EXPECT_EQ(d.size(), 40 + 4 * palette + height * (colourRow + maskRow));
    }
    std::multiset<std::pair<int, int>> expected = {{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}};
    EXPECT_EQ(formats, expected);
}

// The attributes of every element with the given name in an XML text.
std::vector<std::map<std::string, std::string>> elements(const std::string& xml,
                                                         const std::string& name) {
    std::vector<std::map<std::string, std::string>> out;
    std::regex element("<" + name + "\\b([^>]*)/?>");
    std::regex attribute("([A-Za-z:]+)\\s*=\\s*\"([^\"]*)\"");
    for (std::sregex_iterator e(xml.begin(), xml.end(), element), end; e != end; ++e) {
        std::string attributes = (*e)[1];
        std::map<std::string, std::string> values;
        for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end; ++a)
            values[(*a)[1]] = (*a)[2];
        out.push_back(values);
    }
    return out;
}

TEST_F(Resources, ManifestAsksForCommonControls6AndAdministrator) {
    const Resource* r = find(all, 24, 1);
    ASSERT_TRUE(r);
    std::string xml(r->data.begin(), r->data.end());
    auto identities = elements(xml, "assemblyIdentity");
    ASSERT_EQ(identities.size(), 2u) << xml;
    using Attributes = std::map<std::string, std::string>;
    EXPECT_EQ(identities[0], (Attributes{{"version", "1.0.0.0"},
                                         {"processorArchitecture", "X86"},
                                         {"name", "UninstallProgram"},
                                         {"type", "win32"}}));
    EXPECT_EQ(identities[1], (Attributes{{"type", "win32"},
                                         {"name", "Microsoft.Windows.Common-Controls"},
                                         {"version", "6.0.0.0"},
                                         {"processorArchitecture", "X86"},
                                         {"publicKeyToken", "6595b64144ccf1df"},
                                         {"language", "*"}}));
    // The second identity is the one dependency.
    std::regex dependency("<dependency>\\s*<dependentAssembly>\\s*<assemblyIdentity[^>]*"
                          "Common-Controls[^>]*/>\\s*</dependentAssembly>\\s*</dependency>");
    EXPECT_TRUE(std::regex_search(xml, dependency));
    EXPECT_EQ(elements(xml, "dependency").size(), 1u);
    EXPECT_NE(xml.find("<description>Uninstall Program</description>"), std::string::npos);
    auto levels = elements(xml, "requestedExecutionLevel");
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0], (Attributes{{"level", "requireAdministrator"}, {"uiAccess", "false"}}));
    std::regex security("<security>\\s*<requestedPrivileges>\\s*<requestedExecutionLevel");
    EXPECT_TRUE(std::regex_search(xml, security));
}

} // namespace
