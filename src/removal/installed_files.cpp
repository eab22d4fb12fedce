// The installed-file pass and the in-use check before it.
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../payload/payload.h"
#include "../ui/ui.h"
#include "removal.h"

static const char sharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The errors that say something refused access to a file that is there, as
// opposed to a file that is missing or a path that is wrong.
bool isAccessError(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:         // rights, or a read-only file
    case ERROR_CURRENT_DIRECTORY:     // the folder is some process's current directory
    case ERROR_NETWORK_ACCESS_DENIED: // a share refuses it
    case ERROR_CANNOT_MAKE:           // the file system refuses the change
    case ERROR_FAIL_I24:              // a critical error on the device
    case ERROR_DRIVE_LOCKED:          // another process locks the drive
    case ERROR_SEEK_ON_DEVICE:        // a device, not a file
    case ERROR_NOT_LOCKED:            // a lock held elsewhere
    case ERROR_LOCK_FAILED:           // a lock could not be taken
        return true;
    default:
        // Write protection, sharing and lock violations, drive and media errors.
        return error >= ERROR_WRITE_PROTECT && error <= ERROR_SHARING_BUFFER_EXCEEDED;
    }
}

bool buildEntryPath(const FileEntry* entry) {
    return joinEntryPath(state.workPath, state.installDir, entry->folder, entry->name);
}

enum WriteTest { WRITE_PASSES, WRITE_DENIED, WRITE_FAILS };

