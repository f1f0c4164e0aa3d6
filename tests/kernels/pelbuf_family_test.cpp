#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "kernels/cip_pelbuf.h"
#include "tests/support/fake_heap.h"
#include "tests/support/forced_cpu.h"

namespace {

uint8_t* at(const cip_PelBuf* b, int32_t x, int32_t y, int32_t pelSize)
{
    return reinterpret_cast<uint8_t*>(b->origin + intptr_t{y} * b->pitch + intptr_t{x} * pelSize);
}

// Each family lays out its block (a width or height below 1 gives an empty
// window), fills exactly a window one pel inside the pels (8 bits: on the
// plain and the fast path, forced in turn; the heap's fences catch a write
// past the block) and reads a pel widened, also at new image coordinates
// after setOrigin.
TEST(KernelPelBuffers, BuffersHoldPelsAtTheirImageCoordinates)
{
    const struct {
        const cip_PelBufType* type;
        int32_t pelSize, width, pitch;
        uint32_t value;
        int32_t read;
    } rows[] = {
        {&cip_pelBufU8, 1, 10, 16, 0x1FF, 255},       {&cip_pelBufU8, 1, 37, 40, 0x9C, 0x9C},
        {&cip_pelBufS16, 2, 10, 24, 0xFFFF, -1},      {&cip_pelBufU16, 2, 10, 24, 0xFFFF, 65535},
        {&cip_pelBuf32, 4, 10, 40, 0x80000001u, INT32_MIN + 1},
        {&cip_pelBuf32B, 4, 10, 40, 0xFFFFFFFFu, -1}, {&cip_pelBufU8, 1, -3, 0, 0, 0},
    };
    csysCpuInfo info; // made on first use and kept: before the heap counts blocks
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    fake_heap::FakeHeap heap;
    for (const uint32_t features : {0u, uint32_t{csysCpuMmx}}) {
        const forced_cpu::ForcedCpu forced(features);
        for (const auto& r : rows) {
            SCOPED_TRACE(testing::Message() << features << ": " << &r - rows);
            const cip_PelBufRect rect = {-4, 9, r.width, 3}, inside = {-3, 10, r.width - 2, 1};
            cip_PelBuf* b = r.type->createLike(&rect);
            const int32_t height = r.width > 0 ? 3 : 0;
            EXPECT_TRUE(b->type == r.type && b->x == -4 && b->y == 9 && b->pitch == r.pitch);
            EXPECT_TRUE(b->width == std::max(r.width, 0) && b->height == height);
            EXPECT_EQ(std::memcmp(b->xform, cip_pelBufDefaultXform, sizeof cip_pelBufDefaultXform), 0);
            // The window's first pel is 8-aligned, after the transform.
            uint8_t* first = at(b, -4, 9, r.pelSize);
            EXPECT_TRUE(uintptr_t(first) % 8 == 0 && first >= reinterpret_cast<uint8_t*>(b->xform + 7));
            std::memset(first, 0x11, size_t(r.pitch) * height);
            cip_PelBuf* view = r.type->fill(r.type->subView(b, nullptr, &inside), r.value);
            int wrong = 0;
            for (int32_t i = 0; i < r.pitch * height; ++i) {
                const int32_t x = i % r.pitch / r.pelSize, y = i / r.pitch;
                const uint8_t byte = uint8_t(r.value >> 8 * (i % r.pelSize));
                wrong += first[i] != (y == 1 && x >= 1 && x < r.width - 1 ? byte : 0x11);
            }
            EXPECT_EQ(wrong, 0);
            if (height) {
                r.type->setOrigin(b, 5, 7);
                EXPECT_TRUE(r.type->getPel(view, -3, 10) == r.read && r.type->getPel(b, 6, 8) == r.read);
            }
            r.type->free(view);
            r.type->free(b);
        }
    }
    EXPECT_TRUE(heap.live.empty() && heap.fenceDamage == 0);
    const cip_PelBufRect huge = {0, 0, 65536, 32768}; // beyond what one block may hold
    EXPECT_EQ(cip_pelBufU8.createLike(&huge), nullptr);
}

TEST(KernelPelBuffers, ViewsAndCopiesShareOrMovePels)
{
    csysCpuInfo info; // as above
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    fake_heap::FakeHeap heap;
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
    cip_PelBuf* d = cip_pelBufU16.fill(cip_pelBufU16.createLike(&far), 0xAAAA);
    EXPECT_EQ(cip_pelBufU16.copy(a, d), d);
    EXPECT_TRUE(cip_pelBufU16.getPel(d, 21, 21) == 0xAAAA && d->xform[0] == 5);
    // A new copy of the window; an alias with the transform storage given.
    cip_PelBuf* c = cip_pelBufU16.copy(a, nullptr);
    EXPECT_TRUE(c && c != a && cip_pelBufU16.getPel(c, 5, 3) == 35 && c->xform[0] == 5);
    float own[7];
    cip_PelBuf* alias = cip_pelBufU16.alias(a, nullptr, own);
    EXPECT_TRUE(alias->xform == own && own[0] == 5 && alias->origin == a->origin);
    // An alias moved by one row and column overlaps its target: the copy
    // reads every pel before it is overwritten.
    cip_pelBufU16.subView(cip_pelBufU16.setOrigin(alias, 1, 1), alias, &r);
    EXPECT_EQ(cip_pelBufU16.copy(alias, a), a);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(cip_pelBufU16.getPel(a, x, y), x && y ? 10 * (y - 1) + x - 1 : 10 * y + x) << x << "," << y;
    EXPECT_EQ(cip_pelBuf32.copy(c, d), nullptr); // pel sizes must agree
    // Window ends are summed in 64 bits.
    const cip_PelBufRect edge = {INT32_MAX - 1, 0, 1, 1}, wide = {INT32_MAX - 1, -1, INT32_MAX, 3};
    cip_PelBuf* e = cip_pelBufU16.createLike(&edge);
    EXPECT_TRUE(cip_pelBufU16.subView(e, e, &wide) == e && e->x == INT32_MAX - 1 && e->width == 1 && e->height == 1);
    for (cip_PelBuf* b : {v, d, c, alias, a, e})
        cip_pelBufU16.free(b);
    EXPECT_TRUE(heap.live.empty());
}

} // namespace
