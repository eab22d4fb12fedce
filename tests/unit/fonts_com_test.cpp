// Font and COM server unregistration in process, with the fixture servers
// (fixtures/comserver.cpp), the decoy program and a renamed real font, which
// the test is handed on its command line (so they lie beside it).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/state.h"
#include "harness.h"
#include "removal/font_name.h"
#include "removal/removal.h"

namespace {

const char NT_FONTS[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char FONTS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char TEST_FONT[] = "Varnel Test Mono";

std::string besideTest(const std::string& name) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    *strrchr(path, '\\') = 0;
    return std::string(path) + "\\" + name;
}

// A text file's lines, "\n"-ended; tabs read as spaces (the seam log's
// separators).
std::string readText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::string s = text.str();
    std::replace(s.begin(), s.end(), '\t', ' ');
    return s;
}

void copyFixture(const std::string& name, const std::string& to) {
    ASSERT_TRUE(CopyFileA(besideTest(name).c_str(), to.c_str(), FALSE)) << name << " to " << to;
}

UINT errorMode() {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

std::string currentDirectory() {
    char path[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

void* handlerChain() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

class Unregister : public ::testing::Test {
  protected:
    char workPath[PATH_BUFFER_SIZE] = {};
    UninstallState saved = state;
    std::string dir, start, before = currentDirectory();
    UINT modeBefore = errorMode();

    void SetUp() override {
        dir = bed::caseDir("unit-unregister");
        start = dir + "\\start";
        CreateDirectoryA(start.c_str(), nullptr);
        CreateDirectoryA((dir + "\\srv").c_str(), nullptr);
        state.workPath = workPath;
    }
    void TearDown() override {
        state = saved;
        SetCurrentDirectoryA(before.c_str());
        SetErrorMode(modeBefore);
        SetEnvironmentVariableA("VARNEL_SEAM", nullptr);
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr);
        DeleteFileA(besideTest("regsvr32.exe").c_str());
    }
    // Puts a fixture server into the server folder and names it in workPath.
    std::string place(const std::string& name) {
        std::string path = dir + "\\srv\\" + name;
        copyFixture(name, path);
        lstrcpynA(workPath, path.c_str(), PATH_BUFFER_SIZE);
        return path;
    }
    // Unregisters from the start folder under another error mode, checks that
    // both and the handler chain are as they were, and returns what the
    // server recorded.
    std::map<std::string, std::string> unregister(bool vistaOrLater) {
        state.isVistaOrLater = vistaOrLater;
        SetCurrentDirectoryA(start.c_str());
        SetErrorMode(SEM_NOGPFAULTERRORBOX);
        void* chain = handlerChain();
        unregisterComServer();
        EXPECT_EQ(errorMode(), UINT(SEM_NOGPFAULTERRORBOX));
        EXPECT_EQ(currentDirectory(), start);
        EXPECT_EQ(handlerChain(), chain);
        std::string log = std::string(workPath) + ".log";
        auto values = bed::parseValues(readText(log));
        DeleteFileA(log.c_str());
        return values;
    }
};

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           lstrcmpiA(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

TEST_F(Unregister, InProcessInTheServersFolder) {
    place("com_record.dll");
    auto seen = unregister(false);
    EXPECT_TRUE(endsWith(seen["process"], "\\unit_tests.exe")) << seen["process"];
    EXPECT_EQ(seen["directory"], dir + "\\srv");
    EXPECT_EQ(seen["errorMode"], std::to_string(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    EXPECT_EQ(GetModuleHandleA("com_record.dll"), nullptr) << "not freed";
}

TEST_F(Unregister, CrashingServerIsSwallowed) {
    place("com_crash.dll");
    for (int round = 0; round < 2; ++round) {
        auto seen = unregister(false);
        EXPECT_TRUE(endsWith(seen["process"], "\\unit_tests.exe")) << "round " << round;
        EXPECT_EQ(GetModuleHandleA("com_crash.dll"), nullptr) << "not freed";
    }
}

TEST_F(Unregister, NothingToCall) {
    place("com_noexport.dll");
    EXPECT_TRUE(unregister(false).empty());
    EXPECT_EQ(GetModuleHandleA("com_noexport.dll"), nullptr);
    lstrcpyA(workPath, (dir + "\\srv\\missing.dll").c_str());
    EXPECT_TRUE(unregister(false).empty());
    EXPECT_TRUE(unregister(true).empty());
}

// The system's regsvr32 runs it, not a program of that name beside the
// uninstaller or in the current directory.
TEST_F(Unregister, SystemRegsvr32) {
    place("com_record.dll");
    copyFixture("decoy.exe", besideTest("regsvr32.exe"));
    copyFixture("decoy.exe", start + "\\regsvr32.exe");
    auto seen = unregister(true);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_TRUE(endsWith(seen["process"], "\\regsvr32.exe")) << seen["process"];
    EXPECT_EQ(lstrcmpiA(seen["process"].c_str(), (std::string(system) + "\\regsvr32.exe").c_str()),
              0)
        << seen["process"];
    EXPECT_EQ(readText(besideTest("regsvr32.exe.log")), "");
    EXPECT_EQ(readText(start + "\\regsvr32.exe.log"), "");
}

TEST_F(Unregister, Regsvr32CommandLineAndWait) {
    std::string server = place("com_record.dll");
    std::string system = dir + "\\system";
    CreateDirectoryA(system.c_str(), nullptr);
    copyFixture("decoy.exe", system + "\\regsvr32.exe");
    SetEnvironmentVariableA("VARNEL_SEAM", ("system=" + system + "\\").c_str());
    SetEnvironmentVariableA("VARNEL_SEAM_LOG", (dir + "\\seam.log").c_str());
    EXPECT_TRUE(unregister(true).empty()) << "the server was called";
    EXPECT_EQ(readText(system + "\\regsvr32.exe.log"),
              "\"" + system + "\\regsvr32.exe\" /u /s \"" + server + "\"\n");
    std::string calls = readText(dir + "\\seam.log");
    EXPECT_NE(calls.find("GetExitCodeProcess"), std::string::npos);
    EXPECT_NE(calls.find("Sleep 250"), std::string::npos);
    EXPECT_EQ(calls.find("LoadLibraryA"), std::string::npos);
}

// When regsvr32 cannot be started (or the system folder cannot be had), the
// server is called in process.
TEST_F(Unregister, FallsBackInProcess) {
    place("com_record.dll");
    for (const char* rule : {"CreateProcessA!2", "system"}) {
        SetEnvironmentVariableA("VARNEL_SEAM", rule);
        auto seen = unregister(true);
        EXPECT_TRUE(endsWith(seen["process"], "\\unit_tests.exe")) << rule;
        EXPECT_EQ(seen["directory"], dir + "\\srv") << rule;
    }
}

std::string fontName(const std::string& path) {
    char name[FONT_NAME_SIZE];
    readFontFullName(path.c_str(), name);
    return name;
}

TEST_F(Unregister, FontNameFromFile) {
    std::string font = dir + "\\test.ttf";
    copyFixture("VarnelTestMono.ttf", font);
    EXPECT_EQ(fontName(font), TEST_FONT);
    EXPECT_EQ(fontName(dir + "\\missing.ttf"), "");
    bed::writeText(dir + "\\empty.ttf", "");
    EXPECT_EQ(fontName(dir + "\\empty.ttf"), "");
}

void setFontValue(const char* key, const std::string& name) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &k), ERROR_SUCCESS);
    RegSetValueExA(k, name.c_str(), 0, REG_SZ, (const BYTE*)"test.ttf", 9);
    RegCloseKey(k);
}

bool hasFontValue(const char* key, const std::string& name) {
    HKEY k;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &k) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, nullptr) == 0;
    RegCloseKey(k);
    return found;
}

