// The module FIFO against a simulated driver module
// that behaves like a board: callbacks from its own threads, free run at a
// frame rate into a few module buffers, trigger enable and models, its own
// acquisition time-outs, a lost device and last errors per thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/trigmodel.h"
#include "modules/board.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::eventually;
using sim_module::sim;

enum Kind { kMovePart, kComplete, kOverrun };

// One callback as the library reported it.
struct Event {
    Kind kind;
    uint32_t ticket, flags;
    std::thread::id thread;
};

// What the callbacks saw; a test waits for it, never sleeps.
struct Events {
    void add(const Event& e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
        changed.notify_all();
    }
    // The events of kind once there are at least n of them (fewer after
    // ten seconds).
    std::vector<Event> wait(Kind kind, size_t n)
    {
        std::vector<Event> out;
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] {
            out.clear();
            std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                         [&](const Event& e) { return e.kind == kind; });
            return out.size() >= n;
        });
        return out;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;
};

std::vector<uint32_t> tickets(const std::vector<Event>& events)
{
    std::vector<uint32_t> out;
    std::transform(events.begin(), events.end(), std::back_inserter(out), [](const Event& e) { return e.ticket; });
    return out;
}

// Records each call, after running its action on the module's thread.
struct Recorder : ccAcqInfoCallback {
    Recorder(Events& events, Kind kind, std::function<void(const ccAcquireInfo&)> action = {})
        : events(events), kind(kind), action(std::move(action))
    {
    }
    void operator()(const ccAcquireInfo& info) override
    {
        if (action)
            action(info);
        events.add({kind, info.ticket, info.failure.flags, std::this_thread::get_id()});
    }
    Events& events;
    Kind kind;
    std::function<void(const ccAcquireInfo&)> action;
};

struct Completed {
    bool outcome = false;
    ccAcquireInfo info;
    ccPtrHandle<ccAcqImage> image;
    // The image holds the pels the module made for the ticket reported.
    bool framed() const
    {
        return image.rawPointer() && image->isValid() &&
               *image->grey8Buffer().pel(3, 4) == ccSimPel(3, 4, info.ticket, 0);
    }
};

Completed complete(cc_UnknownAcqFifo& fifo, double seconds)
{
    Completed c;
    c.image = fifo.completeAcqImage({false, seconds, 0, &c.outcome, &c.info});
    return c;
}

class SimBoard : public sim_module::FifoTest {
protected:
    SimBoard() : FifoTest({u"Sim Cam 64x8", 64, 8, 8, 0, 0, 1, 1}) {}
    void SetUp() override
    {
        const test_bytes::Bytes late = sim_module::archived(ccBoard::Timeout(L"no frame", 0));
        sim().setTimeoutError(late.data(), static_cast<uint32_t>(late.size()));
        sim().setFrameSize(64, 8);
    }
    void install(Kind kind, std::function<void(const ccAcquireInfo&)> action = {})
    {
        ccAcqInfoCallbackHandle callback(new Recorder(events_, kind, std::move(action)));
        switch (kind) {
        case kMovePart: fifo_->movePartInfoCallback(callback); break;
        case kComplete: fifo_->completeInfoCallback(callback); break;
        case kOverrun: fifo_->overrunInfoCallback(callback); break;
        }
    }

    Events events_; // callbacks still running reach it until the FIFO is gone
};

// The module's callbacks come from one thread, or from two.
class Threads : public SimBoard, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override
    {
        SimBoard::SetUp();
        sim().setCallbackThreads(GetParam());
    }
};

INSTANTIATE_TEST_SUITE_P(ModuleThreads, Threads, ::testing::Values(1u, 2u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return info.param == 1 ? std::string("One") : std::string("Two");
                         });

TEST_P(Threads, AClientCompletesFromItsCompleteCallbackWithoutWaiting)
{
    cc_UnknownAcqFifo& fifo = make();
    std::vector<std::tuple<uint32_t, bool, bool>> seen; // ticket, outcome, pels; on the module's thread only
    install(kComplete, [&](const ccAcquireInfo&) {
        try {
            const Completed c = complete(fifo, 0.0);
            seen.emplace_back(c.info.ticket, c.outcome, c.framed());
        } catch (const ccException&) {
            seen.emplace_back(~0u, false, false); // nothing was ready
        }
    });
    ASSERT_TRUE(fifo.start(4) && fifo.start(5));
    ASSERT_EQ(events_.wait(kComplete, 2).size(), 2u);
    fifo_.reset(); // its threads are joined: seen is the test's again
    EXPECT_EQ(seen, (std::vector<std::tuple<uint32_t, bool, bool>>{{4, true, true}, {5, true, true}}));
}

