// The removal passes in process, for what the rows of tests/cases cannot
// show: the bounds of entry paths, the positions sent to the real progress
// bar, the registry pass's choice of entries, the seam's matching, and the
// pattern walk in a tree deeper than a path can name.
#include "unit.h" // first: windows.h

#include <algorithm>

#include <commctrl.h>

#include "driver/driver.h"
#include "removal/removal.h"
#include "ui/ui.h"

namespace {

const char* const texts[] = {"Passes", "", "", "", "", "", "", "", "", "", "", nullptr};

std::vector<WPARAM> positions; // positions that reached the progress bar
WNDPROC barProc = nullptr;
LRESULT CALLBACK recordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        positions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}

// The state pointed at a case folder of its own and at lists of entries.
class Passes : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-passes"), log = dir + ".log";
    char installDir[PATH_BUFFER_SIZE] = {}, workPath[PATH_BUFFER_SIZE] = {};
    std::vector<std::string> strings = std::vector<std::string>(); // entries point into it
    std::vector<FileEntry> files;
    std::vector<GroupEntry> groups;
    std::vector<RegistryEntry> keys;
    std::vector<FileEntry*> filePointers;
    std::vector<GroupEntry*> groupPointers;
    std::vector<RegistryEntry*> keyPointers;

    void SetUp() override {
        lstrcpynA(installDir, (dir + "\\").c_str(), sizeof(installDir));
        state.installDir = installDir;
        state.workPath = workPath;
        state.instance = GetModuleHandleA(nullptr);
        state.stringTable = const_cast<char**>(texts);
        state.progressDialog = state.progressBar = state.mainWindow = nullptr;
        state.progressTotal = state.progressPosition = 0;
        strings.reserve(64);
        positions.clear();
    }
    void TearDown() override {
        if (state.mainWindow)
            DestroyWindow(state.mainWindow);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ;
        StateTest::TearDown();
        bed::removeTree(dir);
        DeleteFileA(log.c_str());
    }
    char* text(const std::string& s) {
        strings.push_back(s);
        return strings.back().data();
    }
    void use() {
        filePointers.clear(), groupPointers.clear(), keyPointers.clear();
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
    void openBar() { // the progress dialog as the driver opens it, its bar recording
        WNDCLASSA known;
        ASSERT_TRUE(GetClassInfoA(state.instance, "VarnelClass", &known) || registerMainClass());
        state.mainWindow = createMainWindow();
        openProgressDialog();
        ASSERT_TRUE(state.progressBar);
        barProc =
            (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)recordingBarProc);
    }
};
using FilePass = Passes;
using Cleanup = Passes;
using Walk = Passes;

// Full paths of entries fit in 259 characters or are skipped, never cut;
// that they are joined as the rows of files.json expect is seen there.
TEST_F(FilePass, EntryPathsAtTheLimit) {
    const std::string folder = "C:\\" + std::string(250, 'f'), name(259 - dir.size() - 1, 'n');
    const struct {
        std::string folder, name, path; // "": skipped
    } rows[] = {
        {"C:\\", "c.txt", "C:\\c.txt"},
        {"C:\\Folder\\", "", "C:\\Folder\\"},
        {folder, "12345", folder + "\\12345"},
        {folder + "\\", "12345", folder + "\\12345"}, // no backslash added: 259 still fit
        {folder, "123456", ""},
        {".\\" + std::string(300, 's'), "n", ""},
        {".", name, installDir + name},
        {".", name + "n", ""},
    };
    for (const auto& row : rows) {
        FileEntry entry{text(row.folder), text(row.name), 0};
        workPath[PATH_BUFFER_SIZE - 1] = 'Z';
        EXPECT_EQ(joinEntryPath(workPath, installDir, &entry) ? std::string(workPath) : "",
                  row.path)
            << row.folder << "\\" << row.name;
        EXPECT_EQ(workPath[PATH_BUFFER_SIZE - 1], row.path.size() == 259 ? 0 : 'Z');
    }
}

// The seam fails chosen calls (by text, ASCII case ignored, or by number)
// and logs every call; the pass goes on past each failure.
TEST_F(FilePass, SeamFailsChosenCallsAndRecordsThem) {
    for (auto& row : unit::rows(R"(
        DeleteFileA~b.txt!32 | b
        DeleteFileA#2!5 | b
        DeleteFileA!2 | abc
        GetFileAttributesA~C.TXT!5 | c
        ~ | ~
    )")) {
        files.clear();
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            bed::writeText(dir + "\\" + name, name);
            files.push_back({text("."), text(name), 0});
        }
        use();
        unit::Seam seam(row[0], log);
        removeInstalledFiles();
        std::string kept;
        for (char f : std::string("abc"))
            if (bed::exists(dir + "\\" + f + ".txt"))
                kept += f;
        EXPECT_EQ(kept, row[1]) << row[0];
        // Last entry first: c.txt is tested, then deleted unless in use.
        auto calls = seam.take();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0], (unit::Call{"GetFileAttributesA", dir + "\\c.txt"}));
        bool deleted =
            std::count(calls.begin(), calls.end(), unit::Call{"DeleteFileA", dir + "\\c.txt"});
        EXPECT_EQ(deleted, row[1] != "c") << row[0];
    }
}

