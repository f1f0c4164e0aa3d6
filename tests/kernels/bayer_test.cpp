#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kernels/cip_bayer.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::fenced;
using kernel_test::Image;
using Rows = std::vector<std::vector<int>>;

csysStatus toGrey(Image& s, int32_t phase, Image& d, double w1 = 0.299, double w2 = 0.587, double w3 = 0.114)
{
    return fenced({&s, &d}, [&] {
        return cip_convertBayer8ToGreyscaleTyped(s.width, s.height, s.p(), s.stride, phase, w1, w2, w3, d.p(),
                                                 d.stride);
    });
}

struct Golden {
    int32_t w, h;
    int uniform; // -1: 20y + 2x, whose neighbours average exactly, so a border value shows its origin
    Rows planes[3];
};

// Odd width (column 4 takes s[4] and s[3]), heights 3, 2 and 1, width 1.
const Golden kGolden[] = {
    {5, 3, -1, {{{2, 2, 4, 6, 6}, {22, 22, 24, 26, 26}, {42, 42, 44, 46, 46}},
                {{0, 2, 4, 6, 8}, {21, 22, 24, 26, 27}, {40, 42, 44, 46, 48}},
                {{20, 22, 24, 26, 28}, {20, 22, 24, 26, 28}, {20, 22, 24, 26, 28}}}},
    {4, 2, -1, {{{2, 2, 4, 6}, {2, 2, 4, 6}}, {{0, 2, 4, 4}, {22, 22, 24, 26}}, {{20, 22, 24, 24}, {20, 22, 24, 24}}}},
    {1, 2, -1, {{{0}, {0}}, {{0}, {20}}, {{20}, {20}}}},
    {3, 1, -1, {{{2, 2, 2}}, {{0, 2, 4}}, {{0, 2, 4}}}},
    {6, 5, 100, {Rows(5, std::vector<int>(6, 100)), Rows(5, std::vector<int>(6, 100)), Rows(5, std::vector<int>(6, 100))}},
};

// Grey at phase 0 is the weighted sum of the colour planes, borders included.
TEST(Bayer, ColourPlanesAndGreyOfSmallMosaics)
{
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(testing::Message() << g.w << "x" << g.h);
        Image s(g.w, g.h), grey(g.w, g.h);
        s.paint([&](int x, int y) { return g.uniform >= 0 ? g.uniform : 20 * y + 2 * x; });
        std::vector<Image> d(3, Image(g.w, g.h));
        ASSERT_EQ(fenced({&s, &d[0], &d[1], &d[2]}, [&] {
                      return cip_convertBayer8ToRGBTyped(g.w, g.h, s.p(), s.stride, d[0].p(), d[1].p(), d[2].p(),
                                                         d[0].stride);
                  }),
                  csysOk);
        ASSERT_EQ(toGrey(s, 0, grey), csysOk);
        for (int32_t y = 0; y < g.h; ++y) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(d[k].row(y), g.planes[k][y]) << k;
            for (int32_t x = 0; x < g.w; ++x)
                EXPECT_EQ(grey.at(x, y), (77 * d[0].at(x, y) + 150 * d[1].at(x, y) + 29 * d[2].at(x, y)) >> 8);
        }
        EXPECT_TRUE(d[0].outsideIntact() && d[1].outsideIntact() && d[2].outsideIntact() && grey.outsideIntact());
    }
}

int avg(int a, int b) { return (a + b + 1) >> 1; }

