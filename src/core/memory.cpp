// Memory routines used throughout the program, over the heap primitives of
// the platform beneath them.
#include "memory.h"

static bool take(size_t size, bool zeroed, void** out) {
    void* block = heapTake(size ? size : 1, zeroed);
    if (!block) {
        heapCompact();
        block = heapTake(size ? size : 1, zeroed);
    }
    *out = block;
    return block != nullptr;
}

bool allocRaw(size_t size, void** out) {
    return take(size, false, out);
}

bool allocZeroed(size_t size, void** out) {
    return take(size, true, out);
}

bool reallocate(size_t size, void** block) {
    void* grown = heapResize(*block, size ? size : 1);
    if (!grown) {
        heapCompact();
        grown = heapResize(*block, size ? size : 1);
    }
    if (!grown)
        return false;
    *block = grown;
    return true;
}

void freeAndClear(void** block) {
    if (*block) {
        heapRelease(*block);
        *block = nullptr;
    }
}
