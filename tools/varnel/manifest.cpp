#include "manifest.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ascii_text.h"
#include "fileio.h"
#include "texts.h"

namespace varnel {

const char* const kNoLanguage = "none";

ManifestError::ManifestError(const std::string& where, const std::string& problem)
    : std::runtime_error(where.empty() ? problem : where + ": " + problem), where(where),
      problem(problem) {}

namespace {

// The problems found while a manifest is read. A step that fails adds its
// problem here, and reading goes on with the next entry or key.
struct Problems {
    std::vector<ManifestError> found;
    std::vector<std::string> unreadable; // entries that could not be read whole

    template <typename Step> bool attempt(Step step) {
        try {
            step();
            return true;
        } catch (const ManifestError& e) {
            found.push_back(e);
            return false;
        }
    }
    // One entry of a list: kept in its place whether or not it could be read.
    template <typename Item, typename Step>
    void entry(std::vector<Item>& list, const std::string& where, Step step) {
        Item item{};
        if (!attempt([&] { step(item); }))
            unreadable.push_back(where);
        list.push_back(std::move(item));
    }
};

struct RootName {
    uint32_t root;
    const char* shortName;
    const char* longName;
};

const RootName kRoots[] = {
    {ROOT_HKCR, "HKCR", "HKEY_CLASSES_ROOT"},     {ROOT_HKCU, "HKCU", "HKEY_CURRENT_USER"},
    {ROOT_HKLM, "HKLM", "HKEY_LOCAL_MACHINE"},    {ROOT_HKU, "HKU", "HKEY_USERS"},
    {ROOT_HKPD, "HKPD", "HKEY_PERFORMANCE_DATA"}, {ROOT_HKCC, "HKCC", "HKEY_CURRENT_CONFIG"},
    {ROOT_HKDD, "HKDD", "HKEY_DYN_DATA"},
};

struct FlagName {
    uint8_t bit;
    const char* name;
};

const FlagName kFileFlags[] = {
    {FE_SHARED, "shared"},
    {FE_FONT, "font"},
    {FE_SELFREG, "selfreg"},
    {FE_CHECKINUSE, "checkInUse"},
};

std::string hexTag(uint16_t tag) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%04X", tag);
    return buffer;
}

std::string toHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Walks a JSON value, naming every place it looks at in its errors.
class Reader {
  public:
    Reader(const Json& json, std::string where) : json_(json), where_(std::move(where)) {}

    [[noreturn]] void fail(const std::string& problem) const {
        throw ManifestError(where_, problem);
    }

    const Json& json() const { return json_; }
    const std::string& where() const { return where_; }

    Reader member(const std::string& key) const {
        return Reader(json_.at(key), where_.empty() ? key : where_ + "." + key);
    }
    Reader element(size_t i) const {
        return Reader(json_.at(i), where_ + "[" + std::to_string(i) + "]");
    }
    bool has(const std::string& key) const { return json_.contains(key); }

    // Every unknown key is a problem of its own.
    void expectObject(std::initializer_list<const char*> allowed, Problems& problems) const {
        if (!json_.is_object())
            fail("must be an object");
        for (auto it = json_.begin(); it != json_.end(); ++it)
            if (std::none_of(allowed.begin(), allowed.end(),
                             [&](const char* k) { return it.key() == k; }))
                problems.attempt([&] {
                    Reader(*it, where_.empty() ? it.key() : where_ + "." + it.key())
                        .fail("unknown key");
                });
    }
    void expectArray() const {
        if (!json_.is_array())
            fail("must be an array");
    }
    std::string string() const {
        if (!json_.is_string())
            fail("must be a string");
        return json_.get<std::string>();
    }
    bool boolean() const {
        if (!json_.is_boolean())
            fail("must be true or false");
        return json_.get<bool>();
    }
    uint64_t unsignedNumber(uint64_t maximum) const {
        if (!json_.is_number_unsigned())
            fail("must be a whole number from 0 to " + std::to_string(maximum));
        uint64_t v = json_.get<uint64_t>();
        if (v > maximum)
            fail("must be a whole number from 0 to " + std::to_string(maximum));
        return v;
    }
    // A number, or a string holding one in decimal or with 0x in hexadecimal.
    uint64_t numberOrHex(uint64_t maximum) const {
        if (!json_.is_string())
            return unsignedNumber(maximum);
        std::string s = json_.get<std::string>();
        char* end = nullptr;
        unsigned long long v = std::strtoull(s.c_str(), &end, 0);
        if (s.empty() || *end != 0 || v > maximum || s[0] == '-')
            fail("must be a number from 0 to " + std::to_string(maximum));
        return v;
    }

