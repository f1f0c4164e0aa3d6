#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <tuple>
#include <vector>

#include "std/math/xflinear.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/support/fake_comm.h"
#include "tests/support/fake_heap.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;

ccPelRect rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { return ccPelRect(x0, y0, x1 - x0, y1 - y0); }

class PelBuffer : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

// One buffer of a 100 x 80 root whose pel 0 is at image (1000, 2000), moved
// step by step. After each step the window is as given in root coordinates;
// a refused step leaves it as it was.
TEST_F(PelBuffer, WindowsNarrowClipOrRefuseAndKeepImageCoordinates)
{
    enum Op { Sub, Set, Image, Reset };
    enum Result { Refused = -1, Kept = 0, Clipped = 1 };
    const struct Step { Op op; int32_t x, y, w, h; bool clip; Result result; ccPelRect after; } steps[] = {
        {Sub, 10, 20, 50, 40, false, Kept, rect(10, 20, 60, 60)},
        {Sub, 5, 5, 10, 10, false, Kept, rect(15, 25, 25, 35)}, // relative to the current window
        {Sub, 0, 0, 11, 1, false, Refused, rect(15, 25, 25, 35)},
        {Sub, -1, 0, 1, 1, false, Refused, rect(15, 25, 25, 35)},
        {Sub, 5, 0, INT32_MAX, 1, false, Refused, rect(15, 25, 25, 35)}, // x + width wraps in 32 bits
        {Sub, 10, 0, 0, 10, false, Kept, rect(25, 25, 25, 35)},          // empty, on the far edge
        {Reset, 0, 0, 0, 0, false, Kept, rect(0, 0, 100, 80)},
        {Set, 60, 40, 50, 50, false, Refused, rect(0, 0, 100, 80)},
        {Set, 60, 40, 50, 50, true, Clipped, rect(60, 40, 100, 80)},
        {Set, 1, 2, 2, 2, false, Kept, rect(1, 2, 3, 4)},
        {Image, 1003, 2002, 4, 6, false, Kept, rect(3, 2, 7, 8)}, // from a window not at the origin
        {Set, 200, 10, 10, 10, true, Clipped, rect(0, 0, 0, 0)},   // outside across: empty at (0, 0)
        {Set, 10, -50, 20, 20, true, Clipped, rect(10, 0, 10, 0)}, // outside down: both collapse
        {Set, 0, 0, -1, 0, true, Refused, rect(10, 0, 10, 0)},
    };
    Buffer8 b(ccPelRect(1000, 2000, 100, 80), 1);
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &s - steps);
        const auto run = [&]() -> bool {
            if (s.op == Set || s.op == Image)
                return s.op == Set ? b.setWindow(s.x, s.y, s.w, s.h, s.clip)
                                   : b.setImageWindow(ccPelRect(s.x, s.y, s.w, s.h), s.clip);
            s.op == Sub ? b.subWindow(s.x, s.y, s.w, s.h) : b.resetWindow();
            return false;
        };
        if (s.result == Refused)
            EXPECT_THROW(run(), ccPel::BadWindow);
        else
            EXPECT_EQ(run(), s.result == Clipped);
        const ccPelRect& w = b.windowRect();
        EXPECT_EQ(w, s.after);
        EXPECT_EQ(b.window(), rect(1000 + w.x0(), 2000 + w.y0(), 1000 + w.x1(), 2000 + w.y1()));
        EXPECT_TRUE(w.width() == 0 || w.height() == 0 ||
                    b.windowStart() == b.typedRoot().dataStart() + w.y0() * 100 + w.x0());
    }
}

