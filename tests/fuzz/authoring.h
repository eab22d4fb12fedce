// What the dump and pack targets share: the promises of the authoring library
// that hold for every payload it reads back or builds.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "payload/entries.h"
#include "varnel.h"

namespace fuzz {

[[noreturn]] inline void fail(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

// A stub of 14 bytes: "MZ", two bytes, the locator (marker and offset 0).
inline varnel::Bytes tinyStub() {
    const char bytes[] = "MZ\0\0wwgT)H\0\0\0\0";
    return varnel::Bytes(bytes, bytes + 14);
}

// A payload the decoder accepts is read by the uninstaller without an error,
// and its dump, printed and read back, packs into the very same bytes.
inline void checkAcceptedPayload(const char* target, const varnel::Bytes& executable,
                                 const varnel::SplitPayload& split,
                                 const varnel::Manifest& dumped) {
    varnel::Bytes payload = varnel::payloadBytes(executable, split);
    PayloadContents contents = {};
    int error = readPayloadChain(payload.data(), uint32_t(payload.size()), &contents);
    freePayloadContents(&contents);
    if (error)
        fail(target, "the uninstaller's reader fails on a payload the decoder accepts");
    varnel::Manifest again;
    try {
        again = varnel::parseManifest(varnel::formatManifest(dumped));
    } catch (const varnel::ManifestError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fail(target, "the dump's manifest cannot be read back");
    }
    varnel::Bytes repacked;
    try {
        repacked = varnel::buildPayload(again);
    } catch (const varnel::PackError& e) {
        for (const varnel::Diagnostic& d : e.errors)
            std::fprintf(stderr, "%s\n", varnel::formatDiagnostic(d).c_str());
        fail(target, "the dump's manifest cannot be packed");
    }
    if (repacked != payload)
        fail(target, "packing the dump does not give the same payload");
}

} // namespace fuzz
