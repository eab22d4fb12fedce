// The test bed itself: nothing outside the throwaway tree can be reached.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Bed, OnlyDriveCExists) {
    EXPECT_EQ(GetLogicalDrives(), DWORD(1u << 2));
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (letter == 'C')
            continue;
        std::string root = std::string(1, letter) + ":\\";
        EXPECT_EQ(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES) << root;
    }
}

TEST(Bed, HostFoldersCannotBeReached) {
    const char* hostPaths[] = {
        "Z:\\etc\\passwd",
        "Z:\\tmp",
        "Z:\\work",
        "Z:\\root",
    };
    for (const char* path : hostPaths)
        EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << path;
}

TEST(Bed, UserFoldersAreRealFoldersInsideThePrefix) {
    // A file made in the profile folder must not appear anywhere but there:
    // the host side of the bed checks the links; here the folder must be
    // writable and empty of host content.
    char profile[MAX_PATH] = {};
    ASSERT_TRUE(GetEnvironmentVariableA("USERPROFILE", profile, sizeof(profile)));
    std::string desktop = std::string(profile) + "\\Desktop";
    DWORD attributes = GetFileAttributesA(desktop.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
