// The AVX2 bulk of the YCbCr row conversions (cip_ycbcr_avx2.cpp, the only
// file built for AVX2): each converts a row's first pels in steps of its own
// and returns how many it wrote; the SSE2 and plain code converts the rest.
// Only called where the processor description offers AVX2.
#pragma once
#include <cstdint>

namespace cip_ycbcr_avx2 {

// UYVY into planes, pels 0..n-1 with n at most interiorEnd + 1: the pels
// whose chroma alternates between a pair's own and the halved sum with the
// next pair's.
int32_t uyvyToPlanes(const uint8_t* s, int32_t interiorEnd, uint8_t* r, uint8_t* g, uint8_t* b);

// Grey from the Y bytes of UYVY, UYV and UYYVYY rows of `pels` pels: all of
// them where there are 32 or more (for UYYVYY an odd last pel is left), else
// none.
int32_t uyvyToGrey(const uint8_t* s, int32_t pels, uint8_t* out);
int32_t uyvToGrey(const uint8_t* s, int32_t pels, uint8_t* out);
int32_t uyyvyyToGrey(const uint8_t* s, int32_t pels, uint8_t* out);

// UYV into planes, pels 0..n-1 with n at most pels.
int32_t uyvToPlanes(const uint8_t* s, int32_t pels, uint8_t* r, uint8_t* g, uint8_t* b);

// UYYVYY into planes, pels 0..n-1 with n at most interpolatingEnd (a
// multiple of 4): the pels of groups that interpolate towards the next
// group's chroma.
int32_t uyyvyyToPlanes(const uint8_t* s, int32_t interpolatingEnd, uint8_t* r, uint8_t* g, uint8_t* b);

} // namespace cip_ycbcr_avx2
