// The registry pass: the payload's keys, each with its sub-keys, and values.
#include <string.h>

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
        if (!isGuardedEntry(entry->root, path)) {
            if (name) {
                HKEY key;
                name[-2] = 0;
                if (W32(RegOpenKeyA, root, path, &key) == ERROR_SUCCESS) {
                    W32(RegDeleteValueA, key, name);
                    W32(RegCloseKey, key);
                }
                name[-2] = '\\';
                continue; // a value entry does not move the bar
            }
            if (state.isNT)
                deleteKeyTree(root, path);
            else
                W32(RegDeleteKeyA, root, path); // 9x deletes the sub-keys with the key
        }
        reportProgress(SPAN_REGISTRY, i);
    }
}
