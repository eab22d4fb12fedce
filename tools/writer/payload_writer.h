// Writes uninstall payloads and attaches them to a copy of the executable.
//
// Portable C++17; builds for the host and for Windows. The numbers of the
// format come from the reader's own header, so the two cannot drift apart.
// Besides well-formed payloads it can write every damaged form a test needs:
// the pieces (headers, bodies, records) are public and can be combined freely.
//
// The entries below are the one model of a payload's entries for the writer,
// the decoder and the authoring tool: their strings are UTF-8 in a manifest
// and bytes of the target ANSI code page in a PayloadPlan or a decoded record.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "../../src/core/format.h"

namespace varnel {

using Bytes = std::vector<uint8_t>;

// Predefined registry roots as the payload stores them.
enum : uint32_t {
    ROOT_HKCR = 0x80000000u,
    ROOT_HKCU = 0x80000001u,
    ROOT_HKLM = 0x80000002u,
    ROOT_HKU = 0x80000003u,
    ROOT_HKPD = 0x80000004u,
    ROOT_HKCC = 0x80000005u,
    ROOT_HKDD = 0x80000006u,
};

struct FileItem {
    std::string folder;
    std::string name;  // empty: the entry stands for the folder itself
    uint8_t flags = 0; // FE_* bits
};

struct GroupItem {
    unsigned levels = 0; // stored in one byte; a manifest allows 0 to 255
    std::string folder;
    std::string secondFolder;
    std::string fileName;
};

// A key (no value) or one value of a key. The payload stores both as one
// path; registryPath and registryItem turn the one into the other.
struct RegistryItem {
    uint32_t root = ROOT_HKCU;
    std::string key;
    std::optional<std::string> value;
};

// The stored path of a registry item: the key, or the key, two backslashes
// and the value name. And the item of a stored path: a value entry when its
// last backslash follows another backslash. registryPath(registryItem(r, p))
// is p for every p, so any path, however odd, can be written.
std::string registryPath(const RegistryItem& item);
RegistryItem registryItem(uint32_t root, const std::string& path);

struct OptionsItem {
    bool wait = false;
    bool themed = false;
    uint32_t extraFlags = 0;     // bits other than OF_WAIT and OF_THEMED
    std::string preUninstall;    // empty: offset 0
    std::string closingDocument; // empty: offset 0
};

// The stored flags field of an options block: extraFlags with the bits of
// wait and themed.
uint32_t storedOptionFlags(const OptionsItem& options);

// What a payload says about itself (RT_INFO), for the tools that read it back:
// the code page its texts and paths are stored in, the tool that wrote it, and
// the product's registration as the manifest gave it (UTF-8 JSON, empty for
// none). The uninstaller skips the record.
struct InfoItem {
    uint16_t codePage = 1252;
    std::string tool;
    std::string registration;
};

// A whole payload. Texts and paths are byte strings in the target ANSI code page.
struct PayloadPlan {
    std::vector<std::string> texts;
    std::vector<FileItem> files;
    std::vector<GroupItem> groups;
    std::vector<RegistryItem> registry;
    std::vector<std::string> patterns;
    std::optional<OptionsItem> options;
    std::optional<InfoItem> info; // written first
};

// Little-endian pieces.
void putU8(Bytes& out, uint8_t v);
void putU16(Bytes& out, uint16_t v);
void putU32(Bytes& out, uint32_t v);
// A counted string: u16 byte count, then the bytes. Throws std::length_error
// past 65,535 bytes.
void putCounted(Bytes& out, const std::string& text);
void append(Bytes& out, const Bytes& more);
// The parts one after another, e.g. records into a payload.
Bytes concat(std::initializer_list<Bytes> parts);

Bytes recordHeader(uint16_t tag, uint32_t length, uint8_t flags = 0, uint8_t reserved = 0);
Bytes record(uint16_t tag, const Bytes& body, uint8_t flags = 0);
Bytes endRecord();

// Record bodies. `extraTables` are written after the first table (the reader
// never reads them).
Bytes stringsBody(const std::vector<std::string>& texts,
                  const std::vector<std::vector<std::string>>& extraTables = {});
Bytes filesBody(const std::vector<FileItem>& files);
Bytes groupsBody(const std::vector<GroupItem>& groups); // levels written as their low byte
Bytes registryBody(const std::vector<RegistryItem>& entries);
Bytes patternsBody(const std::vector<std::string>& patterns);
Bytes optionsBody(const OptionsItem& options);
// u16 code page, then the tool and the registration as counted strings.
Bytes infoBody(const InfoItem& info);

// The records of a payload in a fixed order: info, strings, options, files,
// groups, registry, patterns, end. Empty lists and a missing options block write no
// record; the string table is always written when it has texts.
Bytes encodePayload(const PayloadPlan& payload);

// The position of the locator's offset field in an executable's bytes, or
// nothing when the marker is missing or occurs more than once.
std::optional<size_t> findLocatorField(const Bytes& executable);
uint32_t readLocator(const Bytes& executable, size_t field);

// A copy of the executable with the payload appended at its end. When the
// locator does not already point at the end, it is patched to point there.
// Throws std::runtime_error when the executable has no single locator.
Bytes attachPayload(const Bytes& executable, const Bytes& payload);

Bytes readFileBytes(const std::string& path);                    // throws std::runtime_error
void writeFileBytes(const std::string& path, const Bytes& data); // throws std::runtime_error

} // namespace varnel
