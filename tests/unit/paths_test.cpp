// Folder macros, their expansion, the protected folders and the backslash
// operations. The platform's answers are set through the test build's seam;
// the real folders of each version are PathsPlatform.* of the e2e tests.
#include "driver/driver.h"
#include "paths/paths.h"
#include "unit.h"

namespace {

// The seam, the platform family and the installation folder for each case.
class Paths : public unit::StateTest {
  protected:
    unit::Seam seam{""};
    char dir[PATH_BUFFER_SIZE] = "C:\\vt\\unit-paths\\";
    void SetUp() override { state.installDir = dir; }
    void TearDown() override {
        resetProtectedFolders();
        StateTest::TearDown();
    }
    void use(const std::string& hooks, int isNT = 1) {
        unit::Seam::set(hooks);
        resetProtectedFolders();
        state.isNT = isNT;
    }
};

// Runs `fill` on a buffer of `size` bytes followed by a canary that must stay.
template <class Fill> std::string inBuffer(size_t size, Fill fill) {
    std::vector<char> buffer(size + 64, 'Z');
    fill(buffer.data());
    for (size_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 'Z') << "written past the buffer at " << i;
    return std::string(buffer.data(), strnlen(buffer.data(), size));
}
std::string resolve(const std::string& token) {
    return inBuffer(MACRO_BUFFER_SIZE, [&](char* b) {
        lstrcpynA(b, token.c_str(), MACRO_BUFFER_SIZE);
        resolveFolderMacro(b);
    });
}
std::string windowsFolder() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}
std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n--)
        out += s;
    return out;
}
int isProtected(const std::string& path, std::string* after = nullptr) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(PATH_BUFFER_SIZE + 1, 0);
    int result = isProtectedFolder(buffer.data());
    if (after)
        *after = buffer.data();
    return result;
}

TEST_F(Paths, BackslashesAndComparison) {
    // The path, with one added and with one removed (3 bytes or fewer keep theirs).
    for (auto& row : unit::rows(R"(
        ~ | ~ | ~
        C: | C:\ | C:
        C:\ | C:\ | C:\
        ab\ | ab\ | ab\
        \\a\ | \\a\ | \\a
        C:\d | C:\d\ | C:\d
        C:\d\ | C:\d\ | C:\d
        C:\d\\ | C:\d\\ | C:\d\
    )")) {
        char buffer[32];
        addTrailingBackslash(lstrcpyA(buffer, row[0].c_str()));
        EXPECT_EQ(buffer, row[1]) << row[0];
        removeTrailingBackslash(lstrcpyA(buffer, row[0].c_str()));
        EXPECT_EQ(buffer, row[2]) << row[0];
    }
    // Only the case of ASCII letters is ignored.
    const char* same[][3] = {{"C:\\Program Files", "c:\\PROGRAM FILES", "1"},
                             {"", "", "1"},
                             {"C:\\Program", "C:\\Program Files", ""},
                             {"C:\\Program Files", "C:\\Program", ""},
                             {"C:\\\xC4", "C:\\\xE4", ""},
                             {"[", "{", ""}};
    for (auto& row : same)
        EXPECT_EQ(pathsEqual(row[0], row[1]), row[2][0] == '1') << row[0] << " " << row[1];
}

