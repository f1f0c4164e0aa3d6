#include "kernels/cip_ycbcr.h"

#include <algorithm>
#include <cmath>

#include "kernels/internal/cip_simd.h"
#include "kernels/internal/cip_work.h"
#include "kernels/internal/cip_ycbcr_avx2.h"
#include "kernels/internal/cip_ycbcr_fixed.h"
#include "system/csys_copy.h"

using cip_work::rowAt;
using namespace cip_ycbcr;

namespace {

// Arithmetic shift written out (a right shift of a negative value is the
// implementation's choice before C++20) without a branch: sums stay far
// inside +-2^30, and 2^30 is a multiple of 2^13.
inline int32_t floorShift13(int32_t sum)
{
    return static_cast<int32_t>((static_cast<uint32_t>(sum) + (1u << 30)) >> 13) - (1 << 17);
}

class Converter {
public:
    Converter()
    {
        for (int i = 0; i < 128; ++i)
            clamp_[i] = 0;
        for (int i = 0; i < 256; ++i)
            clamp_[128 + i] = static_cast<uint8_t>(i);
        for (int i = 384; i < 512; ++i)
            clamp_[i] = 255;
    }

    // Y with chroma sums of the weight the coefficients are scaled for; the
    // offsets take 16 from Y and 128 from each chroma and round.
    void pel(const Coefficients& k, int32_t y, int32_t u, int32_t v, uint8_t* r, uint8_t* g, uint8_t* b) const
    {
        const int32_t luma = k.cy * y;
        *r = clamp(luma + k.crv * v + kOffsetR);
        *g = clamp(luma + k.cgu * u + k.cgv * v + kOffsetG);
        *b = clamp(luma + k.cbu * u + kOffsetB);
    }

private:
    // The table covers -128..383; sums beyond it clamp the same way.
    uint8_t clamp(int32_t sum) const
    {
        return clamp_[std::min(std::max(floorShift13(sum), -128), 383) + 128];
    }

