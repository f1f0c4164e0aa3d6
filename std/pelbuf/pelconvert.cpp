// Packed colour conversions: plain loops and their SSE2 kernels.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "std/pelbuf/pelconvert_testing.h"
#include "std/pelbuf/pelfunc.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte 0 of a packed pel is the low byte of its value");

namespace {

typedef unsigned char Byte;

std::atomic<ccPelConvertKernels> gKernels{ccPelConvertKernels::asked};

// The split and grey kernels.
bool kernelsAllowed()
{
    switch (gKernels.load(std::memory_order_relaxed)) {
    case ccPelConvertKernels::plain: return false;
    case ccPelConvertKernels::fast: return true;
    default: return ccPelFunc::useMmx();
    }
}

// Every kernel works on whole groups of 4 pels.
bool kernelWidth(int64_t width) { return width % 4 == 0 && width >= 8; }

// A 32-bit pel's byte for a channel index: 0 red, 1 green, 2 blue, 3 the
// fourth byte.
constexpr int kChannelShift[4] = {16, 8, 0, 24};

// Cache hints only: a prefetch never faults, but it stays inside the row.
template <int Hint>
void prefetchRow(const void* row, size_t bytes, size_t step)
{
    const char* p = static_cast<const char*>(row);
    for (size_t i = 0; i < bytes; i += step)
        _mm_prefetch(p + i, static_cast<_mm_hint>(Hint));
}

__m128i load8(const Byte* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }

void streamStore(void* p, __m128i v)
{
    if (reinterpret_cast<uintptr_t>(p) % 16 == 0)
        _mm_stream_si128(static_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Steps of 8 pels over a row of at least 8; a last group of 4 is done by
// redoing the row's last 8, which writes the same values again.
template <class Step>
void groupsOf8(int32_t width, Step step)
{
    int32_t x = 0;
    for (; x + 8 <= width; x += 8)
        step(x);
    if (x < width)
        step(width - 8);
}

struct Planes {
    const Byte* row[3];
    ptrdiff_t stride[3];
    int32_t width;
    int32_t height;
};

Planes planesOf(const ccPelBuffer_const<Byte>& first, const ccPelBuffer_const<Byte>& second,
                const ccPelBuffer_const<Byte>& third)
{
    const ccPelBuffer_const<Byte>* p[3] = {&first, &second, &third};
    Planes planes{};
    planes.width = static_cast<int32_t>(first.windowRect().width());
    planes.height = static_cast<int32_t>(first.windowRect().height());
    for (int i = 0; i < 3; ++i) {
        planes.row[i] = p[i]->windowStart();
        planes.stride[i] = p[i]->typedRoot().stride();
    }
    return planes;
}

void checkPlanes(const ccPelBuffer_const<Byte>& first, const ccPelBuffer_const<Byte>& second,
                 const ccPelBuffer_const<Byte>& third)
{
    if (!first.isBound() || !second.isBound() || !third.isBound())
        throw ccPelFunc::BadParams();
    if (second.window() != first.window() || third.window() != first.window())
        throw ccPelFunc::BadParams();
}

// The destination of a merge: written in place when its window is the
// first plane's, else a new buffer over that window.
template <class Pel>
ccPelBuffer<Pel> mergeTarget(const ccPelBuffer_const<Byte>& first, const ccPelBuffer<Pel>& destination)
{
    if (destination.isBound() && destination.window() == first.window())
        return destination;
    ccPelBuffer<Pel> made(first.window(), 32);
    made.copyClientXform(first);
    return made;
}

// Merges row by row: rowFn(r, g, b, destination row, fast).
template <class Pel, class RowFn>
void mergeInto(const ccPelBuffer_const<Byte>& first, const ccPelBuffer_const<Byte>& second,
               const ccPelBuffer_const<Byte>& third, ccPelBuffer<Pel>& destination, RowFn rowFn)
{
    checkPlanes(first, second, third);
    const Planes planes = planesOf(first, second, third);
    ccPelBuffer<Pel> target = mergeTarget(first, destination);
    if (planes.width > 0 && planes.height > 0) {
        Pel* out = target.windowStart();
        const ptrdiff_t outStride = target.typedRoot().stride();
        const bool fast = ccPelFunc::useStreamingMmx() && kernelWidth(planes.width);
        for (int32_t y = 0; y < planes.height; ++y) {
            const Byte* r = planes.row[0] + y * planes.stride[0];
            const Byte* g = planes.row[1] + y * planes.stride[1];
            const Byte* b = planes.row[2] + y * planes.stride[2];
            if (fast) {
                for (const Byte* row : {r, g, b})
                    prefetchRow<_MM_HINT_NTA>(row, size_t(planes.width), 32);
            }
            rowFn(r, g, b, out + y * outStride, planes.width, fast);
        }
        if (fast)
            _mm_sfence(); // the streamed pels are seen by whoever reads the frame next
    }
    destination = target;
}

void merge16Row(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB16Pel* out, int32_t width, bool fast)
{
    if (!fast) {
        for (int32_t x = 0; x < width; ++x)
            out[x].value = static_cast<uint16_t>(((r[x] >> 3) << 11) | ((g[x] & 0xFC) << 3) | (b[x] >> 3));
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i top5 = _mm_set1_epi16(0xF8);
    const __m128i top6 = _mm_set1_epi16(0xFC);
    groupsOf8(width, [&](int32_t x) {
        const __m128i R = _mm_unpacklo_epi8(load8(r + x), zero);
        const __m128i G = _mm_unpacklo_epi8(load8(g + x), zero);
        const __m128i B = _mm_unpacklo_epi8(load8(b + x), zero);
        const __m128i rg = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(R, top5), 8),
                                        _mm_slli_epi16(_mm_and_si128(G, top6), 3));
        streamStore(out + x, _mm_or_si128(rg, _mm_srli_epi16(B, 3)));
    });
}

void merge32Row(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB32Pel* out, int32_t width, bool fast,
                uint8_t fourth)
{
    if (!fast) {
        for (int32_t x = 0; x < width; ++x)
            out[x].value = uint32_t{b[x]} | uint32_t{g[x]} << 8 | uint32_t{r[x]} << 16 | uint32_t{fourth} << 24;
        return;
    }
    const __m128i f = _mm_set1_epi8(static_cast<char>(fourth));
    groupsOf8(width, [&](int32_t x) {
        const __m128i bg = _mm_unpacklo_epi8(load8(b + x), load8(g + x));
        const __m128i rf = _mm_unpacklo_epi8(load8(r + x), f);
        streamStore(out + x, _mm_unpacklo_epi16(bg, rf));
        streamStore(out + x + 4, _mm_unpackhi_epi16(bg, rf));
    });
}

// A window of 32-bit pels and where its rows start.
struct Source32 {
    const ccPackedRGB32Pel* start;
    ptrdiff_t stride;
};

// The byte of each 32-bit lane at shift, as a 32-bit value.
__m128i lane(__m128i v, int shift)
{
    return _mm_and_si128(_mm_srl_epi32(v, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF));
}

void storeLow4(Byte* p, __m128i v)
{
    const int32_t four = _mm_cvtsi128_si32(v);
    std::memcpy(p, &four, 4);
}

// Writes the channels of a width x height window into count planes sharing
// one stride, in the order given.
void extractChannels(Source32 src, int32_t width, int32_t height, Byte* const* out, const int* channels,
                     int count, ptrdiff_t outStride, bool fast)
{
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        const ptrdiff_t o = y * outStride;
        if (!fast) {
            for (int32_t x = 0; x < width; ++x)
                for (int c = 0; c < count; ++c)
                    out[c][o + x] = static_cast<Byte>(s[x].value >> kChannelShift[channels[c]]);
            continue;
        }
        prefetchRow<_MM_HINT_T0>(s, size_t(width) * 4, 64);
        int32_t x = 0;
        for (; x + 16 <= width; x += 16) {
            __m128i v[4];
            for (int i = 0; i < 4; ++i)
                v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 4 * i));
            for (int c = 0; c < count; ++c) {
                const int shift = kChannelShift[channels[c]];
                const __m128i low = _mm_packs_epi32(lane(v[0], shift), lane(v[1], shift));
                const __m128i high = _mm_packs_epi32(lane(v[2], shift), lane(v[3], shift));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + o + x), _mm_packus_epi16(low, high));
            }
        }
        for (; x < width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
            for (int c = 0; c < count; ++c) {
                const __m128i one = _mm_packs_epi32(lane(v, kChannelShift[channels[c]]), _mm_setzero_si128());
                storeLow4(out[c] + o + x, _mm_packus_epi16(one, one));
            }
        }
    }
}

