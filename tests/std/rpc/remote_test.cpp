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
    EXPECT_TRUE(a.destination().id() != 0 && a.destination() != b.destination() && a.destination().communicator() == &a);
    EXPECT_EQ(ccRPCDestination(b.destination().id()).communicator(), &b);
    // The id of a communicator that has gone names nothing, and is not given out again.
    const ccRPCDestination gone = test_comm::goneDestination();
    EXPECT_THROW(gone.communicator(), ccRemoteObject::ObjectMismatch);
    EXPECT_THROW(ccRPCDestination(0xFFFFFFF0u).communicator(), ccRemoteObject::ObjectMismatch);
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

// Asks whether a destination's object is at the peer, over and over, until
// the destination names nothing.
struct Looker {
    std::atomic<int> begun{0};
    std::atomic<int> answered{0};
    std::atomic<bool> gone{false};
    std::atomic<bool> wrong{false};

    void run(ccRPCDestination d)
    {
        for (;; answered.fetch_add(1)) {
            begun.fetch_add(1);
            try {
                if (!Remote(d, 1).isAtPeer())
                    wrong = true;
            } catch (const ccRemoteObject::ObjectMismatch&) {
                gone = true;
                return;
            }
        }
    }
};

// Its answer lives in a block that its destructor frees, so a look-up that
// reaches it afterwards reads freed memory (and one that comes after its
// derived part is gone calls a pure virtual). Before the base part goes, it
// lets the looker begin and finish one more look-up.
class Dying : public test_comm::Communicator {
public:
    explicit Dying(Looker& looker) : looker_(looker) { isClosedHook = [this] { return !*open_; }; }
    ~Dying() override
    {
        unlist();
        delete open_;
        const int seen = looker_.begun.load();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!looker_.gone && looker_.begun.load() < seen + 2 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }

private:
    Looker& looker_;
    bool* open_ = new bool(true);
};

TEST(CommunicatorLifetime, DestroyedWhileAnotherThreadLooksItUp)
{
    for (int round = 0; round < 10; ++round) {
        Looker looker;
        auto* c = new Dying(looker);
        std::thread t([&looker, d = c->destination()] { looker.run(d); });
        while (looker.answered.load() == 0)
            std::this_thread::yield();
        delete c;
        t.join();
        EXPECT_TRUE(looker.gone) << round;
        EXPECT_FALSE(looker.wrong) << round;
    }
}

TEST(CommunicatorLifetime, DestructionWaitsForALookUpInsideIt)
{
    std::promise<void> inside, release;
    std::shared_future<void> released = release.get_future().share();
    auto* c = new test_comm::Communicator;
    c->isClosedHook = [&] { // stays inside until the test lets it go
        inside.set_value();
        released.wait();
        return false;
    };
    const ccRPCDestination d = c->destination();
    std::future<bool> atPeer = std::async(std::launch::async, [d] { return Remote(d, 1).isAtPeer(); });
    inside.get_future().wait();

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        delete c;
        destroyed = true;
    });
    // The id names nothing as soon as destruction begins...
    for (bool listed = true; listed; std::this_thread::yield()) {
        try {
            d.communicator();
        } catch (const ccRemoteObject::ObjectMismatch&) {
            listed = false;
        }
    }
    EXPECT_THROW(Remote(d, 1).isAtPeer(), ccRemoteObject::ObjectMismatch);
    // ...but the object stays while the look-up is inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(destroyed);

    release.set_value();
    destroyer.join();
    EXPECT_TRUE(destroyed && atPeer.get());
}

} // namespace
