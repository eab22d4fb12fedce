// The uninstaller's rules about entries (see rules.h).
#include "rules.h"

#include <string.h>

// ---- Folders and paths of entries

static bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

FolderAnchor folderAnchor(const char* folder) {
    if (folder[0] == '.')
        return !folder[1] || folder[1] == '\\' ? ANCHOR_INSTALL_DIR : ANCHOR_DOT_NAME;
    char letter = asciiLowerChar(folder[0]);
    if (letter >= 'a' && letter <= 'z' && folder[1] == ':' && isSeparator(folder[2]))
        return ANCHOR_FULL;
    if (!isSeparator(folder[0]) || !isSeparator(folder[1]))
        return ANCHOR_NONE;
    if ((folder[2] == '?' || folder[2] == '.') && isSeparator(folder[3]))
        return ANCHOR_DEVICE;
    return ANCHOR_FULL;
}

// The length of `head`, `tail` and, joined by a backslash unless there is
// nothing before it or it follows one, `name`.
static size_t measureParts(const char* head, const char* tail, const char* name) {
    size_t headLength = strlen(head);
    size_t tailLength = strlen(tail);
    size_t length = headLength + tailLength;
    char last = tailLength ? tail[tailLength - 1] : headLength ? head[headLength - 1] : 0;
    return length + (name[0] && length && last != '\\') + strlen(name);
}

// Those parts joined into `out`, when they fit.
static bool joinParts(char* out, const char* head, const char* tail, const char* name) {
    out[0] = 0;
    if (measureParts(head, tail, name) >= PATH_BUFFER_SIZE)
        return false;
    strcpy(out, head);
    strcat(out, tail);
    if (name[0]) {
        addTrailingBackslash(out);
        strcat(out, name);
    }
    return true;
}

// What a file entry's path starts with: the installation folder for a folder
// that starts with a dot (and what follows ".\\"), else the folder as it stands.
static const char* entryTail(const char* installDir, const char* folder, const char** head) {
    *head = folder[0] == '.' ? installDir : "";
    return folder[0] != '.' ? folder : folder[1] == '\\' ? folder + 2 : "";
}

bool joinEntryPath(char* out, const char* installDir, const char* folder, const char* name) {
    FolderAnchor anchor = folderAnchor(folder);
    out[0] = 0;
    if (anchor != ANCHOR_FULL && anchor != ANCHOR_INSTALL_DIR)
        return false;
    const char* head;
    const char* tail = entryTail(installDir, folder, &head);
    return joinParts(out, head, tail, name);
}

bool joinPath(char* out, const char* folder, const char* name) {
    return joinParts(out, "", folder, name);
}

bool pruningFolder(char* out, const char* installDir, const char* folder, const char* name) {
    if (!joinEntryPath(out, installDir, folder, name) || (name[0] && !cutLastPart(out)))
        return false;
    removeTrailingBackslash(out);
    return true;
}

size_t pathRootLength(const char* path) {
    if (folderAnchor(path) != ANCHOR_FULL)
        return 0;
    if (path[1] == ':')
        return 3;
    const char* p = path + 2;
    while (*p && !isSeparator(*p)) // the server
        ++p;
    if (*p)
        ++p;
    while (*p && !isSeparator(*p)) // the share
        ++p;
    return (size_t)(p - path);
}

bool tidyPath(char* path) {
    size_t root = pathRootLength(path);
    if (!root)
        return false;
    for (char* p = path; *p; ++p)
        if (*p == '/')
            *p = '\\';
    char* start = path + root; // after the root, which keeps its own separators
    char* out = start;
    const char* read = start;
    while (*read) {
        while (*read == '\\')
            ++read;
        const char* end = read;
        while (*end && *end != '\\')
            ++end;
        size_t length = (size_t)(end - read);
        if (length == 2 && read[0] == '.' && read[1] == '.') {
            while (out > start && out[-1] != '\\') // ".." takes the last part away
                --out;
            if (out > start && (out - 1 > start || start[-1] != '\\'))
                --out; // and the separator before it, unless the root's
        } else if (!(length == 1 && read[0] == '.')) {
            while (length && (read[length - 1] == '.' || read[length - 1] == ' '))
                --length;
            if (length) {
                if (out > start || start[-1] != '\\')
                    *out++ = '\\';
                memmove(out, read, length);
                out += length;
            }
        }
        read = end;
    }
    *out = 0;
    return true;
}

bool isRootPath(const char* path) {
    size_t root = pathRootLength(path);
    return root && (!path[root] || (isSeparator(path[root]) && !path[root + 1]));
}

bool cutLastPart(char* path) {
    char* last = strrchr(path, '\\');
    if (!last)
        return false;
    *last = 0;
    return true;
}

void addTrailingBackslash(char* path) {
    size_t length = strlen(path);
    if (length > 0 && path[length - 1] != '\\') {
        path[length] = '\\';
        path[length + 1] = 0;
    }
}

void removeTrailingBackslash(char* path) {
    size_t length = strlen(path);
    if (length >= 4 && path[length - 1] == '\\')
        path[length - 1] = 0;
}

