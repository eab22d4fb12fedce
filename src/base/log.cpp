// The uninstall log, buffered: records gather in one block that is written
// out when it runs short and at the end.
#include <string.h>

#include "../core/memory.h"
#include "files.h"
#include "log.h"
#include "seam.h"
#include "state.h"

enum {
    // A record: the longest subject (a question's text) and a name, its
    // other fields and its line's end; a longer one is cut.
    LOG_LINE_SIZE = FORMAT_BUFFER_SIZE + PATH_BUFFER_SIZE + 64,
    // The buffer, written out when it has no room left for a record of three
    // bytes a character (UTF-8) and at the end.
    LOG_BUFFER_SIZE = 16384,
};

static const char kindWords[] =
    "log\0file\0folder\0pattern\0key\0value\0question\0program\0self-deletion\0error\0exit";
// A word that starts with \1 stands for "kept" and a tab, with \2 for
// "skipped" and a tab.
static const char outcomeWords[] = "started\t\0"
                                   "removed\t\0"
                                   "\2not-found\0"
                                   "\1in-use\0"
                                   "\1not-empty\0"
                                   "\1refused\0"
                                   "\1error %d\0"
                                   "\1answered-no\0"
                                   "\1shared-count\0"
                                   "\1protected\0"
                                   "\1link\0"
                                   "\1guarded\0"
                                   "\2too-long\0"
                                   "\2unanchored\0"
                                   "\2unresolved\0"
                                   "\2unsafe\0"
                                   "ended\t%d\0"
                                   "failed\terror %d\0"
                                   "scheduled\t\0"
                                   "not-scheduled\t\0"
                                   "failed\tpayload %d\0"
                                   "%d\t";
// By the command's number: 0 for none, IDOK to IDNO, then LOG_YES_TO_ALL and LOG_NO_TO_ALL.
static const char answerWords[] =
    "none\0ok\0cancel\0abort\0retry\0ignore\0yes\0no\0yes-to-all\0no-to-all";

static const char* wordAt(const char* words, int index) {
    while (index-- > 0)
        words += strlen(words) + 1;
    return words;
}

static void flushLog() {
    DWORD written;
    if (state.logUsed)
        W32(WriteFile, state.logFile, state.logBuffer, state.logUsed, &written, nullptr);
    state.logUsed = 0;
}

// Copies `text` to `out`, up to `end`; in a subject, a control character
// becomes a blank, so that a record stays one line of its four fields.
static char* copy(char* out, const char* end, const char* text, bool subject) {
    for (; text && *text && out < end; ++out, ++text)
        *out = subject && (unsigned char)*text < ' ' ? ' ' : *text;
    return out;
}

// The record, made whole in the ANSI code page, goes into the buffer in UTF-8
// (its bytes as they are where the system cannot convert it).
static void writeRecord(int kind, const char* outcome, const char* subject, const char* name) {
    char line[LOG_LINE_SIZE];
    const char* end = line + LOG_LINE_SIZE - 3; // room for the backslash or the line's end
    char* out = copy(line, end, wordAt(kindWords, kind), false);
    *out++ = '\t';
    out = copy(out, end, outcome, false);
    *out++ = '\t';
    out = copy(out, end, subject, true);
    if (name) {
        *out++ = '\\';
        out = copy(out, end, name, true);
    }
    *out++ = '\r';
    *out++ = '\n';
    int length = (int)(out - line);
    if (LOG_BUFFER_SIZE - state.logUsed < 3 * LOG_LINE_SIZE)
        flushLog();
    char* to = state.logBuffer + state.logUsed;
    WCHAR wide[LOG_LINE_SIZE];
    int count = W32(MultiByteToWideChar, CP_ACP, 0, line, length, wide, LOG_LINE_SIZE);
    int written = count ? W32(WideCharToMultiByte, CP_UTF8, 0, wide, count, to, 3 * LOG_LINE_SIZE,
                              nullptr, nullptr)
                        : 0;
    if (!written)
        memcpy(to, line, written = length);
    state.logUsed += written;
}

