// The remote pel-root calls on the wire: what this side sends and how it
// reads what a peer answers, against bytes written out here by hand. The
// peer is only bytes: its replies are in the pipes before the call begins.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/startup.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_comm.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
typedef ccPelRoot<unsigned char> Root8;

// The peer's function numbers: the count change, then create and fetch of
// each pel type.
constexpr uint8_t kChange = 0x30, kCreate8 = 0x41, kFetch8 = 0x42, kFetch16 = 0x44, kCreateShort = 0x45,
                  kCreateDouble = 0x4B, kFetchDouble = 0x4C, kCreateRGB16 = 0x4D;

// Numbers and strings as the peer writes them: its own byte order for
// numbers; strings of fewer than 128 characters, narrow form.
struct PeerWriter {
    bool big;
    Bytes u32(uint32_t v) const
    {
        Bytes b{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        return big ? Bytes(b.rbegin(), b.rend()) : b;
    }
    static Bytes text(const std::string& s)
    {
        Bytes b{uint8_t(s.size()), '"'};
        for (char c : s)
            b.push_back(uint8_t(c));
        b.push_back('"');
        return b;
    }
    Bytes texts(const std::vector<std::string>& v) const
    {
        Bytes b = cat({{0}, u32(uint32_t(v.size()))});
        for (const std::string& s : v)
            b = cat({b, text(s)});
        return b;
    }
    // Version 0, name, flags 0, return type, arguments, template argument
    // types, template parameter names.
    Bytes descriptor(const std::string& name, const std::string& returns, const std::vector<std::string>& arguments,
                     const char* pel) const
    {
        const std::vector<std::string> types = pel ? std::vector<std::string>{pel} : std::vector<std::string>{};
        const std::vector<std::string> names = pel ? std::vector<std::string>{"P"} : std::vector<std::string>{};
        return cat({{0}, text(name), {0}, text(returns), texts(arguments), texts(types), texts(names)});
    }
    // Status 0, then the descriptor vector and the number vector.
    Bytes table() const
    {
        const char* pels[] = {"unsigned char",  "unsigned short", "short", "unsigned long", "long", "double",
                              "ccPackedRGB16Pel", "ccPackedRGB32Pel"};
        Bytes descriptors = descriptor("cf_RPCPelRootChangeRefCount", "c_Int32",
                                       {"const ccRPCDestination&", "c_Int32", "c_Int32"}, nullptr);
        Bytes numbers = u32(kChange);
        uint32_t number = 0x41;
        for (const char* pel : pels) {
            descriptors = cat({descriptors,
                               descriptor("cf_RPCPelRootCreate", "c_Int32",
                                          {"const ccRPCDestination&", "c_Int32", "c_Int32", "const cmStd vector<P>&"},
                                          pel),
                               descriptor("cf_RPCPelRootFetch", "cmStd vector<P>",
                                          {"const ccRPCDestination&", "c_Int32", "P", "const ccPelRect&", "c_Int32",
                                           "c_Int32&"},
                                          pel)});
            numbers = cat({numbers, u32(number), u32(number + 1)});
            number += 2;
        }
        return cat({{0, 0}, u32(17), descriptors, {0}, u32(17), numbers});
    }
};

// One call's exchange: the peer's header (version 1, not seekable, its
// byte order), its table and channel 0x1003 for endpoint 3 on the base
// connection, its header and the replies on the channel; what this side
// sent on each.
struct Sent {
    Bytes base, channel;
};

Sent exchange(bool big, const Bytes& replies, const std::function<void(ccRPCDestination)>& call)
{
    const PeerWriter peer{big};
    const Bytes header{0x02, uint8_t(big ? 0x00 : 0x01)};
    const Bytes channel = big ? Bytes{0x10, 0x03} : Bytes{0x03, 0x10};
    const Bytes script[2] = {cat({header, peer.table(), {0}, channel}), cat({header, replies})};
    std::vector<std::shared_ptr<test_comm::Pipe>> toPeer;
    test_comm::Communicator comm;
    comm.onOpen = [&](test_comm::Peer& p) {
        const Bytes& b = script[std::min<size_t>(toPeer.size(), 1)];
        p.toUs->write(reinterpret_cast<const char*>(b.data()), b.size());
        toPeer.push_back(p.toPeer);
    };
    call(comm.destination());
    if (toPeer.size() != 2) {
        ADD_FAILURE() << toPeer.size() << " connections";
        return {};
    }
    return {toPeer[0]->pending(), toPeer[1]->pending()};
}

class PelCallBytes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ccStdPelbufStartup(); }
};