    uint8_t clamp_[512];
};

struct GreyTable {
    uint8_t t[256];
    GreyTable()
    {
        for (int y = 0; y < 256; ++y) {
            const double v = std::round((y - 16) * 1.164);
            t[y] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
};

// One source row into the three work rows.
typedef void (*RowSplit)(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* p0, uint8_t* p1,
                         uint8_t* p2);

// An SSE2 row kernel that can start past pel 0 (where an AVX2 one stopped),
// over the whole row.
template <void (*Kernel)(const Converter&, const uint8_t*, int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t)>
void wholeRow(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* p0, uint8_t* p1, uint8_t* p2)
{
    Kernel(convert, s, width, p0, p1, p2, 0);
}

// The fast row function when there is one, the processor has SSE2 and the
// row has at least 16 pels: the AVX2 one where there is one and the
// processor has AVX2 too. Else the plain one stays.
template <class Row>
csysStatus chooseFast(int64_t pels, Row* row, Row fast, Row wide)
{
    if (!fast || pels < 16)
        return csysOk;
    uint32_t features = 0;
    const csysStatus status = cip_simd::features(&features);
    if (status < 0 || !(features & csysCpuSse2))
        return status;
    *row = fast;
    bool avx2 = false;
    if (wide && csys_cpuHasAvx2(&avx2) >= 0 && avx2) { // detected above: cannot fail
        *row = wide;
        cip_simd::servedWide();
    }
    cip_simd::served();
    return status;
}

// No two of the source row and the `count` output rows share a byte. The
// fast kernels read and write a row in steps of their own order, so only rows
// apart give the plain kernel's bytes.
bool rowsApart(const uint8_t* source, int32_t width, uint8_t* const* outputs, int count, int64_t pels)
{
    uintptr_t start[4] = {reinterpret_cast<uintptr_t>(source)};
    uintptr_t size[4] = {uintptr_t(width)};
    for (int i = 0; i < count; ++i) {
        start[i + 1] = reinterpret_cast<uintptr_t>(outputs[i]);
        size[i + 1] = uintptr_t(pels);
    }
    for (int i = 0; i <= count; ++i)
        for (int j = i + 1; j <= count; ++j)
            if (start[i] < start[j] + size[j] && start[j] < start[i] + size[i])
                return false;
    return true;
}

// Checks, then each row through three work rows of pels bytes that are then
// copied to the planes. With no pel to make nothing is written.
csysStatus toPlanes(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* p0,
                    uint8_t* p1, uint8_t* p2, int32_t destinationStride, int32_t pels, int64_t destinationMinimum,
                    RowSplit split, RowSplit fastSplit = nullptr, RowSplit wideSplit = nullptr)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, destinationMinimum);
    if (status < 0)
        return status;
    if (!source || !p0 || !p1 || !p2)
        return csysErrNullArg;
    if (pels == 0)
        return csysOk;
    const RowSplit plain = split;
    status = chooseFast(pels, &split, fastSplit, wideSplit);
    if (status < 0)
        return status;
    const Converter convert;
    csys_cleanupStack<1> cleanup;
    uint8_t* work = nullptr;
    status = cip_work::allocWork(cleanup, 3 * static_cast<int64_t>(pels), &work);
    if (status < 0)
        return cleanup.finish(status);
    uint8_t* w0 = work;
    uint8_t* w1 = work + pels;
    uint8_t* w2 = work + 2 * static_cast<ptrdiff_t>(pels);
    // The fast kernels write the planes directly where the four rows are
    // apart (the result is the same); the work rows stay for the rest.
    const bool direct = split != plain;
    for (int32_t y = 0; y < height && status >= 0; ++y) {
        const uint8_t* s = rowAt(source, y, sourceStride);
        uint8_t* d[3] = {rowAt(p0, y, destinationStride), rowAt(p1, y, destinationStride),
                         rowAt(p2, y, destinationStride)};
        if (direct && rowsApart(s, width, d, 3, pels)) {
            split(convert, s, width, d[0], d[1], d[2]);
            continue;
        }
        split(convert, s, width, w0, w1, w2);
        status = csys_memCopy(pels, w0, rowAt(p0, y, destinationStride));
        if (status >= 0)
            status = csys_memCopy(pels, w1, rowAt(p1, y, destinationStride));
        if (status >= 0)
            status = csys_memCopy(pels, w2, rowAt(p2, y, destinationStride));
    }
    return cleanup.finish(status);
}

void splitUYV(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    for (int32_t i = 0; i < width / 3; ++i, s += 3)
        convert.pel(kFull, s[1], s[0], s[2], r + i, g + i, b + i);
}

// Pair k is U(k) Y V(k) Y at bytes 4k..4k+3. Between pel 0 and the tail the
// second pel of a pair takes the sum of its chroma and the next pair's. A
// tail pel takes the last U and the last V before its Y, so that a row that
// ends without its last V byte is never read past.
void splitUYVY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    const int32_t pels = width / 2;
    convert.pel(kFull, s[1], s[0], s[2], r, g, b);
    int32_t i = 1;
    for (int32_t k = 0; 4 * k + 2 < width - 6; ++k) {
        const uint8_t* pair = s + 4 * static_cast<ptrdiff_t>(k);
        convert.pel(kHalved, pair[3], pair[0] + pair[4], pair[2] + pair[6], r + i, g + i, b + i);
        ++i;
        convert.pel(kFull, pair[5], pair[4], pair[6], r + i, g + i, b + i);
        ++i;
    }
    for (; i < pels; ++i) {
        const ptrdiff_t u = 4 * static_cast<ptrdiff_t>(i / 2);
        const ptrdiff_t v = 4 * static_cast<ptrdiff_t>((i - 1) / 2) + 2;
        convert.pel(kFull, s[2 * static_cast<ptrdiff_t>(i) + 1], s[u], s[v], r + i, g + i, b + i);
    }
}

// Group k of a row (pels 4k..4k + 3), U Y0 Y1 V Y2 Y3 at bytes 6k..6k+5.
// While the next group's V byte is in the row, Y1..Y3 interpolate linearly
// towards the next group's chroma (sited at Y0); otherwise the group's four
// pels take its own chroma.
void uyyvyyGroup(const Converter& convert, const uint8_t* row, int32_t width, int32_t k, uint8_t* r, uint8_t* g,
                 uint8_t* b)
{
    const uint8_t* s = row + 6 * static_cast<ptrdiff_t>(k);
    const int32_t au = s[0], av = s[3];
    convert.pel(kFull, s[1], au, av, r, g, b);
    if (6 * static_cast<int64_t>(k) + 9 < width) {
        const int32_t bu = s[6], bv = s[9];
        convert.pel(kQuartered, s[2], 3 * au + bu, 3 * av + bv, r + 1, g + 1, b + 1);
        convert.pel(kQuartered, s[4], 2 * (au + bu), 2 * (av + bv), r + 2, g + 2, b + 2);
        convert.pel(kQuartered, s[5], au + 3 * bu, av + 3 * bv, r + 3, g + 3, b + 3);
    } else {
        convert.pel(kFull, s[2], au, av, r + 1, g + 1, b + 1);
        convert.pel(kFull, s[4], au, av, r + 2, g + 2, b + 2);
        convert.pel(kFull, s[5], au, av, r + 3, g + 3, b + 3);
    }
}

