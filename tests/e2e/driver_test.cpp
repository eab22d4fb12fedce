// The real uninstaller, end to end: options, payload errors, confirmation,
// completion, platform detection.
#include <gtest/gtest.h>

#include "harness.h"

using namespace varnel;
using bed::Dialog;

namespace {

const DWORD EXIT_FAILED = DWORD(-1);

std::vector<std::string> englishTexts() {
    std::vector<std::string> t(16);
    t[0] = "Demo Uninstall";
    t[1] = "Remove Demo and all of its components?";
    t[2] = "Demo was removed.";
    t[3] = "Yes";
    t[4] = "Yes to all";
    t[5] = "Out of memory reading %s.";
    t[6] = "No to all";
    t[7] = "No memory: %s";
    t[8] = "The uninstall data in %s is damaged.";
    return t;
}

Bytes payloadWith(std::vector<std::string> texts) {
    PayloadSpec spec;
    spec.texts = std::move(texts);
    return encodePayload(spec);
}

bool hasInformationIcon(const Dialog& box) {
    return box.icon == "information";
}

// The message boxes among the windows seen (the progress dialog may be seen too).
std::vector<Dialog> boxes(const bed::RunResult& r) {
    std::vector<Dialog> out;
    for (const Dialog& d : r.windows)
        if (bed::isMessageBox(d))
            out.push_back(d);
    return out;
}

TEST(Driver, QuietOptionsShowNoWindowAndExitZero) {
    std::string dir = bed::caseDir("quiet");
    std::string exe = bed::placeUninstaller(dir, payloadWith(englishTexts()));
    for (const char* options : {"/S", "-x", "-X -S", "-q", " /Qxyz/s", "/q foo"}) {
        SCOPED_TRACE(options);
        auto r = bed::run(exe, options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_TRUE(r.windows.empty());
    }
}

TEST(Driver, WithoutQuietOptionsTheConfirmationAppears) {
    std::string dir = bed::caseDir("confirm-options");
    std::string exe = bed::placeUninstaller(dir, payloadWith(englishTexts()));
    for (const char* options : {"", "hello /s", "/", "-", "/a"}) {
        SCOPED_TRACE(options);
        auto r = bed::run(exe, options, bed::pressEach({"Cancel"}));
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        ASSERT_EQ(r.windows.size(), 1u);
        EXPECT_EQ(r.windows[0].message, "Remove Demo and all of its components?");
    }
}

TEST(Driver, ConfirmationAndCompletion) {
    std::string dir = bed::caseDir("confirm");
    std::string exe = bed::placeUninstaller(dir, payloadWith(englishTexts()));

    auto ok = bed::run(exe, "", bed::pressEach({"OK", "OK"}));
    ASSERT_TRUE(ok.finished);
    EXPECT_EQ(ok.exitCode, 0u);
    auto okBoxes = boxes(ok);
    ASSERT_EQ(okBoxes.size(), 2u);
    const Dialog& confirm = okBoxes[0];
    EXPECT_EQ(confirm.className, "#32770");
    EXPECT_EQ(confirm.caption, "Demo Uninstall");
    EXPECT_EQ(confirm.message, "Remove Demo and all of its components?");
    EXPECT_EQ(confirm.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_TRUE(hasInformationIcon(confirm));
    const Dialog& done = okBoxes[1];
    EXPECT_EQ(done.caption, "Demo Uninstall");
    EXPECT_EQ(done.message, "Demo was removed.");
    EXPECT_EQ(done.buttons, (std::vector<std::string>{"OK"}));
    EXPECT_TRUE(hasInformationIcon(done));

    auto cancel = bed::run(exe, "", bed::pressEach({"Cancel"}));
    ASSERT_TRUE(cancel.finished);
    EXPECT_EQ(cancel.exitCode, 0u);
    EXPECT_EQ(cancel.windows.size(), 1u);

    auto escape = bed::run(exe, "", [](const Dialog& d) {
        if (bed::isMessageBox(d))
            bed::sendKey(d, VK_ESCAPE);
    });
    ASSERT_TRUE(escape.finished);
    EXPECT_EQ(escape.exitCode, 0u);
    EXPECT_EQ(escape.windows.size(), 1u);

    auto enter = bed::run(exe, "", [](const Dialog& d) {
        if (bed::isMessageBox(d))
            bed::sendKey(d, VK_RETURN);
    });
    ASSERT_TRUE(enter.finished);
    EXPECT_EQ(boxes(enter).size(), 2u); // Enter is OK, then the completion box
}

TEST(Driver, EmptyCompletionTextShowsNothingAfterOk) {
    auto texts = englishTexts();
    texts[2] = "";
    std::string exe = bed::placeUninstaller(bed::caseDir("no-done"), payloadWith(texts));
    auto r = bed::run(exe, "", bed::pressEach({"OK"}));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(boxes(r).size(), 1u);
}

TEST(Driver, PayloadOfOnlyAnEndRecordRunsThrough) {
    std::string exe = bed::placeUninstaller(bed::caseDir("end-only"), endRecord());
    auto r = bed::run(exe, "", bed::pressEach({"OK"}));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    auto shown = boxes(r);
    ASSERT_EQ(shown.size(), 1u); // the confirmation, empty; no completion
    EXPECT_EQ(shown[0].caption, "");
    EXPECT_EQ(shown[0].message, "");
    EXPECT_EQ(shown[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
    auto quiet = bed::run(exe, "/S");
    EXPECT_EQ(quiet.exitCode, 0u);
}

TEST(Driver, PayloadOffsetZeroExitsWithoutAnyWindow) {
    std::string dir = bed::caseDir("offset-zero");
    Bytes stub = readFileBytes(bed::fixture("uninst.exe"));
    Bytes exe = attachPayload(stub, payloadWith(englishTexts()));
    size_t field = *findLocatorField(exe);
    std::fill(exe.begin() + field, exe.begin() + field + 4, 0);
    writeFileBytes(dir + "\\uninst.exe", exe);
    for (const char* options : {"", "/S"}) {
        auto r = bed::run(dir + "\\uninst.exe", options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, EXIT_FAILED);
        EXPECT_TRUE(r.windows.empty());
    }
}

TEST(Driver, LocatorPastTheEndIsAHeaderError) {
    std::string dir = bed::caseDir("offset-past");
    // An empty payload: the locator points at the file's end, where nothing follows.
    auto r = bed::run(bed::placeUninstaller(dir, {}), "/S", bed::pressEach({"OK"}));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, EXIT_FAILED);
    ASSERT_EQ(r.windows.size(), 1u); // error 8 before any texts: empty box
    EXPECT_EQ(r.windows[0].caption, "");
    EXPECT_EQ(r.windows[0].message, "");
}

TEST(Driver, DamagedPayloadShowsItsOwnErrorText) {
    std::string dir = bed::caseDir("damaged");
    std::string exe = dir + "\\uninst.exe";
    Bytes strings = record(RT_STRINGS, stringsBody(englishTexts()));

    struct Case {
        const char* what;
        Bytes payload;
        std::string message;
    } cases[] = {
        {"no end record", strings, "The uninstall data in " + exe + " is damaged."},
        {"options unreadable",
         concat({strings, record(RT_OPTIONS, optionsBody({}), RF_UNREADABLE), endRecord()}),
         "Remove Demo and all of its components?"},
        {"patterns unreadable",
         concat(
             {strings, record(RT_PATTERNS, patternsBody({"x\\*.*"}), RF_UNREADABLE), endRecord()}),
         "Remove Demo and all of its components?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bed::placeUninstaller(dir, c.payload);
        for (const char* options : {"", "/S"}) {
            auto r = bed::run(exe, options, bed::pressEach({"OK"}));
            ASSERT_TRUE(r.finished);
            EXPECT_EQ(r.exitCode, EXIT_FAILED);
            ASSERT_EQ(r.windows.size(), 1u);
            EXPECT_EQ(r.windows[0].caption, "Demo Uninstall");
            EXPECT_EQ(r.windows[0].message, c.message);
            EXPECT_EQ(r.windows[0].buttons, (std::vector<std::string>{"OK"}));
            EXPECT_TRUE(hasInformationIcon(r.windows[0]));
        }
    }
}

TEST(Driver, ErrorBeforeAnyStringsIsAnEmptyBox) {
    std::string dir = bed::caseDir("early-error");
    std::string exe = bed::placeUninstaller(
        dir, concat({record(RT_OPTIONS, optionsBody({}), RF_UNREADABLE),
                     record(RT_STRINGS, stringsBody(englishTexts())), endRecord()}));
    auto r = bed::run(exe, "", bed::pressEach({"OK"}));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, EXIT_FAILED);
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(r.windows[0].caption, "");
    EXPECT_EQ(r.windows[0].message, "");
}

TEST(Driver, UnreadableFlagOnFilesChangesNothing) {
    std::string dir = bed::caseDir("files-flag");
    std::string exe = bed::placeUninstaller(
        dir, concat({record(RT_STRINGS, stringsBody(englishTexts())),
                     record(RT_FILES, filesBody({{".\\none", "x.txt", 0}}), RF_UNREADABLE),
                     endRecord()}));
    auto r = bed::run(exe, "", bed::pressEach({"Cancel"}));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(r.windows[0].message, "Remove Demo and all of its components?");
}

TEST(Driver, LaterStringTableReplacesTheEarlierOne) {
    std::string dir = bed::caseDir("two-tables");
    std::string exe = bed::placeUninstaller(
        dir, concat({record(RT_STRINGS, stringsBody(englishTexts())),
                     record(RT_STRINGS, stringsBody({"Zweite", "Entfernen?"})),
                     record(RT_STRINGS, stringsBody({})), endRecord()}));
    auto r = bed::run(exe, "", bed::pressEach({"OK"}));
    ASSERT_TRUE(r.finished);
    auto shown = boxes(r);
    ASSERT_EQ(shown.size(), 1u); // the new table has no completion text
    EXPECT_EQ(shown[0].caption, "Zweite");
    EXPECT_EQ(shown[0].message, "Entfernen?");
}

TEST(Driver, PlatformDetectionPerWindowsVersion) {
    std::string dir = bed::caseDir("platform");
    struct Case {
        const char* version;
        const char* isNT;
        const char* isVista;
    } cases[] = {{"win98", "0", "0"}, {"winxp", "1", "0"}, {"win7", "1", "1"}, {"win10", "1", "1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        std::string name = std::string("probe_") + c.version + ".exe";
        std::string exe = dir + "\\" + name;
        ASSERT_TRUE(CopyFileA(bed::fixture("probe.exe").c_str(), exe.c_str(), FALSE));
        bed::setWindowsVersion(name, c.version);
        auto values = bed::runProbe(exe, "platform");
        EXPECT_EQ(values["isNT"], c.isNT);
        EXPECT_EQ(values["isVistaOrLater"], c.isVista);
        EXPECT_EQ(values["installDir"], dir + "\\");
    }
}

TEST(Driver, InstallDirOfAProgramInADriveRoot) {
    std::string exe = "C:\\probe_root.exe";
    ASSERT_TRUE(CopyFileA(bed::fixture("probe.exe").c_str(), exe.c_str(), FALSE));
    auto values = bed::runProbe(exe, "platform");
    DeleteFileA(exe.c_str());
    EXPECT_EQ(values["installDir"], "C:\\");
}

} // namespace
