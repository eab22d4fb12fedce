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

// The seam makes chosen calls fail and records every call; the pass goes on
// past each failure.
TEST_F(FilePass, SeamFailsChosenCallsAndRecordsThem) {
    std::string dir = installDir;
    std::string log = dir + "seam.log";
    struct Case {
        const char* rules;
        const char* kept; // the files that stay, in entry order
    } cases[] = {
        {"DeleteFileA~b.txt!32", "b"},       // a sharing violation: b.txt stays
        {"DeleteFileA#2!5", "b"},            // only the second deletion (last entry first)
        {"DeleteFileA!2", "abc"},            // every deletion: gone already, nothing asked
        {"GetFileAttributesA~C.TXT!5", "c"}, // denied: in use; ASCII case ignored
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rules);
        entries.clear();
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            bed::writeText(dir + name, name);
            entries.push_back(entry(".", name));
        }
        useEntries();
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("VARNEL_SEAM", c.rules);
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", log.c_str());
        removeInstalledFiles();
        SetEnvironmentVariableA("VARNEL_SEAM", nullptr);
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr);
        std::string kept;
        for (char f : std::string("abc"))
            if (bed::exists(dir + f + ".txt"))
                kept += f;
        EXPECT_EQ(kept, c.kept);
        varnel::Bytes bytes = varnel::readFileBytes(log);
        std::string text(bytes.begin(), bytes.end());
        // Last entry first: c.txt is tested, and then deleted unless it counts as in use.
        EXPECT_EQ(text.rfind("GetFileAttributesA\t" + dir + "c.txt\r\n", 0), 0u) << text;
        EXPECT_EQ(text.find("DeleteFileA\t" + dir + "c.txt\r\n") != std::string::npos,
                  std::string(c.kept) != "c");
    }
}

} // namespace
