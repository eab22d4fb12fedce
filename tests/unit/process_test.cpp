// The pre-uninstall command, the closing document's fallback command and the
// self-deletion batch, in process. Platform calls that would start programs
// are failed through the test build's seam, whose log shows what they got.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/state.h"
#include "harness.h"
#include "payload/payload.h"
#include "process/process.h"

namespace {

// One line of the seam log, split at its tabs.
using Call = std::vector<std::string>;

class Process : public ::testing::Test {
  protected:
    UninstallState saved = state;
    char installDir[PATH_BUFFER_SIZE] = {};
    char workPath[PATH_BUFFER_SIZE] = {};
    std::vector<unsigned char> options;
    std::string dir;
    std::string log;
    char savedCurrent[MAX_PATH] = {};

    void SetUp() override {
        dir = bed::caseDir("unit-process");
        log = dir + "\\seam.log";
        GetCurrentDirectoryA(sizeof(savedCurrent), savedCurrent);
        state.installDir = installDir;
        state.workPath = workPath;
        setInstallDir("D:\\App\\");
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", log.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("VARNEL_SEAM", nullptr);
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr);
        SetEnvironmentVariableA("TMP", nullptr);
        SetCurrentDirectoryA(savedCurrent);
        state = saved;
    }
    void setInstallDir(const std::string& path) {
        lstrcpynA(installDir, path.c_str(), sizeof(installDir));
    }
    void seam(const std::string& rules) { SetEnvironmentVariableA("VARNEL_SEAM", rules.c_str()); }
    // An OptionsBlock whose pre-uninstall text is `text`.
    void preUninstall(const std::string& text) {
        options.assign(12, 0);
        options[4] = 12;
        options.insert(options.end(), text.begin(), text.end());
        options.insert(options.end(), {0, 0, 0});
        state.options = options.data();
        state.optionsLength = uint32_t(options.size() - 2);
    }
    // Every call logged since the last take, which empties the log.
    std::vector<Call> take() {
        std::vector<Call> out;
        std::ifstream in(log, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Call call;
            std::stringstream fields(line);
            for (std::string field; std::getline(fields, field, '\t');)
                call.push_back(field);
            out.push_back(call);
        }
        in.close();
        DeleteFileA(log.c_str());
        return out;
    }
    static std::vector<Call> only(const std::vector<Call>& all, const std::string& name) {
        std::vector<Call> out;
        for (const Call& call : all)
            if (!call.empty() && call[0] == name)
                out.push_back(call);
        return out;
    }
    std::vector<Call> calls(const std::string& name) { return only(take(), name); }
};

TEST_F(Process, PreUninstallCommand) {
    struct Row {
        std::string text;
        const char* program; // null: refused
        const char* arguments;
    };
    const Row rows[] = {
        {"\"unreg.exe\" /u", "D:\\App\\unreg.exe", "/u"},
        {"unreg.exe", "D:\\App\\unreg.exe", ""},
        {"unreg.exe /u", "D:\\App\\unreg.exe /u", ""}, // unquoted: all of it is the program
        {"\"  unreg.exe  \"   -x  y", "D:\\App\\unreg.exe", "-x  y"},
        {"\"unreg.exe\"", "\"D:\\App\\unreg.exe\"", ""}, // nothing after the quote
        {"\"unreg.exe", "\"D:\\App\\unreg.exe", ""},
        {"\"#Windows#\\tool.exe\" a b", "C:\\WIN\\tool.exe", "a b"},
        {"#windows#\\tool.exe", "C:\\WIN\\tool.exe", ""},
        {"#Nope#tool.exe x", "tool.exe x", ""}, // an unknown token goes
        // A folder that cannot be had keeps its token: the expansion is discarded.
        {"#MyDocuments#\\tool.exe", "D:\\App\\#MyDocuments#\\tool.exe", ""},
        {"\"#MyDocuments#\\t.exe\" z", "D:\\App\\#MyDocuments#\\t.exe", "z"},
        {"#Nope#", nullptr, nullptr}, // nothing left to run
        // Relative to installDir, the command must fit in workPath's 259 bytes.
        {std::string(252, 'n'), "", ""},
        {std::string(253, 'n'), nullptr, nullptr},
        {"\"" + std::string(248, 'n') + "\" a", "", "a"},
        {"\"" + std::string(249, 'n') + "\" a", nullptr, nullptr},
    };
    seam("windows=C:\\WIN|csidl5");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        preUninstall(row.text);
        PreUninstallCommand command;
        bool built = buildPreUninstallCommand(&command);
        EXPECT_EQ(built, row.program != nullptr);
        if (built && row.program) {
            std::string program = row.program;
            if (program.empty()) // the long rows: installDir and the run of n
                program = "D:\\App\\" +
                          std::string(std::count(row.text.begin(), row.text.end(), 'n'), 'n');
            EXPECT_EQ(command.program, program);
            EXPECT_STREQ(command.arguments, row.arguments);
        }
        releasePreUninstallCommand(&command);
        EXPECT_EQ(command.ownedBuffer, nullptr);
    }
    state.options = nullptr;
    state.optionsLength = 0;
    PreUninstallCommand none;
    EXPECT_FALSE(buildPreUninstallCommand(&none));
}

