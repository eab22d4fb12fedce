// The heap beneath the memory routines: the system's runtime library's
// (msvcrt, loaded from the System folder), whose free memory _heapmin hands
// back to the system. The test build counts the blocks held.
#include <malloc.h>
#include <stdlib.h>

#include "../core/memory.h"
#include "seam.h"

#ifdef VARNEL_TEST_HOOKS
#define COUNT_BLOCKS(delta) seamCountBlocks(delta)
#else
#define COUNT_BLOCKS(delta) ((void)0)
#endif

void* heapTake(size_t size, bool zeroed) {
    void* block = zeroed ? W32(calloc, 1, size) : W32(malloc, size);
    if (block)
        COUNT_BLOCKS(1);
    return block;
}

void* heapResize(void* block, size_t size) {
    void* moved = W32(realloc, block, size);
    if (moved && !block)
        COUNT_BLOCKS(1);
    return moved;
}

void heapRelease(void* block) {
    W32(free, block);
    COUNT_BLOCKS(-1);
}

void heapCompact() {
    W32(_heapmin);
}
