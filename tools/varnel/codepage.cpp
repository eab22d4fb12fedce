#include "codepage.h"

#include <array>
#include <cstdio>
#include <map>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace varnel {
namespace {

constexpr uint32_t kNoCharacter = 0xFFFFFFFFu;

// One code page: the character of every byte, and the way back.
struct CodePageTable {
    std::array<uint32_t, 256> toUnicode{};
    std::map<uint32_t, uint8_t> fromUnicode;
};

// Windows-1252 between 0x80 and 0x9F; everything else is Latin-1. The five
// bytes that 1252 leaves unassigned map to the C1 controls of the same value,
// as Windows maps them, so any byte survives a round trip.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool platformCodePage(unsigned codePage) {
    switch (codePage) {
    case 437:
    case 850:
    case 852:
    case 866:
    case 874:
    case 1250:
    case 1251:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
        return true;
    default:
        return false;
    }
}

// The character of one byte in a platform code page, or kNoCharacter.
uint32_t platformByteToUnicode(unsigned codePage, uint8_t byte) {
#ifdef _WIN32
    char in = char(byte);
    wchar_t out[2];
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &in, 1, out, 2);
    return n == 1 ? uint32_t(out[0]) : kNoCharacter;
#else
    char name[16];
    std::snprintf(name, sizeof name, "CP%u", codePage);
    iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == iconv_t(-1))
        return kNoCharacter;
    char in = char(byte);
    unsigned char out[8] = {};
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == size_t(-1) || inLeft != 0 || sizeof out - outLeft != 4)
        return kNoCharacter;
    return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 |
           uint32_t(out[3]) << 24;
#endif
}

const CodePageTable* tableFor(unsigned codePage) {
    static std::mutex lock;
    static std::map<unsigned, std::optional<CodePageTable>> tables;
    std::lock_guard<std::mutex> guard(lock);
    auto it = tables.find(codePage);
    if (it == tables.end()) {
        std::optional<CodePageTable> table;
        if (codePage == 1252 || platformCodePage(codePage)) {
            table.emplace();
            for (unsigned b = 0; b < 256; ++b) {
                uint32_t c;
                if (codePage == 1252)
                    c = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
                else
                    c = b < 0x80 ? b : platformByteToUnicode(codePage, uint8_t(b));
                table->toUnicode[b] = c;
                if (c != kNoCharacter)
                    table->fromUnicode.emplace(c, uint8_t(b));
            }
            // A page the platform does not know gives no character above ASCII.
            if (codePage != 1252 && table->fromUnicode.size() <= 0x80)
                table.reset();
        }
        it = tables.emplace(codePage, std::move(table)).first;
    }
    return it->second ? &*it->second : nullptr;
}

// Decodes one UTF-8 sequence at `i`; kNoCharacter when it is not well formed.
uint32_t nextCharacter(const std::string& s, size_t& i) {
    auto byte = [&](size_t k) { return uint8_t(s[k]); };
    uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra;
    uint32_t c;
    uint32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, c = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, c = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, c = b0 & 0x07, minimum = 0x10000;
    } else {
        return kNoCharacter;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80)
            return kNoCharacter;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return kNoCharacter;
    i += 1 + extra;
    return c;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

bool isSupportedCodePage(unsigned codePage) {
    return tableFor(codePage) != nullptr;
}

std::optional<std::string> utf8ToCodePage(const std::string& utf8, unsigned codePage,
                                          ConversionFailure* failure) {
    const CodePageTable* table = tableFor(codePage);
    if (!table)
        return std::nullopt;
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        size_t at = i;
        uint32_t c = nextCharacter(utf8, i);
        auto found = c == kNoCharacter ? table->fromUnicode.end() : table->fromUnicode.find(c);
        if (found == table->fromUnicode.end()) {
            if (failure)
                *failure = {c, at};
            return std::nullopt;
        }
        out += char(found->second);
    }
    return out;
}

std::optional<std::string> codePageToUtf8(const std::string& bytes, unsigned codePage,
                                          ConversionFailure* failure) {
    const CodePageTable* table = tableFor(codePage);
    if (!table)
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint32_t c = table->toUnicode[uint8_t(bytes[i])];
        if (c == kNoCharacter) {
            if (failure)
                *failure = {uint8_t(bytes[i]), i};
            return std::nullopt;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string characterName(uint32_t character) {
    if (character == kNoCharacter)
        return "an invalid UTF-8 sequence";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", unsigned(character));
    return buffer;
}

} // namespace varnel
