#include "payload_writer.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace varnel {

void putU8(Bytes& out, uint8_t v) {
    out.push_back(v);
}

void putU16(Bytes& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void putU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void putCounted(Bytes& out, const std::string& text) {
    if (text.size() > 0xFFFF)
        throw std::length_error("a counted string holds at most 65,535 bytes");
    putU16(out, uint16_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        append(out, part);
    return out;
}

Bytes recordHeader(uint16_t tag, uint32_t length, uint8_t flags, uint8_t reserved) {
    Bytes out;
    putU16(out, tag);
    putU8(out, flags);
    putU8(out, reserved);
    putU32(out, length);
    return out;
}

Bytes record(uint16_t tag, const Bytes& body, uint8_t flags) {
    Bytes out = recordHeader(tag, uint32_t(body.size()), flags);
    append(out, body);
    return out;
}

Bytes endRecord() {
    return recordHeader(RT_END, 0);
}

static void putTable(Bytes& out, const std::vector<std::string>& texts) {
    if (texts.size() > 0xFFFF)
        throw std::length_error("a string table holds at most 65,535 texts");
    putU16(out, uint16_t(texts.size()));
    for (const std::string& text : texts)
        putCounted(out, text);
}

Bytes stringsBody(const std::vector<std::string>& texts,
                  const std::vector<std::vector<std::string>>& extraTables) {
    Bytes out;
    putU16(out, uint16_t(1 + extraTables.size()));
    putTable(out, texts);
    for (const auto& table : extraTables)
        putTable(out, table);
    return out;
}

std::string registryPath(const RegistryItem& item) {
    return item.value ? item.key + "\\\\" + *item.value : item.key;
}

RegistryItem registryItem(uint32_t root, const std::string& path) {
    RegistryItem item;
    item.root = root;
    size_t last = path.rfind('\\');
    if (last != std::string::npos && last > 0 && path[last - 1] == '\\') {
        item.key = path.substr(0, last - 1);
        item.value = path.substr(last + 1);
    } else {
        item.key = path;
    }
    return item;
}

uint32_t storedOptionFlags(const OptionsItem& options) {
    return options.extraFlags | (options.wait ? OF_WAIT : 0) | (options.themed ? OF_THEMED : 0);
}

Bytes filesBody(const std::vector<FileItem>& files) {
    Bytes out;
    putU32(out, uint32_t(files.size()));
    for (const FileItem& f : files) {
        putCounted(out, f.folder);
        putCounted(out, f.name);
        putU8(out, f.flags);
    }
    return out;
}

Bytes groupsBody(const std::vector<GroupItem>& groups) {
    Bytes out;
    putU32(out, uint32_t(groups.size()));
    for (const GroupItem& g : groups) {
        putU8(out, uint8_t(g.levels));
        putCounted(out, g.folder);
        putCounted(out, g.secondFolder);
        putCounted(out, g.fileName);
    }
    return out;
}

Bytes registryBody(const std::vector<RegistryItem>& entries) {
    Bytes out;
    putU32(out, uint32_t(entries.size()));
    for (const RegistryItem& r : entries) {
        putU32(out, r.root);
        putCounted(out, registryPath(r));
    }
    return out;
}

Bytes patternsBody(const std::vector<std::string>& patterns) {
    Bytes out;
    for (const std::string& p : patterns) {
        out.insert(out.end(), p.begin(), p.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

Bytes optionsBody(const OptionsItem& options) {
    Bytes texts;
    uint32_t preOffset = 0;
    uint32_t documentOffset = 0;
    if (!options.preUninstall.empty()) {
        preOffset = uint32_t(OPTIONS_FIXED_SIZE + texts.size());
        texts.insert(texts.end(), options.preUninstall.begin(), options.preUninstall.end());
        texts.push_back(0);
    }
    if (!options.closingDocument.empty()) {
        documentOffset = uint32_t(OPTIONS_FIXED_SIZE + texts.size());
        texts.insert(texts.end(), options.closingDocument.begin(), options.closingDocument.end());
        texts.push_back(0);
    }
    Bytes out;
    putU32(out, storedOptionFlags(options));
    putU32(out, preOffset);
    putU32(out, documentOffset);
    append(out, texts);
    return out;
}

Bytes infoBody(const InfoItem& info) {
    Bytes out;
    putU16(out, info.codePage);
    putCounted(out, info.tool);
    putCounted(out, info.registration);
    return out;
}

Bytes encodePayload(const PayloadPlan& payload) {
    Bytes out;
    if (payload.info)
        append(out, record(RT_INFO, infoBody(*payload.info)));
    if (!payload.texts.empty())
        append(out, record(RT_STRINGS, stringsBody(payload.texts)));
    if (payload.options)
        append(out, record(RT_OPTIONS, optionsBody(*payload.options)));
    if (!payload.files.empty())
        append(out, record(RT_FILES, filesBody(payload.files)));
    if (!payload.groups.empty())
        append(out, record(RT_GROUPS, groupsBody(payload.groups)));
    if (!payload.registry.empty())
        append(out, record(RT_REGISTRY, registryBody(payload.registry)));
    if (!payload.patterns.empty())
        append(out, record(RT_PATTERNS, patternsBody(payload.patterns)));
    append(out, endRecord());
    return out;
}

std::optional<size_t> findLocatorField(const Bytes& executable) {
    const char* marker = PAYLOAD_MARKER;
    std::optional<size_t> found;
    if (executable.size() < PAYLOAD_LOCATOR_SIZE)
        return std::nullopt;
    for (size_t i = 0; i + PAYLOAD_LOCATOR_SIZE <= executable.size(); ++i) {
        if (std::memcmp(&executable[i], marker, PAYLOAD_MARKER_LENGTH) == 0) {
            if (found)
                return std::nullopt;
            found = i + PAYLOAD_MARKER_LENGTH;
        }
    }
    return found;
}

uint32_t readLocator(const Bytes& executable, size_t field) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | executable.at(field + i);
    return v;
}

Bytes attachPayload(const Bytes& executable, const Bytes& payload) {
    std::optional<size_t> field = findLocatorField(executable);
    if (!field)
        throw std::runtime_error("the executable has no single payload locator");
    if (executable.size() > 0xFFFFFFFFu)
        throw std::runtime_error("the executable is too large for a 32-bit payload offset");
    Bytes out = executable;
    uint32_t end = uint32_t(executable.size());
    if (readLocator(out, *field) != end)
        for (int i = 0; i < 4; ++i)
            out[*field + i] = uint8_t(end >> (8 * i));
    append(out, payload);
    return out;
}

Bytes readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace varnel
