#include "scan.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string utf8Name(const fs::path& p) {
#if defined(__cpp_char8_t)
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
#else
    return p.u8string();
#endif
}

void scanFolder(const fs::path& folder, const std::string& relative, std::vector<FileItem>& out) {
    std::error_code ec;
    std::vector<std::pair<std::string, fs::path>> files;
    std::vector<std::pair<std::string, fs::path>> folders;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = utf8Name(it->path().filename());
        if (it->is_directory(ec))
            folders.emplace_back(name, it->path());
        else
            files.emplace_back(name, it->path());
    }
    if (ec)
        throw std::runtime_error("cannot read the folder " + folder.string() + ": " + ec.message());
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const auto& f : files)
        out.push_back({relative, f.first, 0});
    for (const auto& d : folders) {
        std::string sub = relative + "\\" + d.first;
        out.push_back({sub, "", 0});
        scanFolder(d.second, sub, out);
    }
}

} // namespace

std::vector<FileItem> scanDirectory(const std::string& directory) {
    std::error_code ec;
    if (!fs::is_directory(fs::path(directory), ec))
        throw std::runtime_error("not a folder: " + directory);
    std::vector<FileItem> out;
    scanFolder(fs::path(directory), ".", out);
    return out;
}

} // namespace varnel
