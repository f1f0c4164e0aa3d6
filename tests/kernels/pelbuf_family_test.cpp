#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "kernels/cip_pelbuf.h"
#include "system/csys_cpu_testing.h"
#include "tests/kernels/warm_heap.h"

namespace {

bool defaultXform(const float* x) { return x && std::memcmp(x, cip_pelBufDefaultXform, 7 * sizeof(float)) == 0; }

uint8_t* at(const cip_PelBuf* b, int32_t x, int32_t y, int32_t pelSize)
{
    return reinterpret_cast<uint8_t*>(b->origin + intptr_t{y} * b->pitch + intptr_t{x} * pelSize);
}

// Each family lays out its block, stores value in every pel, reads it back
// widened, and reads the same pel at new image coordinates after setOrigin.
// A width or height below 1 gives an empty window.
TEST(KernelPelBuffers, BuffersHoldPelsAtTheirImageCoordinates)
{
    const struct {
        const cip_PelBufType* type;
        int32_t pelSize, width, pitch;
        uint32_t value;
        int32_t read;
    } rows[] = {
        {&cip_pelBufU8, 1, 10, 16, 0x1FF, 255},          {&cip_pelBufS16, 2, 10, 24, 0xFFFF, -1},
        {&cip_pelBufU16, 2, 10, 24, 0xFFFF, 65535},      {&cip_pelBuf32, 4, 10, 40, 0x80000001u, INT32_MIN + 1},
        {&cip_pelBuf32B, 4, 10, 40, 0xFFFFFFFFu, -1},    {&cip_pelBufU8, 1, 0, 0, 0, 0},
        {&cip_pelBufU8, 1, -3, 0, 0, 0},
    };
    kernel_test::WarmHeap heap;
    for (const auto& r : rows) {
        SCOPED_TRACE(&r - rows);
        const cip_PelBufRect rect = {-4, 9, r.width, 3};
        cip_PelBuf* b = r.type->createLike(&rect);
        ASSERT_NE(b, nullptr);
        const int32_t height = r.width > 0 ? 3 : 0;
        EXPECT_TRUE(b->type == r.type && b->x == -4 && b->y == 9 && b->pitch == r.pitch);
        EXPECT_TRUE(b->width == std::max(r.width, 0) && b->height == height && defaultXform(b->xform));
        // The window's first pel is 8-aligned, after the transform, inside the block.
        const uintptr_t first = reinterpret_cast<uintptr_t>(at(b, -4, 9, r.pelSize));
        EXPECT_TRUE(first % 8 == 0 && first >= reinterpret_cast<uintptr_t>(b->xform + 7));
        EXPECT_LE(first + size_t(r.pitch) * height, reinterpret_cast<uintptr_t>(b) + heap.live.at(b));
        if (height) {
            ASSERT_EQ(r.type->fill(b, r.value), b);
            EXPECT_TRUE(r.type->getPel(b, -4, 9) == r.read && r.type->getPel(b, 5, 11) == r.read);
            r.type->setOrigin(b, 5, 7);
            EXPECT_EQ(r.type->getPel(b, 14, 9), r.read);
        }
        r.type->free(b);
    }
    EXPECT_TRUE(heap.live.empty());
    // Beyond what one block may hold: null.
    const cip_PelBufRect huge = {0, 0, 65536, 32768};
    EXPECT_EQ(cip_pelBufU8.createLike(&huge), nullptr);
}

class Fill8Paths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        csysCpuInfo info;
        ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = 1;
        info.features = GetParam() ? csysCpuMmx | csysCpuSse | csysCpuSse2 : 0;
        ASSERT_EQ(csys_overrideCpuInfo(&info), csysOk);
    }
    void TearDown() override { EXPECT_EQ(csys_resetCpuInfo(), csysOk); }
};

