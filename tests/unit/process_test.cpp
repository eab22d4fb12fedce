// Starting programs, in process: the seam fails the calls that would start one and logs them.
#include <regex>

#include "process/process.h"
#include "removal/removal.h"
#include "unit.h"

namespace {

// "x*N" in a row stands for N letters x.
std::string fill(std::string s) {
    static const std::regex repeat("(.)\\*(\\d+)");
    for (std::smatch m; std::regex_search(s, m, repeat);)
        s.replace(m.position(), m.length(), std::stoi(m[2]), m.str(1)[0]);
    return s;
}

class Process : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-process");
    unit::Seam seam{"", dir + "\\seam.log"};
    char installDir[PATH_BUFFER_SIZE] = "D:\\App\\", workPath[PATH_BUFFER_SIZE] = {};

    void SetUp() override {
        state.installDir = installDir;
        state.workPath = workPath;
        SetEnvironmentVariableA("TMP", dir.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", nullptr);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".varneltest");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
        StateTest::TearDown();
    }
    void preUninstall(const std::string& text) { // options with this text only
        using namespace varnel;
        ASSERT_EQ(unit::load(concat(
                      {record(RT_OPTIONS, optionsBody({false, false, 0, text})), endRecord()})),
                  0);
    }
};
using Unregister = Process;

// The text (none: "~") and the command line it starts ("-": none). Relative to the installation
// folder the whole text must fit in 259 bytes; a macro whose folder cannot be had stays; the
// program must fit in 259 bytes, the quoted program, a space and the arguments in 519.
TEST_F(Process, PreUninstallCommand) {
    unit::Seam::set("windows=C:\\WIN|csidl5|CreateProcessA!2");
    for (auto& row : unit::rows(R"(
        "  unreg.exe  "   -x  y | "D:\App\unreg.exe" -x  y
        "unreg.exe | ""D:\App\unreg.exe"
        "stop.exe" | "D:\App\stop.exe"
        unreg.exe /u | "D:\App\unreg.exe /u"
        #MyDocuments#\tool.exe | "D:\App\#MyDocuments#\tool.exe"
        n*252 | "D:\App\n*252"
        "n*248" a | "D:\App\n*248" a
        "n*249" a | -
        #Windows#\p*252 | "C:\WIN\p*252"
        #Windows#\p*253 | -
        "#Windows#\p" a*508 | "C:\WIN\p" a*508
        "#Windows#\p" a*509 | -
        ~ | -
    )")) {
        preUninstall(fill(row[0]));
        PreUninstallCommand command;
        HANDLE process;
        if (buildPreUninstallCommand(&command))
            startProgram(command.program, command.arguments, &process);
        releasePreUninstallCommand(&command);
        EXPECT_EQ(command.ownedBuffer, nullptr);
        auto started = seam.take("CreateProcessA");
        EXPECT_EQ(started.empty() ? "-" : started[0][2], fill(row[1])) << row[0];
    }
    // The program starts from its own folder, put back also when the start fails.
    HANDLE process = INVALID_HANDLE_VALUE;
    std::string current = unit::currentDir();
    EXPECT_EQ(startProgram((dir + "\\prog.exe").c_str(), "a", &process), 0);
    EXPECT_EQ(process, nullptr);
    EXPECT_EQ(seam.take("SetCurrentDirectoryA"),
              (std::vector<unit::Call>{{"SetCurrentDirectoryA", dir},
                                       {"SetCurrentDirectoryA", current}}));
    // Without memory, the expanded command is refused and no program starts. (The fault sweep
    // fails each allocation of starting a program, the document and the batch file.)
    preUninstall("#Windows#\\tool.exe");
    unit::Seam::set("windows=C:\\WIN|malloc!8|calloc!8|CreateProcessA!2");
    PreUninstallCommand command;
    EXPECT_FALSE(buildPreUninstallCommand(&command));
    EXPECT_EQ(startProgram("C:\\x.exe", "", &process), 0);
}

// The class's open command, the target, the folder given to the shell and the command run when
// the shell fails ("-": no call). The command read is 259 bytes at most; the command, a space and
// the target must fit in 520 bytes; a longer target is refused whole.
TEST_F(Process, ClosingDocumentFolderAndFallbackCommand) {
    unit::Seam::set("ShellExecuteA!2|WinExec!2");
    RegSetValueA(HKEY_CLASSES_ROOT, ".varneltest", REG_SZ, "Varnel.TestFile", 15);
    for (auto& row : unit::rows(R"(
        C:\viewer.exe -x | bye.htm | (null) | C:\viewer.exe -x bye.htm
        v %1 | httpx://example.invalid\a | httpx://example.invalid | v  httpx://example.invalid\a
        C:\v*256 | D:\t*256 | D: | C:\v*256 D:\t*256
        C:\v*256 | D:\t*257 | D: | -
        C:\v*257 | D:\bye.htm | D: | -
        C:\v*256 | D:\h*516 | D: | -
        C:\v*256 | D:\h*517 | - | -
    )")) {
        const std::string command = fill(row[0]), target = fill(row[1]);
        RegSetValueA(HKEY_CLASSES_ROOT, "Varnel.TestFile\\shell\\open\\command", REG_SZ,
                     command.c_str(), DWORD(command.size()));
        openClosingDocument(target.c_str(), ".varneltest");
        std::vector<unit::Call> calls;
        if (row[2] != "-")
            calls.push_back({"ShellExecuteA", "0x0", "open", target, "(null)", row[2], "5"});
        if (row[3] != "-")
            calls.push_back({"WinExec", fill(row[3]), "5"});
        EXPECT_EQ(seam.take("ShellExecuteA WinExec"), calls) << row[0] << " " << row[1];
    }
}

// Every name taken: 998 tries, no file; a folder that refuses: one try; no room for the name in
// the temporary folder: none. Unelevated, an installation folder of 259 percent signs is written
// whole, doubled; the batch runs hidden.
TEST_F(Process, BatchFile) {
    char path[PATH_BUFFER_SIZE];
    for (bool taken : {true, false}) {
        unit::Seam::set(taken ? "CreateFileA~delme!80" : "CreateFileA~delme!5");
        ASSERT_TRUE(getTempFolder(path));
        EXPECT_EQ(createNumberedFile(path, "delme%d.bat"), INVALID_HANDLE_VALUE);
        auto tries = seam.take("CreateFileA");
        ASSERT_EQ(tries.size(), taken ? 998u : 1u);
        EXPECT_EQ(tries.back()[1], dir + (taken ? "\\delme998.bat" : "\\delme1.bat"));
    }
    SetEnvironmentVariableA("TMP", fill("C:\\d*250").c_str());
    unit::Seam::set("");
    EXPECT_FALSE(getTempFolder(path) &&
                 createNumberedFile(path, "delme%d.bat") != INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seam.take("CreateFileA").empty());
    SetEnvironmentVariableA("TMP", dir.c_str());
    unit::Seam::set("CreateProcessA!2|DeleteFileA~delme!5|IsUserAnAdmin!5");
    lstrcpyA(installDir, fill("C:\\%*255\\").c_str());
    scheduleSelfDeletion();
    varnel::Bytes batch = varnel::readFileBytes(dir + "\\delme1.bat");
    std::string text(batch.begin(), batch.end());
    EXPECT_NE(text.find("rmdir \"" + fill("C:\\%*510") + "\"\r\n"), std::string::npos);
    auto start = seam.take("CreateProcessA");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0][9], "flags=1 show=0");
}

// A server in a drive root runs with the root as the current directory; its crash is swallowed,
// and the handler chain, the current directory and the error mode are put back.
TEST_F(Unregister, CrashingServerInADriveRoot) {
    char test[MAX_PATH];
    GetModuleFileNameA(nullptr, test, MAX_PATH);
    lstrcpyA(strrchr(test, '\\') + 1, "com_crash.dll");
    ASSERT_TRUE(CopyFileA(test, "C:\\varnel-root.dll", FALSE));
    lstrcpyA(workPath, "C:\\varnel-root.dll");
    state.isVistaOrLater = 0;
    SetCurrentDirectoryA(dir.c_str());
    UINT before = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    NT_TIB* thread = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
    void* chain = thread->ExceptionList;
    unregisterComServer();
    EXPECT_EQ(thread->ExceptionList, chain);
    EXPECT_EQ(SetErrorMode(before), UINT(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(unit::currentDir(), dir);
    varnel::Bytes log = varnel::readFileBytes("C:\\varnel-root.dll.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("\ndirectory=C:\\\r\n"), std::string::npos);
    for (const char* file : {"C:\\varnel-root.dll", "C:\\varnel-root.dll.log"})
        DeleteFileA(file);
}

} // namespace
