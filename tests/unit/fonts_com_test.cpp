// Font and COM server unregistration in process: what the rows cannot see
// (the error mode, current directory and handler chain restored, the library
// freed, the command line, the per-process font list). The fixture servers,
// the decoy program and the renamed real font are handed to the test on its
// command line, so they lie beside it.
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

// A bare file name is loaded as it is, from the current directory, which
// stays; a server in a drive's root runs in the root, not in the drive's
// current directory.
TEST_F(Unregister, BareNameAndDriveRoot) {
    copyFixture("com_record.dll", start + "\\bare.dll");
    lstrcpyA(workPath, "bare.dll");
    EXPECT_EQ(unregister(false)["directory"], start);
    copyFixture("com_record.dll", "C:\\varnel-root.dll");
    lstrcpyA(workPath, "C:\\varnel-root.dll");
    EXPECT_EQ(unregister(false)["directory"], "C:\\");
    DeleteFileA(workPath);
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
