// The payload subsystem: the reader, the memory and file routines, and the
// string table with its messages.
#pragma once

#include <windows.h>

#include "../core/entries.h"
#include "../core/memory.h"
#include "../core/rules.h"

// The locator that payload writers find by its marker and patch.
extern "C" const unsigned char payloadLocator[PAYLOAD_LOCATOR_SIZE];
uint32_t payloadOffset();

// Reads the payload into the state. True on success; on failure it has shown
// the payload's error text where there is one.
bool loadPayload();
// Releases what loadPayload read.
void freePayload();

// The state's OptionsBlock (see readOptionFlags and readOptionText).
uint32_t optionFlags();
const char* optionText(uint32_t fieldOffset);

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

// Texts.

// Text numbers of the string table.
enum {
    TEXT_CAPTION = 0,
    TEXT_CONFIRM = 1,
    TEXT_DONE = 2,
    TEXT_YES = 3,
    TEXT_YES_TO_ALL = 4,
    TEXT_NO = 5,
    TEXT_NO_TO_ALL = 6,
    TEXT_READ_ONLY_QUESTION = 9,
    TEXT_SHARED_QUESTION = 10,
    TEXT_STAGE_FILES = 11,
    TEXT_STAGE_GROUPS = 12,
    TEXT_STAGE_FOLDERS = 13,
    TEXT_STAGE_REGISTRY = 14,
    TEXT_IN_USE = 15,
};

// Text `index` of table 0; the empty string for any text that is missing.
const char* getString(int table, int index);
// Writes text `index`, with `argument` in place of its %s, into a buffer of
// FORMAT_BUFFER_SIZE bytes; the result is always terminated.
void formatString(char* buffer, int index, const char* argument);
// A message box owned by the main window; the button pressed (0 on failure).
int showMessage(const char* text, unsigned style);