  private:
    const Json& json_;
    std::string where_;
};

TextSet readTextSet(const Reader& object, Problems& problems) {
    TextSet set;
    if (object.has("language"))
        set.language = object.member("language").string();
    if (!sameText(set.language, kNoLanguage) && !languageTexts(set.language))
        object.member("language").fail("unknown language \"" + set.language + "\"");
    if (object.has("texts")) {
        Reader texts = object.member("texts");
        if (!texts.json().is_object())
            texts.fail("must be an object");
        for (auto it = texts.json().begin(); it != texts.json().end(); ++it)
            problems.attempt([&] {
                Reader text = texts.member(it.key());
                std::optional<unsigned> number = textNumber(it.key());
                if (!number)
                    text.fail("unknown text name (use a name such as \"caption\" or a number)");
                if (set.texts.count(*number))
                    text.fail("text " + std::to_string(*number) + " is given twice");
                set.texts[*number] = text.string();
            });
    }
    return set;
}

void writeTextSet(Json& out, const TextSet& set) {
    out["language"] = set.language;
    if (!set.texts.empty()) {
        Json texts = Json::object();
        for (const auto& [number, text] : set.texts)
            texts[textKey(number)] = text;
        out["texts"] = texts;
    }
}

OptionsItem readOptions(const Reader& r, std::initializer_list<const char*> allowed,
                        Problems& problems) {
    r.expectObject(allowed, problems);
    OptionsItem o;
    problems.attempt([&] {
        if (r.has("wait"))
            o.wait = r.member("wait").boolean();
    });
    problems.attempt([&] {
        if (r.has("themed"))
            o.themed = r.member("themed").boolean();
    });
    problems.attempt([&] {
        if (!r.has("extraFlags"))
            return;
        uint32_t extra = uint32_t(r.member("extraFlags").numberOrHex(0xFFFFFFFFu));
        if (extra & (OF_WAIT | OF_THEMED))
            r.member("extraFlags").fail("holds the bits of wait or themed; use those keys");
        o.extraFlags = extra;
    });
    problems.attempt([&] {
        if (r.has("preUninstall"))
            o.preUninstall = r.member("preUninstall").string();
    });
    problems.attempt([&] {
        if (r.has("closingDocument"))
            o.closingDocument = r.member("closingDocument").string();
    });
    return o;
}

void writeOptions(Json& out, const OptionsItem& o) {
    out["wait"] = o.wait;
    out["themed"] = o.themed;
    if (o.extraFlags)
        out["extraFlags"] = o.extraFlags;
    if (!o.preUninstall.empty())
        out["preUninstall"] = o.preUninstall;
    if (!o.closingDocument.empty())
        out["closingDocument"] = o.closingDocument;
}

std::vector<FileItem> readFiles(const Reader& list, Problems& problems) {
    list.expectArray();
    std::vector<FileItem> files;
    for (size_t i = 0; i < list.json().size(); ++i)
        problems.entry(files, list.element(i).where(), [&](FileItem& f) {
            Reader e = list.element(i);
            e.expectObject({"folder", "name", "flags"}, problems);
            if (!e.has("folder"))
                e.fail("needs a \"folder\"");
            f.folder = e.member("folder").string();
            if (e.has("name"))
                f.name = e.member("name").string();
            if (e.has("flags")) {
                Reader flags = e.member("flags");
                flags.expectArray();
                for (size_t k = 0; k < flags.json().size(); ++k) {
                    Reader flag = flags.element(k);
                    if (flag.json().is_string()) {
                        std::string name = flag.string();
                        auto known =
                            std::find_if(std::begin(kFileFlags), std::end(kFileFlags),
                                         [&](const FlagName& n) { return sameText(name, n.name); });
                        if (known == std::end(kFileFlags))
                            flag.fail("unknown flag \"" + name +
                                      "\" (shared, font, selfreg, checkInUse, or a number)");
                        f.flags |= known->bit;
                    } else {
                        f.flags |= uint8_t(flag.unsignedNumber(255));
                    }
                }
            }
        });
    return files;
}

Json writeFiles(const std::vector<FileItem>& files) {
    Json list = Json::array();
    for (const FileItem& f : files) {
        Json e = Json::object();
        e["folder"] = f.folder;
        if (!f.name.empty())
            e["name"] = f.name;
        if (f.flags) {
            Json flags = Json::array();
            uint8_t rest = f.flags;
            for (const FlagName& n : kFileFlags)
                if (f.flags & n.bit) {
                    flags.push_back(n.name);
                    rest &= uint8_t(~n.bit);
                }
            if (rest)
                flags.push_back(rest);
            e["flags"] = flags;
        }
        list.push_back(e);
    }
    return list;
}

std::vector<GroupItem> readGroups(const Reader& list, Problems& problems) {
    list.expectArray();
    std::vector<GroupItem> groups;
    for (size_t i = 0; i < list.json().size(); ++i)
        problems.entry(groups, list.element(i).where(), [&](GroupItem& g) {
            Reader e = list.element(i);
            e.expectObject({"levels", "folder", "secondFolder", "fileName"}, problems);
            if (!e.has("folder"))
                e.fail("needs a \"folder\"");
            g.folder = e.member("folder").string();
            if (e.has("levels"))
                g.levels = unsigned(e.member("levels").unsignedNumber(255));
            if (e.has("secondFolder"))
                g.secondFolder = e.member("secondFolder").string();
            if (e.has("fileName"))
                g.fileName = e.member("fileName").string();
        });
    return groups;
}

Json writeGroups(const std::vector<GroupItem>& groups) {
    Json list = Json::array();
    for (const GroupItem& g : groups) {
        Json e = Json::object();
        e["folder"] = g.folder;
        if (!g.secondFolder.empty())
            e["secondFolder"] = g.secondFolder;
        if (!g.fileName.empty())
            e["fileName"] = g.fileName;
        e["levels"] = g.levels;
        list.push_back(e);
    }
    return list;
}

std::vector<RegistryItem> readRegistry(const Reader& list, Problems& problems) {
    list.expectArray();
    std::vector<RegistryItem> entries;
    for (size_t i = 0; i < list.json().size(); ++i)
        problems.entry(entries, list.element(i).where(), [&](RegistryItem& r) {
            Reader e = list.element(i);
            e.expectObject({"root", "key", "value"}, problems);
            if (!e.has("root") || !e.has("key"))
                e.fail("needs a \"root\" and a \"key\"");
            Reader root = e.member("root");
            if (root.json().is_string() && registryRoot(root.json().get<std::string>()))
                r.root = *registryRoot(root.json().get<std::string>());
            else if (root.json().is_string() && root.json().get<std::string>().rfind("0x", 0) != 0)
                root.fail("unknown root \"" + root.json().get<std::string>() +
                          "\" (HKCR, HKCU, HKLM, HKU, HKPD, HKCC, HKDD, or a number)");
            else
                r.root = uint32_t(root.numberOrHex(0xFFFFFFFFu));
            r.key = e.member("key").string();
            if (e.has("value"))
                r.value = e.member("value").string();
        });
    return entries;
}

Json writeRegistry(const std::vector<RegistryItem>& entries) {
    Json list = Json::array();
    for (const RegistryItem& r : entries) {
        Json e = Json::object();
        if (std::optional<std::string> name = registryRootName(r.root)) {
            e["root"] = *name;
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%08X", unsigned(r.root));
            e["root"] = buffer;
        }
        e["key"] = r.key;
        if (r.value)
            e["value"] = *r.value;
        list.push_back(e);
    }
    return list;
}

std::vector<std::string> readPatterns(const Reader& list, Problems& problems) {
    list.expectArray();
    std::vector<std::string> patterns;
    for (size_t i = 0; i < list.json().size(); ++i)
        problems.entry(patterns, list.element(i).where(),
                       [&](std::string& p) { p = list.element(i).string(); });
    return patterns;
}

Bytes fromHex(const Reader& r) {
    std::string s = r.string();
    if (s.size() % 2)
        r.fail("must hold an even number of hexadecimal digits");
    Bytes out;
    for (size_t i = 0; i < s.size(); i += 2) {
        int value = 0;
        for (size_t k = i; k < i + 2; ++k) {
            char c = asciiLowerChar(s[k]);
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0)
                r.fail("must hold only hexadecimal digits");
            value = value * 16 + digit;
        }
        out.push_back(uint8_t(value));
    }
    return out;
}