void splitUYYVYY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    for (int32_t k = 0; k < width / 6; ++k)
        uyyvyyGroup(convert, s, width, k, r + 4 * k, g + 4 * k, b + 4 * k);
}

void splitPacked24(const Converter&, const uint8_t* s, int32_t width, uint8_t* p0, uint8_t* p1, uint8_t* p2)
{
    for (int32_t i = 0; i < width / 3; ++i, s += 3) {
        p0[i] = s[0];
        p1[i] = s[1];
        p2[i] = s[2];
    }
}

// Pels of a UYVY row by the rule of splitUYVY, one at a time: up to
// interiorEnd a pair's own chroma (even pels) and the halved sums with the
// next pair's (odd pels), then the tail rule.
void uyvyPel(const Converter& convert, const uint8_t* s, int32_t interiorEnd, int32_t j, uint8_t* r, uint8_t* g,
             uint8_t* b)
{
    const ptrdiff_t at = 2 * static_cast<ptrdiff_t>(j);
    if (j <= interiorEnd && j % 2 == 1)
        convert.pel(kHalved, s[at + 1], s[at - 2] + s[at + 2], s[at] + s[at + 4], r, g, b);
    else if (j <= interiorEnd)
        convert.pel(kFull, s[at + 1], s[at], s[at + 2], r, g, b);
    else
        convert.pel(kFull, s[at + 1], s[4 * static_cast<ptrdiff_t>(j / 2)],
                    s[4 * static_cast<ptrdiff_t>((j - 1) / 2) + 2], r, g, b);
}

// Eight pels from 16-bit Y and chroma lanes: sum = Y x cy + a x ca (+ b x cb)
// per pel, the coefficients of each lane from its pair, then the plain
// kernel's arithmetic shift; saturating packs to 16 bits and then to bytes
// (the caller's) clamp as the plain kernel does.
struct Channel {
    __m128i ya; // (cy, ca) pairs
    __m128i bk; // (cb, k) pairs, where k x 40 is the offset: the offset folded into the second product
    __m128i offset;
};
// The offset of G as the product 40 x k in a pair with V.
constexpr int32_t kGreenOffsetFactor = 40;
static_assert(kOffsetG % kGreenOffsetFactor == 0 && kOffsetG / kGreenOffsetFactor < 32768,
              "the offset of G is 40 times a 16-bit factor");

template <bool ThreeTerms>
inline __m128i channel8(const Channel& k, __m128i y, __m128i a, __m128i b)
{
    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(y, a), k.ya);
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(y, a), k.ya);
    if (ThreeTerms) {
        const __m128i factor = _mm_set1_epi16(kGreenOffsetFactor);
        lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(b, factor), k.bk));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(b, factor), k.bk));
    } else {
        lo = _mm_add_epi32(lo, k.offset);
        hi = _mm_add_epi32(hi, k.offset);
    }
    return _mm_packs_epi32(_mm_srai_epi32(lo, 13), _mm_srai_epi32(hi, 13));
}

