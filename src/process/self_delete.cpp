// Self-deletion: a hidden batch file deletes the executable once the process
// has ended, removes the emptied installation folder, and deletes itself.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../payload/payload.h"
#include "process.h"

enum {
    // The batch text: every path quoted and each of its percent signs doubled
    // (four paths of 259 characters at worst), plus the fixed lines.
    BATCH_TEXT_SIZE = 2560,
    // Rounds of about a second before the batch gives up on an executable
    // that cannot be deleted: far longer than the uninstaller takes to exit.
    BATCH_ROUNDS = 30,
};

// Where each path goes: \1 the executable, \2 the installation folder, \3 the
// batch file; \4 starts the line that removes the installation folder, left
// out when the folder is protected (the uninstaller itself still goes). Only syntax that both
// cmd.exe and command.com run: the round count is a growing row of x, and ping waits about a second
// on every system.
static const char batchTemplate[] =
    "@echo off\r\n"
    "set round=\r\n"
    ":Repeat\r\n"
    "del \"\1\"\r\n"
    "if not exist \"\1\" goto Done\r\n"
    "set round=%round%x\r\n"
    "if \"%round%\"==\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" goto Done\r\n"
    "ping -n 2 127.0.0.1 >nul\r\n"
    "goto Repeat\r\n"
    ":Done\r\n"
    "\4rmdir \"\2\"\r\n"
    "del \"\3\"\r\n";
static_assert(sizeof("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx") == BATCH_ROUNDS + 1, "bound");

// `pattern` with its first "%d" replaced by `number` (positive), into `out`,
// which has room for the pattern and ten digits.
static void formatNumber(char* out, const char* pattern, int number) {
    const char* mark = strstr(pattern, "%d");
    size_t before = mark ? (size_t)(mark - pattern) : strlen(pattern);
    memcpy(out, pattern, before);
    char digits[12];
    int n = 0;
    do
        digits[n++] = (char)('0' + number % 10);
    while ((number /= 10) > 0);
    while (mark && n)
        out[before++] = digits[--n];
    strcpy(out + before, mark ? mark + 2 : "");
}

