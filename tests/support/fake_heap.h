// The system layer's heap (csys_setHeap) for the lifetime of the object.
// Every block starts filled with kFill, so that missing initialisation shows,
// and is followed by fence bytes, checked when it is released. Requests from
// number failFrom on (counted from 0) are refused. Blocks are plain blocks of
// the process heap, so they may be released before or after the heap is
// installed (process-wide objects the layer makes lazily outlive it), unless
// they are shifted: a shifted block must go while the heap is installed.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "system/csys_memory_testing.h"

namespace fake_heap {

class FakeHeap {
public:
    static constexpr unsigned char kFill = 0xA5, kFence = 0x5C;
    static constexpr size_t kFenceSize = 64;

    explicit FakeHeap(int failFrom = -1) : failFrom(failFrom)
    {
        self() = this;
        static const csys_heap heap = {&allocate, &reallocate, &release};
        csys_setHeap(&heap);
    }
    ~FakeHeap()
    {
        csys_setHeap(nullptr);
        self() = nullptr;
    }

    int failFrom;                 // -1: nothing is refused
    int requests = 0;             // allocations and reallocations asked for
    int releases = 0;             // non-null blocks released
    std::map<void*, size_t> live; // blocks of this heap not yet released
    std::vector<size_t> sizes;    // the size of every block made
    int fenceDamage = 0;          // fence bytes found changed on release
    // When either is set, each block starts shift bytes past a 64-byte
    // boundary, and shift then moves on by shiftStep (modulo 64): blocks at
    // any address a heap may hand out, and a reallocated block that lands
    // at another remainder.
    size_t shift = 0, shiftStep = 0;

private:
    std::map<void*, void*> origins; // shifted blocks: what malloc gave

    static FakeHeap*& self()
    {
        static FakeHeap* h = nullptr;
        return h;
    }
    // The layer may allocate on several threads at once.
    static std::recursive_mutex& lock()
    {
        static std::recursive_mutex m;
        return m;
    }
    static bool refused()
    {
        const int n = self()->requests++;
        return self()->failFrom >= 0 && n >= self()->failFrom;
    }
    static void* allocate(size_t size)
    {
        std::lock_guard<std::recursive_mutex> hold(lock());
        FakeHeap& h = *self();
        const bool shifting = h.shift || h.shiftStep;
        const size_t room = size + kFenceSize + (shifting ? 128 : 0);
        auto* raw = refused() ? nullptr : static_cast<unsigned char*>(std::malloc(room));
        if (!raw)
            return nullptr;
        unsigned char* block = raw;
        if (shifting) {
            block = raw + (-reinterpret_cast<uintptr_t>(raw) & 63) + h.shift % 64;
            h.shift = (h.shift + h.shiftStep) % 64;
            h.origins[block] = raw;
        }
        std::memset(block, kFill, size);
        std::memset(block + size, kFence, kFenceSize);
        self()->live[block] = size;
        self()->sizes.push_back(size);
        return block;
    }
    static void* reallocate(void* block, size_t size)
    {
        std::lock_guard<std::recursive_mutex> hold(lock());
        auto it = self()->live.find(block);
        if (block && it == self()->live.end())
            return refused() ? nullptr : std::realloc(block, size);
        void* moved = allocate(size);
        if (moved && block) {
            std::memcpy(moved, block, std::min(size, it->second));
            release(block);
        }
        return moved;
    }
    static void release(void* block)
    {
        std::lock_guard<std::recursive_mutex> hold(lock());
        if (!block)
            return;
        ++self()->releases;
        auto it = self()->live.find(block);
        if (it != self()->live.end()) {
            const auto* fence = static_cast<unsigned char*>(block) + it->second;
            for (size_t i = 0; i < kFenceSize; ++i)
                self()->fenceDamage += fence[i] != kFence;
            self()->live.erase(it);
        }
        auto origin = self()->origins.find(block);
        if (origin != self()->origins.end()) {
            block = origin->second;
            self()->origins.erase(origin);
        }
        std::free(block);
    }
};

} // namespace fake_heap
