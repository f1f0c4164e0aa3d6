#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "std/rpc/remote.h"
#include "tests/support/fake_comm.h"

namespace {

class Remote : public ccRemoteObject {
public:
    using ccRemoteObject::ccRemoteObject;
};

// Destinations name live communicators by a 32-bit id; makeLocal forgets it.
TEST(RPCDestination, NamesLiveCommunicatorsAndRemoteObjectsAskThem)
{
    EXPECT_TRUE(ccRPCDestination().communicator() == nullptr && ccRPCDestination().isLocal());
    test_comm::Communicator a, b;
    EXPECT_TRUE(a.destination() != b.destination() && a.destination().communicator() == &a);
    // The id of a communicator that has gone is not given out again (and names nothing: a call to it raises).
    const ccRPCDestination gone = test_comm::goneDestination();
    test_comm::Communicator c;
    EXPECT_NE(c.destination(), gone);

    // A remote object asks its destination whether it is at the peer.
    c.closed = true; // the in-process proxy
    Remote r(a.destination(), 42);
    EXPECT_TRUE(r.destination() == a.destination() && r.remoteId() == 42 && r.isAtPeer());
    // Pels behind the in-process proxy are reached directly.
    EXPECT_FALSE(Remote(c.destination(), 1).isAtPeer());

    EXPECT_EQ(r.makeLocal(), 0);
    EXPECT_TRUE(r.destination().isLocal() && r.remoteId() == 0 && !r.isAtPeer());
}

// A look-up holds the communicator: destruction hides the id at once and
// waits for the look-up to leave (without the hold it would run on freed
// memory, which the sanitizers report).
TEST(CommunicatorLifetime, DestructionWaitsForALookUpInsideIt)
{
    std::promise<void> inside, release;
    auto* c = new test_comm::Communicator;
    c->isClosedHook = [&inside, released = release.get_future().share()] { // stays inside until the test lets it go
        inside.set_value();
        released.wait();
        return false;
    };
    const ccRPCDestination d = c->destination();
    std::future<bool> atPeer = std::async(std::launch::async, [d] { return Remote(d, 1).isAtPeer(); });
    inside.get_future().wait();

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] { delete c, destroyed = true; });
    // The id names nothing as soon as destruction begins...
    for (bool listed = true; listed; std::this_thread::yield()) {
        try {
            d.communicator();
        } catch (const ccRemoteObject::ObjectMismatch&) {
            listed = false;
        }
    }
    // ...but the object stays while the look-up is inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(destroyed);

    release.set_value();
    destroyer.join();
    EXPECT_TRUE(destroyed && atPeer.get());
}

} // namespace
