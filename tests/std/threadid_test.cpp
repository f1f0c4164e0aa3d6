#include "std/threadid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numeric>
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

void recordSelf(void* argument)
{
    *static_cast<Probe*>(argument) = {ccThreadID::current(), ccThreadID::priorityLevel()};
}

void waitForGo(void* event) { static_cast<ccEvent*>(event)->lock(HUGE_VAL); }

TEST(ThreadStart, RunsUnderItsOwnIdentityLeavesTheRegistryAndEveryJoinerReturns)
{
    Probe probe;
    ccThreadID thread = ccThreadID::start(&recordSelf, &probe, -1, 1 << 20);
    thread.join();
    EXPECT_TRUE(probe.seen == thread && ccThreadID::current() != thread);
    EXPECT_FALSE(ccThreadRegistry::remove(thread)); // it removed itself
    thread.join(), ccThreadID().join();             // finished, never started: return at once
    EXPECT_THROW(ccThreadID::start(nullptr, nullptr), ccThreadID::CreateFailed);

    ccEvent go(true, false);
    thread = ccThreadID::start(&waitForGo, &go);
    std::atomic<int> returned{0};
    auto joiner = [&] { thread.join(); ++returned; };
    std::thread first(joiner), second(joiner);
    go.set();
    first.join(), second.join();
    EXPECT_EQ(returned.load(), 2);

    std::atomic<bool> done{false}; // joining itself returns at once
    ccThreadID::start([](void* d) { ccThreadID::current().join(), *static_cast<std::atomic<bool>*>(d) = true; }, &done)
        .join();
    EXPECT_TRUE(done.load());
}

TEST(ThreadPriority, LevelsMapThroughTheTable)
{
    std::thread([] {
        plat::Handle self = plat::currentThreadHandle();
        ASSERT_NE(self, nullptr);
        EXPECT_EQ(ccThreadID::priorityLevel(), 3); // a new thread is normal
        // 7 is not in the table.
        for (auto [priority, level] : {std::pair{7, 6}, {-15, 0}, {2, 5}}) {
            plat::setThreadPriority(self, priority);
            EXPECT_EQ(ccThreadID::priorityLevel(), level) << priority;
        }
        // -1 inherits the starter's level; levels past the table are clamped.
        for (auto [asked, level] : {std::pair{-1, 5}, {1, 1}, {9, 6}}) {
            Probe probe;
            ccThreadID::start(&recordSelf, &probe, asked).join();
            EXPECT_EQ(probe.level, level) << asked;
        }
        plat::closeHandle(self);
    }).join();
}

std::vector<int> gRan;
Step gSteps[32];
std::atomic<bool> gThirtyThirdRefused{false};

void registerThirtyThree(void*)
{
    ccThreadID self = ccThreadID::current();
    for (int i = 0; i < 32; ++i)
        self.addExitHandler(&logStep, &(gSteps[i] = {&gRan, i, 0}));
    try {
        self.addExitHandler(&logStep, &gSteps[0]); // would log a 33rd entry
    } catch (const ccThreadID::CouldNotRegister&) {
        gThirtyThirdRefused = self->exitHandlerCount == 32;
    }
}

TEST(ThreadExitHandlers, OnlyTheThreadRegistersThirtyTwoThatRunLastRegisteredFirst)
{
    ccThreadID::start(&registerThirtyThree, nullptr).join();
    EXPECT_TRUE(gThirtyThirdRefused.load());
    std::vector<int> lastFirst(32);
    std::iota(lastFirst.rbegin(), lastFirst.rend(), 0);
    EXPECT_EQ(gRan, lastFirst);

    ccThreadID mine = ccThreadID::current();
    std::thread([&] { EXPECT_THROW(mine.addExitHandler(&logStep, nullptr), ccThreadID::CouldNotRegister); }).join();
}