// Windows of odd sizes at every edge of a 37 x 5 buffer: the plain and the
// fast fill write exactly the window, byte for byte the same (the heap's
// fences catch a write past the block).
TEST_P(Fill8Paths, FillExactlyTheWindow)
{
    kernel_test::WarmHeap heap;
    const cip_PelBufRect whole = {0, 0, 37, 5};
    for (const cip_PelBufRect window :
         {cip_PelBufRect{0, 0, 37, 5}, cip_PelBufRect{1, 1, 1, 1}, cip_PelBufRect{3, 0, 34, 5},
          cip_PelBufRect{7, 4, 30, 1}, cip_PelBufRect{36, 2, 9, 9}, cip_PelBufRect{0, 3, 23, 2}}) {
        cip_PelBuf* b = cip_pelBufU8.createLike(&whole);
        ASSERT_NE(b, nullptr);
        std::memset(at(b, 0, 0, 1), 0x11, size_t(b->pitch) * 5);
        cip_PelBuf* view = cip_pelBufU8.subView(b, nullptr, &window);
        ASSERT_EQ(cip_pelBufU8.fill(view, 0x9C), view);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < b->pitch; ++x) {
                const bool inside = x >= view->x && x < view->x + view->width && y >= view->y &&
                                    y < view->y + view->height;
                ASSERT_EQ(*at(b, x, y, 1), inside ? 0x9C : 0x11) << x << "," << y;
            }
        cip_pelBufU8.free(view);
        cip_pelBufU8.free(b);
    }
    EXPECT_EQ(heap.fenceDamage, 0);
}

INSTANTIATE_TEST_SUITE_P(KernelPelBuffers, Fill8Paths, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Plain"; });

TEST(KernelPelBuffers, ViewsAndCopiesShareOrMovePels)
{
    kernel_test::WarmHeap heap;
    const cip_PelBufRect r = {0, 0, 6, 4}, outside = {8, 1, 3, 3}, far = {20, 20, 2, 2};
    cip_PelBuf* a = cip_pelBufU16.createLike(&r);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            *reinterpret_cast<uint16_t*>(at(a, x, y, 2)) = uint16_t(10 * y + x);
    a->xform[0] = 5;

    // A sub-view outside the window is empty at the clipped corner.
    cip_PelBuf* v = cip_pelBufU16.subView(a, nullptr, &outside);
    EXPECT_TRUE(v->x == 8 && v->y == 1 && v->width == 0 && v->height == 0 && v->xform == a->xform);

    // A copy with no common pels still takes the transform values.
    cip_PelBuf* d = cip_pelBufU16.createLike(&far);
    cip_pelBufU16.fill(d, 0xAAAA);
    EXPECT_EQ(cip_pelBufU16.copy(a, d), d);
    EXPECT_TRUE(cip_pelBufU16.getPel(d, 21, 21) == 0xAAAA && d->xform[0] == 5);

    // A new copy of the window; an alias with its own transform.
    cip_PelBuf* c = cip_pelBufU16.copy(a, nullptr);
    EXPECT_TRUE(c && c != a && cip_pelBufU16.getPel(c, 5, 3) == 35 && c->xform[0] == 5);
    float own[7];
    cip_PelBuf* alias = cip_pelBufU16.alias(a, nullptr, own);
    EXPECT_TRUE(alias->xform == own && own[0] == 5 && alias->origin == a->origin);

    // An alias moved by one row and column overlaps its target: the copy
    // reads every pel before it is overwritten.
    cip_pelBufU16.setOrigin(alias, 1, 1);
    cip_pelBufU16.subView(alias, alias, &r);
    EXPECT_EQ(cip_pelBufU16.copy(alias, a), a);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            ASSERT_EQ(cip_pelBufU16.getPel(a, x, y), x && y ? 10 * (y - 1) + x - 1 : 10 * y + x) << x << "," << y;

    // Pel sizes must agree.
    EXPECT_EQ(cip_pelBuf32.copy(c, d), nullptr);
    for (cip_PelBuf* b : {v, d, c, alias, a})
        cip_pelBufU16.free(b);
    EXPECT_TRUE(heap.live.empty());
}

TEST(KernelPelBuffers, RectanglesIntersectWithoutOverflow)
{
    const struct {
        cip_PelBufRect a, b, out;
    } rows[] = {
        {{0, 0, 10, 10}, {5, -2, 10, 4}, {5, 0, 5, 2}},
        {{0, 0, 10, 10}, {10, 0, 5, 5}, {10, 0, 0, 0}},
        {{INT32_MAX - 1, 0, INT32_MAX, 1}, {0, 0, INT32_MAX, 1}, {INT32_MAX - 1, 0, 1, 1}},
        {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {-1, -1, 5, 5}, {-1, -1, 0, 0}},
    };
    for (const auto& r : rows) {
        cip_PelBufRect out;
        cip_pbRectIntersect(&r.a, &r.b, &out);
        EXPECT_TRUE(std::memcmp(&out, &r.out, sizeof out) == 0) << (&r - rows);
    }
}

} // namespace
