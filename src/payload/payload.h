// The payload in memory, its reader and the memory and file routines.
#pragma once

#include <windows.h>

#include "format.h"

struct FileEntry {
    char* folder; // a leading "." makes it relative to the installation folder
    char* name;   // empty for an entry that stands for the folder itself
    unsigned char flags;
};

struct GroupEntry {
    uint32_t levels;
    char* folder;
    char* secondFolder;
    char* fileName;
};

struct RegistryEntry {
    uint32_t root;
    char* path;
};

// The locator that payload writers find by its marker and patch.
extern "C" volatile const unsigned char payloadLocator[PAYLOAD_LOCATOR_SIZE];
uint32_t payloadOffset();

bool loadPayload();
// Reads the record chain that starts at `offset` of an open file into the
// state; returns 0 or the payload error code.
int readPayloadChain(HANDLE file, uint32_t offset);
void freePayload();

// The OptionsBlock's fields; a missing block or missing bytes read as 0.
uint32_t optionFlags();
// The text at one of the block's offsets, or null when the offset is 0 or does
// not point at a NUL-terminated text inside the block.
const char* optionText(uint32_t fieldOffset);

// Memory routines: each retries once after handing free heap memory back.
bool allocRaw(size_t size, void** out);
bool allocZeroed(size_t size, void** out);
bool reallocate(size_t size, void** block);
void freeAndClear(void** block);

template <typename T> inline bool allocZeroedAs(size_t size, T** out) {
    return allocZeroed(size, reinterpret_cast<void**>(out));
}
template <typename T> inline void freeAndClearAs(T** block) {
    freeAndClear(reinterpret_cast<void**>(block));
}

// File routines.
enum { FILE_MODE_READ = 0, FILE_MODE_WRITE = 1, FILE_MODE_READ_WRITE = 2 };
HANDLE openExistingFile(const char* path, int mode);
HANDLE createNewFile(const char* path);
int readExact(HANDLE file, void* buffer, uint32_t n);
uint32_t fileTell(HANDLE file);
uint32_t fileSeek(HANDLE file, uint32_t position);
BOOL closeFile(HANDLE file);
