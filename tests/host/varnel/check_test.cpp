// Every error and warning of `check`, each on the entry it belongs to.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support.h"

using namespace varnel;

namespace {

std::vector<Diagnostic> check(const std::string& json) {
    return checkManifest(parseManifest(json));
}

std::string repeat(char c, size_t n) {
    return std::string(n, c);
}

enum Expect { CLEAN, ERROR, WARNING };

struct Case {
    std::string json; // the manifest, "language": "none" added in front
    Expect expect;
    std::string where;
    std::string text; // a part of the message
};

// Each manifest has exactly the one finding given (or none), and pack agrees.
void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string json = c.json[0] == '{' && c.json.find("\"records\"") == std::string::npos &&
                                   c.json.find("\"language\"") == std::string::npos
                               ? "{\"language\": \"none\", " + c.json.substr(1)
                               : c.json;
        std::vector<Diagnostic> found = check(json);
        std::string all;
        for (const Diagnostic& d : found)
            all += "\n  " + formatDiagnostic(d);
        if (c.expect == CLEAN) {
            EXPECT_TRUE(found.empty()) << json << all;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << json << all;
        EXPECT_EQ(found[0].level,
                  c.expect == ERROR ? Diagnostic::Level::Error : Diagnostic::Level::Warning)
            << json << all;
        EXPECT_EQ(found[0].where, c.where) << json << all;
        EXPECT_NE(found[0].message.find(c.text), std::string::npos) << json << all;
        if (c.expect == ERROR)
            EXPECT_THROW(buildPayload(parseManifest(json)), PackError) << json;
        else
            EXPECT_NO_THROW(buildPayload(parseManifest(json))) << json;
    }
}

std::string file(const std::string& folder, const std::string& name) {
    return R"({"files": [{"folder": ")" + folder + R"(", "name": ")" + name + R"("}]})";
}

std::string key(const std::string& root, const std::string& key) {
    return R"({"registry": [{"root": ")" + root + R"(", "key": ")" + key + R"("}]})";
}

} // namespace

TEST(CheckErrors, TextsAndStringsThatCannotBeEncoded) {
    runCases({
        {R"({"language": "English", "texts": {"caption": "Dvořák"}})", ERROR, "texts.caption",
         "U+0159 \"ř\" at byte 3 cannot be stored in code page 1252"},
        {R"({"codePage": 1250, "texts": {"done": "Готово"}})", ERROR, "texts.done",
         "code page 1250"},
        {R"({"codePage": 65001})", ERROR, "codePage", "not supported"},
        {R"({"files": [{"folder": ".\\ж"}]})", ERROR, "files[0].folder", "U+0436"},
        {R"({"options": {"closingDocument": "€ ✓"}})", ERROR, "options.closingDocument", "U+2713"},
        {R"({"texts": {"caption": ")" + repeat('x', 65536) + R"("}})", ERROR, "texts.caption",
         "at most 65,535"},
        {R"({"texts": {"caption": ")" + repeat('x', 65535) + R"("}})", CLEAN, "", ""},
        {R"({"codePage": 932, "texts": {"caption": "表示"}})", CLEAN, "", ""},
        // The second byte of 表 in code page 932 is a backslash.
        {R"({"codePage": 932, "files": [{"folder": ".", "name": "表.txt"}]})", WARNING,
         "files[0].name", "backslash as its second byte"},
    });
}

