// The varnel program itself: exit codes, files written and never damaged,
// messages, conventions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

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

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = testing_support::freshDir(
            std::string("cli-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stub = (dir / "stub.exe").string();
        writeFileBytes(stub, testing_support::fakeStub(0));
        demo = readText(VARNEL_DEMO_MANIFEST);
        manifest = file("demo.json", demo);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs a shell fragment in the test's folder with $V the program and no
    // VARNEL_STUB unless `prefix` sets one.
    ProgramRun shell(const std::string& fragment) {
        std::string command = "cd \"" + dir.string() + "\" && unset VARNEL_STUB && V=\"" +
                              VARNEL_EXE + "\" && { " + fragment + "; } >\"" +
                              (dir / ".out").string() + "\" 2>\"" + (dir / ".err").string() + "\"";
        int status = std::system(command.c_str());
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return {code, readText(dir / ".out"), readText(dir / ".err")};
    }
    ProgramRun run(const std::string& arguments) { return shell("\"$V\" " + arguments); }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    // The names in the test folder, to see that nothing was left behind.
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string()[0] != '.' || e.path().extension() == ".tmp")
                out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir;
    std::string stub;
    std::string demo;
    std::string manifest;
};

} // namespace

TEST_F(Cli, PackThenDumpGivesTheManifestBack) {
    ProgramRun pack = run("pack demo.json -o demo.exe --stub=stub.exe");
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    Bytes exe = readFileBytes((dir / "demo.exe").string());
    EXPECT_EQ(readLocator(exe, *findLocatorField(exe)), readFileBytes(stub).size());
    EXPECT_EQ(testing_support::payloadOf(exe), buildPayload(parseManifest(demo)));
    struct stat st;
    ASSERT_EQ(stat((dir / "demo.exe").c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask); // the mode of a linker's output

    ProgramRun dump = run("dump demo.exe");
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, demo);
    // Standard input and output, and --opt=value.
    EXPECT_EQ(run("dump - <demo.exe --output=again.json").exitCode, 0);
    EXPECT_EQ(readText(dir / "again.json"), demo);
    EXPECT_EQ(shell("cat demo.json | \"$V\" pack - -o piped.exe --stub stub.exe").exitCode, 0);
    EXPECT_EQ(readFileBytes((dir / "piped.exe").string()), exe);
    EXPECT_EQ(run("check - <demo.json").out,
              "<stdin>: ok: " + summarizeManifest(parseManifest(demo)) + "\n");
}

// --stub, then VARNEL_STUB, then ../share/varnel/uninst.exe beside the
// program; never the current folder.
TEST_F(Cli, TheStubIsFoundInItsOrderAndNeverInTheCurrentFolder) {
    fs::copy_file(stub, dir / "uninst.exe");
    ProgramRun none = run("pack demo.json -o a.exe");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(contains(none.err, "no stub found") && contains(none.err, "--stub") &&
                contains(none.err, "VARNEL_STUB"))
        << none.err;
    ProgramRun fromPath = shell("PATH=\"$(dirname \"$V\"):$PATH\" varnel pack demo.json -o a.exe");
    EXPECT_EQ(fromPath.exitCode, 1) << "found uninst.exe in the current folder";
    EXPECT_FALSE(fs::exists(dir / "a.exe"));

    EXPECT_EQ(shell("VARNEL_STUB=stub.exe \"$V\" pack demo.json -o a.exe").exitCode, 0);
    ProgramRun order =
        shell("VARNEL_STUB=missing.exe \"$V\" pack demo.json -o b.exe --stub stub.exe");
    EXPECT_EQ(order.exitCode, 0) << order.err;
    ProgramRun missing = shell("VARNEL_STUB=missing.exe \"$V\" pack demo.json -o b.exe");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "missing.exe: No such file or directory")) << missing.err;

    fs::create_directories(dir / "root/bin");
    fs::create_directories(dir / "root/share/varnel");
    fs::copy_file(VARNEL_EXE, dir / "root/bin/varnel");
    fs::copy_file(stub, dir / "root/share/varnel/uninst.exe");
    ProgramRun installed = shell("root/bin/varnel pack demo.json -o c.exe");
    EXPECT_EQ(installed.exitCode, 0) << installed.err;
    ProgramRun version = shell("root/bin/varnel --version");
    EXPECT_TRUE(contains(version.out, "root/share/varnel/uninst.exe (" +
                                          std::to_string(readFileBytes(stub).size()) + " bytes)"))
        << version.out;
    EXPECT_TRUE(contains(version.out, "payload format")) << version.out;
}

