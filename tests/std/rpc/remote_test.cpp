#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "std/except/persist.h"
#include "std/rpc/remote.h"
#include "std/rpc/startup.h"
#include "tests/std/rpc/loopback.h"
#include "tests/support/bytes.h"

namespace {

using test_bytes::Bytes;

class Remote : public ccRemoteObject {
public:
    using ccRemoteObject::ccRemoteObject;
};

TEST(RPCDestination, NamesLiveCommunicatorsByA32BitId)
{
    EXPECT_EQ(ccRPCDestination().communicator(), nullptr);
    EXPECT_TRUE(ccRPCDestination().isLocal());

    std::set<uint32_t> ids;
    uint32_t goneId = 0;
    {
        loopback::Communicator a;
        loopback::Communicator b;
        EXPECT_NE(a.destination().id(), 0u);
        EXPECT_NE(a.destination(), b.destination());
        EXPECT_EQ(a.destination().communicator(), &a);
        EXPECT_EQ(ccRPCDestination(b.destination().id()).communicator(), &b);
        goneId = a.destination().id();
    }
    // The id of a communicator that has gone names nothing.
    EXPECT_THROW(ccRPCDestination(goneId).communicator(), ccRemoteObject::ObjectMismatch);
    EXPECT_THROW(ccRPCDestination(0xFFFFFFF0u).communicator(), ccRemoteObject::ObjectMismatch);
    // A new communicator does not take the id back.
    loopback::Communicator c;
    EXPECT_NE(c.destination().id(), goneId);
}

TEST(RemoteObject, MakeLocalForgetsThePeer)
{
    loopback::Communicator c;
    Remote r(c.destination(), 42);
    EXPECT_EQ(r.destination(), c.destination());
    EXPECT_EQ(r.remoteId(), 42u);
    EXPECT_EQ(r.makeLocal(), 0);
    EXPECT_TRUE(r.destination().isLocal());
    EXPECT_EQ(r.remoteId(), 0u);
}

TEST(RemoteObject, IsAtPeerAsksTheDestination)
{
    loopback::Communicator open;
    loopback::Communicator proxy;
    proxy.closed = true;
    EXPECT_TRUE(Remote(open.destination(), 1).isAtPeer());
    // Pels behind the in-process proxy are reached directly.
    EXPECT_FALSE(Remote(proxy.destination(), 1).isAtPeer());
    EXPECT_FALSE(Remote().isAtPeer());

    uint32_t goneId;
    {
        loopback::Communicator gone;
        goneId = gone.destination().id();
    }
    EXPECT_THROW(Remote(ccRPCDestination(goneId), 1).isAtPeer(), ccRemoteObject::ObjectMismatch);
}

TEST(RemoteObject, ObjectMismatchIsAnArchivableError)
{
    ccStdRpcStartup();
    ccRemoteObject::ObjectMismatch e;
    EXPECT_EQ(e.code(), 0x10002600u);
    EXPECT_EQ(e.message(), L"no further information provided");
    EXPECT_EQ(e.message(true), L"ccRemoteObject::ObjectMismatch: no further information provided");

    ccPersistentFactory make = ccFindFactory("class ccRemoteObject::ObjectMismatch");
    ASSERT_NE(make, nullptr);
    std::unique_ptr<ccPersistent> made(make());
    EXPECT_NE(dynamic_cast<ccRemoteObject::ObjectMismatch*>(made.get()), nullptr);

    // Its version byte, then the ccException and ccPersistent levels.
    const Bytes stored =
        test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(stored, (Bytes{0x02, 0x01, 0x00, 0x00, 0x00}));
    try {
        test_bytes::load(Bytes{0x02, 0x01, 0x01, 0x00, 0x00}, [&](ccArchive& ar) { ccArchiveObject(*made, ar, false); });
        FAIL() << "a newer version was accepted";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), L"ccRemoteObject::ObjectMismatch");
    }
}

} // namespace
