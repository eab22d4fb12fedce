// `varnel pack` on any manifest text, onto a stub of 14 bytes ("MZ", two bytes, the marker and a
// locator of 0). A manifest without errors must pack (but one per user, which needs a stub that
// asks for asInvoker), one with errors must not, and what is packed
// must be read back whole by the decoder and the uninstaller, and its dump pack to the same bytes.
#include <string>

#include "authoring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel::Manifest manifest;
    try {
        manifest = varnel::parseManifest(std::string(data, data + size));
    } catch (const varnel::ManifestError&) {
        return 0; // reported with its place in the manifest
    }
    const char stub[] = "MZ\0\0wwgT)H\0\0\0\0";
    // The stub has no manifest, so a product installed per user is refused on it.
    bool errors =
        varnel::hasErrors(varnel::checkManifest(manifest)) ||
        varnel::stubScopeProblem(varnel::Bytes(stub, stub + 14), varnel::productScope(manifest));
    varnel::Bytes executable;
    try {
        executable = varnel::buildUninstaller(varnel::Bytes(stub, stub + 14), manifest);
    } catch (const varnel::PackError&) {
        fuzz::check(errors, "a manifest the checks pass cannot be packed");
        return 0;
    }
    fuzz::check(!errors, "a manifest with errors was packed");
    fuzz::checkDump(executable, std::nullopt, true); // the code page its payload names
    return 0;
}
