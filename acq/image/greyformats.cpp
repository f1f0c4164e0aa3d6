// The grey formats: 8-bit, 16-bit storage of 10 to 16 significant bits
// (little- or big-endian), and two 10- or 12-bit pels packed in three bytes.
#include <algorithm>

#include "acq/image/internal/formats.h"

using namespace cc_detail::acq;

cc3PlanePelBuffer cc_GreyRawAcqImage::planeBuffer() const
{
    if (!convertible(*this))
        return {};
    return planesFromGrey(grey8Buffer());
}

ccPelBuffer<unsigned char> cc_Grey8AcqImage::grey8Buffer() const
{
    if (!hasFrame())
        return {};
    return frame_;
}

template <class T, class F>
ccPelBuffer<T> cc_WideGreyAcqImage::convert(F pel) const
{
    const bool bigEndian = format() == 16;
    const int64_t width = bytes() / 2;
    return fillRows<T>(frame_, width, [&](const unsigned char* in, T* out) {
        for (int64_t x = 0; x < width; ++x, in += 2)
            out[x] = static_cast<T>(pel(bigEndian ? (in[0] << 8 | in[1]) : (in[0] | in[1] << 8)));
    });
}

ccPelBuffer<unsigned char> cc_WideGreyAcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    const uint32_t shift = bitsPerPel(format()) - 8;
    // Stray bits above the pel's width would wrap past 255.
    return convert<unsigned char>([shift](uint32_t v) { return std::min<uint32_t>(v >> shift, 255); });
}

ccPelBuffer<unsigned short> cc_WideGreyAcqImage::grey16Buffer() const
{
    if (!convertible(*this))
        return {};
    return convert<unsigned short>([](uint32_t v) { return v; });
}

namespace {

// Calls pel(high, low, second) for each pel of a window row of width bytes
// that starts at byte x0 of its root row, in order: the offsets of its high
// byte and of its low-bits byte from the window start, and whether it is the
// second of its group. Groups start at the root row's start; a trailing
// high byte whose low bits lie past the window is no pel.
template <class F>
void forEachPackedPel(int64_t x0, int64_t width, F pel)
{
    for (int64_t i = 0; i < width; ++i) {
        switch ((x0 + i) % 3) {
        case 0:
            if (i + 1 < width)
                pel(i, i + 1, false);
            break;
        case 2:
            // At an odd start the low bits are the byte before the window,
            // still inside the root's row.
            pel(i, i - 1, true);
            break;
        default: break;
        }
    }
}

} // namespace

template <class T, class F>
ccPelBuffer<T> cc_PackedGreyAcqImage::convert(F pel) const
{
    const int64_t x0 = frame_.windowRect().x0(), width = bytes();
    int64_t pels = 0;
    forEachPackedPel(x0, width, [&pels](int64_t, int64_t, bool) { ++pels; });
    return fillRows<T>(frame_, pels, [&](const unsigned char* in, T* out) {
        forEachPackedPel(x0, width,
                         [&](int64_t high, int64_t low, bool second) { *out++ = pel(in, high, low, second); });
    });
}

ccPelBuffer<unsigned char> cc_PackedGreyAcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    return convert<unsigned char>([](const unsigned char* in, int64_t high, int64_t, bool) { return in[high]; });
}

ccPelBuffer<unsigned short> cc_PackedGreyAcqImage::grey16Buffer() const
{
    if (!convertible(*this))
        return {};
    const uint32_t lowBits = bitsPerPel(format()) - 8;
    const uint32_t mask = (1u << lowBits) - 1;
    return convert<unsigned short>([lowBits, mask](const unsigned char* in, int64_t high, int64_t low, bool second) {
        const uint32_t bits = second ? in[low] >> 4 : in[low];
        return static_cast<unsigned short>(in[high] << lowBits | (bits & mask));
    });
}
