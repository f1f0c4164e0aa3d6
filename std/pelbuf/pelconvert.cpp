// Packed colour conversions: plain loops and their SSE2 kernels; the grey
// kernel's AVX2 twin is in pelconvert_avx2.cpp.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "std/pelbuf/pelconvert_avx2.h"
#include "std/pelbuf/pelconvert_testing.h"
#include "std/pelbuf/pelfunc.h"
#include "system/csys_copy.h"
#include "system/csys_cpu.h"
#include "system/csys_simd.h"

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

std::atomic<uint64_t> gAvx2Calls{0};

// The AVX2 twins, beside what the SSE2 kernels need: by the system layer's
// answer for the effective processor description, which tests force.
bool avx2Allowed()
{
    bool avx2 = false;
    return csys_cpuHasAvx2(&avx2) >= 0 && avx2;
}

// Every kernel works on whole groups of 4 pels.
bool kernelWidth(int64_t width) { return width % 4 == 0 && width >= 8; }

// A 32-bit pel's byte for a channel index: 0 red, 1 green, 2 blue, 3 the
// fourth byte.
constexpr int kChannelShift[4] = {16, 8, 0, 24};

// Cache hints only: a prefetch never faults, but it stays inside the row.
// Only the streamed merges take them: on a frame that stays in the cache the
// processor's own prefetch follows each row, and a pass of hints before every
// row costs more than it saves.
void prefetchRowPastCache(const void* row, size_t bytes)
{
    const char* p = static_cast<const char*>(row);
    for (size_t i = 0; i < bytes; i += 32)
        _mm_prefetch(p + i, _MM_HINT_NTA);
}

__m128i load8(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
void store8(void* p, __m128i v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }

using csys_simd::load16;
using csys_simd::store16;

// Steps of 16 pels over a row whose width is a multiple of 4 and at least
// 8, steps of 8 below 16. A last partial step is moved back to end at the
// row's end: it writes pels already written again, with the same values.
template <class Wide, class Narrow>
void steps(int32_t width, Wide wide, Narrow narrow)
{
    if (width < 16) {
        narrow(0);
        if (width > 8)
            narrow(width - 8);
        return;
    }
    int32_t x = 0;
    for (; x + 16 <= width; x += 16)
        wide(x);
    if (x < width)
        wide(width - 16);
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

// How a merge writes its rows: the plain loop, or the kernel with ordinary
// stores or with stores past the cache. A frame that stays in the cache is
// faster to write through it, so the stores stream only where a copy of the
// same traffic would (csys_copy's threshold).
enum class MergePath { plain, cached, streamed };

MergePath mergePath(int32_t width, int32_t height, size_t outBytes)
{
    if (!ccPelFunc::useStreamingMmx() || !kernelWidth(width))
        return MergePath::plain;
    const int64_t traffic = int64_t{width} * height * int64_t(3 + outBytes);
    return traffic < csys_streamingThreshold() ? MergePath::cached : MergePath::streamed;
}

// Merges row by row: rowFn(r, g, b, destination row, width, path).
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
        const MergePath path = mergePath(planes.width, planes.height, sizeof(Pel));
        for (int32_t y = 0; y < planes.height; ++y) {
            const Byte* r = planes.row[0] + y * planes.stride[0];
            const Byte* g = planes.row[1] + y * planes.stride[1];
            const Byte* b = planes.row[2] + y * planes.stride[2];
            if (path == MergePath::streamed) {
                for (const Byte* row : {r, g, b})
                    prefetchRowPastCache(row, size_t(planes.width));
            }
            rowFn(r, g, b, out + y * outStride, planes.width, path);
        }
        if (path == MergePath::streamed)
            _mm_sfence(); // the streamed pels are seen by whoever reads the frame next
    }
    destination = target;
}

// The high and low bytes of 16 packed 16-bit pels: red's top 5 bits over
// green's top 3, then green's next 3 over blue's top 5.
void rgb16Bytes(__m128i R, __m128i G, __m128i B, __m128i& high, __m128i& low)
{
    high = _mm_or_si128(_mm_and_si128(R, _mm_set1_epi8(char(0xF8))),
                        _mm_and_si128(_mm_srli_epi16(G, 5), _mm_set1_epi8(0x07)));
    low = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(G, 3), _mm_set1_epi8(char(0xE0))),
                       _mm_and_si128(_mm_srli_epi16(B, 3), _mm_set1_epi8(0x1F)));
}

