// The wildcard pattern pass.
#include "../driver/state.h"
#include "removal.h"

void removePatterns() {}