TEST(CheckErrors, EntriesOverTheirRecordLimits) {
    std::string ok = R"({"language": "none", "files": [{"folder": "C:\\)" + repeat('f', 100) +
                     R"(", "name": ")" + repeat('n', 415) + R"("}]})";
    EXPECT_FALSE(hasErrors(check(ok))); // 3 + 100 + 415 = 518
    std::vector<Diagnostic> files =
        check(R"({"language": "none", "files": [{"folder": "C:\\)" + repeat('f', 297) +
              R"(", "name": ")" + repeat('n', 219) + R"("}]})");
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files[0].level, Diagnostic::Level::Error);
    EXPECT_EQ(files[0].where, "files[0]");
    EXPECT_NE(files[0].message.find("519 bytes together"), std::string::npos);
    std::vector<Diagnostic> groups =
        check(R"({"language": "none", "groups": [{"folder": "C:\\)" + repeat('g', 250) +
              R"(", "secondFolder": "C:\\)" + repeat('s', 250) + R"(", "fileName": ")" +
              repeat('n', 272) + R"("}]})");
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(groups[0].where, "groups[0]");
    EXPECT_NE(groups[0].message.find("778 bytes together"), std::string::npos);
    EXPECT_TRUE(hasErrors(groups));
    std::vector<Diagnostic> registry = check(R"({"language": "none", "registry": [{"root": "HKCU",
        "key": "Software\\)" + repeat('k', 500) +
                                             R"(", "value": ")" + repeat('v', 9) + R"("}]})");
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry[0].where, "registry[0]");
    EXPECT_NE(registry[0].message.find("520 bytes"), std::string::npos); // 9 + 500 + 2 + 9
}

// What the executable reads otherwise than the manifest says.
TEST(CheckErrors, FoldersNamesAndNulsAsTheUninstallerReadsThem) {
    runCases({
        {file("./bin", "a.dll"), ERROR, "files[0].folder",
         "`./bin` is read as the installation folder itself; write `.\\bin`"},
        {file("..\\\\x", "a.dll"), ERROR, "files[0].folder",
         "read as the installation folder itself; a folder outside it needs a full path"},
        {file(".git", "config"), ERROR, "files[0].folder", "write `.\\.git`"},
        {file("bin", "a.dll"), ERROR, "files[0].folder",
         "resolved against the uninstaller's current folder"},
        {file("", "a.dll"), ERROR, "files[0].folder", "is empty"},
        {file("#Windows#", "a.dll"), ERROR, "files[0].folder", "macros are not expanded"},
        {file(".\\\\a\\\\..\\\\b", "x"), ERROR, "files[0].folder", "climbs out"},
        {file(".\\\\bin\\\\LPT1", "x"), ERROR, "files[0].folder", "name of a device"},
        {file(".", "CON"), ERROR, "files[0].name", "`CON` is a name Windows cannot have"},
        {file(".", "nul.txt"), ERROR, "files[0].name", "name of a device"},
        {file(".", "a:b"), ERROR, "files[0].name", "does not allow \":\""},
        {file(".", "x."), ERROR, "files[0].name", "a dot or a space at the end"},
        {file(".", "x "), ERROR, "files[0].name", "a dot or a space at the end"},
        {file(".", "a\\\\b"), ERROR, "files[0].name", "a backslash in a name"},
        {file(".", "a\\u0000b"), ERROR, "files[0].name", "reads only `a`, though dump shows"},
        {file(".", "COM10.txt"), CLEAN, "", ""},
        {file("\\\\\\\\srv\\\\share\\\\App", "a.dll"), CLEAN, "", ""},
        {R"({"groups": [{"folder": "C:\\G", "fileName": "a\u0000.lnk"}]})", ERROR,
         "groups[0].fileName", "NUL"},
        {R"({"groups": [{"folder": "C:\\G", "fileName": "Demo?.lnk"}]})", ERROR,
         "groups[0].fileName", "\"?\""},
        {R"({"registry": [{"root": "HKCU", "key": "Software\\V\u0000x"}]})", ERROR,
         "registry[0].key", "NUL"},
        {R"({"patterns": ["a\\*", ""]})", ERROR, "patterns[1]", "ends the list"},
        {R"({"patterns": ["a\\*\u0000b"]})", ERROR, "patterns[0]", "NUL"},
        {R"({"patterns": ["..\\*.tmp"]})", ERROR, "patterns[0]", "climbs out"},
        {R"({"patterns": ["#TempDir#\\vd\\..\\*"]})", ERROR, "patterns[0]", "climbs out"},
        {R"({"options": {"preUninstall": "a\u0000b"}})", ERROR, "options.preUninstall", "NUL"},
    });
}

TEST(CheckErrors, RegistryKeysThatReachAWholeBranch) {
    runCases({
        {key("HKCU", ""), ERROR, "registry[0].key", "the root key itself"},
        {key("HKCU", "\\\\"), ERROR, "registry[0].key", "the root key itself"},
        {key("HKLM", "SOFTWARE"), ERROR, "registry[0].key", "the whole branch `SOFTWARE`"},
        {key("HKLM", "Software\\\\"), ERROR, "registry[0].key", "the whole branch `Software`"},
        {key("HKLM", "\\\\Software\\\\"), ERROR, "registry[0].key", "branch `Software`"},
        {key("HKU", "system"), ERROR, "registry[0].key", "branch `system`"},
        {key("HKLM", "Software\\\\Microsoft"), ERROR, "registry[0].key", "whole branch"},
        {key("HKCU", "software\\\\classes\\\\"), ERROR, "registry[0].key", "whole branch"},
        {key("HKLM", "System\\\\CurrentControlSet"), ERROR, "registry[0].key", "whole branch"},
        {key("HKLM", "Software\\\\Wow6432Node\\\\Microsoft"), ERROR, "registry[0].key",
         "whole branch"},
        {key("HKCR", "CLSID"), ERROR, "registry[0].key", "whole branch"},
        {key("HKLM", "Software\\\\Classes\\\\CLSID"), ERROR, "registry[0].key", "whole branch"},
        {key("HKCU", "CLSID"), CLEAN, "", ""},
        {key("HKCU", "Software\\\\Vendor"), CLEAN, "", ""},
        {key("HKCR", "CLSID\\\\{0D6C1A8E-2F44-4D4E-9A0B-5C1E0C9C3F10}"), CLEAN, "", ""},
        // A value entry reaches one value, even directly under the root.
        {R"({"registry": [{"root": "HKCU", "key": "", "value": "V"},
                          {"root": "HKLM", "key": "Software", "value": "V"}]})",
         CLEAN, "", ""},
    });
}

