// The built executable read back: its headers, the DLLs it names, its locator, icon and manifest.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "harness.h"

namespace {

TEST(Build, A32BitGuiProgramImportingKernel32AloneWithOneLocatorAtItsEnd) {
    varnel::Bytes exe = varnel::readFileBytes(bed::fixture("uninst.exe"));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        &exe[reinterpret_cast<const IMAGE_DOS_HEADER*>(exe.data())->e_lfanew]);
    ASSERT_EQ(nt->Signature, DWORD(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // The import table names kernel32 alone: every other library is loaded
    // from the System folder once the search is restricted.
    auto* section = IMAGE_FIRST_SECTION(nt);
    auto offset = [&](DWORD rva) -> size_t {
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
            if (rva >= section[i].VirtualAddress &&
                rva < section[i].VirtualAddress + section[i].Misc.VirtualSize)
                return rva - section[i].VirtualAddress + section[i].PointerToRawData;
        return 0;
    };
    std::set<std::string> imported;
    DWORD table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(&exe[offset(table)]); d->Name;
         ++d)
        imported.insert(reinterpret_cast<const char*>(&exe[offset(d->Name)]));
    EXPECT_EQ(imported, std::set<std::string>{"KERNEL32.dll"});
    std::string text(exe.begin(), exe.end());
    auto field = varnel::findLocatorField(exe); // none when the marker is there twice
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(varnel::readLocator(exe, *field), exe.size());
    EXPECT_LE(exe.size(), 40960u); // the goal; the build itself stops at 48 KiB
    // Only the test build carries the seam.
    varnel::Bytes seam = varnel::readFileBytes(bed::fixture("uninst_seam.exe"));
    EXPECT_NE(std::string(seam.begin(), seam.end()).find("VARNEL_SEAM"), std::string::npos);
    EXPECT_EQ(text.find("VARNEL_SEAM"), std::string::npos);
}

// The icon group holds 16 and 32 pixels in 16 and in 256 colours, and 48 in 256,
// each image read back as such; the manifest asks for common controls 6 and for an administrator.
TEST(Build, IconAndManifest) {
    HMODULE m =
        LoadLibraryExA(bed::fixture("uninst.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(m);
    auto resource = [&](LPCSTR type, int id) {
        HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(id), type);
        auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(m, r)));
        return r ? varnel::Bytes(bytes, bytes + SizeofResource(m, r)) : varnel::Bytes();
    };
    varnel::Bytes group = resource(RT_GROUP_ICON, 800);
    std::multiset<std::pair<int, int>> formats;
    for (size_t e = 6; e + 14 <= group.size(); e += 14) {
        formats.insert({group[e], group[e + 6]});
        varnel::Bytes image = resource(RT_ICON, group[e + 12] | group[e + 13] << 8);
        auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header->biWidth, group[e]);
        EXPECT_EQ(header->biHeight, 2 * group[e]); // the colour bits, then the mask
        EXPECT_EQ(header->biBitCount, group[e + 6]);
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
