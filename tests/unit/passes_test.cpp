// The dialogs and the removal passes in process, for what the rows of
// tests/cases cannot show: the progress dialog, the positions the passes send
// to its real bar, the pump, the dialog font, the theme rule, the bounds of
// entry paths, the registry pass's choice of entries, and the pattern walk in
// a tree deeper than a path can name. The dialogs are made from the real
// templates, linked into the test program.
#include "unit.h" // first: windows.h

#include <commctrl.h>

#include <cstddef>
#include <deque>

#include "driver/driver.h"
#include "payload/payload.h"
#include "removal/removal.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

namespace {

// The texts the passes show; the others are empty.
char** texts() {
    static const char* table[16] = {};
    const std::pair<int, const char*> given[] = {
        {0, "Demo Uninstall"},    {9, "%s is write-protected. Remove it?"},
        {11, "Removing files"},   {12, "Removing group entries"},
        {13, "Removing folders"}, {14, "Cleaning the registry"}};
    for (int i = 0; i < 15; ++i)
        table[i] = "";
    for (const auto& [i, text] : given)
        table[i] = text;
    return const_cast<char**>(table);
}

std::vector<WPARAM> positions; // positions that reached the progress bar
WNDPROC barProc = nullptr;
LRESULT CALLBACK recordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        positions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}
std::string caption(HWND window) {
    char buffer[1100] = {};
    GetWindowTextA(window, buffer, sizeof(buffer));
    return buffer;
}
template <class E>
void point(std::vector<E>& entries, std::vector<E*>& to, E**& list, uint32_t& n) {
    to.clear();
    for (E& e : entries)
        to.push_back(&e);
    list = to.data();
    n = uint32_t(to.size());
}

// The state pointed at a case folder, the texts, the main window and lists
// of entries of its own.
class Passes : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-passes");
    char installDir[PATH_BUFFER_SIZE] = {}, workPath[PATH_BUFFER_SIZE] = {};
    std::deque<std::string> strings; // entries point into it
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
        state.stringTable = texts();
        state.progressDialog = state.progressBar = nullptr;
        state.progressTotal = state.progressPosition = 0;
        WNDCLASSA known;
        ASSERT_TRUE(GetClassInfoA(state.instance, "VarnelClass", &known) || registerMainClass());
        ASSERT_TRUE(state.mainWindow = createMainWindow());
        pumpPendingMessages();
        positions.clear();
    }
    void TearDown() override {
        for (HWND window : {state.progressDialog, state.mainWindow})
            DestroyWindow(window);
        pumpPendingMessages(); // the main window's quit message
        if (state.dialogFont)
            DeleteObject(state.dialogFont);
        StateTest::TearDown();
        bed::removeTree(dir);
    }
    char* text(const std::string& s) {
        strings.push_back(s);
        return &strings.back()[0];
    }
    void use() {
        point(files, filePointers, state.fileEntries, state.fileCount);
        point(groups, groupPointers, state.groupEntries, state.groupCount);
        point(keys, keyPointers, state.registryEntries, state.registryCount);
    }
    void openBar() { // the progress dialog as the driver opens it, its bar recording
        openProgressDialog();
        ASSERT_TRUE(state.progressDialog && state.progressBar);
        barProc =
            (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)recordingBarProc);
    }
    // Runs setProgress with a message waiting; true when the pump took it.
    static bool setProgressPumps(uint32_t percentage) {
        PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
        setProgress(percentage);
        MSG left;
        return !PeekMessageA(&left, nullptr, WM_APP, WM_APP, PM_REMOVE);
    }
};
using Ui = Passes;
using Cleanup = Passes;

