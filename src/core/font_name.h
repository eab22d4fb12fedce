// The full name of a TrueType font, read from the bytes of its file. Portable
// C++ with no platform headers, so that it builds for the host as well.
#pragma once

#include <stdint.h>

enum {
    // The caller's name buffer: the name, " (TrueType)" and the terminator.
    FONT_NAME_SIZE = 520,
    // The longest name kept; a longer one is never cut, as a cut name could
    // name another font's registration.
    FONT_NAME_MAX = FONT_NAME_SIZE - 12,
    // Table records looked at, from the first.
    FONT_TABLE_LIMIT = 40,
};

// Writes into `out` (FONT_NAME_SIZE bytes) the Macintosh full name (platform 1,
// name 4) of the font whose file is `data` (`size` bytes). When several
// records match, the last one counts. `out` is the empty string when there is
// none. A record or string that lies beyond the data ends the reading: `out`
// keeps the name found before it. A name longer than FONT_NAME_MAX ends it
// with no name at all: an earlier record's name could be another font's.
void parseFontFullName(const unsigned char* data, uint32_t size, char* out);
