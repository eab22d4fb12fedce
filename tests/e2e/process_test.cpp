// The pre-uninstall program, the closing document and self-deletion, end to
// end: the real uninstaller started as a separate process, the programs it
// starts recorded by the recorder fixture, and the batch file run by Wine's
// own interpreter after the uninstaller has ended.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "harness.h"

using namespace varnel;

namespace {

const char* CAPTION = "Process Test";
const char* CONFIRM = "Remove Process Test?";
const char* DONE = "Process Test was removed.";

Bytes payload(const std::string& preUninstall, const std::string& closingDocument = "",
              uint32_t flags = 0, std::vector<FileSpec> files = {{".", "data.txt", 0}}) {
    PayloadSpec spec;
    spec.texts = {CAPTION, CONFIRM, DONE};
    spec.files = std::move(files);
    spec.options = OptionsSpec{flags, preUninstall, closingDocument};
    return encodePayload(spec);
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::vector<std::string>> lines(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        out.push_back(fields);
    }
    return out;
}

// Polls until `done` holds or `ms` have passed; the result of the last test.
template <typename F> bool waitFor(F done, DWORD ms) {
    for (DWORD start = GetTickCount(); !done(); Sleep(100))
        if (GetTickCount() - start > ms)
            return done();
    return true;
}

std::string ansiToOem(std::string text) {
    CharToOemA(text.c_str(), text.data());
    return text;
}

bed::WindowHandler press(const std::string& label) {
    return [label](const bed::Dialog& d) { bed::pressButton(d, label); };
}

bed::WindowHandler confirmAndClose() {
    return [](const bed::Dialog& d) {
        if (d.message == CONFIRM || d.message == DONE)
            bed::pressButton(d, "OK");
    };
}

class Steps : public ::testing::Test {
  protected:
    std::string dir, temp, record, seamLog;
    std::vector<std::string> placed, savedTemp;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        temp = bed::caseDir(name + "-tmp");
        dir = bed::caseDir(name);
        record = temp + "\\record.txt";
        seamLog = temp + "\\seam.log";
        SetEnvironmentVariableA("VARNEL_RECORD", record.c_str());
        SetEnvironmentVariableA("VARNEL_SEAM_LOG", seamLog.c_str());
        for (const char* variable : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            GetEnvironmentVariableA(variable, value, sizeof(value));
            savedTemp.push_back(value);
            SetEnvironmentVariableA(variable, temp.c_str());
        }
    }
    void TearDown() override {
        for (const char* variable : {"VARNEL_RECORD", "VARNEL_SEAM_LOG", "VARNEL_SEAM"})
            SetEnvironmentVariableA(variable, nullptr);
        SetEnvironmentVariableA("TMP", savedTemp[0].empty() ? nullptr : savedTemp[0].c_str());
        SetEnvironmentVariableA("TEMP", savedTemp[1].empty() ? nullptr : savedTemp[1].c_str());
        for (const std::string& exe : placed)
            bed::setWindowsVersion(exe, "");
    }
    std::string path(const std::string& relative) { return dir + "\\" + relative; }
    // The uninstaller (or its test build) with the payload, in the case's folder.
    std::string place(const Bytes& p, bool seamBuild = false, const std::string& version = "") {
        std::string exe = dir + "\\" + (seamBuild ? "uninst_seam.exe" : "uninst.exe");
        writeFileBytes(
            exe, attachPayload(
                     readFileBytes(bed::fixture(seamBuild ? "uninst_seam.exe" : "uninst.exe")), p));
        std::string name = exe.substr(exe.find_last_of('\\') + 1);
        bed::setWindowsVersion(name, version);
        placed.push_back(name);
        return exe;
    }
    void recorderAt(const std::string& target) {
        ASSERT_TRUE(CopyFileA(bed::fixture("recorder.exe").c_str(), target.c_str(), FALSE))
            << target;
    }
    std::vector<std::vector<std::string>> records() { return lines(readText(record)); }
    std::vector<std::vector<std::string>> seamCalls(const std::string& name) {
        std::vector<std::vector<std::string>> out;
        for (auto& call : lines(readText(seamLog)))
            if (!call.empty() && call[0] == name)
                out.push_back(call);
        return out;
    }
    bool batchFilesLeft() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "\\delme*.bat").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    }
    // The executable, the installation folder and the batch file are gone.
    bool allGone(const std::string& exe) {
        return !bed::exists(exe) && !bed::exists(dir) && !batchFilesLeft();
    }
};

// ---------------------------------------------------------------------------
// The pre-uninstall program.

