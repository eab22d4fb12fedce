// The passes after the installed files: patterns, groups, pruning, registry.
#include "../driver/state.h"
#include "removal.h"

void removeGroupFiles() {}

void removeGroupFolders() {}

void pruneInstallFolders() {}

void runRegistryPass() {}
