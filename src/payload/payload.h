// The payload subsystem: the reader, and the string table with its messages
// (the file routines it reads with are in base/files.h).
#pragma once

#include <windows.h>

#include "../base/files.h"
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
