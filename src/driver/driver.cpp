// The uninstall driver: start-up, options, the order of the phases, teardown.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../payload/payload.h"
#include "../process/process.h"
#include "../removal/removal.h"
#include "../ui/ui.h"
#include "driver.h"

UninstallState state = {};

static const char windowClassName[] = "VarnelClass";

// From the theme library, loaded at run time when present.
#define STAP_ALLOW_NONCLIENT 1
typedef void(WINAPI* SetThemeAppPropertiesProc)(DWORD);

void detectPlatform() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    state.isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    state.isVistaOrLater = state.isNT && version.dwMajorVersion > 5;
}

bool initState(HINSTANCE instance) {
    state.instance = instance;
    state.inUseAnswer = -1;
    W32(OleInitialize, nullptr);
    state.themeLibrary = loadSystemLibrary("uxtheme");
    if (state.themeLibrary)
        state.setThemeProc = W32(GetProcAddress, state.themeLibrary, "SetThemeAppProperties");
    W32(InitCommonControls);
    // Without its three path buffers the program cannot do anything safely.
    if (!allocZeroedAs(PATH_BUFFER_SIZE, &state.modulePath) ||
        !allocZeroedAs(PATH_BUFFER_SIZE, &state.workPath) ||
        !allocZeroedAs(PATH_BUFFER_SIZE, &state.installDir))
        return false;

    // Nor without its installation folder: every relative entry would be taken
    // in whatever folder is current. A path that does not fit is not a path.
    char* dir = state.installDir;
    DWORD length = W32(GetModuleFileNameA, instance, dir, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE || !cutLastPart(dir))
        return false;
    length = strlen(dir);
    if (length > 0 && dir[length - 1] != '\\' && length < PATH_BUFFER_SIZE - 1) {
        dir[length] = '\\';
        dir[length + 1] = 0;
    }
    return true;
}

void parseOptions(const char* tail) {
    if (!tail)
        return;
    // "/L=" or "-L=" at the start of a word: the rest of the line is the log's
    // path, and the options end before it, so that no "-" or "/" of the path
    // is read as one.
    const char* end = tail + strlen(tail);
    for (const char* p = tail; *p; ++p)
        if ((p == tail || p[-1] == ' ') && (*p == '-' || *p == '/') && (p[1] & ~0x20) == 'L' &&
            p[2] == '=') {
            end = p;
            state.logPath = p + 3;
            break;
        }
    const char* p = tail;
    while (*p == ' ')
        ++p;
    while (p < end && (*p == '-' || *p == '/') && p[1]) {
        char letter = (char)(p[1] & ~0x20); // an ASCII letter in capitals
        p += 2;
        if (letter == 'Q') {
            state.quiet = 1;
        } else if (letter == 'S') {
            state.quiet = 1;
            state.optS = 1;
        } else if (letter == 'X') {
            state.quiet = 1;
            state.optX = 1;
        } else if (letter == 'L' && !state.logPath) {
            state.logPath = "";
        }
        while (*p && *p != ' ' && *p != '-' && *p != '/')
            ++p;
        while (*p == ' ')
            ++p;
    }
}

void releaseState() {
    W32(OleUninitialize);
    freeAndClearAs(&state.modulePath);
    freeAndClearAs(&state.installDir);
    freeAndClearAs(&state.workPath);
    resetProtectedFolders();
    if (state.dialogFont) {
        W32(DeleteObject, state.dialogFont);
        state.dialogFont = nullptr;
    }
    if (state.themeLibrary) {
        W32(FreeLibrary, state.themeLibrary);
        state.themeLibrary = nullptr;
    }
}

// Unless the payload asks for themed controls, only the non-client area keeps
// visual styles.
void applyThemeRule() {
    if (state.setThemeProc && !(optionFlags() & OF_THEMED))
        reinterpret_cast<SetThemeAppPropertiesProc>(reinterpret_cast<void*>(state.setThemeProc))(
            STAP_ALLOW_NONCLIENT);
}

static LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY)
        W32(PostQuitMessage, 0);
    return W32(DefWindowProcA, window, message, wParam, lParam);
}

bool registerMainClass() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = state.instance;
    windowClass.hIcon = W32(LoadIconA, state.instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = W32(LoadCursorA, nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)W32(GetStockObject, HOLLOW_BRUSH);
    windowClass.lpszClassName = windowClassName;
    return W32(RegisterClassA, &windowClass) != 0;
}

HWND createMainWindow() {
    enum { WIDTH = 320, HEIGHT = 200 };
    int x = (W32(GetSystemMetrics, SM_CXSCREEN) - WIDTH) / 2;
    int y = (W32(GetSystemMetrics, SM_CYSCREEN) - HEIGHT) / 2;
    return W32(CreateWindowExA, 0, windowClassName, getString(0, TEXT_CAPTION),
               WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x < 0 ? 0 : x, y < 0 ? 0 : y, WIDTH, HEIGHT,
               nullptr, nullptr, state.instance, nullptr);
}

