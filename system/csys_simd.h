// SSE2 loads and stores shared by the fast kernels of every layer (the
// kernel layer's conversions and the pel buffers' packed colour ones).
#pragma once
#include <emmintrin.h>

#include <cstdint>

namespace csys_simd {

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Past the cache when Stream is set and the address allows it; the caller
// fences (_mm_sfence) before anything reads what was streamed.
template <bool Stream>
inline void store16(void* p, __m128i v)
{
    if (Stream && reinterpret_cast<uintptr_t>(p) % 16 == 0)
        _mm_stream_si128(static_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

} // namespace csys_simd
