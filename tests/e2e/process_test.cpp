// Self-deletion cases that rows cannot hold (tests/cases/process.json has the
// others): a path with a letter of the ANSI code page outside ASCII, which
// stands in the batch file in OEM form, and an executable held open for
// longer than the batch file keeps trying.
#include <gtest/gtest.h>

#include <fstream>

#include "harness.h"

using namespace varnel;

namespace {

bool batchFileIn(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\delme*.bat").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

template <typename F> bool waitFor(F done, DWORD ms) {
    for (DWORD start = GetTickCount(); !done(); Sleep(100))
        if (GetTickCount() - start > ms)
            return done();
    return true;
}

std::string oem(std::string text) {
    CharToOemA(text.c_str(), text.data());
    return text;
}

// Runs the uninstaller (or its test build) with /Q, its temporary folder the
// case's own, with the given faults.
class SelfDeletion : public ::testing::Test {
  protected:
    std::string dir, temp, exe;
    void place(const std::string& name, bool seamBuild) {
        temp = bed::caseDir(name + "-tmp"); // a batch file of an earlier case cannot touch it
        dir = bed::caseDir(name);
        exe = dir + "\\uninst.exe";
        bed::setWindowsVersion("uninst.exe", ""); // the bed's own (NT), whatever a row set last
        PayloadSpec spec;
        spec.texts = {"Self-deletion"};
        writeFileBytes(exe, attachPayload(readFileBytes(bed::fixture(seamBuild ? "uninst_seam.exe"
                                                                               : "uninst.exe")),
                                          encodePayload(spec)));
    }
    bed::RunResult run(const char* faults = nullptr) {
        char saved[MAX_PATH] = {};
        GetEnvironmentVariableA("TMP", saved, sizeof(saved));
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("VARNEL_SEAM", faults);
        bed::RunResult r = bed::run(exe, "/Q");
        SetEnvironmentVariableA("VARNEL_SEAM", nullptr);
        SetEnvironmentVariableA("TMP", *saved ? saved : nullptr);
        return r;
    }
    bool allGone() { return !bed::exists(exe) && !bed::exists(dir) && !batchFileIn(temp); }
};

TEST_F(SelfDeletion, PathWithSpacesAndALetterOutsideAscii) {
    place("Self Deletion \xE9t\xE9", false);
    ASSERT_TRUE(run().finished);
    EXPECT_TRUE(waitFor([&] { return allGone(); }, 60000)); // the batch's bound, and more
}

// Where 8.3 names are disabled, GetShortPathNameA hands back the long path:
// the batch file then holds the long path in OEM form, and Wine's cmd.exe,
// run on the batch file the uninstaller wrote, removes what it names.
TEST_F(SelfDeletion, PathWithALetterOutsideAsciiWithoutShortNames) {
    place("Self Deletion long \xE9t\xE9", true);
    ASSERT_TRUE(run("GetShortPathNameA!2|CreateProcessA~delme!5|DeleteFileA~delme!5").finished);
    std::string batch = temp + "\\delme1.bat";
    std::ifstream in(batch, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    EXPECT_NE(text.find("del \"" + oem(exe) + "\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("rmdir \"" + oem(dir) + "\"\r\n"), std::string::npos) << text;

    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    std::string line = "\"" + std::string(system) + "\\cmd.exe\" /C \"" + batch + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, system,
                               &startup, &started));
    EXPECT_EQ(WaitForSingleObject(started.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    EXPECT_TRUE(allGone());
}

// An executable that cannot be deleted: the batch gives up after its rounds
// of about a second, having outlasted the uninstaller.
TEST_F(SelfDeletion, UndeletableExecutableEndsTheBatchWithinItsBound) {
    place("self-deletion-held", false);
    HANDLE held =
        CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(run().finished);
    Sleep(3000);
    EXPECT_TRUE(batchFileIn(temp)); // still trying
    bool ended = waitFor([&] { return !batchFileIn(temp); }, 90000);
    CloseHandle(held);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(bed::exists(exe));
}

} // namespace
