#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/support/bytes.h"

namespace {

typedef ccPelBuffer<unsigned char> Plane;
typedef ccPelRoot<cc3PlanePel> Root3;

class ThreePlaneRoot : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
};

TEST_F(ThreePlaneRoot, TakesOverThePlaneRootsAndTheirReferences)
{
    Plane p[3] = {Plane(640, 480, 32), Plane(640, 480, 32), Plane(640, 480, 32)};
    p[1].subWindow(1, 1, 2, 2); // the roots' data starts count, not the windows'
    ccPelRoot<unsigned char>* roots[3] = {&p[0].typedRoot(), &p[1].typedRoot(), &p[2].typedRoot()};
    ccPtrHandle<Root3> r(new Root3(p[0], p[1], p[2]));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(p[i].isBound());
        EXPECT_EQ(roots[i]->refCount(), 1);
        EXPECT_EQ(r->plane(i), roots[i]);
        EXPECT_EQ(r->dataStart().plane[i], roots[i]->dataStart());
    }
    EXPECT_EQ(r->plane(3), nullptr);
    EXPECT_EQ(r->width(), 640);
    EXPECT_EQ(r->stride(), 640);
    EXPECT_EQ(r->alignment(), 32);
    EXPECT_NO_THROW(r->checkInvariants());
    EXPECT_THROW(Root3().checkInvariants(), ccInvariantFailure);

    ccPelBuffer<cc3PlanePel> b(r.rawPointer());
    EXPECT_TRUE(b.isWholeRoot());
    EXPECT_EQ(b.rootRefCount(), 2);
    cc_PelBuffer& base = b;
    EXPECT_THROW(base.bind(new ccPelRoot<unsigned char>(2, 2, 1)), ccPel::Unknown);
}

TEST_F(ThreePlaneRoot, RefusesBeforeTakingAnything)
{
    Plane a(8, 8, 4), b(8, 8, 4), unbound;
    EXPECT_THROW(Root3(a, b, unbound), ccPel::UnboundWindow);
    EXPECT_TRUE(a.isBound() && b.isBound());

    // Every plane is read with plane 0's geometry.
    Plane smaller(8, 7, 4);
    EXPECT_THROW(Root3(a, b, smaller), ccPel::BadWindow);
    unsigned char pels[16 * 8];
    Plane wider(new ccPelRoot<unsigned char>(8, 8, 16, pels, 4));
    EXPECT_THROW(Root3(a, wider, b), ccPel::BadWindow);
    EXPECT_TRUE(a.isBound() && b.isBound() && smaller.isBound() && wider.isBound());
}

TEST_F(ThreePlaneRoot, ReleaseStorageLetsGoOfThePlanes)
{
    int destroyed = 0;
    Plane p0(new fakes::CountedRoot(&destroyed)), p1(new fakes::CountedRoot(&destroyed)),
        p2(new fakes::CountedRoot(&destroyed));
    Root3 r(p0, p1, p2);
    r.releaseStorage();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(r.plane(0), nullptr);
    EXPECT_EQ(r.dataStart().plane[0], nullptr);
    EXPECT_EQ(r.width() | r.stride(), 0);
}

// Planes are stored as object pointers; a three-plane root referred to twice
// in one archive loads as one object.
TEST_F(ThreePlaneRoot, RoundTripsWithItsPlanes)
{
    Plane p[3] = {Plane(3, 2, 4), Plane(3, 2, 4), Plane(3, 2, 4)};
    for (int i = 0; i < 3; ++i)
        *p[i].pel(2, 1) = uint8_t(10 + i);
    Root3 r(p[0], p[1], p[2]);

    const test_bytes::Bytes bytes = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, static_cast<const ccPersistent*>(&r), unused);
        archivePointer(ar, static_cast<const ccPersistent*>(&r), unused);
    });
    ccPersistent* first = nullptr;
    ccPersistent* second = nullptr;
    test_bytes::load(bytes, [&](ccArchive& ar) {
        archivePointer(ar, nullptr, first);
        archivePointer(ar, nullptr, second);
    });
    ccPtrHandle<Root3> loaded(dynamic_cast<Root3*>(first));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(second, first);
    EXPECT_EQ(loaded->stride(), 4);
    for (int i = 0; i < 3; ++i) {
        auto* plane = static_cast<ccPelRoot<unsigned char>*>(loaded->plane(i));
        ASSERT_NE(plane, nullptr);
        EXPECT_EQ(loaded->dataStart().plane[i], plane->dataStart());
        EXPECT_EQ(plane->dataStart()[1 * plane->stride() + 2], 10 + i);
        EXPECT_EQ(plane->refCount(), 1);
    }
}

// A loaded root is read with its own geometry, so geometry that its planes
// do not have is refused rather than believed.
TEST_F(ThreePlaneRoot, LoadingRefusesGeometryItsPlanesDoNotHave)
{
    Plane p[3] = {Plane(3, 2, 4), Plane(3, 2, 4), Plane(3, 2, 4)};
    Root3 r(p[0], p[1], p[2]);
    const test_bytes::Bytes bytes = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, static_cast<const ccPersistent*>(&r), unused);
    });
    // The outer root's width, height and alignment come before its planes'.
    const unsigned char geometry[12] = {3, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0};
    auto at = std::search(bytes.begin(), bytes.end(), geometry, geometry + 12) - bytes.begin();
    ASSERT_LT(size_t(at), bytes.size());
    const auto loadPatched = [&](unsigned char width, unsigned char height) {
        test_bytes::Bytes patched = bytes;
        patched[at] = width;
        patched[at + 4] = height;
        ccPersistent* loaded = nullptr;
        test_bytes::load(patched, [&](ccArchive& ar) { archivePointer(ar, nullptr, loaded); });
        ccPtrHandle<Root3> held(dynamic_cast<Root3*>(loaded));
        return held;
    };
    EXPECT_EQ(loadPatched(3, 2)->width(), 3);
    EXPECT_THROW(loadPatched(200, 200), ccArchive::BadContent);
    EXPECT_THROW(loadPatched(3, 1), ccArchive::BadContent);
    EXPECT_THROW(loadPatched(4, 2), ccArchive::BadContent); // same stride, wider rows

    // Nor does a root without planes load as one with them.
    Root3 empty;
    const test_bytes::Bytes none = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, static_cast<const ccPersistent*>(&empty), unused);
    });
    ccPersistent* loaded = nullptr;
    EXPECT_THROW(test_bytes::load(none, [&](ccArchive& ar) { archivePointer(ar, nullptr, loaded); }),
                 ccArchive::BadContent);
    ccPtrHandle<Root3> held(dynamic_cast<Root3*>(loaded));
}

} // namespace
