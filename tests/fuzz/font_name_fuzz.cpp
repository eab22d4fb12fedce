// The font-name reader on any bytes: the table directory, the naming table and its records. The
// name goes into a heap buffer of exactly FONT_NAME_SIZE bytes, so AddressSanitizer sees a write
// past it; the name must end inside it and be no longer than FONT_NAME_MAX.
#include <string.h>

#include "authoring.h"
#include "core/font_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* out = static_cast<char*>(malloc(FONT_NAME_SIZE));
    memset(out, 'Z', FONT_NAME_SIZE);
    parseFontFullName(data, uint32_t(size), out);
    fuzz::check(memchr(out, 0, FONT_NAME_MAX + 1), "the name is not ended within FONT_NAME_MAX");
    free(out);
    return 0;
}
