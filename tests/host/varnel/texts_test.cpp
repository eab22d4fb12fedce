#include <gtest/gtest.h>

#include <set>

#include "codepage.h"
#include "manifest.h"
#include "texts.h"

using namespace varnel;

TEST(TextNames, NamesAndNumbersCorrespond) {
    const char* expected[] = {"caption",        "confirm",
                              "done",           "yes",
                              "yesToAll",       "no",
                              "noToAll",        "noMemory",
                              "damaged",        "readOnlyQuestion",
                              "sharedQuestion", "stageFiles",
                              "stageGroups",    "stageFolders",
                              "stageRegistry",  "inUse"};
    for (unsigned i = 0; i < TEXT_COUNT; ++i) {
        EXPECT_EQ(textNumber(expected[i]), i);
        EXPECT_EQ(textKey(i), expected[i]);
    }
    EXPECT_EQ(textNumber("16"), 16u);
    EXPECT_EQ(textNumber("7"), 7u);
    EXPECT_EQ(textKey(16), "16");
    for (const char* bad : {"Caption", "", "016", "-1", "99999", "1a", "title"})
        EXPECT_FALSE(textNumber(bad)) << bad;
}

TEST(BuiltInLanguages, EveryTextIsThereAndFitsItsCodePage) {
    for (const std::string& language : languageNames()) {
        const auto* texts = languageTexts(language);
        ASSERT_NE(texts, nullptr) << language;
        std::set<std::string> buttons;
        for (unsigned i = 0; i < TEXT_COUNT; ++i) {
            std::string text = (*texts)[i];
            EXPECT_FALSE(text.empty()) << language << " " << i;
            EXPECT_TRUE(utf8ToCodePage(text, *languageCodePage(language))) << language << " " << i;
            bool path = i == 7 || i == 8 || i == 9 || i == 10;
            EXPECT_EQ(text.find("%s") != std::string::npos, path) << language << " " << i;
            EXPECT_EQ(text.find('%'), text.rfind('%')) << language << " " << i;
        }
        for (unsigned i = 3; i <= 6; ++i)
            buttons.insert((*texts)[i]);
        EXPECT_EQ(buttons.size(), 4u) << language;
    }
    EXPECT_NE(languageTexts("german"), nullptr);
    EXPECT_EQ(languageTexts("Klingon"), nullptr);
    EXPECT_EQ(canonicalLanguageName("JAPANESE"), "Japanese");
    // At least four languages beyond the first four, one of them East Asian.
    EXPECT_GE(languageNames().size(), 8u);
    for (const char* language : {"Italian", "Polish", "Russian", "Japanese"})
        EXPECT_NE(languageTexts(language), nullptr) << language;
    EXPECT_EQ(languageCodePage("Japanese"), 932u);
    EXPECT_EQ(languageCodePage("Russian"), 1251u);
    // A manifest without a code page takes its language's.
    EXPECT_EQ(parseManifest(R"({"language": "polish"})").codePage, 1250u);
    EXPECT_EQ(parseManifest(R"({"language": "Polish", "codePage": 1252})").codePage, 1252u);
}

TEST(TextSets, ResolveOverALanguageOrNone) {
    TextSet english;
    english.texts[0] = "Varnel Demo";
    std::vector<std::string> table = resolveTexts(english);
    ASSERT_EQ(table.size(), 16u);
    EXPECT_EQ(table[0], "Varnel Demo");
    EXPECT_EQ(table[1], (*languageTexts("English"))[1]);

    TextSet none;
    none.language = "none";
    none.texts[2] = "x";
    EXPECT_EQ(resolveTexts(none), (std::vector<std::string>{"", "", "x"}));
    none.texts.clear();
    EXPECT_TRUE(resolveTexts(none).empty());

    TextSet longer;
    longer.language = "French";
    longer.texts[17] = "extra";
    table = resolveTexts(longer);
    ASSERT_EQ(table.size(), 18u);
    EXPECT_EQ(table[16], "");
    EXPECT_EQ(table[17], "extra");
    EXPECT_EQ(table[15], (*languageTexts("French"))[15]);

    TextSet unknown;
    unknown.language = "Latin";
    EXPECT_THROW(resolveTexts(unknown), ManifestError);
}

TEST(TextSets, TheChosenSetResolvesToTheSameTableAndIsShort) {
    std::vector<std::string> german(languageTexts("German")->begin(),
                                    languageTexts("German")->end());
    TextSet set = chooseTextSet(german);
    EXPECT_EQ(set.language, "German");
    EXPECT_TRUE(set.texts.empty());

    std::vector<std::vector<std::string>> tables = {
        {},
        {""},
        {"a", "", "c"},
        german,
    };
    std::vector<std::string> spanish(languageTexts("Spanish")->begin(),
                                     languageTexts("Spanish")->end());
    spanish[0] = "Producto";
    spanish.push_back("");
    spanish.push_back("");
    tables.push_back(spanish);
    std::vector<std::string> sixteenEmpty(16);
    tables.push_back(sixteenEmpty);
    for (const auto& table : tables)
        EXPECT_EQ(resolveTexts(chooseTextSet(table)), table) << "table of " << table.size();

    set = chooseTextSet(spanish);
    EXPECT_EQ(set.language, "Spanish");
    EXPECT_EQ(set.texts.size(), 2u); // the caption and the last text (number 17)
}
