// Folder macros: the shell and system folders they stand for, with the
// fallbacks of the NT and 9x families, and their expansion inside strings.
#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../core/memory.h"
#include "../core/folder_names.h"
#include "paths.h"

// In the test build a folder source can be made to fail or to give a chosen
// path (see seam.h); sources: "csidlN", "windows", "system", "temp", "key"
// (the CurrentVersion key), "ProgramFilesDir", "CommonFilesDir".
#ifdef VARNEL_TEST_HOOKS
#define PATHS_HOOK(source, out, size)                                                              \
    do {                                                                                           \
        int hooked = seamAnswer(source, out, size);                                                \
        if (hooked >= 0)                                                                           \
            return hooked;                                                                         \
    } while (0)
#else
#define PATHS_HOOK(source, out, size)                                                              \
    do {                                                                                           \
    } while (0)
#endif

static const char currentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char programFilesValue[] = "ProgramFilesDir";
static const char commonFilesValue[] = "CommonFilesDir";

int getSpecialFolderPath(char* path, int csidl) {
#ifdef VARNEL_TEST_HOOKS
    char source[16];
    wsprintfA(source, "csidl%d", csidl);
    PATHS_HOOK(source, path, PATH_BUFFER_SIZE);
#endif
    LPITEMIDLIST list = nullptr;
    if (W32(SHGetSpecialFolderLocation, nullptr, csidl, &list) != S_OK || !list)
        return 0;
    int found = W32(SHGetPathFromIDListA, list, path) ? 1 : 0;
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
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
    PATHS_HOOK("windows", out, PATH_BUFFER_SIZE);
    return keepSystemAnswer(out, W32(GetWindowsDirectoryA, out, PATH_BUFFER_SIZE));
}

int getSystemFolder(char* out) {
    PATHS_HOOK("system", out, PATH_BUFFER_SIZE);
    return keepSystemAnswer(out, W32(GetSystemDirectoryA, out, PATH_BUFFER_SIZE));
}

static int getTempFolder(char* out) {
    PATHS_HOOK("temp", out, PATH_BUFFER_SIZE);
    return keepSystemAnswer(out, W32(GetTempPathA, PATH_BUFFER_SIZE, out));
}

int openCurrentVersionKey(HKEY* key, REGSAM view) {
#ifdef VARNEL_TEST_HOOKS
    char unused[4];
    if (seamAnswer("key", unused, sizeof(unused)) == 0)
        return 0;
#endif
    return W32(RegOpenKeyExA, HKEY_LOCAL_MACHINE, currentVersionKey, 0, KEY_READ | view, key) ==
           ERROR_SUCCESS;
}

int readFolderValue(HKEY key, const char* name, char* out) {
    PATHS_HOOK(name, out, REGISTRY_FOLDER_SIZE);
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
    RegCloseKey(key);
}

static void resolveProgramFiles(char* buffer) {
    HKEY key;
    if (!openCurrentVersionKey(&key))
        return;
    readFolderValue(key, programFilesValue, buffer);
    RegCloseKey(key);
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
    int macro = 0;
    while (macro < MACRO_COUNT && !pathsEqual(buffer, macroNames[macro]))
        ++macro;
    switch (macro) {
    case MACRO_WINDOWS:
        systemFolder(buffer, getWindowsFolder);
        break;
    case MACRO_SYSTEM:
        systemFolder(buffer, getSystemFolder);
        break;
    case MACRO_TEMP:
        systemFolder(buffer, getTempFolder);
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
        lstrcpynA(buffer, state.installDir ? state.installDir : "", PATH_BUFFER_SIZE);
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
static int expandIntoScratch(char* scratch, uint32_t* end, const char* src) {
    const char* read = src;
    for (;;) {
        const char* open = strchr(read, '#');
        if (!open)
            return appendToScratch(scratch, end, read, strlen(read));
        if (!appendToScratch(scratch, end, read, (uint32_t)(open - read)))
            return 0;
        const char* close = strchr(open + 1, '#');
        if (!close)
            return appendToScratch(scratch, end, open, strlen(open));
        // The token is resolved in a buffer of its own, which the longest
        // result fits; a token too long for it names no folder.
        char token[MACRO_BUFFER_SIZE];
        uint32_t tokenLength = (uint32_t)(close - open) + 1;
        token[0] = 0;
        if (tokenLength < MACRO_BUFFER_SIZE) {
            memcpy(token, open, tokenLength);
            token[tokenLength] = 0;
            resolveFolderMacro(token);
        }
        if (!appendToScratch(scratch, end, token, strlen(token)))
            return 0;
        read = close + 1;
    }
}

uint32_t expandFolderMacros(char* dst, const char* src, uint32_t size) {
    int writes = dst && size;
    if (!src)
        src = ""; // a missing text expands like the empty one
    char* scratch;
    if (!allocZeroedAs(MACRO_SCRATCH_SIZE, &scratch)) {
        uint32_t length = strlen(src);
        if (writes)
            lstrcpynA(dst, src, size < 0x7FFFFFFF ? (int)size : 0x7FFFFFFF);
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
