// The payload reader with every kind of damaged payload, the texts and their
// formatting, and the command-line options.
#include <cstring>
#include <sstream>

#include "driver/driver.h"
#include "unit.h"

using namespace varnel;

namespace {

Bytes files(std::vector<FileItem> f) {
    return record(RT_FILES, filesBody(f));
}
Bytes withCount(Bytes body, uint32_t count) { // a list body claiming `count` entries
    memcpy(body.data(), &count, 4);
    return body;
}
Bytes chain(std::initializer_list<Bytes> records) {
    Bytes payload = concat(records);
    append(payload, endRecord());
    return payload;
}
Bytes cut(Bytes b, size_t by) {
    return Bytes(b.begin(), b.end() - by);
}

// What the reader kept, long strings shown as their length and first letter.
std::string shown(const char* s) {
    std::string t = s ? s : "(null)";
    return t.size() > 24 ? std::to_string(t.size()) + t[0] : t;
}
std::string summary() {
    std::ostringstream o;
    for (uint32_t i = 0; i < state.fileCount; ++i)
        o << " f" << shown(state.fileEntries[i]->folder) << '/' << shown(state.fileEntries[i]->name)
          << '/' << int(state.fileEntries[i]->flags);
    for (uint32_t i = 0; i < state.groupCount; ++i) {
        const GroupEntry* g = state.groupEntries[i];
        o << " g" << int(g->levels) << '/' << shown(g->folder) << '/' << shown(g->secondFolder)
          << '/' << shown(g->fileName);
    }
    for (uint32_t i = 0; i < state.registryCount; ++i)
        o << " r" << (state.registryEntries[i]->root & 0xFF) << '/'
          << shown(state.registryEntries[i]->path);
    if (state.patternList) { // with the two guard terminators after the list
        o << " p";
        for (uint32_t i = 0; i < state.patternListLength + 2; ++i)
            o << (state.patternList[i] ? char(state.patternList[i]) : '|');
    }
    if (state.options)
        o << " o" << optionFlags() << '/' << shown(optionText(OPTIONS_PRE_UNINSTALL_OFFSET)) << '/'
          << shown(optionText(OPTIONS_CLOSING_DOCUMENT_OFFSET));
    if (state.stringTable)
        o << " t";
    for (char** text = state.stringTable; text && *text; ++text)
        o << *text << '|';
    return o.str();
}

TEST(Reader, RecordsAndDamage) {
    const std::string s300(300, 'f'), n218(218, 'n'), g259(259, 'g'), r519(519, 'r');
    Bytes badOffsets = optionsBody({false, false, 0, "abc", ""});
    badOffsets[4] = 200, badOffsets[8] = 12;
    // The records before the end record, the error, what the reader kept.
    const struct {
        const char* what;
        Bytes payload;
        int error;
        std::string kept;
    } rows[] = {
        {"repeated: lists append, the last options and a table with texts count",
         chain({files({{"a", "1"}}), record(RT_STRINGS, stringsBody({"first", "one"})),
                record(RT_REGISTRY, registryBody({})), files({{"b", "2"}, {"b", "3"}}),
                record(RT_STRINGS, stringsBody({})), record(RT_PATTERNS, Bytes{'a', 0, 0}),
                record(RT_OPTIONS, optionsBody({true})), record(RT_PATTERNS, Bytes{'b', 0, 0}),
                record(RT_OPTIONS, optionsBody({false, true})),
                record(RT_GROUPS, groupsBody({{1, "g"}})),
                record(RT_GROUPS, groupsBody({{2, "h"}}))}),
         0, " fa/1/0 fb/2/0 fb/3/0 g1/g// g2/h// pa|b|||| o2/(null)/(null) tfirst|one|"},
        {"empty and unknown records are skipped, the information record among them",
         chain({record(RT_INFO, infoBody({932, "varnel 1.0.0", "{\"key\":\"K\"}"})),
                record(RT_OPTIONS, optionsBody({true})), recordHeader(RT_OPTIONS, 0),
                recordHeader(RT_FILES, 0, RF_UNREADABLE),
                record(RT_UNASSIGNED, filesBody({{"x", "y"}})), record(0x4242, Bytes(37, 0xFF)),
                files({{"real", "file"}})}),
         0, " freal/file/0 o1/(null)/(null)"},
        {"length wrapping to its own header", chain({recordHeader(0x4242, 0xFFFFFFF8u)}),
         PAYLOAD_ERR_HEADER, ""},
        {"huge options length", chain({recordHeader(RT_OPTIONS, 0xFFFFFFF0u)}), PAYLOAD_ERR_BLOB,
         ""},
        {"counts beyond the body keep the whole entries; one cut inside its string ends its list",
         chain({record(RT_FILES, withCount(filesBody({{"a", "1"}, {"b", "2"}}), 0x7F0000FF)),
                record(RT_GROUPS, withCount(groupsBody({{1, "g"}}), 3)),
                record(RT_REGISTRY, withCount(registryBody({{ROOT_HKLM, "S\\A"}}), 0xFFFFFFFF)),
                record(RT_REGISTRY, cut(registryBody({{1, "keep"}, {1, "cut"}}), 1)),
                files({{"f", "n"}})}),
         0, " fa/1/0 fb/2/0 ff/n/0 g1/g// r2/S\\A r1/keep"},
        {"518, 777 and 519 bytes are read, one more is passed over",
         chain({files({{s300, n218}, {s300, n218 + "n"}, {"next", "one"}}),
                record(RT_GROUPS,
                       groupsBody({{0, g259, g259, g259}, {0, g259, g259, g259 + "x"}, {7, "ok"}})),
                record(RT_REGISTRY, registryBody({{ROOT_HKCU, r519}, {ROOT_HKCU, r519 + "r"}}))}),
         0, " f300f/218n/0 fnext/one/0 g0/259g/259g/259g g7/ok// r1/519r"},
        {"string table cut short",
         chain({record(RT_STRINGS, cut(stringsBody({"caption", "a longer text"}), 6))}), 0,
         " tcaption|a longe|"},
        {"pattern list without its closing NULs is not joined; end record cut short",
         chain({record(RT_PATTERNS, Bytes{'a', 'b'}), record(RT_PATTERNS, Bytes{'c', 0, 0}),
                recordHeader(RT_END, 100), Bytes(3, 0)}),
         0, " pab||"},
        {"options block too short for its offsets",
         chain({record(RT_OPTIONS, Bytes{3, 0, 0, 0, 12})}), 0, " o3/(null)/(null)"},
        {"option offsets past the body", chain({record(RT_OPTIONS, badOffsets)}), 0,
         " o0/(null)/abc"},
        {"option text without its NUL",
         chain({record(RT_OPTIONS, cut(optionsBody({false, false, 0, "abc", ""}), 1))}), 0,
         " o0/(null)/(null)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(unit::load(row.payload), row.error);
        EXPECT_EQ(summary(), row.kept);
    }
    // Every cut inside a chain, headers and bodies alike.
    Bytes whole = chain({record(RT_STRINGS, stringsBody({"c", "x"})), files({{"f", "n"}})});
    for (size_t at = 0; at < whole.size(); ++at)
        EXPECT_EQ(unit::load(Bytes(whole.begin(), whole.begin() + at)), PAYLOAD_ERR_HEADER) << at;
    std::vector<FileItem> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({"d", "file" + std::to_string(i)});
    ASSERT_EQ(unit::load(chain({files(many), files({{"last", "one"}})})), 0);
    ASSERT_EQ(state.fileCount, 5001u);
    EXPECT_STREQ(state.fileEntries[5000]->name, "one");
    // Texts counted far beyond the body cost no memory each: the table and "c" are the only blocks.
    unit::Seam seam("", bed::caseDir("unit-reader") + "\\seam.log");
    ASSERT_EQ(unit::load(chain({record(RT_STRINGS, Bytes{1, 0, 0xFF, 0xFF, 1, 0, 'c'})})), 0);
    EXPECT_EQ(seam.take("calloc").size(), 2u);
    EXPECT_EQ(summary(), " tc|");
    freePayload();
}

// Past the table or in another table every text is empty; results are cut to 1023
// characters, formatted or not, and nothing past the buffer is written.
TEST(Strings, LookupAndFormatting) {
    const std::string a(4000, 'a');
    ASSERT_EQ(unit::load(chain({record(RT_STRINGS, stringsBody({"%s" + a, a}))})), 0);
    for (int i : {2, -1})
        EXPECT_STREQ(getString(0, i), "") << i;
    EXPECT_STREQ(getString(1, 0), "");
    for (int i : {0, 1}) {
        char buffer[FORMAT_BUFFER_SIZE + 8];
        memset(buffer, 'Z', sizeof(buffer));
        formatString(buffer, i, std::string(3000, 'p').c_str());
        EXPECT_EQ(buffer[FORMAT_BUFFER_SIZE], 'Z');
        EXPECT_EQ(std::string(buffer), std::string(1023, i ? 'a' : 'p'));
    }
    freePayload();
}

TEST(Options, ParseLikeTheDriver) {
    // Only 0x20 is a blank, an unknown letter is passed over, parsing stops at a word that is not
    // an option, "//s" makes "/" the letter and "s" a word; nothing after the text's NUL counts.
    // "/L=" or "-L=" starting a word ends the options, and the rest is the log's path, whatever
    // it holds; "/L" alone asks for a log in the temporary folder.
    const char* rows[][2] = {
        {"-X -S", "QSX"},
        {" /Qxyz-s/x", "QSX"},
        {"/q foo /s", "Q"},
        {"/q /", "Q"},
        {"/a /s", "QS"},
        {"\t/s", ""},
        {"//s", ""},
        {nullptr, ""},
        {"/S /l=\"C:\\my logs\\-x /q.log\" ", "QS L=\"C:\\my logs\\-x /q.log\" "},
        {"-L=/x -L=y", " L=/x -L=y"},
        {"/Log /x", "QX L="},
        {"/q a/L=x", "Q"}};
    for (auto& row : rows) {
        const std::string text = std::string(row[0] ? row[0] : "") + '\0' + " /s";
        state.quiet = state.optS = state.optX = 0;
        state.logPath = nullptr;
        parseOptions(row[0] ? text.c_str() : nullptr);
        const std::string set = std::string(state.quiet ? "Q" : "") + (state.optS ? "S" : "") +
                                (state.optX ? "X" : "") +
                                (state.logPath ? std::string(" L=") + state.logPath : "");
        EXPECT_EQ(set, row[1]) << (row[0] ? row[0] : "(null)");
    }
}

} // namespace
