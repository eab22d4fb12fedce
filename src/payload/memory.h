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

template <typename T> inline bool allocZeroedAs(size_t size, T** out) {
    return allocZeroed(size, reinterpret_cast<void**>(out));
}
template <typename T> inline bool allocRawAs(size_t size, T** out) {
    return allocRaw(size, reinterpret_cast<void**>(out));
}
template <typename T> inline void freeAndClearAs(T** block) {
    freeAndClear(reinterpret_cast<void**>(block));
}
