// `varnel pack` on any manifest text: reading the JSON, the checks, building
// the payload and the uninstaller. A manifest without errors must pack, a
// manifest with errors must not, and what is packed must be read back whole
// by the decoder and the uninstaller, and its dump must pack into the same bytes.
#include <string>

#include "authoring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel::Manifest manifest;
    try {
        manifest = varnel::parseManifest(std::string(data, data + size));
    } catch (const varnel::ManifestError&) {
        return 0; // reported with its place in the manifest
    }
    bool errors = varnel::hasErrors(varnel::checkManifest(manifest));
    varnel::Bytes executable;
    try {
        executable = varnel::buildUninstaller(fuzz::tinyStub(), manifest);
    } catch (const varnel::PackError&) {
        if (!errors)
            fuzz::fail("pack_fuzz", "a manifest the checks pass cannot be packed");
        return 0;
    }
    if (errors)
        fuzz::fail("pack_fuzz", "a manifest with errors was packed");
    varnel::SplitPayload split;
    varnel::Manifest dumped;
    try {
        split = varnel::splitPayload(executable);
        dumped = varnel::manifestFromPayload(split, manifest.codePage);
    } catch (const varnel::PayloadDamage& damage) {
        std::fprintf(stderr, "%s\n", damage.what());
        fuzz::fail("pack_fuzz", "a packed payload is reported as damaged");
    }
    fuzz::checkAcceptedPayload("pack_fuzz", executable, split, dumped);
    return 0;
}
