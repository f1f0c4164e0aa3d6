#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
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
    enum Op { Sub, Set, SetRect, Image, Reset };
    enum Result { Refused = -1, Kept = 0, Clipped = 1 };
    const struct Step {
        Op op;
        int32_t x, y, w, h;
        bool clip;
        Result result;
        ccPelRect after;
    } steps[] = {
        {Sub, 10, 20, 50, 40, false, Kept, rect(10, 20, 60, 60)},
        {Sub, 5, 5, 10, 10, false, Kept, rect(15, 25, 25, 35)}, // relative to the current window
        {Reset, 0, 0, 0, 0, false, Kept, rect(0, 0, 100, 80)},
        {Sub, 10, 10, 50, 50, false, Kept, rect(10, 10, 60, 60)},
        {Sub, 51, 0, 0, 0, false, Refused, rect(10, 10, 60, 60)},
        {Sub, 0, 0, 51, 1, false, Refused, rect(10, 10, 60, 60)},
        {Sub, -1, 0, 1, 1, false, Refused, rect(10, 10, 60, 60)},
        {Sub, 0, 0, -1, 1, false, Refused, rect(10, 10, 60, 60)},
        {Sub, 10, 0, INT32_MAX, 1, false, Refused, rect(10, 10, 60, 60)}, // x + width wraps in 32 bits
        {Sub, 50, 0, 0, 50, false, Kept, rect(60, 10, 60, 60)},           // empty, on the far edge
        {Set, 60, 40, 50, 50, false, Refused, rect(60, 10, 60, 60)},
        {Set, 10, 0, INT32_MAX, 1, false, Refused, rect(60, 10, 60, 60)},
        {Set, 60, 40, 50, 50, true, Clipped, rect(60, 40, 100, 80)},
        {SetRect, 1, 2, 2, 2, false, Kept, rect(1, 2, 3, 4)},
        {Image, 1003, 2002, 4, 6, false, Kept, rect(3, 2, 7, 8)}, // from a window not at the origin
        {Set, 200, 200, 10, 10, true, Clipped, rect(0, 0, 0, 0)}, // wholly outside: empty at (0, 0)
        {Set, -50, 10, 20, 20, true, Clipped, rect(0, 10, 0, 10)}, // outside one way: both collapse
        {Set, 0, 0, -1, 0, true, Refused, rect(0, 10, 0, 10)},
        {Image, 0, 0, 2000, 3000, true, Clipped, rect(0, 0, 100, 80)},
    };
    Buffer8 b(ccPelRect(1000, 2000, 100, 80), 1);
    const unsigned char* pels = b.typedRoot().dataStart();
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &s - steps);
        const auto run = [&]() -> bool {
            switch (s.op) {
            case Sub:
                b.subWindow(s.x, s.y, s.w, s.h);
                return false;
            case Set:
                return b.setWindow(s.x, s.y, s.w, s.h, s.clip);
            case SetRect:
                return b.setWindow(ccPelRect(s.x, s.y, s.w, s.h), s.clip);
            case Image:
                return b.setImageWindow(ccPelRect(s.x, s.y, s.w, s.h), s.clip);
            case Reset:
                b.resetWindow();
            }
            return false;
        };
        if (s.result == Refused)
            EXPECT_THROW(run(), ccPel::BadWindow);
        else
            EXPECT_EQ(run(), s.result == Clipped);
        const ccPelRect& w = b.windowRect();
        EXPECT_EQ(w, s.after);
        EXPECT_EQ(b.window(), rect(1000 + w.x0(), 2000 + w.y0(), 1000 + w.x1(), 2000 + w.y1()));
        EXPECT_EQ(b.isWholeRoot(), w == rect(0, 0, 100, 80));
        if (w.width() > 0 && w.height() > 0) {
            EXPECT_EQ(b.windowStart(), pels + w.y0() * 100 + w.x0());
            EXPECT_EQ(b.pel(1000 + w.x0(), 2000 + w.y0()), b.windowStart());
            EXPECT_EQ(b.row(2000 + w.y1() - 1), pels + (w.y1() - 1) * 100 + w.x0());
        }
    }
}