// The drain ends on the quit message that WM_DESTROY posts: without a window
// destroyed, none would come.
static void destroyMainWindow() {
    MSG message;
    if (W32(DestroyWindow, state.mainWindow))
        while (W32(GetMessageA, &message, nullptr, 0, 0) > 0)
            W32(DispatchMessageA, &message);
    state.mainWindow = nullptr;
}

// The confirmation and the in-use loop; returns IDOK to go on.
static int confirm() {
    if (showMessage(getString(0, TEXT_CONFIRM), MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return IDCANCEL;
    // Only Retry asks again: a box that cannot be shown (0) ends it like Cancel
    // instead of looping while the file stays in use.
    while (checkFilesInUse() == 1)
        if (showMessage(getString(0, TEXT_IN_USE), MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY)
            return IDCANCEL;
    return IDOK;
}

static void runPreUninstallProgram() {
    if (optionText(OPTIONS_PRE_UNINSTALL_OFFSET) == nullptr || (state.optX && !state.optS))
        return;
    PreUninstallCommand command = {};
    if (buildPreUninstallCommand(&command))
        runProgram(command.program, command.arguments, optionFlags() & OF_WAIT);
    releasePreUninstallCommand(&command);
}

void openProgressDialog() {
    state.progressDialog = W32(CreateDialogParamA, state.instance, MAKEINTRESOURCEA(IDD_PROGRESS),
                               state.mainWindow, progressDialogProc, 0);
    if (!state.progressDialog)
        return;
    state.progressBar = W32(GetDlgItem, state.progressDialog, IDC_PROGRESSBAR);
    state.progressTotal = progressSteps();
    setStageText(TEXT_STAGE_FILES);
}

static void stage(int text) {
    if (state.progressDialog)
        setStageText(text);
}

static void runPasses() {
    removeInstalledFiles();
    removePatterns();
    stage(TEXT_STAGE_GROUPS);
    removeGroupFiles();
    removeGroupFolders();
    stage(TEXT_STAGE_FOLDERS);
    pruneInstallFolders();
    stage(TEXT_STAGE_REGISTRY);
    runRegistryPass();
    if (state.progressDialog) {
        W32(DestroyWindow, state.progressDialog);
        state.progressDialog = nullptr;
        state.progressBar = nullptr;
    }
}

// Everything between the payload and the teardown. Returns the exit code,
// and sets `answer` to IDOK when the uninstall went ahead.
static int runWithPayload(int* answer) {
    applyThemeRule();
    if (!registerMainClass())
        return 0;
    state.mainWindow = createMainWindow();
    if (!state.mainWindow)
        return -1;

    *answer = state.quiet ? IDOK : confirm();
    if (*answer != IDOK)
        return 0;
    runPreUninstallProgram();
    if (!state.quiet)
        openProgressDialog();
    runPasses();
    const char* done = getString(0, TEXT_DONE);
    if (!state.quiet && *done)
        showMessage(done, MB_OK | MB_ICONINFORMATION);
    // Nobody would see the document unattended.
    const char* document = optionText(OPTIONS_CLOSING_DOCUMENT_OFFSET);
    if (!state.unattended && document)
        openClosingDocument(document, ".htm");
    return 0;
}

int runUninstall(HINSTANCE instance, const char* tail) {
    detectPlatform();
    int exitCode = -1;
    int answer = IDCANCEL;
    // Without its system libraries, or a function of theirs that every
    // system has, the program cannot run: it ends before anything.
    if (!resolveLateCalls())
        return -1;
    if (initState(instance)) {
        parseOptions(tail);
        // Unattended, no question waits for an answer nobody can give.
        state.unattended = state.optS || state.optX || !isStationVisible();
        openLog(tail);
        // A payload that cannot be read ends the program before any window
        // exists or anything was changed; what start-up and the reader took
        // is released as on every other path.
        if (loadPayload())
            exitCode = runWithPayload(&answer);
    }

    // The one teardown, for every other path.
    if (state.mainWindow)
        destroyMainWindow();
    freePayload();
    bool scheduled = answer == IDOK && !state.optS && !state.optX && scheduleSelfDeletion();
    logEvent(LOG_SELF_DELETION, scheduled ? LOG_SCHEDULED : LOG_NOT_SCHEDULED, state.modulePath);
    logEvent(LOG_EXIT, LOG_CODE, nullptr, nullptr, exitCode);
    closeLog();
    releaseState();
    return exitCode;
}
