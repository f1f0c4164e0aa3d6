#include <gtest/gtest.h>

#include <cmath>

#include "kernels/cip_add3.h"
#include "tests/kernels/kernel_image.h"

namespace {

using kernel_test::Image;

// Planes of one value each (a, b, c) with strides of their own; expected is
// every output pel, -1 when none may be written.
TEST(Add3, WeightedSumPerPelOrNothing)
{
    const struct {
        int32_t width, mode;
        double w0, w1, w2, offset;
        int a, b, c, expected;
        csysStatus status = csysOk;
        bool nullOut = false, heapFails = false;
    } rows[] = {
        // Worked values, clamping at both ends of huge weights without
        // overflow, rounding half away from zero of a table entry (-0.5) and
        // of the offset term (254.5).
        {3, 2, 0.299, 0.587, 0.114, 0, 200, 200, 200, 200}, {3, 2, 0.299, 0.587, 0.114, 0, 255, 0, 0, 76},
        {3, 2, 1e12, 1e12, 0, 0, 1, 1, 0, 255},             {3, 2, -1e12, -1e12, 0, 0, 1, 1, 0, 0},
        {3, 2, -1.0 / 512, 0, 0, 0.5, 1, 0, 0, 0},          {3, 2, 1.0 / 256, 0, 0, 0.494140625, 1, 0, 0, 1},
        // Checks come before the tables are made (width 9 is past plane a's
        // stride); only mode 2 writes.
        {-1, 2, 0, 0, 0, 0, 9, 9, 9, -1, csysErrBadGeometry}, {9, 2, 0, 0, 0, 0, 9, 9, 9, -1, csysErrBadGeometry},
        {3, 2, NAN, 0, 0, 0, 9, 9, 9, -1, cipErrPelFuncBadParams},
        {3, 2, 0, 0, 0, INFINITY, 9, 9, 9, -1, cipErrPelFuncBadParams},
        {3, 2, 0, 0, 0, 0, 9, 9, 9, -1, csysErrNullArg, true}, {3, 1, 0, 0, 0, 0, 9, 9, 9, -1},
        {3, 2, 0, 0, 0, 0, 9, 9, 9, -1, csysErrNoMemory, false, true},
    };
    for (const auto& r : rows) {
        Image a(3, 2, 8, r.a), b(3, 2, 16, r.b), c(3, 2, 24, r.c), out(3, 2, 32);
        kernel_test::expectStatus(r.status, r.heapFails, [&](const uint8_t*, uint8_t*) {
            return cip_pelAdd3Weighted8Kernel(r.width, 2, a.p(), 8, b.p(), 16, c.p(), 24, r.mode, r.w0, r.w1, r.w2,
                                              r.offset, r.nullOut ? nullptr : out.p(), 32);
        });
        for (int32_t i = 0; i < 6; ++i)
            EXPECT_EQ(out.at(i % 3, i / 3), r.expected < 0 ? out.fill : r.expected) << r.w0 << " " << r.offset;
    }
}

} // namespace
