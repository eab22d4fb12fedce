// Memory routines used throughout the program.
#include "memory.h"

#include <stdlib.h>
#ifdef _WIN32
#include <malloc.h>

#include "../driver/seam.h"
#define HEAP_CALL(name, ...) W32(name, __VA_ARGS__)
#else
#define HEAP_CALL(name, ...) name(__VA_ARGS__)
#define _heapmin() ((void)0)
#endif
#ifdef VARNEL_TEST_HOOKS
#define COUNT_BLOCKS(delta) seamCountBlocks(delta)
#else
#define COUNT_BLOCKS(delta) ((void)0)
#endif

bool allocRaw(size_t size, void** out) {
    void* block = HEAP_CALL(malloc, size ? size : 1);
    if (!block) {
        _heapmin();
        block = HEAP_CALL(malloc, size ? size : 1);
    }
    *out = block;
    if (block)
        COUNT_BLOCKS(1);
    return block != nullptr;
}

bool allocZeroed(size_t size, void** out) {
    void* block = HEAP_CALL(calloc, 1, size ? size : 1);
    if (!block) {
        _heapmin();
        block = HEAP_CALL(calloc, 1, size ? size : 1);
    }
    *out = block;
    if (block)
        COUNT_BLOCKS(1);
    return block != nullptr;
}

bool reallocate(size_t size, void** block) {
    void* grown = HEAP_CALL(realloc, *block, size ? size : 1);
    if (!grown) {
        _heapmin();
        grown = HEAP_CALL(realloc, *block, size ? size : 1);
    }
    if (!grown)
        return false;
    if (!*block)
        COUNT_BLOCKS(1);
    *block = grown;
    return true;
}

void freeAndClear(void** block) {
    if (*block) {
        free(*block);
        COUNT_BLOCKS(-1);
        *block = nullptr;
    }
}
