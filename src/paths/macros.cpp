// Folder macros: the shell and system folders they stand for, with the
// fallbacks of the NT and 9x families, and their expansion inside strings.
#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../core/folder_names.h"
#include "../core/memory.h"
#include "paths.h"

static const char currentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char programFilesValue[] = "ProgramFilesDir";
static const char commonFilesValue[] = "CommonFilesDir";

int getSpecialFolderPath(char* path, int csidl) {
    LPITEMIDLIST list = nullptr;
    if (W32(SHGetSpecialFolderLocation, nullptr, csidl, &list) != S_OK || !list)
        return 0;
    int found = W32(SHGetPathFromIDListA, list, path) ? 1 : 0;
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(W32(SHGetMalloc, &shellMalloc)) && shellMalloc) {
        shellMalloc->Free(list);
        shellMalloc->Release();
    }
    return found;
}

// A system folder call's answer: it fits in 260 bytes or counts as a failure,
// and a failure leaves the empty string.
static int keepSystemAnswer(char* out, UINT length) {
    if (length == 0 || length >= PATH_BUFFER_SIZE) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

int getWindowsFolder(char* out) {
    return keepSystemAnswer(out, W32(GetWindowsDirectoryA, out, PATH_BUFFER_SIZE));
}

int getSystemFolder(char* out) {
    return keepSystemAnswer(out, W32(GetSystemDirectoryA, out, PATH_BUFFER_SIZE));
}

static int getTempDirectory(char* out) {
    return keepSystemAnswer(out, W32(GetTempPathA, PATH_BUFFER_SIZE, out));
}

int openCurrentVersionKey(HKEY* key, REGSAM view) {
    return W32(RegOpenKeyExA, HKEY_LOCAL_MACHINE, currentVersionKey, 0, KEY_READ | view, key) ==
           ERROR_SUCCESS;
}

int readFolderValue(HKEY key, const char* name, char* out) {
    // The value may be stored without a terminator: read at most 260 bytes
    // into a buffer of 261 and terminate after what was read.
    char value[REGISTRY_FOLDER_SIZE];
    DWORD size = REGISTRY_FOLDER_SIZE - 1;
    if (W32(RegQueryValueExA, key, name, nullptr, nullptr, (BYTE*)value, &size) != ERROR_SUCCESS)
        return 0;
    if (size > REGISTRY_FOLDER_SIZE - 1)
        size = REGISTRY_FOLDER_SIZE - 1;
    value[size] = 0;
    memcpy(out, value, size + 1);
    return 1;
}

static char* lastBackslash(char* path) {
    char* found = nullptr;
    for (; *path; ++path)
        if (*path == '\\')
            found = path;
    return found;
}

// The Windows folder, a backslash and `suffix` (at most 54 characters); the
// token stays when the Windows folder cannot be had.
static void windowsFolderWith(char* buffer, const char* suffix) {
    char folder[PATH_BUFFER_SIZE];
    if (!getWindowsFolder(folder))
        return;
    strcpy(buffer, folder);
    addTrailingBackslash(buffer);
    strcat(buffer, suffix);
}

// The application-data folder with its last `levels` (1 or 2) components
// replaced by `tail`, which begins with a backslash. Leaves `buffer` alone and
// returns 0 when the folder cannot be had or lacks the backslashes.
static int appDataWith(char* buffer, int levels, const char* tail) {
    char folder[PATH_BUFFER_SIZE];
    if (!getSpecialFolderPath(folder, CSIDL_APPDATA))
        return 0;
    char* cut = lastBackslash(folder);
    if (levels == 2 && cut) {
        *cut = 0;
        cut = lastBackslash(folder);
    }
    if (!cut)
        return 0;
    *cut = 0; // the folder is now shorter than 259 characters, the tail 54 at most
    strcpy(buffer, folder);
    strcat(buffer, tail);
    return 1;
}

// A shell folder into `buffer`, which keeps its token when the folder cannot be had.
static int shellFolder(char* buffer, int csidl) {
    char folder[PATH_BUFFER_SIZE];
    if (!getSpecialFolderPath(folder, csidl))
        return 0;
    folder[PATH_BUFFER_SIZE - 1] = 0;
    strcpy(buffer, folder);
    return 1;
}

static void allUsersFolder(char* buffer, int csidl, const char* ntTail, const char* ntSuffix,
                           const char* suffix9x) {
    if (shellFolder(buffer, csidl))
        return;
    if (!state.isNT)
        windowsFolderWith(buffer, suffix9x);
    else if (!appDataWith(buffer, 2, ntTail))
        windowsFolderWith(buffer, ntSuffix);
}

// A system folder into `buffer`. When the system cannot answer, or its answer
// does not fit, the token stays: an empty folder would turn the rest of the
// text into a path at the root of the current drive.
static void systemFolder(char* buffer, int (*get)(char*)) {
    char folder[PATH_BUFFER_SIZE];
    if (get(folder))
        strcpy(buffer, folder);
}

static void resolveCommonFiles(char* buffer) {
    HKEY key;
    if (!openCurrentVersionKey(&key))
        return; // the token stays
    if (!readFolderValue(key, commonFilesValue, buffer)) {
        readFolderValue(key, programFilesValue, buffer); // on failure the token stays
        addTrailingBackslash(buffer);
        strcat(buffer, "Common Files");
    }
    W32(RegCloseKey, key);
}

static void resolveProgramFiles(char* buffer) {
    HKEY key;
    if (!openCurrentVersionKey(&key))
        return;
    readFolderValue(key, programFilesValue, buffer);
    W32(RegCloseKey, key);
}

static void resolveUserDir(char* buffer) {
    if (shellFolder(buffer, CSIDL_PROFILE))
        return;
    if (!state.isNT) {
        systemFolder(buffer, getWindowsFolder);
        return;
    }
    shellFolder(buffer, CSIDL_APPDATA); // when it fails the token, without backslash, stays
    char* cut = lastBackslash(buffer);
    if (cut)
        *cut = 0;
    if (!lastBackslash(buffer))
        strcpy(buffer, "c:\\");
}

static void resolveAllUsersDir(char* buffer) {
    if (shellFolder(buffer, CSIDL_COMMON_DOCUMENTS)) {
        char* cut = lastBackslash(buffer);
        if (!cut)
            strcpy(buffer, "c:\\");
        else if (cut > buffer && cut[-1] == ':')
            cut[1] = 0; // a folder directly on a drive root leaves the root
        else
            *cut = 0;
        return;
    }
    if (!state.isNT)
        windowsFolderWith(buffer, "All Users");
    else if (!appDataWith(buffer, 2, "\\All Users"))
        windowsFolderWith(buffer, "Profiles\\All Users");
}

void resolveFolderMacro(char* buffer) {
    switch (macroNumber(buffer, strlen(buffer))) {
    case MACRO_WINDOWS:
        systemFolder(buffer, getWindowsFolder);
        break;
    case MACRO_SYSTEM:
        systemFolder(buffer, getSystemFolder);
        break;
    case MACRO_TEMP:
        systemFolder(buffer, getTempDirectory);
        break;
    case MACRO_COMMON_FILES:
        resolveCommonFiles(buffer);
        break;
    case MACRO_PROGRAM_FILES:
        resolveProgramFiles(buffer);
        break;
    case MACRO_MY_DOCUMENTS:
        shellFolder(buffer, CSIDL_PERSONAL);
        break;
    case MACRO_DESKTOP:
        shellFolder(buffer, CSIDL_DESKTOPDIRECTORY);
        break;
    case MACRO_APP_DATA:
        if (!shellFolder(buffer, CSIDL_APPDATA))
            windowsFolderWith(buffer, state.isNT ? "Profiles\\Administrator\\Application Data"
                                                 : "Application Data");
        break;
    case MACRO_LOCAL_APP_DATA:
        if (shellFolder(buffer, CSIDL_LOCAL_APPDATA))
            break;
        if (!state.isNT)
            windowsFolderWith(buffer, "Application Data");
        else if (!appDataWith(buffer, 1, "\\Local Settings\\Application Data"))
            windowsFolderWith(buffer, "Profiles\\Administrator\\Local Settings\\Application Data");
        break;
    case MACRO_ALL_USERS_APP_DATA:
        allUsersFolder(buffer, CSIDL_COMMON_APPDATA, "\\All Users\\Application Data",
                       "Profiles\\All Users\\Application Data", "All Users\\Application Data");
        break;
    case MACRO_ALL_USERS_DOCUMENTS:
        allUsersFolder(buffer, CSIDL_COMMON_DOCUMENTS, "\\All Users\\Documents",
                       "Profiles\\All Users\\Documents", "All Users\\Documents");
        break;
    case MACRO_ALL_USERS_DESKTOP:
        allUsersFolder(buffer, CSIDL_COMMON_DESKTOPDIRECTORY, "\\All Users\\Desktop",
                       "Profiles\\All Users\\Desktop", "All Users\\Desktop");
        break;
    case MACRO_USER_DIR:
        resolveUserDir(buffer);
        break;
    case MACRO_ALL_USERS_DIR:
        resolveAllUsersDir(buffer);
        break;
    case MACRO_INSTALL_DIR:
        strcpy(buffer, state.installDir ? state.installDir : ""); // a path buffer: it fits
        break;
    default:
        buffer[0] = 0;
        break;
    }
    if (buffer[0])
        removeTrailingBackslash(buffer);
}

// Appends `length` bytes of `text` at `*end` of the scratch buffer when they
// fit with a terminator still to come; returns 0 when they do not.
static int appendToScratch(char* scratch, uint32_t* end, const char* text, uint32_t length) {
    if (length > MACRO_SCRATCH_SIZE - 1 - *end)
        return 0;
    memcpy(scratch + *end, text, length);
    *end += length;
    scratch[*end] = 0;
    return 1;
}

// Expands `src` into the scratch buffer; returns 0 when the result would not fit.
// Tokens of the last expansion whose folder could not be had (they stayed).
static int tokensLeft;

static int expandIntoScratch(char* scratch, uint32_t* end, const char* src) {
    const char* read = src;
    for (;;) {
        const char* close;
        const char* open = findMacroToken(read, &close);
        if (!open)
            return appendToScratch(scratch, end, read, strlen(read));
        if (!appendToScratch(scratch, end, read, (uint32_t)(open - read)))
            return 0;
        // The token is resolved in a buffer of its own, which the longest
        // result fits; a token too long for it names no folder. A folder
        // never starts with "#": a result that does is the token, kept.
        char token[MACRO_BUFFER_SIZE];
        uint32_t tokenLength = (uint32_t)(close - open);
        token[0] = 0;
        if (tokenLength < MACRO_BUFFER_SIZE) {
            memcpy(token, open, tokenLength);
            token[tokenLength] = 0;
            resolveFolderMacro(token);
            tokensLeft += token[0] == '#';
        }
        if (!appendToScratch(scratch, end, token, strlen(token)))
            return 0;
        read = close;
    }
}

bool expandPath(char* out, const char* text) {
    tokensLeft = 0;
    return expandFolderMacros(out, text, PATH_BUFFER_SIZE) < PATH_BUFFER_SIZE && !tokensLeft;
}

uint32_t expandFolderMacros(char* dst, const char* src, uint32_t size) {
    int writes = dst && size;
    if (!src)
        src = ""; // a missing text expands like the empty one
    char* scratch;
    if (!allocZeroedAs(MACRO_SCRATCH_SIZE, &scratch)) {
        const char* end;
        tokensLeft += findMacroToken(src, &end) != nullptr; // every token stays
        uint32_t length = strlen(src);
        if (writes) {
            uint32_t copied = length < size ? length : size - 1;
            memcpy(dst, src, copied);
            dst[copied] = 0;
        }
        return length;
    }
    uint32_t length = 0;
    // A text whose expansion does not fit is refused as a whole: a cut path
    // could name a different, shorter folder than the one that was meant.
    if (!expandIntoScratch(scratch, &length, src))
        length = 0;
    if (writes) {
        uint32_t copied = length < size ? length : size - 1;
        memcpy(dst, scratch, copied);
        dst[copied] = 0;
    }
    freeAndClearAs(&scratch);
    return length;
}
