#include "payload_decoder.h"

#include <cstdio>
#include <cstring>

namespace varnel {
namespace {

std::string hex(size_t v) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%zX", v);
    return buffer;
}

std::string describe(size_t offset, std::optional<size_t> recordOffset, std::optional<uint16_t> tag,
                     const std::string& problem) {
    std::string text = "offset " + std::to_string(offset);
    if (recordOffset && tag)
        text += " (" + tagName(*tag) + " record at offset " + std::to_string(*recordOffset) + ")";
    return text + ": " + problem;
}

// Reads a record body from the front, reporting damage at file offsets.
class BodyReader {
  public:
    explicit BodyReader(const PayloadRecord& record)
        : record_(record), bodyStart_(record.offset + PAYLOAD_HEADER_SIZE) {}

    [[noreturn]] void fail(const std::string& problem) const {
        throw PayloadDamage(bodyStart_ + pos_, record_.offset, record_.tag, problem);
    }

    void need(size_t n, const std::string& what) const {
        if (record_.body.size() - pos_ < n)
            fail(what + " needs " + std::to_string(n) + " bytes but the record has " +
                 std::to_string(record_.body.size() - pos_) + " left");
    }

    uint32_t number(int size, const std::string& what) {
        need(size_t(size), what);
        uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i)
            v = (v << 8) | record_.body[pos_ + size_t(i)];
        pos_ += size_t(size);
        return v;
    }

    std::string counted(const std::string& what) {
        uint32_t n = number(2, what + "'s length");
        need(n, what + " (" + std::to_string(n) + " bytes)");
        std::string s(record_.body.begin() + long(pos_), record_.body.begin() + long(pos_ + n));
        pos_ += n;
        return s;
    }

    size_t position() const { return pos_; }

  private:
    const PayloadRecord& record_;
    size_t bodyStart_;
    size_t pos_ = 0;
};

// `what` names the strings and their verb: "entry 2: the path holds".
void checkLimit(BodyReader& reader, size_t total, size_t limit, const std::string& what) {
    if (total > limit)
        reader.fail(what + " " + std::to_string(total) + " bytes, more than the " +
                    std::to_string(limit) + " the uninstaller reads");
}

void checkReadable(const PayloadRecord& record) {
    if (record.flags & RF_UNREADABLE)
        throw PayloadDamage(record.offset + 2, record.offset, record.tag,
                            "flags bit 0 is set, so the uninstaller refuses the record (error 1)");
}

} // namespace

PayloadDamage::PayloadDamage(size_t offset, std::optional<size_t> recordOffset,
                             std::optional<uint16_t> tag, const std::string& problem)
    : std::runtime_error(describe(offset, recordOffset, tag, problem)), offset(offset),
      recordOffset(recordOffset), tag(tag), problem(problem) {}

std::string tagName(uint16_t tag) {
    switch (tag) {
    case RT_STRINGS:
        return "RT_STRINGS";
    case RT_FILES:
        return "RT_FILES";
    case RT_GROUPS:
        return "RT_GROUPS";
    case RT_REGISTRY:
        return "RT_REGISTRY";
    case RT_PATTERNS:
        return "RT_PATTERNS";
    case RT_OPTIONS:
        return "RT_OPTIONS";
    case RT_INFO:
        return "RT_INFO";
    case RT_END:
        return "RT_END";
    default:
        return "tag " + hex(tag);
    }
}

