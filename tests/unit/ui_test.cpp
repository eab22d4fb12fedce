// The dialogs, the progress function, the pump and the theme rule, in this
// process: the dialogs are made from the real templates, which are linked
// into the test program.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/state.h"
#include "payload/payload.h"
#include "process/process.h"
#include "removal/removal.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

namespace {

const char* englishTexts[] = {"Demo Uninstall",
                              "Remove Demo?",
                              "Demo was removed.",
                              "Yes",
                              "Yes to all",
                              "No",
                              "No to all",
                              "7",
                              "8",
                              "%s is write-protected. Remove it?",
                              "10",
                              "Removing files",
                              "Removing group entries",
                              "Removing folders",
                              "Cleaning the registry",
                              "15",
                              nullptr};

// Posted messages that reached the counting window: shows whether the pump ran.
int postedSeen = 0;
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP)
        ++postedSeen;
    return DefWindowProcA(window, message, wParam, lParam);
}

// Positions that reached the progress bar.
std::vector<WPARAM> barPositions;
WNDPROC barProc = nullptr;
LRESULT CALLBACK countingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS)
        barPositions.push_back(wParam);
    return CallWindowProcA(barProc, window, message, wParam, lParam);
}

std::string text(HWND window) {
    char buffer[1024] = {};
    GetWindowTextA(window, buffer, sizeof(buffer));
    return buffer;
}

// Handles whatever is waiting, except that a quit message is dropped.
void drainQueue() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT)
            DispatchMessageA(&message);
}

class Ui : public ::testing::Test {
  protected:
    HWND counter = nullptr;

    void SetUp() override {
        state.instance = GetModuleHandleA(nullptr);
        state.stringTable = const_cast<char**>(englishTexts);
        state.progressPosition = 0;
        state.progressDialog = state.progressBar = nullptr;
        static bool registered = false;
        if (!registered) {
            registered = registerMainClass();
            WNDCLASSA counting = {};
            counting.lpfnWndProc = countingProc;
            counting.hInstance = state.instance;
            counting.lpszClassName = "CountingClass";
            RegisterClassA(&counting);
        }
        ASSERT_TRUE(registered);
        state.mainWindow = createMainWindow();
        ASSERT_TRUE(state.mainWindow);
        counter = CreateWindowExA(0, "CountingClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  state.instance, nullptr);
        drainQueue();
        postedSeen = 0;
        barPositions.clear();
    }

    void TearDown() override {
        if (state.progressDialog)
            DestroyWindow(state.progressDialog);
        state.progressDialog = state.progressBar = nullptr;
        DestroyWindow(counter);
        DestroyWindow(state.mainWindow);
        state.mainWindow = nullptr;
        drainQueue(); // the main window's quit message
        if (state.dialogFont)
            DeleteObject(state.dialogFont);
        state.dialogFont = nullptr;
        state.stringTable = nullptr;
        state.progressTotal = state.progressPosition = 0;
        state.fileCount = state.groupCount = state.registryCount = 0;
    }

    void openWithCountingBar() {
        openProgressDialog();
        ASSERT_TRUE(state.progressDialog);
        barProc =
            (WNDPROC)SetWindowLongPtrA(state.progressBar, GWLP_WNDPROC, (LONG_PTR)countingBarProc);
    }

    // Runs setProgress with one message waiting; true when the pump took it.
    bool setProgressPumps(uint32_t percentage) {
        int before = postedSeen;
        PostMessageA(counter, WM_APP, 0, 0);
        setProgress(percentage);
        bool pumped = postedSeen > before;
        MSG left; // the message the pump did not take
        while (PeekMessageA(&left, counter, WM_APP, WM_APP, PM_REMOVE))
            ;
        return pumped;
    }
};

TEST_F(Ui, ProgressDialogOpensUnderTheMainWindowWithStageTextAndFullRange) {
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
    EXPECT_EQ(text(GetDlgItem(dialog, IDC_MESSAGE)), "Removing files");
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETRANGE, FALSE, 0), 100);

    // The main window is centred; the dialog sits at its client area's corner.
    RECT main, shown;
    GetWindowRect(state.mainWindow, &main);
    EXPECT_EQ(main.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(main.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    POINT corner = {0, 0}, dialogCorner = {0, 0};
    ClientToScreen(state.mainWindow, &corner);
    ClientToScreen(dialog, &dialogCorner);
    EXPECT_EQ(dialogCorner.x, corner.x);
    EXPECT_EQ(dialogCorner.y, corner.y);
    GetWindowRect(dialog, &shown); // the frame reaches out from there
    EXPECT_LE(shown.left, corner.x);
    EXPECT_LE(shown.top, corner.y);

    const char* stages[] = {"Removing group entries", "Removing folders", "Cleaning the registry"};
    for (int i = 0; i < 3; ++i) {
        setStageText(12 + i);
        EXPECT_EQ(text(GetDlgItem(dialog, IDC_MESSAGE)), stages[i]);
    }
    setStageText(40); // no such text: empty
    EXPECT_EQ(text(GetDlgItem(dialog, IDC_MESSAGE)), "");
}

// Commands sent to the progress dialog.
std::vector<WPARAM> commandsSent;
LRESULT CALLBACK recordCommands(int code, WPARAM wParam, LPARAM lParam) {
    auto* sent = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_COMMAND && sent->hwnd == state.progressDialog)
        commandsSent.push_back(LOWORD(sent->wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Commands posted to the progress dialog (the close box posts its command).
LRESULT CALLBACK recordPostedCommands(int code, WPARAM wParam, LPARAM lParam) {
    auto* posted = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && posted->message == WM_COMMAND &&
        posted->hwnd == state.progressDialog)
        commandsSent.push_back(LOWORD(posted->wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Ui, ProgressDialogSwallowsEscEnterAndTheCloseBox) {
    openProgressDialog();
    HWND dialog = state.progressDialog;
    ASSERT_TRUE(dialog);
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, recordCommands, nullptr, GetCurrentThreadId());
    HHOOK postedHook =
        SetWindowsHookExA(WH_GETMESSAGE, recordPostedCommands, nullptr, GetCurrentThreadId());
    commandsSent.clear();
    // Keys go through the pump's dialog-message handling and become commands.
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        PostMessageA(dialog, WM_KEYDOWN, key, 1);
        PostMessageA(dialog, WM_KEYUP, key, 0xC0000001);
        pumpPendingMessages();
    }
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
    pumpPendingMessages();
    UnhookWindowsHookEx(hook);
    UnhookWindowsHookEx(postedHook);
    EXPECT_EQ(commandsSent, (std::vector<WPARAM>{IDCANCEL, IDOK, IDCANCEL}));
    EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
    for (WPARAM id : {IDOK, IDCANCEL, 12345}) // each is handled, with result 1
        EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, id, 0), 1);
    EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
    EXPECT_EQ(text(dialog), "Demo Uninstall");
}

