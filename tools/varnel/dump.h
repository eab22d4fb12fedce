// Reading an uninstaller's payload back as a manifest.
#pragma once

#include "manifest.h"
#include "payload_decoder.h"

namespace varnel {

// The manifest of an uninstaller's payload, texts converted from `codePage`.
// Packing the result gives the same payload bytes: the usual form when it
// reproduces them, the record form otherwise. Throws PayloadDamage.
Manifest manifestFromUninstaller(const Bytes& executable, unsigned codePage = 1252);

// The same, from a split payload.
Manifest manifestFromPayload(const SplitPayload& split, unsigned codePage = 1252);

} // namespace varnel
