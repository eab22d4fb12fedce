// The dialogs, the progress function, the pump, the dialog font and the theme
// rule, in this process: the dialogs are made from the real templates, which
// are linked into the test program. What the question dialog shows and
// answers is the read-only rows of tests/cases/files.json.
#include "unit.h" // first: windows.h

#include <commctrl.h>

#include <cstddef>

#include "driver/driver.h"
#include "payload/payload.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

namespace {

const char* texts[] = {"Demo Uninstall",
                       "",
                       "",
                       "",
                       "",
                       "",
                       "",
                       "",
                       "",
                       "%s is write-protected. Remove it?",
                       "",
                       "Removing files",
                       "Removing group entries",
                       "Removing folders",
                       "Cleaning the registry",
                       nullptr};

int postedSeen = 0; // WM_APP messages that reached the counting window
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    postedSeen += message == WM_APP;
    return DefWindowProcA(window, message, wParam, lParam);
}
std::vector<WPARAM> barPositions; // positions that reached the progress bar
WNDPROC barProc = nullptr;
LRESULT CALLBACK countingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        barPositions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}
std::string text(HWND window) {
    char buffer[1100] = {};
    GetWindowTextA(window, buffer, sizeof(buffer));
    return buffer;
}
void drainQueue() { // handles whatever waits, a quit message dropped
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT)
            DispatchMessageA(&message);
}

class Ui : public unit::StateTest {
  protected:
    HWND counter = nullptr;
    void SetUp() override {
        state.instance = GetModuleHandleA(nullptr);
        state.stringTable = const_cast<char**>(texts);
        state.progressPosition = state.progressTotal = 0;
        state.progressDialog = state.progressBar = nullptr;
        WNDCLASSA counting = {}, known;
        counting.lpfnWndProc = countingProc;
        counting.hInstance = state.instance;
        counting.lpszClassName = "CountingClass";
        RegisterClassA(&counting); // once for good, like the main class
        ASSERT_TRUE(GetClassInfoA(state.instance, "VarnelClass", &known) || registerMainClass());
        ASSERT_TRUE(state.mainWindow = createMainWindow());
        counter = CreateWindowExA(0, "CountingClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  state.instance, nullptr);
        drainQueue();
        postedSeen = 0;
        barPositions.clear();
    }
    void TearDown() override {
        if (state.progressDialog)
            DestroyWindow(state.progressDialog);
        DestroyWindow(counter);
        DestroyWindow(state.mainWindow);
        drainQueue(); // the main window's quit message
        if (state.dialogFont)
            DeleteObject(state.dialogFont);
        StateTest::TearDown();
    }
    // Runs setProgress with one message waiting; true when the pump took it.
    bool setProgressPumps(uint32_t percentage) {
        int before = postedSeen;
        PostMessageA(counter, WM_APP, 0, 0);
        setProgress(percentage);
        MSG left;
        while (PeekMessageA(&left, counter, WM_APP, WM_APP, PM_REMOVE))
            ;
        return postedSeen > before;
    }
};

TEST_F(Ui, ProgressDialogUnderTheMainWindowThatNothingCloses) {
    state.registryCount = 1;
    state.fileCount = 2;
    state.groupCount = 3;
    openProgressDialog();
    HWND dialog = state.progressDialog;
    ASSERT_TRUE(dialog);
    EXPECT_EQ(state.progressBar, GetDlgItem(dialog, IDC_PROGRESSBAR));
    EXPECT_EQ(state.progressTotal, 1u + 2 * 2 + 3);
    EXPECT_TRUE(IsWindowVisible(dialog)); // shown by its template alone
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), state.mainWindow);
    EXPECT_FALSE(IsWindowVisible(state.mainWindow));
    EXPECT_EQ(text(dialog), "Demo Uninstall");
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETRANGE, TRUE, 0), 0);
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
        EXPECT_EQ(text(GetDlgItem(dialog, IDC_MESSAGE)), getString(0, stage));
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
    // Without a bar the position is kept; with one it is also sent, once per change.
    const struct {
        uint32_t set;
        bool pumped;
        uint32_t position;
    } noBar[] = {{30, true, 30}, {30, false, 30}, {7, true, 7}},
      withBar[] = {{0, false, 0},  {250, true, 100}, {100, false, 100}, {0xFFFFFFFF, false, 100},
                   {40, true, 40}, {101, true, 100}, {0, true, 0}};
    for (const auto& step : noBar) {
        EXPECT_EQ(setProgressPumps(step.set), step.pumped) << step.set;
        EXPECT_EQ(state.progressPosition, step.position);
    }
    state.progressPosition = 0;
    openProgressDialog();
    barProc =
        (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)countingBarProc);
    std::vector<WPARAM> sent;
    for (const auto& step : withBar) {
        EXPECT_EQ(setProgressPumps(step.set), step.pumped) << step.set;
        EXPECT_EQ(state.progressPosition, step.position);
        EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), LRESULT(step.position));
        if (step.pumped)
            sent.push_back(step.position);
    }
    EXPECT_EQ(barPositions, sent);
    // The pump drops quit messages and returns on an empty queue.
    postedSeen = 0;
    PostMessageA(counter, WM_APP, 0, 0);
    PostQuitMessage(3);
    PostMessageA(counter, WM_APP, 0, 0);
    pumpPendingMessages();
    pumpPendingMessages();
    EXPECT_EQ(postedSeen, 2);
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// The question dialog of this thread, seen from inside its modal loop.
struct QuestionSeen {
    std::string message;
    std::vector<HFONT> fonts; // the dialog's own, then each control's
} question;
BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char name[32];
    GetClassNameA(window, name, sizeof(name));
    if (strcmp(name, "#32770") || window == state.progressDialog || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}
