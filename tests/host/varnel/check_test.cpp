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

// The single finding of a manifest; fails the test when there is not exactly one.
Diagnostic only(const std::string& json) {
    std::vector<Diagnostic> found = check(json);
    EXPECT_EQ(found.size(), 1u) << json;
    for (const Diagnostic& d : found)
        std::cerr << "  " << formatDiagnostic(d) << "\n";
    return found.empty() ? Diagnostic{Diagnostic::Level::Error, "(none)", ""} : found.front();
}

void expectError(const std::string& json, const std::string& where, const std::string& text) {
    Diagnostic d = only(json);
    EXPECT_EQ(d.level, Diagnostic::Level::Error) << json;
    EXPECT_EQ(d.where, where) << json;
    EXPECT_NE(d.message.find(text), std::string::npos) << d.message;
    EXPECT_THROW(buildPayload(parseManifest(json)), PackError) << json;
}

void expectWarning(const std::string& json, const std::string& where, const std::string& text) {
    Diagnostic d = only(json);
    EXPECT_EQ(d.level, Diagnostic::Level::Warning) << json;
    EXPECT_EQ(d.where, where) << json;
    EXPECT_NE(d.message.find(text), std::string::npos) << d.message;
    EXPECT_NO_THROW(buildPayload(parseManifest(json))) << json;
}

std::string repeat(char c, size_t n) {
    return std::string(n, c);
}

} // namespace

TEST(CheckErrors, TextsThatCannotBeEncoded) {
    expectError(R"({"texts": {"caption": "Dvořák"}})", "texts.caption",
                "U+0159 \"ř\" at byte 3 cannot be stored in code page 1252");
    expectError(R"({"codePage": 1250, "language": "none", "texts": {"done": "Готово"}})",
                "texts.done", "code page 1250");
    expectError(R"({"codePage": 932, "language": "none"})", "codePage", "not supported");
    expectError(R"({"language": "none", "files": [{"folder": ".\\ж"}]})", "files[0].folder",
                "U+0436");
    expectError(R"({"language": "none", "options": {"closingDocument": "€ ✓"}})",
                "options.closingDocument", "U+2713");
    expectError(R"({"language": "none", "texts": {"caption": ")" + repeat('x', 65536) + R"("}})",
                "texts.caption", "at most 65,535");
    EXPECT_TRUE(
        check(R"({"language": "none", "texts": {"caption": ")" + repeat('x', 65535) + R"("}})")
            .empty());
}

TEST(CheckErrors, EntriesOverTheirRecordLimits) {
    std::string ok = R"({"language": "none", "files": [{"folder": "C:\\)" + repeat('f', 100) +
                     R"(", "name": ")" + repeat('n', 415) + R"("}]})";
    EXPECT_FALSE(hasErrors(check(ok))); // 3 + 100 + 415 = 518
    std::vector<Diagnostic> files =
        check(R"({"language": "none", "files": [{"folder": ")" + repeat('f', 300) +
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

TEST(CheckErrors, PatternsAndOptionTextsThatWouldBeCut) {
    expectError(R"({"language": "none", "patterns": ["a\\*", ""]})", "patterns[1]",
                "ends the list");
    expectError(R"({"language": "none", "patterns": ["a\\*\u0000b"]})", "patterns[0]", "NUL");
    expectError(R"({"language": "none", "options": {"preUninstall": "a\u0000b"}})",
                "options.preUninstall", "NUL");
}

TEST(CheckErrors, RecordFormMistakes) {
    expectError(R"({"records": [{"type": "files", "files": []}]})", "records[0]",
                "last record must be an end record");
    expectError(R"({"records": [{"tag": "0x123A", "flags": 1, "body": "000000000000000000000000"},
                                {"type": "end"}]})",
                "records[0]", "flags bit 0");
    expectError(R"({"records": [{"tag": "0x1235", "body": "02000000"}, {"type": "end"}]})",
                "records[0]", "body byte 4: entry 0");
    Manifest latin;
    latin.records.emplace(1);
    (*latin.records)[0].kind = RecordKind::Strings;
    (*latin.records)[0].texts.language = "Latin";
    latin.records->emplace_back();
    std::vector<Diagnostic> found = checkManifest(latin);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].where, "records[0].language");
}

TEST(CheckWarnings, FoldersTheUninstallerTreatsAsProtected) {
    expectWarning(R"({"language": "none", "files": [{"folder": "C:\\WINDOWS\\"}]})", "files[0]",
                  "protected");
    expectWarning(R"({"language": "none", "files": [{"folder": "D:\\"}]})", "files[0]",
                  "drive root");
    expectWarning(R"({"language": "none", "files": [{"folder": "C:\\Program Files"}]})", "files[0]",
                  "protected");
    // A file inside such a folder is fine; so is a folder below it.
    EXPECT_TRUE(check(R"({"language": "none", "files": [{"folder": "C:\\Windows", "name": "a.ini"},
                      {"folder": "C:\\Program Files\\Varnel Demo"}]})")
                    .empty());
    expectWarning(
        R"({"language": "none", "groups": [{"folder": "#AppData#\\Microsoft\\Internet Explorer\\Quick Launch"}]})",
        "groups[0].folder", "protected");
    expectWarning(R"({"language": "none", "groups": [{"folder": "C:\\P\\Vd",
                  "secondFolder": "C:\\Users\\u\\Start Menu\\Programs"}]})",
                  "groups[0].secondFolder", "removes neither folder");
    expectWarning(R"({"language": "none", "groups": [{"folder": ""}]})", "groups[0].folder",
                  "empty");
    expectWarning(R"({"language": "none", "patterns": ["#Windows#\\*.tmp"]})", "patterns[0]",
                  "skips the pattern");
}