TEST(ThreadExitHandlers, ARunCalledDirectlyStopsAtAThrowingHandlerAndADetachEndsTheBookkeeping)
{
    ccThreadID::current(); // the worker is not the first adopted: it gets the list's handler
    std::thread([] {
        std::vector<int> log;
        Step first{&log, 0, 0}, throwing{&log, 1, 1}, last{&log, 2, 0}, detached{&log, 7, 0};
        ccThreadID self = ccThreadID::current();
        const int32_t before = self->exitHandlerCount; // adoption added one
        for (Step* step : {&first, &throwing, &last})
            self.addExitHandler(&logStep, step);
        EXPECT_THROW(ccThreadID::runExitHandlers(), std::runtime_error);
        // It and the ones before it stay.
        EXPECT_EQ(std::pair(log, self->exitHandlerCount), std::pair(std::vector<int>{2, 1}, before + 2));
        ccThreadID::runExitHandlers();
        EXPECT_EQ(std::pair(log, self->exitHandlerCount), std::pair(std::vector<int>{2, 1, 1, 0}, 0));
        // Out of the adopted list, so carrying on means a new identity; the
        // old record goes with this handle, and the thread's exit must not
        // touch it.
        ccThreadID again = ccThreadID::current();
        EXPECT_TRUE(again != self);
        again.addExitHandler(&logStep, &detached);
        ccThreadID::detachCurrentThread();
        EXPECT_EQ(std::tuple(log.back(), again->exitHandlerCount, again.rawPointer()->refCount()), std::tuple(7, 0, 1));
        EXPECT_TRUE(ccThreadID::current() != again);
    }).join();
}

std::vector<int> gEntryLog;
Step gEntrySteps[3];

void throwingHandlerAndBody(void* what)
{
    ccThreadID self = ccThreadID::current();
    for (int i = 0; i < 3; ++i) {
        gEntrySteps[i] = {&gEntryLog, i, i == 1 ? 1 : 0}; // the middle one throws
        self.addExitHandler(&logStep, &gEntrySteps[i]);
    }
    void (*const throwers[])() = {[] { throw std::runtime_error("frame buffer gone"); }, [] { throw 42; },
                                  [] { throw ccBadPointer(); }, [] { throw cc_Resource::BrokenLock(); }};
    throwers[*static_cast<int*>(what)]();
}

TEST(ThreadEntry, AnyExceptionEndsOnlyItsThreadAndEveryHandlerStillRuns)
{
    const char* reported[] = {"frame buffer gone", "unknown type", nullptr, nullptr};
    for (int what = 0; what < 4; ++what) {
        gEntryLog.clear();
        testing::internal::CaptureStderr();
        ccThreadID thread = ccThreadID::start(&throwingHandlerAndBody, &what);
        thread.join();
        EXPECT_FALSE(ccThreadRegistry::remove(thread));
        const std::string err = testing::internal::GetCapturedStderr();
        // The throwing handler is reported and the one before it still runs.
        EXPECT_EQ(gEntryLog, (std::vector<int>{2, 1, 0})) << what;
        EXPECT_NE(err.find("an exit handler ended by handler failed"), std::string::npos) << err;
        // Library errors end quietly.
        const char* sought = reported[what] ? reported[what] : "its function";
        EXPECT_EQ(err.find(sought) != std::string::npos, reported[what] != nullptr) << err;
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
        EXPECT_TRUE(adopted == ccThreadID::current() && adopted != mainThread
                    && adopted->threadId.load() == plat::currentThreadId());
        adopted.addExitHandler(&noteSystemRecord, &systemAttachedInHandler);
    }).join();
    // The exit hook ran its handlers before the system layer let the thread go; only this handle still holds the
    // record: the adopted list has let it go.
    EXPECT_EQ(std::pair(systemAttachedInHandler, adopted.rawPointer()->refCount()), std::pair(1, 1));
    adopted.join(); // its thread has ended
}

TEST(ResourceBrokenLock, AStopRequestBreaksTheNextWaitEvenOnAFreeObject)
{
    ccMutex mutex;
    std::thread([&] {
        ccThreadID self = ccThreadID::current();
        ASSERT_TRUE(plat::releaseSemaphore(self->stopSemaphore, 1, nullptr));
        EXPECT_THROW(mutex.lock(HUGE_VAL), cc_Resource::BrokenLock);
        // The mutex was not taken, another thread is not stopped, and the
        // stop request was used up.
        std::thread([&] { EXPECT_TRUE(mutex.lock(0)); mutex.unlock(); }).join();
        EXPECT_TRUE(mutex.lock(0));
        mutex.unlock();
    }).join();
}

