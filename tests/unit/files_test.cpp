// The installed-file pass in process: full paths of entries, and the progress
// positions it reports.
#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"
#include "driver/state.h"
#include "harness.h"
#include "payload/payload.h"
#include "process/process.h"
#include "removal/removal.h"
#include "ui/ui.h"

namespace {

// Points the state at a folder of its own and at a list of entries.
class FilePass : public ::testing::Test {
  protected:
    char installDir[PATH_BUFFER_SIZE] = {};
    char workPath[PATH_BUFFER_SIZE] = {};
    std::vector<FileEntry> entries;
    std::vector<FileEntry*> pointers;
    std::vector<std::string> strings;
    UninstallState saved = state;

    void SetUp() override {
        std::string dir = bed::caseDir("unit-files") + "\\";
        lstrcpynA(installDir, dir.c_str(), sizeof(installDir));
        state.installDir = installDir;
        state.workPath = workPath;
        state.progressBar = nullptr;
        state.progressDialog = nullptr;
        state.progressPosition = 0;
        strings.reserve(64);
    }
    void TearDown() override { state = saved; }

    FileEntry entry(const std::string& folder, const std::string& name) {
        strings.push_back(folder);
        char* f = strings.back().data();
        strings.push_back(name);
        return FileEntry{f, strings.back().data(), 0};
    }
    void useEntries() {
        pointers.clear();
        for (FileEntry& e : entries)
            pointers.push_back(&e);
        state.fileEntries = pointers.data();
        state.fileCount = uint32_t(pointers.size());
    }
    std::string path(const FileEntry& e) {
        return buildEntryPath(&e) ? std::string(state.workPath) : "(skipped)";
    }
};

TEST_F(FilePass, EntryPaths) {
    std::string dir = installDir;
    EXPECT_EQ(path(entry(".", "")), dir);
    EXPECT_EQ(path(entry(".", "a.txt")), dir + "a.txt");
    EXPECT_EQ(path(entry(".\\data\\bin", "")), dir + "data\\bin");
    EXPECT_EQ(path(entry(".\\data\\bin", "x.dll")), dir + "data\\bin\\x.dll");
    EXPECT_EQ(path(entry(".x", "b.txt")), dir + "b.txt");
    EXPECT_EQ(path(entry("C:\\Other", "c.txt")), "C:\\Other\\c.txt");
    EXPECT_EQ(path(entry("C:\\", "c.txt")), "C:\\c.txt");
    EXPECT_EQ(path(entry("", "bare.txt")), "bare.txt");
    EXPECT_EQ(path(entry("C:\\Folder\\", "")), "C:\\Folder\\");
    // 259 characters fit; 260 do not, and nothing is written past the buffer.
    std::string folder = "C:\\" + std::string(250, 'f');
    EXPECT_EQ(path(entry(folder, "12345")).size(), 259u);
    workPath[PATH_BUFFER_SIZE - 1] = 'Z';
    EXPECT_EQ(path(entry(folder, "123456")), "(skipped)");
    EXPECT_EQ(path(entry(".\\" + std::string(300, 's'), "n")), "(skipped)");
    // A folder that ends with a backslash gets none added, so 259 still fit.
    EXPECT_EQ(path(entry(folder + "\\", "12345")).size(), 259u);
    std::string name(259 - dir.size(), 'n');
    EXPECT_EQ(path(entry(".", name)), dir + name);
    EXPECT_EQ(path(entry(".", name + "n")), "(skipped)");
    EXPECT_EQ(workPath[0], 0);
}

TEST_F(FilePass, ProgressFollowsTheEntriesOnlyWithATotal) {
    for (int i = 0; i < 4; ++i)
        entries.push_back(entry(".", "missing" + std::to_string(i) + ".txt"));
    useEntries();
    state.progressTotal = 0; // quiet: nothing is reported
    removeInstalledFiles();
    EXPECT_EQ(state.progressPosition, 0u);

    state.progressTotal = 8; // 4 files: positions 0, 12, 25, 37
    removeInstalledFiles();
    EXPECT_EQ(state.progressPosition, 37u);

    state.progressTotal = 2; // 150 per cent is clamped to 100
    state.progressPosition = 0;
    removeInstalledFiles();
    EXPECT_EQ(state.progressPosition, 100u);
}

} // namespace
