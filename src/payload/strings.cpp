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

// Formats like wsprintfA with one string argument: "%%" gives "%" and "%s"
// gives the argument. The payload's texts are untrusted, so any other
// conversion is copied as it stands and a second "%s" gives nothing: no
// argument is ever read that was not passed.
static void substitute(char* out, const char* text, const char* argument) {
    char* end = out + FORMAT_BUFFER_SIZE - 1;
    bool used = false;
    while (*text && out < end) {
        if (text[0] == '%' && text[1] == '%') {
            *out++ = '%';
            text += 2;
        } else if (text[0] == '%' && text[1] == 's') {
            for (const char* a = used ? "" : argument; *a && out < end; ++a)
                *out++ = *a;
            used = true;
            text += 2;
        } else {
            *out++ = *text++;
        }
    }
    *out = 0;
}

static bool hasConversion(const char* text) {
    for (; *text; ++text)
        if (text[0] == '%' && text[1] == 's')
            return true;
    return false;
}

void formatString(char* buffer, int index, const char* argument) {
    const char* text = getString(0, index);
    if (hasConversion(text)) {
        substitute(buffer, text, argument ? argument : "");
        return;
    }
    int i = 0;
    for (; text[i] && i < FORMAT_BUFFER_SIZE - 1; ++i)
        buffer[i] = text[i];
    buffer[i] = 0;
}

int showMessage(const char* text, unsigned style) {
    return W32(MessageBoxA, state.mainWindow, text, getString(0, TEXT_CAPTION), style);
}
