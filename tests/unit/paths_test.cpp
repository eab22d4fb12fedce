// Folder macros, their expansion and the protected folders. The platform's answers are set through
// the test build's seam; the real folders of each version are the rows of tests/cases/folders.json.
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
    // A row's hooks: a leading letter of `kinds`, alone or before a blank,
    // stands for that entry of `prefixes`.
    static std::string hooks(std::string row, const std::string& kinds,
                             const std::string* prefixes) {
        const size_t kind = kinds.find(row[0]);
        if (kind != std::string::npos && (row.size() < 2 || row[1] == ' '))
            row = prefixes[kind] + row.substr(row.size() > 1 ? 2 : 1);
        return row;
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
int isProtected(const std::string& path, std::string& after) {
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(PATH_BUFFER_SIZE + 1, 0);
    int result = isProtectedFolder(buffer.data());
    after = buffer.data();
    return result;
}

TEST_F(Paths, Expansion) {
    char buffer[MAX_PATH];
    GetWindowsDirectoryA(buffer, MAX_PATH);
    const std::string win = buffer, inst = "C:\\vt\\unit-paths";
    const size_t most = MACRO_SCRATCH_SIZE - 1;
    const std::string longLone = std::string(most - 1, 'b') + "#";
    const struct {
        std::string src, expected; // a text too long for the scratch buffer expands to ""
    } rows[] = {
        {"#a#b#", "b#"},
        {"# Windows#\\x", "\\x"}, // nothing is trimmed: names no folder
        {"a#WINDOWS#b#windows#c", "a" + win + "b" + win + "c"},
        {"\"#InstallDir#\\setup.exe\" /u #", "\"" + inst + "\\setup.exe\" /u #"},
        {std::string(most, 'a'), std::string(most, 'a')},
        {std::string(most + 1, 'a'), ""},
        {std::string(most - win.size(), 'a') + "#Windows#",
         std::string(most - win.size(), 'a') + win},
        {std::string(most - win.size() + 1, 'a') + "#Windows#", ""},
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
    for (size_t size : {size_t(1), full.size(), full.size() + 1}) {
        EXPECT_EQ(inBuffer(size, [&](char* b) { length = expandFolderMacros(b, src, size); }),
                  full.substr(0, size - 1));
        EXPECT_EQ(length, full.size());
    }
    // An installation folder on a drive root keeps its backslash.
    lstrcpyA(dir, "C:\\");
    EXPECT_EQ(inBuffer(64, [&](char* b) { expandFolderMacros(b, src, 64); }), "C:\\\\readme.txt");
}

TEST_F(Paths, FallbacksOfEveryMacroOnBothFamilies) {
    // The seam's answers, the token, and what it resolves to on NT and on 9x
    // ("*": only that nothing is written past the buffer). W: the Windows
    // folder C:\Win; N: W, and no application data; A: W, and the application
    // data E:\D\user\Application Data; F: every folder "@" (259 characters)
    // or failing; G: every folder "@". Fallbacks on it are the longest.
    const std::string longest = "C:\\" + std::string(256, 'w'), w = "windows=C:\\Win|",
                      n = w + "csidl26|", a = w + "csidl26=E:\\D\\user\\Application Data|",
                      f = "windows=@|system=@|temp=@\\|ProgramFilesDir=@p|CommonFilesDir|";
    std::string failing = f, given = f;
    for (int csidl : {5, 16, 25, 26, 28, 35, 40, 46}) {
        failing += "csidl" + std::to_string(csidl) + "|";
        given += "csidl" + std::to_string(csidl) + "=@|";
    }
    const std::string prefixes[] = {w, n, a, failing, given};
    lstrcpyA(dir, (longest.substr(0, 258) + "\\").c_str());
    auto fill = [&](std::string s) {
        for (size_t at; (at = s.find('@')) != std::string::npos;)
            s.replace(at, 1, longest);
        return s;
    };
    for (auto& row : unit::rows(R"(
        W CommonFilesDir|ProgramFilesDir=E:\Prog\ | #CommonFiles# | E:\Prog\Common Files | E:\Prog\Common Files
        W ProgramFilesDir=E:\ | #Program Files# | E:\ | E:\
        W CommonFilesDir|ProgramFilesDir | #commonfiles# | #commonfiles#\Common Files | #commonfiles#\Common Files
        W key | #CommonFiles# | #CommonFiles# | #CommonFiles#
        // Folders that cannot be had keep their token: an empty folder would
        // make "#TempDir#\x" a path at the root of the drive.
        temp | #TempDir# | #TempDir# | #TempDir#
        windows|csidl26 | #AppData# | #AppData# | #AppData#
        W csidl5 | #MyDocuments# | #MyDocuments# | #MyDocuments#
        W csidl5=E:\Docs\ | #MyDocuments# | E:\Docs | E:\Docs
        // Application data, and all users two levels up from it.
        N | #AppData# | C:\Win\Profiles\Administrator\Application Data | C:\Win\Application Data
        windows=C:\|csidl26 | #AppData# | C:\Profiles\Administrator\Application Data | C:\Application Data
        A csidl28 | #LocalAppData# | E:\D\user\Local Settings\Application Data | C:\Win\Application Data
        W csidl26=AppData|csidl28 | #LocalAppData# | C:\Win\Profiles\Administrator\Local Settings\Application Data | C:\Win\Application Data
        A csidl35 | #AllUsersAppData# | E:\D\All Users\Application Data | C:\Win\All Users\Application Data
        W csidl26=C:\AppData|csidl35 | #AllUsersAppData# | C:\Win\Profiles\All Users\Application Data | C:\Win\All Users\Application Data
        A csidl46 | #AllUsersDocuments# | E:\D\All Users\Documents | C:\Win\All Users\Documents
        N csidl25 | #AllUsersDesktop# | C:\Win\Profiles\All Users\Desktop | C:\Win\All Users\Desktop
        // The user's folder, and all users' folder: the parent of the shared documents.
        A csidl40 | #UserDir# | E:\D\user | C:\Win
        N csidl40 | #UserDir# | c:\ | C:\Win
        W csidl46=D:\Docs | #AllUsersDir# | D:\ | D:\
        W csidl46=Docs | #AllUsersDir# | c:\ | c:\
        W csidl46=\Docs | #AllUsersDir# | ~ | ~
        N csidl46 | #AllUsersDir# | C:\Win\Profiles\All Users | C:\Win\All Users
        // Tokens that name no folder ("#Windows" alone is no token).
        W | #Nothing# | ~ | ~
        F | #LocalAppData# | @\Profiles\Administrator\Local Settings\Application Data | @\Application Data
        F | #CommonFiles# | @p\Common Files | @p\Common Files
        F | #TempDir# | @ | @
        F | #AllUsersDesktop# | * | *
        F | #UserDir# | * | *
        F | #AllUsersDir# | * | *
        F | #InstallDir# | * | *
        G | #MyDocuments# | @ | @
        G | #AllUsersAppData# | @ | @
        G | #AllUsersDir# | C:\ | C:\
    )")) {
        const std::string hooks = Paths::hooks(row[0], "WNAFG", prefixes);
        for (int family : {1, 0}) {
            use(fill(hooks), family);
            std::string resolved = resolve(row[1]), expected = fill(row[family ? 2 : 3]);
            if (expected != "*")
                EXPECT_EQ(resolved, expected) << row[1] << " with " << hooks << " on " << family;
        }
    }
}

// Protected folders in any case and with a trailing backslash, parents and
// neighbours not; short paths are protected; the user's folder, the folder of
// all profiles and the all users' folder as #UserDir# and #AllUsersDir#
// resolve them, fallbacks included. Every source on each version is in the
// rows of tests/cases/folders.json.
TEST_F(Paths, ProtectedFolders) {
    // The seam's answers, the path, protected on NT and on 9x. The path stays
    // as it is, two trailing backslashes coming back as one. B: the Windows
    // folder C:\Win and the application data E:\P\me\Application Data; P:
    // folders on a drive of their own.
    const std::string prefixes[] = {"windows=C:\\Win|csidl26=E:\\P\\me\\Application Data|",
                                    "windows=Q:\\Win|csidl25=Q:\\Public\\Desk|csidl26=Q:\\me\\Data|"
                                    "ProgramFilesDir=Q:\\Program Files|CommonFilesDir=Q:\\Common|"};
    for (auto& row : unit::rows(R"(
        P | Q:\Win | 1 | 1
        P | q:\PUBLIC\desk\ | 1 | 0
        P | Q:\ME\DATA\Microsoft\Internet Explorer\quick launch\ | 1 | 1
        P | q:\win\Sub | 0 | 0
        P | Q:\Winx | 0 | 0
        P | Q:\Program Files | 1 | 1
        // The registry key cannot be opened: both of its folders drop out;
        // one value missing: only that folder.
        P key | Q:\Common | 0 | 0
        P key | Q:\Program Files | 0 | 0
        P ProgramFilesDir | Q:\Program Files | 0 | 0
        P ProgramFilesDir | Q:\Common | 1 | 1
        B | ~ | 1 | 1
        B | C | 1 | 1
        B | C:\ | 1 | 1
        B | \\ | 1 | 1
        B | C:\vt\somewhere\\ | 0 | 0
        B | C:\Win\\ | 0 | 0
        B | E:\P\me\Application Data\Microsoft | 0 | 0
        B csidl40=E:\Users\me\ | E:\Users\ | 1 | 1
        B csidl40=E:\Users\me | E:\P | 0 | 0
        B csidl40 | E:\P | 1 | 0
        B csidl46=E:\All\Users\Documents | E:\All\Users | 1 | 1
        B csidl46 | E:\P\All Users | 1 | 0
        B csidl46 | C:\Win\All Users | 0 | 1
        windows|csidl26|csidl40|csidl46 | #AllUsersDir# | 0 | 0
    )")) {
        const std::string hooks = Paths::hooks(row[0], "BP", prefixes);
        std::string same = row[1], after;
        if (same.size() > 3 && same.compare(same.size() - 2, 2, "\\\\") == 0)
            same.pop_back();
        for (int family : {1, 0}) {
            use(hooks, family);
            EXPECT_EQ(isProtected(row[1], after), std::stoi(row[family ? 2 : 3]))
                << row[1] << " with " << hooks << (family ? " on NT" : " on 9x");
            EXPECT_EQ(after, same);
        }
    }
    EXPECT_EQ(isProtectedFolder(nullptr), 1);
}

} // namespace
