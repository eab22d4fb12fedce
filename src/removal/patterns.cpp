// The wildcard pattern pass: for each pattern, the matching files in its
// folder and in every folder below it, the folders of that tree left empty,
// and the pattern's folder itself once it is empty.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "removal.h"

static void stepUp() {
    W32(SetCurrentDirectoryA, "..");
}

// A junction or a directory symbolic link. The walk never enters one: the
// link stays, so its parent is not empty and stays too, and whatever the link
// points at is never touched.
static bool isLink(DWORD attributes, const char* path) {
#ifdef VARNEL_TEST_HOOKS
    // The platform under test cannot make one: the test build reports the
    // folder named by the source "reparse" as a reparse point.
    char chosen[PATH_BUFFER_SIZE];
    const char* name = strrchr(path, '\\');
    if (seamAnswer("reparse", chosen, sizeof(chosen)) == 1 &&
        pathsEqual(name ? name + 1 : path, chosen))
        return true;
#else
    (void)path;
#endif
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

static bool isDotEntry(const WIN32_FIND_DATAA& found) {
    const char* name = found.cFileName;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name[0] == '.' &&
           (!name[1] || (name[1] == '.' && !name[2]));
}

// Whether the current directory holds nothing but "." and "..".
static bool isCurrentFolderEmpty(WIN32_FIND_DATAA* found) {
    HANDLE search = W32(FindFirstFileA, "*.*", found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool empty = true;
    do
        empty = isDotEntry(*found);
    while (empty && W32(FindNextFileA, search, found));
    W32(FindClose, search);
    return empty;
}

void leaveAndRemoveFolder() {
    char folder[PATH_BUFFER_SIZE];
    bool known = readCurrentFolder(folder);
    stepUp();
    if (known)
        W32(RemoveDirectoryA, folder);
}

void removeMatchingTree(const char* mask) {
    WIN32_FIND_DATAA found; // this level's own search record
    char current[PATH_BUFFER_SIZE];
    // Subfolders first, each tested by the path the system reports once it
    // is entered. A level is walked only when that path fits, so the depth
    // stays within what a path buffer can name.
    HANDLE search = W32(FindFirstFileA, "*.*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(found) ||
                isLink(found.dwFileAttributes, found.cFileName) ||
                !W32(SetCurrentDirectoryA, found.cFileName))
                continue;
            if (readCurrentFolder(current) && !isProtectedFolder(current))
                removeMatchingTree(mask); // comes back up here
            else
                stepUp();
        } while (W32(FindNextFileA, search, &found));
        W32(FindClose, search);
    }
    // Then this folder's own matching files; one that cannot go stays.
    search = *mask ? W32(FindFirstFileA, mask, &found) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                W32(DeleteFileA, found.cFileName);
        while (W32(FindNextFileA, search, &found));
        W32(FindClose, search);
    }
    // Then the folder itself, once empty.
    if (readCurrentFolder(current) && !isProtectedFolder(current) && isCurrentFolderEmpty(&found))
        leaveAndRemoveFolder();
    else
        stepUp();
}

// A path the pass will not walk: not a full path (an expansion can leave a
// relative one); a part made of dots and blanks with two dots or more (".."
// climbs out of the folder the pattern names, and the systems may read ".. "
// or "..." as a step up too); or a part with two "#" (a folder macro that
// stayed unexpanded names no folder).
static bool isUnsafePattern(const char* path) {
    if (!(path[0] && path[1] == ':' && path[2] == '\\') && !(path[0] == '\\' && path[1] == '\\'))
        return true;
    int hashes = 0, dots = 0, others = 0;
    for (const char* p = path;; ++p) {
        if (*p == '\\' || !*p) {
            if (hashes > 1 || (dots > 1 && !others))
                return true;
            if (!*p)
                return false;
            hashes = dots = others = 0;
        } else {
            hashes += *p == '#';
            dots += *p == '.';
            others += *p != '.' && *p != ' ';
        }
    }
}

void removePatterns() {
    const char* pattern = (const char*)state.patternList;
    if (!pattern)
        return;
    char path[PATH_BUFFER_SIZE];
    for (; *pattern; pattern += strlen(pattern) + 1) {
        // A path that does not fit is skipped, never cut: a cut one could
        // name another folder.
        if (strchr(pattern, '#')) {
            if (expandFolderMacros(path, pattern, PATH_BUFFER_SIZE) >= PATH_BUFFER_SIZE)
                continue;
        } else {
            size_t length = strlen(state.installDir);
            size_t joint = length && state.installDir[length - 1] != '\\' ? 1 : 0;
            if (length + joint + strlen(pattern) >= PATH_BUFFER_SIZE)
                continue;
            strcpy(path, state.installDir);
            addTrailingBackslash(path);
            strcat(path, pattern);
        }
        char* mask = strrchr(path, '\\');
        if (!mask || isUnsafePattern(path))
            continue;
        *mask++ = 0;
        removeTrailingBackslash(path);
        if (isProtectedFolder(path) || isLink(W32(GetFileAttributesA, path), path) ||
            !W32(SetCurrentDirectoryA, path))
            continue;
        // Test the folder really entered, not the text that named it: an odd
        // path (a "." part, say) can lead into a protected folder.
        char entered[PATH_BUFFER_SIZE];
        bool walk = readCurrentFolder(entered) && !isProtectedFolder(entered);
        if (walk)
            removeMatchingTree(mask);
        strcpy(entered, state.installDir); // as a folder, without its backslash
        removeTrailingBackslash(entered);
        W32(SetCurrentDirectoryA, entered);
        if (walk)
            W32(RemoveDirectoryA, path);
    }
}
