// Reads uninstall payloads back: finds the payload of an executable through
// its locator, splits it into records and decodes the record bodies.
//
// The decoder is stricter than the uninstaller's reader: whatever the reader
// would fail on, misread or read past (a chain without RT_END, a body that runs
// past the end of the file, entries that run past their record, strings over
// the entry limits, an unreadable blob) is reported as PayloadDamage with the
// record's offset and tag. Odd but harmless forms (unknown tags, repeated
// records, trailing bytes in a body) decode normally.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "payload_writer.h"

namespace varnel {

// What is wrong, where: `offset` is a position in the executable's file,
// `recordOffset` and `tag` name the record it belongs to, when there is one.
class PayloadDamage : public std::runtime_error {
  public:
    PayloadDamage(size_t offset, std::optional<size_t> recordOffset, std::optional<uint16_t> tag,
                  const std::string& problem);
    size_t offset;
    std::optional<size_t> recordOffset;
    std::optional<uint16_t> tag;
    std::string problem;
};

// One record as it stands in the file.
struct PayloadRecord {
    size_t offset = 0; // of its header, in the executable
    uint16_t tag = 0;
    uint8_t flags = 0;
    uint8_t reserved = 0;
    Bytes body;
};

// A payload split into its records, up to and including RT_END.
struct SplitPayload {
    size_t locatorField = 0; // position of the locator's offset field
    size_t start = 0;        // the locator's payload offset
    size_t end = 0;          // first byte after the RT_END record
    std::vector<PayloadRecord> records;
};

// "RT_FILES" and the like; "tag 0x1238" for tags without a name.
std::string tagName(uint16_t tag);

// Finds and splits the payload. Throws PayloadDamage.
SplitPayload splitPayload(const Bytes& executable);

// The payload's bytes exactly as they stand in the file, start to end.
Bytes payloadBytes(const Bytes& executable, const SplitPayload& split);

// Body decoders. Each throws PayloadDamage when the body cannot be read the
// way the uninstaller reads it; bytes left over after the content are allowed.
// A record of length 0, which the uninstaller ignores, decodes as nothing.
std::vector<std::string> decodeStrings(const PayloadRecord& record); // first table only
// Strings come back as the bytes they are stored as.
std::vector<FileItem> decodeFiles(const PayloadRecord& record);
std::vector<GroupItem> decodeGroups(const PayloadRecord& record);
std::vector<RegistryItem> decodeRegistry(const PayloadRecord& record); // through registryItem
std::vector<std::string> decodePatterns(const PayloadRecord& record);
// The flags and the texts that the two offsets point at (empty for an offset
// that counts as none).
OptionsItem decodeOptions(const PayloadRecord& record);

// The information record. The uninstaller never reads it, so one that cannot be
// decoded (PayloadDamage) is no damage to the payload: validateRecord passes it.
InfoItem decodeInfo(const PayloadRecord& record);

// Runs the decoder of the record's type, so that damage surfaces. Records of
// other tags pass.
void validateRecord(const PayloadRecord& record);

} // namespace varnel
