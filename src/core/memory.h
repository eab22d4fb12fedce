// Memory routines used throughout the program. Each of the allocating ones,
// when the heap cannot supply the block, hands the runtime heap's free memory
// back to the system and tries exactly once more. Results: true on success.
#pragma once

#include <stddef.h>

bool allocRaw(size_t size, void** out);    // an unzeroed block
bool allocZeroed(size_t size, void** out); // a zeroed block
// On failure the old block stays valid and unchanged.
bool reallocate(size_t size, void** block);
// Releases the block unless the pointer is null, and sets the pointer to null.
void freeAndClear(void** block);

// The heap beneath them, which the platform provides (the executable's own in
// base/heap.cpp, the C library's in core/host_heap.cpp): a block of `size`
// bytes, zeroed when asked; a block moved to `size` bytes (a null block: a new
// one), the old block untouched on failure; a block given back; and the free
// memory the heap holds handed back to the system. Null on failure.
void* heapTake(size_t size, bool zeroed);
void* heapResize(void* block, size_t size);
void heapRelease(void* block);
void heapCompact();

template <typename T> inline bool allocZeroedAs(size_t size, T** out) {
    return allocZeroed(size, reinterpret_cast<void**>(out));
}
template <typename T> inline bool allocRawAs(size_t size, T** out) {
    return allocRaw(size, reinterpret_cast<void**>(out));
}
template <typename T> inline void freeAndClearAs(T** block) {
    freeAndClear(reinterpret_cast<void**>(block));
}
