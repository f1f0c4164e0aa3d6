#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/startup.h"
#include "tests/std/pelbuf/fakes.h"
#include "tests/std/pelbuf/pel_peer.h"

namespace {

typedef std::vector<std::string> Lines;
typedef ccPelRoot<unsigned char> Root8;
typedef ccPelBuffer<unsigned char> Buffer8;
typedef std::vector<unsigned char> Pels;

Pels bytes(std::initializer_list<int> v) { return Pels(v.begin(), v.end()); }

// Pel (x, y) holds y * 16 + x.
void fill(Root8& root)
{
    for (int32_t y = 0; y < root.height(); ++y)
        for (int32_t x = 0; x < root.width(); ++x)
            root.dataStart()[y * root.stride() + x] = static_cast<unsigned char>(y * 16 + x);
}

class RemoteRoots : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }

    // A proxy of a new 8 x 8 root of the peer.
    Root8* proxy() { return new Root8(peer.destination(), peer.addNumbered(8, 8), 8, 8); }
    test_pel::PelPeer peer;
};

TEST_F(RemoteRoots, ThePeerHearsOnePlusAndOneMinusWhateverHoldsTheRootLast)
{
    typedef ccPtrHandle<Root8> Typed;
    // changes: "+" for each +1 the peer hears, "-" for each -1, in order.
    const struct { const char* what; std::function<void(Root8*)> run; const char* changes; } rows[] = {
        {"two buffers", [](Root8* r) { Buffer8 a(r), b(a); a.bind(nullptr); }, "+-"},
        {"a typed handle first, a buffer last", [](Root8* r) { Typed t(r); Buffer8 a(r); t = Typed(); }, "+-"},
        {"a buffer first, a typed handle last", [](Root8* r) { Typed t(r); { Buffer8 a(r); } }, "+-"},
        {"only typed handles", [](Root8* r) { Typed t(r), u(t); }, ""},
        {"given up while held", [](Root8* r) { Buffer8 a(r), b(r); r->releaseStorage(); }, "+-"},
        {"handed on by releaseRoot", [](Root8* r) { Buffer8 a(r); Buffer8 b(a.releaseRoot()); }, "+-"},
        {"never held", [](Root8* r) { delete r; }, ""},
        {"two proxies of one peer root",
         [](Root8* r) { Buffer8 a(r), b(new Root8(r->destination(), r->remoteId(), 8, 8)); }, "++--"},
    };
    for (const auto& row : rows) {
        Root8* r = proxy();
        const uint32_t peerRoot = r->remoteId();
        row.run(r);
        Lines expected;
        for (const char* c = row.changes; *c; ++c)
            expected.push_back((*c == '+' ? "+1 " : "-1 ") + std::to_string(peerRoot));
        EXPECT_EQ(peer.changes(), expected) << row.what;
        EXPECT_EQ(peer.root(peerRoot).count, 0) << row.what;
    }

    // A +1 the peer refuses fails the handle and leaves no count behind.
    Root8* r = proxy();
    const std::string id = std::to_string(r->remoteId());
    peer.refuseNextChange();
    EXPECT_THROW(Buffer8{r}, ccRPC::RuntimeError);
    EXPECT_EQ(r->refCount(), 0);
    { Buffer8 again(r); }
    EXPECT_EQ(peer.changes(), (Lines{"refused +1 " + id, "+1 " + id, "-1 " + id}));
}