SplitPayload splitPayload(const Bytes& executable) {
    SplitPayload split;
    const char* marker = PAYLOAD_MARKER;
    auto markerAt = [&](size_t i) {
        return std::memcmp(&executable[i], marker, PAYLOAD_MARKER_LENGTH) == 0;
    };
    size_t first = 0;
    while (first + PAYLOAD_MARKER_LENGTH <= executable.size() && !markerAt(first))
        ++first;
    if (first + PAYLOAD_MARKER_LENGTH > executable.size())
        throw PayloadDamage(0, std::nullopt, std::nullopt,
                            "no payload locator: the marker \"wwgT)H\" is missing");
    split.locatorField = first + PAYLOAD_MARKER_LENGTH;
    // The payload's own bytes may hold the marker (in a text, say): when the
    // locator points past itself, only the markers before the payload make it
    // ambiguous.
    size_t limit = executable.size();
    if (split.locatorField + 4 <= executable.size()) {
        size_t start = readLocator(executable, split.locatorField);
        if (start > split.locatorField && start <= limit)
            limit = start;
    }
    size_t markers = 0;
    for (size_t i = first; i + PAYLOAD_MARKER_LENGTH <= limit; ++i)
        markers += markerAt(i);
    if (markers > 1)
        throw PayloadDamage(0, std::nullopt, std::nullopt,
                            "the payload locator's marker occurs " + std::to_string(markers) +
                                " times; it must occur once");
    if (split.locatorField + 4 > executable.size())
        throw PayloadDamage(split.locatorField, std::nullopt, std::nullopt,
                            "the locator's offset field is cut short by the end of the file");
    split.start = readLocator(executable, split.locatorField);
    if (split.start == 0)
        throw PayloadDamage(split.locatorField, std::nullopt, std::nullopt,
                            "the locator holds 0: the executable has no payload");
    if (split.start > executable.size())
        throw PayloadDamage(split.locatorField, std::nullopt, std::nullopt,
                            "the locator points at offset " + std::to_string(split.start) +
                                ", beyond the end of the file (" +
                                std::to_string(executable.size()) + " bytes)");
    size_t pos = split.start;
    for (;;) {
        size_t left = executable.size() - pos;
        if (left < PAYLOAD_HEADER_SIZE)
            throw PayloadDamage(pos, std::nullopt, std::nullopt,
                                left == 0
                                    ? "the file ends before an RT_END record"
                                    : "a record header is cut short (" + std::to_string(left) +
                                          " of 8 bytes): the file ends before RT_END");
        PayloadRecord record;
        record.offset = pos;
        record.tag = uint16_t(executable[pos] | executable[pos + 1] << 8);
        record.flags = executable[pos + 2];
        record.reserved = executable[pos + 3];
        uint32_t length = readLocator(executable, pos + 4);
        size_t bodyStart = pos + PAYLOAD_HEADER_SIZE;
        if (length > executable.size() - bodyStart)
            throw PayloadDamage(pos + 4, pos, record.tag,
                                "the body of " + std::to_string(length) +
                                    " bytes runs past the end of the file by " +
                                    std::to_string(length - (executable.size() - bodyStart)) +
                                    " bytes");
        record.body.assign(executable.begin() + long(bodyStart),
                           executable.begin() + long(bodyStart + length));
        pos = bodyStart + length;
        bool end = record.tag == RT_END;
        split.records.push_back(std::move(record));
        if (end)
            break;
    }
    split.end = pos;
    return split;
}

Bytes payloadBytes(const Bytes& executable, const SplitPayload& split) {
    return Bytes(executable.begin() + long(split.start), executable.begin() + long(split.end));
}

std::vector<std::string> decodeStrings(const PayloadRecord& record) {
    std::vector<std::string> texts;
    if (record.body.empty())
        return texts;
    BodyReader reader(record);
    uint32_t tables = reader.number(2, "the table count");
    if (tables == 0)
        return texts;
    uint32_t count = reader.number(2, "the string count");
    for (uint32_t i = 0; i < count; ++i)
        texts.push_back(reader.counted("text " + std::to_string(i)));
    return texts;
}

std::vector<FileItem> decodeFiles(const PayloadRecord& record) {
    std::vector<FileItem> files;
    if (record.body.empty())
        return files;
    BodyReader reader(record);
    uint32_t count = reader.number(4, "the entry count");
    for (uint32_t i = 0; i < count; ++i) {
        std::string entry = "entry " + std::to_string(i);
        FileItem f;
        f.folder = reader.counted(entry + ": folder");
        f.name = reader.counted(entry + ": name");
        f.flags = uint8_t(reader.number(1, entry + ": flags"));
        checkLimit(reader, f.folder.size() + f.name.size(), FILE_ENTRY_STRING_LIMIT,
                   entry + ": folder and name hold");
        files.push_back(std::move(f));
    }
    return files;
}