// The value goes under the key of the running family only; other fonts'
// values stay.
TEST_F(Unregister, FontValueUnderOneKey) {
    std::string font = dir + "\\test.ttf";
    copyFixture("VarnelTestMono.ttf", font);
    std::string value = std::string(TEST_FONT) + " (TrueType)";
    std::string other = std::string(TEST_FONT) + " Bold (TrueType)";
    for (int nt = 0; nt < 2; ++nt) {
        for (const char* key : {NT_FONTS, FONTS}) {
            setFontValue(key, value);
            setFontValue(key, other);
        }
        state.isNT = nt;
        unregisterFont(font.c_str());
        EXPECT_EQ(hasFontValue(NT_FONTS, value), !nt) << "isNT " << nt;
        EXPECT_EQ(hasFontValue(FONTS, value), !!nt) << "isNT " << nt;
        EXPECT_TRUE(hasFontValue(NT_FONTS, other) && hasFontValue(FONTS, other));
    }
    for (const char* key : {NT_FONTS, FONTS}) {
        HKEY k;
        RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &k);
        RegDeleteValueA(k, value.c_str());
        RegDeleteValueA(k, other.c_str());
        RegCloseKey(k);
    }
}

int CALLBACK noteFamily(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
    *(bool*)found = true;
    return 0;
}

bool fontListed(const char* family) {
    LOGFONTA wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(wanted.lfFaceName, family);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExA(screen, &wanted, noteFamily, (LPARAM)&found, 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The font leaves the system's list; a file without a name is still
// withdrawn and announced, but no value is deleted.
TEST_F(Unregister, FontWithdrawn) {
    std::string font = dir + "\\test.ttf";
    copyFixture("VarnelTestMono.ttf", font);
    ASSERT_FALSE(fontListed(TEST_FONT));
    ASSERT_GT(AddFontResourceA(font.c_str()), 0);
    EXPECT_TRUE(fontListed(TEST_FONT));
    unregisterFont(font.c_str());
    EXPECT_FALSE(fontListed(TEST_FONT));

    SetEnvironmentVariableA("VARNEL_SEAM_LOG", (dir + "\\seam.log").c_str());
    bed::writeText(dir + "\\plain.ttf", "not a font");
    unregisterFont((dir + "\\plain.ttf").c_str());
    std::string calls = readText(dir + "\\seam.log");
    EXPECT_NE(calls.find("RemoveFontResourceA " + dir + "\\plain.ttf"), std::string::npos);
    EXPECT_NE(calls.find("SendMessageA 0xffff 29 0 0"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("RegOpenKeyA"), std::string::npos);
}

} // namespace
