#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <new>
#include <vector>

#include "std/except/archutil.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/std/rpc/loopback.h"

namespace {

using fakes::CountedRoot;

class PelRoot : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

// The rule as stated: add the pel size to the running byte count until the
// row ends on the alignment.
uint32_t padByAdding(int32_t w, uint32_t s, int32_t a)
{
    uint32_t k = 0;
    for (int64_t bytes = int64_t{w} * s; bytes % a != 0; bytes += s)
        ++k;
    return k;
}

TEST_F(PelRoot, StridePadFollowsTheRule)
{
    EXPECT_EQ(100 + cc_PelRoot::stridePad(100, 1, 32), 128u);
    EXPECT_EQ(100 + cc_PelRoot::stridePad(100, 2, 32), 112u);
    EXPECT_EQ(17 + cc_PelRoot::stridePad(17, 8, 8), 17u);
    EXPECT_EQ(3 + cc_PelRoot::stridePad(3, 4, 16), 4u);
    EXPECT_EQ(5 + cc_PelRoot::stridePad(5, 2, 4), 6u);
    for (uint32_t s : {1u, 2u, 3u, 4u, 8u, 24u})
        for (int32_t a = 1; a <= 64; ++a)
            for (int32_t w = 0; w <= 70; ++w)
                ASSERT_EQ(cc_PelRoot::stridePad(w, s, a), padByAdding(w, s, a)) << w << " " << s << " " << a;
    EXPECT_THROW(cc_PelRoot::stridePad(10, 1, 0), ccInvariantFailure);
}

// Geometry and alignment of an allocated root of each pel type.
template <class T>
void checkAllocated(int32_t w, int32_t h, int32_t a)
{
    ccPelRoot<T> r(w, h, a);
    SCOPED_TRACE(ccPelRoot<T>::kStoredName);
    EXPECT_EQ(r.width(), w);
    EXPECT_EQ(r.height(), h);
    EXPECT_EQ(r.alignment(), a);
    EXPECT_EQ(r.stride(), int32_t(w + cc_PelRoot::stridePad(w, sizeof(T), a)));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r.dataStart()) % a, 0u);
    const char* raw = static_cast<const char*>(r.rawBlock());
    const char* data = reinterpret_cast<const char*>(r.dataStart());
    EXPECT_TRUE(data >= raw && data < raw + a);
    EXPECT_NO_THROW(r.checkInvariants());
    if (a == 1) {
        EXPECT_EQ(r.stride(), w);
    }
}

TEST_F(PelRoot, EveryPelTypeAllocatesAlignedRows)
{
    static_assert(sizeof(int32_t) == 4 && sizeof(ccPackedRGB32Pel) == 4, "32-bit pels");
    for (int32_t a : {1, 4, 16, 32}) {
        checkAllocated<unsigned char>(13, 3, a);
        checkAllocated<unsigned short>(13, 3, a);
        checkAllocated<short>(13, 3, a);
        checkAllocated<uint32_t>(13, 3, a);
        checkAllocated<int32_t>(13, 3, a);
        checkAllocated<double>(13, 3, a);
        checkAllocated<ccPackedRGB16Pel>(13, 3, a);
        checkAllocated<ccPackedRGB32Pel>(13, 3, a);
    }
    EXPECT_EQ(ccPelRoot<int32_t>(3, 1, 16).stride(), 4);
    EXPECT_EQ(ccPelRoot<unsigned short>(5, 1, 4).stride(), 6);
}

TEST_F(PelRoot, BlockSizeIsRowsTimesStridePlusAlignmentSlack)
{
    fakes::FencedHeap heap;
    { ccPelRoot<unsigned short> r(5, 3, 8); }
    { ccPelRoot<unsigned char> empty(0, 0, 32); EXPECT_EQ(empty.stride(), 0); }
    EXPECT_EQ(heap.sizes, (std::vector<size_t>{3 * 8 * 2 + 7, 31}));
    EXPECT_EQ(heap.fenceDamage, 0);
}

TEST_F(PelRoot, PackedColourPelsStartAtZero)
{
    fakes::FencedHeap heap; // fills every new block with non-zero bytes
    ccPelRoot<ccPackedRGB16Pel> p16(7, 5, 32);
    ccPelRoot<ccPackedRGB32Pel> p32(7, 5, 32);
    for (int32_t i = 0; i < 5 * p16.stride(); ++i)
        ASSERT_EQ(p16.dataStart()[i].value, 0);
    for (int32_t i = 0; i < 5 * p32.stride(); ++i)
        ASSERT_EQ(p32.dataStart()[i].value, 0u);
}

