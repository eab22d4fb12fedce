// The uninstaller's rules about the entries of a payload: what it makes of
// each folder, path, pattern, registry key and text before the platform is
// asked anything. The executable acts on them and `varnel check` reports from
// them, so the two cannot disagree. Plain C++ with no platform header.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "folder_names.h"

// The one size of every path buffer, its terminator included (a path holds at
// most 259 characters); and of the command lines and two-path scratch.
enum { PATH_BUFFER_SIZE = 260, COMMAND_BUFFER_SIZE = 520 };

// ---- Folders and paths of entries

// How the folder of an entry is read. Only an anchored folder is acted on:
// the installation folder or a folder below it, or a full path. Anything else
// would act on whatever folder is current when the program starts (from the
// system's list of programs, that is often the System folder).
enum FolderAnchor {
    ANCHOR_INSTALL_DIR, // "." or ".\...": the installation folder, or a folder below it
    ANCHOR_FULL,     // a drive path "X:\..." or a share path "\\server\share...", either separator
    ANCHOR_DOT_NAME, // another text that starts with a dot (".config"): not acted on
    ANCHOR_DEVICE,   // "\\?\..." or "\\.\...": a form no payload needs, not acted on
    ANCHOR_NONE,     // anything else ("", "bin", "\x", "C:x"): not acted on
};
FolderAnchor folderAnchor(const char* folder);

// Writes a file entry's full path into `out` (PATH_BUFFER_SIZE bytes): an
// ANCHOR_INSTALL_DIR folder taken in the installation folder `installDir`
// (which ends with a backslash), an ANCHOR_FULL one as it stands. A backslash
// joins the name unless the folder is empty or ends with one; a folder entry
// (empty name) gets none. False, with `out` empty, when the folder is not
// anchored or the path would not fit: a cut path could name another file.
bool joinEntryPath(char* out, const char* installDir, const char* folder, const char* name);
// `folder`, a backslash unless it is empty or ends with one, and `name` (a
// group entry's file, a relative pattern below the installation folder).
// False, with `out` empty, when it would not fit.
bool joinPath(char* out, const char* folder, const char* name);
// The folder a file entry's pruning starts from: its full path, cut at the last
// backslash when it names a file, without a trailing backslash (a drive root
// keeps it). False when the path does not fit or a file's has no backslash.
bool pruningFolder(char* out, const char* installDir, const char* folder, const char* name);

// Puts a full path in its canonical text, in place (it never grows): "/" read
// as "\", doubled separators and "." parts dropped, each ".." taking the part
// before it away (never the root), trailing dots and blanks dropped from every
// part, and no backslash at the end but a drive root's ("X:\"). The root is a
// drive's or a share's ("\\server\share"). False, leaving `path` as it was,
// when it is no drive or share path (a device form "\\?\" or "\\.\" included).
// The platform adds the last step: the long names of the parts.
bool tidyPath(char* path);
// The length of a full path's root: "X:\" (3), or "\\server\share" up to
// the separator after the share or the end; 0 when it is no full path.
size_t pathRootLength(const char* path);
// Whether a canonical path is a root: a drive's ("X:\") or a share's.
bool isRootPath(const char* path);

// Cuts `path` at its last backslash; false, leaving it whole, when it has none.
bool cutLastPart(char* path);
// Appends a backslash unless `path` is empty or already ends with one (the
// buffer must have room for it).
void addTrailingBackslash(char* path);
// Removes a final backslash from a path of 4 or more bytes (a drive root keeps it).
void removeTrailingBackslash(char* path);

// ---- Patterns

// Why the pattern pass will not walk a pattern, once it is a whole path (the
// installation folder joined to a relative pattern, or the expansion of one
// with folder macros).
enum PatternProblem {
    PATTERN_WALKED,     // none: it is walked
    PATTERN_NO_FOLDER,  // no backslash: no folder to split from the mask
    PATTERN_NOT_FULL,   // not a drive or share path (an expansion can leave a relative one)
    PATTERN_CLIMBS_OUT, // a part of dots and blanks with two dots or more: ".." climbs out, and
                        // the systems may read ".. " or "..." as a step up too
};
PatternProblem patternProblem(const char* path);
// Splits a walked pattern's whole path (PATTERN_WALKED) in place as the
// pattern pass does: "/" is read as "\", since a mask never holds one, and the
// folder ends at the last backslash. Returns the mask.
char* splitPattern(char* path);