// The column is checked first and reports both coordinates; the row check
// that follows reports x as 0, as row() does. The error prints and stores
// the coordinates it carries.
TEST_F(PelBuffer, AccessOutsideTheWindowReportsTheCoordinates)
{
    // The writable forms check through the same calls (writeEveryPel uses them).
    const Buffer8 b(ccPelRect(100, 200, 4, 3), 1); // image window (100, 200, 104, 203)
    const struct {
        bool pel; // pel(x, y), else row(y)
        int32_t x, y;
        int32_t reportedX, reportedY;
    } cases[] = {
        {false, 0, 203, 0, 203}, // one past the last row
        {false, 0, 199, 0, 199},
        {true, 104, 201, 104, 201},
        {true, 99, 200, 99, 200},
        {true, 104, 203, 104, 203}, // both outside
        {true, 103, 203, 0, 203},
        {true, 101, INT32_MIN, 0, INT32_MIN},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << (k.pel ? "pel " : "row ") << k.x << ", " << k.y);
        try {
            k.pel ? (void)b.pel(k.x, k.y) : (void)b.row(k.y);
            ADD_FAILURE() << "no error";
        } catch (const ccPel::BadCoord& e) {
            EXPECT_TRUE(e.x() == k.reportedX && e.y() == k.reportedY);
        }
    }
    EXPECT_NO_THROW(b.pel(103, 202));

    ccPel::BadCoord e(-1, 7), loaded;
    EXPECT_EQ(e.message(), L"x=-1, y=7");
    const test_bytes::Bytes bytes = fakes::storeObject(e);
    EXPECT_EQ(bytes, (test_bytes::Bytes{0x02, 0x01, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}));
    fakes::loadObject(bytes, loaded);
    EXPECT_TRUE(loaded.x() == -1 && loaded.y() == 7);
}

// Copies share the root and the client transform; the last one disposes of
// the root.
TEST_F(PelBuffer, CopiesShareTheRootAndReleasingItLeavesAnUnboundBuffer)
{
    int destroyed = 0;
    {
        Buffer8 a(new fakes::CountedRoot(&destroyed, 8, 8));
        a.setLinearClientXform(cc2Xform(cc2Matrix(1, 2, 3, 4), cc2Vect(5, 6)));
        Buffer8 b(a);
        EXPECT_TRUE(a.rootRefCount() == 2 && a == b);
        EXPECT_EQ(a.clientXform().xform().rawPointer(), b.clientXform().xform().rawPointer());
        b.subWindow(1, 1, 2, 2);
        EXPECT_TRUE(a != b);
        b = Buffer8(4, 4, 1); // the old root loses a reference
        EXPECT_EQ(a.rootRefCount(), 1);
        a = a;
        EXPECT_EQ(a.rootRefCount(), 1);

        b.copyClientXform(a);
        EXPECT_EQ(b.clientXform().xform().rawPointer(), a.clientXform().xform().rawPointer());
        b.setClientXform(cc2XformPoly(2, {0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 0, 0}));
        EXPECT_THROW(b.linearClientXform(), ccPel::NonlinearXform);
        EXPECT_TRUE(a.clientXform().isLinear());
    }
    EXPECT_EQ(destroyed, 1);

    // Handing a root over moves the reference: nothing is disposed of, and
    // the peer of a remote root must not hear of a release in between, or it
    // could destroy its root. The buffer is left unbound, with its window.
    test_comm::Communicator proxy;
    proxy.closed = true;
    auto* r = new ccPelRoot<unsigned char>(proxy.destination(), 7, 8, 8);
    Buffer8 u(r);
    EXPECT_TRUE(u.isBound()); // but the pels of a remote root are not here
    EXPECT_THROW(u.row(0), ccPel::UnboundWindow);
    EXPECT_THROW(u.windowStart(), ccPel::UnboundWindow);
    u.subWindow(1, 1, 3, 3);
    EXPECT_EQ(u.releaseRoot(), r);
    EXPECT_EQ(r->refCount(), 0);
    { ccPtrHandle<cc_PelRoot> owner(r); } // the new owner's last release disposes (LeakSanitizer sees it otherwise)

    EXPECT_TRUE(!u.isBound() && u.windowRect() == rect(1, 1, 4, 4));
    EXPECT_TRUE(u.releaseRoot() == nullptr && u.rootRefCount() == 0);
    EXPECT_THROW(u.root(), ccPel::UnboundWindow);
    EXPECT_THROW(u.row(0), ccPel::UnboundWindow);
    EXPECT_THROW(u.resetWindow(), ccPel::UnboundWindow);
    EXPECT_THROW(u.subWindow(0, 0, 0, 0), ccPel::UnboundWindow);
    EXPECT_THROW(u.subWindow(0, 0, -1, 0), ccPel::BadWindow); // the size is checked first
    EXPECT_THROW(u.setWindow(0, 0, 0, 0, true), ccPel::UnboundWindow);
    EXPECT_FALSE(u.isWholeRoot() || u.sharesPels(u) || Buffer8(nullptr).isBound());
}

