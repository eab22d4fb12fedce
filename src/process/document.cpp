// The closing document: opened through the shell, or with the open command
// registered for a file type when the shell cannot open it.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../payload/payload.h"
#include "process.h"

LONG readDefaultValue(HKEY root, const char* subKey, char* buffer) {
    HKEY key;
    LONG error = W32(RegOpenKeyExA, root, subKey, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return error;
    LONG size = PATH_BUFFER_SIZE;
    error = W32(RegQueryValueA, key, nullptr, buffer, &size);
    W32(RegCloseKey, key);
    // A value stored without its terminator still ends inside the buffer; a
    // longer one fails (ERROR_MORE_DATA) rather than being cut.
    if (error == ERROR_SUCCESS)
        buffer[size > 0 && size < PATH_BUFFER_SIZE ? size : PATH_BUFFER_SIZE - 1] = 0;
    return error;
}

static bool startsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char c = *text >= 'A' && *text <= 'Z' ? (char)(*text + 32) : *text;
        if (c != *prefix)
            return false;
    }
    return true;
}

void openClosingDocument(const char* target, const char* extension) {
    char* command = nullptr;
    char* folder = nullptr;
    size_t targetLength = strlen(target);
    // A target that does not fit its copy is refused whole.
    if (targetLength >= COMMAND_BUFFER_SIZE || !allocZeroedAs(COMMAND_BUFFER_SIZE, &command) ||
        !allocZeroedAs(COMMAND_BUFFER_SIZE, &folder)) {
        freeAndClearAs(&command);
        return;
    }
    strcpy(folder, target);
    const char* workingFolder = nullptr;
    if (!startsWithNoCase(target, "http://") && !startsWithNoCase(target, "https://")) {
        char* lastBackslash = strrchr(folder, '\\');
        if (lastBackslash) {
            *lastBackslash = 0;
            workingFolder = folder;
        }
    }
    if ((INT_PTR)W32(ShellExecuteA, nullptr, "open", target, nullptr, workingFolder, SW_SHOW) <=
            32 &&
        readDefaultValue(HKEY_CLASSES_ROOT, extension, command) == ERROR_SUCCESS) {
        strcat(command, "\\shell\\open\\command");
        if (readDefaultValue(HKEY_CLASSES_ROOT, command, command) == ERROR_SUCCESS) {
            char* cut = strstr(command, "\"%1\"");
            if (!cut)
                cut = strstr(command, "%1");
            if (cut)
                *cut = 0;
            // The command, a space and the target must fit whole.
            if (strlen(command) + 1 + targetLength < COMMAND_BUFFER_SIZE) {
                strcat(command, " ");
                strcat(command, target);
                W32(WinExec, command, SW_SHOW);
            }
        }
    }
    freeAndClearAs(&folder);
    freeAndClearAs(&command);
}
