#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/pelserve.h"
#include "std/pelbuf/startup.h"
#include "tests/support/rpc_peer.h"

namespace {

using namespace cc_PelRootCalls;
using namespace cc_ServedPelRoots;

// Outcomes of refused requests.
constexpr int64_t kBadWindow = -int64_t(ccPel::BadWindow::kCode), kGone = -int64_t(ccRPC::ObjectMismatch::kCode),
                  kRefused = -int64_t(ccInvariantFailure::kCode);

// What f returns, or minus the code of the error it raises.
template <class F>
int64_t outcome(F f)
{
    try {
        return int64_t(f());
    } catch (const ccException& e) {
        return -int64_t(e.code());
    }
}

// In the order of their registration, with their canonical names.
template <class F>
void forEachPel(F f)
{
    f((unsigned short)0, "unsigned short"), f(uint32_t(), "unsigned long"), f(short(), "short"), f(int32_t(), "long"),
        f(double(), "double"), f(ccPackedRGB16Pel(), "ccPackedRGB16Pel"), f(ccPackedRGB32Pel(), "ccPackedRGB32Pel"),
        f((unsigned char)0, "unsigned char");
}

// A peer in this process that answers with the stubs under the numbers
// they were registered with, as a dispatcher would: an error becomes a
// status-3 reply with its code. Made, it has checked that the registry
// numbers each stub by its place in the order of registration.
struct ServingPeer : test_rpc::ScriptedPeer {
    ServingPeer()
    {
        ccStdPelbufStartup();
        serve(changeRefCountFunction(), &answerChangeRefCount, &serveChangeRefCount);
        forEachPel([this](auto p, const char*) {
            serve(createFunction<decltype(p)>(), &answerCreate<decltype(p)>, &serveCreate<decltype(p)>);
            serve(fetchFunction<decltype(p)>(), &answerFetch<decltype(p)>, &serveFetch<decltype(p)>);
        });
        EXPECT_EQ(ccRPCHandlerRegistry::instance().handlers().size(), 17u);
    }
    void serve(const ccRPCFunction& f, void (*answer)(ccArchive&, ccArchive&), ccRPCHandlerFunction stub)
    {
        const ccRPCHandlerRegistry& r = ccRPCHandlerRegistry::instance();
        EXPECT_TRUE(r.numbers().at(f) == next && r.handlers().at(size_t(next)) == stub) << next;
        offer(f, next++, [answer](ccArchive& in, ccArchive& out) {
            uint8_t failed = 3;
            if (uint32_t code = uint32_t(-outcome([&] { return answer(in, out), 0; })))
                out.archive(failed).archive(code);
        });
    }
    int32_t next = 0;
};

// Here, then at the peer through the stubs: roots of every pel type made,
// fetched and counted until they go, each change with the count it leaves
// or the code it raises; then requests that are refused.
TEST(ServedRoots, EveryPelTypeHereAndAtThePeerAndBadRequestsRefused)
{
    const struct { int32_t delta; int64_t outcome; } changes[] = {
        {0, 0}, {3, 3}, {-4, kRefused}, {INT32_MAX - 2, kRefused}, {0, 3}, {-1, 2}, {-2, 0}, {0, kGone}, {1, kGone}};
    // Of a 16-bit root (0), of a root of doubles (1), of id 0 (2).
    const struct { int which; ccPelRect r; int64_t outcome; } fetches[] = {
        {0, {3, 0, 2, 1}, kBadWindow}, {0, {-1, 0, 2, 2}, kBadWindow}, {0, {4, 4}, kBadWindow},
        {0, {9, 9, 0, 0}, kBadWindow}, {1, {1, 1}, kGone},             {2, {1, 1}, kGone}};
    typedef std::vector<short> Shorts;
    const struct { int32_t width, height, pels; } creates[] = {{4, 3, 11}, {4, 3, 13}, {-2, -3, 6}, {-1, 0, 0}};
    ServingPeer peer;
    for (ccRPCDestination d : {ccRPCDestination(), peer.destination()}) {
        int32_t inOut = 0;
        forEachPel([&](auto p, const char* type) {
            typedef decltype(p) P;
            SCOPED_TRACE(type);
            std::vector<P> pels(12);
            for (size_t i = 0; i < sizeof(P) * 12; ++i) // bytes that differ, no double a NaN
                reinterpret_cast<unsigned char*>(pels.data())[i] = uint8_t(i * 7 + 1);
            // The 3 x 2 rectangle at (1, 1) of 4 x 3 pels, first row first.
            const std::vector<P> middle{pels[5], pels[6], pels[7], pels[9], pels[10], pels[11]};
            EXPECT_EQ(createFunction<P>().templateArgumentTypes(), std::vector<std::string>{type});
            const uint32_t filled = cf_RPCPelRootCreate<P>(d, 4, 3, pels), empty = cf_RPCPelRootCreate<P>(d, 4, 3, {});
            auto got = cf_RPCPelRootFetch<P>(d, filled, P{}, ccPelRect(1, 1, 3, 2), 5, inOut = 7);
            EXPECT_TRUE(got.size() == 6u && !std::memcmp(got.data(), middle.data(), sizeof(P) * 6) && inOut == -1);
            EXPECT_EQ(cf_RPCPelRootFetch<P>(d, empty, P{}, ccPelRect(4, 3), 0, inOut).size(), 12u);
            for (uint32_t id : {filled, empty})
                for (const auto& row : changes)
                    EXPECT_EQ(outcome([&] { return cf_RPCPelRootChangeRefCount(d, id, row.delta); }), row.outcome);
        });
        const uint32_t ids[] = {cf_RPCPelRootCreate(d, 4, 3, Shorts(12)),
                                cf_RPCPelRootCreate(d, 4, 3, std::vector<double>(12)), 0};
        for (const auto& row : fetches)
            EXPECT_EQ(outcome([&] { return cf_RPCPelRootFetch(d, ids[row.which], short(), row.r, 0, inOut).size(); }),
                      row.outcome);
        for (const auto& c : creates)
            EXPECT_EQ(outcome([&] { return cf_RPCPelRootCreate(d, c.width, c.height, Shorts(c.pels)); }), kBadWindow);
    }
}

} // namespace