// R, G and B for eight pels whose coefficients repeat every four pels as
// `lanes` gives them (the chroma lanes hold sums of the weight each
// coefficient set is scaled for).
class Channels {
public:
    explicit Channels(const Coefficients* const lanes[4])
    {
        int16_t ry[8], gu[8], gv[8], by[8];
        for (int i = 0; i < 4; ++i) {
            ry[2 * i] = gu[2 * i] = by[2 * i] = int16_t(kFull.cy);
            ry[2 * i + 1] = int16_t(lanes[i]->crv);
            gu[2 * i + 1] = int16_t(lanes[i]->cgu);
            by[2 * i + 1] = int16_t(lanes[i]->cbu);
            gv[2 * i] = int16_t(lanes[i]->cgv);
            gv[2 * i + 1] = int16_t(kOffsetG / kGreenOffsetFactor);
        }
        auto load = [](const int16_t* v) { return cip_simd::load16(v); };
        red_ = {load(ry), _mm_setzero_si128(), _mm_set1_epi32(kOffsetR)};
        green_ = {load(gu), load(gv), _mm_setzero_si128()};
        blue_ = {load(by), _mm_setzero_si128(), _mm_set1_epi32(kOffsetB)};
    }
    // 16-bit values of the eight pels into rgb.
    void convert(__m128i y, __m128i u, __m128i v, __m128i* rgb) const
    {
        rgb[0] = channel8<false>(red_, y, v, v);
        rgb[1] = channel8<true>(green_, y, u, v);
        rgb[2] = channel8<false>(blue_, y, u, u);
    }

private:
    Channel red_, green_, blue_;
};

// Steps of 16 pels then of 8 while step8 serves them (pels from `from` up to
// `end`, 16 and 8 at a time), writing the three planes; returns the first pel
// left.
template <class Step8>
int32_t convertSteps(int32_t from, int32_t end, uint8_t* const planes[3], Step8 step8)
{
    int32_t j = from;
    for (; j + 16 <= end; j += 16) {
        __m128i first[3], second[3];
        step8(j, first);
        step8(j + 8, second);
        for (int i = 0; i < 3; ++i)
            cip_simd::store16<false>(planes[i] + j, _mm_packus_epi16(first[i], second[i]));
    }
    for (; j + 8 <= end; j += 8) {
        __m128i rgb[3];
        step8(j, rgb);
        for (int i = 0; i < 3; ++i)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(planes[i] + j), _mm_packus_epi16(rgb[i], rgb[i]));
    }
    return j;
}

// The last pel of a UYVY row's interior: 2K, K the pairs k with
// 4k + 2 < width - 6.
int32_t uyvyInteriorEnd(int32_t width) { return width > 8 ? 2 * ((width - 5) / 4) : 0; }

// splitUYVY with SSE2 from pel `from` on, eight pels a step over the pels
// whose chroma pairs alternate between full and halved coefficients; the rest
// one at a time.
void sse2SplitUYVY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b,
                   int32_t from)
{
    const int32_t pels = width / 2;
    const int32_t interiorEnd = uyvyInteriorEnd(width);
    const Coefficients* const lanes[4] = {&kFull, &kHalved, &kFull, &kHalved};
    const Channels channels(lanes);
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    const __m128i lowWords = _mm_set1_epi32(0xFFFF);
    uint8_t* const planes[3] = {r, g, b};
    // Pels j..j + 7; pel j + 7 is odd and interior, so the pair after it,
    // read by the second load up to byte 2j + 19, lies within the row.
    int32_t j = convertSteps(from, interiorEnd + 1, planes, [&](int32_t j, __m128i* rgb) {
        const __m128i bytes = cip_simd::load16(s + 2 * static_cast<ptrdiff_t>(j));
        const __m128i next = cip_simd::load16(s + 2 * static_cast<ptrdiff_t>(j) + 4);
        const __m128i own = _mm_and_si128(bytes, lowBytes); // U0 V0 U1 V1 ...
        const __m128i sums = _mm_add_epi16(own, _mm_and_si128(next, lowBytes));
        const __m128i u = _mm_or_si128(_mm_and_si128(own, lowWords), _mm_slli_epi32(sums, 16));
        const __m128i v = _mm_or_si128(_mm_srli_epi32(own, 16), _mm_andnot_si128(lowWords, sums));
        channels.convert(_mm_srli_epi16(bytes, 8), u, v, rgb);
    });
    for (; j < pels; ++j)
        uyvyPel(convert, s, interiorEnd, j, r + j, g + j, b + j);
}

// The AVX2 steps, then the SSE2 ones for what they leave.
void wideSplitUYVY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    sse2SplitUYVY(convert, s, width, r, g, b, cip_ycbcr_avx2::uyvyToPlanes(s, uyvyInteriorEnd(width), r, g, b));
}

