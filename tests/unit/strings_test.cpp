// Texts by number and their formatting with one path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/driver.h"
#include "driver/state.h"
#include "payload/payload.h"

namespace {

class Strings : public ::testing::Test {
  protected:
    char* table[4] = {};
    char texts[3][64] = {};
    void SetUp() override { state.stringTable = table; }
    void TearDown() override { state.stringTable = nullptr; }
    void set(int i, const char* text) {
        strcpy(texts[i], text);
        table[i] = texts[i];
    }
    std::string format(int index, const char* argument) {
        char buffer[FORMAT_BUFFER_SIZE + 8];
        memset(buffer, 'Z', sizeof(buffer));
        formatString(buffer, index, argument);
        EXPECT_EQ(buffer[FORMAT_BUFFER_SIZE], 'Z'); // nothing past the 1024 bytes
        return buffer;
    }
};

TEST_F(Strings, LookupByNumber) {
    set(0, "zero");
    set(1, "one");
    set(2, "two");
    EXPECT_STREQ(getString(0, 2), "two");
    EXPECT_STREQ(getString(0, 3), "");
    EXPECT_STREQ(getString(1, 0), "");
    EXPECT_STREQ(getString(0, -1), "");
    state.stringTable = nullptr;
    EXPECT_STREQ(getString(0, 0), "");
}

TEST_F(Strings, ResultsAreCutTo1023Characters) {
    static char longText[5000];
    memset(longText, 'a', 4000);
    longText[4000] = 0;
    table[0] = longText;
    EXPECT_EQ(format(0, "x").size(), 1023u);
    longText[0] = '%';
    longText[1] = 's';
    std::string path(3000, 'p');
    std::string out = format(0, path.c_str());
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(out.substr(0, 5), "ppppp");
}

} // namespace
