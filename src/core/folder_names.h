// Folder macro names and the way paths and names are compared, shared by the
// uninstaller and the authoring tool so that both always read a payload the
// same way. Plain C++, no platform headers.
#pragma once

// The folder macros, in the order of their numbers.
enum {
    MACRO_WINDOWS,
    MACRO_SYSTEM,
    MACRO_TEMP,
    MACRO_COMMON_FILES,
    MACRO_PROGRAM_FILES,
    MACRO_MY_DOCUMENTS,
    MACRO_DESKTOP,
    MACRO_APP_DATA,
    MACRO_LOCAL_APP_DATA,
    MACRO_ALL_USERS_APP_DATA,
    MACRO_ALL_USERS_DOCUMENTS,
    MACRO_ALL_USERS_DESKTOP,
    MACRO_USER_DIR,
    MACRO_ALL_USERS_DIR,
    MACRO_INSTALL_DIR,
    MACRO_COUNT
};

static const char* const macroNames[MACRO_COUNT] = {
    "#Windows#",           "#System#",          "#TempDir#", "#CommonFiles#",  "#Program Files#",
    "#MyDocuments#",       "#Desktop#",         "#AppData#", "#LocalAppData#", "#AllUsersAppData#",
    "#AllUsersDocuments#", "#AllUsersDesktop#", "#UserDir#", "#AllUsersDir#",  "#InstallDir#",
};

inline char asciiLowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// 1 when the two strings are equal without regard to the case of ASCII letters.
inline int asciiEqualNoCase(const char* a, const char* b) {
    for (; asciiLowerChar(*a) == asciiLowerChar(*b); ++a, ++b)
        if (!*a)
            return 1;
    return 0;
}
