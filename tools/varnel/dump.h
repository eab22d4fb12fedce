// Reading an uninstaller's payload back as a manifest.
#pragma once

#include "manifest.h"
#include "payload_decoder.h"

namespace varnel {

// The manifest of an uninstaller's payload, with the "scope" of the stub it
// carries where the register section does not say it (scopeFromStub), texts converted from
// `codePage`, else from the code page its information record names, else from 1252. Packing the
// result gives the same payload bytes: the usual form when it reproduces them (the register section
// read back from the information record, the key's removal that pack added taken off the registry
// list), the record form otherwise. Throws PayloadDamage.
Manifest manifestFromUninstaller(const Bytes& executable,
                                 std::optional<unsigned> codePage = std::nullopt);

// The same, from a split payload.
Manifest manifestFromPayload(const SplitPayload& split,
                             std::optional<unsigned> codePage = std::nullopt);

// Gives the manifest the scope of its stub (stubScope, scope.h) where the
// manifest would otherwise say another: the payload does not hold the scope,
// the stub does.
void scopeFromStub(Manifest& manifest, std::optional<Scope> stub);

// The payload's information record, when its first record is one that can be read.
std::optional<InfoItem> payloadInfo(const SplitPayload& split);

} // namespace varnel