using PreUninstall = Steps;

TEST_F(PreUninstall, StartsFromItsOwnFolderAndPutsTheCurrentDirectoryBack) {
    CreateDirectoryA(path("tools").c_str(), nullptr);
    recorderAt(path("tools\\recorder.exe"));
    struct Row {
        std::string text, commandLine;
    };
    for (const Row& row : {Row{"\"tools\\recorder.exe\" one  two",
                               "\"" + path("tools\\recorder.exe") + "\" one  two"},
                           Row{"tools\\recorder.exe", "\"" + path("tools\\recorder.exe") + "\""}}) {
        SCOPED_TRACE(row.text);
        DeleteFileA(record.c_str());
        bed::writeText(path("bare.txt"), "x");
        std::string exe = place(payload(row.text, "", OF_WAIT, {{"", "bare.txt", 0}}));
        auto r = bed::run(exe, "/S");
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        auto got = records();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0],
                  (std::vector<std::string>{"recorder.exe", path("tools"), row.commandLine}));
        // "bare.txt" is relative to the current directory, the installation
        // folder, which is back once the program has started.
        EXPECT_FALSE(bed::exists(path("bare.txt")));
    }
}

TEST_F(PreUninstall, FolderMacros) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string inWindows = std::string(windows) + "\\varnel_recorder.exe";
    recorderAt(inWindows);
    recorderAt(path("recorder.exe"));
    struct Row {
        std::string text, folder, commandLine;
    };
    for (const Row& row :
         {Row{"\"#Windows#\\varnel_recorder.exe\" w", windows, "\"" + inWindows + "\" w"},
          // An unknown token goes; a program without a folder is searched for
          // as usual (first in the uninstaller's folder) and started from the
          // current directory.
          Row{"#Nope#recorder.exe", dir, "\"recorder.exe\""}}) {
        SCOPED_TRACE(row.text);
        DeleteFileA(record.c_str());
        auto r = bed::run(place(payload(row.text, "", OF_WAIT)), "/S");
        ASSERT_TRUE(r.finished);
        auto got = records();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0][1], row.folder);
        EXPECT_EQ(got[0][2], row.commandLine);
    }
    DeleteFileA(inWindows.c_str());
}

TEST_F(PreUninstall, RemovalWaitsOnlyWithTheFlag) {
    recorderAt(path("recorder.exe"));
    for (bool wait : {true, false}) {
        SCOPED_TRACE(wait);
        DeleteFileA(record.c_str());
        bed::writeText(path("data.txt"), "x");
        std::string text = "\"recorder.exe\" sleep=" + std::string(wait ? "1500" : "4000") +
                           " probe=" + path("data.txt");
        auto r = bed::run(place(payload(text, "", wait ? OF_WAIT : 0)), "/S");
        ASSERT_TRUE(r.finished);
        EXPECT_FALSE(bed::exists(path("data.txt")));
        // The program saw the file while the uninstaller waited for it, and
        // found it gone when it was not waited for.
        ASSERT_TRUE(waitFor([&] { return records().size() == 2; }, 15000));
        EXPECT_EQ(records()[1], (std::vector<std::string>{"probe", wait ? "1" : "0"}));
    }
}

