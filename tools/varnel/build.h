// Packing: a manifest's payload and the finished uninstaller. The checks are
// in check.h; packing runs them and refuses a manifest with errors.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "manifest.h"

namespace varnel {

// A string as it is packed: converted to the code page, or left as it stands
// when it cannot be (a code page that is not supported, a character that the
// code page lacks; the checks report both).
std::string codePageBytes(const std::string& utf8, unsigned codePage);

// Why a file cannot serve as the stub of an uninstaller, if it cannot: not a
// PE file, no single payload marker, a payload already appended, or a stub
// for the other scope (stubScopeProblem, scope.h).
std::optional<std::string> stubProblem(const Bytes& stub, Scope scope = Scope::Machine);

// A manifest that cannot be packed, with the errors that say why.
class PackError : public std::runtime_error {
  public:
    explicit PackError(std::vector<Diagnostic> errors);
    std::vector<Diagnostic> errors;
};

// The payload bytes of a manifest, texts and paths converted to its code
// page. The usual form also gets an information record (RT_INFO: the code
// page, this tool's version and the register section) before its records, and
// the removal of the registration's key after its registry entries. Throws
// PackError when checkManifest finds errors.
Bytes buildPayload(const Manifest& manifest);

// The payload bytes of a manifest as they would be written, whatever the
// checks say (dump uses it to see which form gives a payload back); bytes of
// an entry that cannot be encoded are left out or taken as they are.
Bytes payloadBytesUnchecked(const Manifest& manifest);

// The version of this library and the tool ("1.0.0"); the information record
// of every payload it packs names it.
const char* toolVersion();

// The register section as the information record holds it: JSON on one line.
std::string registrationText(const Registration& registration);

// A copy of the stub with the manifest's payload appended and the locator
// pointing at it. Throws PackError, also for a stub of the other scope (an
// error at "scope"), or std::runtime_error when the stub has no single locator.
Bytes buildUninstaller(const Bytes& stub, const Manifest& manifest);

} // namespace varnel