// Interior pels against the mosaic's rules stated afresh: colour k (0 first,
// 1 second, 2 third) of row y at column x, across, then down. At y phase 1
// the top row takes its second colour from row 1.
TEST(Bayer, GreyFollowsTheRulesAtEveryPhase)
{
    std::mt19937 random(7);
    Image s(9, 7), grey(9, 7);
    s.paint([&](int, int) { return random(); });
    for (int32_t phase = 0; phase < 4; ++phase) {
        auto rowParity = [&](int32_t y) { return (y + (phase >> 1)) & 1; };
        auto colourAt = [&](int32_t y, int32_t x) {
            return ((x + (phase & 1)) & 1) == rowParity(y) ? 1 : rowParity(y) * 2;
        };
        auto across = [&](int k, int32_t y, int32_t x) {
            return colourAt(y, x) == k ? s.at(x, y) : avg(s.at(x - 1, y), s.at(x + 1, y));
        };
        auto value = [&](int k, int32_t y, int32_t x) {
            if (k == 1)
                return avg(across(1, y, x), avg(across(1, y - 1, x), across(1, y + 1, x)));
            return rowParity(y) * 2 == k ? across(k, y, x) : avg(across(k, y - 1, x), across(k, y + 1, x));
        };
        ASSERT_EQ(toGrey(s, phase, grey), csysOk);
        for (int32_t y = 1; y < s.height - 1; ++y)
            for (int32_t x = 1; x < s.width - 1; ++x)
                ASSERT_EQ(grey.at(x, y), (77 * value(0, y, x) + 150 * value(1, y, x) + 29 * value(2, y, x)) >> 8)
                    << phase << " " << x << "," << y;
        ASSERT_EQ(toGrey(s, phase, grey, 0, 1, 0), csysOk);
        for (int32_t x = 1; x < s.width - 1; ++x)
            EXPECT_EQ(grey.at(x, 0), across(1, phase >> 1, x)) << phase;
    }
}

struct Refusal {
    int32_t w, h, sourceStride, destinationStride;
    csysStatus expected;
    int32_t phase = 0;
    double weights[3] = {0.299, 0.587, 0.114};
    bool nullSource = false, heapFails = false;
};

// Checks in their order, then work memory: a refused call writes nothing and
// keeps nothing allocated. Geometry rows apply to the colour entry too.
const Refusal kRefusals[] = {
    {0, 0, 8, 8, cipErrBadWidth}, {4, 0, 8, 8, cipErrBadHeight}, {4, 2, 3, 8, cipErrBadStride},
    {4, 2, 8, 3, cipErrBadStride}, {4, 2, 8, 8, cipErrBadWeight, 4, {-0.1, 0.6, 0.5}},
    {4, 2, 8, 8, cipErrWeightSum, 4, {0.3, 0.3, 0.3}}, {4, 2, 8, 8, cipErrWeightSum, 0, {NAN, 0.5, 0.5}},
    {4, 2, 8, 8, cipErrBadPhase, 4}, {4, 2, 8, 8, cipErrBadPhase, -1},
    {4, 2, 8, 8, csysErrNullArg, 0, {0.299, 0.587, 0.114}, true},
    {4, 2, 8, 8, csysErrNoMemory, 0, {0.299, 0.587, 0.114}, false, true},
    // Work rows of 2^32 bytes are refused, not wrapped to a small block.
    {0x40000000, 1, 0x40000000, 0x40000000, csysErrNoMemory},
};

TEST(Bayer, RefusedCallsTouchNothing)
{
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(testing::Message() << r.expected << " " << r.w);
        Image s(4, 2, 8), d(4, 2, 8);
        const uint8_t* source = r.nullSource ? nullptr : s.p();
        kernel_test::expectStatus(r.expected, r.heapFails, [&] {
            return cip_convertBayer8ToGreyscaleTyped(r.w, r.h, source, r.sourceStride, r.phase, r.weights[0],
                                                     r.weights[1], r.weights[2], d.p(), r.destinationStride);
        });
        if (r.expected != cipErrBadWeight && r.expected != cipErrWeightSum && r.expected != cipErrBadPhase) {
            kernel_test::expectStatus(r.expected, r.heapFails, [&] {
                return cip_convertBayer8ToRGBTyped(r.w, r.h, source, r.sourceStride, d.p(), d.p(), d.p(),
                                                   r.destinationStride);
            });
        }
        EXPECT_EQ(d.row(0), std::vector<int>(4, d.fill));
    }
}

} // namespace
