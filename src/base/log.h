// The uninstall log: what the uninstaller decided about each entry, every
// question and who answered it, the pre-uninstall program, self-deletion and
// the exit code. Plain UTF-8 text, one record a line:
//   KIND <tab> OUTCOME <tab> REASON <tab> SUBJECT <cr><lf>
// A log that cannot be opened or written changes nothing else: every call
// below then does nothing.
#pragma once

#include <windows.h>

#include <stdint.h>

// The record kinds, in the order of their words in log.cpp.
enum LogKind {
    LOG_LOG,           // the first record: the format's version, the command line
    LOG_FILE,          // an installed, pattern or group file
    LOG_FOLDER,        // a folder of any pass
    LOG_PATTERN,       // a pattern, when it is not walked
    LOG_KEY,           // a registry key: its root, then its path
    LOG_VALUE,         // a registry value: its root, its key, two backslashes, its name
    LOG_QUESTION,      // the answer, who gave it, the question's text
    LOG_PROGRAM,       // the pre-uninstall program: its command line
    LOG_SELF_DELETION, // whether the batch file was started
    LOG_ERROR,         // the payload could not be read: its error, the executable
    LOG_EXIT,          // the exit code
};

// Outcome and reason, in the order of their words in log.cpp; "%d" is the
// record's number.
enum LogOutcome {
    LOG_STARTED,       // started
    LOG_REMOVED,       // removed
    LOG_NOT_FOUND,     // skipped not-found
    LOG_IN_USE,        // kept in-use
    LOG_NOT_EMPTY,     // kept not-empty
    LOG_REFUSED,       // kept refused (access denied)
    LOG_FAILED,        // kept error %d
    LOG_ANSWERED_NO,   // kept answered-no
    LOG_SHARED_COUNT,  // kept shared-count: other products still use it
    LOG_PROTECTED,     // kept protected
    LOG_LINK,          // kept link: it is one, or lies behind one
    LOG_GUARDED,       // kept guarded: a registry branch no entry may remove
    LOG_TOO_LONG,      // skipped too-long
    LOG_UNANCHORED,    // skipped unanchored: neither below the installation folder nor full
    LOG_UNRESOLVED,    // skipped unresolved: a macro with no folder here, or too long expanded
    LOG_UNSAFE,        // skipped unsafe: a pattern the walk refuses
    LOG_ENDED,         // ended %d: the program's exit code
    LOG_NOT_STARTED,   // failed error %d
    LOG_SCHEDULED,     // scheduled
    LOG_NOT_SCHEDULED, // not-scheduled
    LOG_PAYLOAD_ERROR, // failed payload %d
    LOG_CODE,          // %d
};

// Opens the log that the options ask for (state.logPath), and writes its first
// record with the command line `tail`.
void openLog(const char* tail);
// Writes the last records still buffered and closes the log.
void closeLog();
// One record; `name`, when not null, follows `subject` after a backslash.
void logEvent(int kind, int outcome, const char* subject, const char* name = nullptr,
              int number = 0);
// The record of a removal that ended with Win32 error `error` (0: removed).
void logResult(int kind, DWORD error, const char* subject, const char* name = nullptr);
// The same for a call's result: on failure, the error it left.
void logCall(int kind, BOOL ok, const char* subject, const char* name = nullptr);
// A folder or file passed over: not a full path, not found, or behind a link.
void logLink(int kind, const char* path);
// A registry entry of the predefined key `root`: `outcome`, or with a negative
// one the outcome of registry error `error` (0: removed).
void logRegistry(int kind, int outcome, uint32_t root, const char* path, LONG error = 0);
// The answers past IDNO: the question dialog's two buttons for all files.
enum { LOG_YES_TO_ALL = IDNO + 1, LOG_NO_TO_ALL };
// A question (its text) and its answer (IDOK ... IDNO, LOG_YES_TO_ALL or
// LOG_NO_TO_ALL); who gave the answer: the user, or the unattended rule.
void logQuestion(const char* text, int answer);