// What pack refuses, leaving every file as it was.
TEST_F(Cli, PackRefusesToDestroyItsInputsOrToPackNothing) {
    Bytes packed = attachPayload(testing_support::fakeStub(0), endRecord());
    writeFileBytes((dir / "packed.exe").string(), packed);
    file("notpe.exe", "MZ but nothing more");
    Bytes noMarker = testing_support::fakeStub(0);
    noMarker[noMarker.size() - 30] = 'x';
    writeFileBytes((dir / "nomarker.exe").string(), noMarker);
    file("empty.json", R"({"records": []})");
    fs::create_hard_link(stub, dir / "stublink.exe");
    struct Row {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    for (const Row& r : std::vector<Row>{
             {"demo.json -o ./stub.exe --stub stub.exe", 1, "is the stub"},
             {"demo.json -o stublink.exe --stub stub.exe", 1, "is the stub"},
             {"demo.json -o ../" + dir.filename().string() + "/demo.json --stub stub.exe", 1,
              "is the manifest"},
             {"demo.json -o out.exe --stub packed.exe", 1,
              "packed.exe: already packed; use the bare stub"},
             {"demo.json -o out.exe --stub notpe.exe", 1, "notpe.exe: not a PE file"},
             {"demo.json -o out.exe --stub nomarker.exe", 1, "nomarker.exe: has no payload marker"},
             {"empty.json -o out.exe --stub stub.exe", 1, "records: holds no record"},
             {"demo.json -o - --stub stub.exe", 2, "not -"},
         }) {
        ProgramRun pack = run("pack " + r.arguments);
        EXPECT_EQ(pack.exitCode, r.exitCode) << r.arguments << "\n" << pack.err;
        EXPECT_TRUE(contains(pack.err, r.message)) << r.arguments << "\n" << pack.err;
        EXPECT_TRUE(pack.out.empty());
    }
    EXPECT_EQ(readFileBytes(stub), testing_support::fakeStub(0));
    EXPECT_EQ(readText(dir / "demo.json"), demo);
    EXPECT_FALSE(fs::exists(dir / "out.exe"));
    EXPECT_FALSE(fs::exists(dir / "-"));
    ProgramRun dumpOver = run("dump packed.exe -o packed.exe");
    EXPECT_EQ(dumpOver.exitCode, 1);
    EXPECT_EQ(readFileBytes((dir / "packed.exe").string()), packed);
}

// A write that fails (here a file size limit) leaves the earlier file whole
// and no temporary file behind; the reason is the system's.
TEST_F(Cli, AFailedWriteLeavesTheOldFileAsItWas) {
    ASSERT_EQ(run("pack demo.json -o good.exe --stub stub.exe").exitCode, 0);
    Bytes good = readFileBytes((dir / "good.exe").string());
    fs::create_directories(dir / "stage/sub");
    for (int i = 0; i < 40; ++i)
        std::ofstream(dir / "stage/sub" / ("file-with-a-long-name-" + std::to_string(i))) << "x";
    file("list.json", "keep");
    std::vector<std::string> before = names();
    for (const std::string& command :
         {std::string("pack demo.json -o good.exe --stub stub.exe"),
          std::string("dump good.exe -o list.json"), std::string("scan stage -o list.json")}) {
        ProgramRun limited = shell("trap '' XFSZ; ulimit -f 1; \"$V\" " + command);
        EXPECT_EQ(limited.exitCode, 1) << command;
        EXPECT_TRUE(contains(limited.err, "File too large")) << command << "\n" << limited.err;
        EXPECT_EQ(names(), before) << command;
    }
    EXPECT_EQ(readFileBytes((dir / "good.exe").string()), good);
    EXPECT_EQ(readText(dir / "list.json"), "keep");
}

TEST_F(Cli, MessagesNameTheFileAndErrorsStopPack) {
    std::string bad =
        R"({"texts": {"caption": "Dvořák"}, "files": [{"folder": "./bin", "name": "a"}]})";
    file("bad.json", bad);
    ProgramRun pack = run("pack bad.json -o bad.exe --stub stub.exe");
    EXPECT_EQ(pack.exitCode, 1);
    EXPECT_TRUE(contains(pack.err, "bad.json: error: texts.caption: ")) << pack.err;
    EXPECT_TRUE(contains(pack.err, "bad.json: error: files[0].folder: `./bin` is read as the "
                                   "installation folder itself; write `.\\bin`"))
        << pack.err;
    EXPECT_FALSE(fs::exists(dir / "bad.exe"));
    EXPECT_EQ(run("check bad.json").exitCode, 1);

    file("warned.json", R"({"options": {"wait": true}})");
    pack = run("pack warned.json -o warned.exe --stub stub.exe");
    EXPECT_EQ(pack.exitCode, 0);
    EXPECT_TRUE(contains(pack.err, "warned.json: warning: options.wait")) << pack.err;
    EXPECT_TRUE(fs::exists(dir / "warned.exe"));
    ProgramRun check = run("check warned.json");
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.out, "warned.json: ok: 0 files, 0 folders, 0 group entries, 0 registry "
                         "entries, 0 patterns (1 warning)\n");

    file("broken.json", R"({"files": [{"folder": 1}, {"folder": ".", "flags": ["x"]}]})");
    check = run("check broken.json");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(check.err, "broken.json: error: files[0].folder: must be a string\n"
                         "broken.json: error: files[1].flags[0]: unknown flag \"x\" (shared, "
                         "font, selfreg, checkInUse, or a number)\n");
    file("syntax.json", "{\n  \"files\": [\n    {\"folder\": \".\"},,\n  ]\n}\n");
    check = run("check syntax.json");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(contains(check.err, "syntax.json:3:21: error: syntax error")) << check.err;
    EXPECT_FALSE(contains(check.err, "json.exception")) << check.err;
    check = run("check missing.json");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(contains(check.err, "cannot read missing.json: No such file or directory"))
        << check.err;
}

