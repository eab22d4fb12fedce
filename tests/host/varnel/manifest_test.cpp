#include <gtest/gtest.h>

#include "manifest.h"

using namespace varnel;

namespace {

std::string errorWhere(const std::string& json) {
    try {
        parseManifest(json);
    } catch (const ManifestError& e) {
        return e.where;
    }
    return "(no error)";
}

} // namespace

TEST(ManifestJson, ReadsEverySection) {
    Manifest m = parseManifest(R"({
      "codePage": 1250, "language": "German",
      "texts": {"caption": "Produkt", "16": "sechzehn"},
      "options": {"wait": true, "themed": true, "extraFlags": "0x10",
                  "preUninstall": "\"tidy.exe\" /u", "closingDocument": "https://example.com/"},
      "files": [{"folder": ".\\bin"}, {"folder": ".\\bin", "name": "a.dll",
                 "flags": ["shared", "font", "selfreg", "checkInUse", 64]}],
      "groups": [{"folder": "C:\\G", "secondFolder": "C:\\H", "fileName": "x.lnk", "levels": 3}],
      "registry": [{"root": "HKEY_LOCAL_MACHINE", "key": "Software\\V"},
                   {"root": "hkcu", "key": "Software\\V", "value": "Path"},
                   {"root": "0x80000005", "key": "K"}],
      "patterns": ["logs\\*.log"]})");
    EXPECT_EQ(m.codePage, 1250u);
    EXPECT_EQ(m.texts.language, "German");
    EXPECT_EQ(m.texts.texts.at(0), "Produkt");
    EXPECT_EQ(m.texts.texts.at(16), "sechzehn");
    ASSERT_TRUE(m.options);
    EXPECT_TRUE(m.options->wait);
    EXPECT_TRUE(m.options->themed);
    EXPECT_EQ(m.options->extraFlags, 0x10u);
    EXPECT_EQ(m.options->preUninstall, "\"tidy.exe\" /u");
    EXPECT_EQ(m.options->closingDocument, "https://example.com/");
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].name, "");
    EXPECT_EQ(m.files[0].flags, 0);
    EXPECT_EQ(m.files[1].flags, 0x4F);
    ASSERT_EQ(m.groups.size(), 1u);
    EXPECT_EQ(m.groups[0].levels, 3u);
    EXPECT_EQ(m.groups[0].secondFolder, "C:\\H");
    EXPECT_EQ(m.groups[0].fileName, "x.lnk");
    ASSERT_EQ(m.registry.size(), 3u);
    EXPECT_EQ(m.registry[0].root, ROOT_HKLM);
    EXPECT_FALSE(m.registry[0].value);
    EXPECT_EQ(m.registry[1].root, ROOT_HKCU);
    EXPECT_EQ(m.registry[1].value, std::string("Path"));
    EXPECT_EQ(m.registry[2].root, ROOT_HKCC);
    EXPECT_EQ(m.patterns, std::vector<std::string>{"logs\\*.log"});
    EXPECT_FALSE(m.records);
}

TEST(ManifestJson, DefaultsAreEnglishInCodePage1252) {
    Manifest m = parseManifest("{}");
    EXPECT_EQ(m.codePage, 1252u);
    EXPECT_EQ(m.texts.language, "English");
    EXPECT_TRUE(m.texts.texts.empty());
    EXPECT_FALSE(m.options);
}

TEST(ManifestJson, MistakesAreNamedByTheirPlace) {
    EXPECT_EQ(errorWhere(R"({"fles": []})"), "fles");
    EXPECT_EQ(errorWhere(R"({"files": [{"folder": "."}, {"folder": ".", "flgs": []}]})"),
              "files[1].flgs");
    EXPECT_EQ(errorWhere(R"({"files": [{"folder": ".", "flags": ["hidden"]}]})"),
              "files[0].flags[0]");
    EXPECT_EQ(errorWhere(R"({"files": [{"folder": ".", "flags": [256]}]})"), "files[0].flags[0]");
    EXPECT_EQ(errorWhere(R"({"files": [{"name": "a"}]})"), "files[0]");
    EXPECT_EQ(errorWhere(R"({"groups": [{"folder": "C:\\G", "levels": 256}]})"),
              "groups[0].levels");
    EXPECT_EQ(errorWhere(R"({"groups": [{"folder": "C:\\G", "levels": -1}]})"), "groups[0].levels");
    EXPECT_EQ(errorWhere(R"({"registry": [{"root": "HKXX", "key": "a"}]})"), "registry[0].root");
    EXPECT_EQ(errorWhere(R"({"registry": [{"root": "HKCU"}]})"), "registry[0]");
    EXPECT_EQ(errorWhere(R"({"language": "Latin"})"), "language");
    EXPECT_EQ(errorWhere(R"({"texts": {"title": "x"}})"), "texts.title");
    EXPECT_EQ(errorWhere(R"({"texts": {"caption": 5}})"), "texts.caption");
    EXPECT_EQ(errorWhere(R"({"options": {"wait": "yes"}})"), "options.wait");
    EXPECT_EQ(errorWhere(R"({"options": {"extraFlags": 1}})"), "options.extraFlags");
    EXPECT_EQ(errorWhere(R"({"patterns": "a"})"), "patterns");
    EXPECT_EQ(errorWhere(R"({"records": [{"type": "end"}], "files": []})"), "files");
    EXPECT_EQ(errorWhere(R"({"records": [{"type": "file"}]})"), "records[0].type");
    EXPECT_EQ(errorWhere(R"({"records": [{"tag": 4660, "body": "0g"}]})"), "records[0].body");
    EXPECT_EQ(errorWhere(R"({"records": [{"tag": 4660, "body": "abc"}]})"), "records[0].body");
    EXPECT_EQ(errorWhere(R"({"records": [{"tag": 65536}]})"), "records[0].tag");
    EXPECT_EQ(errorWhere("[1, 2]"), "");
    EXPECT_EQ(errorWhere("{\"files\": ["), "");
}

