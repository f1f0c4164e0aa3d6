#include <gtest/gtest.h>

#include <array>

#include "kernels/cip_ycbcr.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::fenced;
using kernel_test::Image;
using Pels = std::vector<std::array<int, 3>>;

enum Kind { uyvRgb, uyvGrey, uyvyRgb, uyvyGrey, uyyvyyRgb, uyyvyyGrey, packed24 };

csysStatus convert(Kind k, int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* d0, uint8_t* d1, uint8_t* d2,
                   int32_t ds)
{
    switch (k) {
    case uyvRgb: return cip_convertUYVToRGBTyped(w, h, s, ss, d0, d1, d2, ds);
    case uyvGrey: return cip_convertUYVToGreyscaleTyped(w, h, s, ss, d0, ds);
    case uyvyRgb: return cip_convertUYVYToRGBTyped(w, h, s, ss, d0, d1, d2, ds);
    case uyvyGrey: return cip_convertUYVYToGreyscaleTyped(w, h, s, ss, d0, ds);
    case uyyvyyRgb: return cip_convertUYYVYYToRGBTyped(w, h, s, ss, d0, d1, d2, ds);
    case uyyvyyGrey: return cip_convertUYYVYYToGreyscaleTyped(w, h, s, ss, d0, ds);
    case packed24: return cip_convertPacked24ToPlanesTyped(w, h, s, ss, d0, d1, d2, ds);
    }
    return csysErrFail;
}

// One conversion of a source (its width in bytes) into planes that may be
// touched only across their first `pels` bytes.
struct Converted {
    Image r, g, b;
    csysStatus status;
    Converted(Kind k, Image& s, int32_t pels, uint8_t fill = 0xEE)
        : r(pels, s.height, Image::padded(s.width), fill), g(r), b(r)
    {
        status = fenced({&s, &r, &g, &b}, [&] {
            return convert(k, s.width, s.height, s.p(), s.stride, r.p(), g.p(), b.p(), r.stride);
        });
    }
    std::array<int, 3> pel(int32_t i) { return {r.at(i, 0), g.at(i, 0), b.at(i, 0)}; }
};

struct Case {
    Kind kind;
    std::vector<uint8_t> bytes; // none: width bytes of 37x
    Pels values;                // for grey, the grey value in each of the three; none: only counted
    int32_t width = 0, pels = 0;
};

