#include "std/threadid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "std/except/resource.h"
#include "system/csys_shutdown.h"
#include "tests/support/child_check.h"
#include "tests/support/child_exit.h"

namespace {

// An exit handler's argument: it logs its index, and throws while throwsLeft.
struct Step { std::vector<int>* log; int index; int throwsLeft; };

void logStep(const ccThreadID&, void* argument)
{
    auto* step = static_cast<Step*>(argument);
    step->log->push_back(step->index);
    if (step->throwsLeft-- > 0)
        throw std::runtime_error("handler failed");
}

struct Probe { ccThreadID seen; int32_t level = -2; };

void recordSelf(void* probe) { *static_cast<Probe*>(probe) = {ccThreadID::current(), ccThreadID::priorityLevel()}; }

// Only the thread itself registers, thirty-two at most; a run called directly stops at a throwing handler, which
// stays with those before it.
TEST(ThreadExitHandlers, ThirtyTwoByTheThreadOnlyADirectRunStopsAtAThrowAndADetachEndsTheBookkeeping)
{
    ccThreadID mine = ccThreadID::current(); // the worker is not the first adopted: it gets the list's handler
    std::thread([&] {
        EXPECT_THROW(mine.addExitHandler(&logStep, nullptr), ccThreadID::CouldNotRegister);
        std::vector<int> log;
        Step first{&log, 0, 0}, throwing{&log, 1, 1}, last{&log, 2, 0}, detached{&log, 7, 0};
        ccThreadID self = ccThreadID::current();
        const int32_t before = self->exitHandlerCount; // adoption added one
        for (Step* step : {&first, &throwing, &last})
            self.addExitHandler(&logStep, step);
        EXPECT_THROW(ccThreadID::runExitHandlers(), std::runtime_error);
        EXPECT_EQ(std::pair(log, self->exitHandlerCount), std::pair(std::vector<int>{2, 1}, before + 2));
        ccThreadID::runExitHandlers();
        EXPECT_EQ(std::pair(log, self->exitHandlerCount), std::pair(std::vector<int>{2, 1, 1, 0}, 0));
        // Out of the adopted list, so carrying on means a new identity; the old record goes with this handle, and the
        // thread's exit must not touch it.
        ccThreadID again = ccThreadID::current();
        again.addExitHandler(&logStep, &detached);
        while (again->exitHandlerCount < 32)
            again.addExitHandler([](const ccThreadID&, void*) {}, nullptr);
        EXPECT_THROW(again.addExitHandler(&logStep, &detached), ccThreadID::CouldNotRegister);
        ccThreadID::detachCurrentThread();
        EXPECT_EQ(std::tuple(log.back(), again->exitHandlerCount, again.rawPointer()->refCount()), std::tuple(7, 0, 1));
        EXPECT_TRUE(again != self && ccThreadID::current() != again);
    }).join();
}

std::atomic<int> gRanAfterThrow{0};

void throwingHandlerAndBody(void* what)
{
    ccThreadID self = ccThreadID::current();
    self.addExitHandler([](const ccThreadID&, void*) { ++gRanAfterThrow; }, nullptr);
    self.addExitHandler([](const ccThreadID&, void*) { throw std::runtime_error("handler failed"); }, nullptr);
    void (*const throwers[])() = {[] { throw std::runtime_error("frame buffer gone"); }, [] { throw 42; },
                                  [] { throw ccBadPointer(); }};
    throwers[*static_cast<int*>(what)]();
}

// A thread runs under its own identity and priority level (-1 inherits the starter's, normal: 3; levels past the
// table are clamped) and leaves the registry; any exception ends only its thread, and every exit handler still runs.
TEST(ThreadStart, RunsUnderItsOwnIdentityAndLevelAnyExceptionEndsOnlyItsThreadAndEveryHandlerStillRuns)
{
    Probe probe, clamped;
    ccThreadID thread = ccThreadID::start(&recordSelf, &probe, -1, 1 << 20);
    thread.join();
    ccThreadID::start(&recordSelf, &clamped, 9).join();
    EXPECT_TRUE(probe.seen == thread && ccThreadID::current() != thread);
    EXPECT_EQ(std::pair(probe.level, clamped.level), std::pair(3, 6));
    EXPECT_FALSE(ccThreadRegistry::remove(thread)); // it removed itself
    thread.join(), ccThreadID().join();             // finished, never started: return at once
    EXPECT_THROW(ccThreadID::start(nullptr, nullptr), ccThreadID::CreateFailed);

    const char* reported[] = {"frame buffer gone", "unknown type", "its function"}; // library errors end quietly
    for (int what = 0; what < 3; ++what) {
        testing::internal::CaptureStderr();
        ccThreadID::start(&throwingHandlerAndBody, &what).join();
        const std::string err = testing::internal::GetCapturedStderr();
        // The throwing handler is reported and the one before it still runs.
        EXPECT_EQ(std::tuple(err.find("an exit handler ended by handler failed") != err.npos,
                             err.find(reported[what]) != err.npos, gRanAfterThrow.load()),
                  std::tuple(true, what < 2, what + 1)) << err;
    }
}

void noteSystemRecord(const ccThreadID&, void* has)
{
    EXPECT_EQ(csys_threadHasRecord(static_cast<int32_t*>(has)), csysOk);
}

TEST(ThreadAdoption, AForeignThreadIsAdoptedAtItsFirstWaitAndLetGoWhenItEnds)
{
    ccThreadID mainThread = ccThreadID::current(); // the std::thread below is not the first adopted
    ccThreadID adopted;
    int32_t systemAttachedInHandler = -1;
    std::thread([&] {
        csys_threadHandle system = nullptr;
        ASSERT_TRUE(csys_threadGetCurrent(&system) == csysOk && csys_threadHandleRelease(&system) == csysOk);
        ccEvent event(false, true);
        EXPECT_TRUE(event.lock(0)); // adopts the thread
        adopted = ccThreadID::current();
        EXPECT_TRUE(adopted != mainThread && adopted->threadId.load() == plat::currentThreadId());
        adopted.addExitHandler(&noteSystemRecord, &systemAttachedInHandler);
    }).join();
    // The exit hook ran its handlers before the system layer let the thread go; only this handle still holds the
    // record: the adopted list has let it go.
    EXPECT_EQ(std::pair(systemAttachedInHandler, adopted.rawPointer()->refCount()), std::pair(1, 1));
    adopted.join(); // its thread has ended
}

// ---- stopping all threads: process-wide and one-shot, so in a child ----

std::string gStopLog;

bool startRefused()
{
    try {
        ccThreadID::start([](void*) {}, nullptr);
    } catch (const ccThreadID::CreateFailed&) {
        return true;
    }
    return false;
}

// A thread blocked on a held mutex, which only the stop request can end, or a message loop that returns on the
// quit, leaving the request unused, and locks in its exit handler.
struct Waiter {
    char name;
    ccMutex* mutex;
    bool loop;
    ccEvent ready{true, false};
    bool cleanedUp = false;
};

void onStopped(const ccThreadID&, void* argument)
{
    auto* waiter = static_cast<Waiter*>(argument);
    gStopLog += waiter->name;
    if (waiter->loop) {
        ccResourceLock hold(*waiter->mutex);
        waiter->cleanedUp = true;
    }
}

void waitThere(void* argument)
{
    auto* waiter = static_cast<Waiter*>(argument);
    ccThreadID::current().addExitHandler(&onStopped, waiter);
    waiter->ready.set();
    plat::ThreadMessage message{};
    while (waiter->loop && (!plat::peekThreadMessage(&message, true) || message.message != plat::kQuitMessage))
        plat::waitForAnyOrMessage(nullptr, 0, plat::kInfiniteWait);
    if (!waiter->loop)
        waiter->mutex->lock(HUGE_VAL);
}

void stopAllStopsEveryThreadLastStartedFirst()
{
    ccMutex held(true), free;
    Waiter waiters[3] = {{'R', &free, true}, {'A', &held, false}, {'B', &held, false}};
    ccThreadID threads[3];
    for (int i = 0; i < 3; ++i) {
        threads[i] = ccThreadID::start(&waitThere, &waiters[i]);
        REQUIRE(waiters[i].ready.lock(HUGE_VAL));
    }
    ccStopAllThreads();
    REQUIRE(gStopLog == "BAR" && startRefused());
    for (int i = 0; i < 3; ++i)
        REQUIRE(waiters[i].cleanedUp == waiters[i].loop && !ccThreadRegistry::remove(threads[i]));
    // Nobody took the mutex from its owner; and stop-all again finds nothing.
    bool otherGot = true;
    std::thread([&] { otherGot = held.lock(0); }).join();
    REQUIRE(!otherGot);
    ccStopAllThreads();
    childExit(0);
}

TEST(ThreadStopAll, BreaksEveryWaitRunsExitHandlersAndRefusesNewThreads)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(stopAllStopsEveryThreadLastStartedFirst(), ::testing::ExitedWithCode(0), "");
}

} // namespace
