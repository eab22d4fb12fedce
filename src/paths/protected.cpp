// The folders that are never removed, by identity where the system can tell
// it, and the canonical form of paths that every test and removal uses.
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

bool canonicalPath(char* path) {
    if (!tidyPath(path))
        return false;
    // Every short name the systems make holds a "~": a path without one is long.
    char longer[PATH_BUFFER_SIZE];
    DWORD length = strchr(path, '~') ? W32(GetLongPathNameA, path, longer, PATH_BUFFER_SIZE) : 0;
    if (length && length < PATH_BUFFER_SIZE) {
        strcpy(path, longer);
        tidyPath(path);
    }
    return true;
}

// A folder's identity: its volume's serial number and its index on the volume,
// which every name of it shares (a short name, a junction, a substituted
// drive, a share of a local folder). NT only: the 9x family cannot open a
// folder. False when it cannot be read.
struct FolderIdentity {
    DWORD volume, high, low;
};

static bool readIdentity(const char* path, FolderIdentity* out) {
    if (!state.isNT)
        return false;
    HANDLE folder =
        W32(CreateFileA, path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = W32(GetFileInformationByHandle, folder, &info);
    W32(CloseHandle, folder);
    out->volume = info.dwVolumeSerialNumber;
    out->high = info.nFileIndexHigh;
    out->low = info.nFileIndexLow;
    return known;
}

bool throughLink(const char* path, bool withLast) {
    // The longest folder found free of links so far: a path below it has only
    // its further parts looked at.
    static char clear[PATH_BUFFER_SIZE];
    char part[PATH_BUFFER_SIZE];
    strcpy(part, path);
    size_t length = strlen(part);
    size_t from = pathRootLength(part);
    size_t known = strlen(clear);
    if (known > from && known <= length && (!part[known] || part[known] == '\\')) {
        char at = part[known];
        part[known] = 0;
        if (pathsEqual(part, clear))
            from = known;
        part[known] = at;
    }
    for (size_t end = from + 1; end <= length; ++end) {
        char at = part[end];
        if ((at != '\\' && at) || (!at && !withLast))
            continue;
        part[end] = 0;
        // A part that cannot be looked at may be a link: nothing below it is acted on.
        DWORD attributes = W32(GetFileAttributesA, part);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return true;
        if (at)
            strcpy(clear, part);
        part[end] = at;
    }
    return false;
}

enum {
    // Windows, System and the 32-bit System of a 64-bit system, Sysnative, 20
    // shell folders, 2 Quick Launch folders, the user's folder and its parent,
    // the all users' folder, 2 registry folders in each of the two views, and
    // Downloads where the shell names it and where it is by default.
    PROTECTED_MAX = 40,
    // The longest entry: a 259-character application-data folder, a
    // backslash and "Microsoft\Internet Explorer\Quick Launch".
    PROTECTED_SLOT_SIZE = 304,
};

// The protected list. It is gathered once, at the first call of
// isProtectedFolder, and kept for the rest of the run: asking the system for
// every folder costs tens of milliseconds, the removal passes test a folder
// for nearly every entry, and the folders cannot change while the uninstall
// runs. This is the one thing the paths code caches. Each folder is kept in its
// canonical text and, where the system tells it, its identity. The list lives
// on the heap (a static one would take its 12 KB in the executable file) and
// is released at teardown (resetProtectedFolders).
struct ProtectedFolder {
    char text[PROTECTED_SLOT_SIZE];
    FolderIdentity identity;
    bool identified;
};
struct ProtectedFolders {
    int count;
    ProtectedFolder folder[PROTECTED_MAX];
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
    {CSIDL_LOCAL_APPDATA, 0},
};

static const char quickLaunch[] = "Microsoft\\Internet Explorer\\Quick Launch";
// Downloads has no shell folder number: the shell names it by this identifier.
static const char shellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char downloadsValue[] = "{374DE290-123F-4565-9164-39C4925E467B}";

static char* nextSlot() {
    return protectedFolders->folder[protectedFolders->count].text;
}

// Keeps the slot just filled, in its canonical text and with its identity;
// a slot that is empty or no full path is not kept.
static char* keepFolder() {
    ProtectedFolder& folder = protectedFolders->folder[protectedFolders->count];
    if (folder.text[0] && canonicalPath(folder.text)) {
        folder.identified = readIdentity(folder.text, &folder.identity);
        ++protectedFolders->count;
    }
    return folder.text;
}

// `folder` followed by a backslash and `name`, kept.
static void keepBelow(const char* folder, const char* name) {
    if (joinPath(nextSlot(), folder, name))
        keepFolder();
}

// A shell folder and, when `withQuickLaunch`, its Quick Launch folder.
static void gatherShellFolder(int csidl, int withQuickLaunch) {
    if (!getSpecialFolderPath(nextSlot(), csidl))
        return;
    const char* folder = keepFolder();
    if (withQuickLaunch && folder[0])
        keepBelow(folder, quickLaunch);
}

// A folder as its macro resolves it and, when `withParent`, the folder that
// holds it; with `below`, that folder's `below` too. A macro that keeps its
// token names no folder.
static void gatherMacroFolder(const char* token, int withParent, const char* below) {
    char folder[MACRO_BUFFER_SIZE];
    strcpy(folder, token);
    resolveFolderMacro(folder);
    if (folder[0] == '#' || strlen(folder) >= PATH_BUFFER_SIZE)
        return;
    strcpy(nextSlot(), folder);
    keepFolder();
    if (below)
        keepBelow(folder, below);
    if (withParent && cutLastPart(folder)) {
        strcpy(nextSlot(), folder);
        keepFolder();
    }
}

// ProgramFilesDir and CommonFilesDir of one view of the registry.
static void gatherRegistryFolders(REGSAM view) {
    HKEY key;
    if (!openCurrentVersionKey(&key, view))
        return;
    if (readFolderValue(key, "ProgramFilesDir", nextSlot()))
        keepFolder();
    if (readFolderValue(key, "CommonFilesDir", nextSlot()))
        keepFolder();
    W32(RegCloseKey, key);
}

// Where the shell keeps the user's Downloads, when it names it.
static void gatherDownloads() {
    HKEY key;
    if (W32(RegOpenKeyExA, HKEY_CURRENT_USER, shellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (readFolderValue(key, downloadsValue, nextSlot()))
        keepFolder();
    W32(RegCloseKey, key);
}

// Returns 0 when there is no memory for the list.
static int gatherProtectedFolders() {
    if (!allocZeroedAs(sizeof(ProtectedFolders), &protectedFolders))
        return 0;
    char windows[PATH_BUFFER_SIZE];
    if (getWindowsFolder(windows)) {
        strcpy(nextSlot(), windows);
        keepFolder();
        // A 32-bit program on 64-bit Windows reaches the 64-bit System folder here.
        keepBelow(windows, "Sysnative");
    }
    getSystemFolder(nextSlot());
    keepFolder();
    DWORD length = W32(GetSystemWow64DirectoryA, nextSlot(), PATH_BUFFER_SIZE);
    if (length && length < PATH_BUFFER_SIZE)
        keepFolder();
    for (const ShellFolderEntry& entry : protectedShellFolders)
        if (state.isNT || !entry.ntOnly)
            gatherShellFolder(entry.csidl, 0);
    gatherShellFolder(CSIDL_APPDATA, 1);
    gatherShellFolder(CSIDL_COMMON_APPDATA, 1);
    // The user's profile, its Downloads and the folder of all profiles; the
    // all users' folder.
    gatherMacroFolder("#UserDir#", 1, "Downloads");
    gatherMacroFolder("#AllUsersDir#", 0, nullptr);
    gatherDownloads();
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
    // A path that is not full, and a root, are protected; so is everything
    // when there is no memory for the list: nothing can be shown removable.
    char canonical[PATH_BUFFER_SIZE];
    if (!path || strlen(path) >= PATH_BUFFER_SIZE)
        return 1;
    strcpy(canonical, path);
    if (!canonicalPath(canonical) || isRootPath(canonical) ||
        (!protectedFolders && !gatherProtectedFolders()))
        return 1;
    FolderIdentity identity;
    bool identified = readIdentity(canonical, &identity);
    for (int i = 0; i < protectedFolders->count; ++i) {
        const ProtectedFolder& folder = protectedFolders->folder[i];
        if (pathsEqual(canonical, folder.text) ||
            (identified && folder.identified && folder.identity.volume == identity.volume &&
             folder.identity.high == identity.high && folder.identity.low == identity.low))
            return 1;
    }
    return 0;
}
