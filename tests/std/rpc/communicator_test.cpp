#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include "std/rpc/communicator.h"
#include "std/rpc/remote.h"

namespace {

using Clock = std::chrono::steady_clock;

class Remote : public ccRemoteObject {
public:
    using ccRemoteObject::ccRemoteObject;
};

// Opens nothing; only its life matters here.
class Quiet : public ccCommunicator {
public:
    bool isSecondary() override { return false; }
    void connect(uint16_t, std::unique_ptr<ccCommStreambuf>&, std::unique_ptr<ccCommStreambuf>&, double) override {}
    void openChannel(uint16_t, std::unique_ptr<ccCommStreambuf>&, std::unique_ptr<ccCommStreambuf>&, double) override
    {
    }
};

// Asks whether a destination's object is at the peer, over and over, until
// the destination names nothing.
struct Looker {
    std::atomic<int> begun{0};
    std::atomic<int> answered{0};
    std::atomic<bool> gone{false};
    std::atomic<bool> wrong{false};

    void run(ccRPCDestination d)
    {
        for (;;) {
            begun.fetch_add(1);
            try {
                if (!Remote(d, 1).isAtPeer())
                    wrong = true;
            } catch (const ccRemoteObject::ObjectMismatch&) {
                gone = true;
                return;
            }
            answered.fetch_add(1);
        }
    }
};

// Its answer lives in a block that its destructor frees, so a look-up that
// reaches it afterwards reads freed memory (and one that comes after its
// derived part is gone calls a pure virtual). Before the base part goes, it
// lets the looker begin and finish one more look-up.
class Dying : public Quiet {
public:
    explicit Dying(Looker& looker) : looker_(looker) {}
    ~Dying() override
    {
        unlist();
        delete open_;
        const int seen = looker_.begun.load();
        const auto until = Clock::now() + std::chrono::seconds(2);
        while (!looker_.gone && looker_.begun.load() < seen + 2 && Clock::now() < until)
            std::this_thread::yield();
    }
    bool isClosed() override { return !*open_; }

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

// Stays inside isClosed until the test lets it go.
class Gated : public Quiet {
public:
    Gated(std::promise<void>& inside, std::shared_future<void> release) : inside_(inside), release_(release) {}
    ~Gated() override { unlist(); }
    bool isClosed() override
    {
        inside_.set_value();
        release_.wait();
        return false;
    }

private:
    std::promise<void>& inside_;
    std::shared_future<void> release_;
};

TEST(CommunicatorLifetime, DestructionWaitsForALookUpInsideIt)
{
    std::promise<void> inside;
    std::promise<void> release;
    auto* c = new Gated(inside, release.get_future().share());
    const ccRPCDestination d = c->destination();
    std::future<bool> atPeer = std::async(std::launch::async, [d] { return Remote(d, 1).isAtPeer(); });
    inside.get_future().wait();

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        delete c;
        destroyed = true;
    });
    // The id names nothing as soon as destruction begins...
    for (;;) {
        try {
            d.communicator();
        } catch (const ccRemoteObject::ObjectMismatch&) {
            break;
        }
        std::this_thread::yield();
    }
    EXPECT_THROW(Remote(d, 1).isAtPeer(), ccRemoteObject::ObjectMismatch);
    // ...but the object stays while the look-up is inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(destroyed);

    release.set_value();
    destroyer.join();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(atPeer.get());
}

} // namespace
