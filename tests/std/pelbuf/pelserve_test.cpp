#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/pelserve.h"
#include "std/pelbuf/startup.h"
#include "tests/support/fake_comm.h"

namespace {

// The code that stands for an allocation failure, which is no library error.
constexpr uint32_t kNoMemory = 1;

// The code of the error that f raises; 0 when none.
uint32_t codeOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ccException& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    return 0;
}

// A peer in this process that serves as a serving side would, with the
// handlers this process registered: its function table is the registry's,
// a channel is numbered 0x1000 + its endpoint, and an error becomes a
// status-3 reply with the error's code.
class ServingPeer {
public:
    ServingPeer() { comm.onOpen = [](test_comm::Peer& p) { std::thread(serve, std::make_shared<Ends>(p)).detach(); }; }
    ccRPCDestination destination() const { return comm.destination(); }

private:
    typedef std::unique_ptr<ccCommStreambuf> Buffer;
    // The peer's ends of one connection, for a pair to open. The caller
    // waits for our header before it sends its own: ours goes ahead.
    struct Ends : ccCommunicator {
        explicit Ends(test_comm::Peer& p) : reading(std::move(p.reading)), storing(std::move(p.storing))
        {
            storing->sputn("\2\1", 2);
            storing->pubsync();
        }
        ~Ends() override { unlist(); }
        bool isClosed() override { return false; }
        bool isSecondary() override { return false; }
        void connect(uint16_t, Buffer&, Buffer&, double) override {}
        void openChannel(uint16_t, Buffer& r, Buffer& s, double) override { r.swap(reading), s.swap(storing); }
        Buffer reading, storing;
    };

    static void serve(std::shared_ptr<Ends> ends)
    {
        ccRPCArchivePair pair;
        pair.accept(*ends, 0, HUGE_VAL);
        ccArchive &in = *pair.reading(), &out = *pair.storing();
        static_cast<test_comm::Buf&>(pair.storing()->transferBuffer()).unsent.clear(); // a second header
        const ccRPCHandlerRegistry& r = ccRPCHandlerRegistry::instance();
        uint8_t status = 0;
        uint16_t channel = 0;
        uint32_t count = uint32_t(r.numbers().size()), unused = 0, code = 0;
        for (int32_t n = 0; codeOf([&] { in.archive(n); }) == 0; pair.storing()->sync()) {
            if (n == ccRPCCall::kFunctionTable) {
                out.archive(status).archive(status).archive(count); // status and version 0
                for (auto e : r.numbers())
                    ccRPCFunction(e.first).archive(out);
                out.archive(status).archive(count);
                for (auto e : r.numbers())
                    out.archive(e.second);
            } else if (n == ccRPCCall::kOpenChannel) {
                in.archive(channel).archive(unused).archive(unused);
                out.archive(status).archive(channel |= 0x1000);
            } else if ((code = codeOf([&] { r.handlers().at(size_t(n))(pair); })) != 0) {
                uint8_t failed = 3;
                out.archive(failed).archive(code);
            }
        }
    }

    test_comm::Communicator comm;
};

// In the order of their registration.
template <class F>
void forEachPel(F f)
{
    f((unsigned short)0), f(uint32_t()), f(short()), f(int32_t()), f(double()), f(ccPackedRGB16Pel()),
        f(ccPackedRGB32Pel()), f((unsigned char)0);
}

// Pels whose bytes differ from 0 and from each other's.
template <class P>
P pel(int i)
{
    if constexpr (std::is_class_v<P>)
        return P{decltype(P::value)(0xFEDCBA98u - uint32_t(i))};
    else
        return std::is_floating_point_v<P> ? P(-1.5 - i) : P(0xFEDCBA98u - uint32_t(i));
}

class ServedRoots : public ::testing::Test {
protected:
    void SetUp() override { ccStdPelbufStartup(); }

    // This process, then the peer through the stubs; the peer being this
    // process too, ids from either are good at both.
    std::vector<ccRPCDestination> both() const { return {ccRPCDestination(), peer.destination()}; }
    // Takes and gives back one reference: the root goes.
    static void drop(ccRPCDestination d, uint32_t root)
    {
        EXPECT_EQ(cf_RPCPelRootChangeRefCount(d, root, 1), 1);
        EXPECT_EQ(cf_RPCPelRootChangeRefCount(d, root, -1), 0);
    }

    ServingPeer peer;
};

TEST_F(ServedRoots, StubsAreRegisteredInTheirOrder)
{
    using namespace cc_PelRootCalls;
    using namespace cc_ServedPelRoots;
    std::vector<std::pair<ccRPCFunction, ccRPCHandlerFunction>> rows{{changeRefCountFunction(), &serveChangeRefCount}};
    forEachPel([&](auto p) {
        rows.emplace_back(createFunction<decltype(p)>(), &serveCreate<decltype(p)>);
        rows.emplace_back(fetchFunction<decltype(p)>(), &serveFetch<decltype(p)>);
    });
    const char* types[] = {"unsigned short", "unsigned long",    "short",            "long",
                           "double",         "ccPackedRGB16Pel", "ccPackedRGB32Pel", "unsigned char"};
    const ccRPCHandlerRegistry& r = ccRPCHandlerRegistry::instance();
    ASSERT_EQ(r.handlers().size(), 17u);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(r.numbers().at(rows[i].first), int32_t(i)) << i;
        EXPECT_EQ(r.handlers()[i], rows[i].second) << i;
        const auto type = i ? std::vector<std::string>{types[(i - 1) / 2]} : std::vector<std::string>{};
        EXPECT_EQ(rows[i].first.templateArgumentTypes(), type) << i;
    }
}