struct GreyWeights {
    int64_t red, green, blue, offset;
    int shift;
};

// The weights and offset scaled by 2^shift, rounded half away from zero or
// truncated.
GreyWeights greyWeights(double red, double green, double blue, double offset, int shift, bool round)
{
    const double scale = std::ldexp(1.0, shift);
    const auto fixed = [&](double v) { return static_cast<int64_t>(round ? std::round(v * scale) : v * scale); };
    // Beyond 2^40 every acc is past both ends of the range anyway.
    const double limit = std::ldexp(1.0, 40);
    return GreyWeights{fixed(red), fixed(green), fixed(blue), fixed(std::fmin(limit, std::fmax(-limit, offset))),
                       shift};
}

// acc rules of the rounded weights: 0 below 1, 255 from 255 << shift.
void greyPlain(Source32 src, int32_t width, int32_t height, Byte* out, ptrdiff_t outStride, const GreyWeights& w)
{
    const int64_t top = int64_t{255} << w.shift;
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        Byte* d = out + y * outStride;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t v = s[x].value;
            const int64_t acc = (v & 0xFF) * w.blue + (v >> 8 & 0xFF) * w.green + (v >> 16 & 0xFF) * w.red + w.offset;
            d[x] = static_cast<Byte>(acc < 1 ? 0 : acc < top ? acc >> w.shift : 255);
        }
    }
}