// Version byte, count, then each pel in the archive's byte order; pels
// whose bytes need no swapping travel as one block, and must not differ.
TEST(PelVectors, WireFormInEitherByteOrder)
{
    using test_bytes::Bytes;
    std::vector<uint32_t> words = {0x01020304u, 0xA0B0C0D0u};
    std::vector<double> one = {1.0};
    Pels raw = {7, 8, 9};
    const auto of = [](auto& pels) { return [&pels](ccArchive& ar) { ccArchivePelVector(ar, pels); }; };
    // expected: after the two header bytes.
    const struct { int32_t order; std::function<void(ccArchive&)> store; Bytes expected; } rows[] = {
        {ccArchive::littleEndian, of(words), {0, 2, 0, 0, 0, 4, 3, 2, 1, 0xD0, 0xC0, 0xB0, 0xA0}},
        {ccArchive::bigEndian, of(words), {0, 0, 0, 0, 2, 1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0}},
        {ccArchive::littleEndian, of(one), {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {ccArchive::bigEndian, of(raw), {0, 0, 0, 0, 3, 7, 8, 9}},
    };
    for (const auto& r : rows) {
        const Bytes stored = test_bytes::store(r.order, r.store);
        EXPECT_EQ(Bytes(stored.begin() + 2, stored.end()), r.expected) << r.order;
    }
    for (int32_t order : {ccArchive::littleEndian, ccArchive::bigEndian}) {
        std::vector<uint32_t> back;
        test_bytes::load(test_bytes::store(order, of(words)), [&](ccArchive& ar) { ccArchivePelVector(ar, back, 2); });
        EXPECT_EQ(back, words) << order;
    }
    // A count beyond the limit is refused before anything is allocated.
    test_bytes::load(test_bytes::store(ccArchive::littleEndian, of(words)),
                     [&](ccArchive& ar) { EXPECT_THROW(ccArchivePelVector(ar, words, 1), ccArchive::BadContent); });
}

TEST(WindowTransfers, RowsOfTheRectangleInOrderWithoutPadding)
{
    Root8 root(6, 5, 8); // stride 8
    fill(root);
    Pels v(2, 0xEE);
    root.getWindow(ccPelRect(2, 3, 3, 2), v);
    EXPECT_EQ(v, bytes({0x32, 0x33, 0x34, 0x42, 0x43, 0x44}));

    root.putWindow(ccPelRect(1, 0, 2, 2), bytes({1, 2, 3, 4, 99}));
    root.getWindow(ccPelRect(0, 0, 4, 2), v);
    EXPECT_EQ(v, bytes({0x00, 1, 2, 0x03, 0x10, 3, 4, 0x13}));

    Root8 packed(4, 2, 1); // rows touch: one block
    packed.putWindow(ccPelRect(0, 0, 4, 2), bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    packed.getWindow(ccPelRect(1, 1, 3, 1), v);
    EXPECT_EQ(v, bytes({6, 7, 8}));

    // Peer input is checked: outside the root, or too few pels.
    for (const ccPelRect& r : {ccPelRect(5, 0, 2, 1), ccPelRect(-1, 0, 1, 1), ccPelRect(0, 4, 1, 2)})
        EXPECT_THROW(root.getWindow(r, v), ccPel::BadWindow);
    EXPECT_THROW(root.putWindow(ccPelRect(0, 0, 5, 1), bytes({1, 2, 3, 4})), ccPel::BadWindow);
    EXPECT_EQ(v, bytes({6, 7, 8}));
    root.getWindow(ccPelRect(6, 5, 0, 0), v); // empty: nothing asked
    EXPECT_TRUE(v.empty());
}

TEST_F(RemoteRoots, CopiesToAndFromThePeer)
{
    Root8 local(4, 3, 1);
    fill(local);
    // Local to the peer: created there with the window's pels.
    std::unique_ptr<Root8> there(local.copyToDestination(ccPelRect(1, 1, 3, 2), peer.destination(), false));
    ASSERT_TRUE(there);
    EXPECT_EQ(std::make_tuple(there->destination(), there->width(), there->height()),
              std::make_tuple(peer.destination(), 3, 2));
    EXPECT_EQ(peer.root(there->remoteId()).pels, (std::vector<uint32_t>{0x11, 0x12, 0x13, 0x21, 0x22, 0x23}));

    // Fetching back, whole or at a point, is ccPelFunc::copy's (pelfunc_test).
    Root8 target(4, 4, 1);
    local.copyWindowInto(ccPelRect(0, 0, 2, 1), target, ccPelPoint{0, 0}, false); // local source: nothing
    EXPECT_EQ(peer.changes().back(), "create " + std::to_string(there->remoteId()));

    // A rectangle outside the root never reaches the peer.
    EXPECT_THROW(there->copyToDestination(ccPelRect(1, 0, 3, 1), ccRPCDestination(), false), ccPel::BadWindow);
    // A reply with more pels than the rectangle is refused; the calls below still get their own replies.
    peer.changeNextFetchBy(+1);
    EXPECT_THROW(there->copyToDestination(ccPelRect(0, 0, 2, 2), ccRPCDestination(), false), ccArchive::BadContent);

    // Nothing to copy, or not offered.
    EXPECT_EQ(there->copyToDestination(ccPelRect(0, 0, 1, 1), peer.destination(), false), nullptr);
    EXPECT_EQ(ccPelRoot<double>(2, 2, 8).copyToDestination(ccPelRect(0, 0, 1, 1), peer.destination(), false), nullptr);
    // A peer that keeps the pels in a root of its own: packed pels give up,
    // 8-bit pels need an image-transfer service, which a peer lacks.
    peer.setFetchAnswer(7);
    ccPelRoot<ccPackedRGB32Pel> packed(peer.destination(), peer.addNumbered(2, 2), 2, 2);
    EXPECT_EQ(packed.copyToDestination(ccPelRect(0, 0, 1, 1), ccRPCDestination(), false), nullptr);
    EXPECT_THROW(there->copyToDestination(ccPelRect(0, 0, 1, 1), ccRPCDestination(), false), ccBadPointer);
}

// The in-process proxy: closed, its pels reached through its service, which
// fills the window it is given with the value of the id.
class Proxy : public test_comm::Communicator, public ccImageTransfer {
public:
    Proxy() { closed = true; }
    ccImageTransfer* imageTransfer() override { return this; }
    void transfer(ccPelBuffer<unsigned char>& into, const ccPelRect& rect, int32_t rootWidth, uint32_t remoteId,
                  bool flag) override
    {
        calls.emplace_back(rect, rootWidth, remoteId, flag);
        const ccPelRect w = into.window();
        for (int32_t y = w.y0(); y < w.y1(); ++y)
            for (int32_t x = w.x0(); x < w.x1(); ++x)
                *into.pel(x, y) = static_cast<unsigned char>(remoteId);
    }
    typedef std::tuple<ccPelRect, int32_t, uint32_t, bool> Call; // rectangle, root width, id, flag
    std::vector<Call> calls;
};

TEST_F(RemoteRoots, ACommunicatorThatReachesItsPelsDirectlyCopiesThemThroughItsService)
{
    Proxy proxy;
    Root8 atProxy(proxy.destination(), 9, 6, 4);
    std::unique_ptr<Root8> copy(atProxy.copyToDestination(ccPelRect(1, 1, 2, 2), ccRPCDestination(), true));
    ASSERT_TRUE(copy);
    EXPECT_EQ(proxy.calls, (std::vector<Proxy::Call>{{ccPelRect(1, 1, 2, 2), 6, 9u, true}}));
    Pels v;
    copy->getWindow(ccPelRect(0, 0, 2, 2), v);
    EXPECT_EQ(v, bytes({9, 9, 9, 9}));
    EXPECT_EQ(copy->refCount(), 0);

    Root8 target(4, 4, 1);
    target.putWindow(ccPelRect(0, 0, 4, 4), Pels(16, 0));
    atProxy.copyWindowInto(ccPelRect(3, 1, 2, 1), target, ccPelPoint{1, 2}, false);
    // From the source's rectangle, into the target's window.
    EXPECT_EQ(proxy.calls.back(), Proxy::Call(ccPelRect(3, 1, 2, 1), 6, 9u, false));
    target.getWindow(ccPelRect(0, 2, 4, 1), v);
    EXPECT_EQ(v, bytes({0, 9, 9, 0}));
}

TEST(PelPackages, ARegistryThatGoesFirstDeletesItsPackagesAndDetachesTheirRoots)
{
    int destroyed = 0;
    unsigned char pels[4] = {};
    auto registry = std::make_unique<cc_PelPackageRegistry>();
    const auto listed = [&] { return new fakes::Package(&destroyed, 2, 2, 0, 1, pels, registry.get()); };
    auto* kept = listed();
    ccPtrHandle<Root8> early(new Root8(listed()));
    Root8 late(kept);
    EXPECT_EQ(late.dataStart(), pels);
    EXPECT_EQ(kept->root(), &late);
    EXPECT_EQ(registry->count(), 2u);
    early = ccPtrHandle<Root8>(); // the root deletes its package, which leaves the list
    EXPECT_EQ(std::make_tuple(destroyed, registry->count()), std::make_tuple(1, size_t(1)));
    registry.reset();
    EXPECT_EQ(destroyed, 2);
    // Its pels went with the package: empty, and its destruction deletes nothing twice.
    EXPECT_TRUE(late.package() == nullptr && late.dataStart() == nullptr && late.width() == 0);
}

} // namespace
