// File routines: the reader and the removal passes open files through these.
#include "../base/seam.h"
#include "payload.h"

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
