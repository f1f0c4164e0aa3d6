#include "kernels/cip_bayer.h"

#include <cmath>

#include "kernels/internal/cip_simd.h"
#include "kernels/internal/cip_work.h"
#include "system/csys_copy.h"

using cip_work::avg;
using cip_work::rowAt;

namespace {

// Splits one mosaic row into the colour sampled at even columns and the one
// sampled at odd columns, both at every column. The border columns take their
// one neighbour; a row of a single pel gives both colours that pel.
void horizontalPass(const uint8_t* s, int32_t width, uint8_t* even, uint8_t* odd)
{
    if (width == 1) {
        even[0] = odd[0] = s[0];
        return;
    }
    even[0] = s[0];
    odd[0] = s[1];
    for (int32_t x = 1; x < width - 1; ++x) {
        const uint8_t between = avg(s[x - 1], s[x + 1]);
        if (x & 1) {
            odd[x] = s[x];
            even[x] = between;
        } else {
            even[x] = s[x];
            odd[x] = between;
        }
    }
    const int32_t last = width - 1;
    if (last & 1) {
        odd[last] = s[last];
        even[last] = s[last - 1];
    } else {
        even[last] = s[last];
        odd[last] = s[last - 1];
    }
}

struct GreyWeights {
    int32_t w1, w2, w3;
    // At most 255 x 257 before the shift, so the result fits a byte.
    uint8_t operator()(uint8_t f, uint8_t g, uint8_t t) const
    {
        return static_cast<uint8_t>((f * w1 + g * w2 + t * w3) >> 8);
    }
};

// The row operations of the portable kernels.
struct PlainRows {
    static void split(const uint8_t* s, int32_t width, uint8_t* even, uint8_t* odd)
    {
        horizontalPass(s, width, even, odd);
    }
    // The second colour of an interior row.
    static void green(const uint8_t* above, const uint8_t* middle, const uint8_t* below, uint8_t* out, int32_t width)
    {
        for (int32_t x = 0; x < width; ++x)
            out[x] = avg(middle[x], avg(above[x], below[x]));
    }
    static void mean(const uint8_t* up, const uint8_t* down, uint8_t* out, int32_t width)
    {
        for (int32_t x = 0; x < width; ++x)
            out[x] = avg(up[x], down[x]);
    }
    static void weigh(const uint8_t* f, const uint8_t* g, const uint8_t* t, uint8_t* out, int32_t width,
                      const GreyWeights& weigh)
    {
        for (int32_t x = 0; x < width; ++x)
            out[x] = weigh(f[x], g[x], t[x]);
    }
    // An interior grey row: the second colour and the colour the row does
    // not sample from the rows around it.
    static void weighInterior(const uint8_t* above, const uint8_t* middle, const uint8_t* below, const uint8_t* own,
                              const uint8_t* up, const uint8_t* down, bool ownIsFirst, uint8_t* out, int32_t width,
                              const GreyWeights& weigh)
    {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t green = avg(middle[x], avg(above[x], below[x]));
            const uint8_t other = avg(up[x], down[x]);
            out[x] = ownIsFirst ? weigh(own[x], green, other) : weigh(other, green, own[x]);
        }
    }
    static void nextRow(const uint8_t*, int32_t) {}
    static void finish() {}
};

