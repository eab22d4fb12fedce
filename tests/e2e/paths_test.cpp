// Folder macros and protected folders against the real platform, for each
// Windows version, through the probe (which runs the uninstaller's own code
// in a process that Wine reports that version to).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "harness.h"

namespace {

const char* const versions[] = {"win98", "winxp", "win10"};

using Values = std::map<std::string, std::string>;

// A copy of the probe that Wine runs as the given Windows version.
std::string probeAs(const std::string& dir, const std::string& version) {
    std::string name = "probe_paths_" + version + ".exe";
    std::string exe = dir + "\\" + name;
    EXPECT_TRUE(CopyFileA(bed::fixture("probe.exe").c_str(), exe.c_str(), FALSE));
    bed::setWindowsVersion(name, version);
    return exe;
}

std::string stripped(std::string path) {
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return s;
}

// Each argument in quotes; backslashes before the closing quote are doubled
// so that they stay backslashes.
std::string quoted(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        size_t trailing = a.size() - std::min(a.size(), a.find_last_not_of('\\') + 1);
        line += " \"" + a + std::string(trailing, '\\') + "\"";
    }
    return line;
}

// The platform's answer for a source, which must be there.
std::string answer(const Values& platform, const std::string& source) {
    auto it = platform.find(source);
    EXPECT_TRUE(it != platform.end() && !it->second.empty()) << source << " not reported";
    return it == platform.end() ? "" : stripped(it->second);
}

std::string parentOf(const std::string& path) {
    size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos)
        return "c:\\";
    if (cut > 0 && path[cut - 1] == ':')
        return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

const char* const macroTokens[] = {
    "#Windows#",           "#System#",          "#TempDir#", "#CommonFiles#",  "#Program Files#",
    "#MyDocuments#",       "#Desktop#",         "#AppData#", "#LocalAppData#", "#AllUsersAppData#",
    "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#", "#AllUsersDir#",  "#InstallDir#",
};

TEST(PathsPlatform, EveryMacroResolvesToThePlatformsFolder) {
    std::string dir = bed::caseDir("paths-macros");
    for (const char* version : versions) {
        SCOPED_TRACE(version);
        std::string exe = probeAs(dir, version);
        Values platform = bed::runProbe(exe, "platform-folders");
        std::map<std::string, std::string> expected = {
            {"#Windows#", answer(platform, "windows")},
            {"#System#", answer(platform, "system")},
            {"#TempDir#", answer(platform, "temp")},
            {"#CommonFiles#", answer(platform, "CommonFilesDir")},
            {"#Program Files#", answer(platform, "ProgramFilesDir")},
            {"#MyDocuments#", answer(platform, "csidl5")},
            {"#Desktop#", answer(platform, "csidl16")},
            {"#AppData#", answer(platform, "csidl26")},
            {"#LocalAppData#", answer(platform, "csidl28")},
            {"#AllUsersAppData#", answer(platform, "csidl35")},
            {"#AllUsersDocuments#", answer(platform, "csidl46")},
            {"#AllUsersDesktop#", answer(platform, "csidl25")},
            {"#UserDir#", answer(platform, "csidl40")},
            {"#AllUsersDir#", parentOf(answer(platform, "csidl46"))},
            {"#InstallDir#", answer(platform, "installDir")},
        };
        std::vector<std::string> tokens(std::begin(macroTokens), std::end(macroTokens));
        tokens.push_back("#appdata#");
        tokens.push_back("#NoSuchFolder#");
        Values macros = bed::runProbe(exe, "macro" + quoted(tokens));
        for (const char* token : macroTokens) {
            SCOPED_TRACE(token);
            std::string got = macros[token];
            EXPECT_EQ(lower(got), lower(expected[token]));
            ASSERT_FALSE(got.empty());
            EXPECT_TRUE(got.back() != '\\' || got.size() == 3) << got;
        }
        EXPECT_EQ(lower(macros["#appdata#"]), lower(expected["#AppData#"]));
        EXPECT_EQ(macros["#NoSuchFolder#"], "");

        Values expanded = bed::runProbe(exe, "expand \"#WINDOWS#\\x;#InstallDir#\\readme.txt\"");
        std::string full =
            expected["#Windows#"] + "\\x;" + expected["#InstallDir#"] + "\\readme.txt";
        EXPECT_EQ(lower(expanded["result"]), lower(full));
        EXPECT_EQ(expanded["length"], std::to_string(full.size()));
        EXPECT_EQ(expanded["measured"], expanded["length"]);
    }
}

