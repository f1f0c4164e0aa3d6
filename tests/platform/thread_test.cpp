#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using plat::WaitStatus;

uint32_t returnArgument(void* argument) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument)); }

uint32_t waitForEvent(void* event)
{
    plat::waitFor(static_cast<plat::Handle>(event), plat::kInfiniteWait);
    return 7;
}

TEST(PlatThread, RunsTheFunctionAndReportsItsIdAndResult)
{
    uint32_t id = 0;
    plat::Handle thread = plat::createThread(&returnArgument, reinterpret_cast<void*>(uintptr_t{42}), &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, plat::currentThreadId());
    EXPECT_EQ(plat::threadIdOf(thread), id);
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    // A thread stays signalled for every later wait.
    EXPECT_EQ(plat::waitFor(thread, 0).status, WaitStatus::Signalled);
    uint32_t code = 0;
    bool running = true;
    ASSERT_TRUE(plat::getThreadExitCode(thread, &code, &running));
    EXPECT_FALSE(running);
    EXPECT_EQ(code, 42u);
    plat::closeHandle(thread);
    EXPECT_EQ(plat::createThread(nullptr, nullptr, nullptr), nullptr);
}

TEST(PlatThread, JoinWithTimeOutWhileRunningAndRecordedPriority)
{
    plat::Handle go = plat::createEvent(true, false);
    plat::Handle thread = plat::createThread(&waitForEvent, go, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(plat::waitFor(thread, 0).status, WaitStatus::TimedOut);
    EXPECT_EQ(plat::waitFor(thread, 5).status, WaitStatus::TimedOut);
    uint32_t code = 1;
    bool running = false;
    ASSERT_TRUE(plat::getThreadExitCode(thread, &code, &running));
    EXPECT_TRUE(running);
    EXPECT_EQ(code, 0u);

    int32_t priority = 99;
    ASSERT_TRUE(plat::getThreadPriority(thread, &priority));
    EXPECT_EQ(priority, 0);
    ASSERT_TRUE(plat::setThreadPriority(thread, 2));
    ASSERT_TRUE(plat::getThreadPriority(thread, &priority));
    EXPECT_EQ(priority, 2);
    EXPECT_FALSE(plat::setThreadPriority(go, 2)); // not a thread

    plat::setEvent(go);
    EXPECT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    ASSERT_TRUE(plat::getThreadExitCode(thread, &code, &running));
    EXPECT_EQ(code, 7u);
    plat::closeHandle(thread);
    plat::closeHandle(go);
}

TEST(PlatThread, AThreadTheLayerDidNotStartIsSignalledWhenItEnds)
{
    plat::Handle adopted = nullptr;
    std::thread worker([&] { adopted = plat::currentThreadHandle(); });
    worker.join();
    ASSERT_NE(adopted, nullptr);
    EXPECT_EQ(plat::waitFor(adopted, 0).status, WaitStatus::Signalled);
    plat::closeHandle(adopted);

    plat::Handle self = plat::currentThreadHandle();
    plat::Handle again = plat::currentThreadHandle();
    EXPECT_EQ(self, again);
    EXPECT_EQ(plat::threadIdOf(self), plat::currentThreadId());
    EXPECT_EQ(plat::waitFor(self, 0).status, WaitStatus::TimedOut);
    plat::closeHandle(self);
    plat::closeHandle(again);
}

// Exit callbacks are process-wide; these record only for the watched thread.
std::atomic<uint32_t> gWatched{0};
std::atomic<int> gCalls{0};
int gOrder[8];
uint32_t gTlsKey = 0;
void* gTlsSeen = nullptr;
bool gExitingSeen = false;

void record(int which)
{
    if (plat::currentThreadId() != gWatched.load())
        return;
    int at = gCalls++;
    if (at < 8)
        gOrder[at] = which;
}

void late() { record(3); }
void early() { record(1); }
void middle()
{
    if (plat::currentThreadId() == gWatched.load()) {
        plat::tlsGet(gTlsKey, &gTlsSeen);
        gExitingSeen = plat::threadIsExiting();
        // Using the layer here must not start the exit work again.
        plat::Handle event = plat::createEvent(false, true);
        plat::waitFor(event, 0);
        plat::closeHandle(event);
    }
    record(2);
}

uint32_t watchedThread(void*)
{
    gWatched = plat::currentThreadId();
    plat::tlsSet(gTlsKey, &gTlsKey);
    return 0;
}

TEST(PlatThreadExit, CallbacksRunByOrderThenRegistrationBeforeTheThreadIsSignalled)
{
    gCalls = 0;
    gTlsSeen = nullptr;
    gExitingSeen = false;
    ASSERT_TRUE(plat::tlsAlloc(&gTlsKey));
    ASSERT_TRUE(plat::addThreadExitCallback(&late, 500));
    ASSERT_TRUE(plat::addThreadExitCallback(&middle, 10));
    ASSERT_TRUE(plat::addThreadExitCallback(&early, 10 - 1));
    ASSERT_TRUE(plat::addThreadExitCallback(&middle, 1000)); // already there: stays at 10
    EXPECT_FALSE(plat::addThreadExitCallback(nullptr, 0));

    plat::Handle thread = plat::createThread(&watchedThread, nullptr, nullptr);
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    plat::closeHandle(thread);

    ASSERT_EQ(gCalls.load(), 3);
    EXPECT_EQ(gOrder[0], 1);
    EXPECT_EQ(gOrder[1], 2);
    EXPECT_EQ(gOrder[2], 3);
    EXPECT_EQ(gTlsSeen, &gTlsKey);
    EXPECT_TRUE(gExitingSeen);
    EXPECT_FALSE(plat::threadIsExiting());

    // A thread that the layer did not start runs them from the key destructor.
    gCalls = 0;
    gTlsSeen = nullptr;
    std::thread other([] { watchedThread(nullptr); });
    other.join();
    ASSERT_EQ(gCalls.load(), 3);
    EXPECT_EQ(gOrder[0], 1);
    EXPECT_EQ(gTlsSeen, &gTlsKey);
    gWatched = 0;
    plat::tlsFree(gTlsKey);
}

TEST(PlatTls, SlotsArePerThreadAndAFreedSlotIsRefused)
{
    uint32_t key = 0;
    ASSERT_TRUE(plat::tlsAlloc(&key));
    int mine = 1;
    int theirs = 2;
    void* value = &mine;
    ASSERT_TRUE(plat::tlsGet(key, &value));
    EXPECT_EQ(value, nullptr);
    ASSERT_TRUE(plat::tlsSet(key, &mine));
    std::thread other([&] {
        void* seen = &theirs;
        EXPECT_TRUE(plat::tlsGet(key, &seen));
        EXPECT_EQ(seen, nullptr);
        EXPECT_TRUE(plat::tlsSet(key, &theirs));
        EXPECT_TRUE(plat::tlsGet(key, &seen));
        EXPECT_EQ(seen, &theirs);
    });
    other.join();
    ASSERT_TRUE(plat::tlsGet(key, &value));
    EXPECT_EQ(value, &mine);

    ASSERT_TRUE(plat::tlsFree(key));
    EXPECT_FALSE(plat::tlsFree(key));
    EXPECT_FALSE(plat::tlsGet(key, &value));
    EXPECT_FALSE(plat::tlsSet(key, &mine));
    EXPECT_FALSE(plat::tlsGet(5000, &value));

    // The slot comes back empty for a thread that held a value in it before.
    uint32_t again = 0;
    ASSERT_TRUE(plat::tlsAlloc(&again));
    ASSERT_EQ(again, key);
    ASSERT_TRUE(plat::tlsGet(again, &value));
    EXPECT_EQ(value, nullptr);
    plat::tlsFree(again);
}

} // namespace
