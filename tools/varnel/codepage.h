// Conversion between UTF-8 (manifests) and ANSI code pages (payloads).
//
// Code page 1252 is built in, so the default behaves the same everywhere. The
// other single-byte pages (1250 to 1258, 874, and the OEM pages 437, 850, 852,
// 866) and the East Asian double-byte pages (932 Japanese, 936 Simplified
// Chinese, 949 Korean, 950 Traditional Chinese) come from the platform: iconv
// on the host, MultiByteToWideChar on Windows. A byte that the code page leaves
// undefined has no character.
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

// The byte position of the first trail byte of a double-byte character that
// is a backslash (0x5C), which byte-wise path handling takes for a separator.
std::optional<size_t> backslashTrailByte(const std::string& bytes, unsigned codePage);

// What nextCharacter gives for bytes that are not a well-formed character.
constexpr uint32_t kNoCharacter = 0xFFFFFFFFu;
// Decodes the UTF-8 character at byte `i` of `s` and moves `i` past it;
// kNoCharacter, with `i` unchanged, when the bytes there are not a well-formed
// character (overlong forms, surrogates and cut sequences included).
uint32_t nextCharacter(const std::string& s, size_t& i);

// "U+20AC" style name of a character, for messages.
std::string characterName(uint32_t character);

} // namespace varnel