TEST_F(Ui, SetProgressClampsSkipsRepeatsAndMovesBackwards) {
    openWithCountingBar();
    EXPECT_FALSE(setProgressPumps(0)); // already at 0
    EXPECT_TRUE(barPositions.empty());

    EXPECT_TRUE(setProgressPumps(250));
    EXPECT_EQ(state.progressPosition, 100u);
    EXPECT_EQ(barPositions, std::vector<WPARAM>{100});
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), 100);

    EXPECT_FALSE(setProgressPumps(100));
    EXPECT_FALSE(setProgressPumps(0xFFFFFFFFu)); // clamped: the same 100
    EXPECT_EQ(barPositions.size(), 1u);

    EXPECT_TRUE(setProgressPumps(40));
    EXPECT_EQ(SendMessageA(state.progressBar, PBM_GETPOS, 0, 0), 40);
    EXPECT_TRUE(setProgressPumps(101));
    EXPECT_TRUE(setProgressPumps(0));
    EXPECT_EQ(barPositions, (std::vector<WPARAM>{100, 40, 100, 0}));
    EXPECT_EQ(state.progressPosition, 0u);
}

TEST_F(Ui, SetProgressWithoutABarRecordsAndPumps) {
    EXPECT_TRUE(setProgressPumps(30));
    EXPECT_EQ(state.progressPosition, 30u);
    EXPECT_FALSE(setProgressPumps(30));
    EXPECT_TRUE(setProgressPumps(7));
    EXPECT_EQ(state.progressPosition, 7u);
}

TEST_F(Ui, PumpDropsQuitMessagesAndReturnsOnAnEmptyQueue) {
    PostMessageA(counter, WM_APP, 0, 0);
    PostQuitMessage(3);
    PostMessageA(counter, WM_APP, 0, 0);
    pumpPendingMessages();
    EXPECT_EQ(postedSeen, 2);
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)); // dropped
    pumpPendingMessages(); // nothing waiting: returns
    EXPECT_EQ(postedSeen, 2);
}