TEST_F(Paths, Expansion) {
    const std::string win = windowsFolder(), inst = "C:\\vt\\unit-paths";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    temp[strlen(temp) - 1] = 0; // never ends with a backslash
    const size_t most = MACRO_SCRATCH_SIZE - 1;
    const std::string longLone = std::string(most - 1, 'b') + "#";
    const struct {
        std::string src, expected; // a text too long for the scratch buffer expands to ""
    } rows[] = {
        {"", ""},
        {"plain\\text.txt", "plain\\text.txt"},
        {"#", "#"},
        {"abc#def\\x", "abc#def\\x"},
        {"#a#b#", "b#"},
        {"##", ""},
        {"x##y", "xy"},
        {"# Windows#\\x", "\\x"}, // nothing is trimmed: names no folder
        {"#windows#\\x", win + "\\x"},
        {"#WINDOWS#\\x", win + "\\x"},
        {"a#Windows#b#Windows#c", "a" + win + "b" + win + "c"},
        {"#InstallDir#\\readme.txt", inst + "\\readme.txt"},
        {"#TempDir#", temp},
        {"\"#InstallDir#\\setup.exe\" /u #", "\"" + inst + "\\setup.exe\" /u #"},
        {std::string(most, 'a'), std::string(most, 'a')},
        {std::string(most + 1, 'a'), ""},
        {std::string(most - win.size(), 'a') + "#Windows#",
         std::string(most - win.size(), 'a') + win},
        {std::string(most - win.size() + 1, 'a') + "#Windows#", ""},
        {repeat("##", 40000) + "end", "end"},
        {repeat("#InstallDir#", 10000), ""},
        {repeat("#windows#;", 3000), repeat(win + ";", 3000)},
        {"#" + std::string(100000, 'x') + "#tail", "tail"},
        {longLone, longLone},
        {longLone + "c", ""},
    };
    uint32_t length = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.src.substr(0, 40));
        EXPECT_EQ(inBuffer(MACRO_SCRATCH_SIZE,
                           [&](char* b) {
                               length = expandFolderMacros(b, row.src.c_str(), MACRO_SCRATCH_SIZE);
                           }),
                  row.expected);
        EXPECT_EQ(length, row.expected.size());
        EXPECT_EQ(expandFolderMacros(nullptr, row.src.c_str(), 0), length) << "measuring differs";
    }
    // Destinations too small get what fits, and the full length.
    const char* src = "#InstallDir#\\readme.txt";
    std::string full = inst + "\\readme.txt";
    char untouched[8] = "keep";
    EXPECT_EQ(expandFolderMacros(untouched, src, 0), full.size());
    EXPECT_STREQ(untouched, "keep");
    EXPECT_EQ(expandFolderMacros(untouched, nullptr, sizeof(untouched)), 0u);
    EXPECT_STREQ(untouched, "");
    for (size_t size : {size_t(1), size_t(5), full.size(), full.size() + 1}) {
        EXPECT_EQ(inBuffer(size, [&](char* b) { length = expandFolderMacros(b, src, size); }),
                  full.substr(0, size - 1));
        EXPECT_EQ(length, full.size());
    }
    // An installation folder on a drive root keeps its backslash.
    lstrcpyA(dir, "C:\\");
    EXPECT_EQ(inBuffer(64, [&](char* b) { expandFolderMacros(b, src, 64); }), "C:\\\\readme.txt");
    EXPECT_EQ(resolve("#InstallDir#"), "C:\\");
}

TEST_F(Paths, ResolvedFoldersOf259CharactersStayInTheBuffer) {
    std::string longest = "C:\\" + std::string(256, 'w');
    std::string hooks = "windows=" + longest + "|system=" + longest + "|temp=" + longest +
                        "\\|ProgramFilesDir=" + longest + "p|CommonFilesDir";
    const int csidls[] = {5, 16, 25, 26, 28, 35, 40, 46};
    for (int family : {0, 1}) {
        SCOPED_TRACE(family ? "NT" : "9x");
        {
            // Every shell folder fails: the fallbacks on the Windows folder are the longest.
            std::string failing = hooks;
            for (int csidl : csidls)
                failing += "|csidl" + std::to_string(csidl);
            use(failing, family);
            lstrcpyA(dir, (longest.substr(0, 258) + "\\").c_str());
            EXPECT_EQ(resolve("#LocalAppData#"),
                      longest + (family ? "\\Profiles\\Administrator\\Local Settings" : "") +
                          "\\Application Data");
            EXPECT_EQ(resolve("#CommonFiles#"), longest + "p\\Common Files");
            EXPECT_EQ(resolve("#Windows#"), longest);
            EXPECT_EQ(resolve("#TempDir#"), longest);
            for (const char* token :
                 {"#System#", "#Program Files#", "#MyDocuments#", "#Desktop#", "#AppData#",
                  "#AllUsersAppData#", "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#",
                  "#AllUsersDir#", "#InstallDir#"})
                resolve(token); // checks the canary
        }
        // Every shell folder 259 characters long.
        std::string given = hooks;
        for (int csidl : csidls)
            given += "|csidl" + std::to_string(csidl) + "=" + longest;
        use(given, family);
        for (const char* token :
             {"#MyDocuments#", "#Desktop#", "#AppData#", "#LocalAppData#", "#AllUsersAppData#",
              "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#"})
            EXPECT_EQ(resolve(token), longest) << token;
        EXPECT_EQ(resolve("#AllUsersDir#"), "C:\\");
    }
}

