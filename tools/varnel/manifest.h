// The manifest: a product's uninstall payload described in UTF-8 JSON, and
// its model in memory.
//
// A manifest has two forms. The usual one lists texts, options, files,
// groups, registry entries and patterns; it packs into one record of each
// kind, in a fixed order. The record form ("records") lists the records one by
// one, for payloads that repeat a kind, use another order or carry records
// that only make sense as raw bytes; dump uses it for payloads that the usual
// form cannot reproduce byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "payload_writer.h"

namespace varnel {

using Json = nlohmann::ordered_json;

// Texts by number over a built-in language. With a language the table has at
// least the 16 texts of the catalogue; with "none" it has exactly as many as
// the highest number given, plus one. Numbers not given are the language's
// text, or empty.
struct TextSet {
    std::string language = "English";
    std::map<unsigned, std::string> texts;
};
extern const char* const kNoLanguage; // "none"

// A record given by its bytes.
struct RawRecord {
    uint16_t tag = 0;
    uint8_t flags = 0;
    uint8_t reserved = 0;
    Bytes body;
};

enum class RecordKind { Strings, Options, Files, Groups, Registry, Patterns, End, Raw };

// One entry of the record form; only the member of its kind is used.
struct RecordItem {
    RecordKind kind = RecordKind::End;
    TextSet texts;
    OptionsItem options;
    std::vector<FileItem> files;
    std::vector<GroupItem> groups;
    std::vector<RegistryItem> registry;
    std::vector<std::string> patterns;
    RawRecord raw;
};

// The product's entry in Programs and Features ("register"): a key below
// Software\Microsoft\Windows\CurrentVersion\Uninstall under HKLM (per machine)
// or HKCU (per user), and the values shown there. Empty strings are not given;
// an empty display name is the caption, an empty icon the uninstaller's own.
// `pack` adds the key's removal to the payload; register.h gives the values
// that the installer writes.
struct Registration {
    std::string key;
    uint32_t root = ROOT_HKLM;
    std::string displayName;
    std::string publisher;
    std::string version;
    std::string urlInfoAbout;
    std::string helpLink;
    std::string urlUpdateInfo;
    std::string comments;
    std::optional<uint32_t> estimatedSize; // in KB (1,024 bytes)
    std::string displayIcon; // ".\bin\app.exe" below the installation folder, or a full path
};

// Who a product is installed for, and so which stub its uninstaller is built
// on (scope.h): per machine, uninst.exe, which asks for administrator rights;
// per user, uninst-user.exe, which runs with the user's own.
enum class Scope { Machine, User };

// All strings are UTF-8; they are converted to `codePage` when packed. The
// entries (FileItem, GroupItem, RegistryItem, OptionsItem) are those of
// payload_writer.h.
struct Manifest {
    unsigned codePage = 1252; // when not given: the language's code page
    TextSet texts;
    std::optional<OptionsItem> options;
    std::vector<FileItem> files;
    std::vector<GroupItem> groups;
    std::vector<RegistryItem> registry;
    std::vector<std::string> patterns;
    std::optional<Registration> registration;
    // "scope": "machine" or "user" as given; when not given, a register
    // section under HKCU makes the product per user (productScope, scope.h).
    std::optional<Scope> scope;
    // The record form: when present, the payload is exactly these records and
    // the members above (except codePage) are not used.
    std::optional<std::vector<RecordItem>> records;
};

// A manifest that cannot be read; `where` is a JSON path such as "files[2].flags".
// A JSON syntax error has no path but a line and a column (from 1). Reading
// goes on past a bad entry, so `all` lists every problem found, this one first.
class ManifestError : public std::runtime_error {
  public:
    ManifestError(const std::string& where, const std::string& problem);
    std::string where;
    std::string problem;
    size_t line = 0;
    size_t column = 0;
    std::vector<std::pair<std::string, std::string>> all; // (where, problem)
};

Manifest manifestFromJson(const Json& json); // throws ManifestError
Json manifestToJson(const Manifest& manifest);
Manifest parseManifest(const std::string& text); // throws ManifestError

// What reading a manifest found wrong: each problem (where, problem), and the
// JSON paths of the entries that could not be read. Such an entry stays in its
// place, as far as it was read, so that the entries after it keep theirs.
struct ReadProblems {
    std::vector<std::pair<std::string, std::string>> problems;
    std::vector<std::string> unreadable;
};
// The manifest as far as it can be read, with what could not be; throws
// ManifestError only when the text is no JSON at all.
Manifest parseManifest(const std::string& text, ReadProblems& found);

// The register section alone, as the manifest writes it, and back (throws
// ManifestError); the information record holds it in this form.
Json registrationToJson(const Registration& registration);
Registration registrationFromJson(const Json& json);
Manifest readManifestFile(const std::string& path); // throws ManifestError, std::runtime_error
// JSON with one line per text, list entry or record, ending with a newline.
std::string formatManifest(const Manifest& manifest);
std::string formatJsonDocument(const Json& json); // any JSON object, the same way

// The table of a text set (UTF-8). Throws ManifestError for an unknown language.
std::vector<std::string> resolveTexts(const TextSet& set);
// The shortest text set that resolves to `texts`.
TextSet chooseTextSet(const std::vector<std::string>& texts);

// Registry roots by name ("HKCU" or "HKEY_CURRENT_USER"); and the short name of a root.
std::optional<uint32_t> registryRoot(const std::string& name);
std::optional<std::string> registryRootName(uint32_t root);

} // namespace varnel