TEST_F(Process, StartProgramCommandLineAndFolder) {
    seam("CreateProcessA!2");
    HANDLE process = INVALID_HANDLE_VALUE;
    EXPECT_EQ(startProgram("D:\\Tools\\stop.exe", "-quiet", &process), 0);
    EXPECT_EQ(process, nullptr);
    EXPECT_EQ(startProgram("stop.exe", "", &process), 0);
    EXPECT_EQ(startProgram("C:\\x.exe", nullptr, &process), 0);
    auto started = calls("CreateProcessA");
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0][2], "\"D:\\Tools\\stop.exe\" -quiet");
    EXPECT_EQ(started[0][5], "1"); // inheriting handles, default window
    EXPECT_EQ(started[0][6], "32");
    EXPECT_EQ(started[0][9], "flags=0 show=0");
    EXPECT_EQ(started[1][2], "\"stop.exe\"");
    EXPECT_EQ(started[2][2], "\"C:\\x.exe\"");

    // The folder is set for the start and the old one put back, also when the
    // start fails; a program without a folder leaves it alone.
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof(current), current);
    startProgram((dir + "\\prog.exe").c_str(), "a", &process);
    startProgram("prog.exe", "a", &process);
    auto moves = calls("SetCurrentDirectoryA");
    ASSERT_EQ(moves.size(), 3u);
    EXPECT_EQ(moves[0][1], dir);
    EXPECT_EQ(moves[1][1], current);
    EXPECT_EQ(moves[2][1], current);
    char after[MAX_PATH];
    GetCurrentDirectoryA(sizeof(after), after);
    EXPECT_STREQ(after, current);

    // Two quotes, the program, a space and the arguments must fit in 520
    // bytes with the terminator; the program in a path buffer.
    std::string program = "C:\\" + std::string(250, 'p');
    std::string fits(519 - 2 - program.size() - 1, 'a');
    EXPECT_EQ(startProgram(program.c_str(), fits.c_str(), &process), 0);
    EXPECT_EQ(startProgram(program.c_str(), (fits + "a").c_str(), &process), 0);
    EXPECT_EQ(startProgram(("C:\\" + std::string(257, 'p')).c_str(), "", &process), 0);
    started = calls("CreateProcessA");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0][2].size(), 519u);
}

class Document : public Process {
  protected:
    void SetUp() override {
        Process::SetUp();
        setClass(".varneltest", "Varnel.TestFile");
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".varneltest");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
        Process::TearDown();
    }
    static void setClass(const std::string& key, const std::string& value) {
        RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size()));
    }
    void openCommand(const std::string& command) {
        setClass("Varnel.TestFile\\shell\\open\\command", command);
    }
};

