#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <streambuf>
#include <string>
#include <tuple>
#include <utility>
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

typedef ccPelRoot<unsigned char> Root8;

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

template <class T>
class TypedRootArchive : public PelRoot {};
typedef ::testing::Types<unsigned char, signed char, unsigned short, short, uint32_t, int32_t, double,
                         ccPackedRGB16Pel, ccPackedRGB32Pel>
    PelTypes;
TYPED_TEST_SUITE(TypedRootArchive, PelTypes);

// Loaded by the registry from its stored name, in either byte order. Every
// pel byte differs, and many have the sign bit set, so a byte lost or moved
// on the way shows; only width x height pels are stored, in rows of the
// stride of the rule: bytes are added a pel at a time until the row ends on
// the alignment.
TYPED_TEST(TypedRootArchive, RoundTripsInBothByteOrdersAndSkipsThePelsFlagsAnnounce)
{
    typedef TypeParam T;
    const int32_t w = 5, h = 3;
    Bytes pels(h * w * sizeof(T));
    for (size_t i = 0; i < pels.size(); ++i)
        pels[i] = uint8_t(0x85 + 37 * i);
    const Bytes stored = cat({rootPrefix(w, h, 8), pels});
    ccPelRoot<T> root;
    loadObject(stored, root);
    const int32_t strides[] = {0, 8, 8, 0, 6, 0, 0, 0, 5}; // by pel size, for 5 pels aligned on 8 bytes
    ASSERT_EQ(root.stride(), strides[sizeof(T)]);
    EXPECT_EQ(std::memcmp(root.dataStart() + 2 * root.stride(), &pels[2 * w * sizeof(T)], w * sizeof(T)), 0);
    for (int32_t order : {ccArchive::littleEndian, ccArchive::bigEndian}) {
        std::unique_ptr<ccPersistent> back(fakes::loadPointer(fakes::storePointer(root, order)));
        ASSERT_NE(dynamic_cast<ccPelRoot<T>*>(back.get()), nullptr);
        EXPECT_EQ(storeObject(*back), stored) << order;
    }

    // Bits 2 and 4 of the flags each announce one pel that is skipped.
    const Bytes extra(sizeof(T), 0xEE);
    const Bytes two = cat({Bytes(sizeof(T), 0x11), Bytes(sizeof(T), 0x22)});
    ccPelRoot<T> r;
    loadObject(cat({rootPrefix(2, 1, 1, 6), extra, extra, two}), r);
    EXPECT_EQ(std::memcmp(r.dataStart(), two.data(), two.size()), 0);
    EXPECT_THROW(loadObject(cat({rootPrefix(2, 1, 1, 6), extra, two}), r), ccArchive::Eof);
}

// Whatever alignment is asked, also one that is not a multiple of the pel
// size, the pels lie on a multiple of both, wherever the heap puts the
// block; the root reports the alignment it was asked, and rows follow the
// stride rule for it.
TYPED_TEST(TypedRootArchive, PelsAlignedForTheirTypeWhateverTheAlignment)
{
    typedef TypeParam T;
    fake_heap::FakeHeap heap;
    const Bytes pels(3 * 2 * sizeof(T), 0x5A);
    for (int32_t a : {1, 2, 3, 5, 6, 7, 12, 20, 33}) {
        for (size_t shift = 0; shift < 64; ++shift) {
            std::vector<std::unique_ptr<ccPelRoot<T>>> roots;
            heap.shift = shift;
            roots.push_back(std::make_unique<ccPelRoot<T>>());
            loadObject(cat({rootPrefix(3, 2, a), pels}), *roots.back());
            if constexpr (ccPelTraits<T>::allocates) {
                heap.shift = shift;
                roots.push_back(std::make_unique<ccPelRoot<T>>(3, 2, a));
            }
            for (const auto& r : roots) {
                const auto at = reinterpret_cast<uintptr_t>(r->dataStart());
                ASSERT_TRUE(at % alignof(T) == 0 && at % a == 0) << a << " " << shift;
                EXPECT_TRUE(r->alignment() == a && r->stride() * sizeof(T) % a == 0) << a;
            }
            EXPECT_EQ(std::memcmp(roots[0]->dataStart() + roots[0]->stride(), pels.data(), 3 * sizeof(T)), 0);
        }
    }
}