// Whether a file's long name matches a pattern's mask: "*" any run of
// characters, "?" one character, any other character itself, ASCII letters in
// either case; "*.*" matches every name. The platform's search, which also
// matches the short 8.3 names, only finds the candidates.
bool maskMatches(const char* name, const char* mask);

// ---- Folder macros

// The first folder macro token of `text`: a "#", anything, and the next "#".
// Returns its first "#" and sets `*end` just after its last; null when there
// is none (a lone "#" opens no token).
const char* findMacroToken(const char* text, const char** end);
// The number of the macro (MACRO_) that the token of `length` bytes names,
// whole and without regard to the case of ASCII letters; -1 when it names none.
int macroNumber(const char* token, size_t length);

// ---- Registry

// The value name of a value entry ("KEY\\NAME": the path's last backslash
// follows another, and is not its first character), or null for a key entry.
const char* registryValueName(const char* path);
// Whether a key entry must be left alone whatever the payload says: the root
// itself, or a whole branch of a hive that holds other products' or the
// system's keys (Software, System, Software\Microsoft, CLSID, ...), also
// through Software\Wow6432Node, Software\Classes and a user's hive under
// HKEY_USERS. The path is read with its separators at either end, doubled
// separators and "." parts passed over. Keys below a branch are not guarded.
bool isGuardedKey(uint32_t root, const char* path);
// Whether the registry pass leaves an entry alone: a guarded key entry, or the
// default value of the Software or System key itself ("Software\\").
bool isGuardedEntry(uint32_t root, const char* path);

// ---- Texts

enum { FORMAT_BUFFER_SIZE = 1024 };
// What a formatted text shows otherwise than a reader of its text may expect.
enum {
    TEXT_SHOWS_CONVERSION = 1, // a "%" conversion other than %s and %%, shown as it stands
    TEXT_DROPS_PATH = 2,       // a second %s, which gives nothing
    TEXT_SHOWS_PERCENTS = 4,   // "%%" in a text without %s, shown as two percent signs
};
// Whether text number `index` takes the path argument (1, 5, 7, 8, 9, 10).
bool textTakesPath(unsigned index);
// Writes `text` into `out` (FORMAT_BUFFER_SIZE bytes, always terminated, cut
// to fit): when it holds "%s", with `argument` in place of the first "%s" and
// "%" for each "%%", any other conversion as it stands and never an argument
// that was not passed; without "%s", as it stands. Returns the TEXT_ flags.
unsigned formatText(char* out, const char* text, const char* argument);

// ---- The pre-uninstall command, patterns, and lengths for `varnel check`
// Decisions that `varnel check` reports and the executable makes through these
// same functions; the lengths are for the checks alone, which measure a path
// that does not fit (the executable only skips it).

// Where the program of a pre-uninstall command starts: after one opening
// quote and the spaces that follow it. A folder macro there ("#") makes the
// command expanded; any other command is taken in the installation folder.
const char* commandStart(const char* command);
// A command taken in the installation folder, as it is run: its opening quote
// when it has one, `installDir`, a backslash unless that ends with one, and the
// command from commandStart on. False, with `out` empty, when it would not fit.
bool joinCommand(char* out, const char* installDir, const char* command);
// Whether a pattern is expanded with folder macros into a whole path (it
// holds a "#"); any other pattern lies below the installation folder (joinPath).
bool patternHasMacros(const char* pattern);
// The lengths of the paths that joinEntryPath, joinPath and joinCommand build,
// whether or not they fit (they fit below PATH_BUFFER_SIZE).
size_t entryPathLength(const char* installDir, const char* folder, const char* name);
size_t joinedPathLength(const char* folder, const char* name);
size_t commandLength(const char* installDir, const char* command);