TEST_F(Document, WorkingFolderAndFallbackCommand) {
    struct Row {
        const char* target;
        const char* openCommand;
        const char* folder; // given to the shell
        const char* run;    // the fallback command
    };
    const Row rows[] = {
        {"D:\\Docs\\bye.htm", "\"C:\\viewer.exe\" -nohome \"%1\"", "D:\\Docs",
         "\"C:\\viewer.exe\" -nohome  D:\\Docs\\bye.htm"},
        {"D:\\bye.htm", "C:\\viewer.exe %1 -new", "D:", "C:\\viewer.exe  D:\\bye.htm"},
        {"bye.htm", "C:\\viewer.exe -x", "(null)", "C:\\viewer.exe -x bye.htm"},
        {"HTTPS://EXAMPLE.INVALID\\A\\B", "v \"%1\" %1", "(null)",
         "v  HTTPS://EXAMPLE.INVALID\\A\\B"},
        {"http://example.invalid\\a", "v %1", "(null)", "v  http://example.invalid\\a"},
        {"httpx://example.invalid\\a", "v %1", "httpx://example.invalid",
         "v  httpx://example.invalid\\a"},
    };
    seam("ShellExecuteA!2|WinExec!2");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        openCommand(row.openCommand);
        openClosingDocument(row.target, ".varneltest");
        auto all = take();
        auto shell = only(all, "ShellExecuteA");
        ASSERT_EQ(shell.size(), 1u);
        EXPECT_EQ(shell[0][2], "open");
        EXPECT_EQ(shell[0][3], row.target);
        EXPECT_EQ(shell[0][4], "(null)");
        EXPECT_EQ(shell[0][5], row.folder);
        EXPECT_EQ(shell[0][6], "5");
        auto run = only(all, "WinExec");
        ASSERT_EQ(run.size(), 1u);
        EXPECT_EQ(run[0][1], row.run);
        EXPECT_EQ(run[0][2], "5");
    }
}

TEST_F(Document, NothingRunsWithoutAClassOrWhenItWouldNotFit) {
    seam("ShellExecuteA!2|WinExec!2");
    openClosingDocument("D:\\bye.htm", ".varnelnone"); // no class for the extension
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestFile");
    openClosingDocument("D:\\bye.htm", ".varneltest"); // a class without an open command
    EXPECT_TRUE(calls("WinExec").empty());

    // The command read (259 bytes at most), a space and the target must fit in
    // 520 bytes; a longer value is not read at all.
    std::string viewer = "C:\\" + std::string(256, 'v');
    std::string target = "D:\\" + std::string(256, 't');
    openCommand(viewer);
    openClosingDocument(target.c_str(), ".varneltest");
    openClosingDocument((target + "t").c_str(), ".varneltest");
    auto run = calls("WinExec");
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0][1], viewer + " " + target);
    openCommand(viewer + "v");
    openClosingDocument("D:\\bye.htm", ".varneltest");
    EXPECT_TRUE(calls("WinExec").empty());
    char value[PATH_BUFFER_SIZE];
    EXPECT_EQ(readDefaultValue(HKEY_CLASSES_ROOT, "Varnel.TestFile\\shell\\open\\command", value),
              ERROR_MORE_DATA);

    // A target that does not fit the copy is refused whole.
    std::string huge = "D:\\" + std::string(517, 'h');
    openClosingDocument(huge.c_str(), ".varneltest");
    EXPECT_TRUE(calls("ShellExecuteA").empty());
    openClosingDocument(huge.substr(1).c_str(), ".varneltest");
    EXPECT_EQ(calls("ShellExecuteA").size(), 1u);
}

