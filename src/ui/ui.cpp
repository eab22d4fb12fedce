// The progress dialog, the question dialog, the dialog font and the pump.
#include <windows.h>

#include <commctrl.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../payload/payload.h"
#include "ui.h"

void applyDialogFont(HWND dialog) {
    if (!state.dialogFont) {
        HFONT font = (HFONT)W32(SendMessageA, dialog, WM_GETFONT, 0, 0);
        LOGFONTA description;
        if (font && W32(GetObjectA, font, sizeof(description), &description)) {
            description.lfWeight = FW_NORMAL;
            state.dialogFont = W32(CreateFontIndirectA, &description);
        }
    }
    if (!state.dialogFont)
        return;
    for (HWND child = W32(GetWindow, dialog, GW_CHILD); child;
         child = W32(GetWindow, child, GW_HWNDNEXT))
        W32(SendMessageA, child, WM_SETFONT, (WPARAM)state.dialogFont, 0);
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        applyDialogFont(dialog);
        W32(SetWindowTextA, dialog, getString(0, TEXT_CAPTION));
        return TRUE;
    }
    if (message == WM_COMMAND) {
        // Enter, Esc and the close box: the removal cannot be interrupted.
        W32(SetWindowLongA, dialog, DWL_MSGRESULT, 1);
        return TRUE;
    }
    return FALSE;
}

void setStageText(int index) {
    W32(SetDlgItemTextA, state.progressDialog, IDC_MESSAGE, getString(0, index));
}

void pumpPendingMessages() {
    MSG message;
    while (W32(PeekMessageA, &message, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!W32(GetMessageA, &message, nullptr, 0, 0))
            continue; // a quit message ends only the final drain
        if (state.progressDialog && W32(IsDialogMessageA, state.progressDialog, &message))
            continue;
        W32(TranslateMessage, &message);
        W32(DispatchMessageA, &message);
    }
}

void setProgress(uint32_t percentage) {
    if (percentage > 100)
        percentage = 100;
    if (percentage == state.progressPosition)
        return;
    state.progressPosition = percentage;
    if (state.progressBar)
        W32(SendMessageA, state.progressBar, PBM_SETPOS, percentage, 0);
    pumpPendingMessages();
}

// The entries of each span, in the order of the spans.
static uint32_t spanSize(int span) {
    return span == SPAN_GROUPS     ? state.groupCount
           : span == SPAN_REGISTRY ? state.registryCount
                                   : state.fileCount;
}

uint32_t progressSteps() {
    uint32_t steps = 0;
    for (int span = 0; span < SPAN_COUNT; ++span)
        steps += spanSize(span);
    return steps;
}

void reportProgress(ProgressSpan span, uint32_t k) {
    if (!state.progressTotal)
        return;
    for (int before = 0; before < span; ++before)
        k += spanSize(before);
    setProgress(k * 100 / state.progressTotal);
}

INT_PTR CALLBACK questionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        applyDialogFont(dialog);
        W32(SetWindowTextA, dialog, getString(0, TEXT_CAPTION));
        W32(SetDlgItemTextA, dialog, IDC_MESSAGE, reinterpret_cast<const char*>(lParam));
        W32(SetDlgItemTextA, dialog, IDYES, getString(0, TEXT_YES));
        W32(SetDlgItemTextA, dialog, IDNO, getString(0, TEXT_NO));
        W32(SetDlgItemTextA, dialog, IDC_YESTOALL, getString(0, TEXT_YES_TO_ALL));
        W32(SetDlgItemTextA, dialog, IDC_NOTOALL, getString(0, TEXT_NO_TO_ALL));
        return TRUE;
    }
    if (message == WM_COMMAND) {
        W32(EndDialog, dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

int askQuestion(const char* path) {
    char* question;
    if (!allocZeroedAs(FORMAT_BUFFER_SIZE, &question))
        return IDNO;
    formatString(question, TEXT_READ_ONLY_QUESTION, path);
    int answer = IDC_YESTOALL;
    if (*question) {
        // Unattended, the file is kept. -1: the dialog could not be made; 0:
        // the owner was not a window.
        if (state.unattended ||
            (answer = (int)W32(DialogBoxParamA, state.instance, MAKEINTRESOURCEA(IDD_QUESTION),
                               state.mainWindow, questionDialogProc, (LPARAM)question)) <= 0)
            answer = IDNO;
        logQuestion(question,
                    answer < IDC_YESTOALL ? answer : answer - IDC_YESTOALL + LOG_YES_TO_ALL);
    }
    freeAndClearAs(&question);
    return answer;
}

bool isStationVisible() {
    USEROBJECTFLAGS flags = {};
    HWINSTA station = W32(GetProcessWindowStation);
    return !state.isNT ||
           (station &&
            W32(GetUserObjectInformationA, station, UOI_FLAGS, &flags, sizeof(flags), nullptr) &&
            (flags.dwFlags & WSF_VISIBLE));
}