// The same with SSE2, 16 pels a step, for widths that are multiples of 8 and
// at least 16 (every step then starts at an even column). Rows of the
// vertical pass of the colour kernel are stored past the cache.
struct FastRows {
    static void split(const uint8_t* s, int32_t width, uint8_t* even, uint8_t* odd)
    {
        using namespace cip_simd;
        const __m128i evenLanes = _mm_set1_epi16(0x00FF);
        steps16(width, [&](int32_t x) {
            const __m128i here = load16(s + x);
            // At the borders the missing neighbour is the one beyond, so that
            // the average is that neighbour: column 0 takes s[1] for its odd
            // colour, column width - 1 s[width - 2] for its even colour.
            const __m128i left = x == 0 ? _mm_insert_epi16(_mm_slli_si128(here, 1), s[1] | s[0] << 8, 0)
                                        : load16(s + x - 1);
            const __m128i right = x + 16 == width
                                      ? _mm_insert_epi16(_mm_srli_si128(here, 1), s[width - 1] | s[width - 2] << 8, 7)
                                      : load16(s + x + 1);
            const __m128i between = _mm_avg_epu8(left, right);
            store16<false>(even + x, select(evenLanes, here, between));
            store16<false>(odd + x, select(evenLanes, between, here));
        });
    }
    static void green(const uint8_t* above, const uint8_t* middle, const uint8_t* below, uint8_t* out, int32_t width)
    {
        using namespace cip_simd;
        steps16(width, [&](int32_t x) {
            const __m128i around = _mm_avg_epu8(load16(above + x), load16(below + x));
            store16<true>(out + x, _mm_avg_epu8(load16(middle + x), around));
        });
    }
    static void mean(const uint8_t* up, const uint8_t* down, uint8_t* out, int32_t width)
    {
        using namespace cip_simd;
        steps16(width, [&](int32_t x) { store16<true>(out + x, _mm_avg_epu8(load16(up + x), load16(down + x))); });
    }
    // Products of at most 255 x 256 and sums of at most 255 x 257 = 65535 fit
    // 16 bits unsigned, so nothing saturates and the plain result comes out.
    static __m128i weighHalf(__m128i f, __m128i g, __m128i t, const GreyWeights& w)
    {
        const __m128i sum = _mm_adds_epu16(_mm_adds_epu16(_mm_mullo_epi16(f, _mm_set1_epi16(int16_t(w.w1))),
                                                          _mm_mullo_epi16(g, _mm_set1_epi16(int16_t(w.w2)))),
                                           _mm_mullo_epi16(t, _mm_set1_epi16(int16_t(w.w3))));
        return _mm_srli_epi16(sum, 8);
    }
    static __m128i weigh16(__m128i f, __m128i g, __m128i t, const GreyWeights& w)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = weighHalf(_mm_unpacklo_epi8(f, zero), _mm_unpacklo_epi8(g, zero),
                                      _mm_unpacklo_epi8(t, zero), w);
        const __m128i high = weighHalf(_mm_unpackhi_epi8(f, zero), _mm_unpackhi_epi8(g, zero),
                                       _mm_unpackhi_epi8(t, zero), w);
        return _mm_packus_epi16(low, high);
    }
    static void weigh(const uint8_t* f, const uint8_t* g, const uint8_t* t, uint8_t* out, int32_t width,
                      const GreyWeights& w)
    {
        using namespace cip_simd;
        steps16(width, [&](int32_t x) {
            store16<false>(out + x, weigh16(load16(f + x), load16(g + x), load16(t + x), w));
        });
    }
    static void weighInterior(const uint8_t* above, const uint8_t* middle, const uint8_t* below, const uint8_t* own,
                              const uint8_t* up, const uint8_t* down, bool ownIsFirst, uint8_t* out, int32_t width,
                              const GreyWeights& w)
    {
        using namespace cip_simd;
        steps16(width, [&](int32_t x) {
            const __m128i green =
                _mm_avg_epu8(load16(middle + x), _mm_avg_epu8(load16(above + x), load16(below + x)));
            const __m128i other = _mm_avg_epu8(load16(up + x), load16(down + x));
            const __m128i mine = load16(own + x);
            store16<false>(out + x, ownIsFirst ? weigh16(mine, green, other, w) : weigh16(other, green, mine, w));
        });
    }
    static void nextRow(const uint8_t* row, int32_t width) { cip_simd::prefetchRow(row, width); }
    // Streamed stores are ordered before anything the caller does next.
    static void finish() { _mm_sfence(); }
};

// G(y) gets the second colour, C(y) the row's other colour. rowParity is
// (y + y phase) & 1.
template <class Rows>
void splitRow(const uint8_t* s, int32_t width, int32_t rowParity, int32_t xPhase, uint8_t* g, uint8_t* c)
{
    if ((rowParity ^ xPhase) == 0)
        Rows::split(s, width, g, c);
    else
        Rows::split(s, width, c, g);
}

