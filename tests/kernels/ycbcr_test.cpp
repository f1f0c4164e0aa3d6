#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "kernels/cip_bayer.h"
#include "kernels/cip_ycbcr.h"
#include "tests/kernels/fast_paths.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::Image;
typedef csysStatus (*Planes)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t);
typedef csysStatus (*Grey)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t);

// A grey conversion into each of three planes, so that its pels read as three
// equal values.
template <Grey F>
csysStatus grey(int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* d0, uint8_t* d1, uint8_t* d2, int32_t ds)
{
    return std::min({F(w, h, s, ss, d0, ds), F(w, h, s, ss, d1, ds), F(w, h, s, ss, d2, ds)});
}

// UYV worked values, sums beyond the clamp table's -128..383 (R of Y = V =
// 255, G of Y = 0, U = V = 255), the grey table's ends; the chroma siting of
// UYVY (halved sums while V(k + 1) stands before width - 4, then each pel on
// the last U and V before its Y; B and G of the halved pel tell rounded
// coefficients from truncated ones) and of UYYVYY (16 bytes: group 1 towards
// bytes 12 and 15; 15: on its own); the packed split. Widths with bytes left
// over: with the planes fenced at the pel count and the source at its width,
// a kernel that goes one byte further fails; two UYVY bytes have no V and give
// nothing.
TEST(YCbCr, PelValuesAndCounts)
{
    const struct { Planes convert; std::vector<uint8_t> bytes; std::vector<std::array<int, 3>> pels; } cases[] = {
        {cip_convertUYVToRGBTyped, {128, 16, 128, 128, 235, 128, 128, 255, 128, 128, 128, 128, 7, 7},
         {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {130, 130, 130}}},
        {cip_convertUYVToRGBTyped, {128, 255, 255, 128, 0, 0, 255, 0, 255, 90, 100, 160},
         {{255, 175, 255}, {0, 85, 0}, {184, 0, 238}, {149, 87, 21}}},
        {grey<cip_convertUYVToGreyscaleTyped>,
         {0, 0, 0, 0, 16, 0, 0, 17, 0, 0, 128, 0, 0, 234, 0, 0, 235, 0, 0, 255, 0, 7},
         {{0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {130, 130, 130}, {254, 254, 254}, {255, 255, 255}, {255, 255, 255}}},
        {cip_convertUYVYToRGBTyped, {104, 80, 165, 78, 190, 100, 126, 110, 170, 120, 60, 130},
         {{134, 54, 26}, {100, 50, 111}, {95, 75, 223}, {106, 87, 235}, {118, 106, 206}, {24, 172, 217}}},
        {cip_convertUYVYToRGBTyped, {128, 16, 128, 235, 128, 128, 7}, {{0, 0, 0}, {255, 255, 255}, {130, 130, 130}}},
        {grey<cip_convertUYVYToGreyscaleTyped>, {7, 16, 7, 235, 7, 17, 7}, {{0, 0, 0}, {255, 255, 255}, {1, 1, 1}}},
        {cip_convertUYVYToRGBTyped, {128, 128}, {}},
        {cip_convertUYYVYYToRGBTyped,
         {135, 115, 159, 203, 110, 76, 175, 94, 55, 116, 73, 178, 142, 122, 185, 152},
         {{235, 52, 129}, {251, 116, 201}, {160, 73, 164}, {85, 47, 145}, {72, 82, 186}, {41, 33, 124}, {76, 50, 128},
          {213, 168, 233}}},
        {cip_convertUYYVYYToRGBTyped, {135, 115, 159, 203, 110, 76, 175, 94, 55, 116, 73, 178, 142, 122, 185},
         {{235, 52, 129}, {251, 116, 201}, {160, 73, 164}, {85, 47, 145}, {72, 82, 186}, {26, 37, 140}, {47, 58, 161},
          {169, 180, 255}}},
        {grey<cip_convertUYYVYYToGreyscaleTyped>, {7, 16, 235, 7, 128, 17, 7, 255},
         {{0, 0, 0}, {255, 255, 255}, {130, 130, 130}, {1, 1, 1}, {255, 255, 255}}},
        {cip_convertPacked24ToPlanesTyped, {1, 2, 3, 4, 5, 6, 7}, {{1, 2, 3}, {4, 5, 6}}},
    };
    for (const auto& c : cases) {
        const int32_t n = int32_t(c.pels.size());
        Image s(int32_t(c.bytes.size()), 2), r(n, 2, s.stride), g(n, 2, s.stride), b(n, 2, s.stride);
        s.paint([&](int x, int) { return c.bytes[size_t(x)]; });
        ASSERT_EQ(c.convert(s.width, 2, s.p(), s.stride, r.p(), g.p(), b.p(), r.stride), csysOk);
        for (int32_t i = 0; i < 2 * n; ++i)
            EXPECT_EQ((std::array<int, 3>{r.at(i / 2, i % 2), g.at(i / 2, i % 2), b.at(i / 2, i % 2)}), c.pels[i / 2])
                << s.width << " bytes, pel " << i;
    }
}

// The destination stride holds the row's pels: UYVY 640 bytes need 320; the
// UYYVYY minimum is 2 x width / 3 for both conversions. Work rows of 2^32 or
// 3 x 1431655764 bytes are refused, not wrapped to a small block.
TEST(ColourPlaneKernels, RefusedCallsTouchNothing)
{
    // The processor description the fast paths read is made once, at first
    // use, and kept: made here, before the heap counts what stays.
    csysCpuInfo info;
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    const struct { Planes convert; int32_t w, ss, ds; csysStatus expected; bool nullPlane; } rows[] = {
        {cip_convertBayer8ToRGBTyped, 4, 8, 3, cipErrBadStride, 0},
        {cip_convertBayer8ToRGBTyped, 4, 8, 8, csysErrNullArg, 1},
        {cip_convertBayer8ToRGBTyped, 1 << 30, 1 << 30, 1 << 30, csysErrNoMemory, 0},
        {cip_convertUYVYToRGBTyped, 640, 640, 319, cipErrBadStride, 0},
        {cip_convertUYYVYYToRGBTyped, 16, 16, 9, cipErrBadStride, 0},
        {cip_convertUYVToRGBTyped, 3, 8, 8, csysErrNullArg, 1},
        {grey<cip_convertUYYVYYToGreyscaleTyped>, 16, 16, 9, cipErrBadStride, 0},
        {cip_convertUYYVYYToRGBTyped, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, csysErrNoMemory, 0},
    };
    for (const auto& r : rows)
        kernel_test::expectStatus(r.expected, false, [&](const uint8_t* s, uint8_t* d) {
            return r.convert(r.w, 1, s, r.ss, r.nullPlane ? nullptr : d, d, d, r.ds);
        });
}

// The SSE2 kernels serve rows of 16 pels or more (the widest steps take 32
// or 64 pels); the AVX2 ones take 32 pels a step, so the widths of their
// conversions reach three steps and after two every tail.
struct WidestRows {
    kernel_test::Conversion conversion;
    int32_t maxWidth;
};

constexpr size_t kConversions = 7;

const WidestRows& conversion(size_t i)
{
    const auto from16 = [](int32_t w, int32_t) { return w / 2 >= 16; };
    static const WidestRows conversions[kConversions] = {
        {{"UYV colour", 3, true, [](int32_t w) { return w / 3; }, [](int32_t w, int32_t) { return w / 3 >= 16; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYVToRGBTyped(w, h, s, ss, d[0], d[1], d[2], ds);
         }}, 3 * 96 + 2},
        {{"UYYVYY colour", 3, true, [](int32_t w) { return 4 * (w / 6); },
          [](int32_t w, int32_t) { return w / 6 >= 4; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYYVYYToRGBTyped(w, h, s, ss, d[0], d[1], d[2], ds);
         },
         [](int32_t w) { return 2 * w / 3; }}, 6 * 24 + 4 + 5},
        {{"UYVY colour", 3, true, [](int32_t w) { return w / 2; }, from16,
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYVYToRGBTyped(w, h, s, ss, d[0], d[1], d[2], ds);
         }}, 2 * 100 + 4}, // three steps from 197 bytes
        {{"UYV grey", 1, true, [](int32_t w) { return w / 3; }, [](int32_t w, int32_t) { return w / 3 >= 16; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYVToGreyscaleTyped(w, h, s, ss, d[0], ds);
         }}, 3 * 100},
        {{"UYYVYY grey", 1, true, [](int32_t w) { return 2 * w / 3; },
          [](int32_t w, int32_t) { return 2 * w / 3 >= 16; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYYVYYToGreyscaleTyped(w, h, s, ss, d[0], ds);
         }}, 3 * 100 / 2},
        {{"packed 24-bit", 3, false, [](int32_t w) { return w / 3; }, [](int32_t w, int32_t) { return w / 3 >= 16; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertPacked24ToPlanesTyped(w, h, s, ss, d[0], d[1], d[2], ds);
         }}, 136},
        {{"UYVY grey", 1, true, [](int32_t w) { return w / 2; }, from16,
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertUYVYToGreyscaleTyped(w, h, s, ss, d[0], ds);
         }}, 2 * 100},
    };
    return conversions[i];
}