TEST(CheckErrors, RecordFormMistakes) {
    runCases({
        {R"({"records": [{"type": "files", "files": []}]})", ERROR, "records[0]",
         "last record must be an end record"},
        {R"({"records": []})", ERROR, "records", "holds no record"},
        {R"({"records": [{"tag": "0x123A", "flags": 1, "body": "000000000000000000000000"},
                        {"type": "end"}]})",
         ERROR, "records[0]", "flags bit 0"},
        {R"({"records": [{"tag": "0x1235", "body": "02000000"}, {"type": "end"}]})", ERROR,
         "records[0]", "body byte 4: entry 0"},
    });
    Manifest latin;
    latin.records.emplace(1);
    (*latin.records)[0].kind = RecordKind::Strings;
    (*latin.records)[0].texts.language = "Latin";
    latin.records->emplace_back();
    std::vector<Diagnostic> found = checkManifest(latin);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].where, "records[0].language");
}

TEST(CheckErrors, EveryProblemOfAManifestIsReportedInOneRun) {
    std::vector<Diagnostic> found = check(R"({"language": "none", "files": [{"folder": "bin"},
        {"folder": ".", "name": "CON"}], "registry": [{"root": "HKLM", "key": "Software"}],
        "patterns": ["..\\*"]})");
    std::vector<std::string> where;
    for (const Diagnostic& d : found)
        where.push_back(d.where);
    EXPECT_EQ(where, (std::vector<std::string>{"files[0].folder", "files[1].name",
                                               "registry[0].key", "patterns[0]"}));
    try {
        parseManifest(R"({"files": [{"folder": 1}, {"folder": "."}, {"folder": ".", "x": 2}],
                          "registry": [{"root": "HKXX", "key": "k"}], "patterns": [5],
                          "texts": {"title": "T"}})");
        ADD_FAILURE() << "no error";
    } catch (const ManifestError& e) {
        std::vector<std::string> at;
        for (const auto& problem : e.all)
            at.push_back(problem.first);
        EXPECT_EQ(at, (std::vector<std::string>{"texts.title", "files[0].folder", "files[2].x",
                                                "registry[0].root", "patterns[0]"}));
    }
}

