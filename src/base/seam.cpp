// Test build only: the rules and the log behind W32 (see seam.h).
#ifdef VARNEL_TEST_HOOKS

#include <windows.h>

#include <string.h>

#include "seam.h"

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
    bool fails;        // a Name!ERR rule (else a SOURCE or SOURCE=VALUE rule)
    const char* value; // SOURCE=VALUE, or null
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

// Parses one item [start, end) into a rule.
void parseRule(const char* start, const char* end) {
    if (ruleCount == RULE_MAX || start == end)
        return;
    Rule& r = rules[ruleCount++];
    memset(&r, 0, sizeof(r));
    const char* equals = (const char*)memchr(start, '=', (size_t)(end - start));
    const char* bang = (const char*)memchr(start, '!', (size_t)(end - start));
    if (equals && (!bang || equals < bang)) {
        r.name = start;
        r.nameLength = (int)(equals - start);
        r.value = equals + 1;
        r.valueLength = (int)(end - equals - 1);
        return;
    }
    const char* stop = bang ? bang : end;
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
    if (bang) {
        r.fails = true;
        r.error = parseNumber(bang + 1, end);
    }
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

} // namespace

int seamAnswer(const char* source, char* out, unsigned size) {
    refreshRules();
    int found = -1;
    for (int i = 0; i < ruleCount; ++i) {
        const Rule& r = rules[i];
        if (r.fails || r.text || r.nth || !sameName(r, source))
            continue;
        found = r.value ? 1 : 0;
        if (r.value && size) {
            unsigned length =
                (unsigned)r.valueLength < size - 1 ? (unsigned)r.valueLength : size - 1;
            memcpy(out, r.value, length);
            out[length] = 0;
        }
    }
    return found;
}

int seamDecide(const char* name, const char* const* texts, int textCount, DWORD* error) {
    refreshRules();
    for (int i = 0; i < ruleCount; ++i) {
        Rule& r = rules[i];
        if (!r.fails || !sameName(r, name))
            continue;
        if (r.text) {
            bool matched = false;
            for (int t = 0; t < textCount && !matched; ++t)
                matched = texts[t] && containsText(texts[t], r.text, r.textLength);
            if (!matched)
                continue;
        }
        ++r.seen;
        if (r.nth && r.seen != r.nth)
            continue;
        *error = r.error;
        return 1;
    }
    return 0;
}

uintptr_t seamFailure(const char* name, DWORD error) {
    if (!strcmp(name, "CreateFileA") || !strcmp(name, "FindFirstFileA"))
        return (uintptr_t)INVALID_HANDLE_VALUE;
    if (!strcmp(name, "GetFileAttributesA"))
        return INVALID_FILE_ATTRIBUTES;
    if (!strcmp(name, "ShellExecuteA") || !strcmp(name, "WinExec"))
        return error && error <= 32 ? error : ERROR_FILE_NOT_FOUND;
    return 0;
}

void seamCountBlocks(int delta) {
    blocksHeld += delta;
}

void seamLogBlocks() {
    seamLogBegin("blocks");
    seamLogNumber((unsigned)(blocksHeld < 0 ? -blocksHeld : blocksHeld), blocksHeld < 0);
    seamLogEnd();
}

void seamLogBegin(const char* name) {
    lineLength = 0;
    append(name, -1);
}

void seamLogText(const char* text, int length) {
    separate();
    append(text, length);
}

void seamLogNumber(unsigned long long value, bool negative) {
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

void seamLogPointer(const void* pointer) {
    char hex[16];
    wsprintfA(hex, "0x%x", (unsigned)(uintptr_t)pointer);
    seamLogText(hex, -1);
}

void seamLogStartup(const STARTUPINFOA* startup) {
    char text[40];
    wsprintfA(text, "flags=%lu show=%u", startup ? startup->dwFlags : 0UL,
              startup ? startup->wShowWindow : 0U);
    seamLogText(text, -1);
}

void seamLogEnd() {
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

#endif