// A block is rows times stride plus the slack to round its start up to a
// multiple of the alignment and of the pel size; giving up the storage
// frees it, and so does loading an empty root, stored as its empty geometry. Sizes are computed in 64 bits: a product that would wrap in 32
// bits to a small block is an allocation failure. Bad geometry, made or
// loaded, reaches no heap; nor do pels that the archive does not hold, or
// row padding and slack out of all proportion to the pels stored. Roots
// made here of narrow shapes with wide alignments load back as stored.
TEST_F(PelRoot, BlockSizesAndGeometryRefusedBeforeAllocating)
{
    for (auto [w, h, a] : {std::tuple(1, 40000, 64), std::tuple(1, 300, 4096), std::tuple(3, 70000, 32)}) {
        Root8 made(w, h, a), back;
        const Bytes stored = storeObject(made);
        loadObject(stored, back);
        EXPECT_EQ(storeObject(back), stored) << w << " " << h << " " << a;
    }

    fake_heap::FakeHeap heap;
    ccPelRoot<unsigned short> empty, refilled(5, 3, 8), given(1, 1, 1);
    EXPECT_EQ(heap.sizes, (std::vector<size_t>{3 * 8 * 2 + 7, 2 + 1}));
    EXPECT_EQ(storeObject(empty), rootPrefix(0, 0, 0));
    loadObject(rootPrefix(0, 0, 0), refilled);
    given.releaseStorage();
    EXPECT_TRUE(heap.live.empty() && refilled.dataStart() == nullptr && given.dataStart() == nullptr);
    EXPECT_EQ(given.width() | given.height() | given.stride() | given.alignment(), 0);
    heap.sizes.clear();

    EXPECT_THROW(ccPelRoot<unsigned short>(1 << 30, 2, 1), std::bad_alloc);   // 2^32 bytes
    EXPECT_THROW(ccPelRoot<double>(INT32_MAX, INT32_MAX, 8), std::bad_alloc); // past 2^63
    EXPECT_THROW(Root8(INT32_MAX, 1, 32), std::bad_alloc);                    // stride past 2^31
    for (auto [w, h, a] : {std::tuple(-1, 4, 1), std::tuple(4, -1, 1), std::tuple(4, 4, 0)})
        EXPECT_THROW(Root8(w, h, a), ccInvariantFailure) << w << " " << h << " " << a;
    Root8 r;
    heap.failFrom = heap.requests; // what reached the heap would fail
    for (const Bytes& bad : {rootPrefix(3, 2, 0), rootPrefix(-3, 2, 1), rootPrefix(3, -2, 1),
                             rootPrefix(0, 0, 1 << 30), cat({rootPrefix(1, 1, 1 << 28), {7}}),
                             cat({rootPrefix(2, 4096, 4096), Bytes(2 * 4096, 7)})})
        EXPECT_THROW(loadObject(bad, r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(65536, 65536, 1), r), ccArchive::Eof); // 2^32 bytes
    ccPelRoot<double> d;
    EXPECT_THROW(loadObject(cat({rootPrefix(1000, 1000, 8), Bytes(8 * 1000 * 1000 - 1, 7)}), d), ccArchive::Eof);
    EXPECT_TRUE(heap.requests == heap.failFrom && (r.width() | r.height() | r.alignment() | d.width()) == 0);
}

// A stream that cannot be positioned, as a peer's: it cannot tell how much
// it still holds.
class Unpositioned : public std::streambuf {
public:
    explicit Unpositioned(Bytes bytes) : bytes_(std::move(bytes))
    {
        char* p = reinterpret_cast<char*>(bytes_.data());
        setg(p, p, p + bytes_.size());
    }

private:
    Bytes bytes_;
};

void loadUnpositioned(const Bytes& bytes, ccPersistent& object)
{
    Unpositioned in(bytes);
    ccArchive ar(&in, ccArchive::loading, ccArchive::littleEndian, false);
    ar.archiveHeader();
    ccArchiveObject(object, ar, false);
}