TEST(CheckWarnings, RegistryEntriesPassedOver) {
    expectWarning(R"({"language": "none", "registry": [{"root": "HKLM", "key": "SOFTWARE"}]})",
                  "registry[0]", "never deletes");
    expectWarning(R"({"language": "none", "registry": [{"root": "HKCU", "key": "system"}]})",
                  "registry[0]", "never deletes");
    expectWarning(R"({"language": "none", "registry": [{"root": "HKCU", "key": ""}]})",
                  "registry[0]", "empty");
    EXPECT_TRUE(check(R"({"language": "none", "registry": [{"root": "HKCU", "key": "Software\\V"},
                      {"root": "HKCU", "key": "Software", "value": "V"}]})")
                    .empty());
    expectWarning(
        R"({"language": "none", "registry": [{"root": "HKCU", "key": "K", "value": "a\\b"}]})",
        "registry[0].value", "backslash");
    expectWarning(R"({"language": "none", "registry": [{"root": "HKCU", "key": "K\\\\"}]})",
                  "registry[0].key", "default value");
    expectWarning(R"({"language": "none", "registry": [{"root": "0x42", "key": "K"}]})",
                  "registry[0].root", "predefined");
}

TEST(CheckWarnings, PathsOver259Characters) {
    // Relative folders count with the shortest installation folder, "C:\".
    std::string at259 = R"({"language": "none", "files": [{"folder": ".\\)" + repeat('d', 100) +
                        R"(", "name": ")" + repeat('n', 155) + R"("}]})";
    EXPECT_TRUE(check(at259).empty()); // 3 + 100 + 1 + 155
    expectWarning(R"({"language": "none", "files": [{"folder": ".\\)" + repeat('d', 100) +
                      R"(", "name": ")" + repeat('n', 156) + R"("}]})",
                  "files[0]", "at least 260 characters");
    expectWarning(R"({"language": "none", "groups": [{"folder": "C:\\)" + repeat('g', 257) +
                      R"("}]})",
                  "groups[0].folder", "260");
    expectWarning(R"({"language": "none", "patterns": [")" + repeat('p', 251) + R"(\\*.tmp"]})",
                  "patterns[0]", "260");
    expectWarning(R"({"language": "none", "options": {"preUninstall": ")" + repeat('p', 257) +
                      R"("}})",
                  "options.preUninstall", "at least 260");
}

TEST(CheckWarnings, PatternsAndMacros) {
    expectWarning(R"({"language": "none", "patterns": ["#TempDir#vd*.tmp"]})", "patterns[0]",
                  "no backslash of its own");
    expectWarning(R"({"language": "none", "patterns": ["#Windows#"]})", "patterns[0]",
                  "no backslash of its own");
    expectWarning(R"({"language": "none", "patterns": ["#Temp#\\*.tmp"]})", "patterns[0]",
                  "\"#Temp#\" names no folder");
    expectWarning(R"({"language": "none", "options": {"preUninstall": "\"#Sytem#\\x.exe\""}})",
                  "options.preUninstall", "names no folder");
    EXPECT_TRUE(check(R"({"language": "none", "patterns": ["*.log", "logs\\*",
                      "#localappdata#\\Vd\\*.*", "#InstallDir#\\cache\\*"]})")
                    .empty());
}

TEST(CheckWarnings, OptionTexts) {
    expectWarning(R"({"records": [{"tag": "0x123A",
                   "body": "00000000000000000000000061626300"}, {"type": "end"}]})",
                  "records[0]", "option text at block offset 12 has no offset");
    expectWarning(R"({"records": [{"tag": "0x123A", "body": "000000002000000000000000"},
                   {"type": "end"}]})",
                  "records[0]", "preUninstall offset 32 reaches no text");
    expectWarning(R"({"records": [{"tag": "0x123A", "body": "000000000000000020000000"},
                   {"type": "end"}]})",
                  "records[0]", "closingDocument offset 32 reaches no text");
    EXPECT_TRUE(check(R"({"records": [{"tag": "0x123A", "body": "000000000c0000000c0000006100"},
                      {"type": "end"}]})")
                    .empty());
    expectWarning(R"({"language": "none", "options": {"wait": true}})", "options.wait",
                  "no pre-uninstall program");
}

TEST(CheckWarnings, TextsAndRecords) {
    expectWarning(R"({"language": "none", "texts": {"sharedQuestion": "Remove %s (100%)?"}})",
                  "texts.sharedQuestion", "neither %s nor %%");
    expectWarning(R"({"language": "none", "texts": {"damaged": "%s: %s"}})", "texts.damaged",
                  "2 times");
    EXPECT_TRUE(check(R"({"language": "none", "texts": {"readOnlyQuestion": "100%% %s",
                      "stageFiles": "50% done"}})")
                    .empty());
    expectWarning(R"({"language": "none", "texts": {"caption": "a\u0000b"}})", "texts.caption",
                  "NUL");
    expectWarning(R"({"records": [{"type": "end"}, {"type": "end"}]})", "records[0]", "never read");
    expectWarning(R"({"language": "none", "files": [{"folder": ".\\a", "flags": ["shared"]}]})",
                  "files[0]", "ignored on a folder entry");
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