TEST(CheckWarnings, FoldersTheUninstallerTreatsAsProtected) {
    runCases({
        {R"({"files": [{"folder": "C:\\WINDOWS\\"}]})", WARNING, "files[0]", "protected"},
        {R"({"files": [{"folder": "D:\\"}]})", WARNING, "files[0]", "drive root"},
        {R"({"files": [{"folder": "C:\\Program Files"}]})", WARNING, "files[0]", "protected"},
        // A file inside such a folder is fine; so is a folder below it.
        {R"({"files": [{"folder": "C:\\Windows", "name": "a.ini"},
                       {"folder": "C:\\Program Files\\Varnel Demo"}]})",
         CLEAN, "", ""},
        {R"({"groups": [{"folder": "#AppData#\\Microsoft\\Internet Explorer\\Quick Launch"}]})",
         WARNING, "groups[0].folder", "protected"},
        {R"({"groups": [{"folder": "C:\\P\\Vd",
                         "secondFolder": "C:\\Users\\u\\Start Menu\\Programs"}]})",
         WARNING, "groups[0].secondFolder", "removes neither folder"},
        {R"({"groups": [{"folder": ""}]})", WARNING, "groups[0].folder", "empty"},
        {R"({"patterns": ["#Windows#\\*.tmp"]})", WARNING, "patterns[0]", "skips the pattern"},
    });
}

TEST(CheckWarnings, EntriesPassedOverOrInTheWrongOrder) {
    runCases({
        {R"({"registry": [{"root": "HKCU", "key": "K", "value": "a\\b"}]})", WARNING,
         "registry[0].value", "backslash"},
        {key("HKCU", "K\\\\\\\\"), WARNING, "registry[0].key", "default value"},
        {key("0x42", "K"), WARNING, "registry[0].root", "predefined"},
        {R"({"files": [{"folder": ".\\a", "name": "x"}, {"folder": ".\\a"}]})", WARNING, "files[1]",
         "comes after files[0]"},
        {R"({"files": [{"folder": ".\\a\\b"}, {"folder": ".\\A"}]})", WARNING, "files[1]",
         "comes after files[0]"},
        {R"({"files": [{"folder": ".\\a"}, {"folder": ".\\ab", "name": "x"}]})", CLEAN, "", ""},
        {R"({"files": [{"folder": ".", "name": "x"}, {"folder": ".", "name": "X"}]})", WARNING,
         "files[1]", "repeats files[0]"},
        {R"({"registry": [{"root": "HKCU", "key": "Software\\V"},
                          {"root": "HKCU", "key": "software\\v"}]})",
         WARNING, "registry[1]", "repeats registry[0]"},
        {R"({"patterns": ["*.log", "*.LOG"]})", WARNING, "patterns[1]", "repeats patterns[0]"},
        {R"({"groups": [{"folder": "C:\\G"}, {"folder": "C:\\G"}]})", WARNING, "groups[1]",
         "repeats groups[0]"},
        {R"({"files": [{"folder": ".\\a", "flags": ["shared"]}]})", WARNING, "files[0]",
         "ignored on a folder entry"},
    });
}

