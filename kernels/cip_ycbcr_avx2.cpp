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

// 16-bit Y lanes to grey: max(0, Y x factor - bias) >> shift, which the
// byte pack saturates at 255, as the grey table has it.
__m256i grey16(__m256i y)
{
    const __m256i scaled = _mm256_subs_epu16(_mm256_mullo_epi16(y, _mm256_set1_epi16(kGreyFactor)),
                                             _mm256_set1_epi16(kGreyBias));
    return _mm256_srli_epi16(scaled, kGreyShift);
}

// Steps of 32 pels over a row of at least 32, the last moved back to end at
// `end` (rewriting pels with the same bytes), each start a multiple of
// `align`; returns the pels written (0 for a shorter row).
template <class Step>
int32_t steps32(int32_t end, int32_t align, Step step)
{
    if (end < 32)
        return 0;
    int32_t j = 0;
    for (; j + 32 <= end; j += 32)
        step(j);
    if (j < end) {
        j = (end - 32) / align * align;
        step(j);
        j += 32;
    }
    return j;
}

} // namespace

int32_t cip_ycbcr_avx2::uyvyToGrey(const uint8_t* s, int32_t pels, uint8_t* out)
{
    return steps32(pels, 1, [&](int32_t j) {
        const uint8_t* p = s + 2 * static_cast<ptrdiff_t>(j);
        store32(out + j, bytes32(grey16(_mm256_srli_epi16(load32(p), 8)), grey16(_mm256_srli_epi16(load32(p + 32), 8))));
    });
}

int32_t cip_ycbcr_avx2::uyvToGrey(const uint8_t* s, int32_t pels, uint8_t* out)
{
    // Pels 0..15 in the low lane, 16..31 in the high one: the chunks 0..2 of
    // the 96 bytes and 3..5 (the same layout) meet lane by lane as (0, 5),
    // (1, 4) and (2, 3).
    // Of 16 pels (three 16-byte chunks), each chunk's Y bytes moved to their
    // pel's place, zeros elsewhere.
    const __m128i y0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i y1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i y2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m256i m05 = _mm256_setr_m128i(y0, y2), m14 = _mm256_setr_m128i(y1, y1), m23 = _mm256_setr_m128i(y2, y0);
    const __m256i zero = _mm256_setzero_si256();
    return steps32(pels, 1, [&](int32_t j) {
        const uint8_t* p = s + 3 * static_cast<ptrdiff_t>(j);
        const __m256i c01 = load32(p), c23 = load32(p + 32), c45 = load32(p + 64);
        const __m256i c05 = _mm256_blend_epi32(c01, c45, 0xF0), c14 = _mm256_permute2x128_si256(c01, c45, 0x21);
        const __m256i y = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(c05, m05), _mm256_shuffle_epi8(c14, m14)),
                                          _mm256_shuffle_epi8(c23, m23));
        store32(out + j, _mm256_packus_epi16(grey16(_mm256_unpacklo_epi8(y, zero)), grey16(_mm256_unpackhi_epi8(y, zero))));
    });
}

int32_t cip_ycbcr_avx2::uyyvyyToGrey(const uint8_t* s, int32_t pels, uint8_t* out)
{
    // 32 pels from 48 bytes: each lane gets 12 of them (eight pels), then
    // the Y bytes 1, 2, 4, 5, ... of each three as 16-bit lanes. The second
    // load starts at byte 16 so as not to read past byte 47.
    const __m256i first = _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5);
    const __m256i second = _mm256_setr_epi32(2, 3, 4, 4, 5, 6, 7, 7);
    const __m256i ys = _mm256_setr_epi8(1, -1, 2, -1, 4, -1, 5, -1, 7, -1, 8, -1, 10, -1, 11, -1, 1, -1, 2, -1, 4,
                                        -1, 5, -1, 7, -1, 8, -1, 10, -1, 11, -1);
    // Steps start at even pels, the first Y byte of a three.
    return steps32(pels, 2, [&](int32_t j) {
        const uint8_t* p = s + 3 * static_cast<ptrdiff_t>(j / 2);
        const __m256i low = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(load32(p), first), ys);
        const __m256i high = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(load32(p + 16), second), ys);
        store32(out + j, bytes32(grey16(low), grey16(high)));
    });
}

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
