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
        {"a typed handle first, a buffer last", [](Root8* r) { Typed t(r); Buffer8 a(r); t = Typed(); }, "+-"},
        {"a buffer first, a typed handle last", [](Root8* r) { Typed t(r); { Buffer8 a(r); } }, "+-"},
        {"only typed handles", [](Root8* r) { Typed t(r), u(t); }, ""},
        {"given up while held", [](Root8* r) { Buffer8 a(r), b(r); r->releaseStorage(); }, "+-"},
        {"handed on by releaseRoot", // the peer's count stays while it moves
         [&](Root8* r) { Buffer8 a(r), b(a.releaseRoot()); EXPECT_EQ(peer.root(r->remoteId()).count, 1); }, "+-"},
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
}

// A proxy that counts its destructions.
struct Counted : Root8 {
    Counted(int* gone, ccRPCDestination destination, uint32_t id) : Root8(destination, id, 8, 8), gone(gone) {}
    ~Counted() override { ++*gone; }
    int* gone;
};

// A +1 the peer refuses fails the handle with the peer's error and leaves no
// count behind. A new root that nothing else holds goes with its record, and
// the peer hears nothing more of it; one that a typed handle holds stays, and
// its next buffer asks the peer again.
TEST_F(RemoteRoots, ARefusedFirstPlusFreesARootThatNothingElseHolds)
{
    for (bool typed : {false, true}) {
        int gone = 0;
        Root8* r = new Counted(&gone, peer.destination(), peer.addNumbered(8, 8));
        const std::string id = std::to_string(r->remoteId());
        ccPtrHandle<Root8> holder(typed ? r : nullptr);
        peer.refuseNextChange();
        EXPECT_THROW(Buffer8{r}, ccRPC::RuntimeError);
        EXPECT_EQ(gone, typed ? 0 : 1) << typed;
        if (typed) {
            { Buffer8 again(r); }
            holder = nullptr;
        }
        EXPECT_EQ(gone, 1) << typed;
        EXPECT_EQ(peer.changes(), typed ? (Lines{"refused +1 " + id, "+1 " + id, "-1 " + id})
                                        : Lines{"refused +1 " + id})
            << typed;
    }
}

// Version byte, count, then each pel in the archive's byte order; pels
// whose bytes need no swapping travel as one block, and must not differ. A
// count beyond the limit is refused before anything is allocated.
TEST(PelVectors, WireFormInEitherByteOrder)
{
    using test_bytes::Bytes;
    const std::vector<uint32_t> words = {0x01020304u, 0xA0B0C0D0u};
    for (auto [order, expected] :
         {std::pair(ccArchive::littleEndian, Bytes{0, 2, 0, 0, 0, 4, 3, 2, 1, 0xD0, 0xC0, 0xB0, 0xA0}),
          std::pair(ccArchive::bigEndian, Bytes{0, 0, 0, 0, 2, 1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0})}) {
        std::vector<uint32_t> back = words;
        const Bytes stored = test_bytes::store(order, [&](ccArchive& ar) { ccArchivePelVector(ar, back); });
        EXPECT_EQ(Bytes(stored.begin() + 2, stored.end()), expected) << order; // after the header
        back.clear();
        test_bytes::load(stored, [&](ccArchive& ar) {
            EXPECT_THROW(ccArchivePelVector(ar, back, 1), ccArchive::BadContent);
        });
        test_bytes::load(stored, [&](ccArchive& ar) { ccArchivePelVector(ar, back, 2); });
        EXPECT_EQ(back, words) << order;
    }
    Pels raw = {7, 8, 9};
    const Bytes stored = test_bytes::store(ccArchive::bigEndian, [&](ccArchive& ar) { ccArchivePelVector(ar, raw); });
    EXPECT_EQ(Bytes(stored.begin() + 2, stored.end()), (Bytes{0, 0, 0, 0, 3, 7, 8, 9}));
}