// Sizes are computed in 64 bits: a product that would wrap in 32 bits to a
// small block is an allocation failure, and nothing reaches the heap.
TEST_F(PelRoot, OversizedRootsFailAsAllocationsWithoutAllocating)
{
    fakes::FencedHeap heap;
    EXPECT_THROW(ccPelRoot<unsigned short>(1 << 30, 2, 1), std::bad_alloc);   // 2^32 bytes
    EXPECT_THROW(ccPelRoot<double>(1 << 29, 8, 8), std::bad_alloc);           // 2^35
    EXPECT_THROW(ccPelRoot<unsigned char>(65536, 32768, 1), std::bad_alloc);  // exactly 2^31
    EXPECT_THROW(ccPelRoot<double>(INT32_MAX, INT32_MAX, 8), std::bad_alloc); // past 2^63
    EXPECT_THROW(ccPelRoot<unsigned char>(INT32_MAX, 1, 32), std::bad_alloc); // stride past 2^31
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_THROW(ccPelRoot<unsigned char>(-1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(4, -1, 1), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(4, 4, 0), ccInvariantFailure);
}

TEST_F(PelRoot, InvariantsOfEachKindOfRoot)
{
    EXPECT_THROW(ccPelRoot<unsigned char>().checkInvariants(), ccInvariantFailure); // no data start
    EXPECT_THROW(ccPelRoot<signed char>().checkInvariants(), ccInvariantFailure);

    unsigned char pels[4 * 10] = {};
    ccPelRoot<unsigned char> over(4, 3, 10, pels, 1);
    EXPECT_NO_THROW(over.checkInvariants());
    EXPECT_EQ(over.stride(), 10);
    EXPECT_EQ(over.rawBlock(), nullptr);
    EXPECT_THROW(ccPelRoot<unsigned char>(4, 3, 10, nullptr, 1).checkInvariants(), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(11, 3, 10, pels, 1), ccInvariantFailure); // stride below width

    loopback::Communicator c;
    EXPECT_NO_THROW(ccPelRoot<unsigned char>(c.destination(), 0, 8, 8).checkInvariants());
    EXPECT_THROW(ccPelRoot<unsigned char>(c.destination(), 0, 0, 8).checkInvariants(), ccInvariantFailure);
}

TEST_F(PelRoot, ReleaseStorageEmptiesOnlyARootThatAllocatedItsPels)
{
    fakes::FencedHeap heap;
    ccPelRoot<double> r(6, 2, 16);
    r.releaseStorage();
    EXPECT_TRUE(heap.live.empty());
    EXPECT_EQ(r.rawBlock(), nullptr);
    EXPECT_EQ(r.dataStart(), nullptr);
    EXPECT_EQ(r.width() | r.height() | r.stride() | r.alignment(), 0);

    // Pels of a caller or a pool are not the root's to give up.
    unsigned char pels[10 * 3];
    ccPelRoot<unsigned char> overCaller(4, 3, 10, pels, 2);
    overCaller.releaseStorage();
    EXPECT_EQ(overCaller.dataStart(), pels);
    EXPECT_TRUE(overCaller.width() == 4 && overCaller.height() == 3 && overCaller.stride() == 10 &&
                overCaller.alignment() == 2);
    std::vector<ccPackedRGB32Pel> arena(64);
    ccPelRoot<ccPackedRGB32Pel> overPool(5, 3, arena.data(), 8);
    overPool.releaseStorage();
    EXPECT_EQ(overPool.dataStart(), arena.data());
    EXPECT_TRUE(overPool.width() == 5 && overPool.height() == 3 && overPool.stride() == 6);
}

TEST_F(PelRoot, LastReleaseReturnsAPoolRootToItsPoolAndDestroysOthers)
{
    fakes::Pool pool;
    int destroyed = 0;
    auto* pooled = new CountedRoot(&destroyed);
    pooled->setPool(&pool);
    {
        ccPtrHandle<cc_PelRoot> a(pooled);
        ccPtrHandle<ccPelRoot<unsigned char>> b(pooled);
        EXPECT_EQ(pooled->refCount(), 2);
    }
    EXPECT_EQ(pool.back, std::vector<cc_PelRoot*>{pooled});
    EXPECT_EQ(destroyed, 0);

    { ccPtrHandle<ccPelRoot<unsigned char>> plain(new CountedRoot(&destroyed)); }
    EXPECT_EQ(destroyed, 1);
    pooled->setPool(nullptr);
    cc_PelRoot::dispose(pooled);
    EXPECT_EQ(destroyed, 2);
    cc_PelRoot::dispose(nullptr);
}

TEST_F(PelRoot, RootsOverPoolMemoryTakeTheRuleStrideAndOwnNothing)
{
    std::vector<ccPackedRGB32Pel> arena(64);
    ccPelRoot<ccPackedRGB32Pel> r(5, 3, arena.data(), 8);
    EXPECT_EQ(r.stride(), 6);
    EXPECT_EQ(r.dataStart(), arena.data());
    EXPECT_EQ(r.rawBlock(), nullptr);
}

TEST_F(PelRoot, PackageRootsReadThePackageOnceAndOwnIt)
{
    int destroyed = 0;
    unsigned char pels[16 * 4];
    {
        auto* p = new fakes::Package(&destroyed, 10, 4);
        p->stride_ = 16;
        p->alignment_ = 16;
        p->data_ = pels;
        ccPelRoot<unsigned char> r(p);
        EXPECT_EQ(r.package(), p);
        EXPECT_EQ(r.dataStart(), pels);
        EXPECT_EQ(r.stride(), 16);
        EXPECT_EQ(r.alignment(), 16);
        EXPECT_TRUE(r.destination().isLocal());
        EXPECT_NO_THROW(r.checkInvariants());
    }
    EXPECT_EQ(destroyed, 1);

    loopback::Communicator proxy;
    proxy.closed = true;
    auto* remote = new fakes::Package(&destroyed, 640, 480);
    remote->destination_ = proxy.destination();
    remote->remoteId_ = 9;
    remote->data_ = pels;
    ccPelRoot<ccPackedRGB16Pel> r(remote);
    EXPECT_EQ(r.dataStart(), nullptr); // the pels are behind the destination
    EXPECT_EQ(r.remoteId(), 9u);

    // A package that answers only its size: stride = width, alignment 1.
    struct Sized : cc_PelPackage {
        int32_t width() const override { return 6; }
        int32_t height() const override { return 2; }
    };
    ccPelRoot<unsigned char> sized(new Sized);
    EXPECT_EQ(sized.stride(), 6);
    EXPECT_EQ(sized.alignment(), 1);
    EXPECT_EQ(sized.dataStart(), nullptr);

    EXPECT_THROW(ccPelRoot<unsigned char>(static_cast<cc_PelPackage*>(nullptr)), ccBadPointer);
}

// Pels are addressed with the package's geometry, so one that cannot hold
// together is refused, and the refused package is still deleted.
TEST_F(PelRoot, PackageRootsRefuseGeometryThatDoesNotHoldTogether)
{
    int destroyed = 0;
    unsigned char pels[100];
    const auto make = [&](int32_t w, int32_t h, int32_t stride, int32_t alignment) {
        auto* p = new fakes::Package(&destroyed, w, h);
        p->stride_ = stride;
        p->alignment_ = alignment;
        p->data_ = pels;
        ccPelRoot<unsigned char> r(p);
    };
    EXPECT_THROW(make(100, 10, 10, 1), ccInvariantFailure); // rows overlap
    EXPECT_THROW(make(-1, 1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(make(4, -1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(make(4, 2, 4, 0), ccInvariantFailure);
    EXPECT_EQ(destroyed, 4);
    EXPECT_NO_THROW(make(10, 10, 10, 1));
    EXPECT_EQ(destroyed, 5);
}

TEST_F(PelRoot, PackageIsDeletedWhenReadingItThrows)
{
    struct Throwing : fakes::Package {
        using fakes::Package::Package;
        int32_t height() const override { throw ccBadPointer(); }
    };
    int destroyed = 0;
    EXPECT_THROW(ccPelRoot<unsigned char>(new Throwing(&destroyed, 4, 4)), ccBadPointer);
    EXPECT_EQ(destroyed, 1);
}

TEST_F(PelRoot, MarkModifiedDropsTheRootFromArchiveTables)
{
    ccPelRoot<unsigned char> r(2, 2, 1);
    std::stringbuf sb;
    ccArchive ar(&sb, ccArchive::storing, ccArchive::littleEndian, false);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;
    archivePointer(ar, static_cast<const ccPersistent*>(&r), unused);
    EXPECT_TRUE(r.isArchived());
    r.markModified();
    EXPECT_FALSE(r.isArchived());
    r.markModified(); // not listed: nothing to do
}

// Roots at a peer.
class RemoteRoot : public PelRoot {
protected:
    loopback::Communicator peer;
    loopback::Communicator proxy; // the in-process board-module proxy answers closed
    fakes::Protocol protocol;
    void SetUp() override
    {
        PelRoot::SetUp();
        proxy.closed = true;
    }
};

TEST_F(RemoteRoot, OnlyRootsAtAPeerRegister)
{
    ccPelRoot<unsigned char> atPeer(peer.destination(), 5, 64, 48);
    ccPelRoot<unsigned char> atProxy(proxy.destination(), 5, 64, 48);
    ccPelRoot<unsigned char> noId(peer.destination(), 0, 64, 48);
    EXPECT_EQ(protocol.registered, std::set<cc_PelRoot*>{&atPeer});
    EXPECT_EQ(atPeer.dataStart(), nullptr);
    EXPECT_EQ(atPeer.stride(), 0);

    EXPECT_THROW(ccPelRoot<unsigned char>(ccRPCDestination(), 5, 64, 48), ccInvariantFailure);
    uint32_t gone;
    {
        loopback::Communicator c;
        gone = c.destination().id();
    }
    EXPECT_THROW(ccPelRoot<unsigned char>(ccRPCDestination(gone), 5, 64, 48), ccRemoteObject::ObjectMismatch);
}

// Typed and untyped handles both count through the remote protocol, so the
// peer hears of the first reference and the last release whichever handle
// takes or drops them.
TEST_F(RemoteRoot, EveryHandleCountsThroughTheProtocol)
{
    auto* r = new ccPelRoot<unsigned char>(peer.destination(), 7, 8, 8);
    {
        ccPtrHandle<ccPelRoot<unsigned char>> typed(r);
        ccPtrHandle<cc_PelRoot> base(r);
        EXPECT_EQ(r->refCount(), 2);
    } // the last release destroys the proxy (LeakSanitizer would see it otherwise)
    const uint32_t d = peer.destination().id();
    EXPECT_EQ(protocol.sent, (std::vector<fakes::Protocol::Change>{{d, 7, 1}, {d, 7, -1}}));
    EXPECT_TRUE(protocol.registered.empty());

    // A local root never reaches the protocol.
    { ccPtrHandle<cc_PelRoot> local(new ccPelRoot<unsigned char>(2, 2, 1)); }
    EXPECT_EQ(protocol.sent.size(), 2u);
}

// Handing a root over moves the reference; the peer must not hear of a
// release in between, or it could destroy its root.
TEST_F(RemoteRoot, ReleaseRootSendsThePeerNothing)
{
    auto* r = new ccPelRoot<unsigned char>(peer.destination(), 7, 8, 8);
    ccPelBuffer<unsigned char> b(r);
    protocol.sent.clear();
    EXPECT_EQ(b.releaseRoot(), r);
    EXPECT_TRUE(protocol.sent.empty());
    EXPECT_EQ(protocol.registered.count(r), 1u);
    EXPECT_EQ(r->refCount(), 0);
    { ccPtrHandle<cc_PelRoot> owner(r); } // the new owner's last release reaches the peer
    EXPECT_EQ(protocol.sent, (std::vector<fakes::Protocol::Change>{{peer.destination().id(), 7, 1},
                                                                  {peer.destination().id(), 7, -1}}));
}

TEST_F(RemoteRoot, ReleaseStorageGivesThePeerItsReferencesBack)
{
    auto* r = new ccPelRoot<unsigned char>(peer.destination(), 3, 8, 8);
    ccPtrHandle<cc_PelRoot> a(r), b(r);
    protocol.sent.clear();
    r->releaseStorage();
    EXPECT_EQ(protocol.sent, (std::vector<fakes::Protocol::Change>{{peer.destination().id(), 3, -2}}));
    EXPECT_TRUE(r->destination().isLocal());
    EXPECT_EQ(r->remoteId(), 0u);
    EXPECT_EQ(r->width(), 0);

    // Behind the closed proxy there is no peer count to change.
    ccPelRoot<unsigned char> held(proxy.destination(), 4, 8, 8);
    protocol.sent.clear();
    held.releaseStorage();
    EXPECT_TRUE(protocol.sent.empty());
    EXPECT_TRUE(held.destination().isLocal());
}

} // namespace
