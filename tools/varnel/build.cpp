#include "build.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "ascii_text.h"
#include "codepage.h"
#include "folder_names.h"
#include "payload_decoder.h"
#include "texts.h"

namespace varnel {
namespace {

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

// The whole branch a key entry would delete, if it is one.
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

bool isFullPath(const std::string& folder) {
    return (folder.size() >= 3 && isAsciiLetter(folder[0]) && folder[1] == ':' &&
            folder[2] == '\\') ||
           folder.rfind("\\\\", 0) == 0;
}

// The components of a path after its root ("C:\", "\\server\share\", ".\").
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

std::string ticked(const std::string& s) {
    return "`" + s + "`";
}

bool endsWithText(const std::string& s, const std::string& ending) {
    return s.size() >= ending.size() && sameText(s.substr(s.size() - ending.size()), ending);
}

// Why the uninstaller would never remove this folder, if it can tell.
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

// The folder macro tokens of a string, found the way the uninstaller expands them.
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

bool knownMacro(const std::string& token) {
    return std::any_of(std::begin(macroNames), std::end(macroNames),
                       [&](const char* m) { return asciiEqualNoCase(token.c_str(), m) != 0; });
}

// The length of the full path the uninstaller builds for a file entry,
// counting relative folders with the shortest installation folder, "C:\\".
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

class Encoder {
  public:
    Encoder(const Manifest& m, std::vector<Diagnostic>& out) : m_(m), out_(out) {
        if (!isSupportedCodePage(m.codePage)) {
            error("codePage", "code page " + std::to_string(m.codePage) +
                                  " is not supported (1252, 1250 to 1258, 874, 437, 850, "
                                  "852, 866)");
            codePageUsable_ = false;
        }
    }

    Bytes encode() {
        if (!m_.records) {
            PayloadSpec spec;
            spec.texts = texts(m_.texts, "");
            if (m_.options)
                spec.options = options(*m_.options, "options");
            spec.files = files(m_.files, "files");
            spec.groups = groups(m_.groups, "groups");
            spec.registry = registry(m_.registry, "registry");
            spec.patterns = patterns(m_.patterns, "patterns");
            if (spec.texts.size() > 0xFFFF)
                return {};
            return guarded([&] { return encodePayload(spec); });
        }
        Bytes out;
        const std::vector<RecordItem>& records = *m_.records;
        if (records.empty())
            error("records", "holds no record; an uninstaller needs at least an end record");
        for (size_t i = 0; i < records.size(); ++i) {
            const RecordItem& r = records[i];
            std::string where = "records[" + std::to_string(i) + "]";
            bool isEnd =
                r.kind == RecordKind::End || (r.kind == RecordKind::Raw && r.raw.tag == RT_END);
            if (isEnd && i + 1 < records.size())
                warning(where, "the uninstaller stops reading here; the " +
                                   std::to_string(records.size() - i - 1) +
                                   " records after it are never read");
            if (!isEnd && i + 1 == records.size())
                error(where, "the last record must be an end record, or the uninstaller fails "
                             "with error 8");
            append(out, guarded([&] { return encodeRecord(r, where); }));
        }
        return out;
    }

  private:
    // Encoding throws only for what the checks have already reported as errors.
    template <typename Encode> Bytes guarded(Encode encode) {
        try {
            return encode();
        } catch (const std::length_error&) {
            return {};
        }
    }

    Bytes encodeRecord(const RecordItem& r, const std::string& where) {
        Bytes out;
        {
            switch (r.kind) {
            case RecordKind::Strings: {
                std::vector<std::string> t = texts(r.texts, where + ".");
                if (t.size() <= 0xFFFF)
                    append(out, record(RT_STRINGS, stringsBody(t)));
                break;
            }
            case RecordKind::Options:
                append(out, record(RT_OPTIONS, optionsBody(options(r.options, where))));
                break;
            case RecordKind::Files:
                append(out, record(RT_FILES, filesBody(files(r.files, where + ".files"))));
                break;
            case RecordKind::Groups:
                append(out, record(RT_GROUPS, groupsBody(groups(r.groups, where + ".groups"))));
                break;
            case RecordKind::Registry:
                append(out, record(RT_REGISTRY,
                                   registryBody(registry(r.registry, where + ".registry"))));
                break;
            case RecordKind::Patterns:
                append(out, record(RT_PATTERNS,
                                   patternsBody(patterns(r.patterns, where + ".patterns"))));
                break;
            case RecordKind::End:
                append(out, endRecord());
                break;
            case RecordKind::Raw:
                raw(r.raw, where);
                append(out, recordHeader(r.raw.tag, uint32_t(r.raw.body.size()), r.raw.flags,
                                         r.raw.reserved));
                append(out, r.raw.body);
                break;
            }
        }
        return out;
    }

