#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/std/rpc/loopback.h"
#include "tests/support/bytes.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;

Bytes storeObject(ccPersistent& object, int32_t order = ccArchive::littleEndian)
{
    return test_bytes::store(order, [&](ccArchive& ar) { ccArchiveObject(object, ar, false); });
}

void loadObject(const Bytes& bytes, ccPersistent& object)
{
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(object, ar, false); });
}

Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// Header, the three level versions, width, height, alignment, flags.
Bytes rootPrefix(int32_t w, int32_t h, int32_t a, uint32_t flags = 0)
{
    return cat({{0x02, 0x01, 0x00, 0x00, 0x00}, u32(w), u32(h), u32(a), u32(flags)});
}

class RootArchive : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

TEST_F(RootArchive, SmallRootMatchesTheGoldenBytesAndKeepsItsStride)
{
    ccPelRoot<unsigned char> r(3, 2, 32);
    ASSERT_EQ(r.stride(), 32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            r.dataStart()[y * 32 + x] = uint8_t(1 + 3 * y + x);
    // The padding between width and stride is not stored.
    const Bytes golden = cat({rootPrefix(3, 2, 32), {1, 2, 3, 4, 5, 6}});
    EXPECT_EQ(storeObject(r), golden);

    ccPelRoot<unsigned char> loaded;
    loadObject(golden, loaded);
    EXPECT_EQ(loaded.stride(), 32);
    EXPECT_EQ(loaded.alignment(), 32);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(loaded.dataStart()) % 32, 0u);
    EXPECT_EQ(loaded.dataStart()[32 + 2], 6);
    EXPECT_NO_THROW(loaded.checkInvariants());
}

// Distinct values that use every byte of the pel, signs included.
template <class T>
T sample(int i)
{
    if constexpr (std::is_same_v<T, ccPackedRGB16Pel>)
        return T{uint16_t(0xF800 + i)};
    else if constexpr (std::is_same_v<T, ccPackedRGB32Pel>)
        return T{0xFF102030u + uint32_t(i)};
    else if constexpr (std::is_same_v<T, double>)
        return -1.5 * i + 1e-3;
    else if constexpr (std::is_signed_v<T>)
        return T(-1 - i * 3);
    else
        return T(~T(0) - T(i));
}

template <class T>
bool samePel(const T& a, const T& b)
{
    if constexpr (std::is_class_v<T>)
        return a.value == b.value;
    else
        return a == b;
}

template <class T>
class TypedRootArchive : public RootArchive {};
typedef ::testing::Types<unsigned char, signed char, unsigned short, short, uint32_t, int32_t, double,
                         ccPackedRGB16Pel, ccPackedRGB32Pel>
    PelTypes;
TYPED_TEST_SUITE(TypedRootArchive, PelTypes);

// Stored as one object through a pointer (type record, then contents) in
// either byte order, and loaded by the registry from its stored name.
TYPED_TEST(TypedRootArchive, RoundTripsThroughItsTypeRecordInBothByteOrders)
{
    typedef TypeParam T;
    const int32_t w = 5, h = 3, a = 8;
    // Made by loading: the signed 8-bit root has no other way to get pels.
    ccPelRoot<T> root;
    loadObject(cat({rootPrefix(w, h, a), Bytes(size_t(w * h) * sizeof(T), 0)}), root);
    ASSERT_EQ(root.stride(), int32_t(w + cc_PelRoot::stridePad(w, sizeof(T), a)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            root.dataStart()[y * root.stride() + x] = sample<T>(y * w + x);

    // Only width * height pels are stored.
    EXPECT_EQ(storeObject(root).size(), rootPrefix(w, h, a).size() + size_t(w * h) * sizeof(T));

    for (int32_t order : {ccArchive::littleEndian, ccArchive::bigEndian}) {
        const Bytes bytes = test_bytes::store(order, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, static_cast<const ccPersistent*>(&root), unused);
        });
        ccPersistent* loaded = nullptr;
        test_bytes::load(bytes, [&](ccArchive& ar) { archivePointer(ar, nullptr, loaded); });
        std::unique_ptr<ccPersistent> owned(loaded);
        auto* back = dynamic_cast<ccPelRoot<T>*>(loaded);
        ASSERT_NE(back, nullptr) << ccPelRoot<T>::kStoredName;
        EXPECT_EQ(back->width(), w);
        EXPECT_EQ(back->height(), h);
        EXPECT_EQ(back->stride(), root.stride());
        EXPECT_TRUE(back->destination().isLocal());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_TRUE(samePel(back->dataStart()[y * back->stride() + x], sample<T>(y * w + x)));
    }
}

