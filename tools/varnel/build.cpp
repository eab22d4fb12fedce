#include "build.h"

#include <algorithm>
#include <cstring>

#include "codepage.h"
#include "register.h"
#include "scope.h"
#include "texts.h"

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "0"
#endif

namespace varnel {
namespace {

// The texts of a set as they are packed; none when the set cannot be
// resolved, and the table as it stands when it is too long to be packed.
std::vector<std::string> packedTexts(const TextSet& set, unsigned codePage) {
    std::vector<std::string> table;
    try {
        table = resolveTexts(set);
    } catch (const ManifestError&) {
        return {};
    }
    if (table.size() > 0xFFFF)
        return table;
    for (std::string& text : table)
        text = codePageBytes(text, codePage);
    return table;
}

OptionsItem packedOptions(OptionsItem options, unsigned codePage) {
    options.preUninstall = codePageBytes(options.preUninstall, codePage);
    options.closingDocument = codePageBytes(options.closingDocument, codePage);
    return options;
}

std::vector<FileItem> packedFiles(std::vector<FileItem> files, unsigned codePage) {
    for (FileItem& f : files) {
        f.folder = codePageBytes(f.folder, codePage);
        f.name = codePageBytes(f.name, codePage);
    }
    return files;
}

std::vector<GroupItem> packedGroups(std::vector<GroupItem> groups, unsigned codePage) {
    for (GroupItem& g : groups) {
        g.folder = codePageBytes(g.folder, codePage);
        g.secondFolder = codePageBytes(g.secondFolder, codePage);
        g.fileName = codePageBytes(g.fileName, codePage);
    }
    return groups;
}

// Converted as they are stored, as one path: a backslash that is the second
// byte of a character stays inside it.
std::vector<RegistryItem> packedRegistry(const std::vector<RegistryItem>& entries,
                                         unsigned codePage) {
    std::vector<RegistryItem> out;
    for (const RegistryItem& r : entries)
        out.push_back(registryItem(r.root, codePageBytes(registryPath(r), codePage)));
    return out;
}

std::vector<std::string> packedPatterns(std::vector<std::string> patterns, unsigned codePage) {
    for (std::string& p : patterns)
        p = codePageBytes(p, codePage);
    return patterns;
}

// Encoding throws only for what the checks report as errors (a string or a
// table past its u16 count); what throws is left out.
template <typename Encode> Bytes guarded(Encode encode) {
    try {
        return encode();
    } catch (const std::length_error&) {
        return {};
    }
}

Bytes recordBytes(const RecordItem& r, unsigned codePage) {
    switch (r.kind) {
    case RecordKind::Strings: {
        std::vector<std::string> texts = packedTexts(r.texts, codePage);
        return texts.size() <= 0xFFFF ? record(RT_STRINGS, stringsBody(texts)) : Bytes();
    }
    case RecordKind::Options:
        return record(RT_OPTIONS, optionsBody(packedOptions(r.options, codePage)));
    case RecordKind::Files:
        return record(RT_FILES, filesBody(packedFiles(r.files, codePage)));
    case RecordKind::Groups:
        return record(RT_GROUPS, groupsBody(packedGroups(r.groups, codePage)));
    case RecordKind::Registry:
        return record(RT_REGISTRY, registryBody(packedRegistry(r.registry, codePage)));
    case RecordKind::Patterns:
        return record(RT_PATTERNS, patternsBody(packedPatterns(r.patterns, codePage)));
    case RecordKind::End:
        return endRecord();
    case RecordKind::Raw:
        return concat(
            {recordHeader(r.raw.tag, uint32_t(r.raw.body.size()), r.raw.flags, r.raw.reserved),
             r.raw.body});
    }
    return {};
}

Bytes encodeManifest(const Manifest& m) {
    if (m.records) {
        Bytes out;
        for (const RecordItem& r : *m.records)
            append(out, guarded([&] { return recordBytes(r, m.codePage); }));
        return out;
    }
    PayloadPlan plan;
    plan.info = InfoItem{uint16_t(m.codePage), std::string("varnel ") + toolVersion(),
                         m.registration ? registrationText(*m.registration) : ""};
    plan.texts = packedTexts(m.texts, m.codePage);
    if (plan.texts.size() > 0xFFFF)
        return {};
    if (m.options)
        plan.options = packedOptions(*m.options, m.codePage);
    plan.files = packedFiles(m.files, m.codePage);
    plan.groups = packedGroups(m.groups, m.codePage);
    std::vector<RegistryItem> registry = m.registry;
    if (m.registration)
        registry.push_back(uninstallEntry(*m.registration));
    plan.registry = packedRegistry(registry, m.codePage);
    plan.patterns = packedPatterns(m.patterns, m.codePage);
    return guarded([&] { return encodePayload(plan); });
}

} // namespace

const char* toolVersion() {
    return VARNEL_VERSION;
}

std::string registrationText(const Registration& registration) {
    return registrationToJson(registration).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string codePageBytes(const std::string& utf8, unsigned codePage) {
    if (!isSupportedCodePage(codePage))
        return utf8;
    std::optional<std::string> converted = utf8ToCodePage(utf8, codePage);
    return converted ? *converted : utf8;
}

std::optional<std::string> stubProblem(const Bytes& stub, Scope scope) {
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
    return stubScopeProblem(stub, scope);
}

PackError::PackError(std::vector<Diagnostic> errors)
    : std::runtime_error(errors.empty() ? "the manifest cannot be packed"
                                        : formatDiagnostic(errors.front())),
      errors(std::move(errors)) {}

Bytes buildPayload(const Manifest& manifest) {
    std::vector<Diagnostic> errors;
    for (const Diagnostic& d : checkManifest(manifest))
        if (d.level == Diagnostic::Level::Error)
            errors.push_back(d);
    if (!errors.empty())
        throw PackError(std::move(errors));
    return encodeManifest(manifest);
}

Bytes payloadBytesUnchecked(const Manifest& manifest) {
    return encodeManifest(manifest);
}

Bytes buildUninstaller(const Bytes& stub, const Manifest& manifest) {
    Bytes payload = buildPayload(manifest);
    if (std::optional<std::string> problem = stubScopeProblem(stub, productScope(manifest)))
        throw PackError({{Diagnostic::Level::Error, "scope", "the stub " + *problem}});
    return attachPayload(stub, payload);
}

} // namespace varnel