TEST_F(Paths, FallbacksOfEveryMacroOnBothFamilies) {
    // The seam's answers, the token, and what it resolves to on NT and on 9x.
    // W: the Windows folder C:\Win; N: W, and no application data; A: W, and
    // the application data E:\D\user\Application Data.
    const std::string w = "windows=C:\\Win|", n = w + "csidl26|",
                      a = w + "csidl26=E:\\D\\user\\Application Data|";
    for (auto& row : unit::rows(R"(
        W CommonFilesDir|ProgramFilesDir=E:\Prog | #CommonFiles# | E:\Prog\Common Files | E:\Prog\Common Files
        W CommonFilesDir|ProgramFilesDir=E:\Prog\ | #CommonFiles# | E:\Prog\Common Files | E:\Prog\Common Files
        W CommonFilesDir|ProgramFilesDir | #commonfiles# | #commonfiles#\Common Files | #commonfiles#\Common Files
        W key | #CommonFiles# | #CommonFiles# | #CommonFiles#
        W CommonFilesDir=E:\Shared\ | #CommonFiles# | E:\Shared | E:\Shared
        W ProgramFilesDir | #Program Files# | #Program Files# | #Program Files#
        W key | #Program Files# | #Program Files# | #Program Files#
        W ProgramFilesDir=E:\ | #Program Files# | E:\ | E:\
        // Folders that cannot be had keep their token: an empty folder would
        // make "#TempDir#\x" a path at the root of the drive.
        temp | #TempDir# | #TempDir# | #TempDir#
        windows | #Windows# | #Windows# | #Windows#
        system | #System# | #System# | #System#
        windows|csidl26 | #AppData# | #AppData# | #AppData#
        W csidl5 | #MyDocuments# | #MyDocuments# | #MyDocuments#
        W csidl16 | #Desktop# | #Desktop# | #Desktop#
        W csidl5=E:\Docs\ | #MyDocuments# | E:\Docs | E:\Docs
        // Application data, and all users two levels up from it.
        N | #AppData# | C:\Win\Profiles\Administrator\Application Data | C:\Win\Application Data
        windows=C:\|csidl26 | #AppData# | C:\Profiles\Administrator\Application Data | C:\Application Data
        A csidl28 | #LocalAppData# | E:\D\user\Local Settings\Application Data | C:\Win\Application Data
        N csidl28 | #LocalAppData# | C:\Win\Profiles\Administrator\Local Settings\Application Data | C:\Win\Application Data
        W csidl26=AppData|csidl28 | #LocalAppData# | C:\Win\Profiles\Administrator\Local Settings\Application Data | C:\Win\Application Data
        A csidl35 | #AllUsersAppData# | E:\D\All Users\Application Data | C:\Win\All Users\Application Data
        N csidl35 | #AllUsersAppData# | C:\Win\Profiles\All Users\Application Data | C:\Win\All Users\Application Data
        W csidl26=C:\AppData|csidl35 | #AllUsersAppData# | C:\Win\Profiles\All Users\Application Data | C:\Win\All Users\Application Data
        A csidl46 | #AllUsersDocuments# | E:\D\All Users\Documents | C:\Win\All Users\Documents
        N csidl46 | #AllUsersDocuments# | C:\Win\Profiles\All Users\Documents | C:\Win\All Users\Documents
        A csidl25 | #AllUsersDesktop# | E:\D\All Users\Desktop | C:\Win\All Users\Desktop
        N csidl25 | #AllUsersDesktop# | C:\Win\Profiles\All Users\Desktop | C:\Win\All Users\Desktop
        // The user's folder, and all users' folder: the parent of the shared documents.
        A csidl40 | #UserDir# | E:\D\user | C:\Win
        N csidl40 | #UserDir# | c:\ | C:\Win
        W csidl26=C:\AppData|csidl40 | #UserDir# | c:\ | C:\Win
        W csidl40=E:\Users\me\ | #UserDir# | E:\Users\me | E:\Users\me
        W csidl46=E:\D\All Users\Documents | #AllUsersDir# | E:\D\All Users | E:\D\All Users
        W csidl46=D:\Docs | #AllUsersDir# | D:\ | D:\
        W csidl46=Docs | #AllUsersDir# | c:\ | c:\
        W csidl46=\Docs | #AllUsersDir# | ~ | ~
        A csidl46 | #AllUsersDir# | E:\D\All Users | C:\Win\All Users
        N csidl46 | #AllUsersDir# | C:\Win\Profiles\All Users | C:\Win\All Users
        // Tokens that name no folder ("#Windows" alone is no token).
        W | #Nothing# | ~ | ~
        W | ## | ~ | ~
        W | #Windows | ~ | ~
    )")) {
        std::string hooks = row[0];
        const char first = hooks[0];
        if (hooks.size() < 2 || hooks[1] == ' ')
            hooks = (first == 'W'   ? w
                     : first == 'N' ? n
                                    : a) +
                    hooks.substr(hooks.size() > 1 ? 2 : 1);
        for (int family : {1, 0}) {
            use(hooks, family);
            EXPECT_EQ(resolve(row[1]), row[family ? 2 : 3])
                << row[1] << " with " << hooks << (family ? " on NT" : " on 9x");
        }
    }
}