TEST_F(PreUninstall, ProgramEndingWithCode259IsSeenToEnd) {
    recorderAt(path("recorder.exe"));
    bed::writeText(path("data.txt"), "x");
    auto r = bed::run(place(payload("\"recorder.exe\" exit=259 sleep=400", "", OF_WAIT)), "/S",
                      nullptr, 20000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(records().size(), 1u);
    EXPECT_FALSE(bed::exists(path("data.txt")));
}

TEST_F(PreUninstall, ProgramThatCannotStartIsPassedOver) {
    bed::writeText(path("data.txt"), "x");
    auto r = bed::run(place(payload("\"missing.exe\" /u", "", OF_WAIT)), "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.windows.empty());
    EXPECT_FALSE(bed::exists(path("data.txt")));
}

TEST_F(PreUninstall, Options) {
    recorderAt(path("recorder.exe"));
    struct Row {
        const char* options;
        bool runs;
    };
    for (const Row& row : {Row{"/S", true}, Row{"/X", false}, Row{"-X -S", true}}) {
        SCOPED_TRACE(row.options);
        DeleteFileA(record.c_str());
        auto r = bed::run(place(payload("\"recorder.exe\" x", "", OF_WAIT)), row.options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(records().size(), row.runs ? 1u : 0u);
    }
    // A cancel runs nothing.
    DeleteFileA(record.c_str());
    auto r =
        bed::run(place(payload("\"recorder.exe\" x", "", OF_WAIT)), "", press("Cancel"));
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(records().empty());
}

// ---------------------------------------------------------------------------
// The closing document, with the recorder as the open command of ".htm".

class ClosingDocument : public Steps {
  protected:
    std::string savedClass;
    std::string viewer;
    void SetUp() override {
        Steps::SetUp();
        char value[MAX_PATH] = {};
        LONG size = sizeof(value);
        if (RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", value, &size) == ERROR_SUCCESS)
            savedClass = value;
        setValue(".htm", "Varnel.TestPage");
        CreateDirectoryA(path("viewer").c_str(), nullptr);
        CreateDirectoryA(path("docs").c_str(), nullptr);
        viewer = path("viewer\\recorder.exe");
        recorderAt(viewer);
        bed::writeText(path("docs\\page.htm"), "<p>bye</p>");
    }
    void TearDown() override {
        setValue(".htm", savedClass);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "Varnel.TestPage");
        Steps::TearDown();
    }
    static void setValue(const std::string& key, const std::string& value) {
        RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), DWORD(value.size()));
    }
    void openCommand(const std::string& command) {
        setValue("Varnel.TestPage\\shell\\open\\command", command);
    }
    // The recorder's one line, once the started program has written it.
    std::vector<std::string> recorded() {
        waitFor([&] { return !records().empty(); }, 10000);
        auto got = records();
        return got.size() == 1 ? got[0] : std::vector<std::string>{};
    }
};

TEST_F(ClosingDocument, ShellOpensAFileFromItsFolder) {
    openCommand("\"" + viewer + "\" -nohome \"%1\"");
    std::string page = path("docs\\page.htm");
    auto r = bed::run(place(payload("", page)), "/S -Q"); // S: no document
    ASSERT_TRUE(r.finished);
    Sleep(500);
    EXPECT_TRUE(records().empty());
    r = bed::run(place(payload("", page)), "/Q");
    ASSERT_TRUE(r.finished);
    auto got = recorded();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], path("docs"));
    EXPECT_NE(got[2].find("-nohome"), std::string::npos);
    EXPECT_NE(got[2].find("page.htm"), std::string::npos);
}

TEST_F(ClosingDocument, FallbackToTheOpenCommandForBothPlaceholders) {
    std::string missing = path("docs\\missing.htm"); // the shell cannot open it
    struct Row {
        std::string openCommand, commandLine;
    };
    for (const Row& row :
         {Row{"\"" + viewer + "\" -nohome \"%1\"", "\"" + viewer + "\" -nohome  " + missing},
          Row{viewer + " %1 -new", viewer + "  " + missing}}) {
        SCOPED_TRACE(row.openCommand);
        DeleteFileA(record.c_str());
        openCommand(row.openCommand);
        auto r = bed::run(place(payload("", missing)), "", confirmAndClose());
        ASSERT_TRUE(r.finished);
        auto got = recorded();
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[2], row.commandLine);
    }
}

TEST_F(ClosingDocument, AddressInCapitalsGetsNoWorkingFolder) {
    openCommand("\"" + viewer + "\" \"%1\"");
    const std::string address = "HTTPS://EXAMPLE.INVALID\\BYE";
    SetEnvironmentVariableA("VARNEL_SEAM", "ShellExecuteA!2");
    auto r = bed::run(place(payload("", address), true), "/Q");
    ASSERT_TRUE(r.finished);
    auto shell = seamCalls("ShellExecuteA");
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0][3], address);
    EXPECT_EQ(shell[0][5], "(null)");
    auto got = recorded();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2], "\"" + viewer + "\"  " + address);
}

// ---------------------------------------------------------------------------
// Self-deletion: the batch file runs after the uninstaller has ended.

using SelfDeletion = Steps;

TEST_F(SelfDeletion, ConfirmedOrQuietLeavesNothingBehind) {
    for (const char* options : {"", "/Q"}) {
        SCOPED_TRACE(options);
        dir = bed::caseDir("self-deletion-" + std::string(*options ? "quiet" : "confirmed"));
        bed::writeText(path("data.txt"), "x");
        std::string exe = place(payload("", "", 0, {{".", "", 0}, {".", "data.txt", 0}}));
        auto r = bed::run(exe, options, confirmAndClose());
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_TRUE(waitFor([&] { return allGone(exe); }, 20000));
    }
}

