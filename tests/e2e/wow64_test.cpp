// The two kinds of bed: 32-bit Windows, and 64-bit Windows where this 32-bit
// test program and the uninstaller run under WoW64. There, HKLM\Software and
// System32 have a 64-bit view that a 32-bit program does not see by default;
// the uninstaller must handle its own view and leave the other alone.
#include <gtest/gtest.h>

#include "harness.h"

using namespace varnel;

namespace {

const char* SHARED_DLLS = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

bool underWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The shared-file count of PATH in one registry view; -1 when there is none.
long sharedCount(REGSAM view, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return -1;
    DWORD value = 0, size = sizeof(value), type = 0;
    LONG read =
        RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD ? long(value) : -1;
}

void setSharedCount(REGSAM view, const std::string& path, DWORD count) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4);
    RegCloseKey(key);
}

std::string readText(const std::string& path) {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(none)";
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

} // namespace

// The bed is of the kind it was made as (VARNEL_BED_KIND, from setup.sh).
TEST(Bed, RunsUnderWow64OnlyIn64BitBed) {
    char kind[16] = {};
    ASSERT_TRUE(GetEnvironmentVariableA("VARNEL_BED_KIND", kind, sizeof(kind)));
    EXPECT_EQ(underWow64(), std::string(kind) == "win64") << kind;
}

// A shared file in System32 named by the payload, with a count in each view:
// the 32-bit view's count and file (SysWOW64) are handled, the 64-bit view's
// count and the 64-bit System32 file stay as they were.
TEST(Wow64Views, SharedFileOfTheOtherViewIsLeftAlone) {
    if (!underWow64())
        GTEST_SKIP() << "only 64-bit Windows has a second view";
    char system[MAX_PATH] = {};
    char windows[MAX_PATH] = {};
    ASSERT_TRUE(GetSystemDirectoryA(system, MAX_PATH));
    ASSERT_TRUE(GetWindowsDirectoryA(windows, MAX_PATH));
    const std::string name = "varnel-wow64-shared.dll";
    const std::string ours = std::string(system) + "\\" + name; // SysWOW64 for this process
    const std::string native = std::string(windows) + "\\Sysnative\\" + name; // the 64-bit one
    bed::writeText(ours, "32-bit");
    bed::writeText(native, "64-bit");
    setSharedCount(KEY_WOW64_32KEY, ours, 1);
    setSharedCount(KEY_WOW64_64KEY, ours, 4);
    // The views really are two: each holds its own file and count.
    ASSERT_EQ(readText(ours), "32-bit");
    ASSERT_EQ(readText(native), "64-bit");
    ASSERT_EQ(sharedCount(0, ours), 1);
    ASSERT_EQ(sharedCount(KEY_WOW64_64KEY, ours), 4);

    std::vector<std::string> texts(16);
    texts[0] = "Views Test";
    texts[10] = ""; // no question: a file whose count ends goes at once
    PayloadSpec spec;
    spec.texts = texts;
    spec.files = {{system, name, FE_SHARED}};
    std::string dir = bed::caseDir("wow64-shared");
    auto r = bed::run(bed::placeUninstaller(dir, encodePayload(spec)), "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);

    EXPECT_EQ(sharedCount(0, ours), -1);
    EXPECT_FALSE(bed::exists(ours));
    EXPECT_EQ(sharedCount(KEY_WOW64_64KEY, ours), 4);
    EXPECT_EQ(readText(native), "64-bit");

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(key, ours.c_str());
        RegCloseKey(key);
    }
    DeleteFileA(native.c_str());
    DeleteFileA(ours.c_str());
}
