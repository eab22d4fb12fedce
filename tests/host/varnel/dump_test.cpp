// Reading payloads back: round trips for every record type, the record form
// for payloads the usual form cannot reproduce, and damage reports.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "support.h"

using namespace varnel;
using testing_support::bytesOf;
using testing_support::fakeStub;

namespace {

Bytes uninstallerWith(const Bytes& payload) {
    return attachPayload(fakeStub(), payload);
}

// Dumps, checks that the dump packs to the very same payload, and returns it.
Manifest dumpAndRepack(const Bytes& payload, unsigned codePage = 1252) {
    Manifest m = manifestFromUninstaller(uninstallerWith(payload), codePage);
    EXPECT_EQ(buildPayload(m), payload) << formatManifest(m);
    EXPECT_EQ(buildPayload(parseManifest(formatManifest(m))), payload) << formatManifest(m);
    return m;
}

PayloadDamage damageOf(const Bytes& executable) {
    try {
        manifestFromUninstaller(executable);
    } catch (const PayloadDamage& d) {
        return d;
    }
    ADD_FAILURE() << "no damage reported";
    return PayloadDamage(0, std::nullopt, std::nullopt, "");
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(DumpRoundTrip, EveryRecordTypeComesBackAsTheSameManifest) {
    const char* manifests[] = {
        R"({"language": "none"})",
        R"({"texts": {"caption": "Varnel Demo"}})",
        R"({"language": "German", "texts": {"16": "extra", "done": ""}})",
        R"({"language": "none", "texts": {"3": "Oui"}})",
        R"({"options": {"wait": true, "themed": false, "extraFlags": 256,
            "preUninstall": "\"tidy.exe\" /u", "closingDocument": "readme.htm"}})",
        R"({"options": {"wait": false, "themed": true}})",
        R"({"files": [{"folder": ".\\bin"}, {"folder": ".\\bin", "name": "Ünïcode.dll",
            "flags": ["shared", "font", "selfreg", "checkInUse", 16]}]})",
        R"({"groups": [{"folder": "C:\\G", "secondFolder": "C:\\H", "fileName": "a.lnk",
            "levels": 255}, {"folder": "", "levels": 0}]})",
        R"({"registry": [{"root": "HKCR", "key": ".vdm"}, {"root": "HKU", "key": "a",
            "value": ""}, {"root": "0x80000006", "key": "x", "value": "y"},
            {"root": "0x00000042", "key": "k"}]})",
        R"({"patterns": ["a\\*.log", "#TempDir#\\vd*.tmp"]})",
        R"({"codePage": 1251, "language": "none", "texts": {"caption": "Удалить"},
            "files": [{"folder": ".\\Документы"}]})",
    };
    for (const char* text : manifests) {
        Manifest original = parseManifest(text);
        Bytes payload = buildPayload(original);
        Manifest back = dumpAndRepack(payload, original.codePage);
        EXPECT_FALSE(back.records) << text;
        EXPECT_EQ(manifestToJson(back), manifestToJson(original)) << text;
    }
}

TEST(DumpRoundTrip, TheDemoManifestIsPrintedBackExactly) {
    std::string text = readText(VARNEL_DEMO_MANIFEST);
    Manifest demo = parseManifest(text);
    Bytes exe = buildUninstaller(fakeStub(), demo);
    EXPECT_EQ(formatManifest(manifestFromUninstaller(exe)), text);
}