template <bool Stream>
void merge16Kernel(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB16Pel* out, int32_t width)
{
    __m128i high, low;
    steps(
        width,
        [&](int32_t x) {
            rgb16Bytes(load16(r + x), load16(g + x), load16(b + x), high, low);
            store16<Stream>(out + x, _mm_unpacklo_epi8(low, high));
            store16<Stream>(out + x + 8, _mm_unpackhi_epi8(low, high));
        },
        [&](int32_t x) {
            rgb16Bytes(load8(r + x), load8(g + x), load8(b + x), high, low);
            store16<Stream>(out + x, _mm_unpacklo_epi8(low, high));
        });
}

void merge16Row(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB16Pel* out, int32_t width, MergePath path)
{
    if (path == MergePath::plain) {
        for (int32_t x = 0; x < width; ++x)
            out[x].value = static_cast<uint16_t>(((r[x] >> 3) << 11) | ((g[x] & 0xFC) << 3) | (b[x] >> 3));
    } else if (path == MergePath::cached) {
        merge16Kernel<false>(r, g, b, out, width);
    } else {
        merge16Kernel<true>(r, g, b, out, width);
    }
}

template <bool Stream>
void merge32Kernel(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB32Pel* out, int32_t width, uint8_t fourth)
{
    const __m128i f = _mm_set1_epi8(static_cast<char>(fourth));
    steps(
        width,
        [&](int32_t x) {
            const __m128i B = load16(b + x), G = load16(g + x), R = load16(r + x);
            const __m128i bgLow = _mm_unpacklo_epi8(B, G), bgHigh = _mm_unpackhi_epi8(B, G);
            const __m128i rfLow = _mm_unpacklo_epi8(R, f), rfHigh = _mm_unpackhi_epi8(R, f);
            store16<Stream>(out + x, _mm_unpacklo_epi16(bgLow, rfLow));
            store16<Stream>(out + x + 4, _mm_unpackhi_epi16(bgLow, rfLow));
            store16<Stream>(out + x + 8, _mm_unpacklo_epi16(bgHigh, rfHigh));
            store16<Stream>(out + x + 12, _mm_unpackhi_epi16(bgHigh, rfHigh));
        },
        [&](int32_t x) {
            const __m128i bg = _mm_unpacklo_epi8(load8(b + x), load8(g + x));
            const __m128i rf = _mm_unpacklo_epi8(load8(r + x), f);
            store16<Stream>(out + x, _mm_unpacklo_epi16(bg, rf));
            store16<Stream>(out + x + 4, _mm_unpackhi_epi16(bg, rf));
        });
}

void merge32Row(const Byte* r, const Byte* g, const Byte* b, ccPackedRGB32Pel* out, int32_t width, MergePath path,
                uint8_t fourth)
{
    if (path == MergePath::plain) {
        for (int32_t x = 0; x < width; ++x)
            out[x].value = uint32_t{b[x]} | uint32_t{g[x]} << 8 | uint32_t{r[x]} << 16 | uint32_t{fourth} << 24;
    } else if (path == MergePath::cached) {
        merge32Kernel<false>(r, g, b, out, width, fourth);
    } else {
        merge32Kernel<true>(r, g, b, out, width, fourth);
    }
}

// A window of 32-bit pels and where its rows start.
struct Source32 {
    const ccPackedRGB32Pel* start;
    ptrdiff_t stride;
};

// The even (or odd) bytes of two vectors, as the 16 bytes of one. The odd
// bytes are moved down by a multiply (the high half of x * 256), which runs
// beside the packs where a shift would wait for them.
template <bool Odd>
__m128i bytesOf(__m128i a, __m128i b)
{
    if (Odd) {
        const __m128i down = _mm_set1_epi16(0x100);
        return _mm_packus_epi16(_mm_mulhi_epu16(a, down), _mm_mulhi_epu16(b, down));
    }
    const __m128i low = _mm_set1_epi16(0xFF);
    return _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
}

// Byte Index of 16 pels: bit 0 of the index picks the even or odd bytes of
// the pels, bit 1 the even or odd bytes of those.
template <int Index>
__m128i byteOfPels(const __m128i (&v)[4])
{
    constexpr bool odd = (Index & 1) != 0;
    return bytesOf<(Index & 2) != 0>(bytesOf<odd>(v[0], v[1]), bytesOf<odd>(v[2], v[3]));
}