TEST_F(Cli, DumpEscapesControlsCapsItsInputAndReportsDamage) {
    Bytes exe =
        attachPayload(testing_support::fakeStub(0),
                      concat({record(RT_STRINGS, stringsBody({"a\x01\x7F\x81z"})), endRecord()}));
    writeFileBytes((dir / "odd.exe").string(), exe);
    ProgramRun dump = run("dump odd.exe");
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_TRUE(contains(dump.out, R"("caption": "a\u0001\u007f\u0081z")")) << dump.out;
    for (char c : dump.out)
        EXPECT_TRUE(uint8_t(c) >= 0x20 || c == '\n') << int(c);
    EXPECT_EQ(buildPayload(parseManifest(dump.out)), testing_support::payloadOf(exe));

    ProgramRun endless = run("dump /dev/zero");
    EXPECT_EQ(endless.exitCode, 1);
    EXPECT_TRUE(contains(endless.err, "more than 67108864 bytes")) << endless.err;

    Bytes cut =
        attachPayload(testing_support::fakeStub(0), record(RT_STRINGS, stringsBody({"no end"})));
    writeFileBytes((dir / "cut.exe").string(), cut);
    ProgramRun damaged = run("dump cut.exe");
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_TRUE(contains(damaged.err, "damaged payload: offset " + std::to_string(cut.size())))
        << damaged.err;
    EXPECT_TRUE(damaged.out.empty());
    EXPECT_TRUE(contains(run("dump .").err, "Is a directory"));
}

