#include "std/rpc/rpc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock_testing.h"
#include "std/except/archutil.h"
#include "std/rpc/remote.h"
#include "std/rpc/startup.h"
#include "std/threadid.h"
#include "tests/support/bytes.h"
#include "tests/support/rpc_peer.h"

namespace {

using test_bytes::Bytes;
typedef std::vector<std::string> Lines;

TEST(RPCFunction, OrderAndSignature)
{
    // A template's parameters lead; a member's qualifiers follow, and not a member (flag 6) has none.
    EXPECT_EQ(ccRPCFunction("fetch", 0, "cmStd vector<P>", {"P", "const ccPelRect&"}, {{"P", "unsigned short"}})
                      .signature() + "|" + ccRPCFunction("f", 7, "r", {}).signature() + "|"
                  + ccRPCFunction("f", 6, "r", {}).signature(),
              "template<P=unsigned short> cmStd vector<P> fetch(P, const ccPelRect&)|r f() const volatile|r f()");

    const ccRPCFunction base("f", 0, "c_Int32", {"c_Int32"}, {{"P", "short"}});
    const struct { const char* what; ccRPCFunction other; bool equal; } rows[] = {
        {"return text of the same length", ccRPCFunction("f", 0, "c_Int99", {"c_Int32"}, {{"P", "short"}}), true},
        {"flag bit 4", ccRPCFunction("f", 0x10, "c_Int32", {"c_Int32"}, {{"P", "short"}}), true},
        {"return text length", ccRPCFunction("f", 0, "c_Int3", {"c_Int32"}, {{"P", "short"}}), false},
        {"argument type", ccRPCFunction("f", 0, "c_Int32", {"c_Int33"}, {{"P", "short"}}), false},
        {"template type", ccRPCFunction("f", 0, "c_Int32", {"c_Int32"}, {{"P", "unsigned short"}}), false},
        {"name, same key", ccRPCFunction("g", 0, "c_Int32", {"c_Int32"}, {{"P", "short"}}), false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(!(base < r.other) && !(r.other < base), r.equal) << r.what;

}

TEST(RPCFunction, WireFormLoadsWithItsKeyAndRefusesNewerVersions)
{
    ccStdRpcStartup();
    ccRPCFunction d("f", 3, "r", {"a"}, {{"P", "class ccRPC::NestedRPC"}});
    const Bytes expected = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        uint8_t version = 0, flags = 3;
        std::string name = "f", ret = "r";
        ar.archive(version).archive(name).archive(flags).archive(ret);
        for (std::string s : {"a", "ccRPC::NestedRPC", "P"}) { // string vectors of one
            uint32_t one = 1;
            ar.archive(version).archive(one).archive(s);
        }
    });
    EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { d.archive(ar); }), expected);

    test_bytes::load(expected, [&](ccArchive& ar) {
        ccRPCFunction loaded;
        loaded.archive(ar);
        EXPECT_TRUE(loaded.key() == d.key() && loaded.signature() == d.signature());
    });
    // A newer descriptor names this source.
    Bytes newer = expected;
    newer[2] = 1;
    test_bytes::load(newer, [&](ccArchive& ar) {
        try {
            ccRPCFunction().archive(ar);
            ADD_FAILURE() << "loaded";
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(std::pair(e.line(), e.file()), std::pair(1156u, std::wstring(L"std/rpc/rpc")));
        }
    });
}

// ---- calls against the scripted peer ----

const ccRPCFunction twice("twice", 0, "c_Int32", {"c_Int32"});

void answerTwice(ccArchive& in, ccArchive& out)
{
    uint32_t v = 0;
    uint8_t ok = 0;
    in.archive(v);
    out.archive(ok).archive(v *= 2);
}

uint32_t callTwice(ccRPCDestination d, uint16_t endpoint, uint32_t v)
{
    ccRPCCall call(d, endpoint);
    call.sendFunctionId(twice).archive(v);
    call.readStatus();
    call.reading().archive(v);
    return v;
}

class Calls : public ::testing::Test {
protected:
    void SetUp() override { ccStdRpcStartup(); peer.offer(twice, 7, &answerTwice); }
    test_rpc::ScriptedPeer peer;
};

