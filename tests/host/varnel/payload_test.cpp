// Payloads of small manifests, byte for byte, as the format lays them out.
#include <gtest/gtest.h>

#include "support.h"

using namespace varnel;
using testing_support::bytesOf;

namespace {

Bytes pack(const std::string& json) {
    return buildPayload(parseManifest(json));
}

const Bytes kEnd = bytesOf({0x7F, 0x7F, 0, 0, 0, 0, 0, 0});

Bytes withEnd(Bytes b) {
    b.insert(b.end(), kEnd.begin(), kEnd.end());
    return b;
}

} // namespace

TEST(PayloadBytes, StringsRecordWithOneText) {
    EXPECT_EQ(pack(R"({"language": "none", "texts": {"caption": "Hi"}})"),
              withEnd(bytesOf({0x34, 0x12, 0, 0, 8, 0, 0, 0, // RT_STRINGS, length 8
                               1, 0,                         // one table
                               1, 0,                         // one text
                               2, 0, "Hi"})));
}

TEST(PayloadBytes, TextsAreStoredInTheCodePage) {
    EXPECT_EQ(pack(R"({"language": "none", "texts": {"confirm": "Café €"}})"),
              withEnd(bytesOf({0x34, 0x12, 0,     0,    14,  0,   0, 0, 1, 0, 2, 0, //
                               0,    0, // caption, empty
                               6,    0,    "Caf", 0xE9, ' ', 0x80})));
    EXPECT_EQ(pack(R"({"codePage": 1250, "language": "none", "texts": {"caption": "ř"}})"),
              withEnd(bytesOf({0x34, 0x12, 0, 0, 7, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0xF8})));
}

TEST(PayloadBytes, NoTextsNoRecordOnlyTheEnd) {
    EXPECT_EQ(pack(R"({"language": "none"})"), kEnd);
}

TEST(PayloadBytes, FilesRecord) {
    EXPECT_EQ(pack(R"({"language": "none", "files": [
                 {"folder": ".\\d"},
                 {"folder": ".\\d", "name": "a", "flags": ["shared", "checkInUse"]},
                 {"folder": "C:\\f", "name": "f.ttf", "flags": ["font", "selfreg"]}]})"),
              withEnd(bytesOf({0x35, 0x12, 0,       0, 35, 0,       0,    0, // RT_FILES, length 35
                               3,    0,    0,       0,                       // three entries
                               3,    0,    ".\\d",  0, 0,  0,                // the folder itself
                               3,    0,    ".\\d",  1, 0,  "a",     0x09,    // shared | checkInUse
                               4,    0,    "C:\\f", 5, 0,  "f.ttf", 0x06})));
}

TEST(PayloadBytes, GroupsRecordKeepsLevelsFolderSecondFolderFileNameOrder) {
    EXPECT_EQ(pack(R"({"language": "none", "groups": [
                 {"folder": "C:\\G", "fileName": "x.lnk", "levels": 2},
                 {"folder": "C:\\A", "secondFolder": "C:\\B", "levels": 255}]})"),
              withEnd(bytesOf({0x36, 0x12, 0, 0,       35, 0, 0,       0, 2,       0, 0, 0, //
                               2,    4,    0, "C:\\G", 0,  0, 5,       0, "x.lnk",          //
                               255,  4,    0, "C:\\A", 4,  0, "C:\\B", 0, 0})));
}

TEST(PayloadBytes, RegistryRecordWithKeysAndValues) {
    EXPECT_EQ(pack(R"({"language": "none", "registry": [
                 {"root": "HKCU", "key": "Software\\V", "value": "N"},
                 {"root": "HKLM", "key": "S"}]})"),
              withEnd(bytesOf({0x37, 0x12, 0, 0,    30, 0, 0,
                               0,    2,    0, 0,    0,                         //
                               1,    0,    0, 0x80, 13, 0, "Software\\V\\\\N", //
                               2,    0,    0, 0x80, 1,  0, "S"})));
}

TEST(PayloadBytes, PatternsRecordEndsWithAnEmptyString) {
    EXPECT_EQ(pack(R"({"language": "none", "patterns": ["a\\*.x", "b"]})"),
              withEnd(bytesOf({0x39, 0x12, 0, 0, 9, 0, 0, 0, "a\\*.x", 0, "b", 0, 0})));
}