TEST_F(PelBuffer, BindShowsTheWholeNewRootOfItsPelTypeOnlyAndKeepsImageCoordinates)
{
    Buffer8 b(ccPelRect(5, 7, 10, 10), 1);
    b.subWindow(2, 2, 3, 3);
    auto* other = new ccPelRoot<unsigned char>(20, 30, 1);
    b.bind(other);
    EXPECT_TRUE(b.isWholeRoot() && b.window() == rect(5, 7, 25, 37));
    b.bind(other); // the same root: the count is unchanged
    EXPECT_EQ(b.rootRefCount(), 1);

    // Root pel 0 sits at image x = INT32_MAX - 5: a window further right
    // has no image coordinates.
    Buffer8 edge(ccPelRect(INT32_MAX - 5, 0, 5, 1), 1);
    edge.bind(new ccPelRoot<unsigned char>(640, 1, 1));
    EXPECT_THROW(edge.setWindow(600, 0, 1, 1, false), ccPel::BadWindow);
    EXPECT_TRUE(edge.isWholeRoot());

    // A buffer takes any root of its pel type, typed or not; typed access to
    // another pel type's memory would use the wrong size, so such a root is
    // refused and, held by nothing else, disposed of.
    cc_PelRoot* same = new ccPelRoot<unsigned char>(6, 4, 1);
    Buffer8 s(same);
    EXPECT_TRUE(&s.root() == same && s.isWholeRoot());

    typedef fakes::Counted<unsigned short> Wide;
    int destroyed = 0;
    EXPECT_THROW(Buffer8(static_cast<cc_PelRoot*>(new Wide(&destroyed))), ccPel::Unknown);
    EXPECT_THROW(static_cast<cc_PelBuffer&>(s).bind(new Wide(&destroyed)), ccPel::Unknown);
    EXPECT_EQ(destroyed, 2);
    EXPECT_TRUE(&s.root() == same && s.rootRefCount() == 1); // s unchanged

    ccPelBuffer<unsigned short> wide(4, 4, 1), unbound;
    EXPECT_THROW(ccPelBuffer_const<unsigned char>{static_cast<const cc_PelBuffer&>(wide)}, ccPel::Unknown);
    EXPECT_EQ(ccPelBuffer_const<unsigned char>{static_cast<const cc_PelBuffer&>(s)}.row(0), s.row(0));
    EXPECT_FALSE(ccPelBuffer_const<unsigned char>(static_cast<const cc_PelBuffer&>(unbound)).isBound());
}

TEST_F(PelBuffer, SharesPelsOfOverlappingWindowsAndWritingHasTheRootStoredAgain)
{
    Buffer8 a(64, 64, 1);
    Buffer8 b(a);
    a.setWindow(0, 0, 10, 10, false);
    b.setWindow(10, 0, 10, 10, false); // touching edges
    EXPECT_FALSE(a.sharesPels(b));
    b.setWindow(9, 9, 11, 11, false);
    EXPECT_TRUE(a.sharesPels(b) && b.sharesPels(a));
    EXPECT_FALSE(a.sharesPels(Buffer8(64, 64, 1)));

    // Two proxies of one remote root.
    test_comm::Communicator c;
    c.closed = true;
    const auto at = [&](uint32_t id) { return Buffer8(new ccPelRoot<unsigned char>(c.destination(), id, 64, 64)); };
    Buffer8 p = at(4), q = at(4);
    EXPECT_TRUE(p.sharesPels(q));
    EXPECT_FALSE(p.sharesPels(at(5)));
    q.setWindow(32, 32, 0, 0, false); // empty
    EXPECT_FALSE(p.sharesPels(q));

    // Writable access marks the root modified, which drops it from archive
    // tables, so that it is stored in full again; reading does not.
    Buffer8 w(4, 4, 1);
    const Buffer8& r = w;
    test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, static_cast<const ccPersistent*>(&w.typedRoot()), unused);
        r.row(0);
        r.windowStart();
        r.pel(0, 0);
        EXPECT_TRUE(w.typedRoot().isArchived());
        for (const auto& write : {+[](Buffer8& b) { b.row(0); }, +[](Buffer8& b) { b.pel(0, 0); },
                                  +[](Buffer8& b) { b.windowStart(); }}) {
            archivePointer(ar, static_cast<const ccPersistent*>(&w.typedRoot()), unused);
            write(w);
            EXPECT_FALSE(w.typedRoot().isArchived());
        }
    });
}

