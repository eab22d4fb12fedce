// The payload reader: record rules, and damaged payloads of every kind.
#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"
#include "driver/state.h"
#include "harness.h"
#include "payload/payload.h"
#include "payload_writer.h"

using namespace varnel;

namespace {

class Reader : public ::testing::Test {
  protected:
    void TearDown() override { freePayload(); }

    int load(const Bytes& payload) {
        return readPayloadChain(payload.data(), uint32_t(payload.size()), &state);
    }

    static std::string text(int i) { return getString(0, i); }
};

Bytes strings(std::vector<std::string> texts) {
    return record(RT_STRINGS, stringsBody(texts));
}
Bytes files(std::vector<FileSpec> f) {
    return record(RT_FILES, filesBody(f));
}

TEST_F(Reader, ReadsEveryRecordType) {
    OptionsSpec options{OF_WAIT | OF_THEMED, "setup.exe /clean", "#InstallDir#\\bye.htm"};
    Bytes payload = concat({strings({"Caption", "", "Done"}),
                            files({{".", "", 0}, {".\\sub", "a.txt", FE_SHARED | FE_CHECKINUSE}}),
                            record(RT_GROUPS, groupsBody({{255, "G1", "G2", "link.lnk"}})),
                            record(RT_REGISTRY, registryBody({{ROOT_HKCU, "Software\\Vendor"}})),
                            record(RT_PATTERNS, patternsBody({"#InstallDir#\\*.tmp"})),
                            record(RT_OPTIONS, optionsBody(options)), endRecord()});
    ASSERT_EQ(load(payload), 0);
    EXPECT_EQ(text(0), "Caption");
    EXPECT_EQ(text(1), "");
    EXPECT_EQ(text(2), "Done");
    EXPECT_EQ(text(3), "");
    ASSERT_EQ(state.fileCount, 2u);
    EXPECT_STREQ(state.fileEntries[0]->folder, ".");
    EXPECT_STREQ(state.fileEntries[0]->name, ""); // empty, never null
    EXPECT_STREQ(state.fileEntries[1]->folder, ".\\sub");
    EXPECT_STREQ(state.fileEntries[1]->name, "a.txt");
    EXPECT_EQ(state.fileEntries[1]->flags, FE_SHARED | FE_CHECKINUSE);
    ASSERT_EQ(state.groupCount, 1u);
    EXPECT_EQ(state.groupEntries[0]->levels, 255u);
    EXPECT_STREQ(state.groupEntries[0]->folder, "G1");
    EXPECT_STREQ(state.groupEntries[0]->secondFolder, "G2");
    EXPECT_STREQ(state.groupEntries[0]->fileName, "link.lnk");
    ASSERT_EQ(state.registryCount, 1u);
    EXPECT_EQ(state.registryEntries[0]->root, ROOT_HKCU);
    EXPECT_STREQ(state.registryEntries[0]->path, "Software\\Vendor");
    EXPECT_EQ(state.patternListLength, 20u);
    EXPECT_STREQ(reinterpret_cast<char*>(state.patternList), "#InstallDir#\\*.tmp");
    EXPECT_EQ(optionFlags(), uint32_t(OF_WAIT | OF_THEMED));
    EXPECT_STREQ(optionText(OPTIONS_PRE_UNINSTALL_OFFSET), "setup.exe /clean");
    EXPECT_STREQ(optionText(OPTIONS_CLOSING_DOCUMENT_OFFSET), "#InstallDir#\\bye.htm");
}

TEST_F(Reader, RepeatedRecordsFollowTheirRules) {
    Bytes payload = concat({
        files({{"a", "1", 0}, {"a", "2", 0}}),
        strings({"first", "one"}),
        record(RT_REGISTRY, registryBody({})), // count 0 adds nothing
        files({{"b", "3", 0}, {"b", "4", 0}, {"b", "5", 0}}),
        record(RT_STRINGS, stringsBody({})), // a table of 0 texts changes nothing
        record(RT_PATTERNS, Bytes{'a', 0, 0}),
        record(RT_OPTIONS, optionsBody({OF_WAIT, "", ""})),
        record(RT_PATTERNS, Bytes{'b', 0, 0}),
        record(RT_OPTIONS, optionsBody({OF_THEMED, "", ""})),
        record(RT_GROUPS, groupsBody({{1, "g", "", ""}})),
        record(RT_GROUPS, groupsBody({{2, "h", "", ""}})),
        endRecord(),
    });
    ASSERT_EQ(load(payload), 0);
    ASSERT_EQ(state.fileCount, 5u);
    const char* names[] = {"1", "2", "3", "4", "5"};
    for (int i = 0; i < 5; ++i)
        EXPECT_STREQ(state.fileEntries[i]->name, names[i]);
    EXPECT_EQ(text(0), "first");
    EXPECT_EQ(text(1), "one");
    EXPECT_EQ(state.registryCount, 0u);
    ASSERT_EQ(state.patternListLength, 5u);
    EXPECT_EQ(Bytes(state.patternList, state.patternList + 5), (Bytes{'a', 0, 'b', 0, 0}));
    EXPECT_EQ(optionFlags(), uint32_t(OF_THEMED)); // the last one counts
    ASSERT_EQ(state.groupCount, 2u);
    EXPECT_EQ(state.groupEntries[1]->levels, 2u);
}

TEST_F(Reader, ZeroLengthAndUnknownRecordsAreSkipped) {
    Bytes payload = concat({
        record(RT_OPTIONS, optionsBody({OF_WAIT, "", ""})),
        recordHeader(RT_OPTIONS, 0), // ignored: the previous options stay
        recordHeader(RT_FILES, 0, RF_UNREADABLE),
        record(RT_UNASSIGNED, filesBody({{"x", "y", 0}})),
        record(0x4242, Bytes(37, 0xFF)),
        files({{"real", "file", 0}}),
        endRecord(),
    });
    ASSERT_EQ(load(payload), 0);
    EXPECT_EQ(optionFlags(), uint32_t(OF_WAIT));
    ASSERT_EQ(state.fileCount, 1u);
    EXPECT_STREQ(state.fileEntries[0]->folder, "real");
}

TEST_F(Reader, EndRecordBodyCutShortStillEndsThePayload) {
    Bytes payload = concat({strings({"c"}), recordHeader(RT_END, 100), Bytes(3, 0)});
    EXPECT_EQ(load(payload), 0);
    freePayload();
    // Any other record cut short still needs the header that cannot follow.
    EXPECT_EQ(load(concat({recordHeader(0x4242, 100), Bytes(3, 0)})), PAYLOAD_ERR_HEADER);
}

TEST_F(Reader, MissingEndAndCutHeadersGiveTheHeaderError) {
    Bytes whole = concat({strings({"c"}), files({{"f", "n", 0}})});
    EXPECT_EQ(load(whole), PAYLOAD_ERR_HEADER);
    freePayload();
    // every cut inside the chain, headers and bodies alike
    Bytes payload = concat({strings({"c", "x"}), files({{"f", "n", 0}}), endRecord()});
    for (size_t cut = 0; cut < payload.size(); ++cut) {
        SCOPED_TRACE(cut);
        int error = load(Bytes(payload.begin(), payload.begin() + cut));
        EXPECT_EQ(error, PAYLOAD_ERR_HEADER);
        freePayload();
    }
}

TEST_F(Reader, BlobCutShortIsTheBlobError) {
    Bytes payload = record(RT_OPTIONS, optionsBody({0, "a long pre-uninstall command", ""}));
    payload.resize(payload.size() - 5);
    EXPECT_EQ(load(payload), PAYLOAD_ERR_BLOB);
}

TEST_F(Reader, HugeLengthsNeitherHangNorAllocate) {
    // A length that would wrap the position back to this same header.
    Bytes loop = recordHeader(0x4242, 0xFFFFFFF8u);
    EXPECT_EQ(load(loop), PAYLOAD_ERR_HEADER);
    freePayload();
    EXPECT_EQ(load(concat({recordHeader(RT_FILES, 0xFFFFFFFFu), Bytes{1, 0, 0, 0}})),
              PAYLOAD_ERR_HEADER);
    freePayload();
    EXPECT_EQ(load(recordHeader(RT_OPTIONS, 0xFFFFFFF0u)), PAYLOAD_ERR_BLOB);
}

TEST_F(Reader, CountsLargerThanTheBodyKeepTheWholeEntries) {
    Bytes body = filesBody({{"a", "1", 0}, {"b", "2", 0}});
    body[0] = 0xFF; // count 0x000000FF..
    body[3] = 0x7F;
    ASSERT_EQ(load(concat({record(RT_FILES, body), endRecord()})), 0);
    ASSERT_EQ(state.fileCount, 2u);
    EXPECT_STREQ(state.fileEntries[1]->name, "2");
    freePayload();

    // the entries stop at the record's own length: bytes of the next record
    // never become entries
    Bytes groups = groupsBody({{1, "g", "", ""}});
    groups[0] = 3;
    ASSERT_EQ(load(concat({record(RT_GROUPS, groups), files({{"f", "n", 0}}), endRecord()})), 0);
    EXPECT_EQ(state.groupCount, 1u);
    EXPECT_EQ(state.fileCount, 1u);
    freePayload();

    Bytes reg = registryBody({{ROOT_HKLM, "Software\\A"}});
    reg[0] = 0xFF;
    reg[1] = 0xFF;
    reg[2] = 0xFF;
    reg[3] = 0xFF;
    ASSERT_EQ(load(concat({record(RT_REGISTRY, reg), endRecord()})), 0);
    EXPECT_EQ(state.registryCount, 1u);
}

TEST_F(Reader, EntryCutInsideItsStringEndsTheList) {
    Bytes body = filesBody({{"keep", "me", 0}, {"cut", "short", 0}});
    body.resize(body.size() - 3);
    ASSERT_EQ(load(concat({record(RT_FILES, body), endRecord()})), 0);
    ASSERT_EQ(state.fileCount, 1u);
    EXPECT_STREQ(state.fileEntries[0]->name, "me");
}

TEST_F(Reader, StringLimitsPerEntry) {
    std::string s300(300, 'f'), s218(218, 'n'), s219(219, 'n');
    ASSERT_EQ(
        load(concat({files({{s300, s218, 0}, {s300, s219, 0}, {"next", "one", 0}}), endRecord()})),
        0);
    ASSERT_EQ(state.fileCount, 2u); // 518 bytes are read whole, 519 are passed over
    EXPECT_EQ(std::string(state.fileEntries[0]->folder), s300);
    EXPECT_EQ(std::string(state.fileEntries[0]->name), s218);
    EXPECT_STREQ(state.fileEntries[1]->folder, "next");
    freePayload();

    std::string g(259, 'g');
    ASSERT_EQ(
        load(concat(
            {record(RT_GROUPS, groupsBody({{0, g, g, g}, {0, g, g, g + "x"}, {7, "ok", "", ""}})),
             endRecord()})),
        0);
    ASSERT_EQ(state.groupCount, 2u); // 777 whole, 778 passed over
    EXPECT_EQ(state.groupEntries[1]->levels, 7u);
    freePayload();

    ASSERT_EQ(load(concat({record(RT_REGISTRY, registryBody({{ROOT_HKCU, std::string(519, 'r')},
                                                             {ROOT_HKCU, std::string(520, 'r')}})),
                           endRecord()})),
              0);
    EXPECT_EQ(state.registryCount, 1u);
}

TEST_F(Reader, StringTableCutShortKeepsWhatIsThere) {
    Bytes body = stringsBody({"caption", "a longer text"});
    body.resize(body.size() - 6);
    ASSERT_EQ(load(concat({record(RT_STRINGS, body), endRecord()})), 0);
    EXPECT_EQ(text(0), "caption");
    EXPECT_EQ(text(1), "a longe");
    // a string count far beyond the body: the missing texts are empty, and
    // cost no memory each (the table and "c" are the only blocks)
    freePayload();
    std::string log = bed::caseDir("unit-reader") + "\\seam.log";
    SetEnvironmentVariableA("VARNEL_SEAM_LOG", log.c_str());
    int error = load(concat({record(RT_STRINGS, Bytes{1, 0, 0xFF, 0xFF, 1, 0, 'c'}), endRecord()}));
    SetEnvironmentVariableA("VARNEL_SEAM_LOG", nullptr);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(text(0), "c");
    EXPECT_EQ(text(1), "");
    EXPECT_EQ(text(65534), "");
    Bytes calls = readFileBytes(log);
    std::string lines(calls.begin(), calls.end());
    size_t blocks = 0;
    for (size_t at = lines.find("calloc\t"); at != std::string::npos;
         at = lines.find("calloc\t", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 2u);
}

TEST_F(Reader, PatternListWithoutClosingNulsStaysInItsBuffer) {
    ASSERT_EQ(load(concat({record(RT_PATTERNS, Bytes{'a', 'b'}),
                           record(RT_PATTERNS, Bytes{'c', 0, 0}), endRecord()})),
              0);
    // the second body is not joined to a list that does not end in NUL
    EXPECT_EQ(state.patternListLength, 2u);
    EXPECT_EQ(state.patternList[2], 0); // the guard terminators follow the list
    EXPECT_EQ(state.patternList[3], 0);
}

TEST_F(Reader, OptionsShortOrWithOffsetsOutside) {
    ASSERT_EQ(load(concat({record(RT_OPTIONS, Bytes{3, 0, 0, 0, 12}), endRecord()})), 0);
    EXPECT_EQ(optionFlags(), 3u);
    EXPECT_EQ(optionText(OPTIONS_PRE_UNINSTALL_OFFSET), nullptr);
    EXPECT_EQ(optionText(OPTIONS_CLOSING_DOCUMENT_OFFSET), nullptr);
    freePayload();

    Bytes body = optionsBody({0, "abc", ""});
    body[4] = 200; // points past the body
    body[8] = 12;  // points at "abc"
    ASSERT_EQ(load(concat({record(RT_OPTIONS, body), endRecord()})), 0);
    EXPECT_EQ(optionText(OPTIONS_PRE_UNINSTALL_OFFSET), nullptr);
    EXPECT_STREQ(optionText(OPTIONS_CLOSING_DOCUMENT_OFFSET), "abc");
    freePayload();

    Bytes unterminated = optionsBody({0, "abc", ""});
    unterminated.pop_back(); // the text does not end inside the body
    ASSERT_EQ(load(concat({record(RT_OPTIONS, unterminated), endRecord()})), 0);
    EXPECT_EQ(optionText(OPTIONS_PRE_UNINSTALL_OFFSET), nullptr);
}

TEST_F(Reader, FreePayloadClearsEverything) {
    ASSERT_EQ(load(concat({strings({"c"}), files({{"f", "n", 0}}),
                           record(RT_PATTERNS, patternsBody({"p"})),
                           record(RT_OPTIONS, optionsBody({})), endRecord()})),
              0);
    freePayload();
    EXPECT_EQ(state.fileEntries, nullptr);
    EXPECT_EQ(state.fileCount, 0u);
    EXPECT_EQ(state.patternList, nullptr);
    EXPECT_EQ(state.options, nullptr);
    EXPECT_EQ(state.stringTable, nullptr);
}

TEST_F(Reader, ManyEntriesGrowTheList) {
    std::vector<FileSpec> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({"dir" + std::to_string(i / 25), "file" + std::to_string(i), 0});
    ASSERT_EQ(load(concat({files(many), files({{"last", "one", 0}}), endRecord()})), 0);
    ASSERT_EQ(state.fileCount, 5001u);
    EXPECT_STREQ(state.fileEntries[4999]->name, "file4999");
    EXPECT_STREQ(state.fileEntries[5000]->name, "one");
}

} // namespace