// This side's header, the table request (-3), then the channel request
// (-1): endpoint 3, 1, the priority level of a thread of normal priority.
TEST_F(PelCallBytes, TheFirstCallAsksForTheTableAndAChannel)
{
    const Sent sent = exchange(false, {0, 9, 0, 0, 0}, [](ccRPCDestination d) {
        EXPECT_EQ(cf_RPCPelRootChangeRefCount(d, 1, 0), 9);
    });
    EXPECT_EQ(sent.base, (Bytes{0x02, 0x01, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x01, 0x00,
                                0x00, 0x00, 0x03, 0x00, 0x00, 0x00}));
}

// Each request after this side's header (02 01): the peer's function
// number, the destination 0, then the arguments, little-endian. Each reply
// after the peer's header: status 0, the in/out word (fetch), the result;
// a big-endian peer's numbers and pels arrive most significant byte first.
TEST_F(PelCallBytes, RequestsAndRepliesOfEachCall)
{
    typedef std::vector<unsigned short> Shorts;
    const struct {
        const char* what;
        bool big;
        Bytes replies, requests;
        std::function<void(ccRPCDestination)> call;
    } rows[] = {
        {"count change", false, {0, 5, 0, 0, 0},
         {kChange, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF},
         [](ccRPCDestination d) { EXPECT_EQ(cf_RPCPelRootChangeRefCount(d, 0x11223344, -2), 5); }},
        {"count change, big-endian peer", true, {0, 0, 0, 0x01, 0x02},
         {kChange, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x02, 0, 0, 0},
         [](ccRPCDestination d) { EXPECT_EQ(cf_RPCPelRootChangeRefCount(d, 0x11223344, 2), 0x102); }},
        // 8-bit pels as one block after the version byte and the count.
        {"create of 8-bit pels", false, {0, 0x0D, 0x0C, 0x0B, 0x0A},
         {kCreate8, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 6, 0, 0, 0, 1, 2, 3, 4, 5, 6},
         [](ccRPCDestination d) {
             EXPECT_EQ(cf_RPCPelRootCreate(d, 3, 2, std::vector<unsigned char>{1, 2, 3, 4, 5, 6}), 0x0A0B0C0Du);
         }},
        {"create of shorts, and of packed 16-bit pels without any", false, {0, 7, 0, 0, 0, 0, 8, 0, 0, 0},
         {kCreateShort, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0x34, 0x12,
          kCreateRGB16, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0},
         [](ccRPCDestination d) {
             EXPECT_EQ(cf_RPCPelRootCreate(d, 2, 1, std::vector<short>{-2, 0x1234}), 7u);
             EXPECT_EQ(cf_RPCPelRootCreate(d, 4, 3, std::vector<ccPackedRGB16Pel>{}), 8u);
         }},
        // -2.5 is 0xC004000000000000.
        {"create of doubles", false, {0, 1, 0, 0, 0},
         {kCreateDouble, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0xC0},
         [](ccRPCDestination d) { EXPECT_EQ(cf_RPCPelRootCreate(d, 1, 1, std::vector<double>{-2.5}), 1u); }},
        // Root, P value, rectangle (version 0, x0 y0 x1 y1), word, in/out word.
        {"fetch of 16-bit pels", false, {0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 3, 0, 0, 0, 0x11, 0x11, 0x33, 0x22, 0xFE, 0xFF},
         {kFetch16, 0, 0, 0, 0, 0, 0, 0, 4, 3, 2, 1, 0xCD, 0xAB, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0,
          9, 0, 0, 0, 7, 0, 0, 0},
         [](ccRPCDestination d) {
             int32_t inOut = 7;
             EXPECT_EQ(cf_RPCPelRootFetch<unsigned short>(d, 0x01020304, 0xABCD, ccPelRect(1, 2, 3, 1), 9, inOut),
                       (Shorts{0x1111, 0x2233, 0xFFFE}));
             EXPECT_EQ(inOut, -1);
         }},
        {"fetch of 16-bit pels, big-endian peer", true,
         {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 3, 0x11, 0x11, 0x22, 0x33, 0xFF, 0xFE},
         {kFetch16, 0, 0, 0, 0, 0, 0, 0, 4, 3, 2, 1, 0xCD, 0xAB, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0,
          9, 0, 0, 0, 7, 0, 0, 0},
         [](ccRPCDestination d) {
             int32_t inOut = 7;
             EXPECT_EQ(cf_RPCPelRootFetch<unsigned short>(d, 0x01020304, 0xABCD, ccPelRect(1, 2, 3, 1), 9, inOut),
                       (Shorts{0x1111, 0x2233, 0xFFFE}));
             EXPECT_EQ(inOut, 5);
         }},
        // 0.5 is 0x3FE0000000000000; a big-endian peer sends its most
        // significant byte first.
        {"fetch of doubles, big-endian peer", true,
         {0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0xC0, 0x04, 0, 0, 0, 0, 0, 0},
         {kFetchDouble, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         [](ccRPCDestination d) {
             int32_t inOut = 0;
             EXPECT_EQ(cf_RPCPelRootFetch<double>(d, 9, 0.5, ccPelRect(1, 1), 0, inOut), std::vector<double>{-2.5});
         }},

        // The roots' own traffic. A proxy of peer root 0x65 held by a
        // buffer: the first reference sends +1, the last release -1.
        {"references of a proxy root", false, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         {kChange, 0, 0, 0, 0, 0, 0, 0, 0x65, 0, 0, 0, 1, 0, 0, 0,
          kChange, 0, 0, 0, 0, 0, 0, 0, 0x65, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
         [](ccRPCDestination d) { ccPelBuffer<unsigned char> held(new Root8(d, 0x65, 8, 8)); }},
        // A copy here of (1, 1, 2, 2) of a root at the peer: a fetch whose P
        // value is 0, whose word is the transfer flag and whose in/out word
        // goes out as the target (0, this process).
        {"copy of a root at the peer to here", false,
         {0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 4, 0, 0, 0, 0x0A, 0x0B, 0x0C, 0x0D},
         {kFetch8, 0, 0, 0, 0, 0, 0, 0, 0x65, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0,
          1, 0, 0, 0, 0, 0, 0, 0},
         [](ccRPCDestination d) {
             const Root8 there(d, 0x65, 8, 8);
             std::unique_ptr<Root8> here(there.copyToDestination(ccPelRect(1, 1, 2, 2), ccRPCDestination(), true));
             ASSERT_TRUE(here && !here->destination());
             std::vector<unsigned char> pels;
             here->getWindow(ccPelRect(2, 2), pels);
             EXPECT_EQ(pels, (std::vector<unsigned char>{0x0A, 0x0B, 0x0C, 0x0D}));
         }},
        // A copy of (1, 0, 2, 2) of a root here to the peer: a create of its
        // rows there, which the new proxy names.
        {"copy of a root here to the peer", false, {0, 0x77, 0, 0, 0},
         {kCreate8, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 4, 0, 0, 0, 2, 3, 6, 7},
         [](ccRPCDestination d) {
             Root8 here(4, 2, 1);
             here.putWindow(ccPelRect(4, 2), std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8});
             std::unique_ptr<Root8> there(here.copyToDestination(ccPelRect(1, 0, 2, 2), d, false));
             ASSERT_TRUE(there);
             EXPECT_TRUE(there->destination() == d && there->remoteId() == 0x77u && there->width() == 2 &&
                         there->height() == 2);
         }},
    };
    for (const auto& r : rows) {
        const Sent sent = exchange(r.big, r.replies, r.call);
        EXPECT_EQ(sent.channel, cat({{0x02, 0x01}, r.requests})) << r.what;
    }
}

} // namespace