TEST(DumpRoundTrip, OddPayloadsComeBackInTheRecordFormByteForByte) {
    Bytes strings = record(RT_STRINGS, stringsBody({"Caption", "Confirm?"}));
    Bytes files = record(RT_FILES, filesBody({{".\\a", "x", 0}}));
    struct Case {
        const char* what;
        Bytes payload;
    } cases[] = {
        {"repeated files", varnel::concat({files, files, endRecord()})},
        {"another order", varnel::concat({files, strings, endRecord()})},
        {"unassigned tag with a body",
         varnel::concat({record(0x1238, bytesOf({1, 2})), endRecord()})},
        {"unknown tag", varnel::concat({record(0x4242, bytesOf({"zz"})), strings, endRecord()})},
        {"flag bit 0 on files",
         varnel::concat({record(RT_FILES, filesBody({}), RF_UNREADABLE), endRecord()})},
        {"reserved byte set", varnel::concat({recordHeader(RT_END, 0, 0, 9)})},
        {"zero-length options", varnel::concat({recordHeader(RT_OPTIONS, 0), endRecord()})},
        {"two string tables",
         varnel::concat({record(RT_STRINGS, stringsBody({"a"}, {{"b"}})), endRecord()})},
        {"no string table", varnel::concat({record(RT_STRINGS, bytesOf({0, 0})), endRecord()})},
        {"empty string table", varnel::concat({record(RT_STRINGS, stringsBody({})), endRecord()})},
        {"trailing bytes in files", varnel::concat({record(RT_FILES,
                                                           [] {
                                                               Bytes b = filesBody({{".", "", 0}});
                                                               b.push_back(0xEE);
                                                               return b;
                                                           }()),
                                                    endRecord()})},
        {"empty registry", varnel::concat({record(RT_REGISTRY, registryBody({})), endRecord()})},
        {"empty pattern list", varnel::concat({record(RT_PATTERNS, bytesOf({0})), endRecord()})},
        {"bytes after the pattern list",
         varnel::concat({record(RT_PATTERNS, bytesOf({"a", 0, 0, 0})), endRecord()})},
        {"options offset into the fixed part",
         varnel::concat(
             {record(RT_OPTIONS, bytesOf({0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0})), endRecord()})},
        {"options text without offset",
         varnel::concat({record(RT_OPTIONS, bytesOf({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "x", 0})),
                         endRecord()})},
        {"options offset beyond the block",
         varnel::concat(
             {record(RT_OPTIONS, bytesOf({0, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0, 0})), endRecord()})},
        {"end with a body", varnel::concat({strings, record(RT_END, bytesOf({"sig"}))})},
    };
    for (const Case& c : cases) {
        Manifest m = dumpAndRepack(c.payload);
        EXPECT_TRUE(m.records) << c.what;
    }
}

TEST(DumpRoundTrip, BytesThatTheCodePageLeavesUndefinedStayAsBytes) {
    // 0x81 has no character in code page 1250.
    Bytes payload = varnel::concat({record(RT_STRINGS, stringsBody({"a\x81"})),
                                    record(RT_FILES, filesBody({{".", "b", 0}})), endRecord()});
    Manifest m = dumpAndRepack(payload, 1250);
    ASSERT_TRUE(m.records);
    EXPECT_EQ((*m.records)[0].kind, RecordKind::Raw);
    EXPECT_EQ((*m.records)[1].kind, RecordKind::Files);
}

TEST(DumpDamage, TheLocatorMustFindAPayload) {
    Bytes noMarker = bytesOf({"MZ just some bytes"});
    EXPECT_NE(damageOf(noMarker).problem.find("marker"), std::string::npos);

    Bytes twoMarkers = fakeStub(0);
    append(twoMarkers, bytesOf({"wwgT)H", 0, 0, 0, 0}));
    EXPECT_NE(damageOf(twoMarkers).problem.find("2 times"), std::string::npos);
    Bytes markerInStub = fakeStub(uint32_t(fakeStub(0).size() + 6)); // before the payload
    append(markerInStub, bytesOf({"wwgT)H"}));
    append(markerInStub, endRecord());
    EXPECT_NE(damageOf(markerInStub).problem.find("2 times"), std::string::npos);

    // The payload's texts may hold the marker: it is not a second locator.
    Manifest m;
    m.texts.texts[0] = "wwgT)H";
    m.files.push_back({".", "wwgT)H", 0});
    EXPECT_EQ(manifestFromUninstaller(buildUninstaller(fakeStub(0), m)).files.size(), 1u);

    PayloadDamage zero = damageOf(fakeStub(0));
    EXPECT_EQ(zero.offset, *findLocatorField(fakeStub(0)));
    EXPECT_NE(zero.problem.find("holds 0"), std::string::npos);

    Bytes beyond = fakeStub(5000);
    EXPECT_NE(damageOf(beyond).problem.find("beyond the end"), std::string::npos);
}

TEST(DumpDamage, TheChainMustReachRtEnd) {
    Bytes strings = record(RT_STRINGS, stringsBody({"Caption"}));
    Bytes exe = uninstallerWith(strings);
    PayloadDamage noEnd = damageOf(exe);
    EXPECT_EQ(noEnd.offset, exe.size());
    EXPECT_NE(noEnd.problem.find("RT_END"), std::string::npos);

    Bytes cutHeader = uninstallerWith(varnel::concat({strings, bytesOf({0x7F, 0x7F, 0})}));
    PayloadDamage cut = damageOf(cutHeader);
    EXPECT_EQ(cut.offset, cutHeader.size() - 3);
    EXPECT_NE(cut.problem.find("3 of 8 bytes"), std::string::npos);

    Bytes files = record(RT_FILES, filesBody({{".", "a", 0}}));
    files.resize(files.size() - 2);
    Bytes cutBody = uninstallerWith(files);
    PayloadDamage body = damageOf(cutBody);
    size_t start = fakeStub().size();
    EXPECT_EQ(body.recordOffset, start);
    EXPECT_EQ(body.tag, uint16_t(RT_FILES));
    EXPECT_EQ(body.offset, start + 4);
    EXPECT_NE(body.problem.find("past the end of the file by 2 bytes"), std::string::npos);
    EXPECT_NE(std::string(body.what()).find("RT_FILES record at offset " + std::to_string(start)),
              std::string::npos);
}

