// SSE2 helpers shared by this folder's fast kernels.
#pragma once
#include <emmintrin.h>
#include <xmmintrin.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "system/csys_cpu.h"

namespace cip_simd {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Past the cache when Stream is set and the address allows it.
template <bool Stream>
inline void store16(void* p, __m128i v)
{
    if (Stream && reinterpret_cast<uintptr_t>(p) % 16 == 0)
        _mm_stream_si128(static_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

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
