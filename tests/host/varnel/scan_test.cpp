#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "normalize.h"
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

// Real trees: links are not followed, names staged on a Mac are composed,
// and names a code page cannot store are reported with their paths.
TEST(Scan, LinksNamesAndCodePages) {
    fs::path root = testing_support::freshDir("scan-real");
    fs::create_directories(root / "sub");
    std::ofstream(root / "sub/target.txt") << "x";
    fs::create_symlink("sub/target.txt", root / "file-link");
    fs::create_directory_symlink("sub", root / "dir-link");
    fs::create_directory_symlink(".", root / "sub/loop-link");
    std::ofstream(root / fs::u8path("Cafe\u0301.txt")) << "x"; // é decomposed
    ScanReport report = scanTree(root.string(), 1252);
    std::vector<std::string> names;
    for (const FileItem& f : report.files)
        names.push_back(f.folder + "|" + f.name);
    EXPECT_EQ(names, (std::vector<std::string>{".|Caf\u00E9.txt", ".\\sub|", ".\\sub|target.txt"}));
    ASSERT_EQ(report.warnings.size(), 3u);
    for (const std::string& w : report.warnings)
        EXPECT_NE(w.find("a symbolic link; not followed and not listed"), std::string::npos) << w;
    EXPECT_TRUE(report.errors.empty());
    EXPECT_EQ(composeUtf8("\u1112\u1161\u11AB \u0041\u030A\u0301"), "\uD55C \u01FA");

    std::ofstream(root / fs::u8path("\u1112\u1161\u11AB.txt")) << "x"; // 한 as jamo
    std::ofstream(root / fs::u8path("sub/\u0436.txt")) << "x";
    std::ofstream(root / "sub/bad\xFF.txt") << "x";
    report = scanTree(root.string(), 1252);
    std::string errors;
    for (const std::string& e : report.errors)
        errors += e + "\n";
    EXPECT_EQ(report.errors.size(), 3u) << errors;
    for (const std::string& part :
         {".txt: the name holds U+D55C, which code page 1252 cannot store",
          "sub/bad\xFF.txt: the name is not valid UTF-8", "sub/\u0436.txt: the name holds U+0436"})
        EXPECT_NE(errors.find(part), std::string::npos) << part << "\n" << errors;
    EXPECT_EQ(scanTree(root.string(), 949).errors.size(), 2u); // 한 fits code page 949
    EXPECT_THROW(scanDirectory(root.string()), std::runtime_error);
    fs::remove_all(root);
}

// A folder mounted inside itself is met twice; the scan does not go round.
TEST(Scan, AFolderLoopIsReportedNotFollowed) {
    fs::path root = testing_support::freshDir("scan-loop");
    fs::create_directories(root / "a/loop");
    if (std::system("unshare -rm true 2>/dev/null") != 0)
        GTEST_SKIP() << "no user namespaces to mount a loop in";
    std::string command = "unshare -rm sh -c 'mount --bind \"" + root.string() + "\" \"" +
                          (root / "a/loop").string() + "\" && \"" + VARNEL_EXE + "\" scan \"" +
                          root.string() + "\"' >\"" + (root / "out").string() + "\" 2>&1";
    int status = std::system(command.c_str());
    std::ifstream in(root / "out");
    std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WEXITSTATUS(status), 1) << out;
    EXPECT_NE(out.find("a/loop: this folder was met before (a loop)"), std::string::npos) << out;
    fs::remove_all(root);
}