TEST(DumpDamage, BodiesMustHoldWhatTheySay) {
    size_t start = fakeStub().size();
    size_t body = start + 8;
    struct Case {
        const char* what;
        Bytes record;
        size_t offset; // within the body
        const char* problem;
    } cases[] = {
        {"files count beyond the entries",
         [] {
             Bytes b = filesBody({{".", "a", 0}});
             b[0] = 2;
             return record(RT_FILES, b);
         }(),
         4 + 7, "entry 1: folder's length"},
        {"file strings over 518",
         record(RT_FILES, filesBody({{std::string(300, 'f'), std::string(219, 'n'), 0}})),
         4 + 2 + 300 + 2 + 219 + 1, "entry 0: folder and name hold 519 bytes"},
        {"group strings over 777",
         record(RT_GROUPS, groupsBody({{1, std::string(700, 'g'), std::string(78, 's'), ""}})),
         4 + 1 + 702 + 80 + 2, "entry 0: the three strings hold 778 bytes"},
        {"registry path over 519",
         record(RT_REGISTRY, registryBody({{ROOT_HKCU, std::string(520, 'k')}})), 4 + 4 + 2 + 520,
         "entry 0: the path holds 520 bytes"},
        {"registry root cut short", record(RT_REGISTRY, bytesOf({1, 0, 0, 0, 1, 0})), 4,
         "entry 0: root needs 4 bytes"},
        {"string beyond the record", record(RT_STRINGS, bytesOf({1, 0, 1, 0, 9, 0, "abc"})), 6,
         "text 0 (9 bytes)"},
        {"unreadable options", record(RT_OPTIONS, optionsBody({}), RF_UNREADABLE), size_t(-6),
         "flags bit 0"},
        {"unreadable patterns", record(RT_PATTERNS, patternsBody({"a"}), RF_UNREADABLE), size_t(-6),
         "error 1"},
        {"options too short", record(RT_OPTIONS, bytesOf({1, 0, 0, 0, 0, 0})), 4,
         "pre-uninstall offset needs 4 bytes"},
        {"pattern list without its end", record(RT_PATTERNS, bytesOf({"a", 0})), 2,
         "not closed by an empty string"},
        {"pattern list not ending in NUL", record(RT_PATTERNS, bytesOf({"a", 0, 0, "b"})), 3,
         "does not end with a NUL"},
    };
    for (const Case& c : cases) {
        Bytes exe = uninstallerWith(varnel::concat({c.record, endRecord()}));
        PayloadDamage d = damageOf(exe);
        EXPECT_EQ(d.recordOffset, start) << c.what;
        EXPECT_EQ(d.tag, uint16_t(c.record[0] | c.record[1] << 8)) << c.what;
        EXPECT_EQ(d.offset, body + c.offset) << c.what << ": " << d.what();
        EXPECT_NE(d.problem.find(c.problem), std::string::npos) << c.what << ": " << d.what();
    }
}

TEST(DumpDamage, CutOrScrambledUninstallersAreReportedOrReadNeverMisread) {
    Manifest demo = parseManifest(readText(VARNEL_DEMO_MANIFEST));
    Bytes exe = buildUninstaller(fakeStub(), demo);
    size_t start = fakeStub().size();
    for (size_t size = start; size < exe.size(); ++size) {
        Bytes cut(exe.begin(), exe.begin() + long(size));
        EXPECT_THROW(manifestFromUninstaller(cut), PayloadDamage) << size;
    }
    std::mt19937 random(20240611);
    int read = 0, damaged = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes scrambled = exe;
        for (int k = 0; k < 3; ++k) {
            size_t at = start + random() % (exe.size() - start);
            scrambled[at] = uint8_t(random());
        }
        try {
            SplitPayload split = splitPayload(scrambled);
            Manifest m = manifestFromPayload(split);
            EXPECT_EQ(payloadBytesUnchecked(m), payloadBytes(scrambled, split)) << round;
            ++read;
        } catch (const PayloadDamage&) {
            ++damaged;
        }
    }
    EXPECT_GT(read, 0);
    EXPECT_GT(damaged, 0);
}