TYPED_TEST(TypedRootArchive, FlagsAnnounceExtraPelsThatAreSkipped)
{
    typedef TypeParam T;
    const Bytes extra(sizeof(T), 0xEE);
    const Bytes pels = cat({Bytes(sizeof(T), 0x11), Bytes(sizeof(T), 0x22)});
    for (uint32_t flags : {2u, 4u, 6u}) {
        ccPelRoot<T> root;
        loadObject(cat({rootPrefix(2, 1, 1, flags), flags == 6 ? cat({extra, extra}) : extra, pels}), root);
        EXPECT_EQ(std::memcmp(root.dataStart(), pels.data(), pels.size()), 0) << flags;
    }
    ccPelRoot<T> root;
    EXPECT_THROW(loadObject(cat({rootPrefix(2, 1, 1, 6), extra, pels}), root), ccArchive::Eof);
}

TEST_F(RootArchive, CorruptGeometryIsRefusedBeforeAllocating)
{
    fakes::FencedHeap heap;
    ccPelRoot<unsigned char> r;
    EXPECT_THROW(loadObject(rootPrefix(3, 2, 0), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(-3, 2, 1), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(3, -2, 1), r), ccArchive::BadContent);
    EXPECT_THROW(loadObject(rootPrefix(65536, 65536, 1), r), std::bad_alloc); // 2^32 bytes
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_EQ(r.width() | r.height() | r.alignment(), 0);
    EXPECT_THROW(loadObject(cat({rootPrefix(3, 2, 1), {1, 2, 3, 4, 5}}), r), ccArchive::Eof);
}

TEST_F(RootArchive, AnEmptyRootRoundTrips)
{
    ccPelRoot<double> empty;
    const Bytes bytes = storeObject(empty);
    EXPECT_EQ(bytes, rootPrefix(0, 0, 0));
    ccPelRoot<double> loaded(4, 4, 8);
    loadObject(bytes, loaded); // its old block is freed (LeakSanitizer)
    EXPECT_EQ(loaded.dataStart(), nullptr);
    EXPECT_EQ(loaded.rawBlock(), nullptr);
}

TEST_F(RootArchive, RootsWhosePelsAreNotTheirOwnAreNotStoredOrLoadedInPlace)
{
    loopback::Communicator c;
    ccPelRoot<unsigned char> remote(c.destination(), 0, 4, 4);
    std::stringbuf sb;
    {
        ccArchive ar(&sb, ccArchive::storing, ccArchive::littleEndian, false);
        ar.archiveHeader();
        EXPECT_THROW(ccArchiveObject(remote, ar, false), ccInvariantFailure);
    }
    EXPECT_EQ(sb.str().size(), 2u); // nothing after the header

    ccPelRoot<unsigned char> small(1, 1, 1);
    const Bytes bytes = storeObject(small);
    EXPECT_THROW(loadObject(bytes, remote), ccInvariantFailure);
    fakes::Pool pool;
    unsigned char arena[4];
    ccPelRoot<unsigned char> pooled(2, 2, arena, 1);
    pooled.setPool(&pool);
    EXPECT_THROW(loadObject(bytes, pooled), ccInvariantFailure);
    EXPECT_EQ(pooled.dataStart(), arena);
}

// Loading in place first gives up the root's storage: a root at a peer
// gives the peer back its references and holds the loaded pels here.
TEST_F(RootArchive, LoadingInPlaceIntoARootAtAPeerReturnsItsReferencesFirst)
{
    loopback::Communicator peer;
    fakes::Protocol protocol;
    auto* remote = new ccPelRoot<unsigned char>(peer.destination(), 6, 8, 8);
    ccPtrHandle<cc_PelRoot> a(remote), b(remote);
    protocol.sent.clear();
    const Bytes bytes = cat({rootPrefix(3, 2, 4), {1, 2, 3, 4, 5, 6}});
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(*remote, ar, true); });
    EXPECT_EQ(protocol.sent, (std::vector<fakes::Protocol::Change>{{peer.destination().id(), 6, -2}}));
    EXPECT_TRUE(remote->destination().isLocal());
    EXPECT_EQ(remote->remoteId(), 0u);
    EXPECT_EQ(remote->stride(), 4);
    EXPECT_EQ(remote->dataStart()[4 + 2], 6);
    EXPECT_EQ(remote->refCount(), 2);
}

// A root changed after it was stored is stored in full again, not as a
// reference to the earlier record.
TEST_F(RootArchive, AModifiedRootIsStoredAgain)
{
    ccPelRoot<unsigned char> r(4, 4, 1);
    std::vector<size_t> sizes;
    test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        std::stringbuf* sb = static_cast<std::stringbuf*>(ar.streamBuffer());
        for (int i = 0; i < 3; ++i) {
            const size_t before = sb->str().size();
            archivePointer(ar, static_cast<const ccPersistent*>(&r), unused);
            sizes.push_back(sb->str().size() - before);
            if (i == 1)
                r.markModified();
        }
    });
    EXPECT_LT(sizes[1], sizes[0]);
    EXPECT_EQ(sizes[2], sizes[0]);
}

} // namespace
