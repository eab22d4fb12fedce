// The pre-uninstall command, the closing document's fallback command, the
// self-deletion batch, and COM server unregistration, in process,
// for their bounds and what the rows of tests/cases/process.json and
// fonts_com.json cannot see. Platform calls that would start programs are
// failed through the test build's seam, whose log shows what they got. The
// fixture servers are handed to the test on its command line.
#include <algorithm>
#include <fstream>

#include "payload/payload.h"
#include "process/process.h"
#include "removal/removal.h"
#include "unit.h"

namespace {

std::string besideTest(const std::string& name) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1) + name;
}

class Process : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-process"), temp = dir + "\\temp";
    unit::Seam seam{"", dir + "\\seam.log"};
    char installDir[PATH_BUFFER_SIZE] = "D:\\App\\", workPath[PATH_BUFFER_SIZE] = {};
    std::vector<unsigned char> options;
    UINT modeBefore = SetErrorMode(0);

    void SetUp() override {
        state.installDir = installDir;
        state.workPath = workPath;
        state.instance = GetModuleHandleA(nullptr);
        state.isNT = 1;
        SetErrorMode(modeBefore);
        for (const std::string& sub : {temp, dir + "\\srv", dir + "\\start"})
            CreateDirectoryA(sub.c_str(), nullptr);
        SetEnvironmentVariableA("TMP", temp.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", nullptr);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".varneltest");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
        SetErrorMode(modeBefore);
        StateTest::TearDown();
    }
    void preUninstall(const std::string& text) { // an options block with this text only
        options.assign(12, 0);
        options[4] = 12;
        options.insert(options.end(), text.begin(), text.end());
        options.insert(options.end(), {0, 0, 0});
        state.options = options.data();
        state.optionsLength = uint32_t(options.size() - 2);
    }
    static void setClass(const std::string& key, const std::string& value) {
        RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size()));
    }
    void openCommand(const std::string& command) {
        setClass(".varneltest", "Varnel.TestFile");
        setClass("Varnel.TestFile\\shell\\open\\command", command);
    }
    void copy(const std::string& fixture, const std::string& to) {
        ASSERT_TRUE(CopyFileA(besideTest(fixture).c_str(), to.c_str(), FALSE)) << to;
    }
    std::string keptBatch() { // the batch file that the failed start left in place
        std::string path = temp + "\\delme1.bat";
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        in.close();
        DeleteFileA(path.c_str());
        return text;
    }
};
using Unregister = Process;

TEST_F(Process, PreUninstallCommand) {
    unit::Seam::set("windows=C:\\WIN|csidl5");
    auto check = [&](const std::string& text, const std::string& program,
                     const std::string& arguments) {
        preUninstall(text);
        PreUninstallCommand command;
        bool built = buildPreUninstallCommand(&command);
        EXPECT_EQ(built, program != "!") << text;
        if (built && program != "!") {
            EXPECT_EQ(command.program, program) << text;
            EXPECT_STREQ(command.arguments, arguments.c_str()) << text;
        }
        releasePreUninstallCommand(&command);
        EXPECT_EQ(command.ownedBuffer, nullptr);
    };
    // The text, the program and its arguments ("!": refused).
    for (auto& row : unit::rows(R"(
        unreg.exe /u | D:\App\unreg.exe /u | ~
        "  unreg.exe  "   -x  y | D:\App\unreg.exe | -x  y
        "unreg.exe" | "D:\App\unreg.exe" | ~
        "unreg.exe | "D:\App\unreg.exe | ~
        #windows#\tool.exe | C:\WIN\tool.exe | ~
        #MyDocuments#\tool.exe | D:\App\#MyDocuments#\tool.exe | ~
        "#MyDocuments#\t.exe" z | D:\App\#MyDocuments#\t.exe | z
        #Nope# | ! | ~
    )"))
        check(row[0], row[1], row[2]);
    // Relative to the installation folder the program must fit in 259 bytes.
    for (size_t n : {252, 253})
        check(std::string(n, 'n'), n == 252 ? "D:\\App\\" + std::string(n, 'n') : "!", "");
    for (size_t n : {248, 249})
        check("\"" + std::string(n, 'n') + "\" a",
              n == 248 ? "D:\\App\\" + std::string(n, 'n') : "!", "a");
    state.options = nullptr;
    state.optionsLength = 0;
    PreUninstallCommand none;
    EXPECT_FALSE(buildPreUninstallCommand(&none));
}

// The folder is set for the start and put back, also when the start fails;
// the quoted program, a space and the arguments must fit in 519 bytes, the
// program in a path buffer.
TEST_F(Process, StartProgramFolderAndBounds) {
    unit::Seam::set("CreateProcessA!2");
    HANDLE process = INVALID_HANDLE_VALUE;
    std::string current = unit::currentDir();
    EXPECT_EQ(startProgram((dir + "\\prog.exe").c_str(), "a", &process), 0);
    EXPECT_EQ(process, nullptr);
    startProgram("prog.exe", nullptr, &process); // no folder: the current one stays
    auto moves = seam.take("SetCurrentDirectoryA");
    EXPECT_EQ(moves, (std::vector<unit::Call>{{"SetCurrentDirectoryA", dir},
                                              {"SetCurrentDirectoryA", current},
                                              {"SetCurrentDirectoryA", current}}));
    EXPECT_EQ(unit::currentDir(), current);
    std::string program = "C:\\" + std::string(250, 'p'), fits(519 - 2 - program.size() - 1, 'a');
    startProgram(program.c_str(), fits.c_str(), &process);
    startProgram(program.c_str(), (fits + "a").c_str(), &process);
    startProgram(("C:\\" + std::string(257, 'p')).c_str(), "", &process);
    auto started = seam.take("CreateProcessA");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0][2], "\"" + program + "\" " + fits);
}

