// The registry pass: the payload's keys, each with its sub-keys, and values.
#include <string.h>

#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "../ui/ui.h"
#include "removal.h"

LONG deleteKeyTree(HKEY parent, const char* subKey) {
    if (!subKey || !subKey[0])
        return ERROR_BADKEY;
    HKEY key;
    LONG result = W32(RegOpenKeyExA, parent, subKey, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char name[1024];
    for (;;) {
        DWORD length = sizeof(name);
        result = W32(RegEnumKeyExA, key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = W32(RegDeleteKeyA, parent, subKey);
            break;
        }
        // The first sub-key that cannot go stops the whole tree: asking for
        // index 0 again would find it again.
        if (result != ERROR_SUCCESS || (result = deleteKeyTree(key, name)) != ERROR_SUCCESS)
            break;
    }
    W32(RegCloseKey, key);
    return result;
}

void runRegistryPass() {
    for (uint32_t i = 0; i < state.registryCount; ++i) {
        RegistryEntry* entry = state.registryEntries[i];
        HKEY root = (HKEY)(ULONG_PTR)entry->root;
        char* path = entry->path;
        // A value entry is a key part, two backslashes and a value name (none:
        // the default value); with an empty key part, a value of the root.
        char* name = (char*)registryValueName(path);
        int kind = name ? LOG_VALUE : LOG_KEY;
        LONG result;
        if (isGuardedEntry(entry->root, path)) {
            logRegistry(kind, LOG_GUARDED, entry->root, path);
        } else if (name) {
            HKEY key;
            name[-2] = 0;
            result = W32(RegOpenKeyA, root, path, &key);
            if (result == ERROR_SUCCESS) {
                result = W32(RegDeleteValueA, key, name);
                W32(RegCloseKey, key);
            }
            name[-2] = '\\';
            logRegistry(LOG_VALUE, -1, entry->root, path, result);
            continue; // a value entry does not move the bar
        } else {
            // 9x deletes the sub-keys with the key.
            result = state.isNT ? deleteKeyTree(root, path) : W32(RegDeleteKeyA, root, path);
            logRegistry(LOG_KEY, -1, entry->root, path, result);
        }
        reportProgress(SPAN_REGISTRY, i);
    }
}
