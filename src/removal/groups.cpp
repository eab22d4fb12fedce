// The group passes: each group entry's file, then its folders and as many
// emptied parents as the entry allows.
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../ui/ui.h"
#include "removal.h"

// A group entry's folder is acted on only when it is a full path, through no
// link, in its canonical form (into `out`, PATH_BUFFER_SIZE bytes).
static bool groupFolder(char* out, const char* folder) {
    return folderAnchor(folder) == ANCHOR_FULL && strlen(folder) < PATH_BUFFER_SIZE &&
           canonicalPath(strcpy(out, folder)) && !throughLink(out, true);
}

void removeGroupFiles() {
    char folder[PATH_BUFFER_SIZE];
    for (uint32_t i = 0; i < state.groupCount; ++i) {
        const GroupEntry* entry = state.groupEntries[i];
        // A path that would not fit is skipped whole: cut, it could name another file.
        if (entry->fileName[0] && groupFolder(folder, entry->folder) &&
            joinPath(state.workPath, folder, entry->fileName))
            logCall(LOG_FILE, W32(DeleteFileA, state.workPath), state.workPath);
        reportProgress(SPAN_GROUPS, i); // the folder pass goes over it again
    }
}

// Removes `folder`, first stepping out of it when it is the current directory.
static void removeFolderFrom(const char* folder, const char* current) {
    if (pathsEqual(folder, current))
        W32(SetCurrentDirectoryA, "..");
    logCall(LOG_FOLDER, W32(RemoveDirectoryA, folder), folder);
}

void removeGroupFolders() {
    char current[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    char second[PATH_BUFFER_SIZE];
    for (uint32_t i = 0; i < state.groupCount; ++i) {
        GroupEntry* entry = state.groupEntries[i];
        // The entry's folders in their canonical form shorten as the walk
        // climbs, and its level count goes down.
        second[0] = 0;
        const char* unused = !groupFolder(folder, entry->folder) ? entry->folder
                             : entry->secondFolder[0] && !groupFolder(second, entry->secondFolder)
                                 ? entry->secondFolder
                                 : nullptr;
        if (unused) {
            logLink(LOG_FOLDER, unused);
        } else if (isProtectedFolder(folder)) {
            logEvent(LOG_FOLDER, LOG_PROTECTED, folder);
        } else {
            while (!(second[0] && isProtectedFolder(second))) {
                if (readCurrentFolder(current))
                    canonicalPath(current);
                removeFolderFrom(folder, current);
                if (second[0])
                    removeFolderFrom(second, current);
                if (!entry->levels)
                    break;
                --entry->levels;
                if (!cutLastPart(folder) || (second[0] && !cutLastPart(second)) ||
                    isProtectedFolder(folder))
                    break;
            }
        }
        reportProgress(SPAN_GROUPS, i);
    }
}
