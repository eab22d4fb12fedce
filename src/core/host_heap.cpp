// The heap beneath the memory routines where the C library provides it: the
// authoring tool, the fuzzers and the host tests.
#include <stdlib.h>

#include "memory.h"

void* heapTake(size_t size, bool zeroed) {
    return zeroed ? calloc(1, size) : malloc(size);
}

void* heapResize(void* block, size_t size) {
    return realloc(block, size);
}

void heapRelease(void* block) {
    free(block);
}

void heapCompact() {}
