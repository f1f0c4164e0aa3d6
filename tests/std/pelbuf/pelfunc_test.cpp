#include "std/pelbuf/pelfunc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "std/except/status.h"
#include "std/pelbuf/startup.h"
#include "system/csys_cpu_testing.h"
#include "tests/std/pelbuf/pel_peer.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;
typedef ccPelRoot<unsigned char> Root8;

// Makes the effective processor description one of this class and these features.
void pretend(int32_t cpuClass, uint32_t features)
{
    csysCpuInfo info{};
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    info.cpuClass = cpuClass;
    info.features = features;
    ASSERT_EQ(csys_overrideCpuInfo(&info), csysOk);
}

TEST(PelFuncCpuLevel, GenerationAndMmxMakeTheLevel)
{
    const struct { int32_t cpuClass, generation; uint32_t features, level; } rows[] = {
        {1, 2, csysCpuMmx, 0x1003}, {1, 2, 0, 3}, {5, 1, csysCpuMmx | csysCpuSse, 0x1002}, {1, 3, 0, 5},
        {1, 4, csysCpuMmx, 0x1005}, {0, 2, csysCpuMmx, 3}, /* not an x86: no MMX */ {1, 0, 0, 0},
    };
    for (const auto& r : rows) {
        csysCpuInfo info{};
        info.cpuClass = r.cpuClass;
        info.generation = r.generation;
        info.features = r.features;
        EXPECT_EQ(ccPelFunc::levelOf(info), r.level) << r.cpuClass << "/" << r.generation;
    }
    // The streaming kernels are asked for afresh, from the effective description.
    for (auto [cpuClass, features, streaming] : {std::tuple(1, csysCpuMmx | csysCpuSse, true),
                                                 std::tuple(1, uint32_t(csysCpuMmx), false),
                                                 std::tuple(0, csysCpuMmx | csysCpuSse, false)}) {
        pretend(cpuClass, features);
        EXPECT_EQ(ccPelFunc::useStreamingMmx(), streaming);
    }
    ASSERT_EQ(csys_resetCpuInfo(), csysOk);
}

TEST(PelFuncStatus, Facility53RaisesOverlapAndBadParams)
{
    ccStdPelbufStartup();
    const struct { uint32_t status, code; } rows[] = {
        {0x800006A1u, ccPelFunc::Overlap::kCode}, {0x800006A2u, ccPelFunc::BadParams::kCode},
        {0x800006A5u, ccPelFunc::BadParams::kCode}, {0x800006A0u, ccUnknownError::kCode},
        {0x800006A6u, ccUnknownError::kCode}};
    for (const auto& r : rows) {
        uint32_t code = 0;
        try {
            ccThrowStatus(csysMakeStatus(r.status));
        } catch (const ccException& e) {
            code = e.code();
        }
        EXPECT_EQ(code, r.code) << std::hex << r.status;
    }
}

// A client transform that a copy must carry.
cc2Xform shift() { return cc2Xform(cc2Matrix(1, 0, 0, 1), cc2Vect(5, 0)); }

// Pel (x, y) holds x + 7 * y + seed; every other pel of a root is 0xEE.
// Root pel (0, 0) is at image (x0, y0).
Buffer8 numbered(int32_t w, int32_t h, int32_t alignment, int seed = 0, int32_t x0 = 0, int32_t y0 = 0)
{
    Buffer8 b(ccPelRect(x0, y0, w, h), alignment);
    Root8& r = b.typedRoot();
    std::fill(r.dataStart(), r.dataStart() + size_t(r.stride()) * size_t(h), 0xEE);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            r.dataStart()[y * r.stride() + x] = static_cast<unsigned char>(x + 7 * y + seed);
    return b;
}

// Every pel of the root, padding included.
std::vector<unsigned char> all(const Buffer8& b)
{
    const Root8& r = b.typedRoot();
    return std::vector<unsigned char>(r.dataStart(), r.dataStart() + size_t(r.stride()) * size_t(r.height()));
}

// The processor descriptions that pick each copy route.
const struct { const char* name; int32_t cpuClass; uint32_t features; } kRoutes[] = {
    {"portable", 1, 0}, {"plans", 1, csysCpuMmx}, {"streaming", 1, csysCpuMmx | csysCpuSse | csysCpuSse2}};

TEST(PelFuncCopy, EveryRouteCopiesTheWindowAndNothingElse)
{
    for (const auto& route : kRoutes) {
        pretend(route.cpuClass, route.features);
        // Whole roots of one natural stride (one block), then a narrowed
        // window into a wider root (row by row); odd widths, padded rows.
        Buffer8 src = numbered(37, 5, 8), whole = numbered(37, 5, 8, 100);
        ccPelFunc::copy(src, whole);
        EXPECT_EQ(all(whole), all(src)) << route.name;

        Buffer8 dst = numbered(41, 7, 4, 50, -2, -1);
        std::vector<unsigned char> expected = all(dst);
        src.setWindow(3, 1, 29, 3, false); // lands on dst's root pels from (5, 2)
        ccPelFunc::copy(src, dst);
        const int32_t stride = dst.typedRoot().stride();
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 29; ++x)
                expected[size_t((y + 2) * stride + x + 5)] = static_cast<unsigned char>(x + 3 + 7 * (y + 1));
        EXPECT_EQ(all(dst), expected) << route.name;
    }
    ASSERT_EQ(csys_resetCpuInfo(), csysOk);
}