std::vector<GroupItem> decodeGroups(const PayloadRecord& record) {
    std::vector<GroupItem> groups;
    if (record.body.empty())
        return groups;
    BodyReader reader(record);
    uint32_t count = reader.number(4, "the entry count");
    for (uint32_t i = 0; i < count; ++i) {
        std::string entry = "entry " + std::to_string(i);
        GroupItem g;
        g.levels = reader.number(1, entry + ": levels");
        g.folder = reader.counted(entry + ": folder");
        g.secondFolder = reader.counted(entry + ": second folder");
        g.fileName = reader.counted(entry + ": file name");
        checkLimit(reader, g.folder.size() + g.secondFolder.size() + g.fileName.size(),
                   GROUP_ENTRY_STRING_LIMIT, entry + ": the three strings hold");
        groups.push_back(std::move(g));
    }
    return groups;
}

std::vector<RegistryItem> decodeRegistry(const PayloadRecord& record) {
    std::vector<RegistryItem> entries;
    if (record.body.empty())
        return entries;
    BodyReader reader(record);
    uint32_t count = reader.number(4, "the entry count");
    for (uint32_t i = 0; i < count; ++i) {
        std::string entry = "entry " + std::to_string(i);
        uint32_t root = reader.number(4, entry + ": root");
        std::string path = reader.counted(entry + ": path");
        checkLimit(reader, path.size(), REGISTRY_ENTRY_STRING_LIMIT, entry + ": the path holds");
        entries.push_back(registryItem(root, path));
    }
    return entries;
}

std::vector<std::string> decodePatterns(const PayloadRecord& record) {
    std::vector<std::string> patterns;
    if (record.body.empty())
        return patterns;
    checkReadable(record);
    if (record.body.back() != 0)
        throw PayloadDamage(record.offset + PAYLOAD_HEADER_SIZE + record.body.size() - 1,
                            record.offset, record.tag,
                            "the pattern list does not end with a NUL byte");
    size_t pos = 0;
    for (;;) {
        size_t nul = pos;
        while (nul < record.body.size() && record.body[nul] != 0)
            ++nul;
        if (nul == record.body.size())
            throw PayloadDamage(record.offset + PAYLOAD_HEADER_SIZE + pos, record.offset,
                                record.tag, "the pattern list is not closed by an empty string");
        if (nul == pos)
            break;
        patterns.emplace_back(record.body.begin() + long(pos), record.body.begin() + long(nul));
        pos = nul + 1;
    }
    return patterns;
}

OptionsItem decodeOptions(const PayloadRecord& record) {
    OptionsItem options;
    if (record.body.empty())
        return options;
    checkReadable(record);
    BodyReader reader(record);
    uint32_t flags = reader.number(4, "the options flags");
    options.wait = (flags & OF_WAIT) != 0;
    options.themed = (flags & OF_THEMED) != 0;
    options.extraFlags = flags & ~uint32_t(OF_WAIT | OF_THEMED);
    uint32_t offsets[2] = {reader.number(4, "the pre-uninstall offset"),
                           reader.number(4, "the closing document offset")};
    std::string* texts[2] = {&options.preUninstall, &options.closingDocument};
    for (int i = 0; i < 2; ++i) {
        uint32_t at = offsets[i];
        if (at == 0 || at >= record.body.size())
            continue;
        size_t nul = at;
        while (nul < record.body.size() && record.body[nul] != 0)
            ++nul;
        if (nul < record.body.size())
            texts[i]->assign(record.body.begin() + long(at), record.body.begin() + long(nul));
    }
    return options;
}

InfoItem decodeInfo(const PayloadRecord& record) {
    BodyReader reader(record);
    InfoItem info;
    info.codePage = uint16_t(reader.number(2, "the code page"));
    info.tool = reader.counted("the tool");
    info.registration = reader.counted("the registration");
    return info;
}

void validateRecord(const PayloadRecord& record) {
    switch (record.tag) {
    case RT_STRINGS:
        decodeStrings(record);
        break;
    case RT_FILES:
        decodeFiles(record);
        break;
    case RT_GROUPS:
        decodeGroups(record);
        break;
    case RT_REGISTRY:
        decodeRegistry(record);
        break;
    case RT_PATTERNS:
        decodePatterns(record);
        break;
    case RT_OPTIONS:
        decodeOptions(record);
        break;
    default:
        break;
    }
}

} // namespace varnel
