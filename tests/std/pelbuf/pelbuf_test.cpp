#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "std/except/archutil.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/std/rpc/loopback.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;

ccPelRect rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { return ccPelRect(x0, y0, x1 - x0, y1 - y0); }

void expectPoint(const ccPelPoint& p, int32_t x, int32_t y)
{
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
}

class PelBuffer : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

TEST_F(PelBuffer, SubWindowNarrowsAndResetWindowRestores)
{
    Buffer8 b(640, 480, 32);
    EXPECT_EQ(b.windowRect(), rect(0, 0, 640, 480));
    EXPECT_TRUE(b.isWholeRoot());
    b.subWindow(10, 20, 100, 50);
    EXPECT_EQ(b.windowRect(), rect(10, 20, 110, 70));
    expectPoint(b.windowOffset(), 10, 20);
    EXPECT_EQ(b.window(), rect(10, 20, 110, 70));
    EXPECT_FALSE(b.isWholeRoot());
    b.subWindow(5, 5, 10, 10); // relative to the current window
    EXPECT_EQ(b.windowRect(), rect(15, 25, 25, 35));
    expectPoint(b.windowOffset(), 15, 25);
    b.resetWindow();
    EXPECT_TRUE(b.isWholeRoot());
    expectPoint(b.windowOffset(), 0, 0);
}

TEST_F(PelBuffer, SubWindowRefusesPartsOutsideTheWindow)
{
    Buffer8 b(100, 100, 1);
    b.subWindow(10, 10, 50, 50);
    b.subWindow(50, 0, 0, 50); // empty, on the far edge
    EXPECT_EQ(b.windowRect(), rect(60, 10, 60, 60));
    b.resetWindow();
    b.subWindow(10, 10, 50, 50);
    const ccPelRect before = b.windowRect();
    EXPECT_THROW(b.subWindow(51, 0, 0, 0), ccPel::BadWindow);
    EXPECT_THROW(b.subWindow(0, 0, 51, 1), ccPel::BadWindow);
    EXPECT_THROW(b.subWindow(-1, 0, 1, 1), ccPel::BadWindow);
    EXPECT_THROW(b.subWindow(0, 0, -1, 1), ccPel::BadWindow);
    // x + width wraps in 32 bits; it must not pass as inside.
    EXPECT_THROW(b.subWindow(10, 0, INT32_MAX, 1), ccPel::BadWindow);
    EXPECT_EQ(b.windowRect(), before);
    expectPoint(b.windowOffset(), 10, 10);
}

TEST_F(PelBuffer, SetWindowClipsOrRefuses)
{
    Buffer8 b(640, 480, 1);
    EXPECT_THROW(b.setWindow(600, 400, 100, 100, false), ccPel::BadWindow);
    EXPECT_TRUE(b.isWholeRoot());
    EXPECT_THROW(b.setWindow(10, 0, INT32_MAX, 1, false), ccPel::BadWindow);

    EXPECT_TRUE(b.setWindow(600, 400, 100, 100, true));
    EXPECT_EQ(b.windowRect(), rect(600, 400, 640, 480));
    expectPoint(b.windowOffset(), 600, 400);

    EXPECT_FALSE(b.setWindow(rect(1, 2, 3, 4), false));
    expectPoint(b.windowOffset(), 1, 2);

    // Wholly outside: an empty window at (0, 0).
    EXPECT_TRUE(b.setWindow(700, 500, 10, 10, true));
    EXPECT_EQ(b.windowRect(), rect(0, 0, 0, 0));
    expectPoint(b.windowOffset(), 0, 0);
    // Outside in one direction only collapses both, at the larger origin.
    EXPECT_TRUE(b.setWindow(-50, 10, 20, 20, true));
    EXPECT_EQ(b.windowRect(), rect(0, 10, 0, 10));
    EXPECT_THROW(b.setWindow(0, 0, -1, 0, true), ccPel::BadWindow);
}

