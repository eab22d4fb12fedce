// Command-line options as the driver parses them.
#include <gtest/gtest.h>

#include "driver/driver.h"
#include "driver/state.h"

namespace {

struct Parsed {
    int quiet, optS, optX;
};

Parsed parse(const char* tail) {
    state.quiet = state.optS = state.optX = 0;
    parseOptions(tail);
    return {state.quiet, state.optS, state.optX};
}

struct Case {
    const char* tail;
    Parsed expected;
};

TEST(Options, ParseLikeTheDriver) {
    const Case cases[] = {
        {nullptr, {0, 0, 0}},
        {"", {0, 0, 0}},
        {"/S", {1, 1, 0}},
        {"-x", {1, 0, 1}},
        {"-X -S", {1, 1, 1}},
        {"-q", {1, 0, 0}},
        {" /Qxyz/s", {1, 1, 0}},
        {"-q-s", {1, 1, 0}},
        {"/Xyz", {1, 0, 1}},
        {"/q foo /s", {1, 0, 0}},
        {"hello /s", {0, 0, 0}},
        {"-", {0, 0, 0}},
        {"/", {0, 0, 0}},
        {"/q /", {1, 0, 0}},
        {"/q -", {1, 0, 0}},
        {"/a /s", {1, 1, 0}},
        {"/q /q /q", {1, 0, 0}},
        {"\t/s", {0, 0, 0}}, // only 0x20 is a blank
        {"   -S   -X", {1, 1, 1}},
        {"//s", {0, 0, 0}}, // the letter after the first switch is "/", and "s" is its word
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.tail);
        SCOPED_TRACE(c.tail ? c.tail : "(null)");
        EXPECT_EQ(p.quiet, c.expected.quiet);
        EXPECT_EQ(p.optS, c.expected.optS);
        EXPECT_EQ(p.optX, c.expected.optX);
    }
}

TEST(Options, NothingPastALoneTrailingSwitchIsRead) {
    // The text ends right after the switch character; the byte after the
    // terminator is a letter that must not count.
    char text[] = {'/', 'q', ' ', '/', 0, 'S'};
    Parsed p = parse(text);
    EXPECT_EQ(p.quiet, 1);
    EXPECT_EQ(p.optS, 0);
}

} // namespace