// The column is checked first and reports both coordinates; the row check
// that follows reports x as 0, as row() does. The error prints and stores
// the coordinates it carries.
TEST_F(PelBuffer, AccessOutsideTheWindowReportsTheCoordinates)
{
    // The writable forms check through the same calls (writeEveryPel uses them).
    const Buffer8 b(ccPelRect(100, 200, 4, 3), 1); // image window (100, 200, 104, 203)
    // pel(x, y), else row(y); the x reported. Row 203 is one past the last.
    for (auto [pel, x, y, reportedX] : {std::tuple(false, 0, 203, 0), std::tuple(true, 104, 201, 104),
                                        std::tuple(true, 103, 203, 0)}) {
        try {
            pel ? (void)b.pel(x, y) : (void)b.row(y);
            ADD_FAILURE() << x << ", " << y;
        } catch (const ccPel::BadCoord& e) {
            EXPECT_TRUE(e.x() == reportedX && e.y() == y) << x << ", " << y;
        }
    }
    ccPel::BadCoord e(-1, 7), loaded;
    EXPECT_EQ(e.message(), L"x=-1, y=7");
    EXPECT_EQ(fakes::storeObject(e), (test_bytes::Bytes{0x02, 0x01, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}));
    fakes::loadObject(fakes::storeObject(e), loaded);
    EXPECT_TRUE(loaded.x() == -1 && loaded.y() == 7);
}

// Copies share the root and the client transform. Binding shows the whole
// new root at the same image coordinates; a root of another pel type would be
// read with the wrong pel size, so it is refused and, held by nothing else,
// disposed of. Handing the root over moves the reference (a peer must not
// hear of a release in between, or it could destroy its root): nothing is
// disposed of, and the buffer is left unbound, with its window.
TEST_F(PelBuffer, CopiesShareTheRootBindShowsAWholeRootAndReleasingLeavesItUnbound)
{
    int destroyed = 0;
    unsigned char pels[64];
    unsigned short px[8];
    auto* counted = new ccPelRoot<unsigned char>(new fakes::Package(&destroyed, 8, 8, 0, 1, pels));
    const auto wide = [&] { return new ccPelRoot<ccPackedRGB16Pel>(new fakes::Package(&destroyed, 4, 2, 0, 1, px)); };
    {
        Buffer8 a(ccPelRect(5, 7, 10, 10), 1);
        a.subWindow(2, 2, 3, 3);
        a.bind(counted);
        EXPECT_TRUE(a.isWholeRoot() && a.window() == rect(5, 7, 13, 15));
        a.setLinearClientXform(cc2Xform(cc2Matrix(1, 2, 3, 4), cc2Vect(5, 6)));
        Buffer8 b(a);
        EXPECT_TRUE(a.rootRefCount() == 2 && a == b);
        EXPECT_EQ(a.clientXform().xform().rawPointer(), b.clientXform().xform().rawPointer());
        EXPECT_THROW(Buffer8(static_cast<cc_PelRoot*>(wide())), ccPel::Unknown);
        EXPECT_THROW(static_cast<cc_PelBuffer&>(b).bind(wide()), ccPel::Unknown);
        EXPECT_TRUE(destroyed == 2 && &b.root() == counted); // b unchanged
        b = Buffer8();
        a.subWindow(1, 1, 3, 3);
        EXPECT_EQ(a.releaseRoot(), counted);
        EXPECT_TRUE(counted->refCount() == 0 && destroyed == 2 && a.windowRect() == rect(1, 1, 4, 4));
        EXPECT_TRUE(!a.isBound() && a.releaseRoot() == nullptr);
        EXPECT_THROW(a.subWindow(0, 0, 0, 0), ccPel::UnboundWindow);
        EXPECT_THROW(a.subWindow(0, 0, -1, 0), ccPel::BadWindow); // the size is checked first
        EXPECT_FALSE(a.isWholeRoot() || a.sharesPels(a));
    }
    { ccPtrHandle<cc_PelRoot> owner(counted); } // the new owner's last release disposes
    EXPECT_EQ(destroyed, 3);
    ccPelBuffer<unsigned short> other(4, 4, 1);
    EXPECT_THROW(ccPelBuffer_const<unsigned char>{static_cast<const cc_PelBuffer&>(other)}, ccPel::Unknown);

    // Root pel 0 sits at image x = INT32_MAX - 5: a window further right
    // has no image coordinates.
    Buffer8 edge(ccPelRect(INT32_MAX - 5, 0, 5, 1), 1);
    edge.bind(new ccPelRoot<unsigned char>(640, 1, 1));
    EXPECT_THROW(edge.setWindow(600, 0, 1, 1, false), ccPel::BadWindow);
}

