#include "scope.h"

#include <cstring>

#include "ascii_text.h"
#include "rules.h"

namespace varnel {
namespace {

// Little-endian numbers at an offset; false when they do not lie inside.
struct Reader {
    const Bytes& bytes;
    bool u16(size_t at, uint32_t* out) const {
        if (at > bytes.size() || bytes.size() - at < 2)
            return false;
        *out = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8;
        return true;
    }
    bool u32(size_t at, uint32_t* out) const {
        if (at > bytes.size() || bytes.size() - at < 4)
            return false;
        *out = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
        return true;
    }
};

enum { kManifestType = 24, kManifestId = 1, kResourceDirectory = 2 };

// The bytes of resource type 24, id 1, first language, of a PE file; false
// when it has none or any offset on the way leads outside the file.
bool manifestResource(const Bytes& exe, std::string* out) {
    Reader r{exe};
    uint32_t pe, sections, optionalSize, magic, rva, count;
    if (exe.size() < 0x40 || exe[0] != 'M' || exe[1] != 'Z' || !r.u32(0x3C, &pe) ||
        !r.u32(pe, &magic) || magic != 0x4550 || !r.u16(size_t(pe) + 6, &sections) ||
        !r.u16(size_t(pe) + 20, &optionalSize))
        return false;
    size_t optional = size_t(pe) + 24;
    if (!r.u16(optional, &magic) || (magic != 0x10B && magic != 0x20B))
        return false;
    size_t directories = optional + (magic == 0x10B ? 96 : 112);
    if (!r.u32(directories - 4, &count) || count <= kResourceDirectory ||
        directories + 8 * (kResourceDirectory + 1) > optional + optionalSize ||
        !r.u32(directories + 8 * kResourceDirectory, &rva) || rva == 0)
        return false;
    size_t table = optional + optionalSize;
    // A virtual address as a file offset, with `length` bytes from it inside
    // one section's data.
    auto offset = [&](uint32_t address, uint32_t length, size_t* at) {
        for (uint32_t i = 0; i < sections; ++i) {
            uint32_t virtualAddress, rawSize, rawOffset;
            size_t header = table + 40 * size_t(i);
            if (!r.u32(header + 12, &virtualAddress) || !r.u32(header + 16, &rawSize) ||
                !r.u32(header + 20, &rawOffset))
                return false;
            if (address < virtualAddress || address - virtualAddress >= rawSize ||
                rawSize - (address - virtualAddress) < length)
                continue;
            uint64_t start = uint64_t(rawOffset) + (address - virtualAddress);
            if (start > exe.size() || exe.size() - start < length)
                return false;
            *at = size_t(start);
            return true;
        }
        return false;
    };
    size_t root;
    if (!offset(rva, 16, &root))
        return false;
    // The entry of `id` in the directory at `directory` (below the root), or
    // its first entry when `id` is 0; its data offset, high bit and all.
    auto entry = [&](uint32_t directory, uint32_t id, uint32_t* data) {
        uint32_t named, ids;
        size_t at = root + directory;
        if (!r.u16(at + 12, &named) || !r.u16(at + 14, &ids))
            return false;
        for (uint32_t i = 0; i < named + ids; ++i) {
            uint32_t name;
            if (!r.u32(at + 16 + 8 * size_t(i), &name) || !r.u32(at + 20 + 8 * size_t(i), data))
                return false;
            if (id == 0 || name == id)
                return true;
        }
        return false;
    };
    uint32_t types, names, languages, data, size;
    if (!entry(0, kManifestType, &types) || !(types & 0x80000000u) ||
        !entry(types & 0x7FFFFFFFu, kManifestId, &names) || !(names & 0x80000000u) ||
        !entry(names & 0x7FFFFFFFu, 0, &languages) || (languages & 0x80000000u) ||
        !r.u32(root + languages, &data) || !r.u32(root + languages + 4, &size))
        return false;
    size_t at;
    if (!offset(data, size, &at))
        return false;
    out->assign(exe.begin() + long(at), exe.begin() + long(at + size));
    return true;
}

// The level attribute of the manifest's requestedExecutionLevel element.
std::optional<std::string> levelAttribute(const std::string& xml) {
    size_t element = xml.find("<requestedExecutionLevel");
    if (element == std::string::npos)
        return std::nullopt;
    size_t end = xml.find('>', element);
    std::string tag = xml.substr(element, end == std::string::npos ? end : end - element);
    for (size_t at = tag.find("level"); at != std::string::npos; at = tag.find("level", at + 1)) {
        if (tag[at - 1] != ' ' && tag[at - 1] != '\t' && tag[at - 1] != '\r' && tag[at - 1] != '\n')
            continue;
        size_t equals = tag.find_first_not_of(" \t\r\n", at + 5);
        if (equals == std::string::npos || tag[equals] != '=')
            continue;
        size_t quote = tag.find_first_not_of(" \t\r\n", equals + 1);
        if (quote == std::string::npos || (tag[quote] != '"' && tag[quote] != '\''))
            return std::nullopt;
        size_t close = tag.find(tag[quote], quote + 1);
        if (close == std::string::npos)
            return std::nullopt;
        return tag.substr(quote + 1, close - quote - 1);
    }
    return std::nullopt;
}

// Whether a canonical full path lies in a user's own profile as Windows lays
// the profiles out: the profile folder of a user who is not one of the shared
// profiles, or below it.
bool inUserProfile(const std::string& path) {
    static const char* const parents[] = {"\\Users\\", "\\Documents and Settings\\"};
    static const char* const shared[] = {"Public", "All Users", "Default", "Default User"};
    if (!isAsciiLetter(path[0]) || path[1] != ':')
        return false;
    for (const char* parent : parents) {
        size_t length = std::strlen(parent);
        if (path.size() <= 2 + length || !sameText(path.substr(2, length), parent))
            continue;
        std::string name = path.substr(2 + length, path.find('\\', 2 + length) - 2 - length);
        for (const char* s : shared)
            if (sameText(name, s))
                return false;
        return !name.empty();
    }
    return false;
}

// A full path as the checks of a user's space read it: its canonical text, an
// administrative share of a drive (\\HOST\C$\...) read as that drive.
std::string spaceText(const std::string& path) {
    std::string text = canonicalText(path);
    size_t share = text.rfind("\\\\", 0) == 0 ? text.find('\\', 2) : std::string::npos;
    if (share == std::string::npos || share + 3 > text.size() || !isAsciiLetter(text[share + 1]) ||
        text[share + 2] != '$' || (share + 3 < text.size() && text[share + 3] != '\\'))
        return text;
    return text.substr(share + 1, 1) + ":" +
           (share + 3 < text.size() ? text.substr(share + 3) : std::string("\\"));
}

// Why the place of a full path cannot be told off the machine, if it cannot:
// a part of the 8.3 form with a "~" after its first character may be a short
// name, which names whatever the machine's file system says.
std::optional<std::string> shortNameIn(const std::string& path) {
    bool found = false;
    for (size_t start = 0; start <= path.size() && !found;) {
        size_t end = std::min(path.find('\\', start), path.size());
        std::string part = path.substr(start, end - start);
        size_t tilde = part.find('~'), dot = part.rfind('.');
        size_t base = dot == std::string::npos ? part.size() : dot;
        found = tilde != std::string::npos && tilde > 0 && tilde < base && base <= 8 &&
                part.size() - base <= 4;
        start = end + 1;
    }
    if (!found)
        return std::nullopt;
    return "`" + path +
           "` holds a part with \"~\", which may be a short name, and only the "
           "machine can tell which folder that names; write the long names";
}

} // namespace

std::string canonicalText(const std::string& path) {
    if (path.size() >= PATH_BUFFER_SIZE)
        return path;
    char buffer[PATH_BUFFER_SIZE];
    std::strcpy(buffer, path.c_str());
    return tidyPath(buffer) ? std::string(buffer) : path;
}

Scope productScope(const Manifest& m) {
    if (m.scope)
        return *m.scope;
    return m.registration && m.registration->root == ROOT_HKCU ? Scope::User : Scope::Machine;
}

const char* scopeName(Scope scope) {
    return scope == Scope::User ? "user" : "machine";
}

const char* stubFileName(Scope scope) {
    return scope == Scope::User ? "uninst-user.exe" : "uninst.exe";
}

const char* executionLevel(Scope scope) {
    return scope == Scope::User ? "asInvoker" : "requireAdministrator";
}

std::optional<std::string> requestedExecutionLevel(const Bytes& executable) {
    std::string xml;
    if (!manifestResource(executable, &xml))
        return std::nullopt;
    return levelAttribute(xml);
}

std::optional<Scope> stubScope(const Bytes& executable) {
    std::optional<std::string> level = requestedExecutionLevel(executable);
    for (Scope scope : {Scope::Machine, Scope::User})
        if (level == executionLevel(scope))
            return scope;
    return std::nullopt;
}

std::optional<std::string> stubScopeProblem(const Bytes& stub, Scope scope) {
    std::optional<std::string> level = requestedExecutionLevel(stub);
    if (scope == Scope::Machine)
        return level == executionLevel(Scope::User)
                   ? std::optional<std::string>(
                         "runs with the rights of its caller (requestedExecutionLevel asInvoker), "
                         "which cannot remove a product installed per machine: give uninst.exe")
                   : std::nullopt;
    if (level == executionLevel(Scope::User))
        return std::nullopt;
    return (level ? "asks for requestedExecutionLevel " + *level
                  : std::string("has no requestedExecutionLevel, and Windows may raise a program "
                                "by its name alone")) +
           "; a product installed per user needs uninst-user.exe (asInvoker): an elevated "
           "uninstaller would act on folders that any program of the user can change";
}

bool isUserFolderMacro(int macro) {
    switch (macro) {
    case MACRO_TEMP:
    case MACRO_MY_DOCUMENTS:
    case MACRO_DESKTOP:
    case MACRO_APP_DATA:
    case MACRO_LOCAL_APP_DATA:
    case MACRO_USER_DIR:
    case MACRO_INSTALL_DIR:
        return true;
    default:
        return false;
    }
}

std::string withoutUnknownMacros(const std::string& text) {
    std::string out;
    const char* read = text.c_str();
    for (const char* end; const char* open = findMacroToken(read, &end); read = end)
        out.append(read, macroNumber(open, size_t(end - open)) < 0 ? open : end);
    return out + read;
}

std::optional<std::string> outsideUserSpace(const std::string& given) {
    const std::string path = withoutUnknownMacros(given);
    const char* read = path.c_str();
    bool macros = false;
    for (const char* end; const char* open = findMacroToken(read, &end); read = end) {
        int macro = macroNumber(open, size_t(end - open));
        if (macro >= 0 && !isUserFolderMacro(macro))
            return "\"" + std::string(macroNames[macro]) +
                   "\" is a folder of the machine, not of the user";
        macros = true;
    }
    if (macros || folderAnchor(path.c_str()) != ANCHOR_FULL)
        return std::nullopt;
    if (std::optional<std::string> why = shortNameIn(path))
        return why;
    if (inUserProfile(spaceText(path)))
        return std::nullopt;
    return "`" + path +
           "` is outside a user's profile (`X:\\Users\\NAME\\...`, `X:\\Documents and "
           "Settings\\NAME\\...`)";
}

std::optional<std::string> userFolder(const std::string& given) {
    const std::string path = withoutUnknownMacros(given);
    const char* end;
    if (findMacroToken(path.c_str(), &end) == path.c_str()) {
        int macro = macroNumber(path.c_str(), size_t(end - path.c_str()));
        if (macro < 0 || macro == MACRO_INSTALL_DIR || !isUserFolderMacro(macro))
            return std::nullopt;
        return "\"" + std::string(macroNames[macro]) + "\" is a folder of the user's";
    }
    if (folderAnchor(path.c_str()) != ANCHOR_FULL)
        return std::nullopt;
    if (std::optional<std::string> why = shortNameIn(path))
        return why;
    if (!inUserProfile(spaceText(path)))
        return std::nullopt;
    return "`" + path + "` is in a user's profile";
}

} // namespace varnel
