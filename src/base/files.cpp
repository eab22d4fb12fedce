// File routines: the reader, the removal passes, self-deletion and the log
// open and make files through these.
#include <string.h>

#include "../core/rules.h"
#include "files.h"
#include "seam.h"

HANDLE openExistingFile(const char* path, int mode) {
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    if (mode == FILE_MODE_WRITE) {
        access = GENERIC_WRITE;
        share = 0;
    } else if (mode == FILE_MODE_READ_WRITE) {
        access = GENERIC_READ | GENERIC_WRITE;
    }
    return W32(CreateFileA, path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
               nullptr);
}

HANDLE createNewFile(const char* path) {
    return W32(CreateFileA, path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
               nullptr);
}

int readExact(HANDLE file, void* buffer, uint32_t n) {
    DWORD got = 0;
    if (!W32(ReadFile, file, buffer, n, &got, nullptr) || got != n)
        return 1;
    return 0;
}

uint32_t fileTell(HANDLE file) {
    return W32(SetFilePointer, file, 0, nullptr, FILE_CURRENT);
}

uint32_t fileSeek(HANDLE file, uint32_t position) {
    LONG high = 0; // positions are unsigned 32-bit, beyond 2 GiB too
    return W32(SetFilePointer, file, (LONG)position, &high, FILE_BEGIN);
}

BOOL closeFile(HANDLE file) {
    return W32(CloseHandle, file);
}

bool getTempFolder(char* path) {
    DWORD length = W32(GetTempPathA, PATH_BUFFER_SIZE, path);
    if (length == 0 || length >= PATH_BUFFER_SIZE - 1)
        return false;
    addTrailingBackslash(path);
    return true;
}

HANDLE createNumberedFile(char* path, const char* pattern) {
    addTrailingBackslash(path);
    char* name = path + strlen(path);
    if (strlen(path) + strlen(pattern) + 2 >= PATH_BUFFER_SIZE)
        return INVALID_HANDLE_VALUE;
    for (int i = 1; i < 999; ++i) {
        formatNumber(name, pattern, i);
        // CREATE_NEW: a file that is there, or appeared meanwhile, is never
        // overwritten, and a link of the name is not followed.
        HANDLE file = W32(CreateFileA, path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        DWORD error = W32(GetLastError);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

void formatNumber(char* out, const char* pattern, int number) {
    const char* mark = strstr(pattern, "%d");
    size_t before = mark ? (size_t)(mark - pattern) : strlen(pattern);
    memcpy(out, pattern, before);
    if (mark) {
        unsigned value = (unsigned)number;
        if (number < 0) {
            out[before++] = '-';
            value = 0u - value;
        }
        char digits[12];
        int n = 0;
        do
            digits[n++] = (char)('0' + value % 10);
        while ((value /= 10) > 0);
        while (n)
            out[before++] = digits[--n];
    }
    strcpy(out + before, mark ? mark + 2 : "");
}
