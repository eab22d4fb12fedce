// Texts by number, formatting with one path argument, and message boxes.
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

int showMessage(const char* text, unsigned style) {
    return W32(MessageBoxA, state.mainWindow, text, getString(0, TEXT_CAPTION), style);
}
