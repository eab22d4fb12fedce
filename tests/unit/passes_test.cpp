// The progress dialog (its real template) and the passes in process, where the cases cannot look.
#include "unit.h" // first: windows.h

#include <commctrl.h>

#include "driver/driver.h"
#include "payload/payload.h"
#include "removal/removal.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

using namespace varnel;

namespace {

std::vector<WPARAM> positions; // positions that reached the progress bar
WNDPROC barProc = nullptr;
LRESULT CALLBACK recordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        positions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}

// The state pointed at a case folder, and the main window.
class Passes : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-passes");
    char installDir[PATH_BUFFER_SIZE] = {}, workPath[PATH_BUFFER_SIZE] = {};

    void SetUp() override {
        lstrcpynA(installDir, (dir + "\\").c_str(), sizeof(installDir));
        state.installDir = installDir;
        state.workPath = workPath;
        state.instance = GetModuleHandleA(nullptr);
        registerMainClass(); // or registered by an earlier test
        ASSERT_TRUE(state.mainWindow = createMainWindow());
        positions.clear();
    }
    void TearDown() override {
        DestroyWindow(state.mainWindow); // and the progress dialog it owns
        pumpPendingMessages();           // the main window's quit message
        if (state.dialogFont)
            DeleteObject(state.dialogFont);
        StateTest::TearDown();
    }
    void openBar() { // the progress dialog as the driver opens it, its bar recording
        openProgressDialog();
        ASSERT_TRUE(state.progressDialog && state.progressBar);
        barProc =
            (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)recordingBarProc);
    }
};
using Ui = Passes;
using Cleanup = Passes;

// Shown by its template alone, the progress dialog stays open whatever it is sent.
TEST_F(Ui, ProgressDialogThatNothingCloses) {
    const char* texts[] = {"Demo", "Cleaning", "", "", "", "", "", "", "", "%s?", nullptr};
    state.stringTable = const_cast<char**>(texts);
    openBar();
    HWND dialog = state.progressDialog;
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), state.mainWindow);
    EXPECT_FALSE(IsWindowVisible(state.mainWindow));
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Demo");
    setStageText(1);
    GetDlgItemTextA(dialog, IDC_MESSAGE, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Cleaning");
    // Esc, Enter, the close box and any command leave it open.
    for (WPARAM key : {VK_ESCAPE, VK_RETURN})
        PostMessageA(dialog, WM_KEYDOWN, key, 1);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpPendingMessages();
    EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
    // Each change reaches the bar, clamped to 100, and runs the pump; a repeat does neither.
    for (uint32_t percentage : {250u, 100u, 40u}) {
        PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
        setProgress(percentage);
        MSG left;
        EXPECT_EQ(!PeekMessageA(&left, nullptr, WM_APP, WM_APP, PM_REMOVE), percentage != 100);
    }
    EXPECT_EQ(positions, (std::vector<WPARAM>{100, 40}));
    // A question is answered No when its owner is no longer a window, or without memory for it.
    DestroyWindow(state.mainWindow);
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
    unit::Seam noMemory("calloc!8");
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
}

// Full paths of entries fit in 259 characters or are skipped, never cut (the joining itself is
// seen in the rows of files.json). A row: the folder, the name and the path ("": skipped).
TEST_F(Cleanup, EntryPathsAtTheLimit) {
    const std::string folder = "C:\\" + std::string(250, 'f'), name(259 - dir.size() - 1, 'n');
    std::string rows[][3] = {
        {folder + "\\", "12345", folder + "\\12345"}, // no backslash added: 259 still fit
        {folder, "123456", ""},
        {".", name, installDir + name},
        {".\\n", name.substr(1), ""}, // 260 with the backslash added
    };
    for (auto& row : rows) {
        workPath[PATH_BUFFER_SIZE - 1] = 'Z';
        EXPECT_EQ(joinEntryPath(workPath, installDir, row[0].c_str(), row[1].c_str())
                      ? std::string(workPath)
                      : "",
                  row[2])
            << row[0] << "\\" << row[1];
        EXPECT_EQ(workPath[PATH_BUFFER_SIZE - 1], row[2].size() == 259 ? 0 : 'Z');
    }
}

// Three files, two groups, three keys and a value: 12 steps. The two group passes cover the same
// span, pruning skips the font entry's share, the registry pass's span lies between the groups'
// and the pruning's, and a value entry sends nothing, while a guarded entry still counts.
TEST_F(Cleanup, PositionsOfTheGroupPruningAndRegistryPasses) {
    const std::string key = "Software\\Varnel Unit Missing";
    ASSERT_EQ(unit::load(encodePayload(
                  {{"Demo Uninstall"},
                   {{".\\none1", "a.txt"}, {".\\none2", "font.ttf", FE_FONT}, {".\\none3", ""}},
                   {{0, dir + "\\g1", "", "x.lnk"}, {2, dir + "\\g2", "", ""}},
                   {{ROOT_HKCU, key},
                    {ROOT_HKCU, key, "V"},
                    {ROOT_HKCU, "SOFTWARE"},
                    {ROOT_HKCU, key + "\\Sub"}}})),
              0);
    openBar();
    unit::Seam seam("RegOpenKeyA!2|RegOpenKeyExA!2|RegDeleteKeyA!5|RegDeleteValueA!2");
    removeGroupFiles();
    removeGroupFolders();
    pruneInstallFolders();
    runRegistryPass();
    EXPECT_EQ(positions, (std::vector<WPARAM>{25, 33, 25, 33, 75, 91, 41, 58, 66}));
    freePayload();
}

// 140 levels, far more than a 260-byte path can name: those that can be entered are walked, the
// rest stays. After the pass the current directory is the installation folder after a pattern
// that could be entered, and where it was when none could.
TEST_F(Cleanup, WalkTreeDeeperThanAPathCanNameAndTheCurrentDirectory) {
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
    for (size_t i = 139; i < levels.size(); --i) {
        size_t length = levels[i].size() - 4;
        bool there = DeleteFileW((levels[i] + L"\\x.tmp").c_str());
        if (length <= 240 || length >= PATH_BUFFER_SIZE) // walked, or cannot be entered
            EXPECT_EQ(there, length >= PATH_BUFFER_SIZE) << length;
        RemoveDirectoryW(levels[i].c_str());
    }
}

} // namespace
