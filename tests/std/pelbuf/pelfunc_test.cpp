#include "std/pelbuf/pelfunc.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "std/except/status.h"
#include "std/pelbuf/startup.h"
#include "system/csys_cpu_testing.h"
#include "tests/std/pelbuf/pel_peer.h"

namespace {

typedef ccPelBuffer<unsigned char> Buffer8;
typedef ccPelRoot<unsigned char> Root8;

// The streaming kernels are asked for afresh, from the effective processor
// description; class 0 is not an x86. (The level number is not used.)
TEST(PelFuncCpuLevel, StreamingKernelsNeedAnX86WithSse)
{
    for (auto [cpuClass, features, streaming] : {std::tuple(1, csysCpuMmx | csysCpuSse, true),
                                                 std::tuple(1, uint32_t(csysCpuMmx), false),
                                                 std::tuple(0, csysCpuMmx | csysCpuSse, false)}) {
        csysCpuInfo info{};
        ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = cpuClass, info.features = features;
        ASSERT_EQ(csys_overrideCpuInfo(&info), csysOk);
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
    for (const auto& r : rows)
        try {
            ccThrowStatus(csysMakeStatus(r.status));
            ADD_FAILURE() << std::hex << r.status;
        } catch (const ccException& e) {
            EXPECT_EQ(e.code(), r.code) << std::hex << r.status;
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

// Whole roots of one natural stride (one block), then a narrowed window into
// a wider root (row by row); odd widths, padded rows. The processor's copy
// routes are the system layer's. Windows meet in image coordinates.
TEST(PelFuncCopy, CopiesTheWindowAndNothingElseWhereWindowsMeet)
{
    ccStdPelbufStartup();
    Buffer8 src = numbered(37, 5, 8), whole = numbered(37, 5, 8, 100);
    ccPelFunc::copy(src, whole);
    EXPECT_EQ(all(whole), all(src));
    { // Caller blocks that end at the last pel: the one-block copy stays inside them.
        std::vector<unsigned char> from(40 * 4 + 37, 7), to(40 * 4 + 37, 0);
        Buffer8 a(new ccPelRoot<unsigned char>(37, 5, 40, from.data(), 8));
        Buffer8 b(new ccPelRoot<unsigned char>(37, 5, 40, to.data(), 8));
        ccPelFunc::copy(a, b);
        EXPECT_EQ(to, from);
    }
    { // Caller rows 2^30 bytes apart: one block would pass 2^31 bytes, so the rows go one by one.
        // Only the pages of the three pels are usable.
        const size_t span = (size_t{1} << 31) + 1;
        const auto reserve = [span] {
            void* p = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            for (size_t at : {size_t{0}, size_t{1} << 30, span - 1})
                if (p != MAP_FAILED && mprotect(static_cast<char*>(p) + at, 1, PROT_READ | PROT_WRITE) != 0)
                    return static_cast<unsigned char*>(MAP_FAILED);
            return static_cast<unsigned char*>(p);
        };
        unsigned char *from = reserve(), *to = reserve();
        ASSERT_TRUE(from != MAP_FAILED && to != MAP_FAILED);
        from[0] = 1, from[1 << 30] = 2, from[span - 1] = 3;
        Buffer8 a(new ccPelRoot<unsigned char>(1, 3, 1 << 30, from, 1 << 30));
        Buffer8 b(new ccPelRoot<unsigned char>(1, 3, 1 << 30, to, 1 << 30));
        ccPelFunc::copy(a, b);
        EXPECT_TRUE(to[0] == 1 && to[1 << 30] == 2 && to[span - 1] == 3);
        EXPECT_TRUE(munmap(from, span) == 0 && munmap(to, span) == 0);
    }

    Buffer8 dst = numbered(41, 7, 4, 50, -2, -1);
    std::vector<unsigned char> expected = all(dst);
    src.setWindow(3, 1, 29, 3, false); // lands on dst's root pels from (5, 2)
    ccPelFunc::copy(src, dst);
    const int32_t stride = dst.typedRoot().stride();
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 29; ++x)
            expected[size_t((y + 2) * stride + x + 5)] = static_cast<unsigned char>(x + 3 + 7 * (y + 1));
    EXPECT_EQ(all(dst), expected);

    src = numbered(8, 8, 1);
    src.setWindow(2, 2, 4, 4, false);
    src.setLinearClientXform(shift());

    // Unbound: a new root of the window's size, at its image coordinates.
    Buffer8 made = ccPelFunc::copyToNew8(src);
    EXPECT_TRUE(made.window() == src.window() && *made.pel(3, 4) == *src.pel(3, 4));
    EXPECT_EQ(made.linearClientXform().offset().x(), 5.0);

    // A destination elsewhere in image coordinates receives nothing.
    Buffer8 apart = numbered(4, 4, 1, 9, 100, 100);
    const std::vector<unsigned char> before = all(apart);
    ccPelFunc::copy(src, apart);
    EXPECT_EQ(all(apart), before);

    // One root seen at two image positions: the same window copies onto
    // itself; windows that meet in image coordinates on other pels copy;
    // windows that share pels raise and copy nothing.
    Buffer8 a = numbered(8, 1, 1, 0, 4, 0), b(&a.root()); // root pel 0 at image 4 in a, 0 in b
    a.setWindow(0, 0, 4, 1, false);
    b.setWindow(4, 0, 4, 1, false);
    ccPelFunc::copy(a, b);
    EXPECT_EQ(all(b), (std::vector<unsigned char>{0, 1, 2, 3, 0, 1, 2, 3}));
    Buffer8 c = numbered(8, 2, 1, 0, 2, 0), d(&c.root()); // image 2..7 is c's pels 0..5 and d's 2..7
    const std::vector<unsigned char> untouched = all(c);
    EXPECT_THROW(ccPelFunc::copy(c, d), ccPelFunc::Overlap);
    EXPECT_EQ(all(c), untouched);
    EXPECT_THROW(ccPelFunc::copy(Buffer8(), made), ccPel::UnboundWindow);
}

// The windows are met on working copies: a bound destination keeps its
// window and image coordinates whatever part of it the source covers.
TEST(PelFuncCopy, ABoundDestinationKeepsItsWindow)
{
    ccStdPelbufStartup();
    const struct { ccPelRect source, destination; } rows[] = {
        {ccPelRect(2, 3, 4, 4), ccPelRect(0, 0, 10, 10)},   // inside it
        {ccPelRect(6, 6, 8, 8), ccPelRect(0, 0, 10, 10)},   // over its corner
        {ccPelRect(4, 4, 8, 8), ccPelRect(3, 1, 5, 7)},     // a window narrower than its root
    };
    for (const auto& r : rows) {
        Buffer8 src = numbered(32, 32, 1, 0, -4, -4), dst = numbered(10, 10, 4, 50, 0, 0);
        src.setImageWindow(r.source, false);
        dst.setImageWindow(r.destination, false);
        const ccPelRect inRoot = dst.windowRect();
        ccPelFunc::copy(src, dst);
        EXPECT_TRUE(dst.window() == r.destination && dst.windowRect() == inRoot)
            << r.source.x0() << "," << r.source.y0() << " into " << r.destination.x0() << "," << r.destination.y0();
    }
}

class PelFuncRemote : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }
    // A buffer over a proxy of a new 6 x 4 root of the peer, pel (x, y) = y * 16 + x.
    Buffer8 atPeer() { return Buffer8(new Root8(peer.destination(), peer.addNumbered(6, 4), 6, 4)); }
    test_pel::PelPeer peer;
};

// Copies fetch a remote source and refuse a remote destination. A hand-over
// moves the window here, and the peer keeps no reference.
TEST_F(PelFuncRemote, CopiesFetchTheSourceAndAHandOverLeavesThePeerNoReference)
{
    Buffer8 remote = atPeer();
    const uint32_t id = remote.root().remoteId();
    remote.setWindow(2, 1, 3, 2, false);
    remote.setLinearClientXform(shift());
    Buffer8 made, local = numbered(6, 4, 1), other = atPeer();
    ccPelFunc::copy(remote, made);
    EXPECT_TRUE(made.window() == remote.window() && *made.pel(2, 1) == 0x12 && *made.pel(4, 2) == 0x24);
    ccPelFunc::copy(remote, local);
    EXPECT_EQ(*local.pel(3, 2), 0x23);
    EXPECT_THROW(ccPelFunc::copy(remote, other), ccPelFunc::BadParams);

    // Refused, and the buffer stays as it was: a local root, one that
    // another buffer still shows, the flag set, or no root at all.
    EXPECT_THROW(Buffer8::fromRemote(local, false), ccPelFunc::BadParams);
    EXPECT_THROW(Buffer8::fromRemote(remote, true), ccPelFunc::BadParams);
    Buffer8 unbound;
    EXPECT_THROW(Buffer8::fromRemote(unbound, false), ccPel::UnboundWindow);
    {
        Buffer8 sharing(remote);
        EXPECT_THROW(Buffer8::fromRemote(remote, false), ccPelFunc::BadParams);
    }
    EXPECT_EQ(remote.rootRefCount(), 1);

    // The peer gave the pels up, but too few arrived: the hand-over raises,
    // and the peer's reference, gone with them, is not given back again.
    const std::string otherId = std::to_string(other.root().remoteId());
    peer.changeNextFetchBy(-1);
    EXPECT_THROW(Buffer8::fromRemote(other, false), ccPel::BadWindow);
    other.bind(nullptr);
    EXPECT_EQ(peer.changes(), (std::vector<std::string>{"+1 " + std::to_string(id), "+1 " + otherId,
                                                        "fetch " + std::to_string(id), "fetch " + std::to_string(id),
                                                        "hand-over " + otherId}));

    Buffer8 here = Buffer8::fromRemote(remote, false);
    EXPECT_TRUE(!remote.isBound() && here.window() == ccPelRect(2, 1, 3, 2));
    EXPECT_TRUE(here.linearClientXform().offset().x() == 5.0 && *here.pel(2, 1) == 0x12 && *here.pel(4, 2) == 0x24);
    EXPECT_TRUE(peer.changes() == std::vector<std::string>{"hand-over " + std::to_string(id)} &&
                peer.root(id).count == 0);
}

} // namespace