// Three files, two groups, three keys and a value: progressTotal 12. The two
// group passes cover the same span, pruning skips the font entry's share,
// the registry pass's span lies between the groups' and the pruning's, and a
// value entry sends nothing, while a guarded entry still counts.
TEST_F(Cleanup, PositionsOfTheGroupPruningAndRegistryPasses) {
    files = {{text(".\\none1"), text("a.txt"), 0},
             {text(".\\none2"), text("font.ttf"), FE_FONT},
             {text(".\\none3"), text(""), 0}};
    groups = {{0, text(dir + "\\g1"), text(""), text("x.lnk")},
              {2, text(dir + "\\g2"), text(""), text("")}};
    keys = {{0x80000001u, text("Software\\Varnel Unit Missing")},
            {0x80000001u, text("Software\\Varnel Unit Missing\\\\Value")},
            {0x80000001u, text("SOFTWARE")},
            {0x80000001u, text("Software\\Varnel Unit Missing\\Sub")}};
    use();
    openBar();
    unit::Seam seam("RegOpenKeyA!2|RegOpenKeyExA!2|RegDeleteKeyA!5|RegDeleteValueA!2");
    ASSERT_EQ(state.progressTotal, 12u);
    removeGroupFiles();
    removeGroupFolders();
    pruneInstallFolders();
    runRegistryPass();
    EXPECT_EQ(positions, (std::vector<WPARAM>{25, 33, 25, 33, 75, 91, 41, 58, 66}));
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), 66);
    positions.clear();
    state.progressTotal = 0; // quiet
    runRegistryPass();
    EXPECT_TRUE(positions.empty());
}

// Only the whole "Software" or "System" tree of a root is guarded, whatever
// its case and separators: the entry and the first registry call it makes.
TEST_F(Cleanup, RegistryGuardAndEntryForms) {
    unit::Seam seam("RegOpenKeyA!2|RegOpenKeyExA!2|RegDeleteKeyA!5|RegDeleteValueA!2", log);
    state.isNT = 1;
    for (auto& row : unit::rows(R"(
        SOFTWARE | ~
        system | ~
        Software\ | ~
        \Software\ | ~
        \\\SYSTEM\\\ | ~
        ~ | ~
        \ | ~
        \\\ | ~
        Software\\ | ~
        Software\Vendor | RegOpenKeyExA 0x80000002 Software\Vendor 0 65544
        Systems | RegOpenKeyExA 0x80000002 Systems 0 65544
        \Vendor | RegOpenKeyExA 0x80000002 \Vendor 0 65544
        Software\Vendor\\Name | RegOpenKeyA 0x80000002 Software\Vendor
        Software\Vendor\\ | RegOpenKeyA 0x80000002 Software\Vendor
        \\Software | RegOpenKeyA 0x80000002 ~
        \\ | RegOpenKeyA 0x80000002 ~
    )")) {
        keys = {{0x80000002u, text(row[0])}};
        use();
        runRegistryPass();
        auto calls = seam.take();
        std::string first;
        for (size_t i = 0; !calls.empty() && i < calls[0].size() && i < 5; ++i)
            first += (i ? " " : "") + (calls[0][i].empty() ? "~" : calls[0][i]);
        EXPECT_EQ((first + " ").rfind(row[1].empty() ? "" : row[1] + " ", 0), 0u) << first;
        EXPECT_EQ(first.empty(), row[1].empty()) << row[0];
        EXPECT_STREQ(keys[0].path, row[0].c_str()); // the text is restored
    }
}

// 140 levels: far more than a 260-byte path can name. The levels that can
// be entered are walked, the rest stays, and nothing overflows; after the
// pass the current directory is the installation folder after a pattern
// that could be entered, and where it was when none could.
TEST_F(Walk, TreeDeeperThanAPathCanNameAndTheCurrentDirectory) {
    std::vector<std::wstring> levels; // "\\?\" paths reach below MAX_PATH
    for (std::string level = "\\\\?\\" + dir + "\\deep"; levels.size() < 140; level += "\\d") {
        levels.push_back(std::wstring(level.begin(), level.end()));
        CreateDirectoryW(levels.back().c_str(), nullptr);
        CloseHandle(CreateFileW((levels.back() + L"\\x.tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr));
    }
    const char none[] = "missing\\*.tmp\0", some[] = "missing\\*.tmp\0deep\\*.tmp\0";
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\vt"));
    state.patternList = (unsigned char*)none;
    removePatterns();
    EXPECT_EQ(unit::currentDir(), "C:\\vt");
    state.patternList = (unsigned char*)some;
    removePatterns();
    EXPECT_EQ(unit::currentDir(), dir);
    EXPECT_TRUE(bed::exists(dir + "\\deep"));
    for (size_t i = 139; i < levels.size(); --i) {
        size_t length = levels[i].size() - 4;
        bool there =
            GetFileAttributesW((levels[i] + L"\\x.tmp").c_str()) != INVALID_FILE_ATTRIBUTES;
        if (length <= 240 || length >= PATH_BUFFER_SIZE) // walked, or cannot be entered
            EXPECT_EQ(there, length >= PATH_BUFFER_SIZE) << length;
        DeleteFileW((levels[i] + L"\\x.tmp").c_str());
        RemoveDirectoryW(levels[i].c_str());
    }
}

} // namespace