// Writes every pel of a window through each form of access and checks that
// nothing else of the block changed, and that the fences around the block
// are intact when the root frees it.
template <class T>
void writeEveryPel(int32_t width, int32_t height, int32_t alignment, const ccPelRect& image)
{
    fake_heap::FakeHeap heap;
    void* raw = nullptr;
    {
        ccPelBuffer<T> b(width, height, alignment);
        const auto block = heap.live.find(b.typedRoot().rawBlock());
        ASSERT_NE(block, heap.live.end());
        // Rows start aligned, in the block's first alignment bytes.
        const auto* pels = reinterpret_cast<const unsigned char*>(b.typedRoot().dataStart());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pels) % alignment, 0u);
        EXPECT_LT(size_t(pels - static_cast<const unsigned char*>(block->first)), size_t(alignment));
        b.setImageWindow(image, false);
        const ccPelRect w = b.window();
        // Pel (i, j) of the window gets every byte set to markOf(i, j).
        const auto markOf = [&](int64_t i, int64_t j) { return uint8_t(1 + (j * w.width() + i) % 254); };
        for (int32_t y = w.y0(); y < w.y1(); ++y) {
            for (int32_t x = w.x0(); x < w.x1(); ++x) {
                T* p = (x - w.x0()) % 2 ? b.row(y) + (x - w.x0()) : b.pel(x, y);
                std::memset(p, markOf(x - w.x0(), y - w.y0()), sizeof(T));
            }
        }
        // Every byte outside the window's pels still holds what allocation
        // left there: the heap's fill, or zero for the pels of packed types.
        const auto* bytes = static_cast<const unsigned char*>(block->first);
        const auto* start = reinterpret_cast<const unsigned char*>(b.windowStart());
        const ptrdiff_t rowBytes = ptrdiff_t(b.typedRoot().stride()) * sizeof(T);
        size_t touched = 0;
        for (size_t i = 0; i < block->second; ++i) {
            const ptrdiff_t at = bytes + i - start;
            const bool inWindow = at >= 0 && at / rowBytes < w.height() &&
                                  at % rowBytes < ptrdiff_t(w.width() * sizeof(T));
            const bool zeroed = ccPelTraits<T>::zeroed && bytes + i >= pels && bytes + i < pels + height * rowBytes;
            if (inWindow) {
                ++touched;
                ASSERT_EQ(bytes[i], markOf(at % rowBytes / sizeof(T), at / rowBytes)) << "byte " << i;
            } else
                ASSERT_EQ(bytes[i], zeroed ? 0 : fake_heap::FakeHeap::kFill) << "byte " << i;
        }
        EXPECT_EQ(touched, size_t(w.width() * w.height()) * sizeof(T));
        raw = b.typedRoot().rawBlock();
    }
    EXPECT_EQ(heap.live.count(raw), 0u);
    EXPECT_EQ(heap.fenceDamage, 0);
}

// Packed colour pels also show that they start at zero.
TEST_F(PelBuffer, WritingEveryPelOfAWindowStaysInsideIt)
{
    writeEveryPel<unsigned char>(37, 11, 32, rect(3, 2, 36, 11));
    writeEveryPel<unsigned char>(37, 11, 1, rect(0, 0, 37, 11));
    writeEveryPel<unsigned short>(13, 7, 16, rect(1, 1, 11, 6));
    writeEveryPel<ccPackedRGB16Pel>(9, 5, 8, rect(0, 4, 9, 5));
    writeEveryPel<ccPackedRGB32Pel>(21, 3, 32, rect(19, 0, 21, 3));
}

} // namespace
