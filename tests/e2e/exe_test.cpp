// What rows cannot check: the built executable read back from its file, its
// headers, the DLLs it names, its locator, its icon and its manifest.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "harness.h"

namespace {

varnel::Bytes file(const char* name) {
    return varnel::readFileBytes(bed::fixture(name));
}

bool holds(const varnel::Bytes& b, const std::string& text) {
    return std::search(b.begin(), b.end(), text.begin(), text.end()) != b.end();
}

TEST(Build, A32BitGuiProgramNamingOnlySystemDllsWithOneLocatorAtItsEnd) {
    varnel::Bytes exe = file("uninst.exe");
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        &exe[reinterpret_cast<const IMAGE_DOS_HEADER*>(exe.data())->e_lfanew]);
    ASSERT_EQ(nt->Signature, DWORD(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Every DLL the file names, imported or loaded (uxtheme, when there).
    const std::set<std::string> allowed = {"kernel32", "user32",   "gdi32",  "advapi32", "shell32",
                                           "ole32",    "comctl32", "msvcrt", "uxtheme"};
    std::string text(exe.begin(), exe.end());
    std::regex dll("([A-Za-z0-9_.-]+)\\.dll", std::regex::icase);
    for (std::sregex_iterator m(text.begin(), text.end(), dll), end; m != end; ++m) {
        std::string name = (*m)[1];
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        EXPECT_TRUE(allowed.count(name)) << "names " << m->str();
    }
    size_t count = 0;
    for (size_t i = 0; i + 6 <= exe.size(); ++i)
        count += std::memcmp(&exe[i], PAYLOAD_MARKER, 6) == 0;
    EXPECT_EQ(count, 1u);
    auto field = varnel::findLocatorField(exe);
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(varnel::readLocator(exe, *field), exe.size());
    EXPECT_LE(exe.size(), 49152u);
    // Only the test build carries the seam.
    EXPECT_TRUE(holds(file("uninst_seam.exe"), "VARNEL_SEAM"));
    EXPECT_FALSE(holds(exe, "VARNEL_SEAM"));
    EXPECT_FALSE(holds(exe, "DeleteFileA\t"));
}

// The icon group: 16 and 32 pixels in 16 and 256 colours, 48 in 256, each an
// uncompressed image whose size fits its palette, colour rows and mask; the
// manifest asks for common controls 6 and for an administrator.
TEST(Build, IconAndManifest) {
    HMODULE m =
        LoadLibraryExA(bed::fixture("uninst.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(m);
    auto resource = [&](LPCSTR type, int id) {
        HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(id), type);
        auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(m, r)));
        return r ? varnel::Bytes(bytes, bytes + SizeofResource(m, r)) : varnel::Bytes();
    };
    auto u16 = [](const varnel::Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; };
    auto u32 = [&](const varnel::Bytes& b, size_t at) {
        return uint32_t(u16(b, at) | u16(b, at + 2) << 16);
    };
    varnel::Bytes group = resource(RT_GROUP_ICON, 800);
    ASSERT_EQ(group.size(), 6u + 5 * 14);
    EXPECT_EQ(u32(group, 0), 0x10000u);
    std::multiset<std::pair<int, int>> formats;
    for (size_t e = 6; e < group.size(); e += 14) {
        int size = group[e], bits = u16(group, e + 6);
        formats.insert({size, bits});
        varnel::Bytes d = resource(RT_ICON, u16(group, e + 12));
        ASSERT_GE(d.size(), 40u);
        EXPECT_EQ(u32(group, e + 8), d.size());
        EXPECT_EQ(u32(d, 4), uint32_t(size));
        EXPECT_EQ(u32(d, 12), uint32_t(1 | bits << 16));
        EXPECT_EQ(u32(d, 16), 0u);
        size_t row = (size_t(size) * bits / 8 + 3) / 4 * 4, mask = (size_t(size) / 8 + 3) / 4 * 4;
        EXPECT_EQ(d.size(), 40 + 4 * (size_t(1) << bits) + size * (row + mask));
    }
    EXPECT_EQ(formats,
              (std::multiset<std::pair<int, int>>{{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}}));
    varnel::Bytes manifest = resource(RT_MANIFEST, 1);
    std::string xml(manifest.begin(), manifest.end());
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "level=\"requireAdministrator\""})
        EXPECT_NE(xml.find(part), std::string::npos) << part << " in " << xml;
    FreeLibrary(m);
}

} // namespace
