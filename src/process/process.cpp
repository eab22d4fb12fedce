// The pre-uninstall program, the closing document and self-deletion.
#include "process.h"
#include "../driver/state.h"
#include "../payload/payload.h"

bool buildPreUninstallCommand(PreUninstallCommand* command) {
    command->program = nullptr;
    command->arguments = nullptr;
    command->ownedBuffer = nullptr;
    return false;
}

void releasePreUninstallCommand(PreUninstallCommand* command) {
    freeAndClearAs(&command->ownedBuffer);
}

int runProgram(const char*, const char*, int) {
    return 0;
}

void openClosingDocument(const char*, const char*) {}

void scheduleSelfDeletion() {}
