#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "kernels/cip_ycbcr.h"
#include "tests/kernels/kernel_image.h"
#include "tests/support/fake_heap.h"

namespace {

using kernel_test::fenced;
using kernel_test::Image;
using kernel_test::paddedStride;
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
        : r(pels, s.height, paddedStride(s.width), fill), g(r), b(r)
    {
        status = fenced({&s, &r, &g, &b}, [&] {
            return convert(k, s.width, s.height, s.p(), s.stride, r.p(), g.p(), b.p(), r.stride);
        });
    }
    std::array<int, 3> pel(int32_t i) { return {r.at(i, 0), g.at(i, 0), b.at(i, 0)}; }
};

Image row(const std::vector<uint8_t>& bytes)
{
    Image s(int32_t(bytes.size()), 1, paddedStride(int32_t(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), s.p());
    return s;
}

struct Case {
    Kind kind;
    std::vector<uint8_t> bytes;
    Pels pels; // for grey, the grey value in each of the three
};

// UYV worked values, sums beyond the clamp table's -128..383 (R of Y = V =
// 255, G of Y = 0, U = V = 255), the grey table's ends; the chroma siting of
// UYVY (halved sums, a tail pel with the V before its Y, a row without its
// last V) and of UYYVYY (12 bytes: group 1 on its own chroma; 16: towards
// bytes 12 and 15; 15: on its own); the packed split.
const Case kCases[] = {
    {uyvRgb, {128, 16, 128, 128, 235, 128, 128, 255, 128, 128, 128, 128}, {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {130, 130, 130}}},
    {uyvRgb, {128, 255, 255, 128, 0, 0, 255, 0, 255, 90, 100, 160}, {{255, 175, 255}, {0, 85, 0}, {184, 0, 238}, {149, 87, 21}}},
    {uyvGrey, {0, 0, 0, 0, 16, 0, 0, 17, 0, 0, 128, 0, 0, 234, 0, 0, 235, 0, 0, 255, 0},
     {{0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {130, 130, 130}, {254, 254, 254}, {255, 255, 255}, {255, 255, 255}}},
    {uyvyRgb, {100, 80, 150, 90, 140, 100, 110, 110}, {{110, 68, 18}, {121, 79, 30}, {133, 75, 122}, {81, 119, 134}}},
    {uyvyRgb, {100, 80, 150, 90, 140, 100, 110, 110, 170, 120},
     {{110, 68, 18}, {89, 88, 70}, {69, 108, 122}, {81, 119, 134}, {92, 119, 206}}},
    {uyyvyyRgb, {100, 80, 90, 150, 100, 110, 140, 120, 130, 110, 140, 150},
     {{110, 68, 18}, {105, 83, 50}, {101, 99, 82}, {97, 115, 113}, {92, 131, 145}, {104, 143, 157}, {116, 154, 169}, {127, 166, 180}}},
    {uyyvyyRgb, {100, 80, 90, 150, 100, 110, 140, 120, 130, 110, 140, 150, 170, 160, 170, 90},
     {{110, 68, 18}, {105, 83, 50}, {101, 99, 82}, {97, 115, 113}, {92, 131, 145}, {96, 144, 172}, {100, 157, 199}, {103, 169, 226}}},
    {uyyvyyRgb, {100, 80, 90, 150, 100, 110, 140, 120, 130, 110, 140, 150, 170, 160, 170},
     {{110, 68, 18}, {105, 83, 50}, {101, 99, 82}, {97, 115, 113}, {92, 131, 145}, {104, 143, 157}, {116, 154, 169}, {127, 166, 180}}},
    {packed24, {1, 2, 3, 4, 5, 6}, {{1, 2, 3}, {4, 5, 6}}},
};

TEST(YCbCr, PelValues)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.bytes.size());
        Image s = row(c.bytes);
        Converted out(c.kind, s, int32_t(c.pels.size()));
        ASSERT_EQ(out.status, csysOk);
        for (size_t i = 0; i < c.pels.size(); ++i) {
            std::array<int, 3> pel = out.pel(int32_t(i));
            if (c.kind == uyvGrey)
                pel[1] = pel[2] = pel[0];
            EXPECT_EQ(pel, c.pels[i]) << i;
        }
    }
}

