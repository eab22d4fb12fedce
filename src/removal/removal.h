// The removal passes, in the order the driver runs them, and the operations
// they share.
#pragma once

#include <windows.h>

#include "../core/entries.h"
#include "../core/rules.h"

// 1 while some file flagged FE_CHECKINUSE is in use, else 0.
int checkFilesInUse();
void removeInstalledFiles();
void removePatterns();
void removeGroupFiles();
void removeGroupFolders();
void pruneInstallFolders();
void runRegistryPass();

// The entry's full path (joinEntryPath) into state.workPath; false when it does not fit.
bool buildEntryPath(const FileEntry* entry);
// Deletes the key `subKey` of `parent` with all its sub-keys, depth first;
// the first key that cannot go stops the deletion. Returns 0 or the registry
// error (ERROR_BADKEY for an empty or null subKey).
LONG deleteKeyTree(HKEY parent, const char* subKey);
// 1 when the file exists but cannot be opened for reading and writing, or is
// read-only and cannot be made writable; else 0.
int isFileInUse(const char* path);
// True when a Win32 error code says the file system refused access (as
// opposed to, say, a missing file).
bool isAccessError(DWORD error);

// The pattern pass's walk, on the current directory F. removeMatchingTree
// deletes the files matching `mask` (may be empty: none) in F and every folder
// below it, removes the folders left empty, F too, and ends in F's parent.
// leaveAndRemoveFolder steps from F to its parent and removes F if it is empty.
void removeMatchingTree(const char* mask);
void leaveAndRemoveFolder();

// Font unregistration: withdraws the font file at `path`, deletes its
// registration value and tells every top-level window.
void unregisterFont(const char* path);
// The full name of the TrueType font at `path` into `out` (FONT_NAME_SIZE
// bytes); empty when there is none.
void readFontFullName(const char* path, char* out);
// COM server unregistration of the server at workPath. The error mode and the
// current directory are as they were on return.
void unregisterComServer();