// Phase 0. C rows go straight to their planes and serve as the vertical
// pass's input there; G rows go through a ring of four. A single row has no
// third-colour sample: its third plane takes the second colour.
template <class Rows>
csysStatus bayerToRgb(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* first,
                      uint8_t* second, uint8_t* third, int32_t stride)
{
    csys_cleanupStack<1> cleanup;
    uint8_t* ring = nullptr;
    csysStatus status = cip_work::allocWork(cleanup, 4 * static_cast<int64_t>(width), &ring);
    if (status < 0)
        return cleanup.finish(status);
    auto g = [&](int32_t y) { return ring + static_cast<ptrdiff_t>(y & 3) * width; };

    for (int32_t y = 0; y < height; ++y) {
        const int32_t p = y & 1;
        if (y + 1 < height)
            Rows::nextRow(rowAt(source, y + 1, sourceStride), width);
        splitRow<Rows>(rowAt(source, y, sourceStride), width, p, 0, g(y), rowAt(p ? third : first, y, stride));
        if (y == 1) {
            status = csys_memCopy(width, g(0), second);
            if (status >= 0)
                status = csys_memCopy(width, rowAt(third, 1, stride), third);
            if (status < 0)
                break;
        } else if (y >= 2) {
            Rows::green(g(y - 2), g(y - 1), g(y), rowAt(second, y - 1, stride), width);
            // Row y - 1 has the other parity: the plane it does not sample is
            // the one rows y - 2 and y sample.
            uint8_t* missing = p ? third : first;
            Rows::mean(rowAt(missing, y - 2, stride), rowAt(missing, y, stride), rowAt(missing, y - 1, stride), width);
        }
    }
    Rows::finish();
    if (status < 0)
        return cleanup.finish(status);

    const int32_t last = height - 1;
    status = csys_memCopy(width, g(last), rowAt(second, last, stride));
    if (status >= 0) {
        if (height == 1)
            status = csys_memCopy(width, g(0), third);
        else {
            uint8_t* missing = (last & 1) ? first : third;
            status = csys_memCopy(width, rowAt(missing, last - 1, stride), rowAt(missing, last, stride));
        }
    }
    return cleanup.finish(status);
}

// Any phase. G rows through a ring of four, each colour's C rows through two
// rows of their own. Row 0 is written after source row 1 (at y phase 1 it
// takes the second colour of row 1), row r after source row r + 1, the last
// row after the last source row. A single row has no sample of the colour its
// row parity lacks: that colour takes the second colour.
template <class Rows>
csysStatus bayerToGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, int32_t phase,
                       const GreyWeights& weigh, uint8_t* destination, int32_t stride)
{
    const int32_t xPhase = phase & 1;
    const int32_t yPhase = phase >> 1;
    csys_cleanupStack<1> cleanup;
    uint8_t* work = nullptr;
    csysStatus status = cip_work::allocWork(cleanup, 8 * static_cast<int64_t>(width), &work);
    if (status < 0)
        return cleanup.finish(status);
    auto workRow = [&](int32_t i) { return work + static_cast<ptrdiff_t>(i) * width; };
    auto sampledFirst = [&](int32_t y) { return ((y + yPhase) & 1) == 0; };
    auto g = [&](int32_t y) { return workRow((y + yPhase) & 3); };
    auto c = [&](int32_t y) {
        const int32_t q = y + yPhase;
        return (q & 1) == 0 ? workRow(4 + ((q >> 1) & 1)) : workRow(6 + (((q - 1) >> 1) & 1));
    };
    // A border row: its own C row, the other colour taken from otherC.
    auto border = [&](int32_t y, const uint8_t* gRow, const uint8_t* otherC) {
        const uint8_t* own = c(y);
        Rows::weigh(sampledFirst(y) ? own : otherC, gRow, sampledFirst(y) ? otherC : own,
                    rowAt(destination, y, stride), width, weigh);
    };

    for (int32_t y = 0; y < height; ++y) {
        if (y + 1 < height)
            Rows::nextRow(rowAt(source, y + 1, sourceStride), width);
        splitRow<Rows>(rowAt(source, y, sourceStride), width, (y + yPhase) & 1, xPhase, g(y), c(y));
        if (y == 1) {
            border(0, g(yPhase), c(1));
        } else if (y >= 2) {
            const int32_t r = y - 1;
            Rows::weighInterior(g(r - 1), g(r), g(y), c(r), c(r - 1), c(y), sampledFirst(r),
                                rowAt(destination, r, stride), width, weigh);
        }
    }
    const int32_t last = height - 1;
    border(last, g(last), height == 1 ? g(0) : c(last - 1));
    return cleanup.finish(csysOk);
}