TEST_F(Process, ClosingDocumentFolderAndFallbackCommand) {
    // The target, the open command of its class, the folder given to the
    // shell, and the fallback command run.
    unit::Seam::set("ShellExecuteA!2|WinExec!2");
    for (auto& row : unit::rows(R"(
        D:\bye.htm | C:\viewer.exe %1 -new | D: | C:\viewer.exe  D:\bye.htm
        bye.htm | C:\viewer.exe -x | (null) | C:\viewer.exe -x bye.htm
        HTTPS://EXAMPLE.INVALID\A\B | v "%1" %1 | (null) | v  HTTPS://EXAMPLE.INVALID\A\B
        http://example.invalid\a | v %1 | (null) | v  http://example.invalid\a
        httpx://example.invalid\a | v %1 | httpx://example.invalid | v  httpx://example.invalid\a
    )")) {
        openCommand(row[1]);
        openClosingDocument(row[0].c_str(), ".varneltest");
        auto calls = seam.take("ShellExecuteA WinExec");
        ASSERT_EQ(calls.size(), 2u) << row[0];
        EXPECT_EQ(calls[0],
                  (unit::Call{"ShellExecuteA", "0x0", "open", row[0], "(null)", row[2], "5"}));
        EXPECT_EQ(calls[1], (unit::Call{"WinExec", row[3], "5"}));
    }
    // Nothing runs without a class or an open command, or when the command
    // read (259 bytes at most), a space and the target would not fit in 520
    // bytes; a target that does not fit the copy is refused whole.
    openClosingDocument("D:\\bye.htm", ".varnelnone");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
    openClosingDocument("D:\\bye.htm", ".varneltest");
    EXPECT_TRUE(seam.take("WinExec").empty());
    std::string viewer = "C:\\" + std::string(256, 'v'), target = "D:\\" + std::string(256, 't');
    openCommand(viewer);
    openClosingDocument(target.c_str(), ".varneltest");
    openClosingDocument((target + "t").c_str(), ".varneltest");
    openCommand(viewer + "v");
    openClosingDocument("D:\\bye.htm", ".varneltest");
    EXPECT_EQ(seam.take("WinExec"),
              (std::vector<unit::Call>{{"WinExec", viewer + " " + target, "5"}}));
    std::string huge = "D:\\" + std::string(517, 'h');
    openClosingDocument(huge.c_str(), ".varneltest");
    openClosingDocument(huge.substr(1).c_str(), ".varneltest");
    auto shell = seam.take("ShellExecuteA");
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0][3], huge.substr(1));
}

TEST_F(Process, BatchFile) {
    // Every name refused: 998 tries, then no file; a temporary folder with no
    // room for the name: none.
    char path[PATH_BUFFER_SIZE];
    unit::Seam::set("CreateFileA~delme!5");
    EXPECT_EQ(createTempBatchFile(path, "delme%d.bat"), INVALID_HANDLE_VALUE);
    auto tries = seam.take("CreateFileA");
    ASSERT_EQ(tries.size(), 2u * 998);
    EXPECT_EQ(tries.back()[1], temp + "\\delme998.bat");
    SetEnvironmentVariableA("TMP", ("C:\\" + std::string(250, 'd')).c_str());
    unit::Seam::set("");
    EXPECT_EQ(createTempBatchFile(path, "delme%d.bat"), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seam.take("CreateFileA").empty());
    // An installation folder of 259 characters, all percent signs, is written
    // whole, doubled; the interpreter is started hidden.
    SetEnvironmentVariableA("TMP", temp.c_str());
    unit::Seam::set("CreateProcessA!2|DeleteFileA~delme!5");
    lstrcpyA(installDir, ("C:\\" + std::string(255, '%') + "\\").c_str());
    scheduleSelfDeletion();
    std::string text = keptBatch();
    EXPECT_NE(text.find("rmdir \"C:\\" + std::string(510, '%') + "\"\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 14), "\\delme1.bat\"\r\n");
    auto start = seam.take("CreateProcessA");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0][9], "flags=1 show=0");
}

// Without memory for its buffers, each step starts nothing.
TEST_F(Process, NoMemoryStartsNothing) {
    unit::Seam::set("windows=C:\\WIN|malloc!8");
    preUninstall("#Windows#\\tool.exe");
    PreUninstallCommand command;
    EXPECT_FALSE(buildPreUninstallCommand(&command));
    releasePreUninstallCommand(&command);
    HANDLE process;
    for (const char* fault : {"malloc!8|CreateProcessA!2", "calloc!8|CreateProcessA!2"}) {
        unit::Seam::set(fault);
        EXPECT_EQ(startProgram("C:\\x.exe", "", &process), 0) << fault;
    }
    unit::Seam::set("calloc!8|ShellExecuteA!2|WinExec!2");
    openClosingDocument("D:\\bye.htm", ".htm");
    unit::Seam::set("calloc!8|CreateProcessA!2|DeleteFileA~delme!5");
    lstrcpyA(installDir, (dir + "\\").c_str());
    scheduleSelfDeletion();
    EXPECT_TRUE(seam.take("CreateProcessA ShellExecuteA CreateFileA").empty());
}

void* handlerChain() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

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
        unit::Seam::set(row[2]);
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

} // namespace