// UYV worked values, sums beyond the clamp table's -128..383 (R of Y = V =
// 255, G of Y = 0, U = V = 255), the grey table's ends; the chroma siting of
// UYVY (halved sums while V(k + 1) stands before width - 4, then each pel on
// the last U and V before its Y) and of UYYVYY (16 bytes: group 1 towards
// bytes 12 and 15; 15: on its own); the packed split. Then pel counts: with
// the planes fenced at the count and the source at its width, a kernel that
// goes one byte further fails; two UYVY bytes have no V and give nothing.
const Case kCases[] = {
    {uyvRgb, {128, 16, 128, 128, 235, 128, 128, 255, 128, 128, 128, 128}, {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {130, 130, 130}}},
    {uyvRgb, {128, 255, 255, 128, 0, 0, 255, 0, 255, 90, 100, 160}, {{255, 175, 255}, {0, 85, 0}, {184, 0, 238}, {149, 87, 21}}},
    {uyvGrey, {0, 0, 0, 0, 16, 0, 0, 17, 0, 0, 128, 0, 0, 234, 0, 0, 235, 0, 0, 255, 0},
     {{0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {130, 130, 130}, {254, 254, 254}, {255, 255, 255}, {255, 255, 255}}},
    {uyvyRgb, {100, 80, 150, 90, 140, 100, 110, 110, 170, 120, 60, 130},
     {{110, 68, 18}, {89, 88, 70}, {69, 108, 122}, {81, 119, 134}, {92, 119, 206}, {24, 172, 217}}},
    {uyyvyyRgb, {135, 115, 159, 203, 110, 76, 175, 94, 55, 116, 73, 178, 142, 122, 185, 152},
     {{235, 52, 129}, {251, 116, 201}, {160, 73, 164}, {85, 47, 145}, {72, 82, 186}, {41, 33, 124}, {76, 50, 128}, {213, 168, 233}}},
    {uyyvyyRgb, {135, 115, 159, 203, 110, 76, 175, 94, 55, 116, 73, 178, 142, 122, 185},
     {{235, 52, 129}, {251, 116, 201}, {160, 73, 164}, {85, 47, 145}, {72, 82, 186}, {26, 37, 140}, {47, 58, 161}, {169, 180, 255}}},
    {packed24, {1, 2, 3, 4, 5, 6}, {{1, 2, 3}, {4, 5, 6}}},
    {uyvyRgb, {}, {}, 640, 320}, {uyvyRgb, {}, {}, 7, 3},      {uyvyGrey, {}, {}, 7, 3},
    {uyvyRgb, {}, {}, 2, 0},     {uyvRgb, {}, {}, 26, 8},       {uyvGrey, {}, {}, 26, 8},
    {uyyvyyGrey, {}, {}, 25, 16}, {uyyvyyGrey, {}, {}, 26, 17}, {packed24, {}, {}, 7, 2},
};

// Two rows, each pel written (the same over two fills) and nothing beyond.
TEST(YCbCr, PelValuesAndCounts)
{
    for (const Case& c : kCases) {
        const bool counted = c.bytes.empty();
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.width << " " << c.bytes.size());
        Image s(counted ? c.width : int32_t(c.bytes.size()), 2);
        s.paint([&](int x, int) { return counted ? x * 37 : c.bytes[size_t(x)]; });
        const int32_t pels = counted ? c.pels : int32_t(c.values.size());
        Converted low(c.kind, s, pels, 0x00), high(c.kind, s, pels, 0xFF);
        ASSERT_EQ(low.status, csysOk);
        EXPECT_TRUE(low.r.row(0) == high.r.row(0) && low.r.row(1) == high.r.row(1));
        EXPECT_TRUE(high.r.outsideIntact() && high.g.outsideIntact() && high.b.outsideIntact());
        for (size_t i = 0; i < c.values.size(); ++i) {
            std::array<int, 3> pel = high.pel(int32_t(i));
            if (c.kind == uyvGrey)
                pel[1] = pel[2] = pel[0];
            EXPECT_EQ(pel, c.values[i]) << i;
        }
    }
}

struct Refusal {
    Kind kind;
    int32_t w, h, sourceStride, destinationStride;
    csysStatus expected;
    bool nullDestination = false, heapFails = false;
};

// The UYYVYY minimum stride is 2 x width / 3 for both conversions.
const Refusal kRefusals[] = {
    {uyvRgb, 0, 0, 8, 8, cipErrBadWidth},          {uyvGrey, 3, 0, 8, 8, cipErrBadHeight},
    {uyvyGrey, 8, 1, 7, 8, cipErrBadStride},       {uyvyRgb, 640, 1, 640, 319, cipErrBadStride},
    {uyyvyyRgb, 16, 1, 16, 9, cipErrBadStride},    {uyyvyyGrey, 16, 1, 16, 9, cipErrBadStride},
    {uyvRgb, 3, 1, 8, 8, csysErrNullArg, true},    {packed24, 6, 1, 8, 8, csysErrNoMemory, false, true},
    // Work rows of 3 x 1431655764 bytes are refused, not wrapped.
    {uyyvyyRgb, 0x7FFFFFFF, 1, 0x7FFFFFFF, 0x7FFFFFFF, csysErrNoMemory},
};

TEST(YCbCr, RefusedCallsTouchNothing)
{
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(testing::Message() << r.kind << " " << r.expected);
        Image s(8, 1, 8), d(8, 1, 8);
        kernel_test::expectStatus(r.expected, r.heapFails, [&] {
            return convert(r.kind, r.w, r.h, s.p(), r.sourceStride, r.nullDestination ? nullptr : d.p(), d.p(),
                           d.p(), r.destinationStride);
        });
        EXPECT_EQ(d.row(0), std::vector<int>(8, d.fill));
    }
}

} // namespace
