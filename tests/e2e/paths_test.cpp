// Folder macros and protected folders against the real platform, for each
// Windows version, through the probe (which runs the uninstaller's own code
// in a process that Wine reports that version to).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "harness.h"

namespace {

const char* const versions[] = {"win98", "winxp", "win10"};
const char hookVariable[] = "VARNEL_SEAM";

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

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
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

TEST(PathsPlatform, FallbacksOfTheRealPlatformOnBothFamilies) {
    std::string dir = bed::caseDir("paths-fallbacks");
    for (const char* version : {"win98", "winxp"}) {
        bool nt = std::string(version) != "win98";
        SCOPED_TRACE(version);
        std::string exe = probeAs(dir, version);
        Values platform = bed::runProbe(exe, "platform-folders");
        std::string windows = answer(platform, "windows") + "\\";
        std::string appData = answer(platform, "csidl26");
        std::string programFiles = answer(platform, "ProgramFilesDir");
        // Two levels up from the application-data folder.
        std::string base = appData.substr(0, appData.find_last_of('\\'));
        base = base.substr(0, base.find_last_of('\\'));

        // The specific folders fail; the application-data folder is still there.
        SetEnvironmentVariableA(hookVariable,
                                "csidl28|csidl35|csidl46|csidl25|csidl40|csidl5|CommonFilesDir");
        Values got = bed::runProbe(
            exe, "macro" + quoted({"#LocalAppData#", "#AllUsersAppData#", "#AllUsersDocuments#",
                                   "#AllUsersDesktop#", "#UserDir#", "#AllUsersDir#",
                                   "#MyDocuments#", "#CommonFiles#"}));
        std::map<std::string, std::string> expected;
        if (nt) {
            expected = {
                {"#LocalAppData#", appData.substr(0, appData.find_last_of('\\')) +
                                       "\\Local Settings\\Application Data"},
                {"#AllUsersAppData#", base + "\\All Users\\Application Data"},
                {"#AllUsersDocuments#", base + "\\All Users\\Documents"},
                {"#AllUsersDesktop#", base + "\\All Users\\Desktop"},
                {"#UserDir#", appData.substr(0, appData.find_last_of('\\'))},
                {"#AllUsersDir#", base + "\\All Users"},
            };
        } else {
            expected = {
                {"#LocalAppData#", windows + "Application Data"},
                {"#AllUsersAppData#", windows + "All Users\\Application Data"},
                {"#AllUsersDocuments#", windows + "All Users\\Documents"},
                {"#AllUsersDesktop#", windows + "All Users\\Desktop"},
                {"#UserDir#", stripped(windows)},
                {"#AllUsersDir#", windows + "All Users"},
            };
        }
        expected["#MyDocuments#"] = "#MyDocuments#";
        expected["#CommonFiles#"] = programFiles + "\\Common Files";
        for (const auto& e : expected)
            EXPECT_EQ(lower(got[e.first]), lower(e.second)) << e.first;

        // The application-data folder fails too.
        SetEnvironmentVariableA(hookVariable, "csidl26|csidl28|csidl35|csidl40|key");
        got =
            bed::runProbe(exe, "macro" + quoted({"#AppData#", "#LocalAppData#", "#AllUsersAppData#",
                                                 "#UserDir#", "#CommonFiles#", "#Program Files#"}));
        SetEnvironmentVariableA(hookVariable, nullptr);
        if (nt) {
            expected = {
                {"#AppData#", windows + "Profiles\\Administrator\\Application Data"},
                {"#LocalAppData#",
                 windows + "Profiles\\Administrator\\Local Settings\\Application Data"},
                {"#AllUsersAppData#", windows + "Profiles\\All Users\\Application Data"},
                {"#UserDir#", "c:\\"},
            };
        } else {
            expected = {
                {"#AppData#", windows + "Application Data"},
                {"#LocalAppData#", windows + "Application Data"},
                {"#AllUsersAppData#", windows + "All Users\\Application Data"},
                {"#UserDir#", stripped(windows)},
            };
        }
        expected["#CommonFiles#"] = "#CommonFiles#";
        expected["#Program Files#"] = "#Program Files#";
        for (const auto& e : expected)
            EXPECT_EQ(lower(got[e.first]), lower(e.second)) << e.first;
    }
}

struct Folder {
    std::string path;
    bool ntOnly;
};

TEST(PathsPlatform, ProtectedFoldersOfEachVersion) {
    std::string dir = bed::caseDir("paths-protected");
    const char quickLaunch[] = "\\Microsoft\\Internet Explorer\\Quick Launch";
    for (const char* version : versions) {
        bool nt = std::string(version) != "win98";
        SCOPED_TRACE(version);
        std::string exe = probeAs(dir, version);
        Values p = bed::runProbe(exe, "platform-folders");
        std::vector<Folder> list = {
            {answer(p, "windows"), false}, {answer(p, "system"), false},
            {answer(p, "csidl0"), false},  {answer(p, "csidl16"), false},
            {answer(p, "csidl25"), true},  {answer(p, "csidl20"), false},
            {answer(p, "csidl2"), false},  {answer(p, "csidl23"), true},
            {answer(p, "csidl11"), false}, {answer(p, "csidl22"), true},
            {answer(p, "csidl7"), false},  {answer(p, "csidl24"), true},
            {answer(p, "csidl26"), false}, {answer(p, "csidl26") + quickLaunch, false},
            {answer(p, "csidl35"), false}, {answer(p, "csidl35") + quickLaunch, false},
            {answer(p, "csidl46"), false}, {p["ProgramFilesDir"], false},
            {p["CommonFilesDir"], false},
        };
        // The user's folder, the folder of all profiles, #AllUsersDir# (the
        // parent of the shared documents), the user's documents; pictures, music
        // and videos, the user's and all users', where the system has them.
        for (const std::string& path :
             {answer(p, "csidl40"), parentOf(answer(p, "csidl40")), parentOf(answer(p, "csidl46")),
              answer(p, "csidl5"), stripped(p["csidl39"]), stripped(p["csidl13"]),
              stripped(p["csidl14"]), stripped(p["csidl54"]), stripped(p["csidl53"]),
              stripped(p["csidl55"])})
            if (!path.empty())
                list.push_back({path, false});
        auto inAlwaysList = [&](const std::string& path) {
            for (const Folder& f : list)
                if (!f.ntOnly && lower(f.path) == lower(path))
                    return true;
            return false;
        };

        std::map<std::string, int> expected;
        for (const Folder& f : list) {
            int protectedHere = nt || !f.ntOnly;
            if (!protectedHere)
                ASSERT_FALSE(inAlwaysList(f.path)) << f.path << " is in the list another way";
            for (const std::string& form :
                 {f.path, f.path + "\\", upper(f.path), lower(f.path) + "\\"})
                expected[form] = protectedHere;
        }
        // Not in the list: sub-folders, parents.
        for (const std::string& path :
             {answer(p, "windows") + "\\Sub", p["ProgramFilesDir"] + "\\Product",
              p["CommonFilesDir"] + "\\Product", answer(p, "csidl26") + "\\Microsoft",
              answer(p, "csidl26") + "\\Microsoft\\Internet Explorer",
              answer(p, "csidl5") + "\\Product", std::string("C:\\vt\\paths-protected")}) {
            ASSERT_FALSE(inAlwaysList(path)) << path;
            expected[path] = 0;
        }
        for (const std::string& path :
             {std::string(""), std::string("C:"), std::string("C:\\"), std::string("c:\\")})
            expected[path] = 1;

        std::vector<std::string> args;
        for (const auto& e : expected)
            args.push_back(e.first);
        Values got = bed::runProbe(exe, "protected" + quoted(args));
        for (const auto& e : expected) {
            EXPECT_EQ(got[e.first], std::to_string(e.second)) << e.first;
            EXPECT_EQ(got["after:" + e.first], e.first) << "the path was changed";
        }

        std::string doubled = answer(p, "windows") + "\\Sub\\\\";
        got = bed::runProbe(exe, "protected" + quoted({doubled}));
        EXPECT_EQ(got[doubled], "0");
        EXPECT_EQ(got["after:" + doubled], doubled.substr(0, doubled.size() - 1));
    }
}

TEST(PathsPlatform, RegistryKeyMissingEndsTheProtectedList) {
    std::string dir = bed::caseDir("paths-nokey");
    std::string exe = probeAs(dir, "winxp");
    Values p = bed::runProbe(exe, "platform-folders");
    SetEnvironmentVariableA(hookVariable, "key");
    Values got = bed::runProbe(exe, "protected" + quoted({p["ProgramFilesDir"], p["CommonFilesDir"],
                                                          answer(p, "csidl46")}));
    SetEnvironmentVariableA(hookVariable, nullptr);
    EXPECT_EQ(got[p["ProgramFilesDir"]], "0");
    EXPECT_EQ(got[p["CommonFilesDir"]], "0");
    EXPECT_EQ(got[answer(p, "csidl46")], "1");
}

TEST(PathsBuild, OnlyTheTestBuildCarriesTheFolderSwitch) {
    const std::string marker = hookVariable;
    auto contains = [&](const std::string& file) {
        varnel::Bytes bytes = varnel::readFileBytes(bed::fixture(file));
        return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) != bytes.end();
    };
    EXPECT_TRUE(contains("probe.exe")); // the marker is real in the test build
    EXPECT_FALSE(contains("uninst.exe"));
}

} // namespace
