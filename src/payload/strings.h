// The string table: texts by number, formatting with one path, message boxes.
#pragma once

enum { FORMAT_BUFFER_SIZE = 1024 };

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

const char* getString(int table, int index);
// Writes text `index`, with `argument` in place of its %s, into a buffer of
// FORMAT_BUFFER_SIZE bytes; the result is always terminated.
void formatString(char* buffer, int index, const char* argument);
int showMessage(const char* text, unsigned style);