RecordItem readRecord(const Reader& r, Problems& problems) {
    if (!r.json().is_object())
        r.fail("must be an object");
    RecordItem item;
    if (r.has("tag")) {
        r.expectObject({"tag", "flags", "reserved", "body"}, problems);
        item.kind = RecordKind::Raw;
        item.raw.tag = uint16_t(r.member("tag").numberOrHex(0xFFFF));
        if (r.has("flags"))
            item.raw.flags = uint8_t(r.member("flags").numberOrHex(255));
        if (r.has("reserved"))
            item.raw.reserved = uint8_t(r.member("reserved").numberOrHex(255));
        if (r.has("body"))
            item.raw.body = fromHex(r.member("body"));
        return item;
    }
    if (!r.has("type"))
        r.fail("needs a \"type\" (strings, options, files, groups, registry, patterns, end) or "
               "a \"tag\"");
    std::string type = r.member("type").string();
    if (type == "strings") {
        r.expectObject({"type", "language", "texts"}, problems);
        item.kind = RecordKind::Strings;
        item.texts = readTextSet(r, problems);
    } else if (type == "options") {
        item.kind = RecordKind::Options;
        item.options = readOptions(
            r, {"type", "wait", "themed", "extraFlags", "preUninstall", "closingDocument"},
            problems);
    } else if (type == "files") {
        r.expectObject({"type", "files"}, problems);
        item.kind = RecordKind::Files;
        if (r.has("files"))
            item.files = readFiles(r.member("files"), problems);
    } else if (type == "groups") {
        r.expectObject({"type", "groups"}, problems);
        item.kind = RecordKind::Groups;
        if (r.has("groups"))
            item.groups = readGroups(r.member("groups"), problems);
    } else if (type == "registry") {
        r.expectObject({"type", "registry"}, problems);
        item.kind = RecordKind::Registry;
        if (r.has("registry"))
            item.registry = readRegistry(r.member("registry"), problems);
    } else if (type == "patterns") {
        r.expectObject({"type", "patterns"}, problems);
        item.kind = RecordKind::Patterns;
        if (r.has("patterns"))
            item.patterns = readPatterns(r.member("patterns"), problems);
    } else if (type == "end") {
        r.expectObject({"type"}, problems);
        item.kind = RecordKind::End;
    } else {
        r.member("type").fail("unknown record type \"" + type + "\"");
    }
    return item;
}

