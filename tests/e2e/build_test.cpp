// The built executable: a PE32 GUI program importing only system DLLs, with
// one payload locator that points at its own end, within its size goal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "harness.h"

using varnel::Bytes;

namespace {

uint32_t u32(const Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t(b.at(at + 3)) << 24;
}
uint16_t u16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}

// File offset of a relative virtual address, through the section table.
size_t fileOffset(const Bytes& b, size_t peHeader, uint32_t rva) {
    uint16_t sections = u16(b, peHeader + 6);
    size_t table = peHeader + 24 + u16(b, peHeader + 20);
    for (uint16_t i = 0; i < sections; ++i) {
        size_t s = table + i * 40;
        uint32_t va = u32(b, s + 12), size = std::max(u32(b, s + 8), u32(b, s + 16));
        if (rva >= va && rva < va + size)
            return rva - va + u32(b, s + 20);
    }
    throw std::runtime_error("address outside every section");
}

TEST(Build, IsA32BitGuiProgramImportingOnlySystemDlls) {
    Bytes exe = varnel::readFileBytes(bed::fixture("uninst.exe"));
    size_t pe = u32(exe, 0x3C);
    ASSERT_EQ(u32(exe, pe), 0x00004550u); // "PE\0\0"
    EXPECT_EQ(u16(exe, pe + 4), 0x14C);   // Intel 386
    size_t optional = pe + 24;
    EXPECT_EQ(u16(exe, optional), 0x10B);  // PE32
    EXPECT_EQ(u16(exe, optional + 68), 2); // subsystem: Windows GUI

    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                           "advapi32.dll", "shell32.dll", "ole32.dll",
                                           "comctl32.dll", "msvcrt.dll"};
    uint32_t importRva = u32(exe, optional + 96 + 8);
    ASSERT_NE(importRva, 0u);
    std::set<std::string> names;
    for (size_t d = fileOffset(exe, pe, importRva); u32(exe, d + 12) != 0; d += 20) {
        std::string name(
            reinterpret_cast<const char*>(&exe[fileOffset(exe, pe, u32(exe, d + 12))]));
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

} // namespace
