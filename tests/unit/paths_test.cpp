// Folder macros, their expansion and the protected folders, with the platform's answers set
// through the seam; the real folders of each version are the rows of tests/cases/folders.json.
#include "driver/driver.h"
#include "paths/paths.h"
#include "unit.h"

namespace {

// A text with each "@" replaced by a folder of 259 characters, the longest the system gives.
std::string fill(std::string s) {
    for (size_t at; (at = s.find('@')) != std::string::npos;)
        s.replace(at, 1, "C:\\" + std::string(256, 'w'));
    return s;
}

// Runs `fill` on a buffer of `size` bytes followed by a canary that must stay.
template <class Fill> std::string inBuffer(size_t size, Fill fill) {
    std::vector<char> buffer(size + 64, 'Z');
    fill(buffer.data());
    for (size_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 'Z') << "written past the buffer at " << i;
    return std::string(buffer.data(), strnlen(buffer.data(), size));
}

class Paths : public unit::StateTest {
  protected:
    unit::Seam seam{""};
    char dir[PATH_BUFFER_SIZE] = "C:\\vt\\unit-paths\\";
    void SetUp() override { state.installDir = dir; }
    void TearDown() override {
        resetProtectedFolders();
        StateTest::TearDown();
    }
    // Runs `check(input, expected)` on NT and on 9x for each row: the seam's answers, the input,
    // the result on NT and on 9x. A leading letter of `kinds` in the answers, alone or before a
    // blank, stands for that entry of `prefixes`.
    template <class Check>
    void eachRow(const char* table, const std::string& kinds, const std::string* prefixes,
                 Check check) {
        for (auto& row : unit::rows(table)) {
            std::string hooks = row[0];
            const size_t kind = kinds.find(hooks[0]);
            if (kind != std::string::npos && (hooks.size() < 2 || hooks[1] == ' '))
                hooks = prefixes[kind] + hooks.substr(hooks.size() > 1 ? 2 : 1);
            for (int family : {1, 0}) {
                unit::Seam::set(fill(hooks));
                resetProtectedFolders();
                state.isNT = family;
                SCOPED_TRACE(row[1] + " with " + hooks + (family ? " on NT" : " on 9x"));
                check(row[1], fill(row[family ? 2 : 3]));
            }
        }
    }
};

TEST_F(Paths, Expansion) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string win = windows, inst = "C:\\vt\\unit-paths", src = "#InstallDir#\\readme.txt";
    const std::string most(MACRO_SCRATCH_SIZE - 1, 'a'), lone = most.substr(1) + "#";
    const std::string beforeWin = most.substr(win.size()), readme = inst + "\\readme.txt";
    // The text, its whole expansion ("" when it is too long for the scratch buffer), the size of
    // the destination, which gets what fits.
    const struct {
        std::string src, expected;
        size_t size = MACRO_SCRATCH_SIZE;
    } rows[] = {
        {"#a#b#", "b#"},
        {"# Windows#\\x", "\\x"},
        {"a#WINDOWS#b#windows#c", "a" + win + "b" + win + "c"},
        {"\"" + src + "\" /u #", "\"" + readme + "\" /u #"},
        {most, most},
        {most + "a", ""},
        {beforeWin + "#Windows#", beforeWin + win},
        {"a" + beforeWin + "#Windows#", ""},
        {"#" + std::string(100000, 'x') + "#tail", "tail"},
        {lone, lone},
        {lone + "c", ""},
        {src, readme, 1},
        {src, readme, readme.size()},
        {src, readme, readme.size() + 1},
    };
    uint32_t length = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.src.substr(0, 40) + " into " + std::to_string(row.size));
        EXPECT_EQ(
            inBuffer(row.size,
                     [&](char* b) { length = expandFolderMacros(b, row.src.c_str(), row.size); }),
            row.expected.substr(0, row.size - 1));
        EXPECT_EQ(length, row.expected.size());
        EXPECT_EQ(expandFolderMacros(nullptr, row.src.c_str(), 0), length) << "measuring differs";
    }
    char untouched[8] = "keep";
    EXPECT_EQ(expandFolderMacros(untouched, src.c_str(), 0), readme.size());
    EXPECT_STREQ(untouched, "keep");
    EXPECT_EQ(expandFolderMacros(untouched, nullptr, sizeof(untouched)), 0u);
    EXPECT_STREQ(untouched, "");
    // An installation folder on a drive root keeps its backslash.
    lstrcpyA(dir, "C:\\");
    EXPECT_EQ(inBuffer(64, [&](char* b) { expandFolderMacros(b, src.c_str(), 64); }),
              "C:\\\\readme.txt");
}

