#include "check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "ascii_text.h"
#include "build.h"
#include "codepage.h"
#include "entries.h"
#include "folder_names.h"
#include "normalize.h"
#include "payload_decoder.h"
#include "register.h"
#include "rules.h"
#include "scope.h"
#include "texts.h"

namespace varnel {
namespace {

// What the uninstaller will do with an entry is decided by its portable core
// (src/core/rules.h): the checks below call the functions the executable runs
// and only word what they answer. Where the answer depends on the machine,
// they take the shortest folder that a product can be installed in, "C:\", so
// that a relative path is "at least" so long, and every folder macro at its
// shortest, a drive root. Which folders are protected is the one thing told
// here, from their usual names (protectedReason), since it depends on the
// machine.

const char kShortestFolder[] = "C:\\";
enum { kMaxPath = PATH_BUFFER_SIZE - 1 };

// The macros of folders that the uninstaller never removes.
const int kProtectedMacros[] = {
    MACRO_WINDOWS,
    MACRO_SYSTEM,
    MACRO_DESKTOP,
    MACRO_APP_DATA,
    MACRO_ALL_USERS_APP_DATA,
    MACRO_ALL_USERS_DOCUMENTS,
    MACRO_ALL_USERS_DESKTOP,
    MACRO_PROGRAM_FILES,
    MACRO_COMMON_FILES,
    MACRO_MY_DOCUMENTS,
    MACRO_USER_DIR,
    MACRO_ALL_USERS_DIR,
    MACRO_LOCAL_APP_DATA,
};
// Windows' own folders, after the drive letter and colon: the Windows folder,
// the System folder (System on the 9x family, System32, and on a 64-bit
// system SysWOW64, which a 32-bit program sees as System32, and Sysnative,
// its way to the real one) and the Fonts folder. The uninstaller protects
// them all; NT's 16-bit System folder (\WINNT\System) holds shared files too.
const char* const kWindowsFolders[] = {
    "\\Windows",
    "\\Windows\\System",
    "\\Windows\\System32",
    "\\Windows\\SysWOW64",
    "\\Windows\\Sysnative",
    "\\Windows\\Fonts",
    "\\WINNT",
    "\\WINNT\\System32",
    "\\WINNT\\Fonts",
};
// The usual places of the other protected folders, after the drive letter and colon.
const char* const kProtectedOnDrive[] = {
    "\\Program Files",
    "\\Program Files\\Common Files",
    "\\Program Files (x86)",
    "\\Program Files (x86)\\Common Files",
    "\\ProgramData",
    "\\Users",
    "\\Users\\Public",
    "\\Documents and Settings",
    "\\Documents and Settings\\All Users",
    "\\Users\\Public\\Documents",
    "\\Users\\Public\\Desktop",
    "\\Documents and Settings\\All Users\\Documents",
    "\\Documents and Settings\\All Users\\Desktop",
    "\\Documents and Settings\\All Users\\Application Data",
};
// Endings of per-user and all-users shell folders.
const char* const kProtectedEndings[] = {
    "\\Start Menu",
    "\\Start Menu\\Programs",
    "\\Start Menu\\Programs\\Startup",
    "\\Desktop",
    "\\Application Data",
    "\\AppData\\Roaming",
    "\\AppData\\Local",
    "\\Local Settings\\Application Data",
    "\\Documents",
    "\\My Documents",
    "\\Downloads",
    "\\Music",
    "\\Pictures",
    "\\Videos",
    "\\Microsoft\\Internet Explorer\\Quick Launch",
};

// Whether `path`, after its drive letter and colon, is one of `list`.
template <size_t N> bool isOneOf(const char* path, const char* const (&list)[N]) {
    return std::any_of(list, list + N, [&](const char* p) { return sameText(path, p); });
}

// A mask of a pattern directly in a folder that other programs share names
// the product when this many characters or more come before its first
// wildcard ("vendor-*.tmp"; a mask without a wildcard counts whole).
enum { kOwnMaskPrefix = 3 };

bool endsWithText(const std::string& s, const std::string& ending) {
    return s.size() >= ending.size() && sameText(s.substr(s.size() - ending.size()), ending);
}

// Whether the uninstaller treats a folder as protected, as far as that can be
// told off the machine.
std::optional<std::string> protectedReason(std::string path) {
    // A full path is compared in the canonical text the uninstaller uses.
    if (path.size() < PATH_BUFFER_SIZE) {
        char canonical[PATH_BUFFER_SIZE];
        if (tidyPath(strcpy(canonical, path.c_str()))) {
            if (isRootPath(canonical))
                return std::string("a drive or share root is protected");
            path = canonical;
        }
    }
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    if (path.size() <= 3)
        return std::string("a path of 3 characters or fewer (a drive root) is protected");
    for (int macro : kProtectedMacros)
        if (sameText(path, macroNames[macro]))
            return "\"" + std::string(macroNames[macro]) + "\" is a protected folder";
    if (isAsciiLetter(path[0]) && path[1] == ':')
        if (isOneOf(path.c_str() + 2, kWindowsFolders) ||
            isOneOf(path.c_str() + 2, kProtectedOnDrive))
            return "\"" + path + "\" is where Windows keeps a protected folder";
    for (const char* e : kProtectedEndings)
        if (endsWithText(path, e))
            return "\"" + path + "\" looks like a protected shell folder";
    return std::nullopt;
}

// The folder of Windows that a file entry (`folder` full) puts its file
// directly in, in its canonical text, if it does.
std::optional<std::string> sharedFilesFolder(const std::string& folder, const std::string& name) {
    char path[PATH_BUFFER_SIZE];
    if (folderAnchor(folder.c_str()) != ANCHOR_FULL ||
        !joinEntryPath(path, kShortestFolder, folder.c_str(), name.c_str()) || !tidyPath(path) ||
        !cutLastPart(path) || !isAsciiLetter(path[0]) || path[1] != ':')
        return std::nullopt;
    // The folders where Windows keeps the files it and other software share.
    if (isOneOf(path + 2, kWindowsFolders) || sameText(path + 2, "\\WINNT\\System"))
        return std::string(path);
    return std::nullopt;
}

// The folder macro tokens of a text, as the uninstaller finds them.
std::vector<std::string> macroTokens(const std::string& text) {
    std::vector<std::string> tokens;
    const char* read = text.c_str();
    for (const char* end; const char* open = findMacroToken(read, &end); read = end)
        tokens.emplace_back(open, end);
    return tokens;
}

bool namesMacro(const std::string& token) {
    return macroNumber(token.data(), token.size()) >= 0;
}

// A folder as the checks of its place read it: a full path in its canonical
// text; one that starts with a folder macro as that token and the canonical
// rest (`#TempDir#\.\` is `#TempDir#`); any other as it stands.
std::string tidiedFolder(const std::string& folder) {
    const char* text = folder.c_str();
    const char* end;
    if (findMacroToken(text, &end) != text || macroNumber(text, size_t(end - text)) < 0)
        return canonicalText(folder);
    const std::string standIn = "C:\\Varnel";
    std::string rest = canonicalText(standIn + end);
    if (rest.compare(0, standIn.size(), standIn) != 0)
        return folder; // it climbs above the macro's folder
    return std::string(text, end) + rest.substr(standIn.size());
}

// A text (its tokens that name no folder left out) with every folder macro at
// its shortest, a drive root; `ownText` holds what is left outside the tokens.
std::string shortestExpansion(const std::string& text, std::string* ownText) {
    std::string out;
    const std::string known = withoutUnknownMacros(text);
    const char* read = known.c_str();
    for (const char* end; const char* open = findMacroToken(read, &end); read = end) {
        ownText->append(read, open);
        out.append(read, open).append(kShortestFolder);
    }
    ownText->append(read);
    return out + read;
}

// The tool's own rules, not the uninstaller's, and the wording of the findings.

// Why Windows cannot have this file or folder name, if it cannot.
std::optional<std::string> invalidName(const std::string& name) {
    for (char c : name) {
        if (uint8_t(c) < 0x20)
            return std::string("it holds a control character");
        if (std::strchr("<>:\"/|?*", c))
            return std::string("Windows does not allow \"") + c + "\" in a name";
    }
    if (name != "." && name != ".." && !name.empty() && (name.back() == '.' || name.back() == ' '))
        return std::string("Windows drops a dot or a space at the end of a name");
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    base = lowered(base);
    static const char* const devices[] = {"con", "prn", "aux", "nul"};
    bool device = std::any_of(std::begin(devices), std::end(devices),
                              [&](const char* d) { return base == d; }) ||
                  (base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
                   base[3] >= '1' && base[3] <= '9');
    if (device)
        return std::string("it is the name of a device");
    return std::nullopt;
}

std::string ticked(const std::string& s) {
    return "`" + s + "`";
}

// The names a path goes through, either separator; after its root ("C:\\",
// "\\\\server\\share\\", ".\\") when `rooted`. For the names Windows allows.
std::vector<std::string> pathNames(const std::string& path, bool rooted) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    size_t start = 0;
    if (!rooted) {
    } else if (folderAnchor(path.c_str()) == ANCHOR_FULL) {
        start = separator(path[0]) ? 2 : 3;
        for (int skip = separator(path[0]) ? 2 : 0; skip > 0 && start < path.size(); --skip)
            while (start < path.size() && !separator(path[start++])) {
            }
    } else if (folderAnchor(path.c_str()) == ANCHOR_INSTALL_DIR) {
        start = 2;
    }
    std::vector<std::string> names;
    while (start < path.size()) {
        size_t end = start;
        while (end < path.size() && !separator(path[end]))
            ++end;
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// Where findings go, with the code page that strings are measured in.
class Findings {
  public:
    Findings(unsigned codePage, std::vector<Diagnostic>& out) : codePage_(codePage), out_(out) {}

    void error(const std::string& where, const std::string& message) {
        out_.push_back({Diagnostic::Level::Error, where, message});
    }
    void warning(const std::string& where, const std::string& message) {
        out_.push_back({Diagnostic::Level::Warning, where, message});
    }

    // The bytes a string is packed as (codePageBytes), with what stands in
    // their way: a character the code page lacks, in a path a backslash that
    // is the second byte of a character, a counted string over its u16 length.
    std::string bytes(const std::string& utf8, const std::string& where, bool counted = true,
                      bool path = false) {
        std::string bytes = codePageBytes(utf8, codePage_);
        if (isSupportedCodePage(codePage_)) {
            ConversionFailure failure;
            if (!utf8ToCodePage(utf8, codePage_, &failure)) {
                uint32_t c = failure.character;
                size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
                std::string shown =
                    c <= 0x10FFFF ? " \"" + utf8.substr(failure.position, length) + "\"" : "";
                error(where, "the character " + characterName(c) + shown + " at byte " +
                                 std::to_string(failure.position) +
                                 " cannot be stored in code page " + std::to_string(codePage_));
            } else if (std::any_of(utf8.begin(), utf8.end(),
                                   [](char c) { return uint8_t(c) >= 0x80; })) {
                beyondAscii_.push_back(where);
            }
            if (path && bytes != utf8) {
                if (std::optional<size_t> at = backslashTrailByte(bytes, codePage_))
                    warning(where, "a character before byte " + std::to_string(*at) +
                                       " is stored with a backslash as its second byte in "
                                       "code page " +
                                       std::to_string(codePage_) +
                                       "; the uninstaller takes it for a folder separator");
            }
        }
        if (counted && bytes.size() > 0xFFFF)
            error(where, "holds " + std::to_string(bytes.size()) +
                             " bytes; a counted string holds at most 65,535");
        return bytes;
    }

    // A text that takes the path, as the uninstaller formats it.
    void checkFormat(const std::string& text, unsigned number, const std::string& where) {
        if (!textTakesPath(number))
            return;
        char shown[FORMAT_BUFFER_SIZE];
        unsigned found = formatText(shown, text.c_str(), "C:\\x");
        if (found & TEXT_SHOWS_CONVERSION)
            warning(where, "holds a percent sign that is neither %s nor %%, which the uninstaller "
                           "shows as it stands: it fills in only %s (the path); write a percent "
                           "sign as %%");
        if (found & TEXT_DROPS_PATH)
            warning(where, "holds %s more than once; the uninstaller fills in the path only at "
                           "the first");
        if (found & TEXT_SHOWS_PERCENTS)
            warning(where, "holds %% but no %s; the uninstaller shows a text without %s as it "
                           "stands, with both percent signs: write one");
    }

    std::string optionText(const std::string& text, const std::string& where) {
        if (text.find('\0') != std::string::npos)
            error(where, "holds a NUL character, which would end the text early");
        return bytes(text, where, false);
    }

    void checkMacros(const std::string& s, const std::string& where) {
        for (const std::string& token : macroTokens(s))
            if (!namesMacro(token))
                warning(where, "\"" + token +
                                   "\" names no folder; the uninstaller replaces it by nothing");
    }

    void checkLength(size_t length, const std::string& where, const std::string& what) {
        if (length >= PATH_BUFFER_SIZE)
            warning(where, what + " holds at least " + std::to_string(length) +
                               " characters, more than " + std::to_string(kMaxPath) +
                               "; the uninstaller skips it");
    }

    void checkProtected(const std::string& folder, const std::string& where,
                        const std::string& consequence) {
        if (std::optional<std::string> reason = protectedReason(folder))
            warning(where, *reason + "; " + consequence);
    }

    // Reports a NUL in a string that the uninstaller reads up to its first NUL.
    bool checkNul(const std::string& text, const std::string& where) {
        if (text.find('\0') == std::string::npos)
            return false;
        error(where, "holds a NUL character; the uninstaller reads only " +
                         ticked(text.substr(0, text.find('\0'))) + ", though dump shows it all");
        return true;
    }

    // A name is joined to its folder as it stands: a backslash in it names a
    // folder below, as one in the folder would.
    void checkName(const std::string& name, const std::string& where) {
        if (name.back() == '\\') {
            error(where, ticked(name) + " ends in a backslash; the uninstaller takes it for a "
                                        "file: a folder entry has no name");
            return;
        }
        if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) {
            checkFolderNames(name, where, false);
            return;
        }
        if (std::optional<std::string> why = invalidName(name))
            error(where, ticked(name) + " is a name Windows cannot have: " + *why);
    }

    void checkFolderNames(const std::string& folder, const std::string& where, bool rooted = true) {
        for (const std::string& part : pathNames(folder, rooted)) {
            if (part == "..") {
                error(where, ticked(folder) + " climbs out of its folder with `..`; give the "
                                              "folder it means as a full path");
                return;
            }
            if (part != ".")
                if (std::optional<std::string> why = invalidName(part)) {
                    error(where, ticked(folder) + ": " + ticked(part) +
                                     " is a name Windows cannot have: " + *why);
                    return;
                }
        }
    }

    // A file entry's folder as the uninstaller anchors it; false when it is not
    // anchored where the manifest means it to be.
    bool checkFileFolder(const std::string& folder, const std::string& where) {
        switch (folderAnchor(folder.c_str())) {
        case ANCHOR_INSTALL_DIR:
        case ANCHOR_FULL:
            return true;
        case ANCHOR_DOT_NAME: {
            std::string advice;
            if (folder.rfind("..", 0) == 0) {
                advice = "a folder outside it needs a full path";
            } else {
                std::string rest = folder.substr(folder[1] == '/' ? 2 : 0);
                std::replace(rest.begin(), rest.end(), '/', '\\');
                advice = "write " + ticked(".\\" + rest);
            }
            error(where, ticked(folder) +
                             " is neither the installation folder (`.`, `.\\...`) "
                             "nor a full path, so the uninstaller skips the entry; " +
                             advice);
            return false;
        }
        case ANCHOR_DEVICE:
            error(where, ticked(folder) + ": the uninstaller refuses `\\\\?\\` and `\\\\.\\` paths "
                                          "and skips the entry; write the path as a drive or "
                                          "share path");
            return false;
        case ANCHOR_NONE:
            break;
        }
        if (folder.empty()) {
            error(where, "is empty, so the uninstaller skips the entry (it would act on whatever "
                         "folder is current); write `.` for the installation folder");
            return false;
        }
        std::string how = folder[0] == '#' ? "folder macros are not expanded in file entries, "
                                             "so the uninstaller skips the entry"
                                           : "it is neither the installation folder nor a full "
                                             "path, so the uninstaller skips the entry (it would "
                                             "act on whatever folder is current)";
        // "C:x" is relative to drive C's current folder, "\\x" to its root.
        size_t start = folder.find_first_not_of("\\/");
        std::string rest = start == std::string::npos ? "" : folder.substr(start);
        std::replace(rest.begin(), rest.end(), '/', '\\');
        std::string advice = rest.find(':') != std::string::npos
                                 ? "a full path"
                                 : ticked(rest.empty() ? "." : ".\\" + rest) + " or a full path";
        error(where, ticked(folder) + ": " + how + "; write " + advice);
        return false;
    }

    // A record given as bytes: what the decoder finds damaged.
    void checkRaw(const RawRecord& r, const std::string& where) {
        PayloadRecord record;
        record.tag = r.tag;
        record.flags = r.flags;
        record.reserved = r.reserved;
        record.body = r.body;
        try {
            validateRecord(record);
        } catch (const PayloadDamage& damage) {
            error(where, "body byte " +
                             std::to_string(damage.offset >= PAYLOAD_HEADER_SIZE
                                                ? damage.offset - PAYLOAD_HEADER_SIZE
                                                : 0) +
                             ": " + damage.problem);
            return;
        }
        if (r.tag == RT_OPTIONS && !r.body.empty())
            checkRawOptions(r.body, where);
    }

    // An options block given as bytes: texts that no offset reaches, and
    // offsets that reach no text, are passed over by the uninstaller.
    void checkRawOptions(const Bytes& body, const std::string& where) {
        std::vector<bool> used(body.size(), false);
        std::fill(used.begin(), used.begin() + std::min<size_t>(OPTIONS_FIXED_SIZE, body.size()),
                  true);
        const char* names[2] = {"preUninstall", "closingDocument"};
        // The texts as the uninstaller reads them from the block.
        Bytes block = body;
        PayloadContents contents = {};
        contents.options = block.data();
        contents.optionsLength = uint32_t(block.size());
        for (int i = 0; i < 2; ++i) {
            size_t field = size_t(OPTIONS_PRE_UNINSTALL_OFFSET + 4 * i);
            uint32_t at = uint32_t(body[field]) | uint32_t(body[field + 1]) << 8 |
                          uint32_t(body[field + 2]) << 16 | uint32_t(body[field + 3]) << 24;
            if (at == 0)
                continue;
            const char* text = readOptionText(&contents, uint32_t(field));
            size_t nul = text ? at + std::strlen(text) : 0;
            if (!text) {
                warning(where, std::string("the ") + names[i] + " offset " + std::to_string(at) +
                                   " reaches no text that ends inside the block; the uninstaller "
                                   "treats it as none");
                continue;
            }
            std::fill(used.begin() + long(at), used.begin() + long(nul) + 1, true);
        }
        for (size_t k = OPTIONS_FIXED_SIZE; k < body.size(); ++k)
            if (!used[k] && body[k] != 0) {
                warning(where, "the option text at block offset " + std::to_string(k) +
                                   " has no offset pointing at it; the uninstaller never uses it");
                while (k < body.size() && body[k] != 0)
                    ++k;
            }
    }

    // A group's folder is used as it stands, never expanded: one that is not a
    // full path would be taken from whatever folder is current, so the
    // uninstaller skips the entry. False when the folder is not full.
    bool checkGroupFolder(const std::string& folder, const std::string& where, bool withFile) {
        if (folder.empty()) {
            if (withFile)
                error(where, "is empty, so the uninstaller skips the entry's file (it would "
                             "delete it from whatever folder is current); give the folder as a "
                             "full path");
            return false;
        }
        if (folderAnchor(folder.c_str()) == ANCHOR_FULL)
            return true;
        error(where, ticked(folder) + " is not a full path" +
                         (folder.find('#') != std::string::npos
                              ? " (folder macros are not expanded in group entries)"
                              : "") +
                         "; the uninstaller skips the entry");
        return false;
    }

    // A registry entry that the uninstaller leaves alone (`path`, as stored).
    void guardedEntry(const RegistryItem& item, const std::string& path, const std::string& where) {
        if (const char* name = registryValueName(path.c_str()))
            error(where, "the uninstaller reads it as the default value of " +
                             ticked(path.substr(0, size_t(name - path.c_str()) - 2)) +
                             ", a whole branch, and leaves it alone");
        else
            error(where + (item.value ? "" : ".key"),
                  ticked(path) + " is the root key or a whole branch that holds other "
                                 "products' or the system's keys; the uninstaller leaves it "
                                 "alone: name the product's own key");
    }

    // Whether the uninstaller reads the stored path (`bytes`) as the entry the
    // manifest gives: a key, or that value of that key. `path` is the same in
    // UTF-8, for the wording.
    void checkRegistryReading(const RegistryItem& item, const std::string& bytes,
                              const std::string& path, const std::string& where) {
        const char* name = registryValueName(bytes.c_str());
        const char* shown = registryValueName(path.c_str());
        if (!item.value && name)
            warning(where + ".key",
                    *name ? "holds two backslashes in a row; the uninstaller reads it as the "
                            "value " +
                                ticked(shown) + " of the key before them"
                          : "ends in two backslashes; the uninstaller reads it as the key's "
                            "default value");
        else if (item.value && (!name || name != codePageBytes(*item.value, codePage_)))
            warning(where + ".value",
                    "holds a backslash; the uninstaller reads the entry as " +
                        (name ? "the value " + ticked(shown ? shown : "") : std::string("a key")));
    }

    // A pattern (`p`, as stored; `shown`, in UTF-8) as the pattern pass takes
    // it: expanded, or below the installation folder, then walked or skipped.
    void checkPattern(const std::string& p, const std::string& shown, const std::string& where) {
        std::string whole;
        size_t length = 0;
        bool expanded = patternHasMacros(p.c_str());
        if (expanded) {
            checkMacros(p, where);
            std::string own;
            whole = shortestExpansion(p, &own);
            if (whole != own && own.find_first_of("\\/") == std::string::npos) {
                warning(where, "has no backslash of its own: the uninstaller splits it at the "
                               "last backslash of the expanded folder");
                return;
            }
            length = whole.size();
        } else {
            length = joinedPathLength(kShortestFolder, p.c_str());
            char joined[PATH_BUFFER_SIZE];
            if (joinPath(joined, kShortestFolder, p.c_str()))
                whole = joined;
        }
        if (length >= PATH_BUFFER_SIZE) {
            checkLength(length, where, expanded ? "the expanded pattern" : "the full pattern");
            return;
        }
        switch (patternProblem(whole.c_str())) {
        case PATTERN_CLIMBS_OUT:
            error(where, ticked(shown) + " climbs out of its folder: a part of two dots or more "
                                         "and blanks (`..`, `...`, `.. `) is a step up; the "
                                         "uninstaller skips the pattern");
            return;
        case PATTERN_NO_FOLDER:
        case PATTERN_NOT_FULL:
            warning(where, ticked(shown) + " holds a \"#\", so the uninstaller takes it as a "
                                           "whole path, and it is not a full one; it skips "
                                           "the pattern");
            return;
        case PATTERN_WALKED:
            break;
        }
        if (expanded) {
            std::string folder = withoutUnknownMacros(p);
            const std::string mask = splitPattern(&folder[0]);
            folder = tidiedFolder(folder.c_str());
            if (protectedReason(folder))
                checkProtected(folder, where, "the uninstaller skips the pattern");
            else
                checkSharedWalk(folder, mask, where);
        }
    }

    // A pattern walked from a folder macro's folder that other programs share
    // (any but the installation folder) with a mask that names nothing of the
    // product: the walk goes through every folder below it.
    void checkSharedWalk(const std::string& folder, const std::string& mask,
                         const std::string& where) {
        const char* end;
        if (findMacroToken(folder.c_str(), &end) != folder.c_str() ||
            size_t(end - folder.c_str()) != folder.size())
            return;
        int macro = macroNumber(folder.c_str(), folder.size());
        if (macro < 0 || macro == MACRO_INSTALL_DIR ||
            std::min(mask.find_first_of("*?"), mask.size()) >= kOwnMaskPrefix)
            return;
        std::string named = macroNames[macro];
        warning(where, "the uninstaller walks " + ticked(named) +
                           " and every folder below it, other programs' too, and deletes each "
                           "file that " +
                           ticked(mask) + " matches there; name the product's own folder (" +
                           ticked(named + "\\Vendor\\Product\\" + mask) +
                           ") or begin the mask with " + std::to_string(int(kOwnMaskPrefix)) +
                           " characters or more of the product's own (" +
                           ticked(named + "\\product-" + mask) + ")");
    }

    // One warning for a section whose strings (as bytes() met them) go beyond
    // ASCII: the code page decides what they are.
    void reportBeyondAscii(const std::string& section) {
        if (beyondAscii_.empty())
            return;
        std::string cp = std::to_string(codePage_);
        size_t n = beyondAscii_.size();
        warning(section, std::to_string(n) + (n == 1 ? " string holds" : " strings hold") +
                             " characters beyond ASCII (" + beyondAscii_.front() +
                             (n == 1 ? "" : " first") + "), stored in code page " + cp +
                             ": the uninstaller shows and finds them right only where Windows' "
                             "ANSI code page is " +
                             cp);
        beyondAscii_.clear();
    }

  private:
    unsigned codePage_;
    std::vector<Diagnostic>& out_;
    std::vector<std::string> beyondAscii_; // where such strings are, in order
};

// The registry entries with their places, checked as the uninstaller reads them.
void checkRegistryEntries(const std::vector<std::pair<RegistryItem, std::string>>& items,
                          Findings& f) {
    std::map<std::string, std::string> seen;
    for (const auto& [item, where] : items) {
        // Read as it is stored, as one path.
        std::string path = f.bytes(registryPath(item), where);
        f.checkNul(item.key, where + ".key");
        if (item.value)
            f.checkNul(*item.value, where + ".value");
        std::string key = std::to_string(item.root) + "|" + lowered(path);
        if (!seen.emplace(key, where).second)
            f.warning(where, "repeats " + seen[key]);
        if (path.size() > REGISTRY_ENTRY_STRING_LIMIT)
            f.error(where, "the path holds " + std::to_string(path.size()) +
                               " bytes; the uninstaller reads at most " +
                               std::to_string(REGISTRY_ENTRY_STRING_LIMIT));
        if (isGuardedEntry(item.root, path.c_str()))
            f.guardedEntry(item, registryPath(item), where);
        else
            f.checkRegistryReading(item, path, registryPath(item), where);
        if (!registryRootName(item.root))
            f.warning(where + ".root", "is not one of the predefined root keys");
    }
}

// The register section: what Programs and Features needs, and the key's
// removal that pack adds, checked as a registry entry.
void checkRegistration(const Manifest& m, std::vector<Diagnostic>& out) {
    const Registration& r = *m.registration;
    Findings f(m.codePage, out);
    if (r.key.empty() || r.key.find('\\') != std::string::npos)
        f.error("register.key", "must be one key name (Programs and Features lists the keys right "
                                "below ...\\CurrentVersion\\Uninstall)");
    else
        checkRegistryEntries({{uninstallEntry(r), "register"}}, f);
    f.reportBeyondAscii("register");
    if (shownName(m).empty())
        f.error("register.displayName", "is needed: the caption, which it defaults to, is empty, "
                                        "and Programs and Features lists no product without a "
                                        "name");
    const std::pair<const char*, const std::string*> texts[] = {{"key", &r.key},
                                                                {"displayName", &r.displayName},
                                                                {"publisher", &r.publisher},
                                                                {"version", &r.version},
                                                                {"urlInfoAbout", &r.urlInfoAbout},
                                                                {"helpLink", &r.helpLink},
                                                                {"comments", &r.comments},
                                                                {"urlUpdateInfo", &r.urlUpdateInfo},
                                                                {"displayIcon", &r.displayIcon}};
    for (const auto& [name, text] : texts) {
        if (std::any_of(text->begin(), text->end(), [](char c) { return uint8_t(c) < 0x20; }))
            f.error(std::string("register.") + name, "holds a control character");
        else if (!composeUtf8(*text))
            f.error(std::string("register.") + name, "is not UTF-8");
    }
    FolderAnchor icon = folderAnchor(r.displayIcon.c_str());
    if (!r.displayIcon.empty() && icon != ANCHOR_FULL &&
        (icon != ANCHOR_INSTALL_DIR || r.displayIcon.size() < 3))
        f.error("register.displayIcon", "must be a file below the installation folder "
                                        "(`.\\bin\\app.exe`) or a full path");
    if (registrationText(r).size() > 0xFFFF)
        f.error("register", "holds more than 65,535 bytes");
    std::string own = lowered(uninstallKeyPath(r));
    for (size_t i = 0; i < m.registry.size(); ++i) {
        std::string key = lowered(m.registry[i].key);
        while (!key.empty() && key.back() == '\\')
            key.pop_back();
        if (m.registry[i].root == r.root && key == own)
            f.warning("registry[" + std::to_string(i) + "]",
                      "is the key of the register section, whose removal pack adds itself: "
                      "leave it out here");
    }
}

// What a product installed per user may not reach: its uninstaller runs
// with the user's rights alone, so whatever needs an administrator fails, and
// whatever lies outside the user's own space is not the product's to remove.
// `where(k)` is the place of entry k of a list.
class UserScope {
  public:
    explicit UserScope(std::vector<Diagnostic>& out) : out_(out) {}

