// Font and COM server unregistration of flagged installed files.
#include "removal.h"

void unregisterFont(const char*) {}

void unregisterComServer() {}
