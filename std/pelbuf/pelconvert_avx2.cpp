// Built with -mavx2: plain headers only, and all but the entry function in an anonymous namespace.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "std/pelbuf/pelconvert_avx2.h"

namespace {

typedef unsigned char Byte;

// How the offset is added: not at all; as a whole number of steps of
// 2^shift, to the bytes with saturation (the same as before the shift, and
// one add for 32 pels); or, with a fraction, to the sums before the shift.
enum class Offset { none, whole, fraction };

// The grey of pels as greyKernel's grey4 has it: each pel as the 16-bit pairs
// (blue, red) and (green, fourth), one multiply-add each, the 32-bit sums
// shifted down, then packed with saturation.
template <Offset Add>
class Grey {
public:
    explicit Grey(const pelconvert_avx2::GreyJob& job)
        : blueRed_(_mm256_set1_epi32(job.blueRed)), green_(_mm256_set1_epi32(job.green)),
          offset_(_mm256_set1_epi32(job.offset)), whole_(_mm256_set1_epi8(static_cast<char>(wholeSteps(job)))),
          shift_(_mm256_set1_epi32(job.shift))
    {
    }

    // 32 pels from p. A pack works within each 128-bit lane: the bytes come
    // out as pels 0-3, 8-11, 16-19, 24-27 | 4-7, 12-15, 20-23, 28-31, which
    // one move across the lanes puts in order.
    __m256i pels32(const Byte* p) const
    {
        const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(sums(p), sums(p + 32)),
                                              _mm256_packs_epi32(sums(p + 64), sums(p + 96)));
        return _mm256_permutevar8x32_epi32(added(b), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }

    // 8 pels from p, as the low 8 bytes.
    __m128i pels8(const Byte* p) const
    {
        const __m256i s = sums(p);
        const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        return _mm256_castsi256_si128(added(_mm256_castsi128_si256(_mm_packus_epi16(words, words))));
    }

private:
    // An offset of 255 steps or more saturates every byte.
    static int32_t wholeSteps(const pelconvert_avx2::GreyJob& job)
    {
        const int32_t steps = job.offset >> job.shift;
        return steps < 255 ? steps : 255;
    }

    __m256i sums(const Byte* p) const
    {
        // lddqu: one load for both extractions, where a plain load is folded into each.
        const __m256i v = _mm256_lddqu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i br = _mm256_madd_epi16(_mm256_and_si256(v, _mm256_set1_epi16(0xFF)), blueRed_);
        const __m256i g = _mm256_madd_epi16(_mm256_srli_epi16(v, 8), green_);
        const __m256i sum = _mm256_add_epi32(br, g);
        return _mm256_srlv_epi32(Add == Offset::fraction ? _mm256_add_epi32(sum, offset_) : sum, shift_);
    }

    __m256i added(__m256i bytes) const { return Add == Offset::whole ? _mm256_adds_epu8(bytes, whole_) : bytes; }

    __m256i blueRed_, green_, offset_, whole_;
    __m256i shift_;
};

// Steps of 32 pels over rows of at least 32, of 8 below; a last partial step
// is moved back to end at the row's end, as greyKernel's.
template <Offset Add>
void greyRows(const pelconvert_avx2::GreyJob& job)
{
    const Grey<Add> grey(job);
    const int32_t width = job.width;
    for (int32_t y = 0; y < job.height; ++y) {
        const Byte* s = static_cast<const Byte*>(job.source) + y * job.sourceStride;
        Byte* d = job.out + y * job.outStride;
        if (width < 32) {
            for (int32_t x = 0; x < width; x += 8) {
                const int32_t at = x + 8 <= width ? x : width - 8;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d + at), grey.pels8(s + 4 * at));
            }
            continue;
        }
        int32_t x = 0;
        for (; x + 32 <= width; x += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), grey.pels32(s + 4 * x));
        if (x < width)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + width - 32), grey.pels32(s + 4 * (width - 32)));
    }
}

} // namespace

void pelconvert_avx2::grey(const GreyJob& job)
{
    if (job.offset == 0)
        greyRows<Offset::none>(job);
    else if (job.offset % (int32_t{1} << job.shift) == 0)
        greyRows<Offset::whole>(job);
    else
        greyRows<Offset::fraction>(job);
}
