#include "scan.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

#include "codepage.h"
#include "normalize.h"
#include "rules.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// A name or path as UTF-8 where the system's names are UTF-16 (Windows), and
// as the bytes the system gives elsewhere, so that names that are not UTF-8
// can be reported.
std::string systemText(const fs::path& p) {
#ifdef _WIN32
#if defined(__cpp_char8_t)
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
#else
    return p.u8string();
#endif
#else
    return p.string();
#endif
}

class Scanner {
  public:
    Scanner(unsigned codePage, const std::vector<std::string>& excludes, ScanReport& report)
        : codePage_(codePage), excludes_(excludes), report_(report) {}

    // `below`: the folder's path below the staged folder, with "/" ("" for itself).
    void folder(const fs::path& folder, const std::string& relative, const std::string& below) {
        if (!firstVisit(folder)) {
            report_.errors.push_back(systemText(folder) +
                                     ": this folder was met before (a loop); not entered again");
            return;
        }
        std::error_code ec;
        std::vector<std::pair<std::string, fs::path>> files;
        std::vector<std::pair<std::string, fs::path>> folders;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& path = it->path();
            if (it->is_symlink(ec)) {
                report_.warnings.push_back(systemText(path) +
                                           ": a symbolic link; not followed and not listed");
                continue;
            }
            std::string name = systemText(path.filename());
            if (excluded(name) || excluded(below + name))
                continue;
            std::optional<std::string> stored = storableName(path);
            if (!stored)
                continue;
            if (it->is_directory(ec)) {
                folders.emplace_back(*stored, path);
            } else {
                files.emplace_back(*stored, path);
                std::error_code sizeError;
                uintmax_t size = it->file_size(sizeError);
                report_.bytes += sizeError ? 0 : uint64_t(size);
            }
        }
        if (ec)
            throw std::runtime_error("cannot read the folder " + systemText(folder) + ": " +
                                     ec.message());
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        for (const auto& f : files)
            report_.files.push_back({relative, f.first, 0});
        for (const auto& d : folders) {
            std::string sub = relative + "\\" + d.first;
            report_.files.push_back({sub, "", 0});
            this->folder(d.second, sub, below + systemText(d.second.filename()) + "/");
        }
    }

  private:
    bool excluded(const std::string& path) const {
        return std::any_of(excludes_.begin(), excludes_.end(), [&](const std::string& glob) {
            return maskMatches(path.c_str(), glob.c_str());
        });
    }

    // The name in normal form C, or nothing (and an error) when it cannot be stored.
    std::optional<std::string> storableName(const fs::path& path) {
        std::optional<std::string> name = composeUtf8(systemText(path.filename()));
        if (!name) {
            report_.errors.push_back(systemText(path) + ": the name is not valid UTF-8");
            ++report_.unstorable;
            return std::nullopt;
        }
        ConversionFailure failure;
        if (!utf8ToCodePage(*name, codePage_, &failure)) {
            report_.errors.push_back(systemText(path) + ": the name holds " +
                                     characterName(failure.character) + ", which code page " +
                                     std::to_string(codePage_) + " cannot store");
            ++report_.unstorable;
            return std::nullopt;
        }
        return name;
    }

    bool firstVisit(const fs::path& folder) {
#ifdef _WIN32
        std::error_code ec;
        std::string key = fs::weakly_canonical(folder, ec).string();
        return visitedNames_.insert(key).second;
#else
        struct stat st;
        if (stat(folder.c_str(), &st) != 0)
            return true;
        return visited_.insert({uint64_t(st.st_dev), uint64_t(st.st_ino)}).second;
#endif
    }

    unsigned codePage_;
    const std::vector<std::string>& excludes_;
    ScanReport& report_;
    std::set<std::pair<uint64_t, uint64_t>> visited_;
    std::set<std::string> visitedNames_;
};

} // namespace

ScanReport scanTree(const std::string& directory, unsigned codePage,
                    const std::vector<std::string>& excludes) {
    std::error_code ec;
    if (!fs::is_directory(fs::path(directory), ec))
        throw std::runtime_error("not a folder: " + directory);
    if (!isSupportedCodePage(codePage))
        throw std::runtime_error("code page " + std::to_string(codePage) + " is not supported");
    ScanReport report;
    Scanner(codePage, excludes, report).folder(fs::path(directory), ".", "");
    return report;
}

uint32_t estimatedSizeKb(uint64_t bytes) {
    uint64_t kb = (bytes + 1023) / 1024;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(kb);
}

std::vector<FileItem> scanDirectory(const std::string& directory, unsigned codePage) {
    ScanReport report = scanTree(directory, codePage);
    if (!report.errors.empty())
        throw std::runtime_error(report.errors.front());
    return std::move(report.files);
}

} // namespace varnel
