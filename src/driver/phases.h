// The calls the driver makes into the other subsystems, in calling order.
#pragma once

#include <windows.h>

#include <stdint.h>

// Installed files (removal).
int checkFilesInUse();
void removeInstalledFiles();
// Wildcard patterns, group entries, pruning and registry (removal).
void removePatterns();
void removeGroupFiles();
void removeGroupFolders();
void pruneInstallFolders();
void runRegistryPass();

// The pre-uninstall program (process). buildPreUninstallCommand fills the
// program path and the argument text; releasePreUninstallCommand frees what
// it allocated once runProgram has returned.
struct PreUninstallCommand {
    const char* program;
    const char* arguments;
    char* ownedBuffer;
};
bool buildPreUninstallCommand(PreUninstallCommand* command);
void releasePreUninstallCommand(PreUninstallCommand* command);
int runProgram(const char* program, const char* arguments, int wait);

// The closing document and self-deletion (process).
void openClosingDocument(const char* target, const char* extension);
void scheduleSelfDeletion();

// Dialogs and progress (ui).
INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK questionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void applyDialogFont(HWND dialog);
void pumpPendingMessages();
void setProgress(uint32_t percentage);
void setStageText(int index);
int askQuestion(const char* path);
