// The passes after the installed files: patterns, groups, pruning, registry.
#include "../driver/phases.h"
#include "../driver/state.h"

void removePatterns() {}

void removeGroupFiles() {}

void removeGroupFolders() {}

void pruneInstallFolders() {}

void runRegistryPass() {}
