// Folder macros, their expansion and the protected folders, with the platform's answers set
// through the seam; the real folders of each version are the rows of tests/cases/folders.json.
#include <map>

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
};

TEST_F(Paths, Expansion) {
    unit::Seam::set("windows=C:\\Win");
    const std::string win = "C:\\Win", inst = "C:\\vt\\unit-paths",
                      src = "#InstallDir#\\readme.txt";
    const std::string most(MACRO_SCRATCH_SIZE - 1, 'a'), lone = most.substr(1) + "#";
    const std::string beforeWin = most.substr(win.size()), readme = inst + "\\readme.txt";
    // The text, its whole expansion ("" when it is too long for the scratch buffer), and the size
    // of the destination, which gets what fits (nothing at all when it has no room).
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
        {src, readme, 0},
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
            row.size ? row.expected.substr(0, row.size - 1) : "");
        EXPECT_EQ(length, row.expected.size());
        EXPECT_EQ(expandFolderMacros(nullptr, row.src.c_str(), 0), length) << "measuring differs";
    }
    EXPECT_EQ(inBuffer(8, [&](char* b) { length = expandFolderMacros(b, nullptr, 8); }), "");
    EXPECT_EQ(length, 0u);
    // An installation folder on a drive root keeps its backslash.
    lstrcpyA(dir, "C:\\");
    EXPECT_EQ(inBuffer(64, [&](char* b) { expandFolderMacros(b, src.c_str(), 64); }),
              "C:\\\\readme.txt");
}

TEST_F(Paths, FallbacksAndProtectedFolders) {
    // The seam's answers, a macro or a path, and on NT and on 9x what the macro resolves to or
    // whether the path is protected, the path staying as it is (a path that is not full counts
    // as protected). A letter of `sets`, alone or before a blank, stands for those answers.
    const std::string w = "windows=C:\\Win|";
    std::map<char, std::string> sets = {
        {'W', w},
        {'N', w + "csidl26|"}, // no application data
        {'A', w + "csidl26=E:\\D\\user\\Application Data|"},
        {'B', w + "csidl26=E:\\P\\me\\Application Data|"}, // B and P: paths
        {'P', "windows=Q:\\Win|csidl25=Q:\\Public\\Desk|csidl26=Q:\\me\\Data|"
              "ProgramFilesDir=Q:\\Program Files|CommonFilesDir=Q:\\Common|"}};
    for (auto& row : unit::rows(R"(
        W CommonFilesDir|ProgramFilesDir=E:\Prog\ | #CommonFiles# | E:\Prog\Common Files | E:\Prog\Common Files
        W CommonFilesDir|ProgramFilesDir | #commonfiles# | #commonfiles#\Common Files | #commonfiles#\Common Files
        W key | #CommonFiles# | #CommonFiles# | #CommonFiles#
        // Folders that cannot be had keep their token, which names no folder.
        temp | #TempDir# | #TempDir# | #TempDir#
        windows|csidl26 | #AppData# | #AppData# | #AppData#
        W csidl5 | #MyDocuments# | #MyDocuments# | #MyDocuments#
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
        W csidl46=Docs | #AllUsersDir# | c:\ | c:\
        W csidl46=\Docs | #AllUsersDir# | ~ | ~
        N csidl46 | #AllUsersDir# | C:\Win\Profiles\All Users | C:\Win\All Users
        windows=@|csidl26|csidl28 | #LocalAppData# | @\Profiles\Administrator\Local Settings\Application Data | @\Application Data
        temp=@\ | #TempDir# | @ | @
        csidl5=@ | #MyDocuments# | @ | @
        csidl46=@ | #AllUsersDir# | C:\ | C:\
        P | q:\PUBLIC\desk\ | 1 | 0
        P | q:\win\Sub | 0 | 0
        // Without the registry key neither of its folders counts; without one value, only that one.
        P key | Q:\Common | 0 | 0
        P ProgramFilesDir | Q:\Program Files | 0 | 0
        P ProgramFilesDir | Q:\Common | 1 | 1
        B | ~ | 1 | 1
        B | C:\ | 1 | 1
        B | C:\Win\\ | 1 | 1
        B csidl40=E:\Users\me\ | E:\Users\ | 1 | 1
        B csidl46 | E:\P\All Users | 1 | 0
        B windows|csidl26|csidl40|csidl46 | #AllUsersDir# | 1 | 1
    )")) {
        std::string hooks = row[0], same = row[1];
        const bool isPath = hooks[0] == 'B' || hooks[0] == 'P';
        const size_t size = isPath ? size_t(PATH_BUFFER_SIZE) : size_t(MACRO_BUFFER_SIZE);
        if (sets.count(hooks[0]) && (hooks.size() < 2 || hooks[1] == ' '))
            hooks = sets[hooks[0]] + hooks.substr(hooks.size() > 1 ? 2 : 1);
        for (int family : {1, 0}) {
            unit::Seam::set(fill(hooks));
            resetProtectedFolders();
            state.isNT = family;
            SCOPED_TRACE(row[1] + " with " + hooks + (family ? " on NT" : " on 9x"));
            const std::string expected = fill(row[family ? 2 : 3]);
            int isProtected = -1;
            std::string after = inBuffer(size, [&](char* b) {
                lstrcpynA(b, row[1].c_str(), size);
                if (isPath)
                    isProtected = isProtectedFolder(b);
                else
                    resolveFolderMacro(b);
            });
            if (isPath)
                EXPECT_EQ(std::to_string(isProtected) + " " + after, expected + " " + same);
            else
                EXPECT_EQ(after, expected);
        }
    }
    EXPECT_EQ(isProtectedFolder(nullptr), 1);
}

} // namespace