// A full path of 259 characters fits; a joining backslash counts only where
// the uninstaller adds one (relative folders count with "C:\").
TEST(CheckWarnings, PathsOver259Characters) {
    struct Row {
        std::string folder;
        size_t name;
        Expect expect;
    };
    std::string d100 = ".\\\\" + repeat('d', 100);
    for (const Row& r : std::vector<Row>{{".", 256, CLEAN},
                                         {".", 257, WARNING},
                                         {".\\\\", 256, CLEAN},
                                         {".\\\\", 257, WARNING},
                                         {d100, 155, CLEAN}, // 3 + 100 + 1 + 155
                                         {d100, 156, WARNING},
                                         {d100 + "\\\\", 155, CLEAN},
                                         {d100 + "\\\\", 156, WARNING},
                                         {"C:\\\\" + repeat('d', 100), 155, CLEAN},
                                         {"C:\\\\" + repeat('d', 100), 156, WARNING},
                                         {".\\\\" + repeat('d', 256), 0, CLEAN},
                                         {".\\\\" + repeat('d', 257), 0, WARNING}})
        runCases({{r.name ? file(r.folder, repeat('n', r.name))
                          : R"({"files": [{"folder": ")" + r.folder + R"("}]})",
                   r.expect, "files[0]", "at least 260 characters"}});
    runCases({
        {R"({"groups": [{"folder": "C:\\)" + repeat('g', 257) + R"("}]})", WARNING,
         "groups[0].folder", "260"},
        {R"({"patterns": [")" + repeat('p', 251) + R"(\\*.tmp"]})", WARNING, "patterns[0]", "260"},
        {R"({"options": {"preUninstall": ")" + repeat('p', 257) + R"("}})", WARNING,
         "options.preUninstall", "at least 260"},
    });
}

TEST(CheckWarnings, PatternsMacrosAndOptionTexts) {
    runCases({
        {R"({"patterns": ["#TempDir#vd*.tmp"]})", WARNING, "patterns[0]",
         "no backslash of its own"},
        {R"({"patterns": ["#Windows#"]})", WARNING, "patterns[0]", "no backslash of its own"},
        {R"({"patterns": ["#Temp#\\*.tmp"]})", WARNING, "patterns[0]",
         "\"#Temp#\" names no folder"},
        {R"({"options": {"preUninstall": "\"#Sytem#\\x.exe\""}})", WARNING, "options.preUninstall",
         "names no folder"},
        {R"({"patterns": ["*.log", "logs\\*", "#localappdata#\\Vd\\*.*",
                          "#InstallDir#\\cache\\*"]})",
         CLEAN, "", ""},
        {R"({"records": [{"tag": "0x123A", "body": "00000000000000000000000061626300"},
                         {"type": "end"}]})",
         WARNING, "records[0]", "option text at block offset 12 has no offset"},
        {R"({"records": [{"tag": "0x123A", "body": "000000002000000000000000"},
                         {"type": "end"}]})",
         WARNING, "records[0]", "preUninstall offset 32 reaches no text"},
        {R"({"records": [{"tag": "0x123A", "body": "000000000000000020000000"},
                         {"type": "end"}]})",
         WARNING, "records[0]", "closingDocument offset 32 reaches no text"},
        {R"({"records": [{"tag": "0x123A", "body": "000000000c0000000c0000006100"},
                         {"type": "end"}]})",
         CLEAN, "", ""},
        {R"({"options": {"wait": true}})", WARNING, "options.wait", "no pre-uninstall program"},
    });
}

TEST(CheckWarnings, TextsAndRecords) {
    runCases({
        {R"({"texts": {"sharedQuestion": "Remove %s (100%)?"}})", WARNING, "texts.sharedQuestion",
         "`%)`"},
        {R"({"texts": {"readOnlyQuestion": "%d files are write-protected"}})", WARNING,
         "texts.readOnlyQuestion", "`%d`, which the uninstaller shows as it stands"},
        {R"({"texts": {"damaged": "%s: %s"}})", WARNING, "texts.damaged", "2 times"},
        {R"({"texts": {"readOnlyQuestion": "100%% %s", "stageFiles": "50% done"}})", CLEAN, "", ""},
        {R"({"texts": {"caption": "a\u0000b"}})", WARNING, "texts.caption", "NUL"},
        {R"({"records": [{"type": "end"}, {"type": "end"}]})", WARNING, "records[0]", "never read"},
    });
}

TEST(CheckWarnings, TheDemoAndTheBuiltInLanguagesAreClean) {
    std::ifstream in(VARNEL_DEMO_MANIFEST);
    std::stringstream text;
    text << in.rdbuf();
    for (const Diagnostic& d : checkManifest(parseManifest(text.str())))
        ADD_FAILURE() << formatDiagnostic(d);
    for (const std::string& language : languageNames())
        EXPECT_TRUE(check(R"({"language": ")" + language + R"("})").empty()) << language;
}
