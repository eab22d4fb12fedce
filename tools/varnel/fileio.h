// Reading and writing the files varnel works on: "-" for the standard
// streams, reads with a cap, and writes that never leave a half-written or
// destroyed file behind.
#pragma once

#include <stdexcept>
#include <string>

#include "payload_writer.h"

namespace varnel {

// An input or output that failed, with the file and the system's reason.
class IoError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The system's text for an errno value ("No space left on device").
std::string errnoText(int error);

// At most this much is read from any input unless a caller says otherwise.
constexpr size_t kReadLimit = size_t(64) << 20;

// The whole of a file, or of standard input for "-". Refuses (IoError) an
// input longer than `limit` bytes: a device or a pipe that does not end is
// never read without end.
Bytes readInput(const std::string& path, size_t limit = kReadLimit);

// Writes a file as a whole or not at all: the bytes go to a new file in the
// target's folder, which then replaces the target; on any failure the new
// file is removed and the target is left as it was. An executable gets the
// mode a linker gives its output (all may run it, less the umask); other
// files the usual mode of a new file. "-" writes to standard output.
void writeOutput(const std::string& path, const Bytes& data, bool executable = false);

// True when both paths exist and name the same file (links and spellings
// resolved).
bool sameFile(const std::string& a, const std::string& b);

// The name of an input in messages: the path, or "<stdin>" for "-".
std::string inputName(const std::string& path);

} // namespace varnel