HANDLE createTempBatchFile(char* buffer, const char* pattern) {
    for (int i = 1; i < 999; ++i) {
        DWORD length = W32(GetTempPathA, PATH_BUFFER_SIZE, buffer);
        if (length == 0 || length >= PATH_BUFFER_SIZE)
            return INVALID_HANDLE_VALUE;
        addTrailingBackslash(buffer);
        char name[32];
        if (strlen(pattern) > 16)
            return INVALID_HANDLE_VALUE;
        formatNumber(name, pattern, i);
        if (strlen(buffer) + strlen(name) >= PATH_BUFFER_SIZE)
            return INVALID_HANDLE_VALUE;
        strcat(buffer, name);
        HANDLE file = W32(CreateFileA, buffer, GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            W32(CloseHandle, file); // taken
            continue;
        }
        // CREATE_NEW: a file that appeared meanwhile, or that could not be
        // opened for reading, is never overwritten.
        file = W32(CreateFileA, buffer, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Replaces `path` (PATH_BUFFER_SIZE bytes) by its short form, where one
// exists; otherwise it stays as it is.
static void shortenPath(char* path) {
    W32(GetShortPathNameA, path, path, PATH_BUFFER_SIZE);
}

// Appends `text` to the batch buffer, a path's percent signs doubled so that
// the interpreter reads them as they are. False when it does not fit.
static bool putText(char* out, size_t* length, const char* text, bool isPath) {
    for (; *text; ++text) {
        size_t n = isPath && *text == '%' ? 2 : 1;
        if (*length + n >= BATCH_TEXT_SIZE)
            return false;
        out[(*length)++] = *text;
        if (n == 2)
            out[(*length)++] = '%';
    }
    out[*length] = 0;
    return true;
}

// The batch text for the three paths; false when it does not fit.
static bool formatBatch(char* out, size_t* length, const char* exe, const char* dir,
                        const char* batch) {
    const char* paths[] = {exe, dir, batch};
    char piece[2] = {};
    *length = 0;
    for (const char* p = batchTemplate; *p; ++p) {
        if (*p == 4) {
            if (!dir)
                p = strchr(p, '\n');
            continue;
        }
        bool isPath = *p >= 1 && *p <= 3;
        piece[0] = *p;
        if (!putText(out, length, isPath ? paths[*p - 1] : piece, isPath))
            return false;
    }
    return true;
}

struct SelfDeletion {
    char batchPath[PATH_BUFFER_SIZE];    // ANSI: the command line's
    char oemBatchPath[PATH_BUFFER_SIZE]; // short and OEM: the batch text's
    char interpreter[PATH_BUFFER_SIZE];  // full path of cmd.exe or command.com
    char text[BATCH_TEXT_SIZE];          // the batch text, then the command line
};

// Converts a path (PATH_BUFFER_SIZE bytes) in place from the ANSI to the OEM
// code page, for the batch text. False when a character has no form there, or
// when a double quote comes out of the conversion (from a curly one, say): in
// the batch file it would end a quoted path, and what followed would run as a
// command of the interpreter.
static bool toOem(char* text) {
    WCHAR wide[PATH_BUFFER_SIZE];
    BOOL lost = FALSE;
    return W32(MultiByteToWideChar, CP_ACP, 0, text, -1, wide, PATH_BUFFER_SIZE) &&
           W32(WideCharToMultiByte, CP_OEMCP, state.isNT ? WC_NO_BEST_FIT_CHARS : 0, wide, -1, text,
               PATH_BUFFER_SIZE, nullptr, &lost) &&
           !lost && !strchr(text, '"');
}

// Writes the batch file and starts its interpreter; the installation folder is
// removed only when `removeFolder`. False when nothing was started; the batch
// file is then removed again.
static bool startBatch(SelfDeletion* work, HANDLE file, bool removeFolder) {
    char* exe = state.workPath;
    char* dir = state.installDir;
    // The batch file's own path too: short where it can be, and OEM.
    strcpy(work->oemBatchPath, work->batchPath);
    shortenPath(work->oemBatchPath);
    size_t length;
    bool ok =
        toOem(dir) && toOem(exe) && toOem(work->oemBatchPath) &&
        formatBatch(work->text, &length, exe, removeFolder ? dir : nullptr, work->oemBatchPath);
    DWORD written = 0;
    // A batch file cut short could act on other paths: it must be written whole.
    ok = ok && W32(WriteFile, file, work->text, (DWORD)length, &written, nullptr) &&
         written == length;
    W32(CloseHandle, file);
    // "INTERPRETER" /C "BATCH": two paths of at most 259 bytes, well within the
    // buffer. On NT with /D, so that no AutoRun command (which any program of
    // the user can set) runs with the uninstaller's rights, and /V:OFF, so
    // that "!" stays a character.
    char* line = work->text;
    line[0] = '"';
    strcpy(line + 1, work->interpreter);
    strcat(line, state.isNT ? "\" /D /V:OFF /C \"" : "\" /C \"");
    strcat(line, work->batchPath);
    strcat(line, "\"");
    if (ok) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION started = {};
        ok = W32(CreateProcessA, nullptr, work->text, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                 &startup, &started);
        if (ok) {
            W32(CloseHandle, started.hThread);
            W32(CloseHandle, started.hProcess);
        }
    }
    if (!ok)
        W32(DeleteFileA, work->batchPath);
    return ok;
}

void scheduleSelfDeletion() {
    char* dir = state.installDir;
    char* exe = state.workPath;
    // A protected installation folder (the Desktop, Documents) is never removed.
    bool removeFolder = !isProtectedFolder(dir);
    shortenPath(dir);
    removeTrailingBackslash(dir);
    DWORD length = W32(GetModuleFileNameA, state.instance, exe, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return; // a cut path could name another file
    shortenPath(exe);

    SelfDeletion* work;
    if (!allocZeroedAs(sizeof(SelfDeletion), &work))
        return;
    // The interpreter comes from the system's own folder, never from the
    // search path, whose first place is the installation folder; its current
    // directory is that folder too, never one it has to remove.
    char* folder = work->interpreter;
    length = state.isNT ? W32(GetSystemDirectoryA, folder, PATH_BUFFER_SIZE)
                        : W32(GetWindowsDirectoryA, folder, PATH_BUFFER_SIZE);
    const char* name = state.isNT ? "cmd.exe" : "command.com";
    if (length > 0 && length < PATH_BUFFER_SIZE - 1 - strlen(name)) {
        removeTrailingBackslash(folder);
        W32(SetCurrentDirectoryA, folder);
        addTrailingBackslash(folder);
        strcat(folder, name);
        HANDLE file = createTempBatchFile(work->batchPath, "delme%d.bat");
        if (file != INVALID_HANDLE_VALUE)
            startBatch(work, file, removeFolder);
    }
    freeAndClearAs(&work);
}