struct Count {
    Kind kind;
    int32_t width, pels;
};

// With the planes fenced at the count and the source at its width, a kernel
// that goes one byte further fails; a row too short for one whole pel (two
// UYVY bytes have no V) writes nothing.
const Count kCounts[] = {
    {uyvyRgb, 640, 320}, {uyvyGrey, 640, 320}, {uyvyRgb, 7, 3},      {uyvyGrey, 7, 3},      {uyvyRgb, 3, 1},
    {uyvyRgb, 2, 0},     {uyvyGrey, 2, 1},     {uyvRgb, 26, 8},      {uyvGrey, 26, 8},      {uyvRgb, 2, 0},
    {uyyvyyRgb, 5, 0},   {uyyvyyGrey, 25, 16}, {uyyvyyGrey, 26, 17}, {uyyvyyGrey, 1, 0},    {packed24, 7, 2},
};

TEST(YCbCr, PelsPerRowAndNothingBeyond)
{
    for (const Count& c : kCounts) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << c.width);
        Image s(c.width, 2, paddedStride(c.width));
        for (int32_t x = 0; x < c.width; ++x)
            s.at(x, 0) = s.at(x, 1) = uint8_t(x * 37);
        // Every pel is written: it comes out the same over two fills.
        Converted low(c.kind, s, c.pels, 0x00), high(c.kind, s, c.pels, 0xFF);
        ASSERT_EQ(low.status, csysOk);
        EXPECT_TRUE(low.r.row(0) == high.r.row(0) && low.r.row(1) == high.r.row(1));
        EXPECT_TRUE(high.r.outsideIntact() && high.g.outsideIntact() && high.b.outsideIntact());
    }
}

struct Refusal {
    Kind kind;
    int32_t w, h, sourceStride, destinationStride;
    bool nullDestination, heapFails;
    csysStatus expected;
};

// The UYYVYY minimum stride is 2 x width / 3 for both conversions.
const Refusal kRefusals[] = {
    {uyvRgb, 0, 0, 8, 8, false, false, cipErrBadWidth},
    {uyvGrey, 3, 0, 8, 8, false, false, cipErrBadHeight},
    {uyvyGrey, 8, 1, 7, 8, false, false, cipErrBadStride},
    {uyvyRgb, 640, 1, 640, 319, false, false, cipErrBadStride},
    {uyyvyyRgb, 16, 1, 16, 9, false, false, cipErrBadStride},
    {uyyvyyGrey, 16, 1, 16, 9, false, false, cipErrBadStride},
    {uyvRgb, 3, 1, 8, 8, true, false, csysErrNullArg},
    {packed24, 6, 1, 8, 8, false, true, csysErrNoMemory},
    // Work rows of 3 x 1431655764 bytes are refused, not wrapped.
    {uyyvyyRgb, 0x7FFFFFFF, 1, 0x7FFFFFFF, 0x7FFFFFFF, false, false, csysErrNoMemory},
};

TEST(YCbCr, RefusedCallsTouchNothing)
{
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(testing::Message() << r.kind << " " << r.expected);
        Image s(8, 1, 8), d(8, 1, 8);
        fake_heap::FakeHeap heap(r.heapFails ? 0 : -1);
        EXPECT_EQ(convert(r.kind, r.w, r.h, s.p(), r.sourceStride, r.nullDestination ? nullptr : d.p(), d.p(), d.p(),
                          r.destinationStride),
                  r.expected);
        EXPECT_TRUE(heap.live.empty());
        EXPECT_EQ(d.row(0), std::vector<int>(8, 0xEE));
    }
}

} // namespace
