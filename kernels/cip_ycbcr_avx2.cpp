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

// A 16-byte row piece into each lane.
__m256i load2x16(const uint8_t* low, const uint8_t* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// The same 16 bytes in both lanes, for byte shuffles and byte weights.
__m256i bothLanes(char b0, char b1, char b2, char b3, char b4, char b5, char b6, char b7, char b8, char b9, char b10,
                  char b11, char b12, char b13, char b14, char b15)
{
    return _mm256_broadcastsi128_si256(
        _mm_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15));
}

// Bytes a + 3k and b + 3k of a lane as the word pair k, k = 0..3.
__m256i uyvPairs(__m256i v, char a, char b)
{
    const char z = char(0x80); // a zero byte
    return _mm256_shuffle_epi8(v, bothLanes(a, z, b, z, char(a + 3), z, char(b + 3), z, char(a + 6), z, char(b + 6),
                                            z, char(a + 9), z, char(b + 9), z));
}

// The rounded-down quotients of four UYV pels a lane, each pel's Y paired
// with its V (yv) and its U with its Y (uy).
Rgb16 uyvQuotients(__m256i yv, __m256i uy)
{
    Rgb16 q;
    q.r = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(yv, pairs(kFull.cy, kFull.crv)),
                                             _mm256_set1_epi32(kOffsetR)), 13);
    q.g = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(uy, pairs(kFull.cgu, kFull.cy)),
                                                              _mm256_madd_epi16(yv, pairs(0, kFull.cgv))),
                                             _mm256_set1_epi32(kOffsetG)), 13);
    q.b = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(uy, pairs(kFull.cbu, kFull.cy)),
                                             _mm256_set1_epi32(kOffsetB)), 13);
    return q;
}

// UYV pels j..j+15 from the 48 bytes at p, lane 0 pels 0..7, lane 1 8..15.
// No lane holds eight pels' 24 bytes: one load gives each lane's first four
// pels, one 8 bytes on its last four, and the quotients pack in pel order.
Rgb16 uyv16(const uint8_t* p)
{
    const __m256i first = load2x16(p, p + 24);    // pels 0..3 at bytes 0..11
    const __m256i last = load2x16(p + 8, p + 32); // pels 4..7 at bytes 4..15
    const Rgb16 a = uyvQuotients(uyvPairs(first, 1, 2), uyvPairs(first, 0, 1));
    const Rgb16 b = uyvQuotients(uyvPairs(last, 5, 6), uyvPairs(last, 4, 5));
    return {_mm256_packs_epi32(a.r, b.r), _mm256_packs_epi32(a.g, b.g), _mm256_packs_epi32(a.b, b.b)};
}

// Two groups of UYYVYY (U Y0 Y1 V Y2 Y3) a lane and the U and V of the group
// after them, 16 bytes, pels 0..7 of the lane. One byte shuffle pairs each
// group's U and V bytes with the next group's, and byte weights make each
// pel's interpolated U and V words from them (the own chroma alone for a
// group's first pel, whose coefficients are full); Y's coefficient is the
// same in both sets, so Y's products serve all three channels.
// The even pels (coefficients full, quartered, full, quartered) and the odd
// ones (all quartered) go apart so that their quotients blend in pel order.
inline Rgb16 uyyvyy16(__m256i bytes)
{
    const char z = char(0x80); // a zero byte
    const __m256i chroma = _mm256_shuffle_epi8(bytes, bothLanes(0, 6, 3, 9, 0, 6, 3, 9, 6, 12, 9, 15, 6, 12, 9, 15));
    const __m256i uvEven = _mm256_maddubs_epi16(chroma, bothLanes(1, 0, 1, 0, 2, 2, 2, 2, 1, 0, 1, 0, 2, 2, 2, 2));
    const __m256i uvOdd = _mm256_maddubs_epi16(chroma, bothLanes(3, 1, 3, 1, 1, 3, 1, 3, 3, 1, 3, 1, 1, 3, 1, 3));
    const __m256i luma = pairs(kFull.cy, 0); // the same in both coefficient sets
    const __m256i yEven = _mm256_madd_epi16(
        _mm256_shuffle_epi8(bytes, bothLanes(1, z, z, z, 4, z, z, z, 7, z, z, z, 10, z, z, z)), luma);
    const __m256i yOdd = _mm256_madd_epi16(
        _mm256_shuffle_epi8(bytes, bothLanes(2, z, z, z, 5, z, z, z, 8, z, z, z, 11, z, z, z)), luma);
    // Coefficient pairs of the even pels: full, quartered, full, quartered.
    auto evenPairs = [](int32_t lowFull, int32_t highFull, int32_t lowQuartered, int32_t highQuartered) {
        return _mm256_blend_epi32(pairs(lowFull, highFull), pairs(lowQuartered, highQuartered), 0xAA);
    };
    auto sums = [&](const __m256i& evenCoefficients, const __m256i& oddCoefficients, int32_t offset) {
        return quotients(_mm256_add_epi32(yEven, _mm256_madd_epi16(uvEven, evenCoefficients)),
                         _mm256_add_epi32(yOdd, _mm256_madd_epi16(uvOdd, oddCoefficients)), offset);
    };
    Rgb16 out;
    out.r = sums(evenPairs(0, kFull.crv, 0, kQuartered.crv), pairs(0, kQuartered.crv), kOffsetR);
    out.g = sums(evenPairs(kFull.cgu, kFull.cgv, kQuartered.cgu, kQuartered.cgv),
                 pairs(kQuartered.cgu, kQuartered.cgv), kOffsetG);
    out.b = sums(evenPairs(kFull.cbu, 0, kQuartered.cbu, 0), pairs(kQuartered.cbu, 0), kOffsetB);
    return out;
}

