// `varnel dump` on any executable: finding the payload, decoding every record and converting its
// texts from a code page (chosen by the first byte). Where the payload is accepted, the
// uninstaller must read it too and the dump must pack back into the same bytes.
#include "authoring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const unsigned codePages[] = {1252, 1250, 1251, 1253, 1254, 1255,
                                         1256, 1257, 1258, 874,  437,  866};
    varnel::Bytes executable(data, data + size);
    unsigned codePage = size ? codePages[data[0] % std::size(codePages)] : 1252;
    varnel::SplitPayload split;
    varnel::Manifest dumped;
    try {
        split = varnel::splitPayload(executable);
        dumped = varnel::manifestFromPayload(split, codePage);
    } catch (const varnel::PayloadDamage&) {
        return 0; // reported as damage: what dump is for
    }
    fuzz::checkAcceptedPayload(executable, split, dumped);
    return 0;
}