// Describes the question dialog of this thread from inside its modal loop,
// then presses a button.
struct QuestionSeen {
    bool seen = false;
    std::string caption, message;
    std::vector<int> ids;
    std::vector<HFONT> fonts;
    HFONT ownFont = nullptr;
    int press = IDNO;
} question;

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char name[32];
    GetClassNameA(window, name, sizeof(name));
    if (strcmp(name, "#32770") == 0 && window != state.progressDialog && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK inspectQuestion(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    question.seen = true;
    question.caption = text(dialog);
    question.message = text(GetDlgItem(dialog, IDC_MESSAGE));
    question.ownFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        question.ids.push_back(GetDlgCtrlID(c));
        question.fonts.push_back((HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
    }
    PostMessageA(dialog, WM_COMMAND, question.press, 0);
}

int askWithInspection(const char* path, int press) {
    question = QuestionSeen();
    question.press = press;
    SetTimer(nullptr, 0, 10, inspectQuestion);
    return askQuestion(path);
}

TEST_F(Ui, BothDialogsShareOneNormalWeightFont) {
    EXPECT_FALSE(state.dialogFont);
    applyDialogFont(state.mainWindow); // a window without a font makes none
    EXPECT_FALSE(state.dialogFont);

    openProgressDialog();
    HWND dialog = state.progressDialog;
    ASSERT_TRUE(dialog);
    HFONT font = state.dialogFont;
    ASSERT_TRUE(font);
    HFONT templateFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
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
        EXPECT_EQ((HFONT)SendMessageA(GetDlgItem(dialog, id), WM_GETFONT, 0, 0), font);

    EXPECT_EQ(askWithInspection("C:\\app\\readme.txt", IDNO), IDNO);
    ASSERT_TRUE(question.seen);
    EXPECT_EQ(state.dialogFont, font); // made once
    EXPECT_NE(question.ownFont, font);
    ASSERT_EQ(question.fonts.size(), 5u);
    for (HFONT f : question.fonts)
        EXPECT_EQ(f, font);
}

TEST_F(Ui, QuestionDialogShowsTheQuestionAndReturnsTheCommand) {
    for (int press : {IDYES, IDC_YESTOALL, IDNO, IDC_NOTOALL, IDCANCEL, 4321}) {
        SCOPED_TRACE(press);
        EXPECT_EQ(askWithInspection("C:\\app\\readme.txt", press), press);
        ASSERT_TRUE(question.seen);
        EXPECT_EQ(question.caption, "Demo Uninstall");
        EXPECT_EQ(question.message, "C:\\app\\readme.txt is write-protected. Remove it?");
        EXPECT_EQ(question.ids,
                  (std::vector<int>{IDYES, IDC_YESTOALL, IDC_MESSAGE, IDNO, IDC_NOTOALL}));
    }
    // A path longer than the text buffer is cut, never written past it.
    std::string longPath(3000, 'p');
    EXPECT_EQ(askWithInspection(longPath.c_str(), IDNO), IDNO);
    EXPECT_EQ(question.message.size(), 1023u);
}

// Windows created while a call runs, seen by a hook.
int windowsCreated = 0;
LRESULT CALLBACK countCreations(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND)
        ++windowsCreated;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Ui, QuestionWithoutTextOrOwnerShowsNoDialog) {
    HHOOK hook = SetWindowsHookExA(WH_CBT, countCreations, nullptr, GetCurrentThreadId());
    windowsCreated = 0;
    const char* withoutQuestion[] = {"Caption", "1", "2", "3", "4",    "5",
                                     "6",       "7", "8", "",  nullptr};
    state.stringTable = const_cast<char**>(withoutQuestion);
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDC_YESTOALL); // text 9 empty
    const char* shortTable[] = {"Caption", "1", "2", nullptr};
    state.stringTable = const_cast<char**>(shortTable);
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDC_YESTOALL); // text 9 missing
    EXPECT_EQ(windowsCreated, 0);

    // An owner that is no longer a window: the dialog cannot be made.
    state.stringTable = const_cast<char**>(englishTexts);
    HWND gone = CreateWindowExA(0, "CountingClass", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                state.instance, nullptr);
    DestroyWindow(gone);
    HWND owner = state.mainWindow;
    state.mainWindow = gone;
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
    state.mainWindow = owner;
    UnhookWindowsHookEx(hook);
}

// The theme step, with a recording function in place of the theme library's.
std::vector<DWORD> themeCalls;
void WINAPI recordThemeCall(DWORD flags) {
    themeCalls.push_back(flags);
}

TEST(ThemeRule, ClassicControlsUnlessThePayloadAsksForThemedOnes) {
    unsigned char options[12] = {};
    struct Case {
        bool withOptions;
        unsigned char flags;
        std::vector<DWORD> calls;
    } cases[] = {{false, 0, {1}}, {true, 0, {1}}, {true, 1, {1}},
                 {true, 2, {}},   {true, 3, {}},  {true, 0xFE, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.flags));
        options[0] = c.flags;
        state.options = c.withOptions ? options : nullptr;
        state.optionsLength = c.withOptions ? sizeof(options) : 0;
        state.setThemeProc = reinterpret_cast<FARPROC>(recordThemeCall);
        themeCalls.clear();
        applyThemeRule();
        EXPECT_EQ(themeCalls, c.calls);
        state.setThemeProc = nullptr; // no theme library: nothing is called
        applyThemeRule();
        EXPECT_EQ(themeCalls, c.calls);
    }
    state.options = nullptr;
    state.optionsLength = 0;
}

TEST(ThemeRule, StartUpFindsTheThemeLibrarysExport) {
    ASSERT_TRUE(initState(GetModuleHandleA(nullptr)));
    HMODULE uxtheme = GetModuleHandleA("uxtheme.dll");
    ASSERT_TRUE(uxtheme); // the bed's Wine has the theme library
    EXPECT_EQ(state.themeLibrary, uxtheme);
    EXPECT_EQ(state.setThemeProc, GetProcAddress(uxtheme, "SetThemeAppProperties"));
    EXPECT_TRUE(state.setThemeProc);
    releaseState();
    EXPECT_FALSE(state.themeLibrary);
}

} // namespace
