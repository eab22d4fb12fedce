// The built executable: a PE32 GUI program importing only system DLLs, with
// one payload locator that points at its own end, within its size goal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "harness.h"
#include "pe.h"

using varnel::Bytes;

namespace {

using bed::u16;
using bed::u32;

TEST(Build, IsA32BitGuiProgramImportingOnlySystemDlls) {
    Bytes exe = varnel::readFileBytes(bed::fixture("uninst.exe"));
    size_t pe = bed::peHeader(exe);
    ASSERT_EQ(u32(exe, pe), 0x00004550u); // "PE\0\0"
    EXPECT_EQ(u16(exe, pe + 4), 0x14C);   // Intel 386
    size_t optional = pe + 24;
    EXPECT_EQ(u16(exe, optional), 0x10B);  // PE32
    EXPECT_EQ(u16(exe, optional + 68), 2); // subsystem: Windows GUI

    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                           "advapi32.dll", "shell32.dll", "ole32.dll",
                                           "comctl32.dll", "msvcrt.dll"};
    uint32_t importRva = bed::dataDirectory(exe, 1);
    ASSERT_NE(importRva, 0u);
    std::set<std::string> names;
    for (size_t d = bed::fileOffset(exe, importRva); u32(exe, d + 12) != 0; d += 20) {
        std::string name(
            reinterpret_cast<const char*>(&exe[bed::fileOffset(exe, u32(exe, d + 12))]));
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        names.insert(name);
    }
    EXPECT_TRUE(names.count("kernel32.dll"));
    EXPECT_TRUE(names.count("user32.dll"));
    for (const std::string& name : names)
        EXPECT_TRUE(allowed.count(name)) << "imports " << name;
}

TEST(Build, LocatorOccursOnceAndPointsAtTheEnd) {
    Bytes exe = varnel::readFileBytes(bed::fixture("uninst.exe"));
    size_t count = 0;
    for (size_t i = 0; i + 6 <= exe.size(); ++i)
        count += std::memcmp(&exe[i], PAYLOAD_MARKER, 6) == 0;
    EXPECT_EQ(count, 1u);
    auto field = varnel::findLocatorField(exe);
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(varnel::readLocator(exe, *field), exe.size());
    EXPECT_LE(exe.size(), 49152u);
}

TEST(Build, CarriesNoTestSeam) {
    auto holds = [](const std::string& file, const std::string& text) {
        Bytes exe = varnel::readFileBytes(bed::fixture(file));
        return std::search(exe.begin(), exe.end(), text.begin(), text.end()) != exe.end();
    };
    EXPECT_TRUE(holds("uninst_seam.exe", "VARNEL_SEAM")); // the test build does
    EXPECT_FALSE(holds("uninst.exe", "VARNEL_SEAM"));
    EXPECT_FALSE(holds("uninst.exe", "DeleteFileA\t"));
}

} // namespace
