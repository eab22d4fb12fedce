// Folder macros, their expansion, the protected folders and the backslash
// operations. Sources the platform cannot be made to fail or to give a chosen
// path are set through the test build's VARNEL_SEAM.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/state.h"
#include "paths/paths.h"

namespace {

const char hookVariable[] = "VARNEL_SEAM";

// Sets the hooks, the platform family and the installation folder for one
// case, and puts everything back afterwards.
class Setting {
  public:
    explicit Setting(const std::string& hooks, int isNT = 1, const char* installDir = nullptr)
        : savedNT(state.isNT), savedInstallDir(state.installDir) {
        SetEnvironmentVariableA(hookVariable, hooks.empty() ? nullptr : hooks.c_str());
        resetProtectedFolders();
        state.isNT = isNT;
        if (installDir) {
            lstrcpynA(dir, installDir, sizeof(dir));
            state.installDir = dir;
        }
    }
    ~Setting() {
        SetEnvironmentVariableA(hookVariable, nullptr);
        resetProtectedFolders();
        state.isNT = savedNT;
        state.installDir = savedInstallDir;
    }

  private:
    int savedNT;
    char* savedInstallDir;
    char dir[PATH_BUFFER_SIZE] = {};
};

const size_t CANARY = 64;

// Resolves one token in a buffer of exactly MACRO_BUFFER_SIZE bytes and checks
// that nothing past it was written.
std::string resolve(const std::string& token) {
    std::vector<char> buffer(MACRO_BUFFER_SIZE + CANARY, 'Z');
    lstrcpynA(buffer.data(), token.c_str(), MACRO_BUFFER_SIZE);
    resolveFolderMacro(buffer.data());
    for (size_t i = MACRO_BUFFER_SIZE; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 'Z') << "written past the buffer at " << i << " for " << token;
    return std::string(buffer.data(), strnlen(buffer.data(), MACRO_BUFFER_SIZE));
}

struct Expanded {
    std::string text;
    uint32_t length;
};

Expanded expand(const std::string& src) {
    std::vector<char> dst(MACRO_SCRATCH_SIZE + CANARY, 'Z');
    uint32_t length = expandFolderMacros(dst.data(), src.c_str(), MACRO_SCRATCH_SIZE);
    for (size_t i = MACRO_SCRATCH_SIZE; i < dst.size(); ++i)
        EXPECT_EQ(dst[i], 'Z');
    EXPECT_EQ(expandFolderMacros(nullptr, src.c_str(), 0), length) << "measuring differs";
    return {std::string(dst.data()), length};
}

std::string withoutTrailingBackslash(std::string path) {
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string windowsFolder() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return withoutTrailingBackslash(path);
}

std::string tempFolder() {
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, path);
    return withoutTrailingBackslash(path);
}

std::string shellFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return "";
    return withoutTrailingBackslash(path);
}

TEST(Paths, TrailingBackslashOperations) {
    struct Case {
        const char* path;
        const char* added;
        const char* removed;
    } cases[] = {
        {"", "", ""},
        {"C:", "C:\\", "C:"},
        {"C:\\", "C:\\", "C:\\"},
        {"ab\\", "ab\\", "ab\\"}, // 3 bytes: kept
        {"\\\\a\\", "\\\\a\\", "\\\\a"},
        {"C:\\dir", "C:\\dir\\", "C:\\dir"},
        {"C:\\dir\\", "C:\\dir\\", "C:\\dir"},
        {"C:\\dir\\\\", "C:\\dir\\\\", "C:\\dir\\"}, // only one at a time
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char buffer[32];
        lstrcpyA(buffer, c.path);
        addTrailingBackslash(buffer);
        EXPECT_STREQ(buffer, c.added);
        lstrcpyA(buffer, c.path);
        removeTrailingBackslash(buffer);
        EXPECT_STREQ(buffer, c.removed);
    }
}

TEST(Paths, ComparisonIgnoresOnlyTheCaseOfAsciiLetters) {
    EXPECT_TRUE(pathsEqual("C:\\Program Files", "c:\\PROGRAM FILES"));
    EXPECT_TRUE(pathsEqual("", ""));
    EXPECT_FALSE(pathsEqual("C:\\Program", "C:\\Program Files"));
    EXPECT_FALSE(pathsEqual("C:\\Program Files", "C:\\Program"));
    EXPECT_FALSE(pathsEqual("C:\\\xC4", "C:\\\xE4")); // not ASCII: bytes must be equal
    EXPECT_FALSE(pathsEqual("[", "{"));               // 0x5B and 0x7B are not letters
}