// Two blocks of 16 pels as 32 pels of each plane.
void storePlanes(const Rgb16& first, const Rgb16& second, uint8_t* r, uint8_t* g, uint8_t* b)
{
    store32(r, bytes32(first.r, second.r));
    store32(g, bytes32(first.g, second.g));
    store32(b, bytes32(first.b, second.b));
}

// Pels 0..count-1 (16, or 8 of lane 0) of a block of 16 into the planes.
void storeFirst(const Rgb16& block, int32_t count, uint8_t* r, uint8_t* g, uint8_t* b)
{
    uint8_t* const planes[3] = {r, g, b};
    const __m256i channels[3] = {block.r, block.g, block.b};
    for (int i = 0; i < 3; ++i) {
        const __m128i bytes = _mm256_castsi256_si128(bytes32(channels[i], channels[i]));
        if (count == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(planes[i]), bytes);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i*>(planes[i]), bytes);
    }
}

} // namespace

int32_t cip_ycbcr_avx2::uyvyToGrey(const uint8_t* s, int32_t pels, uint8_t* out)
{
    return steps32(pels, 1, [&](int32_t j) {
        const uint8_t* p = s + 2 * static_cast<ptrdiff_t>(j);
        const __m256i first = grey16(_mm256_srli_epi16(load32(p), 8));
        store32(out + j, bytes32(first, grey16(_mm256_srli_epi16(load32(p + 32), 8))));
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
        const __m256i first = grey16(_mm256_unpacklo_epi8(y, zero));
        store32(out + j, _mm256_packus_epi16(first, grey16(_mm256_unpackhi_epi8(y, zero))));
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
        storePlanes(first, second, r + j, g + j, b + j);
    }
    return j;
}

int32_t cip_ycbcr_avx2::uyvToPlanes(const uint8_t* s, int32_t pels, uint8_t* r, uint8_t* g, uint8_t* b)
{
    int32_t j = 0;
    for (; j + 32 <= pels; j += 32) {
        const uint8_t* p = s + 3 * static_cast<ptrdiff_t>(j);
        const Rgb16 first = uyv16(p), second = uyv16(p + 48);
        storePlanes(first, second, r + j, g + j, b + j);
    }
    // The SSE2 code has no step of 16: one here.
    if (j + 16 <= pels) {
        storeFirst(uyv16(s + 3 * static_cast<ptrdiff_t>(j)), 16, r + j, g + j, b + j);
        j += 16;
    }
    return j;
}

int32_t cip_ycbcr_avx2::uyyvyyToPlanes(const uint8_t* s, int32_t interpolatingEnd, uint8_t* r, uint8_t* g, uint8_t* b)
{
    // Group j / 4 + 7, the last of a step, interpolates: the U and V after
    // it, the last bytes read, lie within the row.
    int32_t j = 0;
    for (; j + 32 <= interpolatingEnd; j += 32) {
        const uint8_t* p = s + 6 * static_cast<ptrdiff_t>(j / 4);
        const Rgb16 first = uyyvyy16(load2x16(p, p + 12)), second = uyyvyy16(load2x16(p + 24, p + 36));
        storePlanes(first, second, r + j, g + j, b + j);
    }
    // Steps of 16 and 8 here too: the SSE2 ones gather bytes one by one.
    if (j + 16 <= interpolatingEnd) {
        const uint8_t* p = s + 6 * static_cast<ptrdiff_t>(j / 4);
        storeFirst(uyyvyy16(load2x16(p, p + 12)), 16, r + j, g + j, b + j);
        j += 16;
    }
    if (j + 8 <= interpolatingEnd) {
        const uint8_t* p = s + 6 * static_cast<ptrdiff_t>(j / 4);
        storeFirst(uyyvyy16(load2x16(p, p)), 8, r + j, g + j, b + j);
        j += 8;
    }
    return j;
}
