// What the dump and pack targets share: the promises of the authoring library that hold for every
// payload it reads back or builds. An exception that escapes is a crash the fuzzer reports.
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

// A payload the decoder accepts is read by the uninstaller without an error, and its dump, printed
// and read back, packs into the very same bytes.
inline void checkAcceptedPayload(const char* target, const varnel::Bytes& executable,
                                 const varnel::SplitPayload& split,
                                 const varnel::Manifest& dumped) {
    varnel::Bytes payload = varnel::payloadBytes(executable, split);
    PayloadContents contents = {};
    int error = readPayloadChain(payload.data(), uint32_t(payload.size()), &contents);
    freePayloadContents(&contents);
    if (error)
        fail(target, "the uninstaller's reader fails on a payload the decoder accepts");
    if (varnel::buildPayload(varnel::parseManifest(varnel::formatManifest(dumped))) != payload)
        fail(target, "packing the dump does not give the same payload");
}

} // namespace fuzz
