// Helpers shared by the plain kernels of this folder.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/cip_status.h"
#include "system/csys_cleanup.h"
#include "system/csys_memory.h"

namespace cip_work {

// Halves round up.
inline uint8_t avg(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// Row y of an image, the offset computed in ptrdiff_t.
template <typename T>
T* rowAt(T* first, int32_t y, int32_t stride)
{
    return first + static_cast<ptrdiff_t>(y) * stride;
}

// The checks every conversion starts with, in their order: width, height,
// then the source stride against the width and the destination stride
// against the row it must hold.
[[nodiscard]] inline csysStatus checkSizes(int32_t width, int32_t height, int32_t sourceStride,
                                           int32_t destinationStride, int64_t destinationMinimum)
{
    if (width < 1)
        return cipErrBadWidth;
    if (height < 1)
        return cipErrBadHeight;
    if (sourceStride < width || destinationStride < destinationMinimum)
        return cipErrBadStride;
    return csysOk;
}

// Work memory of a size computed in 64 bits; sizes of 2^31 or more give
// csysErrNoMemory. The caller pushes the block on its clean-up stack.
[[nodiscard]] inline csysStatus allocBytes(int64_t size, void* slot)
{
    const uint64_t bytes = static_cast<uint64_t>(size);
    return csys_alloc64(static_cast<uint32_t>(bytes), static_cast<int32_t>(bytes >> 32), slot);
}

// Allocates the block into *slot and pushes its release on the stack (run on
// every exit), so that one finish() frees it.
template <int N>
[[nodiscard]] csysStatus allocWork(csys_cleanupStack<N>& cleanup, int64_t size, uint8_t** slot)
{
    csysStatus status = allocBytes(size, slot);
    if (status < 0)
        return status;
    status = cleanup.push(0, csysCleanupAlways1, slot, &csys_cleanupFree);
    if (status < 0)
        (void)csys_free(slot); // a slot just filled: freeing it cannot fail
    return status;
}

// Round half away from zero, saturated to the 32-bit range (finite input).
inline int32_t roundSaturated(double value)
{
    const double r = std::round(value);
    if (r >= 2147483647.0)
        return INT32_MAX;
    if (r <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(r);
}

} // namespace cip_work