    // The entries of a list at `prefix` ("files"), or of a record given as
    // bytes at `prefix` ("records[2]") when `raw`.
    void files(const std::vector<FileItem>& items, const std::string& prefix, bool raw = false) {
        static const std::pair<uint8_t, const char*> flags[] = {
            {FE_SHARED, "`shared`: the counts of shared files are kept under HKLM"},
            {FE_FONT, "`font`: fonts are the system's (the Fonts folder and HKLM)"},
            {FE_SELFREG, "`selfreg`: unregistering a COM server writes HKCR, which is the "
                         "machine's"}};
        for (size_t k = 0; k < items.size(); ++k) {
            if (!items[k].name.empty())
                for (const auto& [bit, why] : flags)
                    if (items[k].flags & bit)
                        refuse(prefix, k, raw, ".flags", why);
            if (folderAnchor(items[k].folder.c_str()) == ANCHOR_FULL)
                path(items[k].folder, prefix, k, raw, ".folder");
        }
    }
    void groups(const std::vector<GroupItem>& items, const std::string& prefix, bool raw = false) {
        for (size_t k = 0; k < items.size(); ++k) {
            path(items[k].folder, prefix, k, raw, ".folder");
            path(items[k].secondFolder, prefix, k, raw, ".secondFolder");
        }
    }
    void registry(const std::vector<RegistryItem>& items, const std::string& prefix,
                  bool raw = false) {
        for (size_t k = 0; k < items.size(); ++k)
            if (items[k].root != ROOT_HKCU)
                refuse(prefix, k, raw, ".root",
                       "`" + registryRootName(items[k].root).value_or("?") +
                           "` is another root than HKCU, the user's own");
    }
    void patterns(const std::vector<std::string>& items, const std::string& prefix,
                  bool raw = false) {
        for (size_t k = 0; k < items.size(); ++k)
            if (patternHasMacros(items[k].c_str()))
                path(items[k], prefix, k, raw, "");
    }

