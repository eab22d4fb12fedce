// Packing: a manifest's payload, the checks that come with it, and the
// finished uninstaller.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "manifest.h"

namespace varnel {

// A finding about a manifest. Errors stop `pack`; warnings name entries the
// uninstaller will pass over or treat otherwise than the manifest suggests.
struct Diagnostic {
    enum class Level { Error, Warning };
    Level level = Level::Error;
    std::string where; // JSON path, such as "files[2]" or "texts.caption"
    std::string message;
};

// "error: files[2]: ..." / "warning: ..."
std::string formatDiagnostic(const Diagnostic& d);

// Every error and warning of a manifest, in manifest order.
std::vector<Diagnostic> checkManifest(const Manifest& manifest);

bool hasErrors(const std::vector<Diagnostic>& diagnostics);

// "12 files, 3 folders, 1 group entry, 2 registry entries, 1 pattern": what a
// manifest lists, for the line that reports a clean check.
std::string summarizeManifest(const Manifest& manifest);

// Why a file cannot serve as the stub of an uninstaller, if it cannot: not a
// PE file, no single payload marker, or a payload already appended.
std::optional<std::string> stubProblem(const Bytes& stub);

// A manifest that cannot be packed, with the errors that say why.
class PackError : public std::runtime_error {
  public:
    explicit PackError(std::vector<Diagnostic> errors);
    std::vector<Diagnostic> errors;
};

// The payload bytes of a manifest, texts and paths converted to its code
// page. Throws PackError when the manifest has errors.
Bytes buildPayload(const Manifest& manifest);

// The payload bytes of a manifest as they would be written, whatever the
// checks say (dump uses it to see which form gives a payload back); bytes of
// an entry that cannot be encoded are left out or taken as they are.
Bytes payloadBytesUnchecked(const Manifest& manifest);

// A copy of the stub with the manifest's payload appended and the locator
// pointing at it. Throws PackError, or std::runtime_error when the stub has no
// single locator.
Bytes buildUninstaller(const Bytes& stub, const Manifest& manifest);

} // namespace varnel
