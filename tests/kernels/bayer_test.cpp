#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "kernels/cip_bayer.h"
#include "tests/kernels/fast_paths.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::Image;

csysStatus toGrey(Image& s, int32_t phase, Image& d, double w1 = 0.299, double w2 = 0.587, double w3 = 0.114)
{
    return cip_convertBayer8ToGreyscaleTyped(s.width, s.height, s.p(), s.stride, phase, w1, w2, w3, d.p(), d.stride);
}
int avg(int a, int b) { return (a + b + 1) >> 1; }
int weighed(int first, int second, int third) { return (77 * first + 150 * second + 29 * third) >> 8; }

// Painted 20y + 2x, whose neighbours average exactly, so that a border value
// shows its origin: odd width (column 4 takes s[4] and s[3]), heights 3, 2
// and 1, width 1. Grey at phase 0 is the weighted sum of the colour planes,
// borders included.
TEST(Bayer, ColourPlanesAndGreyOfSmallMosaics)
{
    const struct { int32_t w, h; std::vector<std::vector<int>> planes[3]; } mosaics[] = {
        {5, 3, {{{2, 2, 4, 6, 6}, {22, 22, 24, 26, 26}, {42, 42, 44, 46, 46}},
                {{0, 2, 4, 6, 8}, {21, 22, 24, 26, 27}, {40, 42, 44, 46, 48}},
                {{20, 22, 24, 26, 28}, {20, 22, 24, 26, 28}, {20, 22, 24, 26, 28}}}},
        {4, 2, {{{2, 2, 4, 6}, {2, 2, 4, 6}}, {{0, 2, 4, 4}, {22, 22, 24, 26}}, {{20, 22, 24, 24}, {20, 22, 24, 24}}}},
        {1, 2, {{{0}, {0}}, {{0}, {20}}, {{20}, {20}}}}, {3, 1, {{{2, 2, 2}}, {{0, 2, 4}}, {{0, 2, 4}}}},
    };
    for (const auto& m : mosaics) {
        Image s(m.w, m.h), grey(m.w, m.h), d[3] = {{m.w, m.h}, {m.w, m.h}, {m.w, m.h}};
        s.paint([&](int x, int y) { return 20 * y + 2 * x; });
        ASSERT_EQ(cip_convertBayer8ToRGBTyped(m.w, m.h, s.p(), s.stride, d[0].p(), d[1].p(), d[2].p(), s.stride), 0);
        ASSERT_EQ(toGrey(s, 0, grey), csysOk);
        for (int32_t i = 0; i < m.w * m.h; ++i) {
            const int32_t x = i % m.w, y = i / m.w;
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(d[k].at(x, y), m.planes[k][y][x]) << m.w << "x" << m.h << " plane " << k << " at " << i;
            EXPECT_EQ(grey.at(x, y), weighed(d[0].at(x, y), d[1].at(x, y), d[2].at(x, y)));
        }
    }
}

// Interior pels against the mosaic's rules stated afresh: colour k (0 first,
// 1 second, 2 third) of row y at column x, across (from a row that samples
// it), then down. At y phase 1 the top row takes its second colour from row 1.
TEST(Bayer, GreyFollowsTheRulesAtEveryPhase)
{
    std::mt19937 random(7);
    Image s(9, 7), grey(9, 7);
    s.paint([&](int, int) { return random(); });
    for (int32_t phase = 0; phase < 4; ++phase) {
        auto across = [&](int k, int32_t y, int32_t x) {
            const int parity = (y + phase / 2) & 1, here = (x + phase % 2) % 2 == parity ? 1 : 2 * parity;
            return here == k ? s.at(x, y) : avg(s.at(x - 1, y), s.at(x + 1, y));
        };
        auto value = [&](int k, int32_t y, int32_t x) {
            return k == 1 ? avg(across(1, y, x), avg(across(1, y - 1, x), across(1, y + 1, x)))
                   : 2 * ((y + phase / 2) & 1) == k ? across(k, y, x) : avg(across(k, y - 1, x), across(k, y + 1, x));
        };
        ASSERT_EQ(toGrey(s, phase, grey), csysOk);
        for (int32_t y = 1; y < 6; ++y)
            for (int32_t x = 1; x < 8; ++x)
                EXPECT_EQ(grey.at(x, y), weighed(value(0, y, x), value(1, y, x), value(2, y, x))) << phase << " " << x;
        ASSERT_EQ(toGrey(s, phase, grey, 0, 1, 0), csysOk);
        for (int32_t x = 1; x < 8; ++x)
            EXPECT_EQ(grey.at(x, 0), across(1, phase >> 1, x)) << phase;
    }
}