TEST_F(Process, BatchFileNames) {
    std::string temp = dir + "\\temp";
    CreateDirectoryA(temp.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", temp.c_str());
    char path[PATH_BUFFER_SIZE];
    // Every name refused: 998 tries, then no file.
    seam("CreateFileA~delme!5");
    EXPECT_EQ(createTempBatchFile(path, "delme%d.bat"), INVALID_HANDLE_VALUE);
    auto tries = calls("CreateFileA");
    ASSERT_EQ(tries.size(), 2u * 998);
    EXPECT_EQ(tries.back()[1], temp + "\\delme998.bat");

    // A temporary folder with no room for the name.
    std::string deep = "C:\\" + std::string(250, 'd');
    SetEnvironmentVariableA("TMP", deep.c_str());
    seam("");
    EXPECT_EQ(createTempBatchFile(path, "delme%d.bat"), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(calls("CreateFileA").empty());
}

// The batch file, kept by failing the interpreter's start and the removal of
// the batch file.
class Batch : public Process {
  protected:
    std::string temp;
    void SetUp() override {
        Process::SetUp();
        temp = dir + "\\temp";
        CreateDirectoryA(temp.c_str(), nullptr);
        SetEnvironmentVariableA("TMP", temp.c_str());
        state.instance = GetModuleHandleA(nullptr);
    }
    // The batch file written, which the failed start left in place.
    std::string keptBatch() {
        std::string path = temp + "\\delme1.bat";
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        in.close();
        DeleteFileA(path.c_str());
        return text;
    }
};

// What a path becomes in the batch text: OEM, percent signs doubled.
std::string inBatch(std::string path) {
    CharToOemA(path.c_str(), path.data());
    std::string out;
    for (char c : path)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

std::string shortPath(const std::string& path) {
    char out[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), out, sizeof(out));
    return n && n < sizeof(out) ? out : path;
}

TEST_F(Batch, QuotedPathsInOemWithABoundedLoop) {
    std::string folder = dir + "\\With Space \xE9 50%";
    CreateDirectoryA(folder.c_str(), nullptr);
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, sizeof(module));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    // Short names where there are, and the long ones where the system hands
    // those back (no 8.3 names).
    for (bool longNames : {false, true}) {
        SCOPED_TRACE(longNames);
        setInstallDir(folder + "\\");
        state.isNT = 1;
        seam(std::string(longNames ? "GetShortPathNameA!2|" : "") +
             "CreateProcessA!2|DeleteFileA~delme!5");
        scheduleSelfDeletion();
        std::string text = keptBatch();
        std::string exe = inBatch(longNames ? module : shortPath(module));
        std::string bat = inBatch((longNames ? temp : shortPath(temp)) + "\\delme1.bat");
        EXPECT_EQ(
            text,
            "@echo off\r\nset round=\r\n:Repeat\r\ndel \"" + exe + "\"\r\nif not exist \"" + exe +
                "\" goto Done\r\nset round=%round%x\r\nif \"%round%\"==\"" + std::string(30, 'x') +
                "\" goto Done\r\nping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\n"
                "rmdir \"" +
                inBatch(longNames ? folder : shortPath(folder)) + "\"\r\ndel \"" + bat + "\"\r\n");
        auto start = calls("CreateProcessA");
        ASSERT_EQ(start.size(), 1u);
        EXPECT_EQ(start[0][1], "(null)");
        EXPECT_EQ(start[0][2],
                  "\"" + std::string(system) + "\\cmd.exe\" /C \"" + temp + "\\delme1.bat\"");
        EXPECT_EQ(start[0][5], "0");              // no handle inheritance
        EXPECT_EQ(start[0][9], "flags=1 show=0"); // the window stays hidden
        char current[MAX_PATH];
        GetCurrentDirectoryA(sizeof(current), current);
        EXPECT_STREQ(current, system);
    }
}

TEST_F(Batch, LongestPathIsWrittenWhole) {
    // An installation folder of 259 characters, all percent signs, is
    // written whole, doubled.
    state.isNT = 1;
    seam("CreateProcessA!2|DeleteFileA~delme!5");
    setInstallDir("C:\\" + std::string(255, '%') + "\\");
    scheduleSelfDeletion();
    std::string text = keptBatch();
    EXPECT_NE(text.find("rmdir \"C:\\" + std::string(510, '%') + "\"\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 14), "\\delme1.bat\"\r\n");
}

// Without memory for its buffers, each step starts nothing.
TEST_F(Batch, NoMemoryStartsNothing) {
    seam("windows=C:\\WIN|malloc!8");
    preUninstall("#Windows#\\tool.exe");
    PreUninstallCommand command;
    EXPECT_FALSE(buildPreUninstallCommand(&command));
    releasePreUninstallCommand(&command);
    // The starts themselves fail too, should a buffer be had after all.
    HANDLE process;
    for (const char* fault : {"malloc!8|CreateProcessA!2", "calloc!8|CreateProcessA!2"}) {
        seam(fault);
        EXPECT_EQ(startProgram("C:\\x.exe", "", &process), 0) << fault;
    }
    seam("calloc!8|ShellExecuteA!2|WinExec!2");
    openClosingDocument("D:\\bye.htm", ".htm");
    seam("calloc!8|CreateProcessA!2|DeleteFileA~delme!5");
    setInstallDir(dir + "\\");
    scheduleSelfDeletion();
    auto all = take();
    EXPECT_TRUE(only(all, "CreateProcessA").empty());
    EXPECT_TRUE(only(all, "ShellExecuteA").empty());
    EXPECT_TRUE(only(all, "CreateFileA").empty());
}

} // namespace
