// Helpers shared by the varnel tool tests.
#pragma once

#include <initializer_list>
#include <string>

#include "varnel.h"

namespace testing_support {

// Bytes written out by hand: numbers 0..255, or the characters of a string.
struct Piece {
    Piece(int byte) : bytes(1, uint8_t(byte)) {}
    Piece(const char* text) : bytes(text, text + std::char_traits<char>::length(text)) {}
    varnel::Bytes bytes;
};
varnel::Bytes bytesOf(std::initializer_list<Piece> pieces);

// A small stand-in for the uninstaller: a PE header, the locator holding
// `locator`, some more bytes.
varnel::Bytes fakeStub(uint32_t locator = 0);

// The payload of an executable made from fakeStub().
varnel::Bytes payloadOf(const varnel::Bytes& executable);

// A fresh empty folder under the system's temporary folder.
std::string freshDir(const std::string& name);

} // namespace testing_support