TEST(ManifestJson, PrintingAndReadingAgainGivesTheSameManifest) {
    const char* text = R"({
      "codePage": 1252, "language": "none", "texts": {"caption": "Ça", "3": "Oui"},
      "options": {"wait": false, "themed": true, "closingDocument": "d.htm"},
      "files": [{"folder": ".", "name": "a", "flags": ["font", 128]}],
      "groups": [{"folder": "C:\\G", "levels": 0}],
      "registry": [{"root": "0x12345678", "key": "K", "value": ""}],
      "patterns": ["a\\*", "#Windows#\\x\\*.tmp"]})";
    Manifest m = parseManifest(text);
    std::string printed = formatManifest(m);
    EXPECT_EQ(manifestToJson(parseManifest(printed)), manifestToJson(m));
    EXPECT_EQ(formatManifest(parseManifest(printed)), printed);
    EXPECT_NE(printed.find("\"flags\": [\"font\", 128]"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\"root\": \"0x12345678\""), std::string::npos) << printed;

    Manifest records = parseManifest(R"({"records": [
      {"type": "strings", "language": "none", "texts": {"caption": "x"}},
      {"tag": "0x1238", "flags": 1, "reserved": 2, "body": "00ff"},
      {"type": "files", "files": []}, {"type": "end"}]})");
    ASSERT_TRUE(records.records);
    ASSERT_EQ(records.records->size(), 4u);
    EXPECT_EQ((*records.records)[1].raw.tag, 0x1238);
    EXPECT_EQ((*records.records)[1].raw.flags, 1);
    EXPECT_EQ((*records.records)[1].raw.reserved, 2);
    EXPECT_EQ((*records.records)[1].raw.body, (Bytes{0x00, 0xFF}));
    EXPECT_EQ(manifestToJson(parseManifest(formatManifest(records))), manifestToJson(records));
}

TEST(RegistryEntries, AValueIsTheTextAfterADoubledLastBackslash) {
    struct Case {
        const char* path;
        const char* key;
        const char* value; // nullptr: a key entry
    } cases[] = {
        {"Software\\V", "Software\\V", nullptr}, {"Software\\V\\\\Path", "Software\\V", "Path"},
        {"Software\\V\\\\", "Software\\V", ""},  {"\\\\Name", "", "Name"},
        {"\\Only", "\\Only", nullptr},           {"A\\\\\\B", "A\\", "B"},
        {"A\\\\B\\C", "A\\\\B\\C", nullptr},     {"", "", nullptr},
    };
    for (const Case& c : cases) {
        RegistryItem item = registryItem(ROOT_HKCU, c.path);
        EXPECT_EQ(item.key, c.key) << c.path;
        EXPECT_EQ(bool(item.value), c.value != nullptr) << c.path;
        if (c.value && item.value)
            EXPECT_EQ(*item.value, c.value) << c.path;
        EXPECT_EQ(registryPath(item), c.path);
    }
    EXPECT_EQ(registryRoot("HKU"), ROOT_HKU);
    EXPECT_EQ(registryRoot("HKEY_CLASSES_ROOT"), ROOT_HKCR);
    EXPECT_EQ(registryRoot("HKEY_DYN_DATA"), ROOT_HKDD);
    EXPECT_FALSE(registryRoot("HKEY"));
    EXPECT_EQ(registryRootName(0x80000004u), std::string("HKPD"));
    EXPECT_FALSE(registryRootName(0x80000007u));
}
