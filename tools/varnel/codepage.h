// Conversion between UTF-8 (manifests) and single-byte ANSI code pages (payloads).
//
// Code page 1252 is built in, so the default behaves the same everywhere. Other
// single-byte code pages (1250 to 1258, 874, and the OEM pages 437, 850, 852,
// 866) come from the platform: iconv on the host, MultiByteToWideChar on
// Windows. A byte that the code page leaves undefined has no character.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnel {

// True when texts can be converted to and from this code page here.
bool isSupportedCodePage(unsigned codePage);

// Where a conversion failed: the offending character (or byte, when
// decoding) and its byte position in the input.
struct ConversionFailure {
    uint32_t character = 0;
    size_t position = 0;
};

// UTF-8 to the code page. Nothing when the input is not valid UTF-8 or holds a
// character that the code page cannot represent (see `failure`).
std::optional<std::string> utf8ToCodePage(const std::string& utf8, unsigned codePage,
                                          ConversionFailure* failure = nullptr);

// The code page to UTF-8. Nothing when a byte is undefined in the code page.
std::optional<std::string> codePageToUtf8(const std::string& bytes, unsigned codePage,
                                          ConversionFailure* failure = nullptr);

// "U+20AC" style name of a character, for messages.
std::string characterName(uint32_t character);

} // namespace varnel