TEST_P(Threads, MovePartCompleteAndOverrunCallbacksCarryTheirTickets)
{
    sim().setBufferCount(1); // the first frame holds the only buffer
    cc_UnknownAcqFifo& fifo = make();
    install(kMovePart);
    install(kComplete);
    install(kOverrun);
    for (uint32_t t = 0; t < 3; ++t)
        ASSERT_TRUE(fifo.start(t));
    const std::vector<Event> overruns = events_.wait(kOverrun, 2), completes = events_.wait(kComplete, 1),
                             moves = events_.wait(kMovePart, 1);
    EXPECT_EQ(tickets(moves), std::vector<uint32_t>{0});
    EXPECT_EQ(tickets(completes), std::vector<uint32_t>{0});
    ASSERT_EQ(tickets(overruns), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(overruns[0].flags, uint32_t{ccSimFailedOverrun});
    EXPECT_EQ(completes[0].flags, 0u);
    // With two threads move part comes from one, complete and overrun from the other.
    EXPECT_EQ(moves[0].thread == completes[0].thread, GetParam() == 1);
    EXPECT_EQ(overruns[0].thread, completes[0].thread);
    const std::tuple<uint32_t, bool, bool> expected[] = {{0, true, true}, {1, false, false}, {2, false, false}};
    for (const auto& [ticket, outcome, framed] : expected) {
        const Completed c = complete(fifo, 5.0);
        EXPECT_EQ(std::make_tuple(c.info.ticket, c.outcome, c.framed()), std::make_tuple(ticket, outcome, framed));
    }
}

TEST_P(Threads, AFifoDestroyedFromItsOwnCallbackLetsGoOfEverything)
{
    for (Kind kind : {kMovePart, kComplete}) {
        SCOPED_TRACE(kind);
        make();
        install(kind, [this](const ccAcquireInfo&) { fifo_.reset(); });
        sim().setTriggered(1); // delivered only once this thread is done with the FIFO
        ASSERT_TRUE(fifo_->start(1));
        sim().softwareTrigger();
        ASSERT_EQ(events_.wait(kind, 1).size(), 1u);
        EXPECT_TRUE(eventually([] { return sim().liveFifos() == 0; }));
        EXPECT_EQ(sim().liveFrames(), 0u);
    }
}

// Runs what; a deadlock ends the run with a failure instead of hanging it.
void withinSeconds(int seconds, const std::function<void()>& what)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; })) {
            std::fprintf(stderr, "deadlocked\n");
            std::abort();
        }
    });
    what();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    changed.notify_all();
    watchdog.join();
}

// The board closes while a complete callback uses the FIFO: the callback
// meets MissingFunctionality once the FIFO has let go of the module, and
// then either destroys the FIFO itself or returns while the client does.
TEST_P(Threads, ACallbackUsingItsFifoWhileTheBoardClosesMeetsMissingFunctionality)
{
    for (const bool destroyedInCallback : {true, false}) {
        SCOPED_TRACE(destroyedInCallback ? "destroyed in the callback" : "destroyed by the client");
        cc_UnknownAcqFifo& fifo = make();
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false, finished = false, unexpected = false;
        uint32_t refusals = 0;
        install(kComplete, [&](const ccAcquireInfo&) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                entered = true;
            }
            changed.notify_all();
            // Until both have been refused ten times over.
            const auto gone = [&](const std::function<void()>& use) {
                try {
                    use();
                } catch (const ccUnknownFG::MissingFunctionality&) {
                    return true;
                } catch (...) {
                    unexpected = true;
                }
                return false;
            };
            for (int i = 0; i < 10000 && refusals < 10 && !unexpected; ++i) {
                const bool exposure = gone([&] { fifo.exposure(0.01); });
                const bool pending = gone([&] { (void)fifo.pendingAcqs(); });
                // The property query asks the module too; once the board is
                // gone it supports nothing.
                const bool queried = fifo.propertyQuery()->exposureProp() == nullptr;
                refusals += exposure && pending && queried;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (destroyedInCallback)
                fifo_.reset();
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
            changed.notify_all();
        });
        ASSERT_TRUE(fifo.start(1));
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return entered; });
        }
        withinSeconds(20, [&] {
            grabber_.reset();
            std::unique_lock<std::mutex> lock(mutex);
            if (!destroyedInCallback) {
                lock.unlock();
                fifo_.reset(); // waits for the callback, which uses it
                lock.lock();
                EXPECT_TRUE(finished);
            }
            changed.wait(lock, [&] { return finished; });
        });
        EXPECT_EQ(refusals, 10u);
        EXPECT_FALSE(unexpected);
        EXPECT_TRUE(eventually([] { return sim().liveFifos() == 0; }));
        grabber_.reset(cc_UnknownFrameGrabber::create(board_.module, board_.board.get()));
    }
}

