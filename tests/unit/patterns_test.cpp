// The pattern pass in process, for what a row cannot show: a tree deeper than
// a path buffer can name, and where the pass leaves the current directory.
// Everything else is rows of tests/cases/patterns.json.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "driver/state.h"
#include "harness.h"
#include "removal/removal.h"

namespace {

std::string currentFolder() {
    char path[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof(path), path);
    return path;
}

// Wide "\\?\" paths reach below MAX_PATH, where the bed's helpers cannot.
std::wstring longPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}
bool existsLong(const std::string& path) {
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
void makeFile(const std::string& path) {
    HANDLE file =
        CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    CloseHandle(file);
}
void removeLong(const std::string& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(longPath(path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring wide = found.cFileName;
            std::string name(wide.begin(), wide.end());
            if (name == "." || name == "..")
                continue;
            SetFileAttributesW(longPath(path + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeLong(path + "\\" + name);
            else
                DeleteFileW(longPath(path + "\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(longPath(path).c_str());
}

// A case folder, and the current directory and state put back afterwards.
class Walk : public ::testing::Test {
  protected:
    std::string dir;
    std::string saved = currentFolder();
    UninstallState savedState = state;
    char installDir[PATH_BUFFER_SIZE] = {};

    void SetUp() override {
        removeLong("C:\\vt\\unit-patterns");
        dir = bed::caseDir("unit-patterns");
        lstrcpynA(installDir, (dir + "\\").c_str(), sizeof(installDir));
        state.installDir = installDir;
    }
    void TearDown() override {
        SetCurrentDirectoryA(saved.c_str());
        state = savedState;
        removeLong(dir);
    }
    void file(const std::string& relative) {
        std::string path = dir + "\\" + relative;
        for (size_t at = path.find('\\', dir.size() + 1); at != std::string::npos;
             at = path.find('\\', at + 1))
            CreateDirectoryW(longPath(path.substr(0, at)).c_str(), nullptr);
        makeFile(path);
    }
    bool there(const std::string& relative) { return existsLong(dir + "\\" + relative); }
};

// 140 levels: far more than a 260-byte path can name. The levels that can
// be entered are walked, the rest stays, and nothing overflows.
TEST_F(Walk, TreeDeeperThanAPathCanName) {
    std::string level = "deep";
    for (int i = 0; i < 140; ++i, level += "\\d")
        file(level + "\\x.tmp");
    ASSERT_TRUE(SetCurrentDirectoryA((dir + "\\deep").c_str()));
    removeMatchingTree("*.tmp");
    EXPECT_EQ(currentFolder(), dir);
    std::string folder = "deep";
    for (int i = 0; i < 140; ++i, folder += "\\d") {
        size_t length = dir.size() + 1 + folder.size();
        if (length <= 240) // well within a path buffer: walked
            EXPECT_FALSE(there(folder + "\\x.tmp")) << length;
        else if (length >= PATH_BUFFER_SIZE) // cannot be entered: stays
            EXPECT_TRUE(there(folder + "\\x.tmp")) << length;
    }
    EXPECT_TRUE(there("deep"));
}

// The pass leaves the current directory at the installation folder after a
// pattern that could be entered, and where it was when none could.
TEST_F(Walk, CurrentDirectoryAfterThePass) {
    file("cache\\a.tmp");
    const char none[] = "missing\\*.tmp\0";
    state.patternList = (unsigned char*)none;
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\vt"));
    removePatterns();
    EXPECT_EQ(currentFolder(), "C:\\vt");
    const char some[] = "missing\\*.tmp\0cache\\*.tmp\0";
    state.patternList = (unsigned char*)some;
    removePatterns();
    EXPECT_EQ(currentFolder(), dir);
    EXPECT_FALSE(there("cache"));
}

} // namespace
