// Processes and shell: the pre-uninstall program, the closing document and
// self-deletion.
#pragma once

// buildPreUninstallCommand fills the program path and the argument text;
// releasePreUninstallCommand frees what it allocated once runProgram has
// returned.
struct PreUninstallCommand {
    const char* program;
    const char* arguments;
    char* ownedBuffer;
};
// True when there is a command to run.
bool buildPreUninstallCommand(PreUninstallCommand* command);
void releasePreUninstallCommand(PreUninstallCommand* command);
// 1 when the program was started (and, with `wait`, has ended); 0 when not.
int runProgram(const char* program, const char* arguments, int wait);

// Opens the target through the shell, or with the open command of
// `extension`'s file type.
void openClosingDocument(const char* target, const char* extension);
// Starts the hidden batch file that deletes the executable and its folder.
void scheduleSelfDeletion();