// The fast kernels answer csysErrFastPathDeclined for shapes they do not
// serve; the caller then runs the plain one.
csysStatus fastBayerToRgb(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                          uint8_t* first, uint8_t* second, uint8_t* third, int32_t stride)
{
    uint32_t features = 0;
    const csysStatus status = cip_simd::features(&features);
    if (status < 0)
        return status;
    if (height < 4 || width % 8 != 0 || width < 16 || !(features & csysCpuSse))
        return csysErrFastPathDeclined;
    cip_simd::served();
    return bayerToRgb<FastRows>(width, height, source, sourceStride, first, second, third, stride);
}

csysStatus fastBayerToGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                           int32_t phase, const GreyWeights& weigh, uint8_t* destination, int32_t stride)
{
    uint32_t features = 0;
    const csysStatus status = cip_simd::features(&features);
    if (status < 0)
        return status;
    if (width % 8 != 0 || width < 16 || !(features & csysCpuSse))
        return csysErrFastPathDeclined;
    cip_simd::served();
    return bayerToGrey<FastRows>(width, height, source, sourceStride, phase, weigh, destination, stride);
}

} // namespace

csysStatus cip_convertBayer8ToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                       uint8_t* first, uint8_t* second, uint8_t* third, int32_t destinationStride)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, width);
    if (status < 0)
        return status;
    if (!source || !first || !second || !third)
        return csysErrNullArg;
    status = fastBayerToRgb(width, height, source, sourceStride, first, second, third, destinationStride);
    if (!csysIsFastPathDecline(status))
        return status;
    return bayerToRgb<PlainRows>(width, height, source, sourceStride, first, second, third, destinationStride);
}

csysStatus cip_convertBayer8ToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                             int32_t sourceStride, int32_t phase, double weight1, double weight2,
                                             double weight3, uint8_t* destination, int32_t destinationStride)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, width);
    if (status < 0)
        return status;
    if (weight1 < 0 || weight2 < 0 || weight3 < 0)
        return cipErrBadWeight;
    // Written so that a weight that is not a number fails too.
    if (!(std::fabs(weight1 + weight2 + weight3 - 1.0) < 1e-6))
        return cipErrWeightSum;
    if (phase < 0 || phase > 3)
        return cipErrBadPhase;
    if (!source || !destination)
        return csysErrNullArg;
    auto fixed = [](double w) { return static_cast<int32_t>(std::floor(w * 256 + 0.5)) & 0x1FF; };
    const GreyWeights weigh{fixed(weight1), fixed(weight2), fixed(weight3)};
    status = fastBayerToGrey(width, height, source, sourceStride, phase, weigh, destination, destinationStride);
    if (!csysIsFastPathDecline(status))
        return status;
    return bayerToGrey<PlainRows>(width, height, source, sourceStride, phase, weigh, destination, destinationStride);
}

csysStatus cip_convertBayer8ToGreyscale(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                        double weight1, double weight2, double weight3, uint8_t* destination,
                                        int32_t destinationStride)
{
    return cip_convertBayer8ToGreyscaleTyped(width, height, source, sourceStride, 0, weight1, weight2, weight3,
                                             destination, destinationStride);
}