  private:
    void path(const std::string& text, const std::string& prefix, size_t k, bool raw,
              const char* field) {
        if (std::optional<std::string> why = outsideUserSpace(text))
            refuse(prefix, k, raw, field, *why);
    }
    void refuse(const std::string& prefix, size_t k, bool raw, const char* field,
                const std::string& why) {
        std::string entry = "[" + std::to_string(k) + "]";
        out_.push_back({Diagnostic::Level::Error, raw ? prefix : prefix + entry + field,
                        (raw ? "entry " + std::to_string(k) + ": " : std::string()) + why +
                            "; a product installed per user may reach only the user's own "
                            "space, without administrator rights"});
    }
    std::vector<Diagnostic>& out_;
};

// What an elevated uninstaller would run or load from a folder of one user:
// any program of that user can replace it without elevation, and so have it
// run with administrator rights. `raw` as for UserScope.files.
void checkElevatedCode(const OptionsItem& o, const std::string& where,
                       std::vector<Diagnostic>& out) {
    // A command that does not start with a folder macro runs from the
    // installation folder, a full path in it included.
    const char* start = commandStart(o.preUninstall.c_str());
    if (*start != '#')
        return;
    if (std::optional<std::string> why = userFolder(start))
        out.push_back({Diagnostic::Level::Warning, where + ".preUninstall",
                       *why + "; the uninstaller runs the pre-uninstall program with "
                              "administrator rights, and any program of that user can replace "
                              "it without them: keep it in the installation folder"});
}
void checkElevatedCode(const std::vector<FileItem>& items, const std::string& prefix, bool raw,
                       std::vector<Diagnostic>& out) {
    for (size_t k = 0; k < items.size(); ++k) {
        if (!(items[k].flags & FE_SELFREG) || items[k].name.empty())
            continue;
        if (std::optional<std::string> why = userFolder(items[k].folder))
            out.push_back(
                {Diagnostic::Level::Warning, raw ? prefix : prefix + "[" + std::to_string(k) + "]",
                 (raw ? "entry " + std::to_string(k) + ": " : std::string()) + *why +
                     "; the uninstaller loads the `selfreg` server with administrator rights to "
                     "unregister it, and any program of that user can replace it without them: "
                     "install it in the installation folder"});
    }
}

// Calls `visit` with each record of the record form and where it is; a record
// given as bytes comes decoded as the uninstaller reads it (`raw`). Damage is
// passed over here: the record's own check reports it.
template <typename Visit> void forEachRecord(const Manifest& m, Visit visit) {
    for (size_t i = 0; i < m.records->size(); ++i) {
        const RecordItem& r = (*m.records)[i];
        PayloadRecord raw;
        raw.tag = r.raw.tag;
        raw.body = r.raw.body;
        try {
            visit(r, raw, "records[" + std::to_string(i) + "]");
        } catch (const PayloadDamage&) {
        }
    }
}

// The scope against the register section; for a product installed per
// machine, the code its elevated uninstaller would take from a user's
// folders; for one installed per user, what it may not reach; in the lists
// and in records of every kind.
void checkScope(const Manifest& m, std::vector<Diagnostic>& out) {
    if (m.scope && m.registration &&
        (*m.scope == Scope::User) != (m.registration->root == ROOT_HKCU))
        out.push_back(
            {Diagnostic::Level::Error, "scope",
             std::string("is \"") + scopeName(*m.scope) + "\", but register.root is " +
                 (m.registration->root == ROOT_HKCU ? "HKCU (per user)" : "HKLM (per machine)")});
    if (productScope(m) != Scope::User) {
        if (!m.records) {
            if (m.options)
                checkElevatedCode(*m.options, "options", out);
            checkElevatedCode(m.files, "files", false, out);
            return;
        }
        forEachRecord(m,
                      [&](const RecordItem& r, const PayloadRecord& raw, const std::string& where) {
                          if (r.kind == RecordKind::Options)
                              checkElevatedCode(r.options, where, out);
                          else if (r.kind == RecordKind::Files)
                              checkElevatedCode(r.files, where + ".files", false, out);
                          else if (r.kind == RecordKind::Raw && r.raw.tag == RT_OPTIONS &&
                                   !(r.raw.flags & RF_UNREADABLE))
                              checkElevatedCode(decodeOptions(raw), where, out);
                          else if (r.kind == RecordKind::Raw && r.raw.tag == RT_FILES)
                              checkElevatedCode(decodeFiles(raw), where, true, out);
                      });
        return;
    }
    UserScope user(out);
    if (!m.records) {
        user.files(m.files, "files");
        user.groups(m.groups, "groups");
        user.registry(m.registry, "registry");
        user.patterns(m.patterns, "patterns");
        return;
    }
    forEachRecord(m, [&](const RecordItem& r, const PayloadRecord& raw, const std::string& where) {
        if (r.kind == RecordKind::Files)
            user.files(r.files, where + ".files");
        else if (r.kind == RecordKind::Groups)
            user.groups(r.groups, where + ".groups");
        else if (r.kind == RecordKind::Registry)
            user.registry(r.registry, where + ".registry");
        else if (r.kind == RecordKind::Patterns)
            user.patterns(r.patterns, where + ".patterns");
        else if (r.kind == RecordKind::Raw && r.raw.tag == RT_FILES)
            user.files(decodeFiles(raw), where, true);
        else if (r.kind == RecordKind::Raw && r.raw.tag == RT_GROUPS)
            user.groups(decodeGroups(raw), where, true);
        else if (r.kind == RecordKind::Raw && r.raw.tag == RT_REGISTRY)
            user.registry(decodeRegistry(raw), where, true);
        else if (r.kind == RecordKind::Raw && r.raw.tag == RT_PATTERNS)
            user.patterns(decodePatterns(raw), where, true);
    });
}

} // namespace

void checkTexts(const TextSet& set, const std::string& prefix, unsigned codePage,
                std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::vector<std::string> table;
    try {
        table = resolveTexts(set);
    } catch (const ManifestError& e) {
        f.error(prefix + "language", e.problem);
        return;
    }
    if (table.size() > 0xFFFF) {
        f.error(prefix + "texts", "a string table holds at most 65,535 texts");
        return;
    }
    for (size_t i = 0; i < table.size(); ++i) {
        std::string where = prefix + "texts." + textKey(unsigned(i));
        if (table[i].find('\0') != std::string::npos)
            f.warning(where, "holds a NUL character; the uninstaller shows only what comes "
                             "before it");
        f.checkFormat(codePageBytes(table[i], codePage), unsigned(i), where);
        f.bytes(table[i], where);
    }
    f.reportBeyondAscii(prefix + "texts");
}

void checkOptions(const OptionsItem& o, const std::string& where, unsigned codePage,
                  std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::string pre = f.optionText(o.preUninstall, where + ".preUninstall");
    std::string document = f.optionText(o.closingDocument, where + ".closingDocument");
    for (const std::string& token : macroTokens(document))
        if (namesMacro(token)) {
            f.warning(where + ".closingDocument",
                      "holds \"" + token +
                          "\", which the uninstaller does not expand: it opens the closing "
                          "document as it stands");
            break;
        }
    if (!o.preUninstall.empty()) {
        if (*commandStart(pre.c_str()) == '#') {
            f.checkMacros(pre, where + ".preUninstall");
        } else {
            f.checkLength(commandLength(kShortestFolder, pre.c_str()), where + ".preUninstall",
                          "the command made relative to the installation folder");
            for (const std::string& token : macroTokens(pre))
                if (namesMacro(token)) {
                    f.warning(where + ".preUninstall",
                              "holds \"" + token +
                                  "\", which the uninstaller does not expand: it expands folder "
                                  "macros only in a command that starts with one (after an "
                                  "opening quote and spaces)");
                    break;
                }
        }
    }
    if (storedOptionFlags(o) & OF_WAIT && o.preUninstall.empty())
        f.warning(where + ".wait", "there is no pre-uninstall program to wait for");
    f.reportBeyondAscii(where);
}

void checkFiles(const std::vector<FileItem>& items, const std::string& prefix, unsigned codePage,
                std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        const FileItem& item = items[i];
        std::string where = prefix + "[" + std::to_string(i) + "]";
        std::string folder = f.bytes(item.folder, where + ".folder", true, true);
        std::string name = f.bytes(item.name, where + ".name", true, true);
        if (folder.size() + name.size() > FILE_ENTRY_STRING_LIMIT)
            f.error(where, "folder and name hold " + std::to_string(folder.size() + name.size()) +
                               " bytes together; the uninstaller reads at most " +
                               std::to_string(FILE_ENTRY_STRING_LIMIT));
        bool nul = f.checkNul(item.folder, where + ".folder");
        nul = f.checkNul(item.name, where + ".name") || nul;
        if (!nul && f.checkFileFolder(item.folder, where + ".folder")) {
            f.checkFolderNames(item.folder, where + ".folder");
            if (!item.name.empty())
                f.checkName(item.name, where + ".name");
            f.checkLength(entryPathLength(kShortestFolder, folder.c_str(), name.c_str()), where,
                          "the full path");
        }
        std::string key = lowered(item.folder) + "|" + lowered(item.name);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        if (!name.empty() && !(item.flags & FE_SHARED))
            if (std::optional<std::string> system = sharedFilesFolder(folder, name)) {
                std::string also = item.flags & FE_FONT ? " and withdraws the font" : "";
                if (item.flags & FE_SELFREG)
                    also += " and unregisters the server";
                f.warning(where, "puts the file directly in " + ticked(*system) +
                                     ", where other software may need it too, and it is not "
                                     "flagged `shared`: the uninstaller deletes it" +
                                     also +
                                     "; flag it `shared`, with a count the installer "
                                     "maintains, or leave it out");
            }
        if (name.empty()) {
            if (folderAnchor(folder.c_str()) == ANCHOR_FULL)
                f.checkProtected(folder, where, "the uninstaller never removes this folder");
            if (item.flags)
                f.warning(where, "flags are ignored on a folder entry");
            // The list is handled from its end: a folder listed after what it
            // holds is tried while it is still full.
            std::string inside = lowered(item.folder) + "\\";
            for (size_t k = 0; k < i; ++k) {
                std::string other = lowered(items[k].folder);
                if ((other == lowered(item.folder) && !items[k].name.empty()) ||
                    other.rfind(inside, 0) == 0) {
                    f.warning(where, "the folder entry comes after " + prefix + "[" +
                                         std::to_string(k) +
                                         "], which is inside it; the uninstaller works from the "
                                         "last entry back and tries the folder while it is "
                                         "still full: list the folder first");
                    break;
                }
            }
        }
    }
    f.reportBeyondAscii(prefix);
}