void CALLBACK inspectQuestion(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    question.message = text(GetDlgItem(dialog, IDC_MESSAGE));
    for (HWND c = dialog; c; c = GetWindow(c, c == dialog ? GW_CHILD : GW_HWNDNEXT))
        question.fonts.push_back((HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
    PostMessageA(dialog, WM_COMMAND, IDNO, 0);
}

TEST_F(Ui, BothDialogsShareOneNormalWeightFont) {
    applyDialogFont(state.mainWindow); // a window without a font makes none
    EXPECT_FALSE(state.dialogFont);
    openProgressDialog();
    HFONT font = state.dialogFont;
    ASSERT_TRUE(font);
    HFONT templateFont = (HFONT)SendMessageA(state.progressDialog, WM_GETFONT, 0, 0);
    EXPECT_NE(templateFont, font); // the dialog itself keeps its own
    LOGFONTA made, fromTemplate;
    ASSERT_EQ(GetObjectA(font, sizeof(made), &made), (int)sizeof(made));
    ASSERT_EQ(GetObjectA(templateFont, sizeof(fromTemplate), &fromTemplate),
              (int)sizeof(fromTemplate));
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
    question = QuestionSeen();
    SetTimer(nullptr, 0, 10, inspectQuestion);
    EXPECT_EQ(askQuestion(std::string(3000, 'p').c_str()), IDNO);
    EXPECT_EQ(question.message.size(), 1023u);
    EXPECT_EQ(state.dialogFont, font);
    ASSERT_EQ(question.fonts.size(), 6u);
    EXPECT_NE(question.fonts[0], font);
    for (size_t i = 1; i < 6; ++i)
        EXPECT_EQ(question.fonts[i], font) << i;
    // An owner that is no longer a window: no dialog, the answer is No.
    HWND gone = CreateWindowExA(0, "CountingClass", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                state.instance, nullptr);
    DestroyWindow(gone);
    std::swap(state.mainWindow, gone);
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
    std::swap(state.mainWindow, gone);
}

// The theme step, with a recording function in place of the theme library's.
std::vector<DWORD> themeCalls;
void WINAPI recordThemeCall(DWORD flags) {
    themeCalls.push_back(flags);
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
    unsigned char options[12] = {};
    const struct {
        bool withOptions;
        unsigned char flags;
        std::vector<DWORD> calls;
    } rows[] = {{false, 0, {1}}, {true, 0, {1}}, {true, 1, {1}},
                {true, 2, {}},   {true, 3, {}},  {true, 0xFE, {}}};
    for (const auto& row : rows) {
        options[0] = row.flags;
        state.options = row.withOptions ? options : nullptr;
        state.optionsLength = row.withOptions ? sizeof(options) : 0;
        state.setThemeProc = reinterpret_cast<FARPROC>(recordThemeCall);
        themeCalls.clear();
        applyThemeRule();
        state.setThemeProc = nullptr; // no theme library: nothing is called
        applyThemeRule();
        EXPECT_EQ(themeCalls, row.calls) << int(row.flags);
    }
    state.options = nullptr;
    state.optionsLength = 0;
}

} // namespace
