// The programs started, in process, for what the rows of tests/cases cannot reach. Calls that
// would start programs are failed through the test build's seam, whose log shows what they got.
#include <fstream>

#include "payload/payload.h"
#include "process/process.h"
#include "removal/removal.h"
#include "ui/ui.h"
#include "unit.h"

namespace {

class Process : public unit::StateTest {
  protected:
    std::string dir = bed::caseDir("unit-process"), temp = dir + "\\temp";
    unit::Seam seam{"", dir + "\\seam.log"};
    char installDir[PATH_BUFFER_SIZE] = "D:\\App\\", workPath[PATH_BUFFER_SIZE] = {};

    void SetUp() override {
        state.installDir = installDir;
        state.workPath = workPath;
        state.isNT = 1;
        CreateDirectoryA(temp.c_str(), nullptr);
        SetEnvironmentVariableA("TMP", temp.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", nullptr);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".varneltest");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
        StateTest::TearDown();
    }
    void preUninstall(const std::string& text) { // options with this text only
        using namespace varnel;
        ASSERT_EQ(unit::load(concat({record(RT_OPTIONS, optionsBody({0, text})), endRecord()})), 0);
    }
    static void openCommand(const std::string& command) {
        RegSetValueA(HKEY_CLASSES_ROOT, ".varneltest", REG_SZ, "Varnel.TestFile", 15);
        RegSetValueA(HKEY_CLASSES_ROOT, "Varnel.TestFile\\shell\\open\\command", REG_SZ,
                     command.c_str(), DWORD(command.size()));
    }
};
using Unregister = Process;

TEST_F(Process, PreUninstallCommand) {
    unit::Seam::set("windows=C:\\WIN|csidl5");
    // The text, the program and its arguments ("!": refused); relative to the
    // installation folder the program must fit in 259 bytes.
    const std::string n252(252, 'n'), n248(248, 'n');
    const std::string rows[][3] = {
        {"\"  unreg.exe  \"   -x  y", "D:\\App\\unreg.exe", "-x  y"},
        {"\"unreg.exe", "\"D:\\App\\unreg.exe", ""},
        {"unreg.exe /u", "D:\\App\\unreg.exe /u", ""},
        {"#MyDocuments#\\tool.exe", "D:\\App\\#MyDocuments#\\tool.exe", ""},
        {n252, "D:\\App\\" + n252, ""},
        {n252 + "n", "!", ""},
        {"\"" + n248 + "\" a", "D:\\App\\" + n248, "a"},
        {"\"" + n248 + "n\" a", "!", ""},
    };
    for (const auto& row : rows) {
        preUninstall(row[0]);
        PreUninstallCommand command;
        bool built = buildPreUninstallCommand(&command);
        EXPECT_EQ(built, row[1] != "!") << row[0];
        if (built && row[1] != "!") {
            EXPECT_EQ(command.program, row[1]) << row[0];
            EXPECT_EQ(command.arguments, row[2]) << row[0];
        }
        releasePreUninstallCommand(&command);
        EXPECT_EQ(command.ownedBuffer, nullptr);
    }
    freePayload();
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
    EXPECT_EQ(seam.take("SetCurrentDirectoryA"),
              (std::vector<unit::Call>{{"SetCurrentDirectoryA", dir},
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
    // The open command of the class ("-": the class has none), the target, the
    // folder given to the shell and the fallback command run ("-": no call).
    // The command read is 259 bytes at most, the command, a space and the
    // target must fit in 520 bytes, and a target that does not fit the copy
    // is refused whole. V, T and H stand for 259, 259 and 519 characters.
    auto fill = [](std::string s) {
        for (auto [letter, text] : {std::pair{'V', "C:\\" + std::string(256, 'v')},
                                    {'T', "D:\\" + std::string(256, 't')},
                                    {'H', "D:\\" + std::string(516, 'h')}})
            for (size_t at; (at = s.find(letter)) != std::string::npos;)
                s.replace(at, 1, text);
        return s;
    };
    unit::Seam::set("ShellExecuteA!2|WinExec!2");
    for (auto& row : unit::rows(R"(
        C:\viewer.exe -x | bye.htm | (null) | C:\viewer.exe -x bye.htm
        v %1 | httpx://example.invalid\a | httpx://example.invalid | v  httpx://example.invalid\a
        - | D:\bye.htm | D: | -
        V | T | D: | V T
        V | Tt | D: | -
        Vv | D:\bye.htm | D: | -
        V | H | D: | -
        V | Hh | - | -
    )")) {
        if (row[0] == "-")
            RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
        else
            openCommand(fill(row[0]));
        const std::string target = fill(row[1]);
        openClosingDocument(target.c_str(), ".varneltest");
        std::vector<unit::Call> calls;
        if (row[2] != "-")
            calls.push_back({"ShellExecuteA", "0x0", "open", target, "(null)", row[2], "5"});
        if (row[3] != "-")
            calls.push_back({"WinExec", fill(row[3]), "5"});
        EXPECT_EQ(seam.take("ShellExecuteA WinExec"), calls) << row[0] << " " << row[1];
    }
    openClosingDocument("D:\\bye.htm", ".varnelnone"); // no class
    EXPECT_EQ(seam.take("WinExec").size(), 0u);
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
    std::ifstream in(temp + "\\delme1.bat", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    EXPECT_NE(text.find("rmdir \"C:\\" + std::string(510, '%') + "\"\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 14), "\\delme1.bat\"\r\n");
    auto start = seam.take("CreateProcessA");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0][9], "flags=1 show=0");
}

// Without memory for its buffers, each step starts nothing, and a question
// is answered No.
TEST_F(Process, NoMemoryStartsNothing) {
    preUninstall("#Windows#\\tool.exe");
    unit::Seam::set("windows=C:\\WIN|malloc!8");
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
    unit::Seam::set("calloc!8");
    EXPECT_EQ(askQuestion("C:\\x.txt"), IDNO);
}

void* handlerChain() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

// A server in a drive root is called with the root as the current directory;
// its crash is swallowed, and the handler chain, the current directory and
// the error mode are put back afterwards.
TEST_F(Unregister, CrashingServerInADriveRoot) {
    char test[MAX_PATH];
    GetModuleFileNameA(nullptr, test, MAX_PATH);
    lstrcpyA(strrchr(test, '\\') + 1, "com_crash.dll");
    ASSERT_TRUE(CopyFileA(test, "C:\\varnel-root.dll", FALSE));
    lstrcpyA(workPath, "C:\\varnel-root.dll");
    state.isVistaOrLater = 0;
    SetCurrentDirectoryA(dir.c_str());
    UINT before = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    void* chain = handlerChain();
    unregisterComServer();
    EXPECT_EQ(handlerChain(), chain);
    EXPECT_EQ(SetErrorMode(before), UINT(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(unit::currentDir(), dir);
    std::ifstream in("C:\\varnel-root.dll.log");
    std::string log((std::istreambuf_iterator<char>(in)), {});
    in.close();
    EXPECT_EQ(bed::parseValues(log)["directory"], "C:\\");
    for (const char* file : {"C:\\varnel-root.dll", "C:\\varnel-root.dll.log"})
        DeleteFileA(file);
}

} // namespace
