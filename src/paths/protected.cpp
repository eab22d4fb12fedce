// The folders that are never removed, and the trailing-backslash operations.
#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../core/folder_names.h"
#include "../core/memory.h"
#include "paths.h"

int readCurrentFolder(char* out) {
    DWORD length = W32(GetCurrentDirectoryA, PATH_BUFFER_SIZE, out);
    if (length && length < PATH_BUFFER_SIZE)
        return 1;
    out[0] = 0;
    return 0;
}

int pathsEqual(const char* a, const char* b) {
    return asciiEqualNoCase(a, b);
}

enum {
    // Windows and System, 18 shell folders, 2 Quick Launch folders, the
    // user's folder and its parent, the all users' folder, 2 registry folders
    // in each of the two views.
    PROTECTED_MAX = 31,
    // The longest entry: a 259-character application-data folder, a
    // backslash and "Microsoft\Internet Explorer\Quick Launch".
    PROTECTED_SLOT_SIZE = 304,
};

// The protected list. It is gathered once, at the first call of
// isProtectedFolder, and kept for the rest of the run: asking the system for
// every folder costs tens of milliseconds, the removal passes test a folder
// for nearly every entry, and the folders cannot change while the uninstall
// runs. This is the one thing the paths code caches. The list lives on the
// heap (a static one would take its 8.8 KB in the executable file) and is
// released at teardown (resetProtectedFolders).
struct ProtectedFolders {
    int count;
    char folder[PROTECTED_MAX][PROTECTED_SLOT_SIZE];
};

static ProtectedFolders* protectedFolders;

// Shell folders of the list, in order; the first common ones count on NT only.
// The user's own documents, pictures, music and videos and the all users'
// ones count on both families, where the system has them.
struct ShellFolderEntry {
    unsigned char csidl;
    unsigned char ntOnly;
};

static const ShellFolderEntry protectedShellFolders[] = {
    {CSIDL_DESKTOP, 0},         {CSIDL_DESKTOPDIRECTORY, 0}, {CSIDL_COMMON_DESKTOPDIRECTORY, 1},
    {CSIDL_FONTS, 0},           {CSIDL_PROGRAMS, 0},         {CSIDL_COMMON_PROGRAMS, 1},
    {CSIDL_STARTMENU, 0},       {CSIDL_COMMON_STARTMENU, 1}, {CSIDL_STARTUP, 0},
    {CSIDL_COMMON_STARTUP, 1},  {CSIDL_COMMON_DOCUMENTS, 0}, {CSIDL_PERSONAL, 0},
    {CSIDL_MYPICTURES, 0},      {CSIDL_MYMUSIC, 0},          {CSIDL_MYVIDEO, 0},
    {CSIDL_COMMON_PICTURES, 0}, {CSIDL_COMMON_MUSIC, 0},     {CSIDL_COMMON_VIDEO, 0},
};

static const char quickLaunch[] = "Microsoft\\Internet Explorer\\Quick Launch";

// Keeps the slot just filled, without its trailing backslash unless `asRead`.
static char* keepFolder(int asRead) {
    char* folder = protectedFolders->folder[protectedFolders->count];
    if (!asRead)
        removeTrailingBackslash(folder);
    if (folder[0])
        ++protectedFolders->count;
    return folder;
}

static char* nextSlot() {
    return protectedFolders->folder[protectedFolders->count];
}

// A shell folder and, when `withQuickLaunch`, its Quick Launch folder.
static void gatherShellFolder(int csidl, int withQuickLaunch) {
    if (!getSpecialFolderPath(nextSlot(), csidl))
        return;
    char* folder = keepFolder(0);
    if (!withQuickLaunch || !folder[0])
        return;
    char* launch = nextSlot();
    strcpy(launch, folder);
    addTrailingBackslash(launch);
    strcat(launch, quickLaunch);
    keepFolder(0);
}

// A folder as its macro resolves it and, when `withParent`, the folder that
// holds it. A macro that keeps its token names no folder.
static void gatherMacroFolder(const char* token, int withParent) {
    char folder[MACRO_BUFFER_SIZE];
    strcpy(folder, token);
    resolveFolderMacro(folder);
    if (folder[0] == '#' || strlen(folder) >= PROTECTED_SLOT_SIZE)
        return;
    strcpy(nextSlot(), folder);
    keepFolder(0);
    char* cut = strrchr(folder, '\\');
    if (!withParent || !cut)
        return;
    *cut = 0;
    strcpy(nextSlot(), folder);
    keepFolder(0);
}

// ProgramFilesDir and CommonFilesDir of one view of the registry.
static void gatherRegistryFolders(REGSAM view) {
    HKEY key;
    if (!openCurrentVersionKey(&key, view))
        return;
    if (readFolderValue(key, "ProgramFilesDir", nextSlot()))
        keepFolder(1);
    if (readFolderValue(key, "CommonFilesDir", nextSlot()))
        keepFolder(1);
    W32(RegCloseKey, key);
}

// Returns 0 when there is no memory for the list.
static int gatherProtectedFolders() {
    if (!allocZeroedAs(sizeof(ProtectedFolders), &protectedFolders))
        return 0;
    getWindowsFolder(nextSlot());
    keepFolder(0);
    getSystemFolder(nextSlot());
    keepFolder(0);
    for (const ShellFolderEntry& entry : protectedShellFolders)
        if (state.isNT || !entry.ntOnly)
            gatherShellFolder(entry.csidl, 0);
    gatherShellFolder(CSIDL_APPDATA, 1);
    gatherShellFolder(CSIDL_COMMON_APPDATA, 1);
    // The user's profile and the folder of all profiles; the all users' folder.
    gatherMacroFolder("#UserDir#", 1);
    gatherMacroFolder("#AllUsersDir#", 0);
    gatherRegistryFolders(0);
    // Under WoW64 the view above names the 32-bit folders; the system's own
    // Program Files and Common Files are named in the 64-bit view. A 32-bit
    // system ignores the flag and names the same folders again.
    gatherRegistryFolders(KEY_WOW64_64KEY);
    return 1;
}

void resetProtectedFolders() {
    freeAndClearAs(&protectedFolders);
}

int isProtectedFolder(char* path) {
    if (!path || strlen(path) <= 3)
        return 1; // the empty string, a drive letter with its colon, a drive root
    // Without memory for the list nothing can be shown to be removable.
    if (!protectedFolders && !gatherProtectedFolders())
        return 1;
    size_t length = strlen(path);
    int restore = path[length - 1] == '\\';
    if (restore)
        removeTrailingBackslash(path);
    int found = 0;
    for (int i = 0; i < protectedFolders->count && !found; ++i)
        found = pathsEqual(path, protectedFolders->folder[i]);
    if (restore)
        addTrailingBackslash(path);
    return found;
}