TEST_F(PelBuffer, ImageWindowsAndPelsUseTheOffset)
{
    Buffer8 b(ccPelRect(5, 7, 10, 10), 1); // image rectangle (5, 7, 15, 17)
    EXPECT_EQ(b.typedRoot().width(), 10);
    EXPECT_EQ(b.window(), rect(5, 7, 15, 17));
    EXPECT_EQ(b.pel(5, 7), b.typedRoot().dataStart());
    EXPECT_EQ(b.windowStart(), b.typedRoot().dataStart());

    EXPECT_FALSE(b.setImageWindow(rect(8, 9, 12, 15), false));
    EXPECT_EQ(b.windowRect(), rect(3, 2, 7, 8));
    EXPECT_EQ(b.window(), rect(8, 9, 12, 15));
    EXPECT_EQ(b.pel(8, 9), b.typedRoot().dataStart() + 2 * 10 + 3);
    EXPECT_EQ(b.row(14), b.typedRoot().dataStart() + 7 * 10 + 3);
    EXPECT_TRUE(b.setImageWindow(rect(0, 0, 100, 100), true));
    EXPECT_EQ(b.window(), rect(5, 7, 15, 17));
}

// The column is checked first and reports both coordinates; the row check
// that follows reports x as 0, as row() does.
TEST_F(PelBuffer, AccessOutsideTheWindowReportsTheCoordinates)
{
    Buffer8 b(ccPelRect(100, 200, 4, 3), 1); // image window (100, 200, 104, 203)
    const ccPelBuffer_const<unsigned char>& c = b;
    struct Case {
        bool pel; // pel(x, y), else row(y)
        int32_t x, y;
        int32_t reportedX, reportedY;
    };
    const Case cases[] = {
        {false, 0, 203, 0, 203}, // one past the last row
        {false, 0, 199, 0, 199},
        {true, 104, 201, 104, 201},
        {true, 99, 200, 99, 200},
        {true, 104, 203, 104, 203}, // both outside
        {true, 103, 203, 0, 203},
        {true, 101, 199, 0, 199},
        {true, 101, INT32_MIN, 0, INT32_MIN},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << (k.pel ? "pel " : "row ") << k.x << ", " << k.y);
        for (bool writable : {false, true}) {
            try {
                if (!k.pel)
                    writable ? (void)b.row(k.y) : (void)c.row(k.y);
                else
                    writable ? (void)b.pel(k.x, k.y) : (void)c.pel(k.x, k.y);
                ADD_FAILURE() << "no error";
            } catch (const ccPel::BadCoord& e) {
                EXPECT_EQ(e.x(), k.reportedX);
                EXPECT_EQ(e.y(), k.reportedY);
            }
        }
    }
    EXPECT_NO_THROW(b.pel(103, 202));
}

TEST_F(PelBuffer, UnboundBuffersRaiseUnboundWindow)
{
    Buffer8 b(static_cast<ccPelRoot<unsigned char>*>(nullptr));
    EXPECT_FALSE(b.isBound());
    EXPECT_EQ(b.rootRefCount(), 0);
    EXPECT_THROW(b.root(), ccPel::UnboundWindow);
    EXPECT_THROW(b.row(0), ccPel::UnboundWindow);
    EXPECT_THROW(b.resetWindow(), ccPel::UnboundWindow);
    EXPECT_THROW(b.subWindow(0, 0, 0, 0), ccPel::UnboundWindow);
    EXPECT_THROW(b.subWindow(0, 0, -1, 0), ccPel::BadWindow); // the size is checked first
    EXPECT_THROW(b.setWindow(0, 0, 0, 0, true), ccPel::UnboundWindow);
    EXPECT_FALSE(b.isWholeRoot());
    EXPECT_FALSE(b.sharesPels(b));

    // A remote root is bound, but its pels are not here.
    loopback::Communicator c;
    Buffer8 remote(new ccPelRoot<unsigned char>(c.destination(), 0, 8, 8));
    EXPECT_TRUE(remote.isBound());
    EXPECT_THROW(remote.row(0), ccPel::UnboundWindow);
    EXPECT_THROW(remote.windowStart(), ccPel::UnboundWindow);
}