TEST_F(Cli, InitScanAndTextsGiveAVendorSomethingToEdit) {
    fs::create_directories(dir / "Demo App/bin");
    std::ofstream(dir / "Demo App/bin/app.exe") << "x";
    std::ofstream(dir / "Demo App/readme.txt") << "x";
    ProgramRun init = run("init \"Demo App\" -o app.json");
    ASSERT_EQ(init.exitCode, 0) << init.err;
    Manifest m = parseManifest(readText(dir / "app.json"));
    EXPECT_EQ(m.texts.texts[0], "Demo App");
    EXPECT_EQ(m.texts.language, "English");
    ASSERT_EQ(m.files.size(), 3u);
    EXPECT_EQ(m.files[2].name, "app.exe");
    ProgramRun check = run("check app.json");
    EXPECT_EQ(check.out, "app.json: ok: 2 files, 1 folder, 0 group entries, 0 registry entries, "
                         "0 patterns\n")
        << check.err;
    ProgramRun again = run("init \"Demo App\" -o app.json --language Japanese");
    EXPECT_EQ(again.exitCode, 1) << "init overwrote a manifest";
    init = run("init \"Demo App\" --language=japanese --product 製品");
    m = parseManifest(init.out);
    EXPECT_EQ(m.codePage, 932u);
    EXPECT_EQ(m.texts.texts[0], "製品");

    ProgramRun scan = run("scan \"Demo App\"");
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_EQ(parseManifest(scan.out).files.size(), 3u);

    ProgramRun texts = run("texts Japanese");
    EXPECT_EQ(texts.exitCode, 0);
    Manifest japanese = parseManifest(texts.out);
    EXPECT_EQ(japanese.codePage, 932u);
    EXPECT_EQ(japanese.texts.texts.size(), 16u);
    EXPECT_EQ(japanese.texts.texts[3], (*languageTexts("Japanese"))[3]);
    EXPECT_TRUE(checkManifest(japanese).empty());
    ProgramRun list = run("texts");
    for (const std::string& language : languageNames())
        EXPECT_TRUE(contains(list.out, language + " (code page ")) << list.out;
}

TEST_F(Cli, WrongUsageIsOneLineWithAPointerToHelp) {
    struct Row {
        std::string arguments;
        std::string message;
    };
    for (const Row& r : std::vector<Row>{
             {"", "no command (see: varnel --help)"},
             {"frobnicate x", "unknown command frobnicate"},
             {"pack only.json", "pack needs -o OUT.exe (see: varnel pack --help)"},
             {"dump a.exe --code-page", "--code-page needs a value"},
             {"dump a.exe --code-page 54936", "code page 54936 is not supported"},
             {"check a.json --bogus", "unknown option --bogus"},
             {"check a.json --stub x", "check does not take --stub (see: varnel check --help)"},
             {"scan d --stub=x", "scan does not take --stub"},
             {"dump a.exe -o x -o y", "-o is given twice"},
             {"texts Klingon", "unknown language Klingon"},
             {"check a.json b.json", "check needs one manifest"},
         }) {
        ProgramRun bad = run(r.arguments);
        EXPECT_EQ(bad.exitCode, 2) << r.arguments;
        EXPECT_TRUE(contains(bad.err, r.message)) << r.arguments << "\n" << bad.err;
        EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
        EXPECT_TRUE(contains(bad.err, "--help)")) << bad.err;
    }
    ProgramRun help = run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(contains(help.out, "varnel pack")) << help.out;
    for (const char* command : {"pack", "dump", "check", "scan", "init", "texts"}) {
        help = run(std::string(command) + " --help");
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_TRUE(contains(help.out, std::string("usage: varnel ") + command)) << help.out;
    }
}