TEST_F(Paths, FallbacksOfEveryMacroOnBothFamilies) {
    // W: the Windows folder C:\Win; N: W, and no application data; A: W, and the application
    // data E:\D\user\Application Data; F: every folder "@" or failing; G: every folder "@".
    // "*": only that nothing is written past the buffer.
    const std::string w = "windows=C:\\Win|",
                      f = "windows=@|system=@|temp=@\\|ProgramFilesDir=@p|CommonFilesDir|";
    std::string failing = f, given = f;
    for (int csidl : {5, 16, 25, 26, 28, 35, 40, 46}) {
        failing += "csidl" + std::to_string(csidl) + "|";
        given += "csidl" + std::to_string(csidl) + "=@|";
    }
    const std::string prefixes[] = {w, w + "csidl26|", w + "csidl26=E:\\D\\user\\Application Data|",
                                    failing, given};
    lstrcpyA(dir, (fill("@").substr(0, 258) + "\\").c_str());
    eachRow(R"(
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
        N | #AppData# | C:\Win\Profiles\Administrator\Application Data | C:\Win\Application Data
        windows=C:\|csidl26 | #AppData# | C:\Profiles\Administrator\Application Data | C:\Application Data
        A csidl28 | #LocalAppData# | E:\D\user\Local Settings\Application Data | C:\Win\Application Data
        W csidl26=AppData|csidl28 | #LocalAppData# | C:\Win\Profiles\Administrator\Local Settings\Application Data | C:\Win\Application Data
        A csidl35 | #AllUsersAppData# | E:\D\All Users\Application Data | C:\Win\All Users\Application Data
        W csidl26=C:\AppData|csidl35 | #AllUsersAppData# | C:\Win\Profiles\All Users\Application Data | C:\Win\All Users\Application Data
        A csidl46 | #AllUsersDocuments# | E:\D\All Users\Documents | C:\Win\All Users\Documents
        N csidl25 | #AllUsersDesktop# | C:\Win\Profiles\All Users\Desktop | C:\Win\All Users\Desktop
        A csidl40 | #UserDir# | E:\D\user | C:\Win
        N csidl40 | #UserDir# | c:\ | C:\Win
        W csidl46=D:\Docs | #AllUsersDir# | D:\ | D:\
        W csidl46=Docs | #AllUsersDir# | c:\ | c:\
        W csidl46=\Docs | #AllUsersDir# | ~ | ~
        N csidl46 | #AllUsersDir# | C:\Win\Profiles\All Users | C:\Win\All Users
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
    )",
            "WNAFG", prefixes, [](const std::string& token, const std::string& expected) {
                std::string resolved = inBuffer(MACRO_BUFFER_SIZE, [&](char* b) {
                    lstrcpynA(b, token.c_str(), MACRO_BUFFER_SIZE);
                    resolveFolderMacro(b);
                });
                if (expected != "*")
                    EXPECT_EQ(resolved, expected);
            });
}

// Every source of the list on each version is in the rows of tests/cases/folders.json.
TEST_F(Paths, ProtectedFolders) {
    // B: the Windows folder C:\Win and the application data E:\P\me\Application Data; P:
    // folders on a drive of their own. The path stays, two trailing backslashes coming back as one.
    const std::string prefixes[] = {"windows=C:\\Win|csidl26=E:\\P\\me\\Application Data|",
                                    "windows=Q:\\Win|csidl25=Q:\\Public\\Desk|csidl26=Q:\\me\\Data|"
                                    "ProgramFilesDir=Q:\\Program Files|CommonFilesDir=Q:\\Common|"};
    eachRow(R"(
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
    )",
            "BP", prefixes, [](const std::string& path, const std::string& expected) {
                std::vector<char> buffer(path.begin(), path.end());
                buffer.resize(PATH_BUFFER_SIZE + 1, 0);
                EXPECT_EQ(isProtectedFolder(buffer.data()), std::stoi(expected));
                std::string same = path;
                if (same.size() > 3 && same.compare(same.size() - 2, 2, "\\\\") == 0)
                    same.pop_back();
                EXPECT_EQ(buffer.data(), same);
            });
    EXPECT_EQ(isProtectedFolder(nullptr), 1);
}

} // namespace
