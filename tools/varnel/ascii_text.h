// The tool's one way to compare and lower strings without regard to case:
// ASCII letters only, whatever the locale, as the uninstaller compares names
// (asciiLowerChar, shared with it). For the tool's own sources only.
#pragma once

#include <string>

#include "folder_names.h"

namespace varnel {

// Equal without regard to the case of ASCII letters; unlike asciiEqualNoCase,
// a NUL byte is a character like any other.
inline bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLowerChar(a[i]) != asciiLowerChar(b[i]))
            return false;
    return true;
}

// The string with its ASCII capitals lowered.
inline std::string lowered(std::string s) {
    for (char& c : s)
        c = asciiLowerChar(c);
    return s;
}

inline bool isAsciiLetter(char c) {
    char lower = asciiLowerChar(c);
    return lower >= 'a' && lower <= 'z';
}

} // namespace varnel