TEST_F(PelBuffer, CopiesShareTheRootAndTheLastOneDisposesOfIt)
{
    int destroyed = 0;
    auto* root = new fakes::CountedRoot(&destroyed, 8, 8);
    {
        Buffer8 a(root);
        a.setLinearClientXform(cc2Xform(cc2Matrix(2, 0, 0, 2), cc2Vect(1, 1)));
        Buffer8 b(a);
        EXPECT_EQ(a.rootRefCount(), 2);
        EXPECT_TRUE(a == b);
        EXPECT_EQ(a.clientXform().xform().rawPointer(), b.clientXform().xform().rawPointer());
        b.subWindow(1, 1, 2, 2);
        EXPECT_TRUE(a != b);
        b = Buffer8(4, 4, 1); // the old root loses a reference
        EXPECT_EQ(a.rootRefCount(), 1);
        a = a;
        EXPECT_EQ(a.rootRefCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(PelBuffer, ReleaseRootHandsTheRootOverWithoutDisposingOfIt)
{
    int destroyed = 0;
    Buffer8 b(new fakes::CountedRoot(&destroyed, 8, 8));
    b.subWindow(1, 1, 3, 3);
    cc_PelRoot* r = b.releaseRoot();
    EXPECT_FALSE(b.isBound());
    EXPECT_EQ(b.windowRect(), rect(1, 1, 4, 4)); // kept
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(r->refCount(), 0);
    EXPECT_EQ(b.releaseRoot(), nullptr);
    { ccPtrHandle<cc_PelRoot> owner(r); } // the new owner
    EXPECT_EQ(destroyed, 1);
}

TEST_F(PelBuffer, BindShowsTheWholeNewRootAndKeepsImageCoordinates)
{
    Buffer8 b(ccPelRect(5, 7, 10, 10), 1);
    b.subWindow(2, 2, 3, 3);
    auto* other = new ccPelRoot<unsigned char>(20, 30, 1);
    b.bind(other);
    EXPECT_TRUE(b.isWholeRoot());
    EXPECT_EQ(b.window(), rect(5, 7, 25, 37));
    b.bind(other); // the same root: the count is unchanged
    EXPECT_EQ(b.rootRefCount(), 1);

    // Root pel 0 sits at image x = INT32_MAX - 5: a window further right
    // has no image coordinates.
    Buffer8 edge(ccPelRect(INT32_MAX - 5, 0, 5, 1), 1);
    edge.bind(new ccPelRoot<unsigned char>(640, 1, 1));
    EXPECT_THROW(edge.setWindow(600, 0, 1, 1, false), ccPel::BadWindow);
    EXPECT_TRUE(edge.isWholeRoot());
}

// A buffer is made over any root of its pel type, typed or not.
TEST_F(PelBuffer, OverARootTakesAnUntypedRootOfItsPelType)
{
    cc_PelRoot* same = new ccPelRoot<unsigned char>(6, 4, 1);
    Buffer8 b(same);
    EXPECT_EQ(&b.root(), same);
    EXPECT_TRUE(b.isWholeRoot());
    cc_PelRoot* packed = new ccPelRoot<ccPackedRGB32Pel>(2, 2, 4);
    EXPECT_EQ(ccPelBuffer<ccPackedRGB32Pel>(packed).rootRefCount(), 1);
    EXPECT_FALSE(Buffer8(nullptr).isBound());

    // A root of another pel type is refused and, held by nothing else,
    // disposed of.
    struct Wide : ccPelRoot<unsigned short> {
        explicit Wide(int* destroyed) : ccPelRoot(2, 2, 1), destroyed_(destroyed) {}
        ~Wide() override { ++*destroyed_; }
        int* destroyed_;
    };
    int destroyed = 0;
    EXPECT_THROW(Buffer8(static_cast<cc_PelRoot*>(new Wide(&destroyed))), ccPel::Unknown);
    EXPECT_THROW(ccPelBuffer<ccPackedRGB16Pel>(static_cast<cc_PelRoot*>(new Wide(&destroyed))), ccPel::Unknown);
    EXPECT_EQ(destroyed, 2);
}

// Typed access would read another pel type's memory with the wrong size.
TEST_F(PelBuffer, RootsOfAnotherPelTypeAreRefused)
{
    Buffer8 b(4, 4, 1);
    cc_PelBuffer& base = b;
    EXPECT_THROW(base.bind(new ccPelRoot<unsigned short>(4, 4, 1)), ccPel::Unknown);
    EXPECT_EQ(b.rootRefCount(), 1); // the refused root was disposed of, b unchanged
    ccPelBuffer<unsigned short> wide(4, 4, 1);
    EXPECT_THROW(ccPelBuffer_const<unsigned char>{static_cast<const cc_PelBuffer&>(wide)}, ccPel::Unknown);
    ccPelBuffer_const<unsigned char> view{static_cast<const cc_PelBuffer&>(b)};
    EXPECT_EQ(view.row(0), b.row(0));
    ccPelBuffer<unsigned short> unbound;
    EXPECT_FALSE(ccPelBuffer_const<unsigned char>(static_cast<const cc_PelBuffer&>(unbound)).isBound());
}

TEST_F(PelBuffer, SharesPelsOnlyForOverlappingWindowsOfOneRoot)
{
    Buffer8 a(64, 64, 1);
    Buffer8 b(a);
    a.setWindow(0, 0, 10, 10, false);
    b.setWindow(10, 0, 10, 10, false); // touching edges
    EXPECT_FALSE(a.sharesPels(b));
    b.setWindow(9, 9, 11, 11, false);
    EXPECT_TRUE(a.sharesPels(b));
    EXPECT_TRUE(b.sharesPels(a));
    EXPECT_FALSE(a.sharesPels(Buffer8(64, 64, 1)));

    // Two proxies of one remote root.
    loopback::Communicator c;
    Buffer8 p(new ccPelRoot<unsigned char>(c.destination(), 4, 64, 64));
    Buffer8 q(new ccPelRoot<unsigned char>(c.destination(), 4, 64, 64));
    Buffer8 other(new ccPelRoot<unsigned char>(c.destination(), 5, 64, 64));
    EXPECT_TRUE(p.sharesPels(q));
    EXPECT_FALSE(p.sharesPels(other));
    q.setWindow(32, 32, 0, 0, false); // empty
    EXPECT_FALSE(p.sharesPels(q));
}

TEST_F(PelBuffer, ClientTransforms)
{
    Buffer8 a(4, 4, 1);
    EXPECT_TRUE(a.clientXform().isLinear());
    const cc2Xform t(cc2Matrix(1, 2, 3, 4), cc2Vect(5, 6));
    a.setLinearClientXform(t);
    double v[6];
    a.linearClientXform().get(v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_TRUE(v[0] == 5 && v[1] == 6 && v[2] == 1 && v[5] == 4);

    Buffer8 b(2, 2, 1);
    b.copyClientXform(a);
    EXPECT_EQ(b.clientXform().xform().rawPointer(), a.clientXform().xform().rawPointer());
    b.setClientXform(cc2XformPoly(2, {0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 0, 0}));
    EXPECT_THROW(b.linearClientXform(), ccPel::NonlinearXform);
    EXPECT_TRUE(a.clientXform().isLinear());
}

TEST_F(PelBuffer, WritableAccessDropsTheRootFromArchiveTablesAndReadingDoesNot)
{
    Buffer8 b(2, 2, 1);
    std::stringbuf sb;
    ccArchive ar(&sb, ccArchive::storing, ccArchive::littleEndian, false);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;
    archivePointer(ar, static_cast<const ccPersistent*>(&b.typedRoot()), unused);
    static_cast<const Buffer8&>(b).row(0);
    static_cast<const Buffer8&>(b).windowStart();
    EXPECT_TRUE(b.typedRoot().isArchived());
    b.row(0);
    EXPECT_FALSE(b.typedRoot().isArchived());
}

// Writes every pel of a window through each form of access and checks that
// nothing else of the block changed, and that the fences around the block
// are intact when the root frees it.
template <class T>
void writeEveryPel(int32_t width, int32_t height, int32_t alignment, const ccPelRect& image)
{
    fakes::FencedHeap heap;
    void* raw = nullptr;
    {
        ccPelBuffer<T> b(width, height, alignment);
        const auto block = heap.live.find(b.typedRoot().rawBlock());
        ASSERT_NE(block, heap.live.end());
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
        const auto* pels = reinterpret_cast<const unsigned char*>(b.typedRoot().dataStart());
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
                ASSERT_EQ(bytes[i], zeroed ? 0 : fakes::FencedHeap::kFill) << "byte " << i;
        }
        EXPECT_EQ(touched, size_t(w.width() * w.height()) * sizeof(T));
        raw = b.typedRoot().rawBlock();
    }
    EXPECT_EQ(heap.live.count(raw), 0u);
    EXPECT_EQ(heap.fenceDamage, 0);
}

TEST_F(PelBuffer, WritingEveryPelOfAWindowStaysInsideIt)
{
    writeEveryPel<unsigned char>(37, 11, 32, rect(3, 2, 36, 11));
    writeEveryPel<unsigned char>(37, 11, 1, rect(0, 0, 37, 11));
    writeEveryPel<unsigned char>(36, 4, 1, rect(0, 0, 36, 4));
    writeEveryPel<unsigned short>(13, 7, 16, rect(1, 1, 11, 6));
    writeEveryPel<ccPackedRGB16Pel>(9, 5, 8, rect(0, 4, 9, 5));
    writeEveryPel<ccPackedRGB32Pel>(21, 3, 32, rect(19, 0, 21, 3));
}

} // namespace
