// Built for AVX2: includes nothing with inline functions of external linkage,
// whose AVX2 copy the linker could hand to callers on any processor.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "kernels/internal/cip_ycbcr_avx2.h"
#include "kernels/internal/cip_ycbcr_fixed.h"

using namespace cip_ycbcr;

namespace {

__m256i load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void store32(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// 16-bit pairs (a, b) repeated, for a multiply-add.
__m256i pairs(int32_t a, int32_t b) { return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(a)) | uint32_t(b) << 16)); }

// Two 32-bit sums per word pair: the even pel's sum and the odd pel's, each
// with its offset; out the 16-bit floor(sum / 2^13) of both, in pel order.
// The odd sum's quotient is the high word of sum x 8.
__m256i quotients(__m256i even, __m256i odd, int32_t offset)
{
    const __m256i k = _mm256_set1_epi32(offset);
    return _mm256_blend_epi16(_mm256_srai_epi32(_mm256_add_epi32(even, k), 13),
                              _mm256_slli_epi32(_mm256_add_epi32(odd, k), 3), 0xAA);
}

struct Rgb16 {
    __m256i r, g, b;
};

// UYVY pels j..j+15 from the 32 bytes at p (pairs U Y0 V Y1) and the pair
// after each: the even pel of a pair takes its own chroma at full weight, the
// odd one the sum with the next pair's at halved weight.
Rgb16 uyvy16(const uint8_t* p)
{
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
    const __m256i bytes = load32(p);
    const __m256i ys = _mm256_srli_epi16(bytes, 8);                                      // Y0, Y1
    const __m256i own = _mm256_and_si256(bytes, lowBytes);                               // U, V
    const __m256i sums = _mm256_add_epi16(own, _mm256_and_si256(load32(p + 4), lowBytes)); // U + U', V + V'
    // Word pairs for the multiply-adds, the chroma term first where Y is high.
    const __m256i yvEven = _mm256_blend_epi16(ys, own, 0xAA);                            // Y0, V
    const __m256i uyEven = _mm256_blend_epi16(own, _mm256_slli_epi32(ys, 16), 0xAA);     // U, Y0
    const __m256i yvOdd = _mm256_blend_epi16(_mm256_srli_epi32(ys, 16), sums, 0xAA);     // Y1, V + V'
    const __m256i uyOdd = _mm256_blend_epi16(sums, ys, 0xAA);                            // U + U', Y1
    Rgb16 out;
    out.r = quotients(_mm256_madd_epi16(yvEven, pairs(kFull.cy, kFull.crv)),
                      _mm256_madd_epi16(yvOdd, pairs(kHalved.cy, kHalved.crv)), kOffsetR);
    out.g = quotients(_mm256_add_epi32(_mm256_madd_epi16(uyEven, pairs(kFull.cgu, kFull.cy)),
                                       _mm256_madd_epi16(own, pairs(0, kFull.cgv))),
                      _mm256_add_epi32(_mm256_madd_epi16(uyOdd, pairs(kHalved.cgu, kHalved.cy)),
                                       _mm256_madd_epi16(sums, pairs(0, kHalved.cgv))),
                      kOffsetG);
    out.b = quotients(_mm256_madd_epi16(uyEven, pairs(kFull.cbu, kFull.cy)),
                      _mm256_madd_epi16(uyOdd, pairs(kHalved.cbu, kHalved.cy)), kOffsetB);
    return out;
}

// Two blocks of 16 pels (each lane 8 of them) as 32 bytes in pel order.
__m256i bytes32(__m256i first, __m256i second)
{
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
}

} // namespace

int32_t cip_ycbcr_avx2::uyvyToPlanes(const uint8_t* s, int32_t interiorEnd, uint8_t* r, uint8_t* g, uint8_t* b)
{
    // Pel j + 31 is odd and interior: the pair after it, the last bytes read,
    // lies within the row.
    int32_t j = 0;
    for (; j + 32 <= interiorEnd + 1; j += 32) {
        const uint8_t* p = s + 2 * static_cast<ptrdiff_t>(j);
        const Rgb16 first = uyvy16(p), second = uyvy16(p + 32);
        store32(r + j, bytes32(first.r, second.r));
        store32(g + j, bytes32(first.g, second.g));
        store32(b + j, bytes32(first.b, second.b));
    }
    return j;
}
