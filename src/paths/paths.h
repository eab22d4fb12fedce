// Folder macros ("#Windows#", "#InstallDir#" ...) and their expansion inside
// strings; the canonical form of a path; the protected folders that are never
// removed, known by their identity; links in a path.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "../core/rules.h"

enum {
    // A resolved macro: a 259-character folder, a backslash, the longest
    // fixed suffix (54 characters) and the terminator.
    MACRO_BUFFER_SIZE = 315,
    // Work buffer of one expansion; the expanded text and its terminator must fit.
    MACRO_SCRATCH_SIZE = 65500,
    // A folder value read from the registry: at most 260 bytes and a terminator.
    REGISTRY_FOLDER_SIZE = 261,
};

// Writes the path of shell folder `csidl` (a CSIDL_ number) into `path` (room for 260 bytes).
// Returns 1 on success, 0 on failure; on failure `path` is untouched or holds
// whatever the path conversion left in it.
int getSpecialFolderPath(char* path, int csidl);

// `buffer` (MACRO_BUFFER_SIZE bytes) holds one token such as "#Windows#"; it
// is replaced in place by the folder's path, by the empty string when the
// token names no folder, or left as it is where a folder cannot be had.
void resolveFolderMacro(char* buffer);

// Expands every folder macro of `src` into `dst`, writing at most `size`
// bytes, and returns the length of the whole expanded text (terminator not
// counted). A null `dst` or a `size` of 0 only measures. A destination that is
// too small receives the text cut to fit, still terminated. A text whose
// expansion would not fit in MACRO_SCRATCH_SIZE bytes is refused: the result
// is the empty string and the length 0.
uint32_t expandFolderMacros(char* dst, const char* src, uint32_t size);

// Expands a text that must name a path into `out` (PATH_BUFFER_SIZE bytes):
// false when its expansion would not fit, or when a macro's folder could not be
// had (its token stayed, and names no folder).
bool expandPath(char* out, const char* text);

// Puts a full path in its canonical form, in place: its canonical text
// (tidyPath) with the long names of its parts where the system has them.
// False when it is no drive or share path.
bool canonicalPath(char* path);

// 1 when `path` names a protected folder, else 0: a path that is not full, a
// drive or share root, a folder of the list (the system's own, the shell's,
// Program Files, Common Files, the users' folders) by its canonical text or,
// on NT, by its identity (volume and index, which every name of a folder
// shares). `path` is not changed.
int isProtectedFolder(char* path);
// Whether a part of the canonical `path` below its root is a reparse point
// (a junction, a symbolic link), or cannot be looked at (missing, refused):
// the last part too when `withLast`.
bool throughLink(const char* path, bool withLast);

// The current directory into `out` (PATH_BUFFER_SIZE bytes). Returns 1; 0,
// with the empty string, when it cannot be read or does not fit.
int readCurrentFolder(char* out);

// 1 when the whole strings are equal but for the case of ASCII letters, else 0.
int pathsEqual(const char* a, const char* b);

// Used inside the paths code.
// The Windows folder into `out` (260 bytes). Returns 1 on success; 0, with the
// empty string, when it cannot be had or does not fit.
int getWindowsFolder(char* out);
// The System folder into `out` (260 bytes); returns 1 or 0 as getWindowsFolder.
int getSystemFolder(char* out);
// Opens "Software\Microsoft\Windows\CurrentVersion" under HKEY_LOCAL_MACHINE for
// reading. Returns 1 with the key open, 0 on failure.
// In the program's own registry view or, with KEY_WOW64_64KEY, in the 64-bit one.
int openCurrentVersionKey(HKEY* key, REGSAM view = 0);
// Reads folder value `name` of that key into `out` (REGISTRY_FOLDER_SIZE bytes,
// always terminated on success). Returns 1 on success; 0, with `out`
// untouched, on failure.
int readFolderValue(HKEY key, const char* name, char* out);

// Releases the protected list that isProtectedFolder gathers on first use
// (at teardown; the next use gathers it again).
void resetProtectedFolders();