// Without knowing what the stream holds, a loaded root's block grows as its
// pels arrive, wherever the heap moves it: a huge claim over a few bytes
// asks for little, and leaves the root empty. A root that is all there
// loads whole, in the block of the rule.
TEST_F(PelRoot, PelsOfAStreamThatCannotTellAreReadIntoAGrowingBlock)
{
    fake_heap::FakeHeap heap;
    heap.shiftStep = 20; // each block at another remainder
    Root8 r;
    EXPECT_THROW(loadUnpositioned(cat({rootPrefix(1 << 13, 1 << 13, 1), Bytes(100, 7)}), r), ccArchive::Eof);
    EXPECT_TRUE(heap.live.empty() && r.dataStart() == nullptr && (r.width() | r.height() | r.stride()) == 0);
    EXPECT_LT(*std::max_element(heap.sizes.begin(), heap.sizes.end()), size_t{1} << 20);

    const int32_t w = 100, h = 300, a = 24;
    ccPelRoot<double> source(w, h, a), loaded;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            source.dataStart()[y * source.stride() + x] = y * 1000.0 + x;
    heap.sizes.clear();
    loadUnpositioned(storeObject(source), loaded);
    EXPECT_GT(heap.sizes.size(), 1u);
    EXPECT_EQ(heap.sizes.back(), heap.live.at(loaded.rawBlock()));
    EXPECT_EQ(heap.sizes.back(), size_t{1} * h * source.stride() * sizeof(double) + a - 1);
    ASSERT_EQ(loaded.stride(), source.stride());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(loaded.dataStart()) % a, 0u);
    for (int32_t y = 0; y < h; ++y)
        ASSERT_EQ(std::memcmp(loaded.dataStart() + y * loaded.stride(), source.dataStart() + y * source.stride(),
                              w * sizeof(double)),
                  0)
            << y;
}

// Each kind of root. Pels are addressed with a package's geometry, so one
// that cannot hold together is refused. The root owns the package from the call on: a
// refused package, or one that throws while it is read, is still deleted.
// Pels of a package or a pool are not the root's to give up or to load into.
TEST_F(PelRoot, InvariantsOfEachKindOfRootAndPackagesAreOwned)
{
    EXPECT_THROW(Root8().checkInvariants(), ccInvariantFailure); // no data start
    unsigned char pels[100] = {};
    EXPECT_NO_THROW(Root8(4, 3, 10, pels, 1).checkInvariants());
    EXPECT_THROW(Root8(11, 3, 10, pels, 1), ccInvariantFailure); // stride below width
    test_comm::Communicator c;
    EXPECT_THROW(Root8(c.destination(), 0, 0, 8).checkInvariants(), ccInvariantFailure); // a peer's, of no size

    int destroyed = 0;
    const auto make = [&](int32_t w, int32_t h, int32_t stride, int32_t alignment) {
        return std::make_unique<Root8>(new fakes::Package(&destroyed, w, h, stride, alignment, pels));
    };
    {
        auto r = make(10, 4, 16, 16);
        r->releaseStorage();
        EXPECT_TRUE(r->package() && r->dataStart() == pels && r->stride() == 16 && r->alignment() == 16);
    }
    EXPECT_THROW(make(100, 10, 10, 1), ccInvariantFailure); // rows overlap
    EXPECT_NO_THROW(make(10, 10, 10, 1));
    struct Throwing : fakes::Package {
        using fakes::Package::Package;
        int32_t height() const override { throw ccBadPointer(); }
    };
    EXPECT_THROW(Root8(new Throwing(&destroyed, 4, 4)), ccBadPointer);
    EXPECT_EQ(destroyed, 4);
    EXPECT_THROW(Root8(static_cast<cc_PelPackage*>(nullptr)), ccBadPointer);

    const Bytes small = storeObject(*std::make_unique<Root8>(1, 1, 1));
    fakes::Pool pool;
    Root8 pooled(3, 2, pels, 4), remote(c.destination(), 0, 4, 4); // the stride of the rule
    pooled.setPool(&pool);
    pooled.releaseStorage();
    EXPECT_THROW(loadObject(small, pooled), ccInvariantFailure);
    EXPECT_THROW(loadObject(small, remote), ccInvariantFailure);
    EXPECT_TRUE(pooled.dataStart() == pels && pooled.stride() == 4);

    // Roots at a peer (how they count against it is the registry's): the
    // in-process board-module proxy answers closed, and keeps no record; a
    // destination that has gone is refused. Loading in place gives up the
    // storage first, and with it the peer's reference.
    test_comm::Communicator proxy;
    proxy.closed = true;
    Root8 atProxy(proxy.destination(), 5, 64, 48);
    EXPECT_EQ(ccRemotePelRootRegistry::instance().registeredCount(atProxy), 0);
    EXPECT_THROW(Root8(test_comm::goneDestination(), 5, 64, 48), ccRemoteObject::ObjectMismatch);
    test_pel::PelPeer peer;
    const uint32_t id = peer.addNumbered(8, 8);
    auto* atPeer = new Root8(peer.destination(), id, 8, 8);
    ccPtrHandle<cc_PelRoot> a(atPeer), b(atPeer);
    test_bytes::load(cat({rootPrefix(3, 2, 4), {1, 2, 3, 4, 5, 6}}),
                     [&](ccArchive& ar) { ccArchiveObject(*atPeer, ar, true); });
    EXPECT_EQ(peer.changes(), (std::vector<std::string>{"+1 " + std::to_string(id), "-1 " + std::to_string(id)}));
    EXPECT_TRUE(atPeer->destination().isLocal() && !atPeer->remoteId() && atPeer->dataStart()[4 + 2] == 6);
    EXPECT_EQ(atPeer->refCount(), 2);
}

