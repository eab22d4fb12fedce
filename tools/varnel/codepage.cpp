#include "codepage.h"

#include <array>
#include <cerrno>
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

// One code page: the character of every single byte, the characters of the
// two-byte sequences of a double-byte page, and the way back (a byte, or a
// lead byte shifted left by 8 and its trail byte).
struct CodePageTable {
    std::array<uint32_t, 256> toUnicode{};
    std::array<bool, 256> lead{};
    std::map<uint16_t, uint32_t> pairs;
    std::map<uint32_t, uint16_t> fromUnicode;
};

// Windows-1252 between 0x80 and 0x9F; everything else is Latin-1. The five
// bytes that 1252 leaves unassigned map to the C1 controls of the same value,
// as Windows maps them, so any byte survives a round trip.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool doubleByteCodePage(unsigned codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

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
        return doubleByteCodePage(codePage);
    }
}

// The platform's conversion of one code page, one or two bytes at a time.
class PlatformDecoder {
  public:
    explicit PlatformDecoder(unsigned codePage) : codePage_(codePage) {
#ifndef _WIN32
        char name[16];
        std::snprintf(name, sizeof name, "CP%u", codePage);
        cd_ = iconv_open("UTF-32LE", name);
#endif
    }
    ~PlatformDecoder() {
#ifndef _WIN32
        if (cd_ != iconv_t(-1))
            iconv_close(cd_);
#endif
    }
    PlatformDecoder(const PlatformDecoder&) = delete;
    PlatformDecoder& operator=(const PlatformDecoder&) = delete;

    // The one character of these bytes, or kNoCharacter.
    uint32_t decode(const char* bytes, size_t length) {
#ifdef _WIN32
        wchar_t out[2];
        int n = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, bytes, int(length), out, 2);
        return n == 1 ? uint32_t(out[0]) : kNoCharacter;
#else
        if (cd_ == iconv_t(-1))
            return kNoCharacter;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        unsigned char out[8] = {};
        char* inPtr = const_cast<char*>(bytes);
        size_t inLeft = length;
        char* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        size_t r = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r == size_t(-1) || inLeft != 0 || sizeof out - outLeft != 4)
            return kNoCharacter;
        return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 |
               uint32_t(out[3]) << 24;
#endif
    }

    // True when the byte starts a two-byte sequence.
    bool isLead(uint8_t byte) {
#ifdef _WIN32
        return IsDBCSLeadByteEx(codePage_, byte) != 0;
#else
        if (cd_ == iconv_t(-1))
            return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in = char(byte);
        char* inPtr = &in;
        size_t inLeft = 1;
        char out[8];
        char* outPtr = out;
        size_t outLeft = sizeof out;
        return iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) && errno == EINVAL;
#endif
    }

  private:
    unsigned codePage_;
#ifndef _WIN32
    iconv_t cd_;
#endif
};

std::optional<CodePageTable> buildTable(unsigned codePage) {
    CodePageTable table;
    if (codePage == 1252) {
        for (unsigned b = 0; b < 256; ++b) {
            uint32_t c = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
            table.toUnicode[b] = c;
            table.fromUnicode.emplace(c, uint16_t(b));
        }
        return table;
    }
    if (!platformCodePage(codePage))
        return std::nullopt;
    PlatformDecoder decoder(codePage);
    bool doubleByte = doubleByteCodePage(codePage);
    for (unsigned b = 0; b < 256; ++b) {
        char byte = char(b);
        uint32_t c = b < 0x80 ? b : kNoCharacter;
        if (b >= 0x80 && doubleByte && decoder.isLead(uint8_t(b)))
            table.lead[b] = true;
        else if (b >= 0x80)
            c = decoder.decode(&byte, 1);
        table.toUnicode[b] = c;
        if (c != kNoCharacter)
            table.fromUnicode.emplace(c, uint16_t(b));
    }
    for (unsigned l = 0x80; l < 256; ++l) {
        if (!table.lead[l])
            continue;
        for (unsigned t = 0x40; t < 256; ++t) {
            char pair[2] = {char(l), char(t)};
            uint32_t c = decoder.decode(pair, 2);
            if (c == kNoCharacter)
                continue;
            uint16_t code = uint16_t(l << 8 | t);
            table.pairs.emplace(code, c);
            table.fromUnicode.emplace(c, code);
        }
    }
    // A page the platform does not know gives no character above ASCII.
    if (table.fromUnicode.size() <= 0x80)
        return std::nullopt;
    return table;
}

const CodePageTable* tableFor(unsigned codePage) {
    static std::mutex lock;
    static std::map<unsigned, std::optional<CodePageTable>> tables;
    std::lock_guard<std::mutex> guard(lock);
    auto it = tables.find(codePage);
    if (it == tables.end())
        it = tables.emplace(codePage, buildTable(codePage)).first;
    return it->second ? &*it->second : nullptr;
}

} // namespace

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

namespace {

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
        if (found->second > 0xFF)
            out += char(found->second >> 8);
        out += char(found->second & 0xFF);
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
        uint8_t b = uint8_t(bytes[i]);
        uint32_t c = table->toUnicode[b];
        if (table->lead[b] && i + 1 < bytes.size()) {
            auto found = table->pairs.find(uint16_t(b << 8 | uint8_t(bytes[i + 1])));
            if (found != table->pairs.end()) {
                c = found->second;
                ++i;
            }
        }
        if (c == kNoCharacter) {
            if (failure)
                *failure = {b, i};
            return std::nullopt;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::optional<size_t> backslashTrailByte(const std::string& bytes, unsigned codePage) {
    const CodePageTable* table = tableFor(codePage);
    if (!table)
        return std::nullopt;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (table->lead[uint8_t(bytes[i])]) {
            if (bytes[i + 1] == '\\')
                return i + 1;
            ++i;
        }
    return std::nullopt;
}

std::string characterName(uint32_t character) {
    if (character == kNoCharacter)
        return "an invalid UTF-8 sequence";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", unsigned(character));
    return buffer;
}

} // namespace varnel