TEST_F(PelBuffer, SharesPelsOfOverlappingWindowsAndWritingHasTheRootStoredAgain)
{
    Buffer8 a(64, 64, 1);
    Buffer8 b(a);
    a.setWindow(0, 0, 10, 10, false);
    b.setWindow(9, 9, 11, 11, false);
    EXPECT_TRUE(a.sharesPels(b));

    // Two proxies of one remote root.
    test_comm::Communicator c;
    c.closed = true;
    const auto at = [&](uint32_t id) { return Buffer8(new ccPelRoot<unsigned char>(c.destination(), id, 64, 64)); };
    EXPECT_TRUE(at(4).sharesPels(at(4)));
    EXPECT_THROW(at(4).row(0), ccPel::UnboundWindow); // bound, but the pels of a remote root are not here

    // Writable access marks the root modified, which drops it from archive
    // tables, so that it is stored in full again; reading does not.
    Buffer8 w(4, 4, 1);
    test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        const auto archivedAfter = [&](void (*access)(Buffer8&)) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, static_cast<const ccPersistent*>(&w.typedRoot()), unused);
            access(w);
            return w.typedRoot().isArchived();
        };
        EXPECT_TRUE(archivedAfter([](Buffer8& b) { const Buffer8& r = b; r.row(0), r.windowStart(), r.pel(0, 0); }));
        for (void (*write)(Buffer8&) : {+[](Buffer8& b) { b.row(0); }, +[](Buffer8& b) { b.pel(0, 0); },
                                        +[](Buffer8& b) { b.windowStart(); }})
            EXPECT_FALSE(archivedAfter(write));
    });
}

// Writes every pel of a window through pel() and row() and checks that
// nothing else of the block changed, and that the fences around the block
// are intact when the root frees it.
template <class T>
void writeEveryPel(int32_t width, int32_t height, int32_t alignment, const ccPelRect& image)
{
    fake_heap::FakeHeap heap;
    {
        ccPelBuffer<T> b(width, height, alignment);
        const auto block = heap.live.find(b.typedRoot().rawBlock());
        ASSERT_NE(block, heap.live.end());
        // Rows start aligned, in the block's first alignment bytes.
        const auto* bytes = static_cast<const unsigned char*>(block->first);
        const auto* pels = reinterpret_cast<const unsigned char*>(b.typedRoot().dataStart());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pels) % alignment, 0u);
        EXPECT_LT(size_t(pels - bytes), size_t(alignment));
        b.setImageWindow(image, false);
        const ccPelRect w = b.window();
        for (int32_t y = w.y0(); y < w.y1(); ++y)
            for (int32_t x = w.x0(); x < w.x1(); ++x)
                std::memset(x % 2 ? b.row(y) + (x - w.x0()) : b.pel(x, y), 0x3C, sizeof(T));
        // Every byte outside the window's pels still holds what allocation
        // left there: the heap's fill, or zero for the pels of packed types.
        const auto* start = reinterpret_cast<const unsigned char*>(b.windowStart());
        const ptrdiff_t rowBytes = ptrdiff_t(b.typedRoot().stride()) * sizeof(T);
        for (size_t i = 0; i < block->second; ++i) {
            const ptrdiff_t at = bytes + i - start;
            const bool inWindow =
                at >= 0 && at / rowBytes < w.height() && at % rowBytes < ptrdiff_t(w.width() * sizeof(T));
            const bool zeroed = ccPelTraits<T>::zeroed && bytes + i >= pels && bytes + i < pels + height * rowBytes;
            ASSERT_EQ(bytes[i], inWindow ? 0x3C : zeroed ? 0 : fake_heap::FakeHeap::kFill) << "byte " << i;
        }
    }
    EXPECT_TRUE(heap.live.empty() && heap.fenceDamage == 0);
}

// Packed colour pels also show that they start at zero.
TEST_F(PelBuffer, WritingEveryPelOfAWindowStaysInsideIt)
{
    writeEveryPel<unsigned char>(37, 11, 32, rect(3, 2, 36, 11));
    writeEveryPel<unsigned short>(13, 7, 16, rect(1, 1, 11, 6));
    writeEveryPel<ccPackedRGB32Pel>(21, 3, 32, rect(19, 0, 21, 3));
}

} // namespace