// ---- Patterns

PatternProblem patternProblem(const char* path) {
    if (!strpbrk(path, "\\/"))
        return PATTERN_NO_FOLDER;
    if (folderAnchor(path) != ANCHOR_FULL)
        return PATTERN_NOT_FULL;
    int dots = 0, others = 0;
    for (const char* p = path;; ++p) {
        if (!*p || isSeparator(*p)) {
            if (dots > 1 && !others)
                return PATTERN_CLIMBS_OUT;
            if (!*p)
                return PATTERN_WALKED;
            dots = others = 0;
        } else {
            dots += *p == '.';
            others += *p != '.' && *p != ' ';
        }
    }
}

char* splitPattern(char* path) {
    for (char* p = path; *p; ++p)
        if (*p == '/')
            *p = '\\';
    char* mask = strrchr(path, '\\');
    *mask++ = 0;
    return mask;
}

bool maskMatches(const char* name, const char* mask) {
    if (!strcmp(mask, "*.*"))
        return true;
    const char* star = nullptr; // the last "*" met
    const char* resume = name;  // where the run it stands for ends so far
    while (*name) {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask && (*mask == '?' || asciiLowerChar(*mask) == asciiLowerChar(*name))) {
            ++mask, ++name;
        } else if (star) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return !*mask;
}

// ---- Folder macros

const char* findMacroToken(const char* text, const char** end) {
    const char* open = strchr(text, '#');
    const char* close = open ? strchr(open + 1, '#') : nullptr;
    if (!close)
        return nullptr;
    *end = close + 1;
    return open;
}

// Whether the `length` bytes at `a` and at `b` are the same but for the case
// of ASCII letters.
static bool sameBytes(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (asciiLowerChar(a[i]) != asciiLowerChar(b[i]))
            return false;
    return true;
}

// Whether the `length` bytes at `text` are the whole of `word`, ASCII case ignored.
static bool sameWord(const char* text, size_t length, const char* word) {
    return strlen(word) == length && sameBytes(text, word, length);
}

int macroNumber(const char* token, size_t length) {
    for (int macro = 0; macro < MACRO_COUNT; ++macro)
        if (sameWord(token, length, macroNames[macro]))
            return macro;
    return -1;
}

// ---- Registry

const char* registryValueName(const char* path) {
    const char* last = strrchr(path, '\\');
    return last && last > path && last[-1] == '\\' ? last + 1 : nullptr;
}

// Branches of a hive (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, a user's hive)
// that hold every product's keys or the system's, written as a tree: each
// branch is a byte giving its depth (1 right under the hive) and then its
// name, and its parent is the nearest branch before it one level up.
static const char hiveBranches[] = "\1Software"
                                   "\2Microsoft"
                                   "\3Windows"
                                   "\4CurrentVersion"
                                   "\5Run"
                                   "\5RunOnce"
                                   "\5Uninstall"
                                   "\5App Paths"
                                   "\5SharedDLLs"
                                   "\5Explorer"
                                   "\3Windows NT"
                                   "\4CurrentVersion"
                                   "\2Classes"
                                   "\2Policies"
                                   "\2Wow6432Node"
                                   "\1System"
                                   "\2CurrentControlSet"
                                   "\3Control"
                                   "\3Services"
                                   "\2ControlSet001";
// The same among the classes (HKEY_CLASSES_ROOT, Software\Classes, a user's
// classes hive); Wow6432Node holds the 32-bit view of them all.
static const char classBranches[] = "\1CLSID\1Interface\1TypeLib\1AppID\1*\1Directory\1Folder"
                                    "\1Drive\1AllFilesystemObjects\1Applications"
                                    "\1SystemFileAssociations\1MIME\1Wow6432Node";

enum { KEY_PARTS_READ = 8 }; // more than any guarded branch has
struct KeyParts {
    const char* start[KEY_PARTS_READ];
    size_t length[KEY_PARTS_READ];
    int count; // KEY_PARTS_READ + 1: more than that
};

// The parts of a key path, without empty and "." parts.
static void splitKey(const char* path, KeyParts* parts) {
    parts->count = 0;
    while (*path && parts->count <= KEY_PARTS_READ) {
        const char* end = path;
        while (*end && *end != '\\')
            ++end;
        size_t length = (size_t)(end - path);
        if (length && !(length == 1 && path[0] == '.')) {
            if (parts->count < KEY_PARTS_READ) {
                parts->start[parts->count] = path;
                parts->length[parts->count] = length;
            }
            ++parts->count;
        }
        path = *end ? end + 1 : end;
    }
}

// Whether parts [from, count) are, part for part, one of the branches of
// `tree` (written as above), ASCII case ignored.
static bool isBranchOf(const KeyParts* parts, int from, const char* tree) {
    const int wanted = parts->count - from;
    int matched = 0; // how many parts the current branch's ancestors match
    while (*tree) {
        const int depth = *tree++;
        size_t length = 0;
        while ((unsigned char)tree[length] >= ' ')
            ++length;
        if (matched >= depth)
            matched = depth - 1;
        if (matched == depth - 1 && depth <= wanted && parts->length[from + matched] == length &&
            sameBytes(parts->start[from + matched], tree, length) && ++matched == wanted)
            return true;
        tree += length;
    }
    return false;
}