// Non-negative truncated weights below 2^14 and an offset of at most
// 2^22: every sum fits 32 bits, and the packs saturate it to 255.
void greyKernel(Source32 src, int32_t width, int32_t height, Byte* out, ptrdiff_t outStride, const GreyWeights& w)
{
    const __m128i weights = _mm_setr_epi16(int16_t(w.blue), int16_t(w.green), int16_t(w.red), 0, int16_t(w.blue),
                                           int16_t(w.green), int16_t(w.red), 0);
    const __m128i offset = _mm_set1_epi32(static_cast<int32_t>(w.offset));
    const __m128i shift = _mm_cvtsi32_si128(w.shift);
    const __m128i zero = _mm_setzero_si128();
    // The (b*Wb + g*Wg, r*Wr) pairs of two pels, added into lanes 0 and 1.
    const auto sums = [&](__m128i pels) {
        const __m128i m = _mm_madd_epi16(pels, weights);
        return _mm_shuffle_epi32(_mm_add_epi32(m, _mm_srli_epi64(m, 32)), _MM_SHUFFLE(3, 3, 2, 0));
    };
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        Byte* d = out + y * outStride;
        prefetchRow<_MM_HINT_T0>(s, size_t(width) * 4, 64);
        for (int32_t x = 0; x < width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
            __m128i acc = _mm_unpacklo_epi64(sums(_mm_unpacklo_epi8(v, zero)), sums(_mm_unpackhi_epi8(v, zero)));
            acc = _mm_srl_epi32(_mm_add_epi32(acc, offset), shift);
            const __m128i words = _mm_packs_epi32(acc, zero);
            storeLow4(d + x, _mm_packus_epi16(words, words));
        }
    }
}

} // namespace

void ccPelConvertForceKernels(ccPelConvertKernels choice) { gKernels.store(choice, std::memory_order_relaxed); }

void ccPelFunc::mergePlanesToPackedRGB16(const ccPelBuffer_const<unsigned char>& first,
                                         const ccPelBuffer_const<unsigned char>& second,
                                         const ccPelBuffer_const<unsigned char>& third,
                                         ccPelBuffer<ccPackedRGB16Pel>& destination)
{
    mergeInto(first, second, third, destination, merge16Row);
}

void ccPelFunc::mergePlanesToPackedRGB32(const ccPelBuffer_const<unsigned char>& first,
                                         const ccPelBuffer_const<unsigned char>& second,
                                         const ccPelBuffer_const<unsigned char>& third,
                                         ccPelBuffer<ccPackedRGB32Pel>& destination, uint8_t fourth)
{
    mergeInto(first, second, third, destination,
              [fourth](const Byte* r, const Byte* g, const Byte* b, ccPackedRGB32Pel* out, int32_t width,
                       bool fast) { merge32Row(r, g, b, out, width, fast, fourth); });
}