// Window transfers: rows of the rectangle in order, without the padding. A
// rectangle from a peer is checked: outside the root, or too few pels, is
// refused; an empty one asks for nothing.
TEST_F(RemoteRoots, WindowTransfersCheckTheirRectanglesAndRepliesTheirSize)
{
    Root8 local(4, 3, 8); // stride 8
    local.putWindow(ccPelRect(0, 0, 4, 3), bytes({0, 1, 2, 3, 0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23}));
    Pels v;
    local.getWindow(ccPelRect(1, 1, 3, 2), v);
    EXPECT_EQ(v, bytes({0x11, 0x12, 0x13, 0x21, 0x22, 0x23}));
    for (const ccPelRect& r : {ccPelRect(3, 0, 2, 1), ccPelRect(-1, 0, 1, 1), ccPelRect(0, 2, 1, 2)})
        EXPECT_THROW(local.getWindow(r, v), ccPel::BadWindow);
    EXPECT_THROW(local.putWindow(ccPelRect(0, 0, 3, 1), bytes({1, 2})), ccPel::BadWindow);
    EXPECT_EQ(v.size(), 6u);
    local.getWindow(ccPelRect(4, 3, 0, 0), v);
    EXPECT_TRUE(v.empty());

    // Fetching is ccPelFunc::copy's (pelfunc_test). A rectangle outside the
    // root never reaches the peer; a reply with more pels than the rectangle
    // is refused, and the calls below still get their own replies.
    std::unique_ptr<Root8> there(proxy());
    EXPECT_THROW(there->copyToDestination(ccPelRect(7, 0, 3, 1), ccRPCDestination(), false), ccPel::BadWindow);
    peer.changeNextFetchBy(+1);
    EXPECT_THROW(there->copyToDestination(ccPelRect(0, 0, 2, 2), ccRPCDestination(), false), ccArchive::BadContent);
    // To where the pels already are: nothing to copy.
    EXPECT_EQ(there->copyToDestination(ccPelRect(0, 0, 1, 1), peer.destination(), false), nullptr);
    // A target rectangle outside the target never reaches the peer either.
    (void)peer.changes();
    EXPECT_THROW(there->copyWindowInto(ccPelRect(0, 0, 2, 2), local, ccPelPoint{3, 2}, false), ccPel::BadWindow);
    EXPECT_EQ(peer.changes(), Lines{});
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
        const ccPelRect& w = into.windowRect();
        into.typedRoot().putWindow(w, std::vector<unsigned char>(size_t(w.width() * w.height()), uint8_t(remoteId)));
    }
    typedef std::tuple<ccPelRect, int32_t, uint32_t, bool> Call; // rectangle, root width, id, flag
    std::vector<Call> calls;
};

TEST_F(RemoteRoots, ACommunicatorThatReachesItsPelsDirectlyCopiesThemThroughItsService)
{
    Proxy proxy;
    Root8 atProxy(proxy.destination(), 9, 6, 4);
    std::unique_ptr<Root8> copy(atProxy.copyToDestination(ccPelRect(1, 1, 2, 2), ccRPCDestination(), true));
    EXPECT_TRUE(copy->refCount() == 0 && copy->dataStart()[copy->stride() + 1] == 9);
    // From the source's rectangle, into the target's window, which nobody
    // else holds (a stack root must not be disposed of).
    Root8 target(4, 4, 1);
    target.putWindow(ccPelRect(0, 0, 4, 4), Pels(16, 0));
    atProxy.copyWindowInto(ccPelRect(3, 1, 2, 1), target, ccPelPoint{1, 2}, false);
    EXPECT_EQ(proxy.calls, (std::vector<Proxy::Call>{{ccPelRect(1, 1, 2, 2), 6, 9u, true},
                                                     {ccPelRect(3, 1, 2, 1), 6, 9u, false}}));
    Pels v;
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
    EXPECT_TRUE(kept->root() == &late && registry->count() == 2u);
    early = ccPtrHandle<Root8>(); // the root deletes its package, which leaves the list
    EXPECT_TRUE(destroyed == 1 && registry->count() == 1u);
    registry.reset();
    // Its pels went with the package: empty, and its destruction deletes nothing twice.
    EXPECT_TRUE(destroyed == 2 && late.package() == nullptr && late.dataStart() == nullptr && late.width() == 0);
}

} // namespace