    void error(const std::string& where, const std::string& message) {
        out_.push_back({Diagnostic::Level::Error, where, message});
    }
    void warning(const std::string& where, const std::string& message) {
        out_.push_back({Diagnostic::Level::Warning, where, message});
    }

    // Converts to the code page; a counted string must also fit its u16 length.
    std::string convert(const std::string& utf8, const std::string& where, bool counted = true,
                        bool path = false) {
        std::string bytes = utf8;
        if (codePageUsable_) {
            ConversionFailure failure;
            std::optional<std::string> converted = utf8ToCodePage(utf8, m_.codePage, &failure);
            if (!converted) {
                uint32_t c = failure.character;
                size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
                std::string shown =
                    c <= 0x10FFFF ? " \"" + utf8.substr(failure.position, length) + "\"" : "";
                error(where, "the character " + characterName(c) + shown + " at byte " +
                                 std::to_string(failure.position) +
                                 " cannot be stored in code page " + std::to_string(m_.codePage));
            } else {
                bytes = *converted;
                if (path)
                    if (std::optional<size_t> at = backslashTrailByte(bytes, m_.codePage))
                        warning(where, "a character before byte " + std::to_string(*at) +
                                           " is stored with a backslash as its second byte in "
                                           "code page " +
                                           std::to_string(m_.codePage) +
                                           "; the uninstaller takes it for a folder separator");
            }
        }
        if (counted && bytes.size() > 0xFFFF)
            error(where, "holds " + std::to_string(bytes.size()) +
                             " bytes; a counted string holds at most 65,535");
        return bytes;
    }

    std::vector<std::string> texts(const TextSet& set, const std::string& prefix) {
        std::vector<std::string> table;
        try {
            table = resolveTexts(set);
        } catch (const ManifestError& e) {
            error(prefix + "language", e.problem);
            return {};
        }
        if (table.size() > 0xFFFF) {
            error(prefix + "texts", "a string table holds at most 65,535 texts");
            return table;
        }
        for (size_t i = 0; i < table.size(); ++i) {
            std::string where = prefix + "texts." + textKey(unsigned(i));
            if (table[i].find('\0') != std::string::npos)
                warning(where, "holds a NUL character; the uninstaller shows only what comes "
                               "before it");
            checkFormat(table[i], unsigned(i), where);
            table[i] = convert(table[i], where);
        }
        return table;
    }

    // Texts 1, 5, 7, 8, 9 and 10 go through wsprintfA with one path when they
    // hold %s; any other conversion would read an argument that is not there.
    void checkFormat(const std::string& text, unsigned number, const std::string& where) {
        static const unsigned formatted[] = {1, 5, 7, 8, 9, 10};
        if (std::find(std::begin(formatted), std::end(formatted), number) == std::end(formatted))
            return;
        int paths = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%')
                continue;
            char next = i + 1 < text.size() ? text[i + 1] : '\0';
            if (next == '%') {
                ++i;
            } else if (next == 's') {
                ++paths, ++i;
            } else {
                std::string conversion = text.substr(i, 2);
                warning(where, "holds " + ticked(conversion) +
                                   ", which the uninstaller shows as it stands: it fills in only "
                                   "%s (the path); write a percent sign as %%");
                return;
            }
        }
        if (paths > 1)
            warning(where, "holds %s " + std::to_string(paths) +
                               " times; the uninstaller fills in only one path");
    }

    OptionsItem options(const OptionsItem& o, const std::string& where) {
        OptionsItem spec = o;
        spec.preUninstall = optionText(o.preUninstall, where + ".preUninstall");
        spec.closingDocument = optionText(o.closingDocument, where + ".closingDocument");
        if (!o.preUninstall.empty()) {
            const std::string& t = spec.preUninstall;
            size_t p = t[0] == '"' ? 1 : 0;
            while (p < t.size() && (t[p] == ' ' || t[p] == '\t'))
                ++p;
            if (p < t.size() && t[p] == '#') {
                checkMacros(t, where + ".preUninstall");
            } else {
                size_t length = kShortestInstallDir + (t[0] == '"' ? 1 : 0) + t.size() - p;
                if (length > kMaxPath)
                    warning(where + ".preUninstall",
                            "the command made relative to the installation folder holds at least " +
                                std::to_string(length) + " characters, more than " +
                                std::to_string(kMaxPath) +
                                "; it does not fit the uninstaller's "
                                "path buffer");
            }
        }
        if (storedOptionFlags(o) & OF_WAIT && o.preUninstall.empty())
            warning(where + ".wait", "there is no pre-uninstall program to wait for");
        return spec;
    }

