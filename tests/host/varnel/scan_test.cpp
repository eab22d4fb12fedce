#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support.h"

using namespace varnel;
namespace fs = std::filesystem;

TEST(Scan, FoldersComeBeforeWhatTheyHold) {
    fs::path root = testing_support::freshDir("scan");
    for (const char* dir : {"bin", "bin/plugins", "docs", "docs/manual", "empty"})
        fs::create_directories(root / dir);
    for (const char* file :
         {"VarnelDemo.ini", "bin/VarnelDemo.exe", "bin/Core.dll", "bin/plugins/p.dll",
          "docs/readme.txt", "docs/manual/index.htm", "docs/Änderungen.txt"})
        std::ofstream(root / fs::u8path(file)) << "x";

    std::vector<FileItem> files = scanDirectory(root.string());
    std::vector<std::pair<std::string, std::string>> got;
    for (const FileItem& f : files) {
        got.emplace_back(f.folder, f.name);
        EXPECT_EQ(f.flags, 0);
    }
    std::vector<std::pair<std::string, std::string>> expected = {
        {".", "VarnelDemo.ini"},
        {".\\bin", ""},
        {".\\bin", "Core.dll"},
        {".\\bin", "VarnelDemo.exe"},
        {".\\bin\\plugins", ""},
        {".\\bin\\plugins", "p.dll"},
        {".\\docs", ""},
        {".\\docs", "readme.txt"},
        {".\\docs", "Änderungen.txt"},
        {".\\docs\\manual", ""},
        {".\\docs\\manual", "index.htm"},
        {".\\empty", ""},
    };
    EXPECT_EQ(got, expected);
    fs::remove_all(root);
}

TEST(Scan, AMissingFolderIsAnError) {
    fs::path root = testing_support::freshDir("scan-missing");
    EXPECT_THROW(scanDirectory((root / "nothing").string()), std::runtime_error);
    std::ofstream(root / "file") << "x";
    EXPECT_THROW(scanDirectory((root / "file").string()), std::runtime_error);
    EXPECT_TRUE(scanDirectory(root.string()).size() == 1);
    fs::remove_all(root);
}