TEST(PayloadBytes, OptionsRecordPointsAtItsTexts) {
    EXPECT_EQ(
        pack(R"({"language": "none", "options": {"wait": true, "themed": true,
                 "preUninstall": "p.exe", "closingDocument": "d.htm"}})"),
        withEnd(bytesOf({0x3A, 0x12, 0, 0, 24, 0, 0, 0, //
                         3,    0,    0, 0, 12, 0, 0, 0, 18, 0, 0, 0, "p.exe", 0, "d.htm", 0})));
    EXPECT_EQ(pack(R"({"language": "none", "options": {"themed": true,
                 "closingDocument": "d"}})"),
              withEnd(bytesOf({0x3A, 0x12, 0, 0, 14, 0, 0, 0, //
                               2,    0,    0, 0, 0,  0, 0, 0, 12, 0, 0, 0, "d", 0})));
}

TEST(PayloadBytes, RecordsComeInTheirFixedOrder) {
    Bytes payload = pack(R"({"language": "none", "texts": {"caption": "c"},
        "patterns": ["p\\*"], "registry": [{"root": "HKCU", "key": "k"}],
        "groups": [{"folder": "C:\\g"}], "files": [{"folder": "."}], "options": {}})");
    std::vector<uint16_t> tags;
    for (size_t pos = 0; pos + 8 <= payload.size();) {
        tags.push_back(uint16_t(payload[pos] | payload[pos + 1] << 8));
        pos += 8 + readLocator(payload, pos + 4);
    }
    EXPECT_EQ(tags,
              (std::vector<uint16_t>{0x1234, 0x123A, 0x1235, 0x1236, 0x1237, 0x1239, 0x7F7F}));
}

TEST(PayloadBytes, RecordFormWritesRecordsAsListed) {
    EXPECT_EQ(pack(R"({"records": [
                 {"type": "files", "files": []},
                 {"tag": "0x1238", "flags": 1, "reserved": 7, "body": "616263"},
                 {"type": "patterns", "patterns": []},
                 {"type": "strings", "language": "none"},
                 {"type": "end"}]})"),
              withEnd(bytesOf({0x35, 0x12, 0, 0, 4, 0, 0, 0, 0,     0, 0, 0, //
                               0x38, 0x12, 1, 7, 3, 0, 0, 0, "abc",          //
                               0x39, 0x12, 0, 0, 1, 0, 0, 0, 0,              //
                               0x34, 0x12, 0, 0, 4, 0, 0, 0, 1,     0, 0, 0})));
}

TEST(PayloadBytes, TheUninstallerGetsTheStubThenThePayload) {
    Bytes stub = testing_support::fakeStub(0);
    Manifest m = parseManifest(R"({"language": "none", "texts": {"caption": "Hi"}})");
    Bytes exe = buildUninstaller(stub, m);
    ASSERT_EQ(exe.size(), stub.size() + 24);
    size_t field = *findLocatorField(stub);
    EXPECT_EQ(readLocator(exe, field), stub.size()); // patched from 0 to the stub's size
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + long(field), exe.begin()));
    EXPECT_TRUE(
        std::equal(stub.begin() + long(field) + 4, stub.end(), exe.begin() + long(field) + 4));
    EXPECT_EQ(testing_support::payloadOf(exe), buildPayload(m));

    Bytes bad = stub;
    append(bad, bytesOf({"wwgT)H", 0, 0, 0, 0}));
    EXPECT_THROW(buildUninstaller(bad, m), std::runtime_error);
    EXPECT_THROW(buildUninstaller(stub, parseManifest(R"({"patterns": [""]})")), PackError);
}

TEST(PayloadBytes, AnInstallerBuildsTheManifestInCode) {
    Manifest m;
    m.texts.texts[0] = "Varnel Demo";
    m.files.push_back({".\\bin", "", 0});
    m.files.push_back({".\\bin", "VarnelDemo.exe", FE_CHECKINUSE});
    m.registry.push_back({ROOT_HKCU, "Software\\Varnel Demo", std::nullopt});
    EXPECT_TRUE(checkManifest(m).empty());
    Bytes exe = buildUninstaller(testing_support::fakeStub(0), m);
    Manifest back = manifestFromUninstaller(exe);
    EXPECT_EQ(manifestToJson(back), manifestToJson(m));
    EXPECT_EQ(resolveTexts(back.texts)[1], (*languageTexts("English"))[1]);
}
