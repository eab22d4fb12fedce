// The group, pruning and registry passes in process: the positions they send
// to the real progress bar, and the registry pass's choice of entries.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/state.h"
#include "harness.h"
#include "removal/removal.h"

namespace {

const char* const texts[] = {"Cleanup", "", "", "",   "",   "",   "",   "",
                             "",        "", "", "11", "12", "13", "14", nullptr};

// Positions that reached the progress bar.
std::vector<WPARAM> positions;
WNDPROC barProc = nullptr;
LRESULT CALLBACK recordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        positions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}

// The state pointed at lists of entries that name nothing on the machine.
class Cleanup : public ::testing::Test {
  protected:
    UninstallState saved = state;
    char installDir[PATH_BUFFER_SIZE] = {};
    char workPath[PATH_BUFFER_SIZE] = {};
    char currentDir[MAX_PATH] = {};
    std::vector<std::string> strings; // reserved: entries point into it
    std::vector<FileEntry> files;
    std::vector<GroupEntry> groups;
    std::vector<RegistryEntry> keys;
    std::vector<FileEntry*> filePointers;
    std::vector<GroupEntry*> groupPointers;
    std::vector<RegistryEntry*> keyPointers;
    std::string dir, log;
    bool ownClass = false;

    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, currentDir);
        dir = bed::caseDir("unit-cleanup");
        lstrcpynA(installDir, (dir + "\\app\\").c_str(), sizeof(installDir));
        state.installDir = installDir;
        state.workPath = workPath;
        state.instance = GetModuleHandleA(nullptr);
        state.stringTable = const_cast<char**>(texts);
        state.progressDialog = state.progressBar = nullptr;
        state.progressTotal = state.progressPosition = 0;
        strings.reserve(64);
        positions.clear();
        log = dir + ".log";
        DeleteFileA(log.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("VARNEL_SEAM", nullptr);
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr);
        if (state.mainWindow)
            DestroyWindow(state.mainWindow);
        if (ownClass) // another suite registers it once for good
            UnregisterClassA("VarnelClass", state.instance);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ;
        SetCurrentDirectoryA(currentDir);
        state = saved;
        bed::removeTree(dir);
        DeleteFileA(log.c_str());
    }

    char* text(const std::string& s) {
        strings.push_back(s);
        return strings.back().data();
    }
    void use() {
        for (FileEntry& e : files)
            filePointers.push_back(&e);
        for (GroupEntry& e : groups)
            groupPointers.push_back(&e);
        for (RegistryEntry& e : keys)
            keyPointers.push_back(&e);
        state.fileEntries = filePointers.data();
        state.fileCount = uint32_t(files.size());
        state.groupEntries = groupPointers.data();
        state.groupCount = uint32_t(groups.size());
        state.registryEntries = keyPointers.data();
        state.registryCount = uint32_t(keys.size());
    }
    // The progress dialog as the driver opens it, its bar recording.
    void openBar() {
        WNDCLASSA known;
        ownClass = !GetClassInfoA(state.instance, "VarnelClass", &known);
        ASSERT_TRUE(!ownClass || registerMainClass());
        state.mainWindow = createMainWindow();
        openProgressDialog();
        ASSERT_TRUE(state.progressBar);
        barProc =
            (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)recordingBarProc);
    }
    // Fails every registry call that could change something, and logs them all.
    void seamRegistry() {
        SetEnvironmentVariableA("VARNEL_SEAM",
                                "RegOpenKeyA!2|RegOpenKeyExA!2|RegDeleteKeyA!5|RegDeleteValueA!2");
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", log.c_str());
    }
    std::vector<std::string> logLines() {
        std::ifstream in(log, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find_first_of("\r")));
        return lines;
    }
};

// Three files, two groups, one key: progressTotal 9. The two group passes
// cover the same span, pruning skips the font entry's share, and the
// registry pass comes last, between groups and pruning.
TEST_F(Cleanup, PositionsOfTheGroupPruningAndRegistryPasses) {
    files = {{text(".\\none1"), text("a.txt"), 0},
             {text(".\\none2"), text("font.ttf"), FE_FONT},
             {text(".\\none3"), text(""), 0}};
    groups = {{0, text(dir + "\\g1"), text(""), text("x.lnk")},
              {2, text(dir + "\\g2"), text(""), text("")}};
    keys = {{0x80000001u, text("Software\\Varnel Unit Missing")}};
    use();
    openBar();
    ASSERT_EQ(state.progressTotal, 9u);
    removeGroupFiles();
    removeGroupFolders();
    pruneInstallFolders();
    runRegistryPass();
    EXPECT_EQ(positions, (std::vector<WPARAM>{33, 44, 33, 44, 66, 88, 55}));
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), 55);
}

// Value entries send nothing; skipped entries still count.
TEST_F(Cleanup, RegistryPositionsSkipValueEntries) {
    keys = {{0x80000001u, text("Software\\Varnel Unit Missing")},
            {0x80000001u, text("Software\\Varnel Unit Missing\\\\Value")},
            {0x80000001u, text("SOFTWARE")},
            {0x80000001u, text("Software\\Varnel Unit Missing\\Sub")}};
    use();
    state.fileCount = 2; // lists the pass does not read
    state.groupCount = 1;
    openBar();
    seamRegistry();
    runRegistryPass();
    EXPECT_EQ(positions, (std::vector<WPARAM>{33, 55, 66})); // of 9
    positions.clear();
    state.progressTotal = 0; // quiet
    runRegistryPass();
    EXPECT_TRUE(positions.empty());
}

// Which entries reach the registry, and how: only the whole "Software" or
// "System" tree of a root is guarded, whatever its case and separators.
TEST_F(Cleanup, RegistryGuardAndEntryForms) {
    struct Row {
        const char* path;
        const char* call; // the first registry call, or "" for none
    };
    const Row rows[] = {
        {"SOFTWARE", ""},
        {"system", ""},
        {"Software\\", ""},
        {"\\Software\\", ""},
        {"\\\\\\SYSTEM\\\\\\", ""},
        {"", ""},
        {"\\", ""},
        {"\\\\\\", ""},
        {"Software\\\\", ""}, // the default value of the whole tree's key
        {"Software\\Vendor", "RegOpenKeyExA\t0x80000002\tSoftware\\Vendor\t0\t65544"},
        {"Systems", "RegOpenKeyExA\t0x80000002\tSystems"},
        {"\\Vendor", "RegOpenKeyExA\t0x80000002\t\\Vendor"},
        {"Software\\Vendor\\\\Name", "RegOpenKeyA\t0x80000002\tSoftware\\Vendor\t"},
        {"Software\\Vendor\\\\", "RegOpenKeyA\t0x80000002\tSoftware\\Vendor\t"},
        {"\\\\Software", "RegOpenKeyA\t0x80000002\t\t"}, // a value of the root
        {"\\\\", "RegOpenKeyA\t0x80000002\t\t"},         // the root's default value
    };
    seamRegistry();
    state.isNT = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        keys = {{0x80000002u, text(row.path)}};
        keyPointers.clear();
        use();
        DeleteFileA(log.c_str());
        runRegistryPass();
        std::vector<std::string> lines = logLines();
        if (!row.call[0]) {
            EXPECT_TRUE(lines.empty()) << lines[0];
            continue;
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind(row.call, 0), 0u) << lines[0];
        EXPECT_STREQ(keys[0].path, row.path); // the text is restored
    }
}

} // namespace
