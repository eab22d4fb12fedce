#include "dump.h"

#include "build.h"
#include "codepage.h"
#include "register.h"
#include "scope.h"

namespace varnel {
namespace {

std::optional<std::string> toUtf8(const std::string& bytes, unsigned codePage) {
    return codePageToUtf8(bytes, codePage);
}

// The typed reading of one record, or nothing when only its raw bytes
// reproduce it.
std::optional<RecordItem> typedRecord(const PayloadRecord& record, unsigned codePage) {
    if (record.flags != 0 || record.reserved != 0)
        return std::nullopt;
    RecordItem item;
    Bytes again;
    try {
        switch (record.tag) {
        case RT_STRINGS: {
            std::vector<std::string> texts = decodeStrings(record);
            std::vector<std::string> utf8;
            for (const std::string& t : texts) {
                std::optional<std::string> u = toUtf8(t, codePage);
                if (!u)
                    return std::nullopt;
                utf8.push_back(*u);
            }
            item.kind = RecordKind::Strings;
            item.texts = chooseTextSet(utf8);
            again = stringsBody(texts);
            break;
        }
        case RT_OPTIONS: {
            OptionsItem o = decodeOptions(record);
            std::optional<std::string> pre = toUtf8(o.preUninstall, codePage);
            std::optional<std::string> doc = toUtf8(o.closingDocument, codePage);
            if (!pre || !doc)
                return std::nullopt;
            item.kind = RecordKind::Options;
            item.options = o;
            item.options.preUninstall = *pre;
            item.options.closingDocument = *doc;
            again = optionsBody(o);
            break;
        }
        case RT_FILES: {
            std::vector<FileItem> files = decodeFiles(record);
            item.kind = RecordKind::Files;
            for (const FileItem& f : files) {
                std::optional<std::string> folder = toUtf8(f.folder, codePage);
                std::optional<std::string> name = toUtf8(f.name, codePage);
                if (!folder || !name)
                    return std::nullopt;
                item.files.push_back({*folder, *name, f.flags});
            }
            again = filesBody(files);
            break;
        }
        case RT_GROUPS: {
            std::vector<GroupItem> groups = decodeGroups(record);
            item.kind = RecordKind::Groups;
            for (const GroupItem& g : groups) {
                std::optional<std::string> folder = toUtf8(g.folder, codePage);
                std::optional<std::string> second = toUtf8(g.secondFolder, codePage);
                std::optional<std::string> file = toUtf8(g.fileName, codePage);
                if (!folder || !second || !file)
                    return std::nullopt;
                item.groups.push_back({g.levels, *folder, *second, *file});
            }
            again = groupsBody(groups);
            break;
        }
        case RT_REGISTRY: {
            std::vector<RegistryItem> entries = decodeRegistry(record);
            item.kind = RecordKind::Registry;
            // Converted as a whole, as it is stored: a backslash that is the second
            // byte of a character must not split it.
            for (const RegistryItem& r : entries) {
                std::optional<std::string> path = toUtf8(registryPath(r), codePage);
                if (!path)
                    return std::nullopt;
                item.registry.push_back(registryItem(r.root, *path));
            }
            again = registryBody(entries);
            break;
        }
        case RT_PATTERNS: {
            std::vector<std::string> patterns = decodePatterns(record);
            item.kind = RecordKind::Patterns;
            for (const std::string& p : patterns) {
                std::optional<std::string> u = toUtf8(p, codePage);
                if (!u)
                    return std::nullopt;
                item.patterns.push_back(*u);
            }
            again = patternsBody(patterns);
            break;
        }
        case RT_END:
            item.kind = RecordKind::End;
            break;
        default:
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (again != record.body)
        return std::nullopt;
    return item;
}

RecordItem rawRecord(const PayloadRecord& record) {
    RecordItem item;
    item.kind = RecordKind::Raw;
    item.raw.tag = record.tag;
    item.raw.flags = record.flags;
    item.raw.reserved = record.reserved;
    item.raw.body = record.body;
    return item;
}

// The usual form, when the records are those it writes, in its order: an
// information record first (with the register section), and the key's removal
// that pack adds last among the registry entries.
std::optional<Manifest> usualForm(const std::vector<RecordItem>& records, unsigned codePage,
                                  const std::optional<InfoItem>& info) {
    static const RecordKind order[] = {RecordKind::Strings,  RecordKind::Options,
                                       RecordKind::Files,    RecordKind::Groups,
                                       RecordKind::Registry, RecordKind::Patterns};
    Manifest m;
    m.codePage = codePage;
    m.texts.language = kNoLanguage;
    size_t next = 0;
    if (!info || records.empty() || records[0].raw.flags || records[0].raw.reserved)
        return std::nullopt;
    if (!info->registration.empty()) {
        try {
            m.registration = registrationFromJson(Json::parse(info->registration));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    for (size_t i = 1; i < records.size(); ++i) {
        const RecordItem& r = records[i];
        if (r.kind == RecordKind::End) {
            if (i + 1 != records.size())
                return std::nullopt;
            if (m.registration) {
                RegistryItem added = uninstallEntry(*m.registration);
                if (m.registry.empty() || m.registry.back().root != added.root ||
                    registryPath(m.registry.back()) != registryPath(added))
                    return std::nullopt;
                m.registry.pop_back();
            }
            return m;
        }
        while (next < std::size(order) && order[next] != r.kind)
            ++next;
        if (next == std::size(order))
            return std::nullopt;
        ++next;
        switch (r.kind) {
        case RecordKind::Strings:
            if (resolveTexts(r.texts).empty())
                return std::nullopt;
            m.texts = r.texts;
            break;
        case RecordKind::Options:
            m.options = r.options;
            break;
        case RecordKind::Files:
            m.files = r.files;
            if (m.files.empty())
                return std::nullopt;
            break;
        case RecordKind::Groups:
            m.groups = r.groups;
            if (m.groups.empty())
                return std::nullopt;
            break;
        case RecordKind::Registry:
            m.registry = r.registry;
            if (m.registry.empty())
                return std::nullopt;
            break;
        case RecordKind::Patterns:
            m.patterns = r.patterns;
            if (m.patterns.empty())
                return std::nullopt;
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

Bytes payloadOf(const SplitPayload& split) {
    Bytes out;
    for (const PayloadRecord& r : split.records) {
        append(out, recordHeader(r.tag, uint32_t(r.body.size()), r.flags, r.reserved));
        append(out, r.body);
    }
    return out;
}

// The payload a manifest packs to, whatever the checks say about it (a dump
// shows what a payload holds, faults and all); nothing when it cannot be
// encoded.
std::optional<Bytes> repack(const Manifest& m) {
    try {
        return payloadBytesUnchecked(m);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<InfoItem> payloadInfo(const SplitPayload& split) {
    if (split.records.empty() || split.records[0].tag != RT_INFO)
        return std::nullopt;
    try {
        return decodeInfo(split.records[0]);
    } catch (const PayloadDamage&) {
        return std::nullopt;
    }
}

Manifest manifestFromPayload(const SplitPayload& split, std::optional<unsigned> given) {
    for (const PayloadRecord& r : split.records)
        validateRecord(r);
    std::optional<InfoItem> info = payloadInfo(split);
    unsigned codePage = given                                         ? *given
                        : info && isSupportedCodePage(info->codePage) ? info->codePage
                                                                      : 1252;
    std::vector<RecordItem> records;
    for (const PayloadRecord& r : split.records) {
        std::optional<RecordItem> typed = typedRecord(r, codePage);
        records.push_back(typed ? *typed : rawRecord(r));
    }
    Bytes original = payloadOf(split);
    // A dump must pack again to the same bytes: a readable form that does not,
    // or that the checks refuse (a name Windows cannot have, say), is not taken.
    auto packsBack = [&](const Manifest& m) {
        return repack(m) == original && !hasErrors(checkManifest(m));
    };
    if (std::optional<Manifest> usual = usualForm(records, codePage, info))
        if (packsBack(*usual))
            return *usual;
    Manifest m;
    m.codePage = codePage;
    m.records = records;
    // Otherwise the typed records fall back to their bytes.
    if (!packsBack(m)) {
        for (size_t i = 0; i < records.size(); ++i)
            (*m.records)[i] = rawRecord(split.records[i]);
    }
    return m;
}

void scopeFromStub(Manifest& m, std::optional<Scope> stub) {
    if (stub && *stub != productScope(m))
        m.scope = *stub;
}

Manifest manifestFromUninstaller(const Bytes& executable, std::optional<unsigned> codePage) {
    Manifest m = manifestFromPayload(splitPayload(executable), codePage);
    scopeFromStub(m, stubScope(executable));
    return m;
}

} // namespace varnel