// Which real folders are in the list on each version; the forms a path may
// take, the short paths and the rest are Paths.* of the unit tests.
TEST(PathsPlatform, ProtectedFoldersOfEachVersion) {
    std::string dir = bed::caseDir("paths-protected");
    const std::string quickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";
    for (const char* version : versions) {
        bool nt = std::string(version) != "win98";
        SCOPED_TRACE(version);
        std::string exe = probeAs(dir, version);
        Values p = bed::runProbe(exe, "platform-folders");
        std::map<std::string, int> expected;
        for (const char* source : {"windows", "system", "csidl0", "csidl16", "csidl20", "csidl2",
                                   "csidl11", "csidl7", "csidl26", "csidl35", "csidl46", "csidl40",
                                   "csidl5"})
            expected[answer(p, source)] = 1;
        for (const char* source : {"csidl26", "csidl35"})
            expected[answer(p, source) + quickLaunch] = 1;
        expected[p["ProgramFilesDir"]] = expected[p["CommonFilesDir"]] = 1;
        // The folder of all profiles, #AllUsersDir#, and the pictures, music and
        // videos of the user and of all users, where the system has them.
        for (const std::string& path :
             {parentOf(answer(p, "csidl40")), parentOf(answer(p, "csidl46")),
              stripped(p["csidl39"]), stripped(p["csidl13"]), stripped(p["csidl14"]),
              stripped(p["csidl54"]), stripped(p["csidl53"]), stripped(p["csidl55"])})
            if (!path.empty())
                expected[path] = 1;
        // The all-users folders count on NT only (unless in the list another way).
        for (const char* source : {"csidl25", "csidl23", "csidl22", "csidl24"})
            expected.emplace(answer(p, source), nt);
        // Not in the list: sub-folders.
        for (const std::string& path :
             {answer(p, "windows") + "\\Sub", p["ProgramFilesDir"] + "\\Product",
              answer(p, "csidl26") + "\\Microsoft\\Internet Explorer",
              answer(p, "csidl5") + "\\Product", dir})
            ASSERT_TRUE(expected.emplace(path, 0).second) << path;
        std::vector<std::string> args;
        for (const auto& e : expected)
            args.push_back(e.first);
        Values got = bed::runProbe(exe, "protected" + quoted(args));
        for (const auto& e : expected)
            EXPECT_EQ(got[e.first], std::to_string(e.second)) << e.first;
    }
}

TEST(PathsPlatform, PlatformFlagsAndInstallDirOfEachVersion) {
    std::string dir = bed::caseDir("platform");
    const char* const expected[][3] = {
        {"win98", "0", "0"}, {"winxp", "1", "0"}, {"win7", "1", "1"}, {"win10", "1", "1"}};
    for (const auto& [version, isNT, isVista] : expected) {
        SCOPED_TRACE(version);
        Values values = bed::runProbe(probeAs(dir, version), "platform");
        EXPECT_EQ(values["isNT"], isNT);
        EXPECT_EQ(values["isVistaOrLater"], isVista);
        EXPECT_EQ(values["installDir"], dir + "\\");
    }
    std::string root = "C:\\probe_root.exe"; // a program in a drive root keeps its backslash
    ASSERT_TRUE(CopyFileA(bed::fixture("probe.exe").c_str(), root.c_str(), FALSE));
    Values values = bed::runProbe(root, "platform");
    DeleteFileA(root.c_str());
    EXPECT_EQ(values["installDir"], "C:\\");
}

} // namespace
