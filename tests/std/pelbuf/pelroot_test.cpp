#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/remoteroots.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/std/pelbuf/pel_peer.h"
#include "tests/support/fake_comm.h"
#include "tests/support/fake_heap.h"

namespace {

using fakes::loadObject;
using fakes::storeObject;
using test_bytes::Bytes;
using test_bytes::cat;

class PelRoot : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// Header, the three level versions, width, height, alignment, flags.
Bytes rootPrefix(int32_t w, int32_t h, int32_t a, uint32_t flags = 0)
{
    return cat({{0x02, 0x01, 0x00, 0x00, 0x00}, u32(w), u32(h), u32(a), u32(flags)});
}

// The rule as stated: add the pel size to the running byte count until the
// row ends on the alignment.
TEST_F(PelRoot, StridePadFollowsTheRule)
{
    for (uint32_t s : {1u, 2u, 3u, 4u, 8u, 24u})
        for (int32_t a = 1; a <= 64; ++a)
            for (int32_t w = 0; w <= 100; ++w) {
                uint32_t k = 0;
                for (int64_t bytes = int64_t{w} * s; bytes % a != 0; bytes += s)
                    ++k;
                ASSERT_EQ(cc_PelRoot::stridePad(w, s, a), k) << w << " " << s << " " << a;
            }
    EXPECT_THROW(cc_PelRoot::stridePad(10, 1, 0), ccInvariantFailure);
}

template <class T>
class TypedRootArchive : public PelRoot {};
typedef ::testing::Types<unsigned char, signed char, unsigned short, short, uint32_t, int32_t, double,
                         ccPackedRGB16Pel, ccPackedRGB32Pel>
    PelTypes;
TYPED_TEST_SUITE(TypedRootArchive, PelTypes);

// Stored as one object through a pointer in either byte order, and loaded by
// the registry from its stored name. Every pel byte differs, and many have
// the sign bit set, so a byte lost or moved on the way shows.
TYPED_TEST(TypedRootArchive, RoundTripsInBothByteOrdersAndSkipsThePelsFlagsAnnounce)
{
    typedef TypeParam T;
    const int32_t w = 5, h = 3, a = 8;
    const size_t rowBytes = w * sizeof(T);
    Bytes pels(h * rowBytes);
    for (size_t i = 0; i < pels.size(); ++i)
        pels[i] = uint8_t(0x85 + 37 * i);
    // Made by loading: the signed 8-bit root has no other way to get pels.
    ccPelRoot<T> root;
    loadObject(cat({rootPrefix(w, h, a), Bytes(pels.size(), 0)}), root);
    ASSERT_EQ(root.stride(), int32_t(w + cc_PelRoot::stridePad(w, sizeof(T), a)));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(root.dataStart()) % a, 0u);
    for (int y = 0; y < h; ++y)
        std::memcpy(root.dataStart() + y * root.stride(), &pels[y * rowBytes], rowBytes);
    // Only width * height pels are stored.
    EXPECT_EQ(storeObject(root).size(), rootPrefix(w, h, a).size() + pels.size());

    for (int32_t order : {ccArchive::littleEndian, ccArchive::bigEndian}) {
        std::unique_ptr<ccPersistent> owned(fakes::loadPointers(fakes::storePointers({&root}, order))[0]);
        auto* back = dynamic_cast<ccPelRoot<T>*>(owned.get());
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(back->width() == w && back->height() == h && back->stride() == root.stride());
        for (int y = 0; y < h; ++y)
            EXPECT_EQ(std::memcmp(back->dataStart() + y * back->stride(), &pels[y * rowBytes], rowBytes), 0) << y;
    }

