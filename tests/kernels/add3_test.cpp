#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kernels/cip_add3.h"
#include "numeric/cip_geometry.h"
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
        // overflow, rounding half away from zero of table entries (-0.5 and
        // 0.5) and of the offset term (254.5).
        {3, 2, 0.299, 0.587, 0.114, 0, 200, 200, 200, 200}, {3, 2, 0.299, 0.587, 0.114, 0, 255, 0, 0, 76},
        {3, 2, 1e12, 1e12, 0, 0, 1, 1, 0, 255},             {3, 2, -1e12, -1e12, 0, 0, 1, 1, 0, 0},
        {3, 2, -1.0 / 512, 0, 0, 0.5, 1, 0, 0, 0},          {3, 2, 1.0 / 512, 0, 0, 0.494140625, 1, 0, 0, 1},
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

// An 8-bit image of one value over client rectangle (x, y, w, h); w = 0
// leaves it without storage.
struct Plane {
    Plane(int32_t x, int32_t y, int32_t w, int32_t h, int value, int32_t pelSize = 1)
    {
        EXPECT_EQ(cip_imageInit(&image), csysOk);
        if (w > 0) {
            EXPECT_EQ(cip_imageCreateAligned32(&image, pelSize, w, h), csysOk);
            for (int32_t i = 0; i < w * h; ++i)
                at(i % w, i / w) = uint8_t(value);
        }
        image.offsetX = x;
        image.offsetY = y;
    }
    ~Plane() { EXPECT_EQ(cip_imageRelease(&image), csysOk); }
    uint8_t& at(int32_t x, int32_t y)
    {
        cip_ImageDesc d;
        EXPECT_EQ(cip_imageDescribe(&d, &image), csysOk);
        return static_cast<uint8_t*>(d.first)[ptrdiff_t(y - image.offsetY) * d.storageStride + x - image.offsetX];
    }
    cip_Image image;
};

// Inputs a (0, 0), b (1, 0) and c (0, 1), 4 x 3 each, into an output at
// (0, 0), a window 3 wide of 5 x 5 pels filled with 7: the common window is
// (1, 1) 2 x 2; expected is its value there (-1: nothing written). On
// success the output takes a's transform, whatever the mode.
TEST(Add3, ImagesOverTheirCommonWindow)
{
    const struct {
        int a, b, c;
        double w0, w1, offset;
        int32_t mode, aPelSize;
        int expected;
        csysStatus status = csysOk;
        int32_t bWidth = 4;
    } rows[] = {
        {255, 0, 0, 0.299, 0.587, 0, 2, 1, 76},            {200, 200, 0, 1, 1, 0, 2, 1, 255},
        {200, 200, 0, 0.5, 0.5, -300, 2, 1, 0},            {9, 9, 9, 1, 1, 0, 1, 1, -1},
        {9, 9, 9, 1, 1, 0, 2, 2, -1, cipErrImageBadArg},   {9, 9, 9, 1, 1, 0, 2, 1, -1, cipErrNoStorage, 0},
        {9, 9, 9, NAN, 1, 0, 2, 1, -1, cipErrPelFuncBadParams},
    };
    for (const auto& r : rows) {
        Plane a(0, 0, 4, 3, r.a, r.aPelSize), b(1, 0, r.bWidth, 3, r.b), c(0, 1, 4, 3, r.c), out(0, 0, 5, 5, 7);
        out.image.width = 3;
        const cip_Affine2 shift{1, 2, 1, 0, 0, 1};
        ASSERT_EQ(cip_xformCreateAffine(&shift, &a.image.xform), csysOk);
        EXPECT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &c.image, r.mode, r.w0, r.w1, 0, r.offset, &out.image),
                  r.status);
        EXPECT_EQ(out.image.xform == a.image.xform, r.status == csysOk);
        for (int32_t i = 0; i < 25; ++i) {
            const bool inside = i % 5 >= 1 && i % 5 < 3 && i / 5 >= 1 && i / 5 < 3;
            EXPECT_EQ(out.at(i % 5, i / 5), inside && r.expected >= 0 ? r.expected : 7) << r.a << " at " << i;
        }
    }
}

// An output without storage takes the common window and the first input's
// transform; with inputs that do not meet, a mode that computes nothing, or a
// failing sum, it stays as it was. One image is input and output at the same
// pels, not at shifted ones; another window of its storage, apart from the
// output's pels there, is read.
TEST(Add3, MadeOutputsAndInPlaceSums)
{
    Plane a(2, 1, 4, 3, 100), b(3, 0, 4, 3, 50), far(9, 9, 1, 1, 0), out(0, 0, 0, 0, 0);
    const cip_Affine2 shift{1, 2, 1, 0, 0, 1};
    ASSERT_EQ(cip_xformCreateAffine(&shift, &a.image.xform), csysOk);
    EXPECT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &far.image, 2, 1, 1, 1, 0, &out.image), csysOk);
    EXPECT_TRUE(out.image.storage == nullptr && out.image.xform == nullptr);
    EXPECT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &a.image, 1, 1, 1, 1, 0, &out.image), csysOk);
    EXPECT_TRUE(out.image.storage == nullptr && out.image.xform == nullptr);
    EXPECT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &a.image, 2, NAN, 1, 1, 0, &out.image),
              cipErrPelFuncBadParams);
    EXPECT_TRUE(out.image.storage == nullptr && out.image.xform == nullptr);
    ASSERT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &a.image, 2, 0.5, 1, 0, 0, &out.image), csysOk);
    EXPECT_EQ((std::vector<int32_t>{out.image.offsetX, out.image.offsetY, out.image.width, out.image.height}),
              (std::vector<int32_t>{3, 1, 3, 2}));
    EXPECT_TRUE(out.image.xform == a.image.xform);
    EXPECT_EQ(out.at(5, 2), 100);

    EXPECT_EQ(cip_pelAdd3Weighted8Image(&a.image, &b.image, &b.image, 2, 0.5, 0.5, 0, 0, &a.image), csysOk);
    EXPECT_EQ(a.at(2, 1), 100);
    EXPECT_EQ(a.at(3, 1), 75);
    cip_Image shifted = a.image;
    shifted.windowX = 1;
    shifted.width = 3;
    EXPECT_EQ(cip_pelAdd3Weighted8Image(&shifted, &b.image, &b.image, 2, 1, 0, 0, 0, &a.image), cipErrOverlapping);
    EXPECT_EQ(a.at(4, 1), 75);
    cip_Image apart = a.image; // storage row 2 at client row 1
    apart.windowY = 2;
    apart.height = 1;
    EXPECT_EQ(cip_pelAdd3Weighted8Image(&apart, &b.image, &b.image, 2, 1, 0, 0, 0, &a.image), csysOk);
    EXPECT_EQ(a.at(3, 1), 100);
}

} // namespace