static WriteTest testWritePermission(const char* path) {
    DWORD attributes = W32(GetFileAttributesA, path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return isAccessError(W32(GetLastError)) ? WRITE_DENIED : WRITE_FAILS;
    return (attributes & FILE_ATTRIBUTE_READONLY) ? WRITE_DENIED : WRITE_PASSES;
}

static void setReadOnly(const char* path, bool readOnly) {
    DWORD attributes = W32(GetFileAttributesA, path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    attributes =
        readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
    W32(SetFileAttributesA, path, attributes);
}

static bool opensForWriting(const char* path) {
    HANDLE file = openExistingFile(path, FILE_MODE_READ_WRITE);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    closeFile(file);
    return true;
}

int isFileInUse(const char* path) {
    switch (testWritePermission(path)) {
    case WRITE_PASSES:
        return opensForWriting(path) ? 0 : 1;
    case WRITE_FAILS:
        return 0;
    case WRITE_DENIED:
        break;
    }
    setReadOnly(path, false);
    if (testWritePermission(path) == WRITE_DENIED)
        return 1;
    bool free = opensForWriting(path);
    setReadOnly(path, true);
    return free ? 0 : 1;
}

int checkFilesInUse() {
    for (uint32_t i = 0; i < state.fileCount; ++i) {
        const FileEntry* entry = state.fileEntries[i];
        if (!entry->name[0] || !(entry->flags & FE_CHECKINUSE) || !buildEntryPath(entry) ||
            !canonicalPath(state.workPath))
            continue;
        if (isFileInUse(state.workPath))
            return 1;
    }
    return 0;
}

// Shows text 10 about the file; true to go on (also when the text is empty).
static bool confirmSharedRemoval(const char* path) {
    char* question;
    if (!allocZeroedAs(FORMAT_BUFFER_SIZE, &question))
        return true;
    formatString(question, TEXT_SHARED_QUESTION, path);
    bool yes = !question[0] || showMessage(question, MB_YESNO | MB_ICONQUESTION) == IDYES;
    freeAndClearAs(&question);
    return yes;
}

// Counts down the file's shared reference; returns LOG_REMOVED when it may be
// removed, else why it stays.
static int releaseSharedReference(const char* path, bool inUse) {
    int outcome = inUse ? LOG_IN_USE : LOG_REMOVED;
    HKEY key;
    bool opened = W32(RegOpenKeyExA, HKEY_LOCAL_MACHINE, sharedDllsKey, 0, KEY_ALL_ACCESS, &key) ==
                  ERROR_SUCCESS;
    if (opened) {
        DWORD count = 1;
        DWORD type = 0;
        DWORD size = sizeof(count);
        if (W32(RegQueryValueExA, key, path, nullptr, &type, reinterpret_cast<BYTE*>(&count),
                &size) == ERROR_SUCCESS) {
            if (count > 0 && --count != 0)
                outcome = LOG_SHARED_COUNT; // other products still use the file
            if (!(inUse && count == 0))
                W32(RegSetValueExA, key, path, 0, type, reinterpret_cast<const BYTE*>(&count),
                    size);
        }
    }
    if (outcome == LOG_REMOVED && !confirmSharedRemoval(path))
        outcome = LOG_ANSWERED_NO;
    if (outcome == LOG_REMOVED && opened)
        W32(RegDeleteValueA, key, path);
    if (opened)
        W32(RegCloseKey, key);
    return outcome;
}

// The short way for a plain file (no shared count, font or server) on NT: the
// very open that the in-use test makes, asking for delete access as well, and
// deleting the file when it is closed. Where that open succeeds, the in-use
// test would have found the file free and writable, and the deletion would
// have gone through; the file goes the same way in two calls in place of four.
// Where it fails (in use, read-only, refused, missing), nothing has changed and
// the file takes the long way, which decides and asks as always. A symbolic
// link is opened as itself: deleted on close, the link goes, never what it
// points at. The 9x family keeps the long way.
static bool deleteIfFree(const char* path) {
    HANDLE file =
        W32(CreateFileA, path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    closeFile(file);
    return true;
}

// 0 when the file went, else the error that kept it.
static DWORD deleteFile(const char* path) {
    return W32(DeleteFileA, path) ? 0 : W32(GetLastError);
}

static DWORD clearAndDelete(const char* path) {
    setReadOnly(path, false);
    return deleteFile(path);
}

// Deletes the file, asking about a write-protected one: 0 when it went, else
// the error that kept it (ERROR_CANCELLED: the answer was No).
static DWORD deleteInstalledFile(const char* path, unsigned flags) {
    DWORD error = deleteFile(path);
    while (error) {
        if (!isAccessError(error) || testWritePermission(path) != WRITE_DENIED)
            break; // gone already, or refused although it is not read-only
        if ((flags & (FE_FONT | FE_SELFREG)) || state.inUseAnswer == 1)
            return clearAndDelete(path);
        if (state.inUseAnswer == 0)
            return ERROR_CANCELLED;
        switch (askQuestion(path)) {
        case IDYES:
            error = clearAndDelete(path);
            break; // asked again while the file stays read-only
        case IDC_YESTOALL:
            state.inUseAnswer = 1;
            return clearAndDelete(path);
        case IDC_NOTOALL:
            state.inUseAnswer = 0;
            return ERROR_CANCELLED;
        default:
            return ERROR_CANCELLED;
        }
    }
    return error;
}

void removeInstalledFiles() {
    uint32_t n = state.fileCount;
    char named[PATH_BUFFER_SIZE]; // the path as the entry names it: the shared count's name
    for (uint32_t k = 0; k < n; ++k) {
        const FileEntry* entry = state.fileEntries[n - 1 - k];
        char* path = state.workPath;
        bool folder = !entry->name[0];
        int kind = folder ? LOG_FOLDER : LOG_FILE;
        // Nothing reached through a link is touched: a folder that is one, or
        // one in any folder above a folder or a file.
        if (!buildEntryPath(entry) || (strcpy(named, path), !canonicalPath(path))) {
            logEvent(kind,
                     folderAnchor(entry->folder) < ANCHOR_DOT_NAME ? LOG_TOO_LONG : LOG_UNANCHORED,
                     entry->folder, entry->name);
        } else if (throughLink(path, folder)) {
            logLink(kind, path);
        } else if (folder) {
            if (isProtectedFolder(path))
                logEvent(LOG_FOLDER, LOG_PROTECTED, path);
            else
                logCall(LOG_FOLDER, W32(RemoveDirectoryA, path), path);
        } else if (state.isNT && !(entry->flags & (FE_SHARED | FE_FONT | FE_SELFREG)) &&
                   deleteIfFree(path)) {
            logEvent(LOG_FILE, LOG_REMOVED, path);
        } else {
            bool inUse = isFileInUse(path) != 0;
            int outcome = inUse ? LOG_IN_USE : LOG_REMOVED;
            if (entry->flags & FE_SHARED)
                outcome = releaseSharedReference(named, inUse);
            if (outcome == LOG_REMOVED) {
                if (entry->flags & FE_FONT)
                    unregisterFont(path);
                if (entry->flags & FE_SELFREG)
                    unregisterComServer();
                logResult(LOG_FILE, deleteInstalledFile(path, entry->flags), path);
            } else if (outcome == LOG_IN_USE) {
                // Why the in-use test could not open it: in use, or refused.
                logCall(LOG_FILE, FALSE, path);
            } else {
                logEvent(LOG_FILE, outcome, path);
            }
        }
        reportProgress(SPAN_FILES, k);
    }
}