static bool isPart(const KeyParts* parts, int i, const char* word) {
    return i < parts->count && sameWord(parts->start[i], parts->length[i], word);
}

// Parts [from, count) among the classes: a class branch, also below
// Wow6432Node (Wow6432Node\X reads as X).
static bool isClassBranch(const KeyParts* parts, int from) {
    if (isPart(parts, from, "Wow6432Node") && from + 1 < parts->count)
        ++from;
    return isBranchOf(parts, from, classBranches);
}

// Parts [from, count) under the root of a hive: a branch of it, also below
// Software\Wow6432Node (the 32-bit view), or a class branch below Software\Classes.
static bool isHiveBranch(KeyParts* parts, int from) {
    if (isBranchOf(parts, from, hiveBranches))
        return true;
    if (isPart(parts, from, "Software") && isPart(parts, from + 1, "Wow6432Node")) {
        // Software\Wow6432Node\X reads as Software\X.
        parts->start[from + 1] = parts->start[from];
        parts->length[from + 1] = parts->length[from];
        return from + 2 < parts->count && isHiveBranch(parts, from + 1);
    }
    return isPart(parts, from, "Software") && isPart(parts, from + 1, "Classes") &&
           isClassBranch(parts, from + 2);
}

static bool endsWith(const char* text, size_t length, const char* ending) {
    size_t n = strlen(ending);
    return length >= n && sameWord(text + length - n, n, ending);
}

bool isGuardedKey(uint32_t root, const char* path) {
    enum : uint32_t { CLASSES_ROOT = 0x80000000u, USERS = 0x80000003u };
    KeyParts parts;
    splitKey(path, &parts);
    if (parts.count == 0)
        return true; // the root itself
    if (parts.count > KEY_PARTS_READ)
        return false;
    if (root == CLASSES_ROOT)
        return isClassBranch(&parts, 0) || isHiveBranch(&parts, 0);
    if (root != USERS)
        return isHiveBranch(&parts, 0);
    // HKEY_USERS: a user's hive, or a user's classes hive, and their branches.
    if (parts.count == 1)
        return true;
    if (endsWith(parts.start[0], parts.length[0], "_Classes"))
        return isClassBranch(&parts, 1);
    return isHiveBranch(&parts, 1);
}

bool isGuardedEntry(uint32_t root, const char* path) {
    const char* name = registryValueName(path);
    if (!name)
        return isGuardedKey(root, path);
    KeyParts parts;
    splitKey(path, &parts); // the value name is empty, or a part of its own
    return !name[0] && parts.count == 1 &&
           (isPart(&parts, 0, "Software") || isPart(&parts, 0, "System"));
}

// ---- Texts

bool textTakesPath(unsigned index) {
    return index < 16 &&
           ((1u << 1 | 1u << 5 | 1u << 7 | 1u << 8 | 1u << 9 | 1u << 10) >> index & 1);
}

unsigned formatText(char* out, const char* text, const char* argument) {
    char* end = out + FORMAT_BUFFER_SIZE - 1;
    const bool formats = strstr(text, "%s") != nullptr;
    unsigned shown = 0;
    bool used = false;
    while (*text && out < end) {
        if (text[0] != '%') {
            *out++ = *text++;
        } else if (text[1] == 's' && formats) {
            shown |= used ? TEXT_DROPS_PATH : 0;
            for (const char* a = used || !argument ? "" : argument; *a && out < end; ++a)
                *out++ = *a;
            used = true;
            text += 2;
        } else if (text[1] == '%' && formats) {
            *out++ = '%';
            text += 2;
        } else {
            shown |= text[1] == '%' ? TEXT_SHOWS_PERCENTS : TEXT_SHOWS_CONVERSION;
            *out++ = *text++;
            if (*text == '%' && out < end)
                *out++ = *text++;
        }
    }
    *out = 0;
    return shown;
}

// ---- The pre-uninstall command, patterns, and lengths for `varnel check`

const char* commandStart(const char* command) {
    if (*command == '"')
        ++command;
    while (*command == ' ')
        ++command;
    return command;
}

// What a command taken in the installation folder starts with: its opening
// quote, when it has one.
static const char* commandQuote(const char* command) {
    return command[0] == '"' ? "\"" : "";
}

bool joinCommand(char* out, const char* installDir, const char* command) {
    return joinParts(out, commandQuote(command), installDir, commandStart(command));
}

bool patternHasMacros(const char* pattern) {
    return strchr(pattern, '#') != nullptr;
}

size_t entryPathLength(const char* installDir, const char* folder, const char* name) {
    const char* head;
    const char* tail = entryTail(installDir, folder, &head);
    return measureParts(head, tail, name);
}

size_t joinedPathLength(const char* folder, const char* name) {
    return measureParts("", folder, name);
}

size_t commandLength(const char* installDir, const char* command) {
    return measureParts(commandQuote(command), installDir, commandStart(command));
}
