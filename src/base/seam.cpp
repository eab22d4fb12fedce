// Test build only: the rules and the log behind W32 (see seam.h).
#ifdef VARNEL_TEST_HOOKS

#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "seam.h"

const SeamRowInfo seamRows[SEAM_ROW_COUNT] = {
#define CALL(library, name, failure, answer) {#name, SEAM_FAIL_##failure, SEAM_ANSWER_##answer},
#include "calls.h"
#undef CALL
};

namespace {

const char rulesVariable[] = "VARNEL_SEAM";
const char logVariable[] = "VARNEL_SEAM_LOG";

enum { RULES_SIZE = 8192, RULE_MAX = 64, LOG_LINE_SIZE = 4096 };

struct Rule {
    const char* name; // points into the kept copy of the variable
    int nameLength;
    const char* text; // ~TEXT, or null
    int textLength;
    unsigned nth;      // 0: every matching call
    DWORD error;       // the error of a failing rule
    const char* value; // the answer of a Name=VALUE rule, or null
    int valueLength;
    unsigned seen; // calls matched so far
};

char kept[RULES_SIZE];
Rule rules[RULE_MAX];
int ruleCount;

unsigned parseNumber(const char* p, const char* end) {
    unsigned n = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        n = n * 10 + (unsigned)(*p - '0');
    return n;
}

// Parses one item [start, end) into a rule: Name[~TEXT][#N] then !ERR or =VALUE.
void parseRule(const char* start, const char* end) {
    if (ruleCount == RULE_MAX || start == end)
        return;
    Rule& r = rules[ruleCount++];
    memset(&r, 0, sizeof(r));
    const char* stop = start;
    while (stop < end && *stop != '!' && *stop != '=')
        ++stop;
    const char* p = start;
    while (p < stop && *p != '~' && *p != '#')
        ++p;
    r.name = start;
    r.nameLength = (int)(p - start);
    if (p < stop && *p == '~') {
        const char* t = ++p;
        while (p < stop && *p != '#')
            ++p;
        r.text = t;
        r.textLength = (int)(p - t);
    }
    if (p < stop && *p == '#')
        r.nth = parseNumber(p + 1, stop);
    if (stop < end && *stop == '!')
        r.error = parseNumber(stop + 1, end);
    else if (stop < end)
        r.value = stop + 1, r.valueLength = (int)(end - stop - 1);
}

// Reads the rules again whenever the variable has changed (tests change it
// between cases); the counts start afresh with them.
void refreshRules() {
    char now[RULES_SIZE];
    DWORD length = GetEnvironmentVariableA(rulesVariable, now, sizeof(now));
    if (length >= sizeof(now))
        length = 0;
    now[length] = 0;
    if (strcmp(now, kept) == 0)
        return;
    memcpy(kept, now, length + 1);
    ruleCount = 0;
    for (const char* item = kept; *item;) {
        const char* end = strchr(item, '|');
        if (!end)
            end = item + strlen(item);
        parseRule(item, end);
        item = *end ? end + 1 : end;
    }
}

bool sameName(const Rule& r, const char* name) {
    return (int)strlen(name) == r.nameLength && memcmp(name, r.name, (size_t)r.nameLength) == 0;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
}

bool containsText(const char* haystack, const char* needle, int needleLength) {
    for (; *haystack; ++haystack) {
        int i = 0;
        while (i < needleLength && haystack[i] && lower(haystack[i]) == lower(needle[i]))
            ++i;
        if (i == needleLength)
            return true;
    }
    return needleLength == 0;
}

// Whether an argument is what ~TEXT names: a text holding it, or a number
// written as it in decimal.
bool argumentMatches(const SeamArgument& a, const char* text, int length) {
    if (a.kind == SEAM_ARG_TEXT)
        return a.text && containsText(a.text, text, length);
    if (a.kind != SEAM_ARG_NUMBER || length == 0 || (text[0] == '-') != a.negative)
        return false;
    int digits = a.negative ? 1 : 0;
    return length > digits && parseNumber(text + digits, text + length) == a.number &&
           strspn(text + digits, "0123456789") == (size_t)(length - digits);
}

char line[LOG_LINE_SIZE];
int lineLength;
int blocksHeld;

// The tab between fields (append turns tabs inside a field into blanks).
void separate() {
    if (lineLength < LOG_LINE_SIZE - 2)
        line[lineLength++] = '\t';
}

// Appends text to the line; tabs and line ends inside it become blanks.
void append(const char* text, int length) {
    if (length < 0)
        length = (int)strlen(text);
    for (int i = 0; i < length && lineLength < LOG_LINE_SIZE - 2; ++i) {
        char c = text[i];
        line[lineLength++] = c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
    }
}

void logBegin(const char* name) {
    lineLength = 0;
    append(name, -1);
}

void logText(const char* text) {
    separate();
    append(text, -1);
}

void logNumber(unsigned long long value, bool negative) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    separate();
    if (negative)
        append("-", 1);
    while (n)
        append(&digits[--n], 1);
}