TEST_F(ServedRoots, CreateAndFetchEveryPelTypeHereAndAtThePeer)
{
    forEachPel([&](auto p) {
        typedef decltype(p) P;
        const std::string type = cc_PelRootCalls::fetchFunction<P>().templateArgumentTypes()[0];
        std::vector<P> pels;
        for (int i = 0; i < 12; ++i)
            pels.push_back(pel<P>(i));
        // The 3 x 2 rectangle at (1, 1) of 4 x 3 pels, first row first.
        const std::vector<P> middle{pels[5], pels[6], pels[7], pels[9], pels[10], pels[11]};
        for (ccRPCDestination d : both()) {
            const uint32_t filled = cf_RPCPelRootCreate<P>(d, 4, 3, pels), empty = cf_RPCPelRootCreate<P>(d, 4, 3, {});
            for (ccRPCDestination from : both()) {
                int32_t inOut = 7;
                auto got = cf_RPCPelRootFetch<P>(from, filled, P{}, ccPelRect(1, 1, 3, 2), 5, inOut);
                ASSERT_EQ(got.size(), 6u) << type;
                EXPECT_EQ(std::memcmp(got.data(), middle.data(), sizeof(P) * 6), 0) << type;
                EXPECT_EQ(inOut, -1) << type;
                EXPECT_EQ(cf_RPCPelRootFetch<P>(from, empty, P{}, ccPelRect(4, 3), 0, inOut).size(), 12u) << type;
            }
            drop(d, filled);
            drop(d, empty);
        }
    });
}

TEST_F(ServedRoots, CountChangesStepUntilTheRootGoes)
{
    const uint32_t refused = ccInvariantFailure::kCode, gone = ccRPC::ObjectMismatch::kCode;
    // Each change in turn, and the count it leaves or the code it raises.
    const struct { int32_t delta, count; uint32_t code; } rows[] = {
        {0, 0, 0},  {3, 3, 0},  {-4, 0, refused}, {INT32_MAX - 2, 0, refused}, {0, 3, 0},
        {-1, 2, 0}, {-2, 0, 0}, {0, 0, gone},     {1, 0, gone},
    };
    for (ccRPCDestination d : both()) {
        const uint32_t root = cf_RPCPelRootCreate<double>(d, 2, 2, {});
        for (const auto& row : rows) {
            int32_t count = 0;
            EXPECT_EQ(codeOf([&] { count = cf_RPCPelRootChangeRefCount(d, root, row.delta); }), row.code) << row.delta;
            EXPECT_EQ(count, row.count) << row.delta;
        }
    }
}

// Raises what the fetch of r raises.
template <class P>
void fetchOf(ccRPCDestination d, uint32_t root, const ccPelRect& r)
{
    int32_t inOut = 0;
    cf_RPCPelRootFetch<P>(d, root, P{}, r, 0, inOut);
}

TEST_F(ServedRoots, BadRequestsAreRefused)
{
    const uint32_t badWindow = ccPel::BadWindow::kCode, mismatch = ccRPC::ObjectMismatch::kCode;
    struct Ids { uint32_t u8, s16, f64, rgb32; };
    typedef std::vector<short> Shorts;
    const struct { const char* what; std::function<void(ccRPCDestination, const Ids&)> run; uint32_t code; } rows[] = {
        {"8-bit past the right", [](auto d, auto& i) { fetchOf<unsigned char>(d, i.u8, {3, 0, 2, 1}); }, badWindow},
        {"16-bit left of 0", [](auto d, auto& i) { fetchOf<short>(d, i.s16, {-1, 0, 2, 2}); }, badWindow},
        {"double, empty, outside", [](auto d, auto& i) { fetchOf<double>(d, i.f64, {9, 9, 0, 0}); }, badWindow},
        {"packed, past the bottom", [](auto d, auto& i) { fetchOf<ccPackedRGB32Pel>(d, i.rgb32, {4, 4}); }, badWindow},
        {"another pel type", [](auto d, auto& i) { fetchOf<unsigned short>(d, i.u8, {1, 1}); }, mismatch},
        {"id 0", [](auto d, auto&) { fetchOf<double>(d, 0, {1, 1}); }, mismatch},
        {"never issued", [](auto d, auto&) { cf_RPCPelRootChangeRefCount(d, 0xFFFFFFF0u, 1); }, mismatch},
        {"short vector", [](auto d, auto&) { cf_RPCPelRootCreate(d, 4, 3, Shorts(11)); }, badWindow},
        {"long vector", [](auto d, auto&) { cf_RPCPelRootCreate(d, 4, 3, Shorts(13)); }, badWindow},
        {"negative sizes", [](auto d, auto&) { cf_RPCPelRootCreate(d, -2, -3, Shorts(6)); }, badWindow},
        {"negative width", [](auto d, auto&) { cf_RPCPelRootCreate(d, -1, 0, Shorts()); }, badWindow},
        {"2^32 pels", [](auto d, auto&) { cf_RPCPelRootCreate(d, 65536, 65536, Shorts()); }, kNoMemory},
    };
    for (ccRPCDestination d : both()) {
        const Ids ids{cf_RPCPelRootCreate(d, 4, 3, std::vector<unsigned char>(12)),
                      cf_RPCPelRootCreate(d, 4, 3, Shorts(12)), cf_RPCPelRootCreate(d, 4, 3, std::vector<double>(12)),
                      cf_RPCPelRootCreate(d, 4, 3, std::vector<ccPackedRGB32Pel>(12))};
        for (const auto& row : rows)
            EXPECT_EQ(codeOf([&] { row.run(d, ids); }), row.code) << row.what;
        for (uint32_t id : {ids.u8, ids.s16, ids.f64, ids.rgb32})
            drop(d, id);
    }
}

} // namespace