TEST_F(SelfDeletion, NothingScheduledWithSOrXOrAfterCancel) {
    struct Row {
        const char* options;
        const char* press;
    };
    for (const Row& row : {Row{"/S", ""}, Row{"/X", ""}, Row{"", "Cancel"}}) {
        SCOPED_TRACE(row.options);
        DeleteFileA(seamLog.c_str());
        std::string exe = place(payload(""), true);
        auto r = bed::run(exe, row.options, press(row.press));
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(readText(seamLog).find("delme"), std::string::npos);
        EXPECT_TRUE(seamCalls("CreateProcessA").empty());
        EXPECT_TRUE(bed::exists(exe));
    }
}

TEST_F(SelfDeletion, TakesTheNextFreeBatchName) {
    bed::writeText(temp + "\\delme1.bat", "someone else's");
    std::string exe = place(payload(""), true);
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    auto made = seamCalls("CreateFileA");
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made.back()[1], temp + "\\delme2.bat");
    EXPECT_TRUE(
        waitFor([&] { return !bed::exists(exe) && !bed::exists(temp + "\\delme2.bat"); }, 20000));
    EXPECT_EQ(readText(temp + "\\delme1.bat"), "someone else's");
}

TEST_F(SelfDeletion, FolderThatStillHoldsAFileStays) {
    bed::writeText(path("not-listed.txt"), "x");
    std::string exe = place(payload(""));
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(waitFor([&] { return !bed::exists(exe) && !batchFilesLeft(); }, 20000));
    EXPECT_TRUE(bed::exists(path("not-listed.txt")));
}

TEST_F(SelfDeletion, PathWithSpacesAndALetterOutsideAscii) {
    dir = bed::caseDir("Self Deletion \xE9t\xE9 50%");
    std::string exe = place(payload(""));
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(waitFor([&] { return allGone(exe); }, 20000));
}

// Where 8.3 names are disabled, GetShortPathNameA hands back the long path:
// the batch file then holds the long, quoted paths, and works.
TEST_F(SelfDeletion, PathWithSpacesWithoutShortNames) {
    dir = bed::caseDir("Self Deletion long \xE9t\xE9");
    std::string exe = place(payload(""), true);
    SetEnvironmentVariableA("VARNEL_SEAM",
                            "GetShortPathNameA!2|CreateProcessA~delme!5|DeleteFileA~delme!5");
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    std::string batch = temp + "\\delme1.bat";
    std::string text = readText(batch);
    EXPECT_NE(text.find("del \"" + ansiToOem(exe) + "\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("rmdir \"" + ansiToOem(dir) + "\"\r\n"), std::string::npos) << text;

    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    std::string line = "\"" + std::string(system) + "\\cmd.exe\" /C \"" + batch + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, system,
                               &startup, &started));
    EXPECT_EQ(WaitForSingleObject(started.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    EXPECT_TRUE(allGone(exe));
}

// An executable that cannot be deleted: the batch gives up after its rounds
// of about a second, having outlasted the uninstaller.
TEST_F(SelfDeletion, UndeletableExecutableEndsTheBatchWithinItsBound) {
    std::string exe = place(payload(""));
    HANDLE held =
        CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    Sleep(3000);
    EXPECT_TRUE(batchFilesLeft()); // still trying
    bool ended = waitFor([&] { return !batchFilesLeft(); }, 90000);
    CloseHandle(held);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(bed::exists(exe));
}

TEST_F(SelfDeletion, DecoyInterpreterInTheInstallationFolderIsNotRun) {
    recorderAt(path("cmd.exe"));
    recorderAt(path("command.com"));
    std::string exe = place(payload(""));
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(waitFor([&] { return !bed::exists(exe) && !batchFilesLeft(); }, 20000));
    EXPECT_TRUE(records().empty());
}

// The 9x family uses command.com from the Windows folder. Where the system has
// none (Wine has none), the batch file is removed again and nothing runs.
TEST_F(SelfDeletion, NinexFamilyUsesCommandComFromTheWindowsFolder) {
    std::string exe = place(payload(""), true, "win98");
    auto r = bed::run(exe, "/Q");
    ASSERT_TRUE(r.finished);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string interpreter = std::string(windows) + "\\command.com";
    auto started = seamCalls("CreateProcessA");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0][2], "\"" + interpreter + "\" /C \"" + temp + "\\delme1.bat\"");
    auto moved = seamCalls("SetCurrentDirectoryA");
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved.back()[1], windows);
    if (bed::exists(interpreter)) {
        EXPECT_TRUE(waitFor([&] { return allGone(exe); }, 20000));
    } else {
        EXPECT_FALSE(batchFilesLeft());
        EXPECT_TRUE(bed::exists(exe));
    }
}

} // namespace
