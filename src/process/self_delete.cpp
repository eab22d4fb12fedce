// Self-deletion: a hidden batch file deletes the executable once the process
// has ended, removes the emptied installation folder, and deletes itself.
#include <windows.h>

#include <sddl.h>
#include <shlobj.h>
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../payload/payload.h"
#include "process.h"

enum {
    // The batch text: every path quoted and each of its percent signs doubled
    // (six paths of 259 characters at worst), plus the fixed lines.
    BATCH_TEXT_SIZE = 3584,
    // Rounds of about a second before the batch gives up on an executable
    // that cannot be deleted: far longer than the uninstaller takes to exit.
    BATCH_ROUNDS = 30,
};

// Where each path goes: \1 the executable, \2 the installation folder, \3 the
// batch file, \4 the batch file's own folder, \5 the interpreter. A line that
// starts with \6 is left out when the installation folder is protected (the
// uninstaller itself still goes); with \7 it is kept only when the batch file
// has a folder of its own, with \10 only when it has none. That folder is
// removed by a second interpreter, once the first has ended: an interpreter
// that holds its batch file open while it runs (Wine's does) keeps it from
// going until then. Only syntax that both cmd.exe and command.com run, but for
// the \7 line, which is for NT alone: the round count is a growing row of x,
// and ping waits about a second on every system.
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
    "\6rmdir \"\2\"\r\n"
    "\7del \"\3\" & start \"\" /b \"\5\" /d /c \"ping -n 3 127.0.0.1 >nul & rmdir \"\4\"\"\r\n"
    "\10del \"\3\"\r\n";
static_assert(sizeof("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx") == BATCH_ROUNDS + 1, "bound");

// Elevated, the batch file goes into a new folder of the Windows folder's
// Temp that only administrators and the system can change (owned by the
// administrators, its inherited permissions cut): no unelevated program can
// write the batch file, nor swap the folder, between its writing and its run.
// Users may create entries in that Temp, but not delete or rename others'. The
// user's own temporary folder would not do: the user may rename or delete
// anything in it, a folder of the administrators' included. Into `folder`
// (PATH_BUFFER_SIZE bytes); false when none was made.
static bool makeAdminFolder(char* folder) {
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
    UINT length = W32(GetSystemWindowsDirectoryA, folder, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE - 20 ||
        !W32(ConvertStringSecurityDescriptorToSecurityDescriptorA,
             "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
             &security.lpSecurityDescriptor, nullptr))
        return false;
    addTrailingBackslash(folder);
    char* name = folder + strlen(folder);
    bool made = false;
    for (int i = 1; i < 999 && !made; ++i) {
        formatNumber(name, "Temp\\Varnel%d", i);
        made = W32(CreateDirectoryA, folder, &security);
        if (!made && W32(GetLastError) != ERROR_ALREADY_EXISTS)
            break;
    }
    W32(LocalFree, security.lpSecurityDescriptor);
    return made;
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

// The batch text for the five paths (`dir` null when the installation folder
// stays, `folder` null when the batch file has no folder of its own); false
// when it does not fit.
static bool formatBatch(char* out, size_t* length, const char* exe, const char* dir,
                        const char* batch, const char* folder, const char* interpreter) {
    const char* paths[] = {exe, dir, batch, folder, interpreter};
    char piece[2] = {};
    *length = 0;
    for (const char* p = batchTemplate; *p; ++p) {
        if (*p >= 6 && *p <= 8) {
            if (*p == 6 ? !dir : (*p == 7) != (folder != nullptr))
                p = strchr(p, '\n');
            continue;
        }
        bool isPath = *p >= 1 && *p <= 5;
        piece[0] = *p;
        if (!putText(out, length, isPath ? paths[*p - 1] : piece, isPath))
            return false;
    }
    return true;
}

struct SelfDeletion {
    char batchPath[PATH_BUFFER_SIZE];    // ANSI: the command line's
    char oemBatchPath[PATH_BUFFER_SIZE]; // short and OEM: the batch text's
    char oemFolder[PATH_BUFFER_SIZE];    // its folder, when the batch file has one of its own
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
// removed only when `removeFolder`, the batch file's folder with it when
// `ownFolder`. False when nothing was started.
static bool startBatch(SelfDeletion* work, HANDLE file, bool removeFolder, bool ownFolder) {
    char* exe = state.workPath;
    char* dir = state.installDir;
    // The batch file's own path too: short where it can be, and OEM.
    strcpy(work->oemBatchPath, work->batchPath);
    shortenPath(work->oemBatchPath);
    size_t length;
    bool ok = toOem(dir) && toOem(exe) && toOem(work->oemBatchPath);
    strcpy(work->oemFolder, work->oemBatchPath);
    cutLastPart(work->oemFolder);
    ok = ok &&
         formatBatch(work->text, &length, exe, removeFolder ? dir : nullptr, work->oemBatchPath,
                     ownFolder ? work->oemFolder : nullptr, work->interpreter);
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
    return ok;
}

bool scheduleSelfDeletion() {
    char* dir = state.installDir;
    char* exe = state.workPath;
    // A protected installation folder (the Desktop, Documents) is never removed.
    bool removeFolder = !isProtectedFolder(dir);
    shortenPath(dir);
    removeTrailingBackslash(dir);
    DWORD length = W32(GetModuleFileNameA, state.instance, exe, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return false; // a cut path could name another file
    shortenPath(exe);

    SelfDeletion* work;
    if (!allocZeroedAs(sizeof(SelfDeletion), &work))
        return false;
    bool started = false;
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
        // Elevated, never the user's temporary folder: without a folder of
        // its own, the batch file is not written.
        bool ownFolder = state.isNT && W32(IsUserAnAdmin);
        char* batch = work->batchPath;
        if (ownFolder ? makeAdminFolder(batch) : getTempFolder(batch)) {
            HANDLE file = createNumberedFile(batch, "delme%d.bat");
            started =
                file != INVALID_HANDLE_VALUE && startBatch(work, file, removeFolder, ownFolder);
            if (!started) {
                if (file != INVALID_HANDLE_VALUE)
                    W32(DeleteFileA, batch);
                if (ownFolder && cutLastPart(batch))
                    W32(RemoveDirectoryA, batch);
            }
        }
    }
    freeAndClearAs(&work);
    return started;
}
