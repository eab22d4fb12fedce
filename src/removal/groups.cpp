// The group passes: each group entry's file, then its folders and as many
// emptied parents as the entry allows.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../ui/ui.h"
#include "removal.h"

void removeGroupFiles() {
    for (uint32_t i = 0; i < state.groupCount; ++i) {
        const GroupEntry* entry = state.groupEntries[i];
        // A path that would not fit is skipped whole: cut, it could name another file.
        if (entry->fileName[0] && joinPath(state.workPath, entry->folder, entry->fileName))
            W32(DeleteFileA, state.workPath);
        reportProgress(SPAN_GROUPS, i); // the folder pass goes over it again
    }
}

// Removes `folder`, first stepping out of it when it is the current directory.
static void removeFolderFrom(const char* folder, const char* current) {
    if (pathsEqual(folder, current))
        W32(SetCurrentDirectoryA, "..");
    W32(RemoveDirectoryA, folder);
}

void removeGroupFolders() {
    char current[PATH_BUFFER_SIZE];
    for (uint32_t i = 0; i < state.groupCount; ++i) {
        GroupEntry* entry = state.groupEntries[i];
        char* folder = entry->folder;
        char* second = entry->secondFolder;
        // The entry is consumed: its folders shorten and its level count goes down.
        if (folder[0] && !isProtectedFolder(folder)) {
            while (!(second[0] && isProtectedFolder(second))) {
                readCurrentFolder(current);
                removeTrailingBackslash(current);
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