Json writeRecord(const RecordItem& item) {
    Json out = Json::object();
    switch (item.kind) {
    case RecordKind::Strings:
        out["type"] = "strings";
        writeTextSet(out, item.texts);
        break;
    case RecordKind::Options:
        out["type"] = "options";
        writeOptions(out, item.options);
        break;
    case RecordKind::Files:
        out["type"] = "files";
        out["files"] = writeFiles(item.files);
        break;
    case RecordKind::Groups:
        out["type"] = "groups";
        out["groups"] = writeGroups(item.groups);
        break;
    case RecordKind::Registry:
        out["type"] = "registry";
        out["registry"] = writeRegistry(item.registry);
        break;
    case RecordKind::Patterns:
        out["type"] = "patterns";
        out["patterns"] = item.patterns;
        break;
    case RecordKind::End:
        out["type"] = "end";
        break;
    case RecordKind::Raw:
        out["tag"] = hexTag(item.raw.tag);
        if (item.raw.flags)
            out["flags"] = item.raw.flags;
        if (item.raw.reserved)
            out["reserved"] = item.raw.reserved;
        out["body"] = toHex(item.raw.body);
        break;
    }
    return out;
}

} // namespace

namespace {

Registration readRegistration(const Reader& r, Problems& problems) {
    r.expectObject({"key", "root", "displayName", "publisher", "version", "urlInfoAbout",
                    "helpLink", "urlUpdateInfo", "comments", "estimatedSize", "displayIcon"},
                   problems);
    Registration g;
    if (!r.has("key") || !r.has("root"))
        r.fail("needs a \"key\" (its name below ...\\CurrentVersion\\Uninstall) and a \"root\" "
               "(HKLM per machine, HKCU per user)");
    g.key = r.member("key").string();
    std::optional<uint32_t> root = registryRoot(r.member("root").string());
    if (root != ROOT_HKLM && root != ROOT_HKCU)
        r.member("root").fail("must be HKLM (per machine) or HKCU (per user)");
    g.root = *root;
    std::pair<const char*, std::string*> texts[] = {
        {"displayName", &g.displayName}, {"publisher", &g.publisher},
        {"version", &g.version},         {"urlInfoAbout", &g.urlInfoAbout},
        {"helpLink", &g.helpLink},       {"urlUpdateInfo", &g.urlUpdateInfo},
        {"comments", &g.comments},       {"displayIcon", &g.displayIcon}};
    for (const auto& [name, text] : texts)
        problems.attempt([&, name = name, text = text] {
            if (r.has(name))
                *text = r.member(name).string();
        });
    problems.attempt([&] {
        if (r.has("estimatedSize"))
            g.estimatedSize = uint32_t(r.member("estimatedSize").unsignedNumber(0xFFFFFFFFu));
    });
    return g;
}

Manifest readManifest(const Json& json, Problems& problems) {
    Reader top(json, "");
    if (!json.is_object())
        top.fail("the manifest must be a JSON object");
    Manifest m;
    if (json.contains("records"))
        top.expectObject({"codePage", "scope", "records"}, problems);
    else
        top.expectObject({"codePage", "language", "texts", "options", "scope", "register", "files",
                          "groups", "registry", "patterns"},
                         problems);
    problems.attempt([&] {
        if (top.has("codePage"))
            m.codePage = unsigned(top.member("codePage").unsignedNumber(65535));
    });
    problems.attempt([&] {
        if (!top.has("scope"))
            return;
        std::string scope = top.member("scope").string();
        if (scope != "machine" && scope != "user")
            top.member("scope").fail("must be \"machine\" (uninst.exe) or \"user\" "
                                     "(uninst-user.exe)");
        m.scope = scope == "user" ? Scope::User : Scope::Machine;
    });
    if (top.has("records")) {
        Reader list = top.member("records");
        list.expectArray();
        m.records.emplace();
        for (size_t i = 0; i < list.json().size(); ++i)
            problems.entry(*m.records, list.element(i).where(),
                           [&](RecordItem& r) { r = readRecord(list.element(i), problems); });
        return m;
    }
    problems.attempt([&] {
        m.texts = readTextSet(top, problems);
        if (!top.has("codePage"))
            if (std::optional<unsigned> cp = languageCodePage(m.texts.language))
                m.codePage = *cp;
    });
    problems.attempt([&] {
        if (top.has("options"))
            m.options = readOptions(
                top.member("options"),
                {"wait", "themed", "extraFlags", "preUninstall", "closingDocument"}, problems);
    });
    problems.attempt([&] {
        if (top.has("files"))
            m.files = readFiles(top.member("files"), problems);
    });
    problems.attempt([&] {
        if (top.has("groups"))
            m.groups = readGroups(top.member("groups"), problems);
    });
    problems.attempt([&] {
        if (top.has("registry"))
            m.registry = readRegistry(top.member("registry"), problems);
    });
    problems.attempt([&] {
        if (top.has("patterns"))
            m.patterns = readPatterns(top.member("patterns"), problems);
    });
    if (top.has("register") && !problems.attempt([&] {
            m.registration = readRegistration(top.member("register"), problems);
        }))
        problems.unreadable.push_back("register");
    return m;
}

} // namespace

