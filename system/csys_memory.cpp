#include "system/csys_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/atomic.h"
#include "system/csys_memory_testing.h"

namespace {

const csys_heap kProcessHeap = {&std::malloc, &std::realloc, &std::free};
std::atomic<const csys_heap*> gHeap{&kProcessHeap};

const csys_heap& heap() { return *gHeap.load(std::memory_order_acquire); }

void*& slotRef(void* slot) { return *static_cast<void**>(slot); }

} // namespace

void csys_setHeap(const csys_heap* h) { gHeap.store(h ? h : &kProcessHeap, std::memory_order_release); }

csysStatus csys_atomicIncrement(int32_t* counter, int32_t* newValue)
{
    if (!counter)
        return csysErrNullArg;
    int32_t v = plat::atomicIncrement(counter);
    if (newValue)
        *newValue = v;
    return csysOk;
}

csysStatus csys_atomicDecrement(int32_t* counter, int32_t* newValue)
{
    if (!counter)
        return csysErrNullArg;
    int32_t v = plat::atomicDecrement(counter);
    if (newValue)
        *newValue = v;
    return csysOk;
}

csysStatus csys_atomicExchange(int32_t* target, int32_t value, int32_t* previous)
{
    if (!target)
        return csysErrNullArg;
    int32_t v = plat::atomicExchange(target, value);
    if (previous)
        *previous = v;
    return csysOk;
}

csysStatus csys_alloc(int32_t size, void* slot)
{
    if (!slot)
        return csysErrNullArg;
    if (size < 0)
        return csysErrBadSize;
    void* block = nullptr;
    if (size > 0) {
        block = heap().allocate(static_cast<size_t>(size));
        if (!block)
            return csysErrNoMemory;
    }
    // The old block goes only once the new one exists.
    heap().release(slotRef(slot));
    slotRef(slot) = block;
    return csysOk;
}

csysStatus csys_allocNonEmpty(int32_t size, void* slot)
{
    if (size == 0)
        return csysOk;
    return csys_alloc(size, slot);
}

csysStatus csys_allocZeroed(int32_t size, void* slot)
{
    csysStatus st = csys_alloc(size, slot);
    if (st == csysOk && size > 0)
        std::memset(slotRef(slot), 0, static_cast<size_t>(size));
    return st;
}

csysStatus csys_realloc(int32_t size, void* slot)
{
    if (!slot)
        return csysErrNullArg;
    if (size < 0)
        return csysErrBadSize;
    if (size == 0)
        return csys_free(slot);
    void* block = heap().reallocate(slotRef(slot), static_cast<size_t>(size));
    if (!block)
        return csysErrNoMemory; // realloc keeps the old block on failure
    slotRef(slot) = block;
    return csysOk;
}

csysStatus csys_alloc64With(uint32_t sizeLow, int32_t sizeHigh, void* slot, csys_allocFunction allocate)
{
    if (!allocate)
        return csysErrNullArg;
    if (sizeHigh < 0)
        return csysErrBadSize;
    // Only sizes below 2^31 pass: the high word must extend the low one.
    if (sizeHigh != 0 || sizeLow > 0x7FFFFFFFu)
        return csysErrNoMemory;
    return allocate(static_cast<int32_t>(sizeLow), slot);
}

csysStatus csys_alloc64(uint32_t sizeLow, int32_t sizeHigh, void* slot)
{
    return csys_alloc64With(sizeLow, sizeHigh, slot, &csys_alloc);
}

csysStatus csys_free(void* slot)
{
    if (!slot)
        return csysErrNullArg;
    heap().release(slotRef(slot));
    slotRef(slot) = nullptr;
    return csysOk;
}

csysStatus csys_cleanupFree(void* slot)
{
    if (!slot)
        return csysErrNullArg;
    heap().release(slotRef(slot));
    return csysOk;
}