void logEvent(int kind, int outcome, const char* subject, const char* name, int number) {
    if (!state.logFile)
        return; // no work in the passes without a log
    char text[48];
    const char* word = wordAt(outcomeWords, outcome);
    text[0] = 0;
    if (*word < ' ')
        strcpy(text, wordAt("kept\t\0skipped\t", *word++ - 1));
    formatNumber(text + strlen(text), word, number);
    writeRecord(kind, text, subject, name);
}

// The errors that have an outcome of their own, and those outcomes.
static const unsigned short knownErrors[] = {0,
                                             ERROR_FILE_NOT_FOUND,
                                             ERROR_PATH_NOT_FOUND,
                                             ERROR_SHARING_VIOLATION,
                                             ERROR_DIR_NOT_EMPTY,
                                             ERROR_ACCESS_DENIED,
                                             ERROR_CANCELLED};
static const unsigned char knownOutcomes[] = {LOG_REMOVED,    LOG_NOT_FOUND, LOG_NOT_FOUND,
                                              LOG_IN_USE,     LOG_NOT_EMPTY, LOG_REFUSED,
                                              LOG_ANSWERED_NO};

void logResult(int kind, DWORD error, const char* subject, const char* name) {
    int outcome = LOG_FAILED;
    for (int i = 0; i < (int)sizeof(knownOutcomes); ++i)
        if (error == knownErrors[i])
            outcome = knownOutcomes[i];
    logEvent(kind, outcome, subject, name, (int)error);
}

void logCall(int kind, BOOL ok, const char* subject, const char* name) {
    if (state.logFile)
        logResult(kind, ok ? 0 : W32(GetLastError), subject, name);
}

void logLink(int kind, const char* path) {
    if (state.logFile)
        logEvent(kind,
                 folderAnchor(path) != ANCHOR_FULL                          ? LOG_UNANCHORED
                 : W32(GetFileAttributesA, path) == INVALID_FILE_ATTRIBUTES ? LOG_NOT_FOUND
                                                                            : LOG_LINK,
                 path);
}

void logRegistry(int kind, int outcome, uint32_t root, const char* path, LONG error) {
    uint32_t index = root - (uint32_t)(ULONG_PTR)HKEY_CLASSES_ROOT;
    const char* name = wordAt("HKCR\0HKCU\0HKLM\0HKU\0HKPD\0HKCC\0HKDD\0?", index < 7 ? index : 7);
    if (outcome < 0)
        logResult(kind, (DWORD)error, name, path);
    else
        logEvent(kind, outcome, name, path);
}

void logQuestion(const char* text, int answer) {
    if (!state.logFile)
        return;
    char outcome[32];
    strcpy(outcome, wordAt(answerWords, answer >= 0 && answer <= LOG_NO_TO_ALL ? answer : 0));
    strcat(outcome, state.unattended ? "\tunattended" : "\tuser");
    writeRecord(LOG_QUESTION, outcome, text, nullptr);
}

void openLog(const char* tail) {
    const char* request = state.logPath;
    char path[PATH_BUFFER_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!request)
        return;
    if (*request) {
        // The rest of the command line, its quotes left out and its final
        // blanks cut; a path that does not fit gives no log.
        size_t n = 0;
        for (; *request; ++request)
            if (*request != '"') {
                if (n == PATH_BUFFER_SIZE - 1)
                    return;
                path[n++] = *request;
            }
        while (n && path[n - 1] == ' ')
            --n;
        path[n] = 0;
        file = createNewFile(path);
    } else if (getTempFolder(path)) {
        file = createNumberedFile(path, "varnel%d.log");
    }
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (!allocRawAs(LOG_BUFFER_SIZE, &state.logBuffer)) {
        closeFile(file);
        return;
    }
    state.logFile = file;
    logEvent(LOG_LOG, LOG_CODE, tail, nullptr, 1); // the format's version
}

void closeLog() {
    if (!state.logFile)
        return;
    flushLog();
    closeFile(state.logFile);
    state.logFile = nullptr;
    freeAndClearAs(&state.logBuffer);
}