namespace {

Manifest readAll(const Json& json, Problems& problems) {
    Manifest m;
    problems.attempt([&] { m = readManifest(json, problems); });
    return m;
}

} // namespace

Manifest manifestFromJson(const Json& json) {
    Problems problems;
    Manifest m = readAll(json, problems);
    if (problems.found.empty())
        return m;
    ManifestError first = problems.found.front();
    for (const ManifestError& e : problems.found)
        first.all.emplace_back(e.where, e.problem);
    throw first;
}

Json registrationToJson(const Registration& r) {
    Json out = Json::object();
    out["key"] = r.key;
    out["root"] = registryRootName(r.root).value_or("HKLM");
    const std::pair<const char*, const std::string*> texts[] = {
        {"displayName", &r.displayName}, {"publisher", &r.publisher},
        {"version", &r.version},         {"urlInfoAbout", &r.urlInfoAbout},
        {"helpLink", &r.helpLink},       {"urlUpdateInfo", &r.urlUpdateInfo},
        {"comments", &r.comments},       {"displayIcon", &r.displayIcon}};
    for (const auto& [name, text] : texts)
        if (!text->empty())
            out[name] = *text;
    if (r.estimatedSize)
        out["estimatedSize"] = *r.estimatedSize;
    return out;
}

Registration registrationFromJson(const Json& json) {
    Problems problems;
    Registration r;
    problems.attempt([&] { r = readRegistration(Reader(json, "register"), problems); });
    if (problems.found.empty())
        return r;
    ManifestError first = problems.found.front();
    for (const ManifestError& e : problems.found)
        first.all.emplace_back(e.where, e.problem);
    throw first;
}

