#include "kernels/cip_ycbcr.h"

#include <cmath>

#include "kernels/internal/cip_work.h"
#include "system/csys_copy.h"

using cip_work::rowAt;

namespace {

// Fixed point with 13 fractional bits, each the rounded product with 8192.
struct Coefficients {
    int32_t cy, crv, cgv, cgu, cbu;
};
constexpr Coefficients kFull{9535, 13074, -6660, -3203, 16531};   // 1.164, 1.596, -0.813, -0.391, 2.018
constexpr Coefficients kHalved{9535, 6537, -3330, -1602, 8266};   // chroma of two neighbours summed
constexpr Coefficients kQuartered{9535, 3269, -1665, -801, 4133}; // chroma sums of weight 4

// Arithmetic shift written out: a right shift of a negative value is the
// implementation's choice before C++20.
inline int32_t floorShift13(int32_t sum) { return sum >= 0 ? sum >> 13 : -((-sum + 8191) >> 13); }

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
        *r = clamp(luma + k.crv * v + offR_);
        *g = clamp(luma + k.cgu * u + k.cgv * v + offG_);
        *b = clamp(luma + k.cbu * u + offB_);
    }

private:
    // The table covers -128..383; sums beyond it clamp the same way.
    uint8_t clamp(int32_t sum) const
    {
        const int32_t v = floorShift13(sum);
        if (v < -128)
            return 0;
        if (v > 383)
            return 255;
        return clamp_[v + 128];
    }

    uint8_t clamp_[512];
    const int32_t offR_ = 4096 - 16 * kFull.cy - 128 * kFull.crv;
    const int32_t offG_ = 4096 - 16 * kFull.cy - 128 * kFull.cgu - 128 * kFull.cgv;
    const int32_t offB_ = 4096 - 16 * kFull.cy - 128 * kFull.cbu;
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

// Checks, then each row through three work rows of pels bytes that are then
// copied to the planes. With no pel to make nothing is written.
csysStatus toPlanes(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* p0,
                    uint8_t* p1, uint8_t* p2, int32_t destinationStride, int32_t pels, int64_t destinationMinimum,
                    RowSplit split)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, destinationMinimum);
    if (status < 0)
        return status;
    if (!source || !p0 || !p1 || !p2)
        return csysErrNullArg;
    if (pels == 0)
        return csysOk;
    const Converter convert;
    csys_cleanupStack<1> cleanup;
    uint8_t* work = nullptr;
    status = cip_work::allocWork(cleanup, 3 * static_cast<int64_t>(pels), &work);
    if (status < 0)
        return cleanup.finish(status);
    uint8_t* w0 = work;
    uint8_t* w1 = work + pels;
    uint8_t* w2 = work + 2 * static_cast<ptrdiff_t>(pels);
    for (int32_t y = 0; y < height && status >= 0; ++y) {
        split(convert, rowAt(source, y, sourceStride), width, w0, w1, w2);
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

// Group k is U Y0 Y1 V Y2 Y3 at bytes 6k..6k+5. While the next group's V byte
// is in the row, Y1..Y3 interpolate linearly towards the next group's chroma
// (sited at Y0); otherwise the group's four pels take its own chroma.
void splitUYYVYY(const Converter& convert, const uint8_t* s, int32_t width, uint8_t* r, uint8_t* g, uint8_t* b)
{
    for (int32_t k = 0; k < width / 6; ++k, s += 6, r += 4, g += 4, b += 4) {
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
}

void splitPacked24(const Converter&, const uint8_t* s, int32_t width, uint8_t* p0, uint8_t* p1, uint8_t* p2)
{
    for (int32_t i = 0; i < width / 3; ++i, s += 3) {
        p0[i] = s[0];
        p1[i] = s[1];
        p2[i] = s[2];
    }
}

// The Y bytes of a row: byte positions from `first` in steps of `step`, or,
// with step 0, every byte whose position is not a multiple of 3.
csysStatus toGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* destination,
                  int32_t destinationStride, int64_t pels, int32_t first, int32_t step)
{
    csysStatus status = cip_work::checkSizes(width, height, sourceStride, destinationStride, pels);
    if (status < 0)
        return status;
    if (!source || !destination)
        return csysErrNullArg;
    const GreyTable grey;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = rowAt(source, y, sourceStride);
        uint8_t* out = rowAt(destination, y, destinationStride);
        if (step == 0) {
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
                    &splitUYV);
}

csysStatus cip_convertUYVToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                          uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride, width / 3, 1, 3);
}

// A row of two bytes has no V byte for its one pel: nothing is converted.
csysStatus cip_convertUYVYToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                     uint8_t* red, uint8_t* green, uint8_t* blue, int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, red, green, blue, destinationStride,
                    width < 3 ? 0 : width / 2, width / 2, &splitUYVY);
}

csysStatus cip_convertUYVYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                           int32_t sourceStride, uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride, width / 2, 1, 2);
}

csysStatus cip_convertUYYVYYToRGBTyped(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride,
                                       uint8_t* red, uint8_t* green, uint8_t* blue, int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, red, green, blue, destinationStride, 4 * (width / 6),
                    2 * static_cast<int64_t>(width) / 3, &splitUYYVYY);
}

csysStatus cip_convertUYYVYYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                             int32_t sourceStride, uint8_t* destination, int32_t destinationStride)
{
    return toGrey(width, height, source, sourceStride, destination, destinationStride,
                  2 * static_cast<int64_t>(width) / 3, 0, 0);
}

csysStatus cip_convertPacked24ToPlanesTyped(int32_t width, int32_t height, const uint8_t* source,
                                            int32_t sourceStride, uint8_t* first, uint8_t* second, uint8_t* third,
                                            int32_t destinationStride)
{
    return toPlanes(width, height, source, sourceStride, first, second, third, destinationStride, width / 3,
                    width / 3, &splitPacked24);
}
