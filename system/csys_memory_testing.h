// Test seam, not for callers: replaces the heap behind the allocation
// functions, to simulate exhaustion or to watch releases.
#pragma once
#include <cstddef>

// A null argument restores the process heap.
struct csys_heap {
    void* (*allocate)(size_t size);
    void* (*reallocate)(void* block, size_t size);
    void (*release)(void* block);
};
void csys_setHeap(const csys_heap* heap);