TEST_F(Calls, TheFirstCallFetchesTheTableAndCallsToTheOwnEndpointUseTheBaseConnection)
{
    EXPECT_EQ(callTwice(peer.destination(), 0, 21) + callTwice(peer.destination(), 0, 5), 52u);
    EXPECT_EQ(std::pair(peer.log(), peer.comm.lastTimeout), std::pair(Lines{"0: -3", "0: 7", "0: 7"}, 30.0));

    // The signature's bytes become characters of the same value, and the
    // connection stays as it was.
    try {
        ccRPCCall call(peer.destination(), 0);
        call.sendFunctionId(ccRPCFunction("f\xE9", 0, "r", {}));
        ADD_FAILURE() << "sent";
    } catch (const ccRPC::UnsupportedFunction& e) {
        EXPECT_EQ(e.text(), L"r f\u00E9()");
    }
    EXPECT_EQ(callTwice(peer.destination(), 0, 1), 2u);
    EXPECT_EQ(peer.comm.channels, 1); // accepted once
}

void store(ccArchive& ar, const ccPersistent* p) { ccPersistent* unused = nullptr; archivePointer(ar, p, unused); }

TEST_F(Calls, ErrorRepliesRaiseAndLeaveTheConnectionUsable)
{
    // The code and message of what is raised (0: success).
    const struct { uint8_t status; void (*reply)(ccArchive&); uint32_t code; std::wstring message; } rows[] = {
        {1, [](ccArchive& out) { ccRPC::NestedRPC e(L"deep"); store(out, &e); }, ccRPC::NestedRPC::kCode, L"deep"},
        {1, [](ccArchive& out) { store(out, nullptr); }, ccRPC::RuntimeError::kCode, L""},
        {2, [](ccArchive& out) { uint32_t c = 9; std::wstring m = L"bad"; out.archive(c).archive(m); }, 9, L"bad"},
        {3, [](ccArchive& out) { uint32_t c = 5; out.archive(c); }, 5, L""},
        {7, [](ccArchive& out) { uint32_t v = 77; out.archive(v); }, 0, L""}, // any other status is success
    };
    const ccRPCFunction f("f", 0, "c_Int32", {});
    size_t i = 0; // the row the peer answers with
    peer.offer(f, 20, [&](ccArchive&, ccArchive& out) {
        uint8_t s = rows[i].status;
        rows[i].reply(out.archive(s));
    });
    for (; i < 5; ++i) {
        uint32_t code = 0, v = 0;
        std::wstring message;
        try {
            ccRPCCall call(peer.destination(), 0);
            call.sendFunctionId(f);
            call.readStatus();
            call.reading().archive(v);
        } catch (const ccExceptionWithString& e) {
            code = e.code(), message = e.text();
            EXPECT_EQ(dynamic_cast<const ccRPC::NestedRPC*>(&e) != nullptr, i == 0);
        }
        EXPECT_EQ(std::make_tuple(code, message), std::make_tuple(rows[i].code, rows[i].message)) << i;
    }
    EXPECT_EQ(peer.comm.channels, 1); // an error read whole leaves nothing behind
}

// The pauses asked for; each also makes a base call from another thread,
// which must not wait for the pause to end.
ccRPCDestination gPeer;
std::vector<uint32_t> gSlept;
bool gOtherInTime = false;
void pauseAndCall(uint32_t milliseconds)
{
    gSlept.push_back(milliseconds);
    static std::future<uint32_t> other; // outlives a call that is held up
    other = std::async(std::launch::async, [] { return callTwice(gPeer, 0, 6); });
    gOtherInTime = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready && other.get() == 12;
}

TEST_F(Calls, ChannelsBelongToTheirThreadAndAreClosedWhenItLeaves)
{
    const std::string priority = std::to_string(ccThreadID::priorityLevel());
    // The same low 12 bits, the same channel.
    EXPECT_EQ(callTwice(peer.destination(), 3, 1) + callTwice(peer.destination(), 3, 2)
                  + callTwice(peer.destination(), 3 + 0x2000, 3), 12u);
    {
        ccRPCCall outer(peer.destination(), 3);
        EXPECT_THROW(ccRPCCall(peer.destination(), 3), ccRPC::NestedRPC);
    }
    EXPECT_EQ(peer.log(), (Lines{"0: -3", "0: -1 3 1 " + priority, "1: 7", "1: 7", "1: 7"}));

    gPeer = peer.destination();
    plat::setSleepFunction(&pauseAndCall);
    std::thread([&] { EXPECT_EQ(callTwice(peer.destination(), 3, 5), 10u); }).join();
    plat::setSleepFunction(nullptr);
    EXPECT_EQ(peer.log(), (Lines{"0: -1 3 1 " + priority, "2: 7", "0: -2 4099", "0: 7"}));
    EXPECT_TRUE(gSlept == std::vector<uint32_t>{2000} && gOtherInTime);
}