// 32 pels of three bytes (96 bytes from p) sorted by byte: out[0], out[1]
// hold byte 0 of pels 0..15 and 16..31, out[2], out[3] byte 1, out[4], out[5]
// byte 2. Five rounds of the same byte interleave do it with SSE2 alone.
inline void deinterleave3(const uint8_t* p, __m128i out[6])
{
    __m128i c[6];
    for (int i = 0; i < 6; ++i)
        c[i] = cip_simd::load16(p + 16 * i);
    for (int round = 0; round < 5; ++round) {
        const __m128i next[6] = {_mm_unpacklo_epi8(c[0], c[3]), _mm_unpackhi_epi8(c[0], c[3]),
                                 _mm_unpacklo_epi8(c[1], c[4]), _mm_unpackhi_epi8(c[1], c[4]),
                                 _mm_unpacklo_epi8(c[2], c[5]), _mm_unpackhi_epi8(c[2], c[5])};
        for (int i = 0; i < 6; ++i)
            c[i] = next[i];
    }
    for (int i = 0; i < 6; ++i)
        out[i] = c[i];
}

// splitPacked24 with SSE2, 32 pels a step.
void fastSplitPacked24(const Converter&, const uint8_t* s, int32_t width, uint8_t* p0, uint8_t* p1, uint8_t* p2)
{
    const int32_t pels = width / 3;
    uint8_t* const planes[3] = {p0, p1, p2};
    int32_t j = 0;
    for (; j + 32 <= pels; j += 32) {
        __m128i bytes[6];
        deinterleave3(s + 3 * static_cast<ptrdiff_t>(j), bytes);
        for (int i = 0; i < 3; ++i) {
            cip_simd::store16<false>(planes[i] + j, bytes[2 * i]);
            cip_simd::store16<false>(planes[i] + j + 16, bytes[2 * i + 1]);
        }
    }
    for (; j < pels; ++j) {
        p0[j] = s[3 * j];
        p1[j] = s[3 * j + 1];
        p2[j] = s[3 * j + 2];
    }
}

// splitUYV with SSE2 from pel `from` on: 32 pels a step sorted into U, Y and
// V, then the arithmetic eight pels at a time.
void sse2SplitUYV(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b,
                  int32_t from)
{
    const int32_t pels = width / 3;
    const Coefficients* const lanes[4] = {&kFull, &kFull, &kFull, &kFull};
    const Channels channels(lanes);
    uint8_t* const planes[3] = {r, g, b};
    const __m128i zero = _mm_setzero_si128();
    int32_t j = from;
    for (; j + 32 <= pels; j += 32) {
        __m128i bytes[6];
        deinterleave3(s + 3 * static_cast<ptrdiff_t>(j), bytes);
        for (int half = 0; half < 2; ++half) {
            const __m128i u = bytes[half], y = bytes[2 + half], v = bytes[4 + half];
            __m128i first[3], second[3];
            channels.convert(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(v, zero),
                             first);
            channels.convert(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(v, zero),
                             second);
            for (int i = 0; i < 3; ++i)
                cip_simd::store16<false>(planes[i] + j + 16 * half, _mm_packus_epi16(first[i], second[i]));
        }
    }
    for (; j < pels; ++j)
        convert.pel(kFull, s[3 * j + 1], s[3 * j], s[3 * j + 2], r + j, g + j, b + j);
}

// The AVX2 steps, then the SSE2 ones for what they leave.
void wideSplitUYV(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    sse2SplitUYV(convert, s, width, r, g, b, cip_ycbcr_avx2::uyvToPlanes(s, width / 3, r, g, b));
}

// Group k interpolates while 6k + 9 < width: the pels of those groups.
int32_t uyyvyyInterpolatingEnd(int32_t width) { return width > 9 ? 4 * ((width - 4) / 6) : 0; }