TEST(Paths, ExpansionRules) {
    Setting setting("", 1, "C:\\vt\\unit-paths\\");
    std::string windows = windowsFolder();
    struct Case {
        std::string src, expected;
    } cases[] = {
        {"", ""},
        {"plain\\text.txt", "plain\\text.txt"},
        {"#", "#"},
        {"abc#def\\x", "abc#def\\x"},
        {"#a#b#", "b#"},
        {"##", ""},
        {"x##y", "xy"},
        {"# Windows#\\x", "\\x"}, // nothing is trimmed: names no folder
        {"#windows#\\x", windows + "\\x"},
        {"#WINDOWS#\\x", windows + "\\x"},
        {"a#Windows#b#Windows#c", "a" + windows + "b" + windows + "c"},
        {"#InstallDir#\\readme.txt", "C:\\vt\\unit-paths\\readme.txt"},
        {"#TempDir#", tempFolder()},
        {"\"#InstallDir#\\setup.exe\" /u #", "\"C:\\vt\\unit-paths\\setup.exe\" /u #"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        Expanded e = expand(c.src);
        EXPECT_EQ(e.text, c.expected);
        EXPECT_EQ(e.length, c.expected.size());
    }
    EXPECT_NE(tempFolder().back(), '\\');
}

TEST(Paths, InstallDirOnADriveRootKeepsItsBackslash) {
    Setting setting("", 1, "C:\\");
    Expanded e = expand("#InstallDir#\\readme.txt");
    EXPECT_EQ(e.text, "C:\\\\readme.txt");
    EXPECT_EQ(resolve("#InstallDir#"), "C:\\");
}

TEST(Paths, MeasuringAndCutDestinations) {
    Setting setting("", 1, "C:\\vt\\unit-paths\\");
    const char* src = "#InstallDir#\\readme.txt";
    std::string full = "C:\\vt\\unit-paths\\readme.txt";
    EXPECT_EQ(expandFolderMacros(nullptr, src, 100), full.size());

    char untouched[8] = "keep";
    EXPECT_EQ(expandFolderMacros(untouched, src, 0), full.size());
    EXPECT_STREQ(untouched, "keep");
    EXPECT_EQ(expandFolderMacros(untouched, nullptr, sizeof(untouched)), 0u);
    EXPECT_STREQ(untouched, "");

    for (uint32_t size : {1u, 5u, uint32_t(full.size()), uint32_t(full.size() + 1)}) {
        SCOPED_TRACE(size);
        std::vector<char> dst(size + CANARY, 'Z');
        EXPECT_EQ(expandFolderMacros(dst.data(), src, size), full.size());
        std::string expected = full.substr(0, size - 1);
        EXPECT_EQ(std::string(dst.data()), expected);
        for (size_t i = size; i < dst.size(); ++i)
            ASSERT_EQ(dst[i], 'Z') << "written past the destination at " << i;
    }
}

TEST(Paths, ExpansionNeverOverrunsItsScratchBuffer) {
    Setting setting("", 1, "C:\\vt\\unit-paths\\");
    std::string windows = windowsFolder();
    const size_t most = MACRO_SCRATCH_SIZE - 1; // the terminator takes the last byte

    // Plain text: up to the limit it passes, one byte more is refused.
    Expanded fits = expand(std::string(most, 'a'));
    EXPECT_EQ(fits.length, most);
    EXPECT_EQ(fits.text.size(), most);
    Expanded over = expand(std::string(most + 1, 'a'));
    EXPECT_EQ(over.length, 0u);
    EXPECT_EQ(over.text, "");

    // A token at the very end whose folder fills the last bytes, or one more.
    Expanded lastFits = expand(std::string(most - windows.size(), 'a') + "#Windows#");
    EXPECT_EQ(lastFits.length, most);
    EXPECT_EQ(lastFits.text.substr(most - windows.size()), windows);
    Expanded lastOver = expand(std::string(most - windows.size() + 1, 'a') + "#Windows#");
    EXPECT_EQ(lastOver.length, 0u);
    EXPECT_EQ(lastOver.text, "");

    // Thousands of tokens: some shrink, some grow past the buffer.
    std::string manyRemoved;
    for (int i = 0; i < 40000; ++i)
        manyRemoved += "##";
    EXPECT_EQ(expand(manyRemoved + "end").text, "end");
    std::string manyGrowing;
    for (int i = 0; i < 10000; ++i)
        manyGrowing += "#InstallDir#";
    Expanded grown = expand(manyGrowing);
    EXPECT_EQ(grown.length, 0u);
    EXPECT_EQ(grown.text, "");
    std::string manyFitting, expected;
    for (int i = 0; i < 3000; ++i) {
        manyFitting += "#windows#;";
        expected += windows + ";";
    }
    EXPECT_EQ(expand(manyFitting).text, expected);

    // A token far longer than any name, and a lone "#" at the end of a long text.
    EXPECT_EQ(expand("#" + std::string(100000, 'x') + "#tail").text, "tail");
    std::string longLone = std::string(most - 1, 'b') + "#";
    EXPECT_EQ(expand(longLone).text, longLone);
    EXPECT_EQ(expand(longLone + "c").length, 0u);
}

TEST(Paths, ResolvedFoldersOf259CharactersStayInTheBuffer) {
    std::string longest = "C:\\" + std::string(256, 'w'); // 259 characters
    std::string hooks = "windows=" + longest + "|system=" + longest + "|temp=" + longest + "\\" +
                        "|ProgramFilesDir=" + longest + "p" + "|CommonFilesDir";
    for (int family : {0, 1}) {
        SCOPED_TRACE(family ? "NT" : "9x");
        {
            // Every shell folder fails: the fallbacks on the Windows folder are the longest.
            std::string failing = hooks;
            for (int csidl : {5, 16, 25, 26, 28, 35, 40, 46})
                failing += "|csidl" + std::to_string(csidl);
            Setting setting(failing, family, (longest.substr(0, 258) + "\\").c_str());
            EXPECT_EQ(resolve("#LocalAppData#"),
                      longest + "\\" +
                          (family ? "Profiles\\Administrator\\Local Settings\\Application Data"
                                  : "Application Data"));
            EXPECT_EQ(resolve("#CommonFiles#"), longest + "p\\Common Files");
            EXPECT_EQ(resolve("#Windows#"), longest);
            EXPECT_EQ(resolve("#TempDir#"), longest);
            for (const char* token :
                 {"#System#", "#Program Files#", "#MyDocuments#", "#Desktop#", "#AppData#",
                  "#AllUsersAppData#", "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#",
                  "#AllUsersDir#", "#InstallDir#"})
                EXPECT_LT(resolve(token).size(), size_t(MACRO_BUFFER_SIZE)) << token;
        }
        {
            // Every shell folder 259 characters long.
            std::string given = hooks;
            for (int csidl : {5, 16, 25, 26, 28, 35, 40, 46})
                given += "|csidl" + std::to_string(csidl) + "=" + longest;
            Setting setting(given, family);
            for (const char* token :
                 {"#MyDocuments#", "#Desktop#", "#AppData#", "#LocalAppData#", "#AllUsersAppData#",
                  "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#"})
                EXPECT_EQ(resolve(token), longest) << token;
            EXPECT_EQ(resolve("#AllUsersDir#"), "C:\\");
        }
    }
}

struct Fallback {
    std::string hooks;
    const char* token;
    std::string nt, nine; // expected on the NT and the 9x family
};

TEST(Paths, FallbacksOfEveryMacroOnBothFamilies) {
    const std::string win = "windows=C:\\Win|";
    const std::string appData = "csidl26=E:\\Documents and Settings\\user\\Application Data|";
    const Fallback cases[] = {
        // Registry folders.
        {win + "CommonFilesDir|ProgramFilesDir=E:\\Prog", "#CommonFiles#", "E:\\Prog\\Common Files",
         "E:\\Prog\\Common Files"},
        {win + "CommonFilesDir|ProgramFilesDir=E:\\Prog\\", "#CommonFiles#",
         "E:\\Prog\\Common Files", "E:\\Prog\\Common Files"},
        {win + "CommonFilesDir|ProgramFilesDir", "#commonfiles#", "#commonfiles#\\Common Files",
         "#commonfiles#\\Common Files"},
        {win + "key", "#CommonFiles#", "#CommonFiles#", "#CommonFiles#"},
        {win + "CommonFilesDir=E:\\Shared\\", "#CommonFiles#", "E:\\Shared", "E:\\Shared"},
        {win + "ProgramFilesDir", "#Program Files#", "#Program Files#", "#Program Files#"},
        {win + "key", "#Program Files#", "#Program Files#", "#Program Files#"},
        {win + "ProgramFilesDir=E:\\", "#Program Files#", "E:\\", "E:\\"},
        // System folders that cannot be had keep their token: an empty folder
        // would make "#TempDir#\\x" a path at the root of the drive.
        {"temp", "#TempDir#", "#TempDir#", "#TempDir#"},
        {"windows", "#Windows#", "#Windows#", "#Windows#"},
        {"system", "#System#", "#System#", "#System#"},
        {"windows|csidl26", "#AppData#", "#AppData#", "#AppData#"},
        // Shell folders without a fallback.
        {win + "csidl5", "#MyDocuments#", "#MyDocuments#", "#MyDocuments#"},
        {win + "csidl16", "#Desktop#", "#Desktop#", "#Desktop#"},
        {win + "csidl5=E:\\Docs\\", "#MyDocuments#", "E:\\Docs", "E:\\Docs"},
        // Application data.
        {win + "csidl26", "#AppData#", "C:\\Win\\Profiles\\Administrator\\Application Data",
         "C:\\Win\\Application Data"},
        {"windows=C:\\|csidl26", "#AppData#", "C:\\Profiles\\Administrator\\Application Data",
         "C:\\Application Data"},
        {win + appData + "csidl28", "#LocalAppData#",
         "E:\\Documents and Settings\\user\\Local Settings\\Application Data",
         "C:\\Win\\Application Data"},
        {win + "csidl26|csidl28", "#LocalAppData#",
         "C:\\Win\\Profiles\\Administrator\\Local Settings\\Application Data",
         "C:\\Win\\Application Data"},
        {win + "csidl26=AppData|csidl28", "#LocalAppData#",
         "C:\\Win\\Profiles\\Administrator\\Local Settings\\Application Data",
         "C:\\Win\\Application Data"},
        // All users, two levels up from the application data.
        {win + appData + "csidl35", "#AllUsersAppData#",
         "E:\\Documents and Settings\\All Users\\Application Data",
         "C:\\Win\\All Users\\Application Data"},
        {win + "csidl26|csidl35", "#AllUsersAppData#",
         "C:\\Win\\Profiles\\All Users\\Application Data", "C:\\Win\\All Users\\Application Data"},
        {win + "csidl26=C:\\AppData|csidl35", "#AllUsersAppData#",
         "C:\\Win\\Profiles\\All Users\\Application Data", "C:\\Win\\All Users\\Application Data"},
        {win + appData + "csidl46", "#AllUsersDocuments#",
         "E:\\Documents and Settings\\All Users\\Documents", "C:\\Win\\All Users\\Documents"},
        {win + "csidl26|csidl46", "#AllUsersDocuments#", "C:\\Win\\Profiles\\All Users\\Documents",
         "C:\\Win\\All Users\\Documents"},
        {win + appData + "csidl25", "#AllUsersDesktop#",
         "E:\\Documents and Settings\\All Users\\Desktop", "C:\\Win\\All Users\\Desktop"},
        {win + "csidl26|csidl25", "#AllUsersDesktop#", "C:\\Win\\Profiles\\All Users\\Desktop",
         "C:\\Win\\All Users\\Desktop"},
        // The user's folder.
        {win + appData + "csidl40", "#UserDir#", "E:\\Documents and Settings\\user", "C:\\Win"},
        {win + "csidl26|csidl40", "#UserDir#", "c:\\", "C:\\Win"},
        {win + "csidl26=C:\\AppData|csidl40", "#UserDir#", "c:\\", "C:\\Win"},
        {win + "csidl40=E:\\Users\\me\\", "#UserDir#", "E:\\Users\\me", "E:\\Users\\me"},
        // All users' folder: the parent of the shared documents.
        {win + "csidl46=E:\\Documents and Settings\\All Users\\Documents", "#AllUsersDir#",
         "E:\\Documents and Settings\\All Users", "E:\\Documents and Settings\\All Users"},
        {win + "csidl46=D:\\Docs", "#AllUsersDir#", "D:\\", "D:\\"},
        {win + "csidl46=Docs", "#AllUsersDir#", "c:\\", "c:\\"},
        {win + "csidl46=\\Docs", "#AllUsersDir#", "", ""},
        {win + appData + "csidl46", "#AllUsersDir#", "E:\\Documents and Settings\\All Users",
         "C:\\Win\\All Users"},
        {win + "csidl26|csidl46", "#AllUsersDir#", "C:\\Win\\Profiles\\All Users",
         "C:\\Win\\All Users"},
        // Tokens that name no folder.
        {win, "#Nothing#", "", ""},
        {win, "##", "", ""},
        {win, "#Windows", "", ""}, // not a token: names no folder when resolved alone
    };
    for (const Fallback& c : cases) {
        for (int family : {1, 0}) {
            SCOPED_TRACE(std::string(c.token) + " with " + c.hooks +
                         (family ? " on NT" : " on 9x"));
            Setting setting(c.hooks, family);
            EXPECT_EQ(resolve(c.token), family ? c.nt : c.nine);
        }
    }
}

TEST(Paths, MacrosWithoutHooksAnswerLikeThePlatform) {
    Setting setting("", 1, "C:\\vt\\unit-paths\\");
    EXPECT_EQ(resolve("#windows#"), windowsFolder());
    EXPECT_EQ(resolve("#APPDATA#"), shellFolder(CSIDL_APPDATA));
    EXPECT_EQ(resolve("#Desktop#"), shellFolder(CSIDL_DESKTOPDIRECTORY));
    EXPECT_EQ(resolve("#InstallDir#"), "C:\\vt\\unit-paths");
}

// Every source of the protected list given a path of its own.
struct ProtectedSetup {
    std::string hooks;
    std::vector<std::pair<std::string, bool>> folders; // path, NT only
};

ProtectedSetup protectedSetup() {
    ProtectedSetup s;
    auto add = [&](const std::string& source, const std::string& path, bool ntOnly) {
        s.hooks += source + "=" + path + "|";
        s.folders.push_back({path, ntOnly});
    };
    add("windows", "C:\\Win", false);
    add("system", "C:\\Win\\System32\\", false);
    add("csidl0", "C:\\Users\\me\\Desktop", false);
    add("csidl16", "C:\\Users\\me\\DesktopDir", false);
    add("csidl25", "C:\\Users\\Public\\Desktop", true);
    add("csidl20", "C:\\Win\\Fonts", false);
    add("csidl2", "C:\\Users\\me\\Start Menu\\Programs", false);
    add("csidl23", "C:\\ProgramData\\Start Menu\\Programs", true);
    add("csidl11", "C:\\Users\\me\\Start Menu", false);
    add("csidl22", "C:\\ProgramData\\Start Menu", true);
    add("csidl7", "C:\\Users\\me\\Start Menu\\Programs\\Startup", false);
    add("csidl24", "C:\\ProgramData\\Start Menu\\Programs\\Startup", true);
    add("csidl26", "C:\\Users\\me\\AppData\\Roaming", false);
    s.folders.push_back(
        {"C:\\Users\\me\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch", false});
    add("csidl35", "C:\\ProgramData", false);
    s.folders.push_back({"C:\\ProgramData\\Microsoft\\Internet Explorer\\Quick Launch", false});
    add("csidl46", "C:\\Users\\Public\\Documents", false);
    add("csidl5", "C:\\Users\\me\\Documents", false);
    add("csidl39", "C:\\Users\\me\\Pictures", false);
    add("csidl13", "C:\\Users\\me\\Music", false);
    add("csidl14", "C:\\Users\\me\\Videos", false);
    add("csidl54", "C:\\Users\\Public\\Pictures", false);
    add("csidl53", "C:\\Users\\Public\\Music", false);
    add("csidl55", "C:\\Users\\Public\\Videos", false);
    add("csidl40", "C:\\Users\\me", false);
    s.folders.push_back({"C:\\Users", false});         // the folder of all profiles
    s.folders.push_back({"C:\\Users\\Public", false}); // #AllUsersDir#, above csidl46
    add("ProgramFilesDir", "C:\\Program Files", false);
    add("CommonFilesDir", "C:\\Program Files\\Common Files", false);
    return s;
}

int protectedAfter(std::string path, std::string* after = nullptr) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(PATH_BUFFER_SIZE + 1, 0);
    int result = isProtectedFolder(buffer.data());
    if (after)
        *after = buffer.data();
    return result;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

TEST(Paths, ProtectedFoldersInEveryForm) {
    ProtectedSetup s = protectedSetup();
    ASSERT_EQ(s.folders.size(), 29u);
    for (int family : {1, 0}) {
        Setting setting(s.hooks, family);
        for (const auto& folder : s.folders) {
            std::string bare = withoutTrailingBackslash(folder.first);
            int expected = family || !folder.second;
            SCOPED_TRACE(bare + (family ? " on NT" : " on 9x"));
            for (const std::string& form :
                 {bare, bare + "\\", upper(bare), upper(bare) + "\\", lower(bare) + "\\"}) {
                std::string after;
                EXPECT_EQ(protectedAfter(form, &after), expected) << form;
                EXPECT_EQ(after, form);
            }
            EXPECT_EQ(protectedAfter(bare + "\\Sub"), 0);
            EXPECT_EQ(protectedAfter(bare + "x"), 0);
        }
        // Parents that are not in the list.
        for (const char* parent : {"C:\\Users\\me\\AppData",
                                   "C:\\Users\\me\\AppData\\Roaming\\Microsoft\\Internet Explorer",
                                   "C:\\ProgramData\\Microsoft", "C:\\Users\\me\\Start Menu\\Sub"})
            EXPECT_EQ(protectedAfter(parent), 0) << parent;
    }
}

// The user's folder, the folder of all profiles and the all users' folder
// are protected as #UserDir# and #AllUsersDir# resolve them, fallbacks included.
TEST(Paths, ProfileFoldersAreProtectedAsTheirMacrosResolve) {
    const std::string base = "windows=C:\\Win|csidl26=E:\\Profiles\\me\\Application Data|";
    struct Case {
        std::string hooks, path;
        int nt, nine;
    } cases[] = {
        {base + "csidl40=E:\\Users\\me\\", "E:\\Users\\me", 1, 1},
        {base + "csidl40=E:\\Users\\me\\", "E:\\Users\\", 1, 1},
        {base + "csidl40=E:\\Users\\me", "E:\\Profiles", 0, 0},
        {base + "csidl40", "E:\\Profiles\\me", 1, 0}, // 9x: the Windows folder
        {base + "csidl40", "E:\\Profiles", 1, 0},
        {base + "csidl46=E:\\All\\Users\\Documents", "E:\\All\\Users", 1, 1},
        {base + "csidl46=E:\\All\\Users\\Documents", "E:\\All", 0, 0},
        {base + "csidl46", "E:\\Profiles\\All Users", 1, 0},
        {base + "csidl46", "C:\\Win\\All Users", 0, 1},
        {"windows|csidl26|csidl40|csidl46", "#AllUsersDir#", 0, 0}, // names no folder
        {"windows=C:\\Win|csidl26|csidl46", "C:\\Win\\Profiles\\All Users", 1, 0},
    };
    for (const Case& c : cases)
        for (int family : {1, 0}) {
            SCOPED_TRACE(c.path + " with " + c.hooks + (family ? " on NT" : " on 9x"));
            Setting setting(c.hooks, family);
            EXPECT_EQ(protectedAfter(c.path), family ? c.nt : c.nine);
        }
}

TEST(Paths, ShortPathsAreProtectedAndUntouched) {
    Setting setting(protectedSetup().hooks);
    for (const char* path : {"", "C", "C:", "C:\\", "\\\\", "ab\\"}) {
        std::string after;
        EXPECT_EQ(protectedAfter(path, &after), 1) << path;
        EXPECT_EQ(after, path);
    }
    EXPECT_EQ(isProtectedFolder(nullptr), 1);
}

TEST(Paths, TwoTrailingBackslashesComeBackAsOne) {
    Setting setting(protectedSetup().hooks);
    std::string after;
    EXPECT_EQ(protectedAfter("C:\\vt\\somewhere\\\\", &after), 0);
    EXPECT_EQ(after, "C:\\vt\\somewhere\\");
    EXPECT_EQ(protectedAfter("C:\\Win\\\\", &after), 0); // compared as "C:\Win\"
    EXPECT_EQ(after, "C:\\Win\\");
}

TEST(Paths, RegistryFoldersOfTheProtectedList) {
    ProtectedSetup s = protectedSetup();
    {
        // The key cannot be opened: the list ends before both registry folders.
        Setting setting(s.hooks + "key");
        EXPECT_EQ(protectedAfter("C:\\Program Files"), 0);
        EXPECT_EQ(protectedAfter("C:\\Program Files\\Common Files"), 0);
        EXPECT_EQ(protectedAfter("C:\\Users\\Public\\Documents"), 1);
        EXPECT_EQ(protectedAfter("C:\\Win"), 1);
    }
    {
        // One value missing: only that folder drops out.
        Setting setting(s.hooks + "ProgramFilesDir");
        EXPECT_EQ(protectedAfter("C:\\Program Files"), 0);
        EXPECT_EQ(protectedAfter("C:\\Program Files\\Common Files"), 1);
    }
    {
        // Without their own hooks the values come from the registry itself.
        Setting setting("");
        char value[REGISTRY_FOLDER_SIZE] = {};
        HKEY key;
        ASSERT_TRUE(openCurrentVersionKey(&key));
        ASSERT_TRUE(readFolderValue(key, "ProgramFilesDir", value));
        RegCloseKey(key);
        EXPECT_EQ(protectedAfter(value), 1);
        EXPECT_EQ(protectedAfter(std::string(value) + "\\Product"), 0);
    }
}

TEST(Paths, RealProtectedFoldersOfThisPlatform) {
    Setting setting("", 1);
    EXPECT_EQ(protectedAfter(windowsFolder()), 1);
    EXPECT_EQ(protectedAfter(upper(windowsFolder()) + "\\"), 1);
    EXPECT_EQ(
        protectedAfter(shellFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch"),
        1);
    std::string profile = shellFolder(CSIDL_PROFILE);
    for (int csidl : {CSIDL_PROFILE, CSIDL_PERSONAL, CSIDL_MYMUSIC, CSIDL_COMMON_VIDEO})
        EXPECT_EQ(protectedAfter(shellFolder(csidl)), 1) << csidl;
    EXPECT_EQ(protectedAfter(profile.substr(0, profile.rfind('\\'))), 1);
    EXPECT_EQ(protectedAfter(shellFolder(CSIDL_PERSONAL) + "\\Product"), 0);
    EXPECT_EQ(protectedAfter(windowsFolder() + "\\Temp"), 0);
}

TEST(Paths, TheProtectedListIsGatheredOnceAndKept) {
    Setting setting("windows=C:\\First");
    EXPECT_EQ(protectedAfter("C:\\First"), 1);
    // A different answer from the platform later on is not asked for.
    SetEnvironmentVariableA(hookVariable, "windows=C:\\Second");
    EXPECT_EQ(protectedAfter("C:\\First"), 1);
    EXPECT_EQ(protectedAfter("C:\\Second"), 0);
    resetProtectedFolders();
    EXPECT_EQ(protectedAfter("C:\\First"), 0);
    EXPECT_EQ(protectedAfter("C:\\Second"), 1);
}

// Under WoW64 the registry's own view names the 32-bit Program Files; the
// system's 64-bit Program Files and Common Files are protected as well.
TEST(Paths, ProgramFilesOfBothRegistryViewsAreProtected) {
    resetProtectedFolders();
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
        for (const char* name : {"ProgramFilesDir", "CommonFilesDir"}) {
            char folder[MAX_PATH] = {};
            DWORD size = sizeof(folder) - 1;
            HKEY key;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                    "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                                    KEY_READ | view, &key),
                      ERROR_SUCCESS);
            RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
            RegCloseKey(key);
            EXPECT_EQ(isProtectedFolder(folder), 1) << folder;
        }
    resetProtectedFolders();
}

} // namespace
