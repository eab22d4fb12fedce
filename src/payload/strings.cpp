// Texts by number, formatting with one path argument, and message boxes.
#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "payload.h"

static const char emptyText[] = "";

const char* getString(int table, int index) {
    if (table != 0 || !state.stringTable || index < 0)
        return emptyText;
    for (int i = 0; state.stringTable[i]; ++i)
        if (i == index)
            return state.stringTable[i];
    return emptyText;
}

void formatString(char* buffer, int index, const char* argument) {
    formatText(buffer, getString(0, index), argument);
}

// The answer to each kind of box (MB_OK ... MB_CANCELTRYCONTINUE) that changes nothing.
static const unsigned char safeAnswers[8] = {IDOK, IDCANCEL, IDABORT,  IDCANCEL,
                                             IDNO, IDCANCEL, IDCANCEL, IDCANCEL};

int showMessage(const char* text, unsigned style) {
    int answer = state.unattended
                     ? safeAnswers[style & 7]
                     : W32(MessageBoxA, state.mainWindow, text, getString(0, TEXT_CAPTION), style);
    logQuestion(text, answer);
    return answer;
}
