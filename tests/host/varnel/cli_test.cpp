// The varnel program itself: exit codes, files written, messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support.h"

using namespace varnel;
namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = testing_support::freshDir(
            std::string("cli-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stub = (dir / "stub.exe").string();
        writeFileBytes(stub, testing_support::fakeStub(0));
    }
    void TearDown() override { fs::remove_all(dir); }

    ProgramRun run(const std::string& arguments) {
        std::string command = std::string("\"") + VARNEL_EXE + "\" " + arguments + " >\"" +
                              (dir / "out.txt").string() + "\" 2>\"" + (dir / "err.txt").string() +
                              "\"";
        int status = std::system(command.c_str());
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return {code, readText(dir / "out.txt"), readText(dir / "err.txt")};
    }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }

    fs::path dir;
    std::string stub;
};

} // namespace

TEST_F(Cli, PackThenDumpGivesTheManifestBack) {
    std::string demo = readText(VARNEL_DEMO_MANIFEST);
    std::string manifest = file("demo.json", demo);
    std::string out = (dir / "demo.exe").string();
    ProgramRun pack = run("pack \"" + manifest + "\" -o \"" + out + "\" --stub \"" + stub + "\"");
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    Bytes exe = readFileBytes(out);
    Bytes stubBytes = readFileBytes(stub);
    EXPECT_EQ(readLocator(exe, *findLocatorField(exe)), stubBytes.size());
    EXPECT_EQ(testing_support::payloadOf(exe), buildPayload(parseManifest(demo)));

    ProgramRun dump = run("dump \"" + out + "\"");
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, demo);
    ProgramRun toFile = run("dump \"" + out + "\" -o \"" + (dir / "again.json").string() + "\"");
    EXPECT_EQ(toFile.exitCode, 0);
    EXPECT_EQ(readText(dir / "again.json"), demo);
}

TEST_F(Cli, TheStubComesFromTheEnvironmentWhenNotGiven) {
    std::string manifest = file("m.json", R"({"texts": {"caption": "Env"}})");
    std::string out = (dir / "env.exe").string();
    ProgramRun pack = run("pack \"" + manifest + "\" -o \"" + out + "\"");
    EXPECT_EQ(pack.exitCode, 1); // no uninst.exe beside varnel, no VARNEL_STUB
    EXPECT_FALSE(fs::exists(out));
    setenv("VARNEL_STUB", stub.c_str(), 1);
    pack = run("pack \"" + manifest + "\" -o \"" + out + "\"");
    unsetenv("VARNEL_STUB");
    EXPECT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_TRUE(fs::exists(out));
}

TEST_F(Cli, ErrorsStopPackWarningsDoNot) {
    std::string bad = file("bad.json", R"({"texts": {"caption": "Dvořák"}})");
    ProgramRun pack = run("pack \"" + bad + "\" -o \"" + (dir / "bad.exe").string() +
                          "\" --stub \"" + stub + "\"");
    EXPECT_EQ(pack.exitCode, 1);
    EXPECT_NE(pack.err.find("error: texts.caption"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(dir / "bad.exe"));
    ProgramRun check = run("check \"" + bad + "\"");
    EXPECT_EQ(check.exitCode, 1);

    std::string warned =
        file("warned.json", R"({"registry": [{"root": "HKLM", "key": "Software"}]})");
    pack = run("pack \"" + warned + "\" -o \"" + (dir / "warned.exe").string() + "\" --stub \"" +
               stub + "\"");
    EXPECT_EQ(pack.exitCode, 0);
    EXPECT_NE(pack.err.find("warning: registry[0]"), std::string::npos) << pack.err;
    EXPECT_TRUE(fs::exists(dir / "warned.exe"));
    EXPECT_EQ(run("check \"" + warned + "\"").exitCode, 0);

    std::string broken = file("broken.json", R"({"files": [{"folder": 1}]})");
    check = run("check \"" + broken + "\"");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.err.find("files[0].folder: must be a string"), std::string::npos) << check.err;
}

TEST_F(Cli, ADamagedUninstallerIsReportedWithExitCode1) {
    Bytes exe =
        attachPayload(testing_support::fakeStub(0), record(RT_STRINGS, stringsBody({"no end"})));
    writeFileBytes((dir / "cut.exe").string(), exe);
    ProgramRun dump = run("dump \"" + (dir / "cut.exe").string() + "\"");
    EXPECT_EQ(dump.exitCode, 1);
    EXPECT_NE(dump.err.find("damaged payload: offset " + std::to_string(exe.size())),
              std::string::npos)
        << dump.err;
    EXPECT_TRUE(dump.out.empty());
    EXPECT_EQ(run("dump \"" + (dir / "missing.exe").string() + "\"").exitCode, 1);
}

TEST_F(Cli, ScanWritesAFileList) {
    fs::create_directories(dir / "stage" / "docs");
    std::ofstream(dir / "stage" / "docs" / "readme.txt") << "x";
    ProgramRun scan = run("scan \"" + (dir / "stage").string() + "\"");
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    Manifest m = parseManifest(scan.out);
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].folder, ".\\docs");
    EXPECT_EQ(m.files[1].name, "readme.txt");
}

TEST_F(Cli, WrongUsageExitsWith2) {
    EXPECT_EQ(run("").exitCode, 2);
    EXPECT_EQ(run("frobnicate x").exitCode, 2);
    EXPECT_EQ(run("pack only.json").exitCode, 2);
    EXPECT_EQ(run("dump a.exe --code-page").exitCode, 2);
    EXPECT_EQ(run("dump a.exe --code-page 932").exitCode, 2);
    EXPECT_EQ(run("check a.json --bogus").exitCode, 2);
    ProgramRun help = run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("varnel pack"), std::string::npos);
}
