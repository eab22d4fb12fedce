// Font and COM server unregistration in process, for what the rows of
// tests/cases/fonts_com.json cannot see: the error mode, current directory
// and handler chain restored, the library freed, the folder a bare name or a
// drive root runs in, and the per-process font list. The fixture servers and
// the renamed real font are handed to the test on its command line.
#include <fstream>

#include "removal/font_name.h"
#include "removal/removal.h"
#include "unit.h"

namespace {

std::string besideTest(const std::string& name) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1) + name;
}
void* handlerChain() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

class Unregister : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-unregister");
    char workPath[PATH_BUFFER_SIZE] = {};
    UINT modeBefore = SetErrorMode(0);
    void SetUp() override {
        SetErrorMode(modeBefore);
        state.workPath = workPath;
        for (const char* sub : {"\\srv", "\\start"})
            CreateDirectoryA((dir + sub).c_str(), nullptr);
    }
    void TearDown() override {
        SetErrorMode(modeBefore);
        StateTest::TearDown();
    }
    void copy(const std::string& fixture, const std::string& to) {
        ASSERT_TRUE(CopyFileA(besideTest(fixture).c_str(), to.c_str(), FALSE)) << to;
    }
};

TEST_F(Unregister, ServersLeaveNothingBehind) {
    for (const char* server : {"com_record.dll", "com_crash.dll", "com_noexport.dll"})
        copy(server, dir + "\\srv\\" + server);
    copy("com_record.dll", dir + "\\start\\bare.dll");
    copy("com_record.dll", "C:\\varnel-root.dll");
    // The server, the route (1: NT 6, regsvr32 first), the seam, and the folder
    // it was called in, in this process ("~": not called). A bare name is
    // loaded from the current directory; a crash is swallowed, twice.
    for (auto& row : unit::rows(R"(
        D\srv\com_record.dll | 0 | ~ | D\srv
        bare.dll | 0 | ~ | D\start
        C:\varnel-root.dll | 0 | ~ | C:\
        D\srv\com_crash.dll | 0 | ~ | D\srv
        D\srv\com_crash.dll | 0 | ~ | D\srv
        D\srv\com_noexport.dll | 0 | ~ | ~
        D\srv\missing.dll | 0 | ~ | ~
        D\srv\missing.dll | 1 | ~ | ~
        D\srv\com_record.dll | 1 | system | D\srv
    )")) {
        auto fill = [&](std::string s) { return s[0] == 'D' ? dir + s.substr(1) : s; };
        std::string server = fill(row[0]);
        lstrcpynA(workPath, server.c_str(), PATH_BUFFER_SIZE);
        unit::Seam seam(row[2]);
        state.isVistaOrLater = row[1] == "1";
        SetCurrentDirectoryA((dir + "\\start").c_str());
        SetErrorMode(SEM_NOGPFAULTERRORBOX);
        void* chain = handlerChain();
        unregisterComServer();
        EXPECT_EQ(SetErrorMode(modeBefore), UINT(SEM_NOGPFAULTERRORBOX)) << server;
        EXPECT_EQ(unit::currentDir(), dir + "\\start") << server;
        EXPECT_EQ(handlerChain(), chain) << server;
        EXPECT_EQ(
            GetModuleHandleA(strrchr(workPath, '\\') ? strrchr(workPath, '\\') + 1 : workPath),
            nullptr)
            << server << " not freed";
        std::ifstream in(server + ".log");
        std::string log((std::istreambuf_iterator<char>(in)), {});
        in.close();
        DeleteFileA((server + ".log").c_str());
        auto seen = bed::parseValues(log);
        EXPECT_EQ(seen["directory"], fill(row[3])) << server;
        EXPECT_EQ(seen["process"], row[3].empty() ? "" : besideTest("unit_tests.exe")) << server;
    }
    DeleteFileA("C:\\varnel-root.dll");
}

int CALLBACK noteFamily(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
    *(bool*)found = true;
    return 0;
}
bool fontListed(const char* family) {
    LOGFONTA wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(wanted.lfFaceName, family);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExA(screen, &wanted, noteFamily, (LPARAM)&found, 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The font leaves the system's list; a file without a name (or none at all)
// is still withdrawn and announced, but no value is deleted.
TEST_F(Unregister, FontWithdrawn) {
    std::string font = dir + "\\test.ttf", plain = dir + "\\plain.ttf";
    copy("VarnelTestMono.ttf", font);
    ASSERT_FALSE(fontListed("Varnel Test Mono"));
    ASSERT_GT(AddFontResourceA(font.c_str()), 0);
    EXPECT_TRUE(fontListed("Varnel Test Mono"));
    unregisterFont(font.c_str());
    EXPECT_FALSE(fontListed("Varnel Test Mono"));
    bed::writeText(plain, "not a font");
    for (const std::string& path : {plain, dir + "\\missing.ttf"}) {
        char name[FONT_NAME_SIZE];
        memset(name, 'x', sizeof(name));
        readFontFullName(path.c_str(), name);
        EXPECT_STREQ(name, "") << path;
        unit::Seam seam("", dir + "\\seam.log");
        unregisterFont(path.c_str());
        auto calls = seam.take(); // the file read, withdrawn, announced, and no value
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2], (unit::Call{"RemoveFontResourceA", path}));
        EXPECT_EQ(calls.back(), (unit::Call{"SendMessageA", "0xffff", "29", "0", "0"}));
        for (const unit::Call& call : calls)
            EXPECT_NE(call[0].substr(0, 3), "Reg");
    }
}

} // namespace
