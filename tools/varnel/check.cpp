#include "check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "ascii_text.h"
#include "build.h"
#include "codepage.h"
#include "folder_names.h"
#include "payload_decoder.h"
#include "texts.h"

namespace varnel {
namespace {

// What the uninstaller decides about an entry, restated for the checks. Each
// function below models one decision of the executable (its comment names
// which); the wording of the findings is further down.

enum { kMaxPath = 259, kShortestInstallDir = 3 }; // "C:\" is the shortest installation folder

// Folders that the uninstaller never removes, as a manifest can name them.
const char* const kProtectedMacros[] = {
    "#Windows#",
    "#System#",
    "#Desktop#",
    "#AppData#",
    "#AllUsersAppData#",
    "#AllUsersDocuments#",
    "#AllUsersDesktop#",
    "#Program Files#",
    "#CommonFiles#",
    "#MyDocuments#",
    "#UserDir#",
    "#AllUsersDir#",
    "#AppData#\\Microsoft\\Internet Explorer\\Quick Launch",
    "#AllUsersAppData#\\Microsoft\\Internet Explorer\\Quick Launch",
};
// The usual places of those folders, after the drive letter and colon.
const char* const kProtectedOnDrive[] = {
    "\\Windows",
    "\\Windows\\System",
    "\\Windows\\System32",
    "\\Windows\\Fonts",
    "\\WINNT",
    "\\WINNT\\System32",
    "\\WINNT\\Fonts",
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
    "\\Microsoft\\Internet Explorer\\Quick Launch",
};

// Key paths that hold a whole branch of a hive: deleting one would take
// every product's settings, or the system's, with it.
const char* const kHiveBranches[] = {
    "Software",
    "System",
    "Software\\Microsoft",
    "Software\\Microsoft\\Windows",
    "Software\\Microsoft\\Windows\\CurrentVersion",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
    "Software\\Microsoft\\Windows NT",
    "Software\\Microsoft\\Windows NT\\CurrentVersion",
    "Software\\Classes",
    "Software\\Policies",
    "Software\\Wow6432Node",
    "System\\CurrentControlSet",
    "System\\CurrentControlSet\\Control",
    "System\\CurrentControlSet\\Services",
    "System\\ControlSet001",
};
// The same under HKEY_CLASSES_ROOT (or Software\Classes).
const char* const kClassBranches[] = {
    "CLSID",
    "Interface",
    "TypeLib",
    "AppID",
    "*",
    "Directory",
    "Folder",
    "Drive",
    "AllFilesystemObjects",
    "Applications",
    "SystemFileAssociations",
    "MIME",
};

// Models the registry guard (isGuarded), widened to every branch that other products share.
std::optional<std::string> hiveBranch(uint32_t root, std::string key) {
    size_t first = key.find_first_not_of('\\');
    size_t last = key.find_last_not_of('\\');
    key = first == std::string::npos ? "" : key.substr(first, last + 1 - first);
    if (key.empty())
        return std::string("the root key itself");
    std::string rest = key;
    const std::string wow = "software\\wow6432node\\";
    if (lowered(rest).rfind(wow, 0) == 0)
        rest = "Software\\" + rest.substr(wow.size());
    const std::string classes = "software\\classes\\";
    bool underClasses = root == ROOT_HKCR;
    if (lowered(rest).rfind(classes, 0) == 0) {
        rest = rest.substr(classes.size());
        underClasses = true;
    }
    for (const char* b : kHiveBranches)
        if (sameText(rest, b))
            return key;
    if (underClasses)
        for (const char* b : kClassBranches)
            if (sameText(rest, b))
                return key;
    return std::nullopt;
}

// Models the key/value split of a stored registry path (registryItem) for a value entry.
bool valueNameMisread(const std::string& value) {
    return value.find('\\') != std::string::npos;
}

// Models the same split for a key entry: two backslashes at its end make it a default value.
bool keyReadAsDefaultValue(const std::string& key) {
    return key.size() >= 2 && key.compare(key.size() - 2, 2, "\\\\") == 0;
}

// Models the full-path test of the pattern pass (isUnsafePattern); file folders are judged by it
// too.
bool isFullPath(const std::string& folder) {
    return (folder.size() >= 3 && isAsciiLetter(folder[0]) && folder[1] == ':' &&
            folder[2] == '\\') ||
           folder.rfind("\\\\", 0) == 0;
}

// Models the names a path walks through after its root ("C:\", "\\server\share\", ".\").
std::vector<std::string> pathComponents(const std::string& path) {
    size_t start = 0;
    if (path.rfind("\\\\", 0) == 0) {
        size_t share = path.find('\\', 2);
        start = share == std::string::npos ? path.size() : path.find('\\', share + 1);
        start = start == std::string::npos ? path.size() : start + 1;
    } else if (path.size() >= 2 && path[1] == ':') {
        start = path.size() >= 3 && path[2] == '\\' ? 3 : 2;
    } else if (path.rfind(".\\", 0) == 0) {
        start = 2;
    }
    std::vector<std::string> parts;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Models the pattern pass's refusal of a climbing pattern (isUnsafePattern): here only "..".
// Slashes count as backslashes.
bool patternClimbsOut(const std::string& pattern) {
    std::string parts = pattern;
    std::replace(parts.begin(), parts.end(), '/', '\\');
    std::vector<std::string> components = pathComponents(parts);
    return std::find(components.begin(), components.end(), "..") != components.end();
}

bool endsWithText(const std::string& s, const std::string& ending) {
    return s.size() >= ending.size() && sameText(s.substr(s.size() - ending.size()), ending);
}

// Models the protected-folder test (isProtectedFolder), as far as it can be told off the machine.
std::optional<std::string> protectedReason(std::string path) {
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    if (path.size() <= 3)
        return std::string("a path of 3 characters or fewer (a drive root) is protected");
    for (const char* m : kProtectedMacros)
        if (sameText(path, m))
            return "\"" + std::string(m) + "\" is a protected folder";
    if (isAsciiLetter(path[0]) && path[1] == ':')
        for (const char* p : kProtectedOnDrive)
            if (sameText(path.substr(2), p))
                return "\"" + path + "\" is where Windows keeps a protected folder";
    for (const char* e : kProtectedEndings)
        if (endsWithText(path, e))
            return "\"" + path + "\" looks like a protected shell folder";
    return std::nullopt;
}

struct Token {
    size_t start;
    size_t length;
};

// Models the token scan of the macro expansion (expandFolderMacros): "#" pairs from the left.
std::vector<Token> macroTokens(const std::string& s) {
    std::vector<Token> tokens;
    size_t pos = 0;
    for (;;) {
        size_t open = s.find('#', pos);
        if (open == std::string::npos)
            break;
        size_t close = s.find('#', open + 1);
        if (close == std::string::npos)
            break;
        tokens.push_back({open, close + 1 - open});
        pos = close + 1;
    }
    return tokens;
}

// Models resolveFolderMacro's lookup: a token that names no macro is replaced by nothing.
bool knownMacro(const std::string& token) {
    return std::any_of(std::begin(macroNames), std::end(macroNames),
                       [&](const char* m) { return asciiEqualNoCase(token.c_str(), m) != 0; });
}

// Models joinEntryPath's anchoring of a file entry's folder: a "." first is the installation
// folder, followed by what comes after ".\" if that is how it starts; anything else stands.
enum class Anchor {
    InstallDir,         // ".", or ".\" and a relative path
    InstallDirDropping, // starts with "." but not ".\": the rest is dropped
    Full,               // a full path
    CurrentFolder,      // anything else, resolved against the current folder
};
Anchor fileFolderAnchor(const std::string& folder) {
    if (!folder.empty() && folder[0] == '.')
        return folder == "." || folder[1] == '\\' ? Anchor::InstallDir : Anchor::InstallDirDropping;
    return isFullPath(folder) ? Anchor::Full : Anchor::CurrentFolder;
}

// Models the length of the path joinEntryPath builds, with "C:\" as the installation folder.
// A joining backslash counts only where one is added: not after a folder that
// ends with one, and never after the installation folder itself.
size_t fullPathLength(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (!folder.empty() && folder[0] == '.')
        path = "C:\\" + (folder.size() > 1 && folder[1] == '\\' ? folder.substr(2) : "");
    if (name.empty())
        return path.size();
    return path.size() + (!path.empty() && path.back() != '\\' ? 1 : 0) + name.size();
}

// Models the length of the path removeGroupFiles joins from a group's folder and file name.
size_t groupFilePathLength(const std::string& folder, const std::string& fileName) {
    return folder.size() + (folder.empty() || folder.back() == '\\' ? 0 : 1) + fileName.size();
}

// Models the pattern pass's expansion at its shortest: every macro token a folder of 3
// characters ("C:\"), and a pattern with no "#" taken after such a folder. `literal` is
// the pattern outside its macro tokens.
struct PatternExpansion {
    std::string literal;
    size_t shortestLength = 0;
};
PatternExpansion shortestExpansion(const std::string& p) {
    PatternExpansion e;
    if (p.find('#') == std::string::npos) {
        e.literal = p;
        e.shortestLength = kShortestInstallDir + p.size();
        return e;
    }
    size_t pos = 0;
    for (const Token& t : macroTokens(p)) {
        e.literal += p.substr(pos, t.start - pos);
        e.shortestLength += kShortestInstallDir;
        pos = t.start + t.length;
    }
    e.literal += p.substr(pos);
    e.shortestLength += e.literal.size();
    return e;
}

// Models the pattern pass's split of a pattern into folder and mask at its last backslash.
std::string patternFolder(const std::string& p) {
    return p.substr(0, p.rfind('\\'));
}

// Models where buildPreUninstallCommand finds the program: after an opening quote and blanks.
size_t commandStart(const std::string& command) {
    size_t p = command[0] == '"' ? 1 : 0;
    while (p < command.size() && (command[p] == ' ' || command[p] == '\t'))
        ++p;
    return p;
}

// Models the length of buildPreUninstallCommand's relative command, "C:\" as the folder.
size_t relativeCommandLength(const std::string& command, size_t start) {
    return kShortestInstallDir + (command[0] == '"' ? 1 : 0) + command.size() - start;
}

// Models which texts the uninstaller formats with a path: 1, 5, 7, 8, 9 and 10.
bool textTakesPath(unsigned number) {
    static const unsigned formatted[] = {1, 5, 7, 8, 9, 10};
    return std::find(std::begin(formatted), std::end(formatted), number) != std::end(formatted);
}

// Models the message formatter (substitute): "%%" is a percent sign, "%s" takes the path, and
// another conversion is shown as it stands; reading stops at the first such one.
struct FormatReading {
    int paths = 0;               // "%s" before the first other conversion
    std::string otherConversion; // "%d" and the like; empty when there is none
};
FormatReading readFormat(const std::string& text) {
    FormatReading r;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == '%') {
            ++i;
        } else if (next == 's') {
            ++r.paths, ++i;
        } else {
            r.otherConversion = text.substr(i, 2);
            break;
        }
    }
    return r;
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
            } else if (path) {
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

    void checkFormat(const std::string& text, unsigned number, const std::string& where) {
        if (!textTakesPath(number))
            return;
        FormatReading reading = readFormat(text);
        if (!reading.otherConversion.empty())
            warning(where, "holds " + ticked(reading.otherConversion) +
                               ", which the uninstaller shows as it stands: it fills in only "
                               "%s (the path); write a percent sign as %%");
        else if (reading.paths > 1)
            warning(where, "holds %s " + std::to_string(reading.paths) +
                               " times; the uninstaller fills in only one path");
    }

    std::string optionText(const std::string& text, const std::string& where) {
        if (text.find('\0') != std::string::npos)
            error(where, "holds a NUL character, which would end the text early");
        return bytes(text, where, false);
    }

    void checkMacros(const std::string& s, const std::string& where) {
        for (const Token& t : macroTokens(s)) {
            std::string token = s.substr(t.start, t.length);
            if (!knownMacro(token))
                warning(where, "\"" + token +
                                   "\" names no folder; the uninstaller replaces it by nothing");
        }
    }

    void checkLength(size_t length, const std::string& where, const std::string& what) {
        if (length > kMaxPath)
            warning(where, what + " holds at least " + std::to_string(length) +
                               " characters, more than " + std::to_string(kMaxPath));
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

    void checkName(const std::string& name, const std::string& where) {
        if (name.find('\\') != std::string::npos) {
            error(where, ticked(name) + ": a backslash in a name makes it a path; give the "
                                        "folder part in \"folder\"");
            return;
        }
        if (std::optional<std::string> why = invalidName(name))
            error(where, ticked(name) + " is a name Windows cannot have: " + *why);
    }

    void checkFolderNames(const std::string& folder, const std::string& where) {
        for (const std::string& part : pathComponents(folder)) {
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
        switch (fileFolderAnchor(folder)) {
        case Anchor::InstallDir:
        case Anchor::Full:
            return true;
        case Anchor::InstallDirDropping: {
            std::string advice;
            if (folder.rfind("..", 0) == 0) {
                advice = "a folder outside it needs a full path";
            } else {
                std::string rest = folder.substr(folder[1] == '/' ? 2 : 0);
                std::replace(rest.begin(), rest.end(), '/', '\\');
                advice = "write " + ticked(".\\" + rest);
            }
            error(where, ticked(folder) + " is read as the installation folder itself; " + advice);
            return false;
        }
        case Anchor::CurrentFolder:
            break;
        }
        if (folder.empty()) {
            error(where, "is empty, so the uninstaller resolves the entry against its current "
                         "folder; write `.` for the installation folder");
            return false;
        }
        std::string how = folder[0] == '#' ? "folder macros are not expanded in file entries, "
                                             "so it is resolved against the uninstaller's "
                                             "current folder"
                                           : "it is resolved against the uninstaller's current "
                                             "folder, not the installation folder";
        std::string rest = folder;
        std::replace(rest.begin(), rest.end(), '/', '\\');
        error(where,
              ticked(folder) + ": " + how + "; write " + ticked(".\\" + rest) + " or a full path");
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
        for (int i = 0; i < 2; ++i) {
            size_t field = size_t(OPTIONS_PRE_UNINSTALL_OFFSET + 4 * i);
            uint32_t at = uint32_t(body[field]) | uint32_t(body[field + 1]) << 8 |
                          uint32_t(body[field + 2]) << 16 | uint32_t(body[field + 3]) << 24;
            if (at == 0)
                continue;
            size_t nul = at;
            while (nul < body.size() && body[nul] != 0)
                ++nul;
            if (at >= body.size() || nul >= body.size()) {
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

  private:
    unsigned codePage_;
    std::vector<Diagnostic>& out_;
};

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
        f.checkFormat(table[i], unsigned(i), where);
        f.bytes(table[i], where);
    }
}

void checkOptions(const OptionsItem& o, const std::string& where, unsigned codePage,
                  std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::string pre = f.optionText(o.preUninstall, where + ".preUninstall");
    f.optionText(o.closingDocument, where + ".closingDocument");
    if (!o.preUninstall.empty()) {
        size_t start = commandStart(pre);
        if (start < pre.size() && pre[start] == '#') {
            f.checkMacros(pre, where + ".preUninstall");
        } else {
            size_t length = relativeCommandLength(pre, start);
            if (length > kMaxPath)
                f.warning(where + ".preUninstall",
                          "the command made relative to the installation folder holds at least " +
                              std::to_string(length) + " characters, more than " +
                              std::to_string(kMaxPath) +
                              "; it does not fit the uninstaller's path buffer");
        }
    }
    if (storedOptionFlags(o) & OF_WAIT && o.preUninstall.empty())
        f.warning(where + ".wait", "there is no pre-uninstall program to wait for");
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
            f.checkLength(fullPathLength(folder, name), where, "the full path");
        }
        std::string key = lowered(item.folder) + "|" + lowered(item.name);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        if (name.empty()) {
            if (isFullPath(item.folder))
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
        f.checkLength(folder.size(), where + ".folder", "the folder");
        f.checkLength(secondFolder.size(), where + ".secondFolder", "the folder");
        if (!fileName.empty())
            f.checkLength(groupFilePathLength(folder, fileName), where + ".fileName",
                          "the file's full path");
        if (folder.empty()) {
            f.warning(where + ".folder", "is empty; the uninstaller removes no folder for this "
                                         "entry");
        } else {
            f.checkProtected(folder, where + ".folder",
                             "the uninstaller skips the entry's folders");
        }
        if (!secondFolder.empty())
            f.checkProtected(secondFolder, where + ".secondFolder",
                             "the uninstaller removes neither folder of the entry");
    }
}

void checkRegistry(const std::vector<RegistryItem>& items, const std::string& prefix,
                   unsigned codePage, std::vector<Diagnostic>& out) {
    Findings f(codePage, out);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        const RegistryItem& item = items[i];
        std::string where = prefix + "[" + std::to_string(i) + "]";
        // Measured as it is stored, as one path.
        std::string path = f.bytes(registryPath(item), where);
        f.checkNul(item.key, where + ".key");
        if (item.value)
            f.checkNul(*item.value, where + ".value");
        std::string key = std::to_string(item.root) + "|" + lowered(path);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        if (path.size() > REGISTRY_ENTRY_STRING_LIMIT)
            f.error(where, "the path holds " + std::to_string(path.size()) +
                               " bytes; the uninstaller reads at most " +
                               std::to_string(REGISTRY_ENTRY_STRING_LIMIT));
        if (!item.value)
            if (std::optional<std::string> branch = hiveBranch(item.root, item.key))
                f.error(where + ".key",
                        ticked(item.key) + " reaches " +
                            (item.key.find_first_not_of('\\') == std::string::npos
                                 ? *branch
                                 : "the whole branch " + ticked(*branch)) +
                            ", which holds other products' or the system's keys; name the "
                            "product's own key");
        if (item.value && valueNameMisread(*item.value))
            f.warning(where + ".value", "holds a backslash; the uninstaller reads the entry "
                                        "as a key, or as another value");
        if (!item.value && keyReadAsDefaultValue(item.key))
            f.warning(where + ".key", "ends in two backslashes; the uninstaller reads it as "
                                      "the key's default value");
        if (!registryRootName(item.root))
            f.warning(where + ".root", "is not one of the predefined root keys");
    }
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
        if (patternClimbsOut(items[i]))
            f.error(where, ticked(items[i]) + " climbs out of its folder with `..`; the "
                                              "uninstaller would remove files outside it");
        std::string key = lowered(items[i]);
        if (!seen.emplace(key, i).second)
            f.warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
        PatternExpansion expansion = shortestExpansion(p);
        if (p.find('#') != std::string::npos) {
            f.checkMacros(p, where);
            if (expansion.literal.find('\\') == std::string::npos)
                f.warning(where, "has no backslash of its own: the uninstaller splits it at "
                                 "the last backslash of the expanded folder");
            else
                f.checkProtected(patternFolder(p), where, "the uninstaller skips the pattern");
            f.checkLength(expansion.shortestLength, where, "the expanded pattern");
        } else {
            f.checkLength(expansion.shortestLength, where, "the full pattern");
        }
    }
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
        return out;
    }
    checkTexts(m.texts, "", m.codePage, out);
    if (m.options)
        checkOptions(*m.options, "options", m.codePage, out);
    checkFiles(m.files, "files", m.codePage, out);
    checkGroups(m.groups, "groups", m.codePage, out);
    checkRegistry(m.registry, "registry", m.codePage, out);
    checkPatterns(m.patterns, "patterns", m.codePage, out);
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
