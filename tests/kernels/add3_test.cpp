#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "kernels/cip_add3.h"
#include "tests/kernels/kernel_image.h"
#include "tests/support/fake_heap.h"

namespace {

using kernel_test::fenced;
using kernel_test::Image;

struct Sum {
    double w0, w1, w2, offset;
    int a, b, c, expected;
};

// Worked values, clamping at both ends without overflow for huge weights, and
// rounding half away from zero of a table entry (-0.5) and of the offset term
// (254.5).
const Sum kSums[] = {
    {0.299, 0.587, 0.114, 0, 200, 200, 200, 200}, {0.299, 0.587, 0.114, 0, 255, 0, 0, 76},
    {0.299, 0.587, 0.114, -300, 255, 255, 255, 0}, {2, 2, 2, 0, 100, 100, 100, 255},
    {1e12, 1e12, 0, 0, 1, 1, 0, 255},             {-1e12, -1e12, 0, 0, 1, 1, 0, 0},
    {-1.0 / 512, 0, 0, 0.5, 1, 0, 0, 0},           {1.0 / 256, 0, 0, 0.494140625, 1, 0, 0, 1},
};

// 3 x 2 pels of one value, a stride of its own and other bytes around.
Image plane(int32_t stride, int value)
{
    Image image(3, 2, stride);
    for (int32_t y = 0; y < 2; ++y)
        std::fill(&image.at(0, y), &image.at(3, y), uint8_t(value));
    return image;
}

TEST(Add3, WeightedSumPerPel)
{
    for (const Sum& s : kSums) {
        SCOPED_TRACE(testing::Message() << s.w0 << " " << s.offset << " " << s.a);
        Image a = plane(8, s.a), b = plane(16, s.b), c = plane(24, s.c), out(3, 2, 32);
        ASSERT_EQ(fenced({&a, &b, &c, &out}, [&] {
                      return cip_pelAdd3Weighted8Kernel(3, 2, a.p(), 8, b.p(), 16, c.p(), 24, 2, s.w0, s.w1, s.w2,
                                                        s.offset, out.p(), 32);
                  }),
                  csysOk);
        EXPECT_TRUE(out.row(0) == std::vector<int>(3, s.expected) && out.row(1) == out.row(0));
        EXPECT_TRUE(out.outsideIntact());
    }
}

struct Refusal {
    int32_t width, height, strideA, mode;
    double w0, offset;
    bool nullOut, heapFails;
    csysStatus expected;
};

// Only mode 2 writes; checks come before the tables are made.
const Refusal kRefusals[] = {
    {-1, 1, 8, 2, 0.5, 0, false, false, csysErrBadGeometry},
    {3, 1, 2, 2, 0.5, 0, false, false, csysErrBadGeometry},
    {3, 1, 8, 2, NAN, 0, false, false, cipErrPelFuncBadParams},
    {3, 1, 8, 2, 0.5, INFINITY, false, false, cipErrPelFuncBadParams},
    {3, 1, 8, 2, 0.5, 0, true, false, csysErrNullArg},
    {3, 1, 8, 1, 0.5, 0, false, false, csysOk},
    {0, 1, 8, 2, 0.5, 0, false, false, csysOk},
    {3, 1, 8, 2, 0.5, 0, false, true, csysErrNoMemory},
};

TEST(Add3, RefusedOrEmptyCallsWriteNothing)
{
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(testing::Message() << r.expected << " " << r.mode << " " << r.width);
        Image in(3, 1, 8, 9), out(3, 1, 8);
        fake_heap::FakeHeap heap(r.heapFails ? 0 : -1);
        EXPECT_EQ(cip_pelAdd3Weighted8Kernel(r.width, r.height, in.p(), r.strideA, in.p(), 8, in.p(), 8, r.mode, r.w0,
                                             0.25, 0.25, r.offset, r.nullOut ? nullptr : out.p(), 8),
                  r.expected);
        EXPECT_TRUE(heap.live.empty());
        EXPECT_EQ(out.row(0), std::vector<int>(3, 0xEE));
    }
}

} // namespace