// splitUYYVYY with SSE2 from pel `from` (a multiple of 4) on, two groups a
// step while the group after them has its V byte in the row (so both
// interpolate towards the next chroma); the last groups one at a time.
void sse2SplitUYYVYY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g,
                     uint8_t* b, int32_t from)
{
    const Coefficients* const lanes[4] = {&kFull, &kQuartered, &kQuartered, &kQuartered};
    const Channels channels(lanes);
    // Weights of a group's own chroma (a) and the next group's (b) per pel.
    const __m128i weightA = _mm_setr_epi16(1, 3, 2, 1, 1, 3, 2, 1);
    const __m128i weightB = _mm_setr_epi16(0, 1, 2, 3, 0, 1, 2, 3);
    auto spread = [](int a, int b) { return _mm_setr_epi16(a, a, a, a, b, b, b, b); };
    uint8_t* const planes[3] = {r, g, b};
    // A step takes two interpolating groups.
    const int32_t end = uyyvyyInterpolatingEnd(width) / 8 * 8;
    const int32_t done = convertSteps(from, end, planes, [&](int32_t j, __m128i* rgb) {
        const uint8_t* p = s + 6 * static_cast<ptrdiff_t>(j / 4);
        const __m128i y = _mm_setr_epi16(p[1], p[2], p[4], p[5], p[7], p[8], p[10], p[11]);
        const __m128i u = _mm_add_epi16(_mm_mullo_epi16(spread(p[0], p[6]), weightA),
                                        _mm_mullo_epi16(spread(p[6], p[12]), weightB));
        const __m128i v = _mm_add_epi16(_mm_mullo_epi16(spread(p[3], p[9]), weightA),
                                        _mm_mullo_epi16(spread(p[9], p[15]), weightB));
        channels.convert(y, u, v, rgb);
    });
    for (int32_t k = done / 4; k < width / 6; ++k)
        uyyvyyGroup(convert, s, width, k, r + 4 * k, g + 4 * k, b + 4 * k);
}

// The AVX2 steps, then the SSE2 ones for what they leave.
void wideSplitUYYVYY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g,
                     uint8_t* b)
{
    sse2SplitUYYVYY(convert, s, width, r, g, b,
                    cip_ycbcr_avx2::uyyvyyToPlanes(s, uyyvyyInterpolatingEnd(width), r, g, b));
}

// Eight 16-bit Y lanes to eight grey bytes in the low half.
inline __m128i grey8(__m128i y)
{
    const __m128i scaled = _mm_subs_epu16(_mm_mullo_epi16(y, _mm_set1_epi16(kGreyFactor)), _mm_set1_epi16(kGreyBias));
    return _mm_srli_epi16(scaled, kGreyShift);
}

// 16 Y bytes to 16 grey bytes.
inline __m128i grey16(__m128i y)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_packus_epi16(grey8(_mm_unpacklo_epi8(y, zero)), grey8(_mm_unpackhi_epi8(y, zero)));
}

typedef void (*GreyRow)(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out);

// A grey row kernel that can start past pel 0, over the whole row.
template <void (*Kernel)(const GreyTable&, const uint8_t*, int64_t, uint8_t*, int64_t)>
void wholeGreyRow(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out)
{
    Kernel(grey, s, pels, out, 0);
}

// UYVY grey, 16 pels a step from bytes 1 and 3 of each pair; the last step
// moved back to end at the row's last pel (at least 16 of them).
void fastGreyUYVY(const GreyTable&, const uint8_t* s, int64_t pels, uint8_t* out)
{
    const int32_t n = static_cast<int32_t>(pels);
    cip_simd::steps16(n, [&](int32_t j) {
        const __m128i low = grey8(_mm_srli_epi16(cip_simd::load16(s + 2 * static_cast<ptrdiff_t>(j)), 8));
        const __m128i high = grey8(_mm_srli_epi16(cip_simd::load16(s + 2 * static_cast<ptrdiff_t>(j) + 16), 8));
        cip_simd::store16<false>(out + j, _mm_packus_epi16(low, high));
    });
}

// UYV grey from pel `from` on: byte 1 of each pel, 32 pels a step.
void sse2GreyUYV(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out, int64_t from)
{
    int64_t j = from;
    for (; j + 32 <= pels; j += 32) {
        __m128i bytes[6];
        deinterleave3(s + 3 * j, bytes);
        cip_simd::store16<false>(out + j, grey16(bytes[2]));
        cip_simd::store16<false>(out + j + 16, grey16(bytes[3]));
    }
    for (; j < pels; ++j)
        out[j] = grey.t[s[3 * j + 1]];
}

// UYYVYY grey: bytes 1 and 2 of each three (U Y0 Y1, V Y2 Y3), 32 threes a
// step, from pel `from` (even) on; pel i is byte 3 (i / 2) + 1 + i % 2.
void sse2GreyUYYVYY(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out, int64_t from)
{
    int64_t j = from;
    for (; j + 64 <= pels; j += 64) {
        __m128i bytes[6];
        deinterleave3(s + 3 * (j / 2), bytes);
        for (int half = 0; half < 2; ++half) {
            const __m128i first = grey16(bytes[2 + half]), second = grey16(bytes[4 + half]);
            cip_simd::store16<false>(out + j + 32 * half, _mm_unpacklo_epi8(first, second));
            cip_simd::store16<false>(out + j + 32 * half + 16, _mm_unpackhi_epi8(first, second));
        }
    }
    for (; j < pels; ++j)
        out[j] = grey.t[s[3 * (j / 2) + 1 + j % 2]];
}