// A few sources of the protected list, given folders on a drive of their own
// (the rows of tests/cases/folders.json check every source on each version):
// the all-users desktop counts on NT only.
TEST_F(Paths, ProtectedFoldersInEveryForm) {
    const std::string hooks = "windows=Q:\\Win|system=Q:\\Win\\System32\\|csidl25=Q:\\Public\\Desk|"
                              "csidl26=Q:\\me\\Data|csidl40=Q:\\Users\\me|"
                              "ProgramFilesDir=Q:\\Program Files";
    auto changeCase = [](std::string s, int (*to)(int)) {
        for (char& c : s)
            c = char(to(c));
        return s;
    };
    for (int family : {1, 0}) {
        use(hooks, family);
        for (const std::string bare :
             {"Q:\\Win", "Q:\\Win\\System32", "Q:\\Public\\Desk", "Q:\\Users",
              "Q:\\me\\Data\\Microsoft\\Internet Explorer\\Quick Launch", "Q:\\Program Files"}) {
            SCOPED_TRACE(bare + (family ? " on NT" : " on 9x"));
            for (const std::string& form :
                 {bare, bare + "\\", changeCase(bare, toupper) + "\\", changeCase(bare, tolower)}) {
                std::string after;
                EXPECT_EQ(isProtected(form, &after), family || bare != "Q:\\Public\\Desk") << form;
                EXPECT_EQ(after, form);
            }
            EXPECT_EQ(isProtected(bare + "\\Sub"), 0);
            EXPECT_EQ(isProtected(bare + "x"), 0);
        }
        // Short paths are protected, parents not; the path as it is after,
        // two trailing backslashes coming back as one.
        for (auto& row : unit::rows(R"(
            ~ | 1 | ~
            C | 1 | C
            C: | 1 | C:
            C:\ | 1 | C:\
            \\ | 1 | \\
            ab\ | 1 | ab\
            C:\vt\somewhere\\ | 0 | C:\vt\somewhere\
            Q:\Win\\ | 0 | Q:\Win\
            Q:\me\Data\Microsoft | 0 | Q:\me\Data\Microsoft
        )")) {
            std::string after;
            EXPECT_EQ(isProtected(row[0], &after), std::stoi(row[1])) << row[0];
            EXPECT_EQ(after, row[2]);
        }
        EXPECT_EQ(isProtectedFolder(nullptr), 1);
    }
    // The registry key cannot be opened: both of its folders drop out; one
    // value missing: only that folder.
    for (const char* fault : {"key", "ProgramFilesDir"}) {
        use(hooks + "|CommonFilesDir=Q:\\Common|" + fault);
        EXPECT_EQ(isProtected("Q:\\Program Files"), 0) << fault;
        EXPECT_EQ(isProtected("Q:\\Common"), fault[0] == 'P') << fault;
        EXPECT_EQ(isProtected("Q:\\Win"), 1) << fault;
    }
    // The list is gathered once and kept: a later answer is not asked for.
    use("windows=C:\\First");
    EXPECT_EQ(isProtected("C:\\First"), 1);
    unit::Seam::set("windows=C:\\Second");
    EXPECT_EQ(isProtected("C:\\First") - isProtected("C:\\Second"), 1);
    resetProtectedFolders();
    EXPECT_EQ(isProtected("C:\\Second") - isProtected("C:\\First"), 1);
}

// The user's folder, the folder of all profiles and the all users' folder
// are protected as #UserDir# and #AllUsersDir# resolve them, fallbacks included.
TEST_F(Paths, ProfileFoldersAreProtectedAsTheirMacrosResolve) {
    // B: the Windows folder C:\Win and the application data E:\P\me\Application
    // Data; the rest of the seam's answers, the path, protected on NT and on 9x.
    const std::string b = "windows=C:\\Win|csidl26=E:\\P\\me\\Application Data|";
    for (auto& row : unit::rows(R"(
        B csidl40=E:\Users\me\ | E:\Users\me | 1 | 1
        B csidl40=E:\Users\me\ | E:\Users\ | 1 | 1
        B csidl40=E:\Users\me | E:\P | 0 | 0
        B csidl40 | E:\P\me | 1 | 0
        B csidl40 | E:\P | 1 | 0
        B csidl46=E:\All\Users\Documents | E:\All\Users | 1 | 1
        B csidl46=E:\All\Users\Documents | E:\All | 0 | 0
        B csidl46 | E:\P\All Users | 1 | 0
        B csidl46 | C:\Win\All Users | 0 | 1
        windows|csidl26|csidl40|csidl46 | #AllUsersDir# | 0 | 0
        windows=C:\Win|csidl26|csidl46 | C:\Win\Profiles\All Users | 1 | 0
    )")) {
        std::string hooks = row[0][0] == 'B' ? b + row[0].substr(2) : row[0];
        for (int family : {1, 0}) {
            use(hooks, family);
            EXPECT_EQ(isProtected(row[1]), std::stoi(row[family ? 2 : 3]))
                << row[1] << " with " << hooks << (family ? " on NT" : " on 9x");
        }
    }
}

} // namespace
