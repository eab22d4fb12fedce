// The wildcard pattern pass: for each pattern, the matching files in its
// folder and in every folder below it, the folders of that tree left empty,
// and the pattern's folder itself once it is empty.
#include <string.h>

#include "../base/log.h"
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
static bool isLink(DWORD attributes) {
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
        logCall(LOG_FOLDER, W32(RemoveDirectoryA, folder), folder);
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
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(found))
                continue;
            if (isLink(found.dwFileAttributes)) {
                if (state.logFile && readCurrentFolder(current))
                    logEvent(LOG_FOLDER, LOG_LINK, current, found.cFileName);
                continue;
            }
            if (!W32(SetCurrentDirectoryA, found.cFileName))
                continue;
            if (readCurrentFolder(current) && !isProtectedFolder(current))
                removeMatchingTree(mask); // comes back up here
            else
                stepUp();
        } while (W32(FindNextFileA, search, &found));
        W32(FindClose, search);
    }
    // Then this folder's own matching files; one that cannot go stays.
    // The search matches short names too: only a long name that matches goes.
    bool known = readCurrentFolder(current);
    search = *mask ? W32(FindFirstFileA, mask, &found) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                maskMatches(found.cFileName, mask))
                logCall(LOG_FILE, W32(DeleteFileA, found.cFileName), current, found.cFileName);
        while (W32(FindNextFileA, search, &found));
        W32(FindClose, search);
    }
    // Then the folder itself, once empty.
    int outcome = !known                         ? LOG_FAILED
                  : isProtectedFolder(current)   ? LOG_PROTECTED
                  : isCurrentFolderEmpty(&found) ? LOG_REMOVED
                                                 : LOG_NOT_EMPTY;
    if (outcome == LOG_REMOVED) {
        leaveAndRemoveFolder();
    } else {
        if (known)
            logEvent(LOG_FOLDER, outcome, current);
        stepUp();
    }
}

void removePatterns() {
    const char* pattern = (const char*)state.patternList;
    if (!pattern)
        return;
    char path[PATH_BUFFER_SIZE];
    for (; *pattern; pattern += strlen(pattern) + 1) {
        // A path that does not fit is skipped, never cut: a cut one could
        // name another folder. So is one whose macro names no folder here.
        bool macros = patternHasMacros(pattern);
        bool whole = macros ? expandPath(path, pattern) : joinPath(path, state.installDir, pattern);
        if (!whole || patternProblem(path) != PATTERN_WALKED) {
            logEvent(LOG_PATTERN,
                     whole    ? LOG_UNSAFE
                     : macros ? LOG_UNRESOLVED
                              : LOG_TOO_LONG,
                     pattern);
            continue;
        }
        char* mask = splitPattern(path);
        // The folder in its canonical form, reached through no link and itself none.
        if (!canonicalPath(path) || throughLink(path, true)) {
            logLink(LOG_FOLDER, path);
            continue;
        }
        if (isProtectedFolder(path)) {
            logEvent(LOG_FOLDER, LOG_PROTECTED, path);
            continue;
        }
        if (!W32(SetCurrentDirectoryA, path))
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