// The AVX2 grey rows take rows of 32 pels or more (bar an odd last UYYVYY
// pel); the SSE2 ones the rest.
void wideGreyUYVY(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out)
{
    if (cip_ycbcr_avx2::uyvyToGrey(s, static_cast<int32_t>(pels), out) < pels)
        fastGreyUYVY(grey, s, pels, out);
}

void wideGreyUYV(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out)
{
    sse2GreyUYV(grey, s, pels, out, cip_ycbcr_avx2::uyvToGrey(s, static_cast<int32_t>(pels), out));
}

void wideGreyUYYVYY(const GreyTable& grey, const uint8_t* s, int64_t pels, uint8_t* out)
{
    sse2GreyUYYVYY(grey, s, pels, out, cip_ycbcr_avx2::uyyvyyToGrey(s, static_cast<int32_t>(pels), out));
}

// The Y bytes of a row: byte positions from `first` in steps of `step`, or,
// with step 0, every byte whose position is not a multiple of 3.
csysStatus toGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* destination,
                  int32_t destinationStride, int64_t pels, int32_t first, int32_t step, GreyRow fast = nullptr,
                  GreyRow wide = nullptr)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, pels);
    if (status < 0)
        return status;
    if (!source || !destination)
        return csysErrNullArg;
    const GreyTable grey;
    GreyRow row = nullptr;
    status = chooseFast(pels, &row, fast, wide);
    if (status < 0)
        return status;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = rowAt(source, y, sourceStride);
        uint8_t* out = rowAt(destination, y, destinationStride);
        if (row && rowsApart(s, width, &out, 1, pels)) {
            row(grey, s, pels, out);
        } else if (step == 0) {
            for (int32_t x = 0; x < width; ++x)
                if (x % 3 != 0)
                    *out++ = grey.t[s[x]];
        } else {
            for (int64_t i = 0; i < pels; ++i)
                out[i] = grey.t[s[first + i * step]];
        }
    }
    return csysOk;
}

} // namespace

csysStatus cip_convertUYVToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                    uint8_t* red, uint8_t* green, uint8_t* blue, int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, red, green, blue, destinationStride, width / 3, width / 3,
                    &splitUYV, &wholeRow<sse2SplitUYV>, &wideSplitUYV);
}

csysStatus cip_convertUYVToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                          uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride, width / 3, 1, 3,
                  &wholeGreyRow<sse2GreyUYV>, &wideGreyUYV);
}

// A row of two bytes has no V byte for its one pel: nothing is converted.
csysStatus cip_convertUYVYToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                     uint8_t* red, uint8_t* green, uint8_t* blue, int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, red, green, blue, destinationStride,
                    width < 3 ? 0 : width / 2, width / 2, &splitUYVY, &wholeRow<sse2SplitUYVY>, &wideSplitUYVY);
}

csysStatus cip_convertUYVYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                           int32_t sourceStride, uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride, width / 2, 1, 2, &fastGreyUYVY,
                  &wideGreyUYVY);
}

csysStatus cip_convertUYYVYYToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                       uint8_t* red, uint8_t* green, uint8_t* blue, int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, red, green, blue, destinationStride, 4 * (width / 6),
                    2 * static_cast<int64_t>(width) / 3, &splitUYYVYY, &wholeRow<sse2SplitUYYVYY>, &wideSplitUYYVYY);
}

csysStatus cip_convertUYYVYYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                             int32_t sourceStride, uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride,
                  2 * static_cast<int64_t>(width) / 3, 0, 0, &wholeGreyRow<sse2GreyUYYVYY>, &wideGreyUYYVYY);
}

csysStatus cip_convertPacked24ToPlanesTyped(int32_t width, int32_t height, const uint8_t* source,
                                            int32_t sourceStride, uint8_t* first, uint8_t* second, uint8_t* third,
                                            int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, first, second, third, destinationStride, width / 3,
                    width / 3, &splitPacked24, &fastSplitPacked24);
}