TEST_F(Calls, ConnectionsThatCannotBeMadeRaise)
{
    peer.comm.closed = true;
    EXPECT_THROW(callTwice(peer.destination(), 0, 1), cc_Resource::BrokenLock);
    EXPECT_THROW(callTwice(test_comm::goneDestination(), 0, 1), ccRemoteObject::ObjectMismatch);
    EXPECT_THROW(callTwice(ccRPCDestination(), 0, 1), ccBadPointer);

    // A connection whose table could not be fetched keeps none: the first
    // call raises the reply's error.
    const struct { test_rpc::Handler reply; uint32_t code; } tables[] = {
        {[](ccArchive&, ccArchive& out) { uint8_t s = 3; uint32_t c = 5; out.archive(s).archive(c); }, 5u},
        {[](ccArchive&, ccArchive& out) { // a descriptor without its number
             uint8_t ok = 0, version = 0;
             uint32_t one = 1, none = 0;
             ccRPCFunction d = twice;
             out.archive(ok).archive(version).archive(one);
             d.archive(out);
             out.archive(version).archive(none);
         }, ccArchive::BadContent::kCode},
    };
    for (const auto& t : tables) {
        test_rpc::ScriptedPeer bad;
        bad.answerTableWith(t.reply);
        uint32_t code = 0;
        try {
            callTwice(bad.destination(), 0, 1);
        } catch (const ccException& e) {
            code = e.code();
        }
        EXPECT_EQ(code, t.code);
        EXPECT_THROW(callTwice(bad.destination(), 0, 1), ccRPC::UnknownCommunicator);
    }
    // A channel number for another endpoint.
    test_rpc::ScriptedPeer other;
    other.offer(twice, 7, &answerTwice);
    other.setChannelBase(1);
    EXPECT_THROW(callTwice(other.destination(), 3, 1), ccArchive::BadContent);
}

void handlerA(ccRPCArchivePair&) {}
void handlerB(ccRPCArchivePair&) {}

TEST(RPCHandlerRegistry, NumbersAreDenseAndARegistrationAgainNeedsTheSameHandler)
{
    ccRPCHandlerRegistry& r = ccRPCHandlerRegistry::instance();
    static int run = 0; // the registry lives as long as the process
    const std::string n = std::to_string(run++);
    const ccRPCFunction one("test_one" + n, 0, "c_Int32", {}), two("test_two" + n, 0, "c_Int32", {});
    const int32_t k = r.add(&handlerA, one);
    EXPECT_EQ(k, int32_t(r.handlers().size()) - 1);
    EXPECT_EQ(r.add(&handlerA, one), k);
    EXPECT_THROW(r.add(&handlerB, one), ccRPCHandler::DuplicateHandler);
    EXPECT_EQ(r.add(&handlerB, two), k + 1);
}

TEST_F(Calls, AReplyLeftUnreadOpensTheConnectionAfresh)
{
    // A descriptor whose version is newer than the caller reads: the call
    // stops after its first byte.
    const ccRPCFunction describe("describe", 0, "ccRPCFunction", {});
    peer.offer(describe, 8, [](ccArchive&, ccArchive& out) {
        uint8_t ok = 0, newer = 1;
        std::string name = "unread";
        out.archive(ok).archive(newer).archive(name);
    });
    for (uint16_t endpoint : {0, 3}) {
        EXPECT_THROW({
            ccRPCCall call(peer.destination(), endpoint);
            call.sendFunctionId(describe);
            call.readStatus();
            ccRPCFunction d;
            d.archive(call.reading());
        }, ccArchive::UnknownVersion);
        EXPECT_EQ(callTwice(peer.destination(), endpoint, 4), 8u) << endpoint;
    }
    // Opened once at first, then once more each.
    EXPECT_EQ(peer.comm.connects + peer.comm.channels, 4);
}

} // namespace