Json manifestToJson(const Manifest& m) {
    Json out = Json::object();
    out["codePage"] = m.codePage;
    if (m.records && m.scope)
        out["scope"] = *m.scope == Scope::User ? "user" : "machine";
    if (m.records) {
        Json list = Json::array();
        for (const RecordItem& item : *m.records)
            list.push_back(writeRecord(item));
        out["records"] = list;
        return out;
    }
    writeTextSet(out, m.texts);
    if (m.options) {
        Json options = Json::object();
        writeOptions(options, *m.options);
        out["options"] = options;
    }
    if (m.scope)
        out["scope"] = *m.scope == Scope::User ? "user" : "machine";
    if (m.registration)
        out["register"] = registrationToJson(*m.registration);
    if (!m.files.empty())
        out["files"] = writeFiles(m.files);
    if (!m.groups.empty())
        out["groups"] = writeGroups(m.groups);
    if (!m.registry.empty())
        out["registry"] = writeRegistry(m.registry);
    if (!m.patterns.empty())
        out["patterns"] = m.patterns;
    return out;
}

namespace {

Json parseJson(const std::string& text) {
    // An error at byte `stop`, with its line and column.
    auto errorAt = [&](size_t stop, const std::string& problem) {
        ManifestError error("", "");
        stop = std::min(stop, text.size());
        error.line = 1;
        error.column = 1;
        for (size_t i = 0; i < stop; ++i)
            if (text[i] == '\n')
                ++error.line, error.column = 1;
            else
                ++error.column;
        error.problem = problem;
        error.all.emplace_back("", error.problem);
        return error;
    };
    // The JSON library stops at a NUL byte as at the end: whatever follows
    // would be passed over unread.
    if (size_t nul = text.find('\0'); nul != std::string::npos)
        throw errorAt(nul, "a NUL byte; a manifest is text");
    Json json;
    try {
        json = Json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // The byte where reading stopped, and the library's words without its prefix.
        std::string what = e.what();
        size_t column = what.find("column ");
        size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
        throw errorAt(e.byte ? e.byte - 1 : 0,
                      colon == std::string::npos ? what : what.substr(colon + 2));
    } catch (const nlohmann::json::exception& e) {
        throw ManifestError("", std::string("not valid JSON: ") + e.what());
    }
    return json;
}

} // namespace

Manifest parseManifest(const std::string& text) {
    return manifestFromJson(parseJson(text));
}

