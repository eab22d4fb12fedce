// Unicode normalisation form C for file names.
#pragma once

#include <optional>
#include <string>

namespace varnel {

// The text with every canonical pair composed (form C, for the names a file
// system gives).
std::u32string composeCanonical(const std::u32string& text);

// The same on UTF-8; nothing when the bytes are not valid UTF-8.
std::optional<std::string> composeUtf8(const std::string& utf8);

} // namespace varnel