TEST_F(Ui, ProgressDialogUnderTheMainWindowThatNothingCloses) {
    openBar();
    HWND dialog = state.progressDialog;
    EXPECT_TRUE(IsWindowVisible(dialog)); // shown by its template alone
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), state.mainWindow);
    EXPECT_FALSE(IsWindowVisible(state.mainWindow));
    EXPECT_EQ(caption(dialog), "Demo Uninstall");
    // The main window is centred; the dialog's client area at its client area's corner.
    RECT main;
    GetWindowRect(state.mainWindow, &main);
    EXPECT_EQ(main.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(main.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    POINT corner = {0, 0}, dialogCorner = {0, 0};
    ClientToScreen(state.mainWindow, &corner);
    ClientToScreen(dialog, &dialogCorner);
    EXPECT_EQ(dialogCorner.x, corner.x);
    EXPECT_EQ(dialogCorner.y, corner.y);
    for (int stage : {11, 12, 13, 14, 40}) { // no text 40: empty
        setStageText(stage);
        EXPECT_EQ(caption(GetDlgItem(dialog, IDC_MESSAGE)), getString(0, stage));
    }
    // Esc, Enter, the close box and any command leave it open.
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        PostMessageA(dialog, WM_KEYDOWN, key, 1);
        PostMessageA(dialog, WM_KEYUP, key, 0xC0000001);
    }
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpPendingMessages();
    for (WPARAM id : {IDOK, IDCANCEL, 12345})
        EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, id, 0), 1);
    EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
}

TEST_F(Ui, SetProgressClampsSkipsRepeatsMovesBackAndPumps) {
    // The percentage set, whether the pump ran, and the position kept; without
    // a bar, then with one (from the fourth row), which is sent each change.
    const uint32_t rows[][3] = {
        {30, 1, 30},   {30, 0, 30},          {7, 1, 7},   {0, 0, 0},     {250, 1, 100},
        {100, 0, 100}, {0xFFFFFFFF, 0, 100}, {40, 1, 40}, {101, 1, 100}, {0, 1, 0}};
    std::vector<WPARAM> changes;
    for (const auto& row : rows) {
        if (&row == &rows[3]) {
            state.progressPosition = 0;
            openBar();
        }
        EXPECT_EQ(setProgressPumps(row[0]), row[1] == 1) << row[0];
        EXPECT_EQ(state.progressPosition, row[2]) << row[0];
        if (state.progressBar && row[1])
            changes.push_back(row[2]);
    }
    EXPECT_EQ(positions, changes);
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), 0);
    // The pump drops quit messages and returns on an empty queue.
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    PostQuitMessage(3);
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    pumpPendingMessages();
    pumpPendingMessages();
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE));
}