Manifest parseManifest(const std::string& text, ReadProblems& found) {
    Problems problems;
    Manifest m = readAll(parseJson(text), problems);
    for (const ManifestError& e : problems.found)
        found.problems.emplace_back(e.where, e.problem);
    found.unreadable = problems.unreadable;
    return m;
}

Manifest readManifestFile(const std::string& path) {
    Bytes bytes = readInput(path);
    return parseManifest(std::string(bytes.begin(), bytes.end()));
}

namespace {

// A value on one line, with a space after every colon and comma.
std::string inlineJson(const Json& value) {
    std::string out;
    if (value.is_object()) {
        out = "{";
        for (auto it = value.begin(); it != value.end(); ++it)
            out +=
                (it == value.begin() ? "" : ", ") + Json(it.key()).dump() + ": " + inlineJson(*it);
        return out + "}";
    }
    if (value.is_array()) {
        out = "[";
        for (size_t i = 0; i < value.size(); ++i)
            out += (i ? ", " : "") + inlineJson(value[i]);
        return out + "]";
    }
    return value.dump();
}

} // namespace

std::string formatJsonDocument(const Json& json) {
    std::string out = "{\n";
    for (auto it = json.begin(); it != json.end(); ++it) {
        out += "  " + Json(it.key()).dump() + ": ";
        const Json& value = *it;
        bool expanded = value.is_array() ||
                        (value.is_object() && (it.key() == "texts" || it.key() == "register"));
        if (expanded && !value.empty()) {
            bool object = value.is_object();
            out += object ? "{\n" : "[\n";
            size_t i = 0;
            for (auto e = value.begin(); e != value.end(); ++e, ++i) {
                out += "    ";
                if (object)
                    out += Json(e.key()).dump() + ": ";
                out += inlineJson(*e) + (i + 1 < value.size() ? ",\n" : "\n");
            }
            out += object ? "  }" : "  ]";
        } else {
            out += inlineJson(value);
        }
        out += std::next(it) == json.end() ? "\n" : ",\n";
    }
    return out + "}\n";
}

std::string formatManifest(const Manifest& manifest) {
    return formatJsonDocument(manifestToJson(manifest));
}

std::vector<std::string> resolveTexts(const TextSet& set) {
    std::vector<std::string> table;
    if (!sameText(set.language, kNoLanguage)) {
        const auto* defaults = languageTexts(set.language);
        if (!defaults)
            throw ManifestError("language", "unknown language \"" + set.language + "\"");
        table.assign(defaults->begin(), defaults->end());
    }
    if (!set.texts.empty() && set.texts.rbegin()->first >= table.size())
        table.resize(set.texts.rbegin()->first + 1);
    for (const auto& [number, text] : set.texts)
        table[number] = text;
    return table;
}

TextSet chooseTextSet(const std::vector<std::string>& texts) {
    // Without a language: every non-empty text, and the last one so the
    // table keeps its length.
    TextSet best;
    best.language = kNoLanguage;
    for (size_t i = 0; i < texts.size(); ++i)
        if (!texts[i].empty() || i + 1 == texts.size())
            best.texts[unsigned(i)] = texts[i];
    if (texts.size() < TEXT_COUNT)
        return best;
    for (const std::string& language : languageNames()) {
        const auto* defaults = languageTexts(language);
        TextSet candidate;
        candidate.language = language;
        for (size_t i = 0; i < texts.size(); ++i) {
            bool same = i < TEXT_COUNT ? texts[i] == (*defaults)[i] : texts[i].empty();
            if (!same || (i >= TEXT_COUNT && i + 1 == texts.size()))
                candidate.texts[unsigned(i)] = texts[i];
        }
        if (candidate.texts.size() < best.texts.size())
            best = candidate;
    }
    return best;
}

std::optional<uint32_t> registryRoot(const std::string& name) {
    for (const RootName& r : kRoots)
        if (sameText(name, r.shortName) || sameText(name, r.longName))
            return r.root;
    return std::nullopt;
}

std::optional<std::string> registryRootName(uint32_t root) {
    for (const RootName& r : kRoots)
        if (r.root == root)
            return std::string(r.shortName);
    return std::nullopt;
}

} // namespace varnel
