// SSE2 helpers shared by this folder's fast kernels.
#pragma once
#include <emmintrin.h>
#include <xmmintrin.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "system/csys_cpu.h"
#include "system/csys_simd.h"

namespace cip_simd {

using csys_simd::load16;
using csys_simd::store16;

// Lanes of mask from a, the others from b.
inline __m128i select(__m128i mask, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Steps of 16 over a row of at least 16: a last partial step is moved back to
// end at the row's end, writing pels already written again with the same
// values. With a width that is a multiple of 8 every step starts at an even
// column.
template <class Step>
inline void steps16(int32_t width, Step step)
{
    int32_t x = 0;
    for (; x + 16 <= width; x += 16)
        step(x);
    if (x < width)
        step(width - 16);
}

// A cache hint only: a prefetch never faults, and it stays inside the row.
inline void prefetchRow(const void* row, int32_t bytes)
{
    const char* p = static_cast<const char*>(row);
    for (int32_t i = 0; i < bytes; i += 64)
        _mm_prefetch(p + i, _MM_HINT_NTA);
}

// Calls served by a fast kernel, for the tests (cip_kernels_testing.h).
inline std::atomic<uint64_t>& servedCalls()
{
    static std::atomic<uint64_t> calls{0};
    return calls;
}
inline void served() { servedCalls().fetch_add(1, std::memory_order_relaxed); }
// Of those, the calls an AVX2 kernel served.
inline std::atomic<uint64_t>& servedWideCalls()
{
    static std::atomic<uint64_t> calls{0};
    return calls;
}
inline void servedWide() { servedWideCalls().fetch_add(1, std::memory_order_relaxed); }

// The features word of the effective processor description.
[[nodiscard]] inline csysStatus features(uint32_t* bits)
{
    csysCpuInfo info;
    const csysStatus status = csys_getCpuInfo(&info);
    if (status >= 0)
        *bits = info.features;
    return status;
}

} // namespace cip_simd