void checkGroups(const std::vector<GroupItem>& items, const std::string& prefix, unsigned codePage,
                 std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        const GroupItem& item = items[i];
        std::string where = prefix + "[" + std::to_string(i) + "]";
        if (item.levels > 255)
            f.error(where + ".levels", "must be 0 to 255");
        std::string folder = f.bytes(item.folder, where + ".folder", true, true);
        std::string secondFolder = f.bytes(item.secondFolder, where + ".secondFolder", true, true);
        std::string fileName = f.bytes(item.fileName, where + ".fileName", true, true);
        bool nul = f.checkNul(item.folder, where + ".folder");
        nul = f.checkNul(item.secondFolder, where + ".secondFolder") || nul;
        nul = f.checkNul(item.fileName, where + ".fileName") || nul;
        if (!nul) {
            if (f.checkGroupFolder(item.folder, where + ".folder", !fileName.empty()))
                f.checkProtected(folder, where + ".folder",
                                 "the uninstaller skips the entry's folders");
            if (f.checkGroupFolder(item.secondFolder, where + ".secondFolder", false))
                f.checkProtected(secondFolder, where + ".secondFolder",
                                 "the uninstaller removes neither folder of the entry");
            f.checkFolderNames(item.folder, where + ".folder");
            f.checkFolderNames(item.secondFolder, where + ".secondFolder");
            if (!item.fileName.empty())
                f.checkName(item.fileName, where + ".fileName");
        }
        std::string key =
            lowered(item.folder) + "|" + lowered(item.secondFolder) + "|" + lowered(item.fileName);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        size_t total = folder.size() + secondFolder.size() + fileName.size();
        if (total > GROUP_ENTRY_STRING_LIMIT)
            f.error(where, "the three strings hold " + std::to_string(total) +
                               " bytes together; the uninstaller reads at most " +
                               std::to_string(GROUP_ENTRY_STRING_LIMIT));
        f.checkLength(joinedPathLength(folder.c_str(), ""), where + ".folder", "the folder");
        f.checkLength(joinedPathLength(secondFolder.c_str(), ""), where + ".secondFolder",
                      "the folder");
        if (!fileName.empty())
            f.checkLength(joinedPathLength(folder.c_str(), fileName.c_str()), where + ".fileName",
                          "the file's full path");
        if (folder.empty() && fileName.empty())
            f.warning(where + ".folder", "is empty; the uninstaller removes no folder for this "
                                         "entry");
    }
    f.reportBeyondAscii(prefix);
}

