// Reading a PE32 file's headers from its bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "payload_writer.h"

namespace bed {

inline uint32_t u32(const varnel::Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t(b.at(at + 3)) << 24;
}
inline uint16_t u16(const varnel::Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}

// Offset of the "PE\0\0" signature; the optional header starts 24 bytes later.
inline size_t peHeader(const varnel::Bytes& b) {
    return u32(b, 0x3C);
}

// The relative virtual address of data directory `index` (1 imports, 2 resources).
inline uint32_t dataDirectory(const varnel::Bytes& b, int index) {
    return u32(b, peHeader(b) + 24 + 96 + index * 8);
}

// File offset of a relative virtual address, through the section table.
inline size_t fileOffset(const varnel::Bytes& b, uint32_t rva) {
    size_t pe = peHeader(b);
    uint16_t sections = u16(b, pe + 6);
    size_t table = pe + 24 + u16(b, pe + 20);
    for (uint16_t i = 0; i < sections; ++i) {
        size_t s = table + i * 40;
        uint32_t va = u32(b, s + 12), size = std::max(u32(b, s + 8), u32(b, s + 16));
        if (rva >= va && rva < va + size)
            return rva - va + u32(b, s + 20);
    }
    throw std::runtime_error("address outside every section");
}

} // namespace bed