// The top and bottom rows of a 5 x 4 mosaic painted 20y + x^2, each colour
// read alone through weights of 1. Per row the horizontal pass gives
// E = 0 2 4 10 16 and O = 1 1 5 9 9 (plus 20y); the top row takes its
// first and third colours from rows 0 and 1 as they sample them, and its
// second from row 1 when the y phase is 1; the bottom row takes its own
// sample and second colour, and the remaining colour from the row above.
TEST(Bayer, GreyBorderRowsAtEveryPhase)
{
    typedef std::array<int, 5> Row;
    const struct { int32_t phase; Row top[3], bottom[3]; } rows[] = {
        {0, {{1, 1, 5, 9, 9}, {0, 2, 4, 10, 16}, {20, 22, 24, 30, 36}},
         {{41, 41, 45, 49, 49}, {61, 61, 65, 69, 69}, {60, 62, 64, 70, 76}}},
        {1, {{0, 2, 4, 10, 16}, {1, 1, 5, 9, 9}, {21, 21, 25, 29, 29}},
         {{40, 42, 44, 50, 56}, {60, 62, 64, 70, 76}, {61, 61, 65, 69, 69}}},
        {2, {{21, 21, 25, 29, 29}, {20, 22, 24, 30, 36}, {0, 2, 4, 10, 16}},
         {{61, 61, 65, 69, 69}, {60, 62, 64, 70, 76}, {40, 42, 44, 50, 56}}},
        {3, {{20, 22, 24, 30, 36}, {21, 21, 25, 29, 29}, {1, 1, 5, 9, 9}},
         {{60, 62, 64, 70, 76}, {61, 61, 65, 69, 69}, {41, 41, 45, 49, 49}}},
    };
    Image s(5, 4), grey(5, 4);
    s.paint([](int x, int y) { return 20 * y + x * x; });
    for (const auto& r : rows)
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(toGrey(s, r.phase, grey, k == 0, k == 1, k == 2), csysOk);
            Row top, bottom;
            for (int32_t x = 0; x < 5; ++x)
                top[size_t(x)] = grey.at(x, 0), bottom[size_t(x)] = grey.at(x, 3);
            EXPECT_EQ(top, r.top[k]) << "phase " << r.phase << " colour " << k;
            EXPECT_EQ(bottom, r.bottom[k]) << "phase " << r.phase << " colour " << k;
        }
}

// Checks in their order, then work memory (a failed allocation keeps
// nothing); the weights are (w1, 0.587, 0.114). The colour entry's checks are
// with the other colour-plane kernels'.
TEST(Bayer, RefusedCallsTouchNothing)
{
    // The processor description the fast paths read is made once, at first
    // use, and kept: made here, before the heap counts what stays.
    csysCpuInfo info;
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    const struct { int32_t w, h, ss, ds, phase; double w1; csysStatus expected; bool nullSource; } rows[] = {
        {0, 0, 8, 8, 0, 0.299, cipErrBadWidth, 0},  {4, 0, 8, 8, 0, 0.299, cipErrBadHeight, 0},
        {4, 2, 3, 8, 0, 0.299, cipErrBadStride, 0}, {4, 2, 8, 3, 0, 0.299, cipErrBadStride, 0},
        {4, 2, 8, 8, 4, -0.1, cipErrBadWeight, 0},  {4, 2, 8, 8, 4, 0.3, cipErrWeightSum, 0},
        {4, 2, 8, 8, 0, NAN, cipErrWeightSum, 0},   {4, 2, 8, 8, 4, 0.299, cipErrBadPhase, 0},
        {4, 2, 8, 8, -1, 0.299, cipErrBadPhase, 0}, {4, 2, 8, 8, 0, 0.299, csysErrNullArg, 1},
        // Work rows of 2^32 bytes are refused, not wrapped to a small block.
        {1 << 30, 1, 1 << 30, 1 << 30, 0, 0.299, csysErrNoMemory, 0},
    };
    for (const auto& r : rows)
        kernel_test::expectStatus(r.expected, false, [&](const uint8_t* s, uint8_t* d) {
            return cip_convertBayer8ToGreyscaleTyped(r.w, r.h, r.nullSource ? nullptr : s, r.ss, r.phase, r.w1, 0.587,
                                                     0.114, d, r.ds);
        });
}

// The SSE2 kernels serve widths that are multiples of 8 from 16 on, the
// colour one from 4 rows on, the grey one at any height and phase.
TEST(Bayer, FastKernelsMatchThePlainOnes)
{
    auto same = [](int32_t w) { return w; };
    kernel_test::expectPathsAlike(
        {"colour", 3, false, same, [](int32_t w, int32_t h) { return w % 8 == 0 && w >= 16 && h >= 4; },
         [](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
             return cip_convertBayer8ToRGBTyped(w, h, s, ss, d[0], d[1], d[2], ds);
         }},
        40);
    for (int32_t phase = 0; phase < 4; ++phase)
        kernel_test::expectPathsAlike(
            {"grey", 1, false, same, [](int32_t w, int32_t) { return w % 8 == 0 && w >= 16; },
             [phase](int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds) {
                 return cip_convertBayer8ToGreyscaleTyped(w, h, s, ss, phase, 0.2, 0.5, 0.3, d[0], ds);
             }},
            40);
}

} // namespace