void checkRegistry(const std::vector<RegistryItem>& items, const std::string& prefix,
                   unsigned codePage, std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::vector<std::pair<RegistryItem, std::string>> entries;
    for (size_t i = 0; i < items.size(); ++i)
        entries.emplace_back(items[i], prefix + "[" + std::to_string(i) + "]");
    checkRegistryEntries(entries, f);
    f.reportBeyondAscii(prefix);
}

void checkPatterns(const std::vector<std::string>& items, const std::string& prefix,
                   unsigned codePage, std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        std::string where = prefix + "[" + std::to_string(i) + "]";
        std::string p = f.bytes(items[i], where, false, true);
        if (p.empty())
            f.error(where, "an empty pattern ends the list; the patterns after it would be lost");
        if (p.find('\0') != std::string::npos)
            f.error(where, "holds a NUL character, which would split the pattern");
        std::string key = lowered(items[i]);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        if (!p.empty())
            f.checkPattern(p, items[i], where);
    }
    f.reportBeyondAscii(prefix);
}

void checkRecords(const std::vector<RecordItem>& records, unsigned codePage,
                  std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    if (records.empty())
        f.error("records", "holds no record; an uninstaller needs at least an end record");
    for (size_t i = 0; i < records.size(); ++i) {
        const RecordItem& r = records[i];
        std::string where = "records[" + std::to_string(i) + "]";
        bool isEnd =
            r.kind == RecordKind::End || (r.kind == RecordKind::Raw && r.raw.tag == RT_END);
        if (isEnd && i + 1 < records.size())
            f.warning(where, "the uninstaller stops reading here; the " +
                                 std::to_string(records.size() - i - 1) +
                                 " records after it are never read");
        if (!isEnd && i + 1 == records.size())
            f.error(where, "the last record must be an end record, or the uninstaller fails "
                           "with error 8");
        switch (r.kind) {
        case RecordKind::Strings:
            checkTexts(r.texts, where + ".", codePage, out);
            break;
        case RecordKind::Options:
            checkOptions(r.options, where, codePage, out);
            break;
        case RecordKind::Files:
            checkFiles(r.files, where + ".files", codePage, out);
            break;
        case RecordKind::Groups:
            checkGroups(r.groups, where + ".groups", codePage, out);
            break;
        case RecordKind::Registry:
            checkRegistry(r.registry, where + ".registry", codePage, out);
            break;
        case RecordKind::Patterns:
            checkPatterns(r.patterns, where + ".patterns", codePage, out);
            break;
        case RecordKind::End:
            break;
        case RecordKind::Raw:
            f.checkRaw(r.raw, where);
            break;
        }
    }
}

