// Pruning: the folders of the installed files, and their parents, once empty.
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../ui/ui.h"
#include "removal.h"

void pruneInstallFolders() {
    char* path = state.workPath;
    // Out of the installation folder, so that no folder below it is the
    // current directory.
    strcpy(path, state.installDir);
    removeTrailingBackslash(path);
    W32(SetCurrentDirectoryA, path);
    W32(SetCurrentDirectoryA, "..");
    // The folder that the last walk started from, once it is gone: removed by
    // that walk, or found missing (the installed-file pass has usually removed
    // it), or reached through a link. Nothing in this pass brings it back or
    // takes the link away, so the next entries of that folder need no
    // attempt. A folder that is there but cannot go is still tried for every
    // entry.
    char goneMemo[PATH_BUFFER_SIZE];
    goneMemo[0] = 0;
    for (uint32_t i = 0; i < state.fileCount; ++i) {
        const FileEntry* entry = state.fileEntries[i];
        if (entry->flags & FE_FONT)
            continue; // neither pruned nor counted
        // A path that does not fit is skipped whole, never cut; so is a folder
        // that is gone, or reached through a link, which the memo then keeps.
        if (pruningFolder(path, state.installDir, entry->folder, entry->name) &&
            canonicalPath(path) && !pathsEqual(path, goneMemo) &&
            !(throughLink(path, true) && strcpy(goneMemo, path)) && !isProtectedFolder(path)) {
            for (bool first = true;; first = false) {
                bool removed = W32(RemoveDirectoryA, path);
                DWORD error = removed ? 0 : W32(GetLastError);
                logResult(LOG_FOLDER, error, path);
                if (first &&
                    (removed || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
                    strcpy(goneMemo, path);
                if (!removed || !cutLastPart(path) || isProtectedFolder(path))
                    break;
            }
        }
        reportProgress(SPAN_PRUNING, i);
    }
}