    // Bits 2 and 4 of the flags each announce one pel that is skipped.
    const Bytes extra(sizeof(T), 0xEE);
    const Bytes two = cat({Bytes(sizeof(T), 0x11), Bytes(sizeof(T), 0x22)});
    for (uint32_t flags : {2u, 4u, 6u}) {
        ccPelRoot<T> r;
        loadObject(cat({rootPrefix(2, 1, 1, flags), flags == 6 ? cat({extra, extra}) : extra, two}), r);
        EXPECT_EQ(std::memcmp(r.dataStart(), two.data(), two.size()), 0) << flags;
    }
    ccPelRoot<T> r;
    EXPECT_THROW(loadObject(cat({rootPrefix(2, 1, 1, 6), extra, two}), r), ccArchive::Eof);
}

TEST_F(PelRoot, SmallRootMatchesTheGoldenBytesAndKeepsItsStride)
{
    ccPelRoot<unsigned char> r(3, 2, 32);
    ASSERT_EQ(r.stride(), 32);
    for (int i = 0; i < 6; ++i)
        r.dataStart()[i / 3 * 32 + i % 3] = uint8_t(1 + i);
    // The padding between width and stride is not stored.
    const Bytes golden = cat({rootPrefix(3, 2, 32), {1, 2, 3, 4, 5, 6}});
    EXPECT_EQ(storeObject(r), golden);

    ccPelRoot<unsigned char> loaded;
    loadObject(golden, loaded);
    EXPECT_TRUE(loaded.stride() == 32 && loaded.dataStart()[32 + 2] == 6);

    // An empty root stores its empty geometry; loading it frees the old
    // block (LeakSanitizer).
    ccPelRoot<double> empty, refilled(4, 4, 8);
    EXPECT_EQ(storeObject(empty), rootPrefix(0, 0, 0));
    loadObject(rootPrefix(0, 0, 0), refilled);
    EXPECT_TRUE(refilled.dataStart() == nullptr && refilled.rawBlock() == nullptr);
}