// The question dialog, seen from inside its modal loop: its text, fonts (the
// dialog's own, then each control's) and the corner of its client area; then
// it is answered No.
std::string questionText;
std::vector<HFONT> questionFonts;
POINT questionCorner;
void CALLBACK inspectQuestion(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = GetActiveWindow();
    if (!dialog || dialog == state.progressDialog || !GetDlgItem(dialog, IDC_YESTOALL))
        return;
    KillTimer(nullptr, timer);
    questionText = caption(GetDlgItem(dialog, IDC_MESSAGE));
    questionCorner = {0, 0};
    ClientToScreen(dialog, &questionCorner);
    for (HWND c = dialog; c; c = GetWindow(c, c == dialog ? GW_CHILD : GW_HWNDNEXT))
        questionFonts.push_back((HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
    PostMessageA(dialog, WM_COMMAND, IDNO, 0);
}

TEST_F(Ui, BothDialogsShareOneNormalWeightFont) {
    applyDialogFont(state.mainWindow); // a window without a font makes none
    EXPECT_FALSE(state.dialogFont);
    openBar();
    HFONT font = state.dialogFont;
    ASSERT_TRUE(font);
    HFONT templateFont = (HFONT)SendMessageA(state.progressDialog, WM_GETFONT, 0, 0);
    EXPECT_NE(templateFont, font); // the dialog itself keeps its own
    LOGFONTA made, fromTemplate;
    ASSERT_EQ(GetObjectA(font, sizeof(made), &made), (int)sizeof(made));
    ASSERT_EQ(GetObjectA(templateFont, sizeof(made), &fromTemplate), (int)sizeof(made));
    EXPECT_EQ(made.lfWeight, FW_NORMAL);
    EXPECT_STREQ(made.lfFaceName, "Arial");
    EXPECT_STREQ(made.lfFaceName, fromTemplate.lfFaceName); // every other field is the template's
    fromTemplate.lfWeight = FW_NORMAL;
    EXPECT_EQ(memcmp(&made, &fromTemplate, offsetof(LOGFONTA, lfFaceName)), 0);
    for (int id : {IDC_MESSAGE, IDC_PROGRESSBAR})
        EXPECT_EQ((HFONT)SendMessageA(GetDlgItem(state.progressDialog, id), WM_GETFONT, 0, 0),
                  font);
    // The question's controls get the same font, made once; a path longer
    // than the text buffer is cut, never written past it.
    SetTimer(nullptr, 0, 10, inspectQuestion);
    EXPECT_EQ(askQuestion(std::string(3000, 'p').c_str()), IDNO);
    EXPECT_EQ(questionText.size(), 1023u);
    POINT corner = {0, 0}; // the corner of the owner's client area, as the progress dialog's
    ClientToScreen(state.mainWindow, &corner);
    EXPECT_EQ(questionCorner.x, corner.x);
    EXPECT_EQ(questionCorner.y, corner.y);
    EXPECT_EQ(state.dialogFont, font);
    ASSERT_EQ(questionFonts.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(questionFonts[i] == font, i > 0) << i;
    // An owner that is no longer a window: no dialog, the answer is No.
    HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    std::swap(state.mainWindow, gone);
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
    std::swap(state.mainWindow, gone);
}

// The theme step, with a recording function in place of the theme library's.
std::string themeCalls;
void WINAPI recordThemeCall(DWORD flags) {
    themeCalls += std::to_string(flags);
}

TEST(ThemeRule, ClassicControlsUnlessThePayloadAsksForThemedOnes) {
    ASSERT_TRUE(initState(GetModuleHandleA(nullptr))); // start-up finds the export
    HMODULE uxtheme = GetModuleHandleA("uxtheme.dll");
    ASSERT_TRUE(uxtheme);
    EXPECT_EQ(state.themeLibrary, uxtheme);
    EXPECT_TRUE(state.setThemeProc);
    EXPECT_EQ(state.setThemeProc, GetProcAddress(uxtheme, "SetThemeAppProperties"));
    releaseState();
    EXPECT_FALSE(state.themeLibrary);
    // The option flags (-1: no options record) and the calls made.
    unsigned char options[12] = {};
    const std::pair<int, const char*> rows[] = {{-1, "1"}, {0, "1"}, {1, "1"},
                                                {2, ""},   {3, ""},  {254, ""}};
    for (auto& row : rows) {
        options[0] = (unsigned char)row.first;
        state.options = row.first < 0 ? nullptr : options;
        state.optionsLength = state.options ? sizeof(options) : 0;
        themeCalls.clear();
        state.setThemeProc = reinterpret_cast<FARPROC>(recordThemeCall);
        applyThemeRule();
        state.setThemeProc = nullptr; // no theme library: nothing is called
        applyThemeRule();
        EXPECT_EQ(themeCalls, row.second) << row.first;
    }
    state.options = nullptr;
    state.optionsLength = 0;
}

// Full paths of entries fit in 259 characters or are skipped, never cut;
// that they are joined as the rows of files.json expect is seen there.
TEST_F(Cleanup, EntryPathsAtTheLimit) {
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
    for (const char* key : {"Software\\Varnel Unit Missing", "Software\\Varnel Unit Missing\\\\V",
                            "SOFTWARE", "Software\\Varnel Unit Missing\\Sub"})
        keys.push_back({0x80000001u, text(key)});
    use();
    openBar();
    unit::Seam seam("RegOpenKeyA!2|RegOpenKeyExA!2|RegDeleteKeyA!5|RegDeleteValueA!2");
    ASSERT_EQ(state.progressTotal, 12u);
    removeGroupFiles();
    removeGroupFolders();
    pruneInstallFolders();
    runRegistryPass();
    EXPECT_EQ(positions, (std::vector<WPARAM>{25, 33, 25, 33, 75, 91, 41, 58, 66}));
    positions.clear();
    state.progressTotal = 0; // quiet
    runRegistryPass();
    EXPECT_TRUE(positions.empty());
}

// 140 levels: far more than a 260-byte path can name. The levels that can
// be entered are walked, the rest stays, and nothing overflows; after the
// pass the current directory is the installation folder after a pattern
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