// ---- stopping all threads: process-wide and one-shot, so in a child ----

std::string gStopLog;
std::atomic<bool> gStartRefusedDuringStop{false};

// broke: rather than taking the mutex or timing out.
struct Blocked { char name; ccMutex* mutex; ccEvent started{true, false}; bool broke = false; };

bool startRefused()
{
    try {
        ccThreadID::start(&waitForGo, nullptr);
    } catch (const ccThreadID::CreateFailed&) {
        return true;
    }
    return false;
}

void onStopped(const ccThreadID&, void* argument)
{
    gStopLog += static_cast<Blocked*>(argument)->name;
    gStartRefusedDuringStop = gStartRefusedDuringStop || startRefused();
}

// A stop request that breaks the wait is noted in broke and goes on.
void lockNoting(ccMutex& mutex, double seconds, bool& broke)
{
    try {
        mutex.lock(seconds);
    } catch (const cc_Resource::BrokenLock&) {
        broke = true;
        throw;
    }
}

void blockOnMutex(void* argument)
{
    auto* blocked = static_cast<Blocked*>(argument);
    ccThreadID::current().addExitHandler(&onStopped, blocked);
    blocked->started.set();
    lockNoting(*blocked->mutex, HUGE_VAL, blocked->broke);
}

// A message loop that ends on the quit and then waits once more, which the
// stop request breaks; or returns, leaving the request unused, and locks in
// an exit handler.
struct Loop {
    explicit Loop(bool again) : waitAgain(again) {}
    bool waitAgain;
    ccEvent ready{true, false};
    ccMutex freeMutex;
    bool sawQuit = false, broke = false, cleanedUp = false;
};

void lockInExitHandler(const ccThreadID&, void* argument)
{
    ccResourceLock hold(static_cast<Loop*>(argument)->freeMutex);
    static_cast<Loop*>(argument)->cleanedUp = true;
}

void messageLoop(void* argument)
{
    auto* loop = static_cast<Loop*>(argument);
    if (!loop->waitAgain)
        ccThreadID::current().addExitHandler(&lockInExitHandler, loop);
    loop->ready.set();
    plat::ThreadMessage message{};
    do
        plat::waitForAnyOrMessage(nullptr, 0, plat::kInfiniteWait);
    while (!plat::peekThreadMessage(&message, true) || message.message != plat::kQuitMessage);
    loop->sawQuit = true;
    if (loop->waitAgain)
        lockNoting(loop->freeMutex, 0, loop->broke);
}

void stopAllStopsEveryThreadLastStartedFirst()
{
    Loop waiting(true), returning(false);
    ccThreadID::start(&messageLoop, &waiting);
    ccThreadID::start(&messageLoop, &returning);
    REQUIRE(waiting.ready.lock(HUGE_VAL) && returning.ready.lock(HUGE_VAL));
    ccMutex mutex(true);
    Blocked blocks[3] = {{'A', &mutex}, {'B', &mutex}, {'C', &mutex}};
    ccThreadID threads[3];
    for (int i = 0; i < 3; ++i) {
        threads[i] = ccThreadID::start(&blockOnMutex, &blocks[i]);
        REQUIRE(blocks[i].started.lock(HUGE_VAL));
    }
    ccStopAllThreads();
    REQUIRE(gStopLog == "CBA" && gStartRefusedDuringStop.load() && startRefused());
    for (int i = 0; i < 3; ++i)
        REQUIRE(blocks[i].broke && !ccThreadRegistry::remove(threads[i]));
    REQUIRE(waiting.sawQuit && waiting.broke && !waiting.cleanedUp);
    REQUIRE(returning.sawQuit && !returning.broke && returning.cleanedUp);
    // Nobody took the mutex from its owner; and stop-all again finds nothing.
    bool otherGot = true;
    std::thread([&] { otherGot = mutex.lock(0); }).join();
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
