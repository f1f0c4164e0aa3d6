#include <gtest/gtest.h>

#include <cmath>

#include "kernels/cip_add3.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::Image;

struct Row {
    int32_t width, strideA, mode;
    double w0, w1, w2, offset;
    int a, b, c; // each plane's one value
    csysStatus status;
    int expected = -1; // every output pel; -1: none written
    bool nullOut = false, heapFails = false;
};

const Row kRows[] = {
    // Worked values, clamping at both ends (huge weights too, without
    // overflow), rounding half away from zero of a table entry (-0.5) and of
    // the offset term (254.5).
    {3, 8, 2, 0.299, 0.587, 0.114, 0, 200, 200, 200, csysOk, 200},
    {3, 8, 2, 0.299, 0.587, 0.114, 0, 255, 0, 0, csysOk, 76},
    {3, 8, 2, 0.299, 0.587, 0.114, -300, 255, 255, 255, csysOk, 0},
    {3, 8, 2, 2, 2, 2, 0, 100, 100, 100, csysOk, 255},
    {3, 8, 2, 1e12, 1e12, 0, 0, 1, 1, 0, csysOk, 255},
    {3, 8, 2, -1e12, -1e12, 0, 0, 1, 1, 0, csysOk, 0},
    {3, 8, 2, -1.0 / 512, 0, 0, 0.5, 1, 0, 0, csysOk, 0},
    {3, 8, 2, 1.0 / 256, 0, 0, 0.494140625, 1, 0, 0, csysOk, 1},
    // Checks come before the tables are made; only mode 2 writes.
    {-1, 8, 2, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysErrBadGeometry}, {3, 2, 2, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysErrBadGeometry},
    {3, 8, 2, NAN, 0.25, 0.25, 0, 9, 9, 9, cipErrPelFuncBadParams},
    {3, 8, 2, 0.5, 0.25, 0.25, INFINITY, 9, 9, 9, cipErrPelFuncBadParams},
    {3, 8, 2, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysErrNullArg, -1, true},
    {3, 8, 1, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysOk}, {0, 8, 2, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysOk},
    {3, 8, 2, 0.5, 0.25, 0.25, 0, 9, 9, 9, csysErrNoMemory, -1, false, true},
};

TEST(Add3, WeightedSumPerPelOrNothing)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(testing::Message() << r.w0 << " " << r.offset << " " << r.a << " " << r.status);
        // Each plane with a stride of its own.
        Image a(3, 2, 8), b(3, 2, 16), c(3, 2, 24), out(3, 2, 32);
        a.paint([&](int, int) { return r.a; });
        b.paint([&](int, int) { return r.b; });
        c.paint([&](int, int) { return r.c; });
        kernel_test::expectStatus(r.status, r.heapFails, [&] {
            return kernel_test::fenced({&a, &b, &c, &out}, [&] {
                return cip_pelAdd3Weighted8Kernel(r.width, 2, a.p(), r.strideA, b.p(), 16, c.p(), 24, r.mode, r.w0,
                                                  r.w1, r.w2, r.offset, r.nullOut ? nullptr : out.p(), 32);
            });
        });
        const std::vector<int> pels(3, r.expected < 0 ? out.fill : r.expected);
        EXPECT_TRUE(out.row(0) == pels && out.row(1) == pels);
        EXPECT_TRUE(out.outsideIntact());
    }
}

} // namespace
