// File routines: the reader, the removal passes, self-deletion and the log
// open and make files through these.
#pragma once

#include <windows.h>

#include <stdint.h>

// File routines. The handles are -1 (INVALID_HANDLE_VALUE) on failure.
enum { FILE_MODE_READ = 0, FILE_MODE_WRITE = 1, FILE_MODE_READ_WRITE = 2 };
HANDLE openExistingFile(const char* path, int mode);
HANDLE createNewFile(const char* path);
int readExact(HANDLE file, void* buffer, uint32_t n); // 0 when exactly n bytes were read, else 1
uint32_t fileTell(HANDLE file);
uint32_t fileSeek(HANDLE file, uint32_t position); // the new position
BOOL closeFile(HANDLE file);
// The temporary folder, with its backslash, into `path` (PATH_BUFFER_SIZE
// bytes); false when there is none or it does not fit.
bool getTempFolder(char* path);
// Creates a new file named by `pattern` (one %d, from 1 to 998) in the folder
// that `path` (PATH_BUFFER_SIZE bytes) holds, never over an existing one; `path`
// receives its path. The open handle, or INVALID_HANDLE_VALUE when the names
// are all taken, the path does not fit or the folder refuses.
HANDLE createNumberedFile(char* path, const char* pattern);
// `pattern` with its first "%d" replaced by `number` in decimal, into `out`,
// which has room for the pattern and eleven characters.
void formatNumber(char* out, const char* pattern, int number);
