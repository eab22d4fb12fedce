// Checking a manifest: the errors that stop packing, and the warnings about
// entries the uninstaller will pass over or treat otherwise than the manifest
// suggests. Nothing here makes payload bytes; build.h does.
#pragma once

#include <string>
#include <vector>

#include "manifest.h"

namespace varnel {

// A finding about a manifest. Errors stop `pack`; warnings name entries the
// uninstaller will pass over or treat otherwise than the manifest suggests,
// and careless entries (what other software may need, or code an elevated
// uninstaller would take from a user's folders).
struct Diagnostic {
    enum class Level { Error, Warning };
    Level level = Level::Error;
    std::string where; // JSON path, such as "files[2]" or "texts.caption"
    std::string message;
};

// "error: files[2]: ..." / "warning: ..."
std::string formatDiagnostic(const Diagnostic& d);

// Every error and warning of a manifest, in manifest order: the code page,
// then each section (or each record) through the checks below; last, the
// scope against the register section and, for a product installed per user,
// each entry that needs administrator rights or reaches outside the user's
// own space (HKLM and every root but HKCU; shared, font and selfreg files;
// full paths outside a user's profile and the machine's folder macros, scope.h);
// for one per machine, a pre-uninstall program or selfreg file in a user's
// folders (scope.h, userFolder), which its elevated uninstaller would run or
// load.
std::vector<Diagnostic> checkManifest(const Manifest& manifest);

// What `varnel check` reports about a manifest's text: each problem of
// reading it (an error), then checkManifest's findings about the rest, those
// about an entry that could not be read left out. Throws ManifestError only
// for a text that is no JSON. `read` receives what could be read.
std::vector<Diagnostic> checkManifestText(const std::string& text, Manifest* read = nullptr);

bool hasErrors(const std::vector<Diagnostic>& diagnostics);

// "12 files, 3 folders, 1 group entry, 2 registry entries, 1 pattern": what a
// manifest lists, for the line that reports a clean check.
std::string summarizeManifest(const Manifest& manifest);

// The checks of one section each. `where` is the section's JSON path
// ("files", "records[2].files"; for the texts a prefix, "" or "records[0].").
// Strings are measured in the bytes of `codePage`, as they are packed; a code
// page that is not supported is left for checkManifest to report, and the
// strings are then measured as they stand. Findings are appended to `out` in
// manifest order.
void checkTexts(const TextSet& texts, const std::string& where, unsigned codePage,
                std::vector<Diagnostic>& out);
void checkOptions(const OptionsItem& options, const std::string& where, unsigned codePage,
                  std::vector<Diagnostic>& out);
void checkFiles(const std::vector<FileItem>& files, const std::string& where, unsigned codePage,
                std::vector<Diagnostic>& out);
void checkGroups(const std::vector<GroupItem>& groups, const std::string& where, unsigned codePage,
                 std::vector<Diagnostic>& out);
void checkRegistry(const std::vector<RegistryItem>& entries, const std::string& where,
                   unsigned codePage, std::vector<Diagnostic>& out);
void checkPatterns(const std::vector<std::string>& patterns, const std::string& where,
                   unsigned codePage, std::vector<Diagnostic>& out);
// The record form: the list as a whole ("records"), then each record's own
// section.
void checkRecords(const std::vector<RecordItem>& records, unsigned codePage,
                  std::vector<Diagnostic>& out);

} // namespace varnel