void logArgument(const SeamArgument& a) {
    char text[40];
    switch (a.kind) {
    case SEAM_ARG_TEXT: {
        // An output buffer is logged as it is before the call: at most a line of it.
        const char* text = a.text ? a.text : "(null)";
        separate();
        int length = 0;
        while (length < LOG_LINE_SIZE && text[length])
            ++length;
        append(text, length);
        break;
    }
    case SEAM_ARG_NUMBER:
        logNumber(a.number, a.negative);
        break;
    case SEAM_ARG_STARTUP: {
        // A start-up record shows how the window is to be shown.
        const STARTUPINFOA* startup = (const STARTUPINFOA*)(uintptr_t)a.number;
        wsprintfA(text, "flags=%lu show=%u", startup ? startup->dwFlags : 0UL,
                  startup ? startup->wShowWindow : 0U);
        logText(text);
        break;
    }
    case SEAM_ARG_POINTER:
        wsprintfA(text, "0x%x", (unsigned)a.number);
        logText(text);
        break;
    default:
        logText("*");
    }
}

void logEnd() {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(logVariable, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return;
    line[lineLength++] = '\r';
    line[lineLength++] = '\n';
    DWORD saved = GetLastError();
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(log, line, (DWORD)lineLength, &written, nullptr);
        CloseHandle(log);
    }
    SetLastError(saved);
}

template <typename T> T argumentValue(const SeamArgument* arguments, int i) {
    return *(const T*)arguments[i].address;
}

// Copies an answer into a buffer of `size` bytes, cut to fit; its length.
unsigned copyAnswer(char* out, unsigned size, const char* value, int length) {
    unsigned n = (unsigned)length < size ? (unsigned)length : size ? size - 1 : 0;
    if (size) {
        memcpy(out, value, n);
        out[n] = 0;
    }
    return n;
}

// An item list that stands for an answered folder: a marker, then the text.
const char answeredList[] = "varnel-answered-folder:";

// Gives the answer of a Name=VALUE rule where the row says; false when the
// row takes no answer (the rule then fails the call with no error).
bool answer(int row, const char* value, int length, const SeamArgument* arguments,
            uintptr_t* result) {
    switch (seamRows[row].answer) {
    case SEAM_ANSWER_TEXT_IN_ARG0:
        *result = copyAnswer(argumentValue<char*>(arguments, 0), argumentValue<UINT>(arguments, 1),
                             value, length);
        return true;
    case SEAM_ANSWER_TEXT_IN_ARG1:
        *result = copyAnswer(argumentValue<char*>(arguments, 1), argumentValue<DWORD>(arguments, 0),
                             value, length);
        return true;
    case SEAM_ANSWER_VALUE_DATA: {
        DWORD* type = argumentValue<DWORD*>(arguments, 3);
        BYTE* data = argumentValue<BYTE*>(arguments, 4);
        DWORD* size = argumentValue<DWORD*>(arguments, 5);
        if (type)
            *type = REG_SZ;
        *result = ERROR_SUCCESS;
        if (data && size && *size < (DWORD)length + 1)
            *result = ERROR_MORE_DATA;
        else if (data && size)
            copyAnswer((char*)data, *size, value, length);
        if (size)
            *size = (DWORD)length + 1;
        return true;
    }
    case SEAM_ANSWER_ITEM_LIST: {
        IMalloc* shellMalloc = nullptr;
        char* list = nullptr;
        if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
            list = (char*)shellMalloc->Alloc(sizeof(answeredList) + (unsigned)length);
            shellMalloc->Release();
        }
        if (list) {
            memcpy(list, answeredList, sizeof(answeredList) - 1);
            copyAnswer(list + sizeof(answeredList) - 1, (unsigned)length + 1, value, length);
        }
        *argumentValue<LPITEMIDLIST*>(arguments, 2) = (LPITEMIDLIST)list;
        *result = list ? S_OK : E_OUTOFMEMORY;
        return true;
    }
    default:
        return false;
    }
}

} // namespace

SeamDecision seamDecide(int row, SeamArgument* arguments, int count, DWORD* error,
                        uintptr_t* result) {
    DWORD lastError = GetLastError(); // the rules and the log must not change it
    refreshRules();
    const char* name = seamRows[row].name;
    logBegin(name);
    for (int i = 0; i < count; ++i)
        logArgument(arguments[i]);
    logEnd();
    // An item list that an answer made gives its text back.
    if (seamRows[row].answer == SEAM_ANSWER_PATH_OF_ITEM_LIST) {
        const char* list = argumentValue<const char*>(arguments, 0);
        if (list && !memcmp(list, answeredList, sizeof(answeredList) - 1)) {
            const char* text = list + sizeof(answeredList) - 1;
            copyAnswer(argumentValue<char*>(arguments, 1), MAX_PATH, text, (int)strlen(text));
            *result = TRUE;
            return SEAM_ANSWERED;
        }
    }
    // The last rule that names a call decides.
    for (int i = ruleCount - 1; i >= 0; --i) {
        Rule& r = rules[i];
        if (!sameName(r, name))
            continue;
        if (r.text) {
            bool matched = false;
            for (int a = 0; a < count && !matched; ++a)
                matched = argumentMatches(arguments[a], r.text, r.textLength);
            if (!matched)
                continue;
        }
        ++r.seen;
        if (r.nth && r.seen != r.nth)
            continue;
        if (r.value && answer(row, r.value, r.valueLength, arguments, result))
            return SEAM_ANSWERED;
        *error = r.error;
        return SEAM_FAIL;
    }
    SetLastError(lastError);
    return SEAM_CALL;
}

void seamCountBlocks(int delta) {
    blocksHeld += delta;
}

void seamLogBlocks() {
    logBegin("blocks");
    logNumber((unsigned)(blocksHeld < 0 ? -blocksHeld : blocksHeld), blocksHeld < 0);
    logEnd();
}

#endif