TEST(PelFuncCopy, WindowsMeetInImageCoordinates)
{
    ccStdPelbufStartup();
    Buffer8 src = numbered(8, 8, 1);
    src.setWindow(2, 2, 4, 4, false);
    src.setLinearClientXform(shift());

    // Unbound: a new root of the window's size, at its image coordinates.
    Buffer8 made;
    ccPelFunc::copy(src, made);
    EXPECT_EQ(made.window(), src.window());
    EXPECT_EQ(made.linearClientXform().offset().x(), 5.0);
    EXPECT_EQ(*made.pel(3, 4), *src.pel(3, 4));
    EXPECT_EQ(ccPelFunc::copyToNew8(src).window(), src.window());

    // A destination elsewhere in image coordinates receives nothing.
    Buffer8 apart = numbered(4, 4, 1, 9, 100, 100);
    const std::vector<unsigned char> before = all(apart);
    ccPelFunc::copy(src, apart);
    EXPECT_EQ(all(apart), before);

    // One root seen at two image positions (root pel (0, 0) of a at image
    // (4, 0), of b at (0, 0)): the same window copies onto itself; windows
    // that meet in image coordinates on other pels copy; windows that share
    // pels raise and copy nothing.
    Buffer8 same(src);
    EXPECT_NO_THROW(ccPelFunc::copy(src, same));
    Buffer8 a(ccPelRect(4, 0, 8, 2), 1);
    for (int32_t x = 0; x < 8; ++x)
        *a.pel(4 + x, 0) = *a.pel(4 + x, 1) = static_cast<unsigned char>(x);
    Buffer8 b(&a.root());
    a.setWindow(0, 0, 4, 2, false);
    b.setWindow(4, 0, 4, 2, false);
    ccPelFunc::copy(a, b);
    EXPECT_EQ(all(b), (std::vector<unsigned char>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}));
    Buffer8 c = numbered(8, 2, 1, 0, 2, 0), d(&c.root()); // image 2..7 is c's pels 0..5 and d's 2..7
    const std::vector<unsigned char> untouched = all(c);
    EXPECT_THROW(ccPelFunc::copy(c, d), ccPelFunc::Overlap);
    EXPECT_EQ(all(c), untouched);

    EXPECT_THROW(ccPelFunc::copy(Buffer8(), made), ccPel::UnboundWindow);
}

class PelFuncRemote : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
    // A buffer over a proxy of a new 6 x 4 root of the peer, pel (x, y) = y * 16 + x.
    Buffer8 atPeer() { return Buffer8(new Root8(peer.destination(), peer.addNumbered(6, 4), 6, 4)); }
    test_pel::PelPeer peer;
};

TEST_F(PelFuncRemote, CopiesFetchTheSourceAndRefuseRemoteDestinations)
{
    Buffer8 remote = atPeer();
    remote.setWindow(1, 1, 3, 2, false);
    Buffer8 made;
    ccPelFunc::copy(remote, made);
    EXPECT_EQ(made.window(), remote.window());
    EXPECT_EQ(*made.pel(1, 1), 0x11);
    EXPECT_EQ(*made.pel(3, 2), 0x23);

    Buffer8 local = numbered(6, 4, 1);
    ccPelFunc::copy(remote, local);
    EXPECT_EQ(*local.pel(2, 2), 0x22);

    Buffer8 other = atPeer();
    EXPECT_THROW(ccPelFunc::copy(remote, other), ccPelFunc::BadParams);
    EXPECT_THROW(ccPelFunc::copy(numbered(6, 4, 1), other), ccPelFunc::BadParams);
}

TEST_F(PelFuncRemote, AHandOverMovesTheWindowHereAndThePeerKeepsNoReference)
{
    Buffer8 remote = atPeer();
    const uint32_t id = remote.root().remoteId();
    remote.setWindow(2, 1, 3, 2, false);
    remote.setLinearClientXform(shift());

    // Refused, and the buffer stays as it was.
    Buffer8 unbound;
    EXPECT_THROW(Buffer8::fromRemote(unbound, false), ccPel::UnboundWindow);
    Buffer8 local = numbered(2, 2, 1);
    EXPECT_THROW(Buffer8::fromRemote(local, false), ccPelFunc::BadParams);
    EXPECT_THROW(Buffer8::fromRemote(remote, true), ccPelFunc::BadParams);
    {
        Buffer8 sharing(remote);
        EXPECT_THROW(Buffer8::fromRemote(remote, false), ccPelFunc::BadParams);
    }
    EXPECT_EQ(remote.rootRefCount(), 1);

    // The peer gave the pels up, but too few arrived: the hand-over raises,
    // and the peer's reference, gone with them, is not given back again.
    {
        Buffer8 failing = atPeer();
        const std::string other = std::to_string(failing.root().remoteId());
        peer.changeNextFetchBy(-1);
        EXPECT_THROW(Buffer8::fromRemote(failing, false), ccPel::BadWindow);
        EXPECT_TRUE(failing.isBound());
        failing.bind(nullptr);
        EXPECT_EQ(peer.changes(), (std::vector<std::string>{"+1 " + std::to_string(id), "+1 " + other,
                                                            "hand-over " + other}));
    }

    Buffer8 here = Buffer8::fromRemote(remote, false);
    EXPECT_FALSE(remote.isBound());
    EXPECT_EQ(here.window(), ccPelRect(2, 1, 3, 2));
    EXPECT_EQ(here.linearClientXform().offset().x(), 5.0);
    EXPECT_EQ(*here.pel(2, 1), 0x12);
    EXPECT_EQ(*here.pel(4, 2), 0x24);
    EXPECT_EQ(peer.changes(), (std::vector<std::string>{"hand-over " + std::to_string(id)}));
    EXPECT_EQ(peer.root(id).count, 0);
}

} // namespace