// Three-plane roots, made of the roots of three 8-bit buffers.
typedef ccPelBuffer<unsigned char> Plane;
typedef ccPelRoot<cc3PlanePel> Root3;

// A three-plane buffer takes over the roots of three 8-bit buffers, leaving
// them unbound, and takes plane 0's window and image coordinates. Every plane
// is read with plane 0's geometry: a refusal takes nothing. Planes are stored
// as object pointers; a loaded root is read with its own geometry, so
// geometry that its planes do not have is refused rather than believed; nor
// does a root without planes load as one with them, but as one without.
TEST_F(PelRoot, ThreePlaneRootsHoldPlanesOfOneGeometryAndLoadOnlyWithIt)
{
    Plane p[3] = {Plane(ccPelRect(10, 20, 3, 2), 4), Plane(3, 2, 4), Plane(3, 2, 4)};
    for (int i = 0; i < 3; ++i)
        p[i].typedRoot().dataStart()[1 * 4 + 2] = uint8_t(10 + i);
    p[0].setWindow(1, 1, 2, 1, false);
    const Root8* green = &p[1].typedRoot();
    cc3PlanePelBuffer colour(p[0], p[1], p[2]);
    EXPECT_TRUE(!p[0].isBound() && !p[1].isBound() && !p[2].isBound() && green->refCount() == 1);
    EXPECT_TRUE(&colour.plane(1).root() == green && colour.plane(1).window() == ccPelRect(11, 21, 2, 1));

    Root3& r = colour.typedRoot();
    Root3 empty;
    const Bytes bytes = fakes::storePointer(r);
    const auto load = [](const Bytes& stored) {
        return ccPtrHandle<Root3>(dynamic_cast<Root3*>(fakes::loadPointer(stored)));
    };
    const ccPtrHandle<Root3> loaded = load(bytes);
    ASSERT_TRUE(loaded && loaded->stride() == 4);
    for (int i = 0; i < 3; ++i) {
        const unsigned char* pels = loaded->dataStart().plane[i];
        ASSERT_TRUE(pels && pels == static_cast<Root8*>(loaded->plane(i))->dataStart()) << i;
        EXPECT_EQ(pels[1 * 4 + 2], 10 + i);
    }
    // The outer root's width, height and alignment come before its planes'.
    const unsigned char geometry[12] = {3, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0};
    const auto at = std::search(bytes.begin(), bytes.end(), geometry, geometry + 12) - bytes.begin();
    for (auto [width, height] : {std::pair(3, 1), std::pair(4, 2)}) { // (4, 2): same stride, wider rows
        Bytes b = bytes;
        b.at(at) = uint8_t(width);
        b.at(at + 4) = uint8_t(height);
        EXPECT_THROW(load(b), ccArchive::BadContent) << width << " " << height;
    }
    Bytes planeless = fakes::storePointer(empty);
    planeless.at(at) = 3, planeless.at(at + 4) = 2, planeless.at(at + 8) = 4;
    EXPECT_THROW(load(planeless), ccArchive::BadContent);
    r.releaseStorage(); // lets go of the planes
    EXPECT_TRUE(r.plane(0) == nullptr && r.dataStart().plane[0] == nullptr);
    // A root without planes, made so or emptied, loads as one.
    for (const Root3* none : {&empty, &r}) {
        const ccPtrHandle<Root3> back = load(fakes::storePointer(*none));
        ASSERT_TRUE(back);
        EXPECT_TRUE(back->width() == 0 && back->stride() == 0 && back->plane(0) == nullptr &&
                    back->dataStart().plane[2] == reinterpret_cast<unsigned char*>(2));
    }

    Plane m(8, 8, 4), n(8, 8, 4), unbound;
    unsigned char pels[16 * 8];
    Plane wider(new Root8(8, 8, 16, pels, 4));
    EXPECT_THROW(Root3(m, n, unbound), ccPel::UnboundWindow);
    EXPECT_THROW(Root3(m, wider, n), ccPel::BadWindow);
    EXPECT_TRUE(m.isBound() && n.isBound() && wider.isBound());
}

} // namespace