std::vector<Diagnostic> checkManifest(const Manifest& m) {
    std::vector<Diagnostic> out;
    if (!isSupportedCodePage(m.codePage))
        out.push_back({Diagnostic::Level::Error, "codePage",
                       "code page " + std::to_string(m.codePage) +
                           " is not supported (1252, 1250 to 1258, 874, 437, 850, 852, 866)"});
    if (m.records) {
        checkRecords(*m.records, m.codePage, out);
        checkScope(m, out);
        return out;
    }
    checkTexts(m.texts, "", m.codePage, out);
    if (m.options)
        checkOptions(*m.options, "options", m.codePage, out);
    checkFiles(m.files, "files", m.codePage, out);
    checkGroups(m.groups, "groups", m.codePage, out);
    checkRegistry(m.registry, "registry", m.codePage, out);
    checkPatterns(m.patterns, "patterns", m.codePage, out);
    if (m.registration)
        checkRegistration(m, out);
    checkScope(m, out);
    return out;
}

std::vector<Diagnostic> checkManifestText(const std::string& text, Manifest* read) {
    ReadProblems found;
    Manifest m = parseManifest(text, found);
    std::vector<Diagnostic> out;
    for (const auto& [where, problem] : found.problems)
        out.push_back({Diagnostic::Level::Error, where, problem});
    // What an entry that could not be read is said to do would be a guess.
    auto inside = [](const std::string& where, const std::string& entry) {
        return where.rfind(entry, 0) == 0 &&
               (where.size() == entry.size() || where[entry.size()] == '.' ||
                where[entry.size()] == '[');
    };
    for (const Diagnostic& d : checkManifest(m))
        if (std::none_of(found.unreadable.begin(), found.unreadable.end(),
                         [&](const std::string& entry) { return inside(d.where, entry); }))
            out.push_back(d);
    if (read)
        *read = std::move(m);
    return out;
}

