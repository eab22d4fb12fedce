// `varnel dump` on any executable: finding the payload, decoding every record and converting its
// texts from a code page (chosen by the first byte; the last choice is the one the payload names).
// Where the payload is accepted, the uninstaller must read it too and the dump must pack back into
// the same bytes.
#include "authoring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const unsigned codePages[] = {1252, 1250, 1251, 1253, 1254, 1255,
                                         1256, 1257, 1258, 874,  437,  866};
    size_t choice = size ? data[0] % (std::size(codePages) + 1) : 0;
    std::optional<unsigned> codePage;
    if (choice < std::size(codePages))
        codePage = codePages[choice];
    fuzz::checkDump(varnel::Bytes(data, data + size), codePage, false);
    return 0;
}