    std::string optionText(const std::string& text, const std::string& where) {
        if (text.find('\0') != std::string::npos)
            error(where, "holds a NUL character, which would end the text early");
        return convert(text, where, false);
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

    // How the uninstaller reads a file entry's folder: a folder starting with
    // "." is the installation folder, followed by what comes after ".\" if
    // that is how it starts; anything else is used as it is.
    bool checkFileFolder(const std::string& folder, const std::string& where) {
        if (folder.empty()) {
            error(where, "is empty, so the uninstaller resolves the entry against its current "
                         "folder; write `.` for the installation folder");
            return false;
        }
        if (folder[0] == '.' && folder != "." && folder[1] != '\\') {
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
        if (folder[0] != '.' && !isFullPath(folder)) {
            std::string how = folder[0] == '#' ? "folder macros are not expanded in file entries, "
                                                 "so it is resolved against the uninstaller's "
                                                 "current folder"
                                               : "it is resolved against the uninstaller's current "
                                                 "folder, not the installation folder";
            std::string rest = folder;
            std::replace(rest.begin(), rest.end(), '/', '\\');
            error(where, ticked(folder) + ": " + how + "; write " + ticked(".\\" + rest) +
                             " or a full path");
            return false;
        }
        return true;
    }

    std::vector<FileItem> files(const std::vector<FileItem>& items, const std::string& prefix) {
        std::vector<FileItem> out;
        std::map<std::string, size_t> seen;
        for (size_t i = 0; i < items.size(); ++i) {
            const FileItem& item = items[i];
            std::string where = prefix + "[" + std::to_string(i) + "]";
            FileItem f;
            f.folder = convert(item.folder, where + ".folder", true, true);
            f.name = convert(item.name, where + ".name", true, true);
            f.flags = item.flags;
            if (f.folder.size() + f.name.size() > FILE_ENTRY_STRING_LIMIT)
                error(where, "folder and name hold " +
                                 std::to_string(f.folder.size() + f.name.size()) +
                                 " bytes together; the uninstaller reads at most " +
                                 std::to_string(FILE_ENTRY_STRING_LIMIT));
            bool nul = checkNul(item.folder, where + ".folder");
            nul = checkNul(item.name, where + ".name") || nul;
            if (!nul && checkFileFolder(item.folder, where + ".folder")) {
                checkFolderNames(item.folder, where + ".folder");
                if (!item.name.empty())
                    checkName(item.name, where + ".name");
                checkLength(fullPathLength(f.folder, f.name), where, "the full path");
            }
            std::string key = lowered(item.folder) + "|" + lowered(item.name);
            if (!seen.emplace(key, i).second)
                warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
            if (f.name.empty()) {
                if (isFullPath(item.folder))
                    checkProtected(f.folder, where, "the uninstaller never removes this folder");
                if (f.flags)
                    warning(where, "flags are ignored on a folder entry");
                // The list is handled from its end: a folder listed after what it
                // holds is tried while it is still full.
                std::string inside = lowered(item.folder) + "\\";
                for (size_t k = 0; k < i; ++k) {
                    std::string other = lowered(items[k].folder);
                    if ((other == lowered(item.folder) && !items[k].name.empty()) ||
                        other.rfind(inside, 0) == 0) {
                        warning(where, "the folder entry comes after " + prefix + "[" +
                                           std::to_string(k) +
                                           "], which is inside it; the uninstaller works from the "
                                           "last entry back and tries the folder while it is "
                                           "still full: list the folder first");
                        break;
                    }
                }
            }
            out.push_back(std::move(f));
        }
        return out;
    }

    std::vector<GroupItem> groups(const std::vector<GroupItem>& items, const std::string& prefix) {
        std::vector<GroupItem> out;
        std::map<std::string, size_t> seen;
        for (size_t i = 0; i < items.size(); ++i) {
            const GroupItem& item = items[i];
            std::string where = prefix + "[" + std::to_string(i) + "]";
            GroupItem g;
            if (item.levels > 255)
                error(where + ".levels", "must be 0 to 255");
            g.levels = item.levels;
            g.folder = convert(item.folder, where + ".folder", true, true);
            g.secondFolder = convert(item.secondFolder, where + ".secondFolder", true, true);
            g.fileName = convert(item.fileName, where + ".fileName", true, true);
            bool nul = checkNul(item.folder, where + ".folder");
            nul = checkNul(item.secondFolder, where + ".secondFolder") || nul;
            nul = checkNul(item.fileName, where + ".fileName") || nul;
            if (!nul) {
                checkFolderNames(item.folder, where + ".folder");
                checkFolderNames(item.secondFolder, where + ".secondFolder");
                if (!item.fileName.empty())
                    checkName(item.fileName, where + ".fileName");
            }
            std::string key = lowered(item.folder) + "|" + lowered(item.secondFolder) + "|" +
                              lowered(item.fileName);
            if (!seen.emplace(key, i).second)
                warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
            size_t total = g.folder.size() + g.secondFolder.size() + g.fileName.size();
            if (total > GROUP_ENTRY_STRING_LIMIT)
                error(where, "the three strings hold " + std::to_string(total) +
                                 " bytes together; the uninstaller reads at most " +
                                 std::to_string(GROUP_ENTRY_STRING_LIMIT));
            checkLength(g.folder.size(), where + ".folder", "the folder");
            checkLength(g.secondFolder.size(), where + ".secondFolder", "the folder");
            if (!g.fileName.empty())
                checkLength(g.folder.size() +
                                (g.folder.empty() || g.folder.back() == '\\' ? 0 : 1) +
                                g.fileName.size(),
                            where + ".fileName", "the file's full path");
            if (g.folder.empty()) {
                warning(where + ".folder", "is empty; the uninstaller removes no folder for this "
                                           "entry");
            } else {
                checkProtected(g.folder, where + ".folder",
                               "the uninstaller skips the entry's folders");
            }
            if (!g.secondFolder.empty())
                checkProtected(g.secondFolder, where + ".secondFolder",
                               "the uninstaller removes neither folder of the entry");
            out.push_back(std::move(g));
        }
        return out;
    }

    std::vector<RegistryItem> registry(const std::vector<RegistryItem>& items,
                                       const std::string& prefix) {
        std::vector<RegistryItem> out;
        std::map<std::string, size_t> seen;
        for (size_t i = 0; i < items.size(); ++i) {
            const RegistryItem& item = items[i];
            std::string where = prefix + "[" + std::to_string(i) + "]";
            // Converted as it is stored, as one path.
            std::string path = convert(registryPath(item), where);
            checkNul(item.key, where + ".key");
            if (item.value)
                checkNul(*item.value, where + ".value");
            std::string key = std::to_string(item.root) + "|" + lowered(path);
            if (!seen.emplace(key, i).second)
                warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
            if (path.size() > REGISTRY_ENTRY_STRING_LIMIT)
                error(where, "the path holds " + std::to_string(path.size()) +
                                 " bytes; the uninstaller reads at most " +
                                 std::to_string(REGISTRY_ENTRY_STRING_LIMIT));
            if (!item.value)
                if (std::optional<std::string> branch = hiveBranch(item.root, item.key))
                    error(where + ".key",
                          ticked(item.key) + " reaches " +
                              (item.key.find_first_not_of('\\') == std::string::npos
                                   ? *branch
                                   : "the whole branch " + ticked(*branch)) +
                              ", which holds other products' or the system's keys; name the "
                              "product's own key");
            if (item.value && item.value->find('\\') != std::string::npos)
                warning(where + ".value", "holds a backslash; the uninstaller reads the entry "
                                          "as a key, or as another value");
            if (!item.value && item.key.size() >= 2 &&
                item.key.compare(item.key.size() - 2, 2, "\\\\") == 0)
                warning(where + ".key", "ends in two backslashes; the uninstaller reads it as "
                                        "the key's default value");
            if (!registryRootName(item.root))
                warning(where + ".root", "is not one of the predefined root keys");
            out.push_back(registryItem(item.root, path));
        }
        return out;
    }

    std::vector<std::string> patterns(const std::vector<std::string>& items,
                                      const std::string& prefix) {
        std::vector<std::string> out;
        std::map<std::string, size_t> seen;
        for (size_t i = 0; i < items.size(); ++i) {
            std::string where = prefix + "[" + std::to_string(i) + "]";
            std::string p = convert(items[i], where, false, true);
            if (p.empty())
                error(where, "an empty pattern ends the list; the patterns after it would be lost");
            if (p.find('\0') != std::string::npos)
                error(where, "holds a NUL character, which would split the pattern");
            {
                std::string parts = items[i];
                std::replace(parts.begin(), parts.end(), '/', '\\');
                std::vector<std::string> components = pathComponents(parts);
                if (std::find(components.begin(), components.end(), "..") != components.end())
                    error(where, ticked(items[i]) + " climbs out of its folder with `..`; the "
                                                    "uninstaller would remove files outside it");
            }
            std::string key = lowered(items[i]);
            if (!seen.emplace(key, i).second)
                warning(where, "repeats " + prefix + "[" + std::to_string(seen[key]) + "]");
            if (p.find('#') != std::string::npos) {
                checkMacros(p, where);
                std::string literal;
                size_t length = 0;
                size_t pos = 0;
                for (const Token& t : macroTokens(p)) {
                    literal += p.substr(pos, t.start - pos);
                    length += kShortestInstallDir;
                    pos = t.start + t.length;
                }
                literal += p.substr(pos);
                length += literal.size();
                if (literal.find('\\') == std::string::npos) {
                    warning(where, "has no backslash of its own: the uninstaller splits it at "
                                   "the last backslash of the expanded folder");
                } else {
                    std::string folder = p.substr(0, p.rfind('\\'));
                    checkProtected(folder, where, "the uninstaller skips the pattern");
                }
                checkLength(length, where, "the expanded pattern");
            } else {
                checkLength(kShortestInstallDir + p.size(), where, "the full pattern");
            }
            out.push_back(std::move(p));
        }
        return out;
    }

    void raw(const RawRecord& r, const std::string& where) {
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
            rawOptions(r.body, where);
    }

    // An options block given as bytes: texts that no offset reaches, and
    // offsets that reach no text, are passed over by the uninstaller.
    void rawOptions(const Bytes& body, const std::string& where) {
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

    const Manifest& m_;
    std::vector<Diagnostic>& out_;
    bool codePageUsable_ = true;
};

} // namespace

std::string formatDiagnostic(const Diagnostic& d) {
    std::string text = d.level == Diagnostic::Level::Error ? "error: " : "warning: ";
    if (!d.where.empty())
        text += d.where + ": ";
    return text + d.message;
}

std::vector<Diagnostic> checkManifest(const Manifest& manifest) {
    std::vector<Diagnostic> out;
    Encoder(manifest, out).encode();
    return out;
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

std::optional<std::string> stubProblem(const Bytes& stub) {
    auto u32 = [&](size_t at) {
        return uint32_t(stub[at]) | uint32_t(stub[at + 1]) << 8 | uint32_t(stub[at + 2]) << 16 |
               uint32_t(stub[at + 3]) << 24;
    };
    if (stub.size() < 0x40 || stub[0] != 'M' || stub[1] != 'Z')
        return std::string("not a PE file (no MZ header); give the bare uninst.exe");
    uint32_t pe = u32(0x3C);
    if (size_t(pe) + 4 > stub.size() || std::memcmp(&stub[pe], "PE\0\0", 4) != 0)
        return std::string("not a PE file (no PE signature); give the bare uninst.exe");
    std::optional<size_t> field = findLocatorField(stub);
    if (!field) {
        const char* marker = PAYLOAD_MARKER;
        bool any = std::search(stub.begin(), stub.end(), marker, marker + PAYLOAD_MARKER_LENGTH) !=
                   stub.end();
        return std::string(any ? "holds the payload marker more than once"
                               : "has no payload marker; it is not a Varnel uninstaller stub");
    }
    uint32_t locator = readLocator(stub, *field);
    if (locator != 0 && locator < stub.size())
        return std::string("already packed; use the bare stub");
    return std::nullopt;
}

PackError::PackError(std::vector<Diagnostic> errors)
    : std::runtime_error(errors.empty() ? "the manifest cannot be packed"
                                        : formatDiagnostic(errors.front())),
      errors(std::move(errors)) {}

Bytes buildPayload(const Manifest& manifest) {
    std::vector<Diagnostic> diagnostics;
    Bytes payload = Encoder(manifest, diagnostics).encode();
    if (hasErrors(diagnostics)) {
        std::vector<Diagnostic> errors;
        for (const Diagnostic& d : diagnostics)
            if (d.level == Diagnostic::Level::Error)
                errors.push_back(d);
        throw PackError(std::move(errors));
    }
    return payload;
}

Bytes payloadBytesUnchecked(const Manifest& manifest) {
    std::vector<Diagnostic> ignored;
    return Encoder(manifest, ignored).encode();
}

Bytes buildUninstaller(const Bytes& stub, const Manifest& manifest) {
    return attachPayload(stub, buildPayload(manifest));
}

} // namespace varnel