// A block is rows times stride plus the alignment slack. Sizes are computed
// in 64 bits: a product that would wrap in 32 bits to a small block is an
// allocation failure. Bad geometry, made or loaded, reaches no heap.
TEST_F(PelRoot, BlockSizesAndGeometryRefusedBeforeAllocating)
{
    fake_heap::FakeHeap heap;
    { ccPelRoot<unsigned short> r(5, 3, 8); }
    { ccPelRoot<unsigned char> empty(0, 0, 32); EXPECT_EQ(empty.stride(), 0); }
    EXPECT_EQ(heap.sizes, (std::vector<size_t>{3 * 8 * 2 + 7, 31}));
    heap.sizes.clear();

    EXPECT_THROW(ccPelRoot<unsigned short>(1 << 30, 2, 1), std::bad_alloc);   // 2^32 bytes
    EXPECT_THROW(ccPelRoot<double>(1 << 29, 8, 8), std::bad_alloc);           // 2^35
    EXPECT_THROW(ccPelRoot<unsigned char>(65536, 32768, 1), std::bad_alloc);  // exactly 2^31
    EXPECT_THROW(ccPelRoot<double>(INT32_MAX, INT32_MAX, 8), std::bad_alloc); // past 2^63
    EXPECT_THROW(ccPelRoot<unsigned char>(INT32_MAX, 1, 32), std::bad_alloc); // stride past 2^31
    EXPECT_THROW(ccPelRoot<unsigned char>(-1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(4, -1, 1), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(4, 4, 0), ccInvariantFailure);
    ccPelRoot<unsigned char> r;
    EXPECT_THROW(loadObject(rootPrefix(3, 2, 0), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(-3, 2, 1), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(3, -2, 1), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(65536, 65536, 1), r), std::bad_alloc); // 2^32 bytes
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_EQ(r.width() | r.height() | r.alignment(), 0);
    EXPECT_THROW(loadObject(cat({rootPrefix(3, 2, 1), {1, 2, 3, 4, 5}}), r), ccArchive::Eof);
}

// Each kind of root: allocated, over a caller's pels, at a peer, over a
// package. Pels are addressed with the package's geometry, so one that
// cannot hold together is refused. The root owns the package from the call
// on: a refused package, or one that throws while it is read, is still deleted.
TEST_F(PelRoot, InvariantsOfEachKindOfRootAndPackagesAreOwned)
{
    EXPECT_THROW(ccPelRoot<unsigned char>().checkInvariants(), ccInvariantFailure); // no data start
    unsigned char pels[100] = {};
    EXPECT_NO_THROW(ccPelRoot<unsigned char>(4, 3, 10, pels, 1).checkInvariants());
    EXPECT_THROW(ccPelRoot<unsigned char>(4, 3, 10, nullptr, 1).checkInvariants(), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(11, 3, 10, pels, 1), ccInvariantFailure); // stride below width
    test_comm::Communicator c;
    EXPECT_NO_THROW(ccPelRoot<unsigned char>(c.destination(), 0, 8, 8).checkInvariants());
    EXPECT_THROW(ccPelRoot<unsigned char>(c.destination(), 0, 0, 8).checkInvariants(), ccInvariantFailure);

    int destroyed = 0;
    const auto make = [&](int32_t w, int32_t h, int32_t stride, int32_t alignment) {
        return std::make_unique<ccPelRoot<unsigned char>>(new fakes::Package(&destroyed, w, h, stride, alignment, pels));
    };
    {
        auto r = make(10, 4, 16, 16);
        EXPECT_TRUE(r->package() && r->dataStart() == pels && r->stride() == 16 && r->alignment() == 16);
        EXPECT_TRUE(r->destination().isLocal());
        EXPECT_NO_THROW(r->checkInvariants());
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_THROW(make(100, 10, 10, 1), ccInvariantFailure); // rows overlap
    EXPECT_THROW(make(-1, 1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(make(4, -1, 4, 1), ccInvariantFailure);
    EXPECT_THROW(make(4, 2, 4, 0), ccInvariantFailure);
    EXPECT_NO_THROW(make(10, 10, 10, 1));
    EXPECT_EQ(destroyed, 6);
    struct Throwing : fakes::Package {
        using fakes::Package::Package;
        int32_t height() const override { throw ccBadPointer(); }
    };
    EXPECT_THROW(ccPelRoot<unsigned char>(new Throwing(&destroyed, 4, 4)), ccBadPointer);
    EXPECT_EQ(destroyed, 7);
    EXPECT_THROW(ccPelRoot<unsigned char>(static_cast<cc_PelPackage*>(nullptr)), ccBadPointer);

    // A package that answers only its size: stride = width, alignment 1.
    struct Sized : cc_PelPackage {
        int32_t width() const override { return 6; }
        int32_t height() const override { return 2; }
    };
    ccPelRoot<unsigned char> sized(new Sized);
    EXPECT_TRUE(sized.stride() == 6 && sized.alignment() == 1 && sized.dataStart() == nullptr);
}

// Pels of a caller or a pool are not the root's to give up or to load into.
TEST_F(PelRoot, OnlyARootThatAllocatedItsPelsReleasesThemAndPoolRootsGoBack)
{
    {
        fake_heap::FakeHeap heap;
        ccPelRoot<double> r(6, 2, 16);
        r.releaseStorage();
        EXPECT_TRUE(heap.live.empty());
        EXPECT_TRUE(r.rawBlock() == nullptr && r.dataStart() == nullptr);
        EXPECT_EQ(r.width() | r.height() | r.stride() | r.alignment(), 0);
    }

    unsigned char pels[10 * 3];
    ccPelRoot<unsigned char> overCaller(4, 3, 10, pels, 2);
    EXPECT_EQ(overCaller.rawBlock(), nullptr);
    overCaller.releaseStorage();
    EXPECT_TRUE(overCaller.dataStart() == pels && overCaller.width() == 4 && overCaller.height() == 3 &&
                overCaller.stride() == 10 && overCaller.alignment() == 2);
    std::vector<ccPackedRGB32Pel> arena(64);
    ccPelRoot<ccPackedRGB32Pel> overPool(5, 3, arena.data(), 8); // the stride of the rule
    EXPECT_TRUE(overPool.rawBlock() == nullptr && overPool.dataStart() == arena.data() && overPool.stride() == 6);

    const Bytes small = storeObject(*std::make_unique<ccPelRoot<unsigned char>>(1, 1, 1));
    fakes::Pool pool;
    ccPelRoot<unsigned char> pooled(2, 2, pels, 1);
    pooled.setPool(&pool);
    EXPECT_THROW(loadObject(small, pooled), ccInvariantFailure);
    EXPECT_EQ(pooled.dataStart(), pels);
    test_comm::Communicator c;
    ccPelRoot<unsigned char> remote(c.destination(), 0, 4, 4);
    EXPECT_THROW(loadObject(small, remote), ccInvariantFailure);
    const auto store = [&](ccArchive& ar) { EXPECT_THROW(ccArchiveObject(remote, ar, false), ccInvariantFailure); };
    EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, store).size(), 2u); // nothing after the header

    // The last release returns a pool root to its pool and destroys others.
    int destroyed = 0;
    auto* counted = new fakes::CountedRoot(&destroyed);
    counted->setPool(&pool);
    {
        ccPtrHandle<cc_PelRoot> a(counted);
        ccPtrHandle<ccPelRoot<unsigned char>> b(counted);
        EXPECT_EQ(counted->refCount(), 2);
    }
    EXPECT_TRUE(pool.back == std::vector<cc_PelRoot*>{counted} && destroyed == 0);
    { ccPtrHandle<ccPelRoot<unsigned char>> plain(new fakes::CountedRoot(&destroyed)); }
    EXPECT_EQ(destroyed, 1);
    counted->setPool(nullptr);
    cc_PelRoot::dispose(counted);
    EXPECT_EQ(destroyed, 2);
    cc_PelRoot::dispose(nullptr);
}

// Roots at a peer. How they count against it is the registry's (remote_test).
// The in-process board-module proxy answers closed, and holds no counts.
TEST_F(PelRoot, OnlyRootsAtAPeerHaveARecordAndGivingUpStorageGivesThePeerItsReferenceBack)
{
    test_comm::Communicator peer, proxy;
    proxy.closed = true;
    ccRemotePelRootRegistry& registry = ccRemotePelRootRegistry::instance();
    ccPelRoot<unsigned char> atPeer(peer.destination(), 5, 64, 48);
    ccPelRoot<unsigned char> atProxy(proxy.destination(), 5, 64, 48);
    ccPelRoot<unsigned char> noId(peer.destination(), 0, 64, 48);
    EXPECT_EQ(std::make_tuple(registry.registeredCount(atPeer), registry.registeredCount(atProxy),
                              registry.registeredCount(noId)),
              std::make_tuple(1, 0, 0));
    EXPECT_TRUE(atPeer.dataStart() == nullptr && atPeer.stride() == 0);
    EXPECT_THROW(ccPelRoot<unsigned char>(ccRPCDestination(), 5, 64, 48), ccInvariantFailure);
    EXPECT_THROW(ccPelRoot<unsigned char>(test_comm::goneDestination(), 5, 64, 48), ccRemoteObject::ObjectMismatch);

    // Giving up the storage, also to load in place, gives the peer back its
    // reference.
    ccPelRoot<unsigned char> held(proxy.destination(), 4, 8, 8);
    held.releaseStorage();
    EXPECT_TRUE(held.destination().isLocal() && held.remoteId() == 0 && held.width() == 0);
    // The pels of a package root, also behind the proxy, are the package's.
    int destroyed = 0;
    unsigned char pels[4];
    auto* package = new fakes::Package(&destroyed, 640, 480, 0, 1, pels);
    package->destination_ = proxy.destination();
    package->remoteId_ = 9;
    ccPelRoot<ccPackedRGB16Pel> overPackage(package);
    EXPECT_EQ(overPackage.dataStart(), nullptr); // the pels are behind the destination
    overPackage.releaseStorage();
    EXPECT_TRUE(overPackage.remoteId() == 9 && overPackage.destination() == proxy.destination() &&
                overPackage.width() == 640);

    test_pel::PelPeer counting;
    const uint32_t id = counting.addNumbered(8, 8);
    auto* remote = new ccPelRoot<unsigned char>(counting.destination(), id, 8, 8);
    ccPtrHandle<cc_PelRoot> a(remote), b(remote);
    test_bytes::load(cat({rootPrefix(3, 2, 4), {1, 2, 3, 4, 5, 6}}),
                     [&](ccArchive& ar) { ccArchiveObject(*remote, ar, true); });
    EXPECT_EQ(counting.changes(), (std::vector<std::string>{"+1 " + std::to_string(id), "-1 " + std::to_string(id)}));
    EXPECT_TRUE(remote->destination().isLocal() && remote->remoteId() == 0 && remote->stride() == 4);
    EXPECT_TRUE(remote->dataStart()[4 + 2] == 6 && remote->refCount() == 2);
}

// Three-plane roots, made of the roots of three 8-bit buffers.
typedef ccPelBuffer<unsigned char> Plane;
typedef ccPelRoot<cc3PlanePel> Root3;

TEST_F(PelRoot, ThreePlaneTakesOverThePlaneRootsAndTheirReferences)
{
    Plane p[3] = {Plane(640, 480, 32), Plane(640, 480, 32), Plane(640, 480, 32)};
    p[1].subWindow(1, 1, 2, 2); // the roots' data starts count, not the windows'
    ccPelRoot<unsigned char>* roots[3] = {&p[0].typedRoot(), &p[1].typedRoot(), &p[2].typedRoot()};
    ccPtrHandle<Root3> r(new Root3(p[0], p[1], p[2]));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(!p[i].isBound() && roots[i]->refCount() == 1) << i;
        EXPECT_TRUE(r->plane(i) == roots[i] && r->dataStart().plane[i] == roots[i]->dataStart()) << i;
    }
    EXPECT_EQ(r->plane(3), nullptr);
    EXPECT_TRUE(r->width() == 640 && r->stride() == 640 && r->alignment() == 32);
    EXPECT_NO_THROW(r->checkInvariants());
    EXPECT_THROW(Root3().checkInvariants(), ccInvariantFailure);
    const cc3PlanePel none = Root3().dataStart();
    for (uintptr_t i = 0; i < 3; ++i) // the plane numbers stand in for absent pels
        EXPECT_EQ(reinterpret_cast<uintptr_t>(none.plane[i]), i);

    ccPelBuffer<cc3PlanePel> b(r.rawPointer());
    EXPECT_TRUE(b.isWholeRoot() && b.rootRefCount() == 2);
    EXPECT_THROW(static_cast<cc_PelBuffer&>(b).bind(new ccPelRoot<unsigned char>(2, 2, 1)), ccPel::Unknown);

    // Giving up the storage lets go of the planes.
    int destroyed = 0;
    Plane c[3] = {Plane(new fakes::CountedRoot(&destroyed)), Plane(new fakes::CountedRoot(&destroyed)),
                  Plane(new fakes::CountedRoot(&destroyed))};
    Root3 released(c[0], c[1], c[2]);
    released.releaseStorage();
    EXPECT_EQ(destroyed, 3);
    EXPECT_TRUE(released.plane(0) == nullptr && released.dataStart().plane[0] == nullptr);
    EXPECT_EQ(released.width() | released.stride(), 0);

    // Every plane is read with plane 0's geometry; a refusal takes nothing.
    Plane m(8, 8, 4), n(8, 8, 4), unbound, smaller(8, 7, 4);
    unsigned char pels[16 * 8];
    Plane wider(new ccPelRoot<unsigned char>(8, 8, 16, pels, 4));
    EXPECT_THROW(Root3(m, n, unbound), ccPel::UnboundWindow);
    EXPECT_THROW(Root3(m, n, smaller), ccPel::BadWindow);
    EXPECT_THROW(Root3(m, wider, n), ccPel::BadWindow);
    EXPECT_TRUE(m.isBound() && n.isBound() && smaller.isBound() && wider.isBound());
}

// A three-plane buffer takes plane 0's window, image coordinates and
// transform, and hands out planes with them.
TEST_F(PelRoot, ThreePlaneBufferKeepsPlane0sPlacement)
{
    Plane p[3] = {Plane(ccPelRect(10, 20, 640, 480), 4), Plane(640, 480, 4), Plane(640, 480, 4)};
    p[0].setWindow(5, 6, 100, 50, false);
    p[0].setLinearClientXform(cc2Xform(cc2Matrix(2, 0, 0, 2), cc2Vect(0, 0)));
    cc_PelRoot* green = &p[1].root();
    cc3PlanePelBuffer colour(p[0], p[1], p[2]);
    EXPECT_EQ(colour.colorSpace(), 1);
    EXPECT_TRUE(colour.windowRect() == ccPelRect(5, 6, 100, 50) && colour.window() == ccPelRect(15, 26, 100, 50));
    EXPECT_EQ(colour.linearClientXform().matrix().a(), 2.0);
    const Plane g = colour.plane(1);
    EXPECT_TRUE(&g.root() == green && g.window() == colour.window() && g.linearClientXform().matrix().a() == 2.0);
    for (int other : {-1, 3}) {
        const Plane none = colour.plane(other);
        EXPECT_FALSE(none.isBound());
        EXPECT_EQ(none.windowOffset().x, 15);
        EXPECT_EQ(none.windowOffset().y, 26);
    }
    EXPECT_FALSE(cc3PlanePelBuffer().plane(0).isBound());
}

// Planes are stored as object pointers; a three-plane root referred to twice
// in one archive loads as one object. A loaded root is read with its own
// geometry, so geometry that its planes do not have is refused rather than
// believed; nor does a root without planes load as one with them.
TEST_F(PelRoot, ThreePlaneRoundTripsWithItsPlanesAndRefusesOtherGeometry)
{
    Plane p[3] = {Plane(3, 2, 4), Plane(3, 2, 4), Plane(3, 2, 4)};
    for (int i = 0; i < 3; ++i)
        *p[i].pel(2, 1) = uint8_t(10 + i);
    Root3 r(p[0], p[1], p[2]), empty;
    const std::vector<ccPersistent*> back = fakes::loadPointers(fakes::storePointers({&r, &r}), 2);
    ccPtrHandle<Root3> loaded(dynamic_cast<Root3*>(back[0]));
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(back[1] == back[0] && loaded->stride() == 4);
    for (int i = 0; i < 3; ++i) {
        auto* plane = static_cast<ccPelRoot<unsigned char>*>(loaded->plane(i));
        ASSERT_NE(plane, nullptr);
        EXPECT_EQ(loaded->dataStart().plane[i], plane->dataStart());
        EXPECT_TRUE(plane->dataStart()[1 * plane->stride() + 2] == 10 + i && plane->refCount() == 1);
    }

    const test_bytes::Bytes bytes = fakes::storePointers({&r});
    // The outer root's width, height and alignment come before its planes'.
    const unsigned char geometry[12] = {3, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0};
    const auto at = std::search(bytes.begin(), bytes.end(), geometry, geometry + 12) - bytes.begin();
    ASSERT_LT(size_t(at), bytes.size());
    const auto load = [](const test_bytes::Bytes& stored) {
        ccPtrHandle<Root3> held(dynamic_cast<Root3*>(fakes::loadPointers(stored)[0]));
        return held->width();
    };
    const auto patched = [&](unsigned char width, unsigned char height) {
        test_bytes::Bytes b = bytes;
        b[at] = width;
        b[at + 4] = height;
        return b;
    };
    EXPECT_EQ(load(patched(3, 2)), 3);
    EXPECT_THROW(load(patched(3, 1)), ccArchive::BadContent);
    EXPECT_THROW(load(patched(4, 2)), ccArchive::BadContent); // same stride, wider rows
    EXPECT_THROW(load(fakes::storePointers({&empty})), ccArchive::BadContent);
}

} // namespace
