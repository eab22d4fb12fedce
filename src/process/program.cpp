// The pre-uninstall program: its command, its start from its own folder, and
// the wait for its end.
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../paths/paths.h"
#include "../payload/payload.h"
#include "../ui/ui.h"
#include "process.h"

// Splits `command` in place: a quoted program gives the program between the
// quotes (blanks trimmed) and what follows the closing quote as arguments;
// anything else is the program as it stands.
static void splitCommand(char* command, PreUninstallCommand* out) {
    out->program = command;
    out->arguments = "";
    if (command[0] != '"')
        return;
    // A quoted program with nothing after its closing quote is a program too:
    // kept in its quotes, it would be quoted once more and never start.
    char* close = strchr(command + 1, '"');
    if (!close)
        return;
    *close = 0;
    char* program = command + 1;
    while (*program == ' ')
        ++program;
    for (char* end = close; end > program && end[-1] == ' ';)
        *--end = 0;
    char* arguments = close + 1;
    while (*arguments == ' ')
        ++arguments;
    out->program = program;
    out->arguments = arguments;
}

bool buildPreUninstallCommand(PreUninstallCommand* command) {
    command->program = nullptr;
    command->arguments = nullptr;
    command->ownedBuffer = nullptr;
    const char* text = optionText(OPTIONS_PRE_UNINSTALL_OFFSET);
    if (!text)
        return false;
    const char* start = commandStart(text);

    if (*start == '#') {
        uint32_t length = expandFolderMacros(nullptr, text, 0);
        if (!allocRawAs(length + 1, &command->ownedBuffer))
            return false; // no room for the command: refused
        expandFolderMacros(command->ownedBuffer, text, length + 1);
        // A token whose folder cannot be had stays in place: the expansion
        // changed nothing, and the text is taken relative to installDir.
        if (length == strlen(text) && command->ownedBuffer[start - text] == '#')
            freeAndClearAs(&command->ownedBuffer);
        else if (length == 0)
            return false; // refused as too long, or nothing left to run
    }

    char* full = command->ownedBuffer;
    // The quote, the folder, its backslash and the rest must fit whole.
    if (!full && !joinCommand(full = state.workPath, state.installDir, text))
        return false;
    splitCommand(full, command);
    return true;
}

void releasePreUninstallCommand(PreUninstallCommand* command) {
    freeAndClearAs(&command->ownedBuffer);
}

int startProgram(const char* program, const char* arguments, HANDLE* process) {
    *process = nullptr;
    size_t programLength = strlen(program);
    size_t argumentsLength = arguments && *arguments ? strlen(arguments) + 1 : 0;
    // The quoted program, a space and the arguments must fit whole, and the
    // program's folder in a path buffer.
    if (programLength + 2 + argumentsLength >= COMMAND_BUFFER_SIZE ||
        programLength >= PATH_BUFFER_SIZE)
        return 0;
    char* line;
    char* folders;
    if (!allocRawAs(COMMAND_BUFFER_SIZE, &line))
        return 0;
    if (!allocZeroedAs(2 * PATH_BUFFER_SIZE, &folders)) {
        freeAndClearAs(&line);
        return 0;
    }
    line[0] = '"';
    memcpy(line + 1, program, programLength);
    line[programLength + 1] = '"';
    line[programLength + 2] = 0;
    if (argumentsLength) {
        strcat(line, " ");
        strcat(line, arguments);
    }

    char* saved = folders;
    char* folder = folders + PATH_BUFFER_SIZE;
    bool canRestore = readCurrentFolder(saved);
    strcpy(folder, program);
    char* lastBackslash = strrchr(folder, '\\');
    // Without a way back, the current directory is left as it is.
    if (lastBackslash && canRestore) {
        *lastBackslash = 0;
        W32(SetCurrentDirectoryA, folder);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    BOOL ok = W32(CreateProcessA, nullptr, line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                  nullptr, nullptr, &startup, &started);
    logEvent(LOG_PROGRAM, ok ? LOG_STARTED : LOG_NOT_STARTED, line, nullptr,
             ok || !state.logFile ? 0 : (int)W32(GetLastError));
    if (canRestore)
        W32(SetCurrentDirectoryA, saved);
    freeAndClearAs(&folders);
    freeAndClearAs(&line);
    if (!ok)
        return 0;
    W32(CloseHandle, started.hThread);
    *process = started.hProcess;
    return 1;
}

// The end of the process itself, not its exit code: a program may well end
// with code 259 (STILL_ACTIVE).
bool isProcessRunning(HANDLE process) {
    return W32(WaitForSingleObject, process, 0) == WAIT_TIMEOUT;
}

int runProgram(const char* program, const char* arguments, int wait) {
    HANDLE process;
    if (!startProgram(program, arguments, &process))
        return 0;
    DWORD code;
    if (wait) {
        while (isProcessRunning(process)) {
            pumpPendingMessages();
            W32(Sleep, 200);
        }
        if (state.logFile && W32(GetExitCodeProcess, process, &code))
            logEvent(LOG_PROGRAM, LOG_ENDED, program, nullptr, (int)code);
    }
    W32(CloseHandle, process);
    return 1;
}