// The kernel of extractChannels: plane c gets byte Bytes[c] of each pel.
template <int... Bytes>
void channelKernel(Source32 src, int32_t width, int32_t height, Byte* const* out, ptrdiff_t outStride)
{
    constexpr int count = sizeof...(Bytes);
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        Byte* d[count];
        for (int c = 0; c < count; ++c)
            d[c] = out[c] + y * outStride;
        steps(
            width,
            [&](int32_t x) {
                const __m128i v[4] = {load16(s + x), load16(s + x + 4), load16(s + x + 8), load16(s + x + 12)};
                int c = 0;
                (store16<false>(d[c++] + x, byteOfPels<Bytes>(v)), ...);
            },
            [&](int32_t x) {
                // Pels 0 to 7 twice: the low half is the 8 bytes wanted.
                const __m128i a = load16(s + x), b = load16(s + x + 4);
                const __m128i v[4] = {a, b, a, b};
                int c = 0;
                (store8(d[c++] + x, byteOfPels<Bytes>(v)), ...);
            });
    }
}

// Writes the channels of a width x height window into count planes sharing
// one stride, in the order given: one of red, green and blue, or all three
// in that order.
void extractChannels(Source32 src, int32_t width, int32_t height, Byte* const* out, const int* channels,
                     int count, ptrdiff_t outStride, bool fast)
{
    if (fast && count == 3) {
        channelKernel<2, 1, 0>(src, width, height, out, outStride);
        return;
    }
    if (fast && count == 1) {
        switch (channels[0]) {
        case 0: channelKernel<2>(src, width, height, out, outStride); return;
        case 1: channelKernel<1>(src, width, height, out, outStride); return;
        default: channelKernel<0>(src, width, height, out, outStride); return;
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        const ptrdiff_t o = y * outStride;
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < count; ++c)
                out[c][o + x] = static_cast<Byte>(s[x].value >> kChannelShift[channels[c]]);
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
template <bool Offset>
void greyKernel(Source32 src, int32_t width, int32_t height, Byte* out, ptrdiff_t outStride, const GreyWeights& w)
{
    // Each pel as the 16-bit pairs (blue, red) and (green, fourth): one
    // multiply-add each gives b*Wb + r*Wr and g*Wg.
    const __m128i blueRed = _mm_set1_epi32(static_cast<int32_t>(w.red << 16 | w.blue));
    const __m128i green = _mm_set1_epi32(static_cast<int32_t>(w.green));
    const __m128i evenBytes = _mm_set1_epi16(0xFF);
    const __m128i offset = _mm_set1_epi32(static_cast<int32_t>(w.offset));
    const __m128i shift = _mm_cvtsi32_si128(w.shift);
    const auto grey4 = [&](const ccPackedRGB32Pel* p) {
        const __m128i v = load16(p);
        const __m128i br = _mm_madd_epi16(_mm_and_si128(v, evenBytes), blueRed);
        const __m128i g = _mm_madd_epi16(_mm_srli_epi16(v, 8), green);
        const __m128i sum = _mm_add_epi32(br, g);
        return _mm_srl_epi32(Offset ? _mm_add_epi32(sum, offset) : sum, shift);
    };
    for (int32_t y = 0; y < height; ++y) {
        const ccPackedRGB32Pel* s = src.start + y * src.stride;
        Byte* d = out + y * outStride;
        steps(
            width,
            [&](int32_t x) {
                const __m128i low = _mm_packs_epi32(grey4(s + x), grey4(s + x + 4));
                const __m128i high = _mm_packs_epi32(grey4(s + x + 8), grey4(s + x + 12));
                store16<false>(d + x, _mm_packus_epi16(low, high));
            },
            [&](int32_t x) {
                const __m128i words = _mm_packs_epi32(grey4(s + x), grey4(s + x + 4));
                store8(d + x, _mm_packus_epi16(words, words));
            });
    }
}

} // namespace

void ccPelConvertForceKernels(ccPelConvertKernels choice) { gKernels.store(choice, std::memory_order_relaxed); }

uint64_t ccPelConvertAvx2Calls() { return gAvx2Calls.load(std::memory_order_relaxed); }

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
                       MergePath path) { merge32Row(r, g, b, out, width, path, fourth); });
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
            const GreyWeights w = greyWeights(red, green, blue, offset, shift, false);
            if (avx2Allowed()) {
                gAvx2Calls.fetch_add(1, std::memory_order_relaxed);
                pelconvert_avx2::grey({src.start, src.stride * ptrdiff_t(sizeof(ccPackedRGB32Pel)), out, outStride,
                                       width, height, static_cast<int32_t>(w.red << 16 | w.blue),
                                       static_cast<int32_t>(w.green), static_cast<int32_t>(w.offset), w.shift});
            } else if (w.offset != 0) {
                greyKernel<true>(src, width, height, out, outStride, w);
            } else {
                greyKernel<false>(src, width, height, out, outStride, w);
            }
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
