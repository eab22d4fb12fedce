// Test build only: lets a test make one folder source fail or give a chosen
// path, where the platform itself cannot be made to (see paths.h).
#ifdef VARNEL_TEST_HOOKS

#include <windows.h>

#include <string.h>

#include "paths.h"

static const char hookVariable[] = "VARNEL_PATHS_TEST_HOOKS";

int pathsTestHook(const char* source, char* out, unsigned size) {
    static char items[8192];
    DWORD length = GetEnvironmentVariableA(hookVariable, items, sizeof(items));
    if (length == 0 || length >= sizeof(items))
        return -1;
    // The last item that names the source decides.
    size_t sourceLength = strlen(source);
    const char* value = nullptr;
    size_t valueLength = 0;
    int found = -1;
    for (char* item = items; *item;) {
        char* end = strchr(item, '|');
        if (!end)
            end = item + strlen(item);
        size_t itemLength = (size_t)(end - item);
        if (itemLength >= sourceLength && memcmp(item, source, sourceLength) == 0) {
            if (itemLength == sourceLength) {
                found = 0;
            } else if (item[sourceLength] == '=') {
                found = 1;
                value = item + sourceLength + 1;
                valueLength = itemLength - sourceLength - 1;
            }
        }
        item = *end ? end + 1 : end;
    }
    if (found == 1) {
        if (valueLength > size - 1)
            valueLength = size - 1;
        memcpy(out, value, valueLength);
        out[valueLength] = 0;
    }
    return found;
}

#endif