class YCbCrPaths : public ::testing::TestWithParam<size_t> {};

// One test a conversion, so that each stays well under a second.
TEST_P(YCbCrPaths, FastKernelsMatchThePlainOnes)
{
    kernel_test::expectPathsAlike(conversion(GetParam()).conversion, conversion(GetParam()).maxWidth);
}

INSTANTIATE_TEST_SUITE_P(YCbCr, YCbCrPaths, ::testing::Range(size_t{0}, kConversions),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name = conversion(info.param).conversion.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Rows of bytes drawn from 0, 16, 128, 235 and 255 only, so that every lane
// meets the sums at the ends of their range (past the clamp on both sides,
// and exactly at 0 and 255) and the widest interpolated chroma; two AVX2 steps
// and a tail. Once into planes apart, once with the first plane over the
// source's own rows ahead of where they are read: a fast kernel must go
// through the work rows there, as the plain one does, or it reads bytes it
// has already written.
TEST(YCbCr, PlanesAlikeOnEveryPath)
{
    const struct { const char* name; Planes convert; int32_t width; } rows[] = {
        {"UYV", cip_convertUYVToRGBTyped, 3 * 83},
        {"UYVY", cip_convertUYVYToRGBTyped, 2 * 83},
        {"UYYVYY", cip_convertUYYVYYToRGBTyped, 6 * 21 + 5},
    };
    const uint8_t ends[] = {0, 16, 128, 235, 255};
    constexpr int32_t kHeight = 4, kAhead = 60;
    for (const auto& r : rows)
        for (const bool over : {false, true}) {
            std::vector<uint8_t> plain[3];
            for (const kernel_test::Path p : kernel_test::paths()) {
                const kernel_test::ForcedPath path(p);
                // One row more than converted, for a first plane over the source.
                kernel_test::Fenced s(r.width, kHeight + 1, r.width, 0, 11), d[3] = {
                    {r.width, kHeight, r.width, 1, 12}, {r.width, kHeight, r.width, 3, 13},
                    {r.width, kHeight, r.width, 5, 14}};
                uint32_t x = 7;
                for (int32_t i = 0; i < (kHeight + 1) * r.width; ++i) {
                    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                    s.p()[i] = ends[x % 5];
                }
                uint8_t* first = over ? s.p() + kAhead : d[0].p();
                ASSERT_EQ(r.convert(r.width, kHeight, s.p(), r.width, first, d[1].p(), d[2].p(), r.width), csysOk)
                    << r.name;
                const std::vector<uint8_t> out[3] = {over ? s.bytes() : d[0].bytes(), d[1].bytes(), d[2].bytes()};
                for (int k = 0; k < 3; ++k) {
                    if (p == kernel_test::Path::plain)
                        plain[k] = out[k];
                    EXPECT_EQ(out[k], plain[k]) << r.name << (over ? " over the source" : "") << " plane " << k
                                                << " path " << static_cast<int>(p);
                }
            }
        }
}

// Grey into the source's own rows: the last step of a fast kernel, moved
// back over pels written already, must not read them as source bytes (20
// pels for SSE2, 40 for AVX2).
TEST(YCbCr, GreyInPlaceAlikeOnEveryPath)
{
    const struct { Grey convert; int32_t width; } cases[] = {
        {cip_convertUYVYToGreyscaleTyped, 40},
        {cip_convertUYVYToGreyscaleTyped, 80},
        {cip_convertUYVToGreyscaleTyped, 120},
        {cip_convertUYYVYYToGreyscaleTyped, 60},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> plain;
        for (const kernel_test::Path p : kernel_test::paths()) {
            const kernel_test::ForcedPath path(p);
            kernel_test::Fenced s(c.width, 2, c.width, 0, 9);
            ASSERT_EQ(c.convert(c.width, 2, s.p(), c.width, s.p(), c.width), csysOk);
            if (p == kernel_test::Path::plain)
                plain = s.bytes();
            EXPECT_EQ(s.bytes(), plain) << c.width << " bytes, path " << static_cast<int>(p);
        }
    }
}

} // namespace