// The arguments of a completion that waits without limit.
struct EndlessCompletion final : ccITemp_CompleteArgs_v0 {
    int32_t query(ccIUnknown** out, int32_t) override { return *out = nullptr, 1; }
    uint32_t addRef() override { return 1; }
    uint32_t release() override { return 1; }
    int32_t firstFlag(uint32_t* flag) override { return *flag = 0; }
    int32_t secondFlag(uint32_t* flag) override { return *flag = 0; }
    int32_t timeout(double* seconds) override { return *seconds = HUGE_VAL, 0; }
    int32_t setStatus(uint32_t) override { return 0; }
    int32_t readInfo(ccIUnknown*) override { return 0; }
};

// As a board's does, the module FIFO's release ends a completion waiting on it.
TEST_F(SimBoard, ReleasingAModuleFifoEndsTheCompletionWaitingOnIt)
{
    cc_ModPtr<ccIUnknown> made;
    ASSERT_EQ(grabber_->core()->createFifo(made.put(), record_.name), 0);
    cc_ModPtr<ccIAcqFifo_Core> core = ccModQuery<ccIAcqFifo_Core>(made.get(), ccIidFifoCore);
    made.reset();
    ASSERT_TRUE(core);
    ccIAcqFifo_Core* const waitedOn = core.get();
    int32_t status = 0;
    ccIUnknown* result = nullptr;
    std::thread waiter([&] {
        EndlessCompletion args;
        status = waitedOn->complete(&args, &result);
    });
    ASSERT_TRUE(eventually([] { return sim().callCount(ccIidFifoCore, 4) == 1; }));
    withinSeconds(20, [&] {
        core.reset();
        waiter.join();
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(result, nullptr);
}

TEST_F(SimBoard, FreeRunFillsTheModuleBuffersAndOverrunsWhenTheClientFallsBehind)
{
    sim().setTriggerControl(1);
    sim().setFrameRate(2000);
    sim().setBufferCount(2);
    cc_UnknownAcqFifo& fifo = make();
    install(kOverrun);
    fifo.triggerModel(ccTriggerModel::freeRun()->record());
    EXPECT_FALSE(fifo.start(9)); // free run takes no software start
    fifo.triggerEnable(true);
    // Two frames fill the buffers; the frames after them are lost.
    const std::vector<Event> overruns = events_.wait(kOverrun, 3);
    ASSERT_GE(overruns.size(), 3u);
    EXPECT_EQ(overruns[0].ticket, 2u);
    EXPECT_EQ(overruns[1].ticket, 3u);
    for (uint32_t t = 0; t < 2; ++t) {
        const Completed c = complete(fifo, 0.0);
        EXPECT_TRUE(c.outcome && c.framed());
        EXPECT_EQ(c.info.ticket, t);
    }
    // Once the client has let its frames go, frames come again.
    const Completed later = complete(fifo, 5.0);
    EXPECT_TRUE(later.outcome && later.framed());
    EXPECT_GT(later.info.ticket, overruns[1].ticket);
    fifo.triggerEnable(false);
}

TEST_F(SimBoard, TriggerEnableAndTheTriggerModelDecideWhatAcquires)
{
    sim().setTriggerControl(1);
    ccPtrHandle<ccTriggerModel> triggeredCustom = ccTriggerModel::semiAutomatic()->makeCustom(),
                                startedCustom = ccTriggerModel::manual()->makeCustom();
    const struct {
        const char* what;
        ccPtrHandle<ccTriggerModel> model;
        bool enabled, trigger; // what the acquisition waits for
    } kCases[] = {
        {"manual", ccTriggerModel::manual(), true, false},
        {"manual, disabled", ccTriggerModel::manual(), false, false},
        {"automatic", ccTriggerModel::automatic(), true, true},
        {"custom with a hardware trigger", triggeredCustom, true, true},
        {"custom with a software start", startedCustom, true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        cc_UnknownAcqFifo& fifo = make();
        fifo.triggerModel(c.model->record());
        fifo.triggerEnable(c.enabled);
        ASSERT_TRUE(fifo.start(1));
        if (c.trigger || !c.enabled) {
            EXPECT_THROW(complete(fifo, 0.02), ccBoard::Timeout);
            EXPECT_EQ(fifo.pendingAcqs(), 1u);
        }
        fifo.triggerEnable(true);
        if (c.trigger)
            sim().softwareTrigger();
        const Completed done = complete(fifo, 5.0);
        EXPECT_TRUE(done.outcome && done.framed());
    }
}

TEST_F(SimBoard, AnAcquisitionNotMadeWithinTheFifosTimeOutEndsFailed)
{
    sim().setTriggerControl(1);
    cc_UnknownAcqFifo& fifo = make();
    fifo.triggerModel(ccTriggerModel::semiAutomatic()->record()); // no trigger will come
    fifo.triggerEnable(true);
    fifo.timeout(0.02);
    ASSERT_TRUE(fifo.start(5));
    const Completed c = complete(fifo, 5.0);
    EXPECT_FALSE(c.outcome);
    EXPECT_FALSE(c.framed());
    EXPECT_EQ(std::make_tuple(c.info.ticket, c.info.failure.flags), std::make_tuple(5u, uint32_t{ccSimFailedTimeout}));
}

TEST_F(SimBoard, EveryCallOfALostDeviceRaisesItsError)
{
    cc_UnknownAcqFifo& fifo = make();
    install(kComplete);
    sim().setTriggered(1);
    ASSERT_TRUE(fifo.start(1)); // waits for a trigger that comes too late
    const test_bytes::Bytes gone = sim_module::archived(ccBoard::HardwareNotResponding(L"gone", 7));
    sim().setDeviceLost(1, gone.data(), static_cast<uint32_t>(gone.size()));
    sim().softwareTrigger();
    const std::function<void()> kCalls[] = {
        [&] { fifo.start(2); },
        [&] { complete(fifo, 0.0); },
        [&] { fifo.flush(); },
        [&] { fifo.exposure(0.01); },
    };
    for (size_t i = 0; i < std::size(kCalls); ++i)
        EXPECT_THROW(kCalls[i](), ccBoard::HardwareNotResponding) << "call " << i;
}

TEST_F(SimBoard, EachThreadGetsItsOwnLastError)
{
    cc_UnknownAcqFifo& fifo = make();
    const test_bytes::Bytes mine = sim_module::archived(ccBoard::Timeout(L"main", 1)),
                            theirs = sim_module::archived(ccBoard::HardwareNotResponding(L"other", 2));
    sim().setLastError(mine.data(), static_cast<uint32_t>(mine.size()), ccSimErrorBytes);
    // A failure that stores nothing new reports the calling thread's error.
    bool otherRaisedItsOwn = false;
    std::thread other([&] {
        sim().setLastError(theirs.data(), static_cast<uint32_t>(theirs.size()), ccSimErrorBytes);
        sim().failNext(ccIidFifoCore, 16, nullptr, 0, ccSimErrorKept);
        try {
            fifo.pendingAcqs();
        } catch (const ccBoard::HardwareNotResponding&) {
            otherRaisedItsOwn = true;
        }
    });
    other.join();
    EXPECT_TRUE(otherRaisedItsOwn);
    sim().failNext(ccIidFifoCore, 16, nullptr, 0, ccSimErrorKept);
    EXPECT_THROW(fifo.pendingAcqs(), ccBoard::Timeout);
}

} // namespace
