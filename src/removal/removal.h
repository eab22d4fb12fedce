// The installed-file pass and the operations it shares with later passes.
#pragma once

#include <windows.h>

#include "../driver/state.h"

// Writes an entry's full path into state.workPath; false (and an empty
// workPath) when it would not fit in the buffer.
bool buildEntryPath(const FileEntry* entry);
int isFileInUse(const char* path);
// Whether a Win32 error code says the file system refused access (as opposed
// to, say, a missing file).
bool isAccessError(DWORD error);

// Font and COM server unregistration of flagged files, given workPath.
void unregisterFont(const char* path);
void unregisterComServer();