void ccPelFunc::splitPackedRGB32ToPlanes(const ccPelBuffer_const<ccPackedRGB32Pel>& source,
                                         ccPelBuffer<unsigned char>* red, ccPelBuffer<unsigned char>* green,
                                         ccPelBuffer<unsigned char>* blue)
{
    if (!source.isBound())
        throw ccPel::UnboundWindow();
    const ccPelRect& window = source.windowRect();
    ccPelBuffer<Byte>* given[3];
    int channels[3];
    int count = 0;
    ccPelBuffer<Byte>* const all[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        ccPelBuffer<Byte>* d = all[c];
        if (!d)
            continue;
        if (!d->isBound())
            throw ccPel::UnboundWindow();
        if (d->windowRect().width() != window.width() || d->windowRect().height() != window.height())
            throw ccPel::BadWindow();
        if (count > 0 && d->typedRoot().stride() != given[0]->typedRoot().stride())
            throw ccPel::BadWindow();
        given[count] = d;
        channels[count++] = c;
    }
    if (count == 0)
        return;
    const int32_t width = static_cast<int32_t>(window.width());
    const int32_t height = static_cast<int32_t>(window.height());
    if (width > 0 && height > 0) {
        const Source32 src{source.windowStart(), source.typedRoot().stride()};
        Byte* out[3];
        for (int i = 0; i < count; ++i)
            out[i] = given[i]->windowStart();
        const ptrdiff_t outStride = given[0]->typedRoot().stride();
        const bool fast = kernelsAllowed() && kernelWidth(width);
        if (count == 3) {
            extractChannels(src, width, height, out, channels, 3, outStride, fast);
        } else {
            for (int i = 0; i < count; ++i)
                extractChannels(src, width, height, out + i, channels + i, 1, outStride, fast);
        }
    }
    for (int i = 0; i < count; ++i)
        given[i]->copyClientXform(source);
}

void ccPelFunc::packedRGB32ToGreyWeighted(const ccPelBuffer_const<ccPackedRGB32Pel>& source, double red,
                                          double green, double blue, double offset,
                                          ccPelBuffer<unsigned char>& destination)
{
    if (!source.isBound())
        throw ccPel::UnboundWindow();
    // A weight that is not finite has no scale (and would never halve below 1).
    if (!std::isfinite(red) || !std::isfinite(green) || !std::isfinite(blue))
        throw BadParams();
    int channel = -1;
    if (red == 1 && green == 0 && blue == 0)
        channel = 0;
    else if (red == 0 && green == 1 && blue == 0)
        channel = 1;
    else if (red == 0 && green == 0 && blue == 1)
        channel = 2;
    int shift = 0;
    if (channel < 0) {
        if (!std::isfinite(offset))
            throw BadParams();
        double m = std::fmax(std::fabs(red), std::fmax(std::fabs(green), std::fabs(blue)));
        int k = 0;
        for (; m >= 1 && k <= 14; ++k)
            m /= 2;
        if (k > 14)
            throw BadParams();
        shift = 14 - k;
    }

    ccPelBuffer<Byte> target = destination;
    if (!target.isBound()) {
        target = ccPelBuffer<Byte>(source.window(), 32);
        target.copyClientXform(source);
    }
    const ccPelRect common = source.window().intersect(target.window(), false);
    if (common.width() > 0 && common.height() > 0) {
        const int32_t width = static_cast<int32_t>(common.width());
        const int32_t height = static_cast<int32_t>(common.height());
        const Source32 src{source.pel(common.x0(), common.y0()), source.typedRoot().stride()};
        Byte* out = target.pel(common.x0(), common.y0());
        const ptrdiff_t outStride = target.typedRoot().stride();
        const bool fast = kernelWidth(width) && kernelsAllowed();
        if (channel >= 0) {
            extractChannels(src, width, height, &out, &channel, 1, outStride, fast);
        } else if (fast && red >= 0 && green >= 0 && blue >= 0 && offset >= 0 &&
                   red + green + blue + offset <= 256.0) {
            greyKernel(src, width, height, out, outStride, greyWeights(red, green, blue, offset, shift, false));
        } else {
            greyPlain(src, width, height, out, outStride, greyWeights(red, green, blue, offset, shift, true));
        }
    }
    destination = target;
}

void ccPelFunc::packedRGB32ToGrey(const ccPelBuffer_const<ccPackedRGB32Pel>& source, double red, double green,
                                  double blue, ccPelBuffer<unsigned char>& destination)
{
    packedRGB32ToGreyWeighted(source, red, green, blue, 0.0, destination);
}
