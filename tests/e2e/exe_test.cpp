// The built executable read back: its headers, the DLLs it names, its locator, icon and manifest.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "harness.h"

namespace {

// Both stubs: uninst.exe, for products installed per machine, and uninst-user.exe, for those
// installed per user. Their code is the same byte for byte but for the locator, which holds
// each file's size.
TEST(Build, A32BitGuiProgramImportingKernel32AloneWithOneLocatorAtItsEnd) {
    std::string code[2];
    for (const char* name : {"uninst.exe", "uninst-user.exe"}) {
        SCOPED_TRACE(name);
        varnel::Bytes exe = varnel::readFileBytes(bed::fixture(name));
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
        for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(&exe[offset(table)]);
             d->Name; ++d)
            imported.insert(reinterpret_cast<const char*>(&exe[offset(d->Name)]));
        EXPECT_EQ(imported, std::set<std::string>{"KERNEL32.dll"});
        std::string text(exe.begin(), exe.end());
        auto field = varnel::findLocatorField(exe); // none when the marker is there twice
        ASSERT_TRUE(field.has_value());
        EXPECT_EQ(varnel::readLocator(exe, *field), exe.size());
        EXPECT_LE(exe.size(), 40960u); // the goal; the build itself stops at 48 KiB
        EXPECT_EQ(text.find("VARNEL_SEAM"), std::string::npos);
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(section[0].Name)), ".text");
        code[name[6] == '-'] = text.substr(section[0].PointerToRawData, section[0].SizeOfRawData)
                                   .replace(*field - section[0].PointerToRawData, 4, 4, '\0');
    }
    EXPECT_TRUE(code[0] == code[1]) << "the two stubs' code differs";
    // Only the test build carries the seam.
    varnel::Bytes seam = varnel::readFileBytes(bed::fixture("uninst_seam.exe"));
    EXPECT_NE(std::string(seam.begin(), seam.end()).find("VARNEL_SEAM"), std::string::npos);
}

// The icon group holds 16 and 32 pixels in 16 and in 256 colours, and 48 in 256,
// each image read back as such and made into an icon by the system; the manifest asks for common
// controls 6 and, in uninst.exe, for an administrator, in uninst-user.exe for the rights of its
// caller.
TEST(Build, IconAndManifest) {
    for (const char* name : {"uninst.exe", "uninst-user.exe"}) {
        SCOPED_TRACE(name);
        HMODULE m = LoadLibraryExA(bed::fixture(name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
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
            HICON icon =
                CreateIconFromResourceEx(const_cast<uint8_t*>(image.data()), DWORD(image.size()),
                                         TRUE, 0x30000, group[e], group[e], LR_DEFAULTCOLOR);
            EXPECT_TRUE(icon) << group[e] << "x" << int(group[e + 6]);
            DestroyIcon(icon);
        }
        EXPECT_EQ(formats, (std::multiset<std::pair<int, int>>{
                               {16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}}));
        varnel::Bytes manifest = resource(RT_MANIFEST, 1);
        std::string xml(manifest.begin(), manifest.end());
        std::string level =
            name[6] == '-' ? "level=\"asInvoker\"" : "level=\"requireAdministrator\"";
        for (const std::string& part : {std::string("name=\"Microsoft.Windows.Common-Controls\""),
                                        std::string("version=\"6.0.0.0\""), level})
            EXPECT_NE(xml.find(part), std::string::npos) << part << " in " << xml;
        FreeLibrary(m);
    }
}

} // namespace
