#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace varnel {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw IoError("cannot " + what + " " + path + ": " + errnoText(error));
}

// Writes everything or returns the errno of the failure (0 on success).
int writeAll(int fd, const Bytes& data) {
    size_t done = 0;
    while (done < data.size()) {
        size_t chunk = std::min<size_t>(data.size() - done, 1 << 20);
#ifdef _WIN32
        int n = _write(fd, data.data() + done, unsigned(chunk));
#else
        ssize_t n = ::write(fd, data.data() + done, chunk);
#endif
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += size_t(n);
    }
    return 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

std::string errnoText(int error) {
    return std::strerror(error);
}

std::string inputName(const std::string& path) {
    return path == "-" ? "<stdin>" : path;
}

Bytes readInput(const std::string& path, size_t limit) {
    FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!in)
        fail("read", path, errno);
#ifdef _WIN32
    if (in == stdin)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    Bytes out;
    uint8_t buffer[65536];
    int error = 0;
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, in);
        out.insert(out.end(), buffer, buffer + n);
        if (out.size() > limit)
            break;
        if (n < sizeof buffer) {
            if (std::ferror(in))
                error = errno ? errno : EIO;
            break;
        }
    }
    if (in != stdin)
        std::fclose(in);
    if (error)
        fail("read", inputName(path), error);
    if (out.size() > limit)
        throw IoError("cannot read " + inputName(path) + ": it holds more than " +
                      std::to_string(limit) +
                      " bytes, the most varnel reads (a device or a stream that does not end?)");
    return out;
}

void writeOutput(const std::string& path, const Bytes& data, bool executable) {
    if (path == "-") {
        std::fflush(stdout);
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        if (int error = writeAll(1, data))
            fail("write", "<stdout>", error);
        return;
    }
    fs::path target(path);
    fs::path folder = target.parent_path();
    std::string stem = target.filename().string();
    std::random_device seed;
    std::mt19937 random(seed());
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(random()));
        temporary = (folder / ("." + stem + "." + suffix + ".tmp")).string();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY,
                    executable ? 0777 : 0666);
        if (fd < 0 && errno != EEXIST)
            fail("write", path, errno);
    }
    if (fd < 0)
        fail("write", path, EEXIST);
    int error = writeAll(fd, data);
#ifndef _WIN32
    if (!error && ::fsync(fd) != 0 && errno != EINVAL)
        error = errno;
#endif
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && !replaceFile(temporary, path))
        error = errno ? errno : EACCES;
    if (error) {
        std::remove(temporary.c_str());
        fail("write", path, error);
    }
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == "-" || b == "-")
        return false;
    std::error_code ec;
    return fs::equivalent(fs::path(a), fs::path(b), ec) && !ec;
}

} // namespace varnel
