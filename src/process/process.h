// Processes and shell: the pre-uninstall program, the closing document and
// self-deletion.
#pragma once

#include <windows.h>

// buildPreUninstallCommand fills the program path and the argument text;
// releasePreUninstallCommand frees what it allocated once runProgram has
// returned.
struct PreUninstallCommand {
    const char* program;
    const char* arguments;
    char* ownedBuffer;
};
// True when there is a command to run. A command that would not fit its
// buffer is refused (false), never cut.
bool buildPreUninstallCommand(PreUninstallCommand* command);
void releasePreUninstallCommand(PreUninstallCommand* command);
// Starts the program from its own folder, with the current directory restored
// afterwards. 1 and the process handle (the caller closes it), or 0 and null:
// also when the quoted program and its arguments would not fit in 520 bytes.
int startProgram(const char* program, const char* arguments, HANDLE* process);
// True while the process has not ended (whatever its exit code).
bool isProcessRunning(HANDLE process);
// 1 when the program was started (and, with `wait`, has ended); 0 when not.
// Window messages are pumped every 200 ms while it waits.
int runProgram(const char* program, const char* arguments, int wait);

// Opens the target through the shell, or with the open command of
// `extension`'s file type.
void openClosingDocument(const char* target, const char* extension);
// Reads the default value of `root`\`subKey` into `buffer` (260 bytes; it may
// also hold `subKey`). 0 on success, else the registry error.
LONG readDefaultValue(HKEY root, const char* subKey, char* buffer);

// Starts the hidden batch file that deletes the executable and its folder;
// false when none was started.
bool scheduleSelfDeletion();