std::string formatDiagnostic(const Diagnostic& d) {
    std::string text = d.level == Diagnostic::Level::Error ? "error: " : "warning: ";
    if (!d.where.empty())
        text += d.where + ": ";
    return text + d.message;
}

bool hasErrors(const std::vector<Diagnostic>& diagnostics) {
    return std::any_of(diagnostics.begin(), diagnostics.end(),
                       [](const Diagnostic& d) { return d.level == Diagnostic::Level::Error; });
}

std::string summarizeManifest(const Manifest& m) {
    size_t files = 0, folders = 0, groups = 0, registry = 0, patterns = 0;
    auto count = [&](const std::vector<FileItem>& f, size_t g, size_t r, size_t p) {
        for (const FileItem& item : f)
            ++(item.name.empty() ? folders : files);
        groups += g, registry += r, patterns += p;
    };
    if (m.records) {
        for (const RecordItem& r : *m.records)
            count(r.files, r.groups.size(), r.registry.size(), r.patterns.size());
    } else {
        count(m.files, m.groups.size(), m.registry.size(), m.patterns.size());
    }
    auto item = [](size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    return item(files, "file", "files") + ", " + item(folders, "folder", "folders") + ", " +
           item(groups, "group entry", "group entries") + ", " +
           item(registry, "registry entry", "registry entries") + ", " +
           item(patterns, "pattern", "patterns");
}

} // namespace varnel
