// What the fuzz targets share: a promise that does not hold aborts with what it was (the fuzzer
// then reports the input), and for the dump and pack targets the promises of the authoring library
// that hold for every payload it reads back or builds. An exception that escapes is a crash too.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "core/entries.h"
#include "varnel.h"

namespace fuzz {

inline void check(bool kept, const char* what) {
    if (!kept) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// Dumps an uninstaller, in the code page given or else the one its payload names, and reads the
// level its stub asks for. A payload the
// decoder accepts is read by the uninstaller without an error, and its dump, printed and read back,
// packs into the very same bytes; one that `pack` built is accepted whole.
inline void checkDump(const varnel::Bytes& executable, std::optional<unsigned> codePage,
                      bool packed) {
    varnel::SplitPayload split;
    varnel::Manifest dumped;
    varnel::stubScope(executable); // the stub's manifest, read from any bytes
    try {
        split = varnel::splitPayload(executable);
        dumped = varnel::manifestFromPayload(split, codePage);
    } catch (const varnel::PayloadDamage&) {
        check(!packed, "what pack built dumps as damaged");
        return; // reported as damage: what dump is for
    }
    varnel::Bytes payload = varnel::payloadBytes(executable, split);
    PayloadContents contents = {};
    int error = readPayloadChain(payload.data(), uint32_t(payload.size()), &contents);
    freePayloadContents(&contents);
    check(!error, "the uninstaller's reader fails on a payload the decoder accepts");
    check(varnel::buildPayload(varnel::parseManifest(varnel::formatManifest(dumped))) == payload,
          "packing the dump does not give the same payload");
}

} // namespace fuzz
