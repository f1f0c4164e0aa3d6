#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/event_log_testing.h"
#include "platform/thread_testing.h"
#include "tests/support/child_check.h"

namespace {

using plat::Handle;
using plat::ThreadMessage;
using plat::WaitStatus;

// The exit code and whether the thread still runs.
std::tuple<uint32_t, bool> exitState(Handle thread)
{
    uint32_t code = 1;
    bool running = false;
    EXPECT_TRUE(plat::getThreadExitCode(thread, &code, &running));
    return {code, running};
}

uint32_t waitForEvent(void* event)
{
    plat::waitFor(static_cast<Handle>(event), plat::kInfiniteWait);
    return 7;
}

TEST(PlatThread, RunsTheFunctionReportsItsIdPriorityAndResultAndStaysSignalled)
{
    Handle go = plat::createEvent(true, false);
    uint32_t id = 0;
    Handle thread = plat::createThread(&waitForEvent, go, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(id != 0 && id != plat::currentThreadId()) << id;
    EXPECT_EQ(std::tuple(plat::threadIdOf(thread), plat::threadIdOf(go)), std::tuple(id, 0u));
    EXPECT_EQ(plat::waitFor(thread, 5).status, WaitStatus::TimedOut);
    EXPECT_EQ(exitState(thread), std::tuple(0u, true));

    int32_t before = 99, after = 99;
    ASSERT_TRUE(plat::getThreadPriority(thread, &before) && plat::setThreadPriority(thread, 2) &&
                plat::getThreadPriority(thread, &after));
    EXPECT_EQ(std::tuple(before, after), std::tuple(0, 2));
    uint32_t code = 0;
    bool running = false;
    EXPECT_FALSE(plat::setThreadPriority(go, 2) || plat::getThreadPriority(go, &after) ||
                 plat::getThreadExitCode(go, &code, &running)); // not a thread

    plat::setEvent(go);
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(thread, 0).status, WaitStatus::Signalled); // and stays so
    EXPECT_EQ(exitState(thread), std::tuple(7u, false));
    plat::closeHandle(thread);
    plat::closeHandle(go);
    EXPECT_EQ(plat::createThread(nullptr, nullptr, nullptr), nullptr);
}

// A thread's own nice value, read by its kernel id.
int niceOf(uint32_t threadId)
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, threadId);
    EXPECT_EQ(errno, 0) << threadId;
    return nice;
}

// Priorities are nice values five apart from the process's own (its main
// thread's), idle the weakest the system has. Lowering is always allowed, so
// each is applied for real, to a thread of its own.
TEST(PlatThreadPriority, LoweringAThreadsPrioritySetsItsNiceValue)
{
    const int process = niceOf(static_cast<uint32_t>(getpid()));
    const struct { int32_t priority; int nice; } cases[] = {
        {-1, std::min(process + 5, 19)}, {-2, std::min(process + 10, 19)}, {-15, 19}};
    for (const auto& c : cases) {
        Handle go = plat::createEvent(true, false);
        uint32_t id = 0;
        Handle thread = plat::createThread(&waitForEvent, go, &id);
        ASSERT_NE(thread, nullptr);
        int32_t recorded = 0;
        EXPECT_TRUE(plat::setThreadPriority(thread, c.priority) && plat::getThreadPriority(thread, &recorded));
        EXPECT_EQ(std::tuple(recorded, niceOf(id)), std::tuple(c.priority, c.nice)) << c.priority;
        plat::setEvent(go);
        EXPECT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
        plat::closeHandle(thread);
        plat::closeHandle(go);
    }
}

std::vector<std::pair<uint32_t, int>> gNiceAsked;

int refuseNice(uint32_t threadId, int nice)
{
    gNiceAsked.emplace_back(threadId, nice);
    return EPERM;
}

// Where the system refuses (here the seam), the priority asked for is still
// the one read back, and only the first refusal of the process is logged: in
// a fresh process, so that none came before. Raising asks for nice values
// five apart below the process's, time-critical the strongest the system has.
void refusalsKeepThePriorityAndAreLoggedOnce()
{
    const int process = niceOf(static_cast<uint32_t>(getpid()));
    plat::collectEventLines(true);
    plat::setThreadNiceSetter(&refuseNice);
    Handle self = plat::currentThreadHandle();
    const struct { int32_t priority; int nice; } cases[] = {
        {1, std::max(process - 5, -20)}, {2, std::max(process - 10, -20)}, {15, -20}, {1, std::max(process - 5, -20)}};
    for (const auto& c : cases) {
        int32_t recorded = 0;
        REQUIRE(plat::setThreadPriority(self, c.priority) && plat::getThreadPriority(self, &recorded));
        REQUIRE(recorded == c.priority);
        REQUIRE((gNiceAsked.back() == std::pair(plat::currentThreadId(), c.nice)));
    }
    REQUIRE(gNiceAsked.size() == 4 && niceOf(plat::currentThreadId()) == process);
    const std::vector<std::wstring> lines = plat::takeEventLines();
    REQUIRE(lines.size() == 1 && lines[0].rfind(L"Qoralt: ", 0) == 0);
    childExit(0);
}

TEST(PlatThreadPriority, ARefusalKeepsThePriorityAskedForAndIsLoggedOncePerProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(refusalsKeepThePriorityAndAreLoggedOnce(), ::testing::ExitedWithCode(0), "");
}

// That a thread the layer did not start is signalled when it ends is the library layer's test (ThreadAdoption).
TEST(PlatThread, AThreadTheLayerDidNotStartHasOneHandleNotSignalledWhileItRuns)
{
    Handle self = plat::currentThreadHandle();
    Handle again = plat::currentThreadHandle();
    EXPECT_EQ(std::tuple(self, plat::threadIdOf(self)), std::tuple(again, plat::currentThreadId()));
    EXPECT_EQ(plat::waitFor(self, 0).status, WaitStatus::TimedOut);
    plat::closeHandle(self);
    plat::closeHandle(again);
}

std::atomic<size_t> gStackSeen{0};

uint32_t recordStackSize(void*)
{
    pthread_attr_t attributes;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0)
        pthread_attr_getstacksize(&attributes, &size), pthread_attr_destroy(&attributes);
    gStackSeen = size;
    return 0;
}

TEST(PlatThread, TheRequestedStackSizeIsGivenAndTinyOnesAreRaised)
{
    // Asked for more than the default of 8 MiB, so that a size not passed on shows.
    for (auto [asked, least] : {std::pair<size_t, size_t>{(16 << 20) + 1, (16 << 20) + 1}, {1, 64 * 1024}}) {
        Handle thread = plat::createThread(&recordStackSize, nullptr, nullptr, asked);
        ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled) << asked;
        plat::closeHandle(thread);
        EXPECT_GE(gStackSeen.load(), least) << asked;
    }
}

// Exit callbacks are process-wide; these record only for the watched thread.
// (That a thread's slots are still readable in them is the library layer's test.)
std::atomic<uint32_t> gWatched{0};
std::string gOrder;

void record(char which)
{
    if (plat::currentThreadId() == gWatched.load())
        gOrder += which;
}

void late() { record('3'); }
void early() { record('1'); }
void middle()
{
    if (plat::currentThreadId() != gWatched.load())
        return;
    // Using the layer here must not start the exit work again.
    Handle event = plat::createEvent(false, true);
    plat::waitFor(event, 0);
    plat::closeHandle(event);
    gOrder += plat::threadIsExiting() ? '2' : '-';
}

uint32_t watchedThread(void*)
{
    gWatched = plat::currentThreadId();
    return plat::touchThread() ? 0 : 1; // a thread the layer did not start runs them once armed
}

TEST(PlatThreadExit, CallbacksRunByOrderThenRegistrationBeforeTheThreadIsSignalled)
{
    // middle is already there at 1000: it stays at 10.
    ASSERT_TRUE(plat::addThreadExitCallback(&late, 500) && plat::addThreadExitCallback(&middle, 10) &&
                plat::addThreadExitCallback(&early, 10 - 1) && plat::addThreadExitCallback(&middle, 1000));
    EXPECT_FALSE(plat::addThreadExitCallback(nullptr, 0));
    // A thread of the layer runs them itself, any other from the key destructor.
    Handle thread = plat::createThread(&watchedThread, nullptr, nullptr);
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    plat::closeHandle(thread);
    EXPECT_EQ(gOrder, "123");
    gOrder.clear();
    std::thread([] { watchedThread(nullptr); }).join();
    EXPECT_EQ(gOrder, "123");
    EXPECT_FALSE(plat::threadIsExiting());
    gWatched = 0;
}

int gRefused = 0;

// The slot's value on this thread; &gRefused when the key is refused.
void* slot(uint32_t key)
{
    void* value = &gRefused;
    return plat::tlsGet(key, &value) ? value : &gRefused;
}

TEST(PlatTls, SlotsArePerThreadAndAFreedSlotIsRefusedAndComesBackEmpty)
{
    uint32_t key = 0, again = 0;
    int mine = 1, theirs = 2;
    ASSERT_TRUE(plat::tlsAlloc(&key));
    EXPECT_EQ(slot(key), nullptr);
    ASSERT_TRUE(plat::tlsSet(key, &mine));
    std::thread([&] {
        EXPECT_EQ(slot(key), nullptr);
        EXPECT_TRUE(plat::tlsSet(key, &theirs) && slot(key) == &theirs);
    }).join();
    EXPECT_EQ(slot(key), &mine);
    ASSERT_TRUE(plat::tlsFree(key));
    EXPECT_EQ(std::tuple(slot(key), slot(5000)), std::tuple(&gRefused, &gRefused));
    // Also for a thread that held a value in it before.
    ASSERT_TRUE(plat::tlsAlloc(&again));
    EXPECT_EQ(std::tuple(again, slot(again)), std::tuple(key, nullptr));
    plat::tlsFree(again);
}

// ---- thread messages ----

TEST(PlatMessages, TheQueueIsReadOldestFirstAfterTheObjectsAndOnlyByWaitsThatAskForIt)
{
    ThreadMessage message{};
    EXPECT_FALSE(plat::peekThreadMessage(&message, true) || plat::peekThreadMessage(nullptr, true)); // makes the queue
    const uint32_t self = plat::currentThreadId();
    ASSERT_TRUE(plat::postThreadMessage(self, 0x400, 1, -1) && plat::postThreadMessage(self, plat::kQuitMessage, 3, 0));
    ASSERT_TRUE(plat::peekThreadMessage(&message, false)); // looks only
    EXPECT_EQ(message.message, 0x400u);
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(std::tuple(message.message, message.wParam, message.lParam), std::tuple(0x400u, 1u, -1));
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(std::tuple(message.message, message.wParam), std::tuple(plat::kQuitMessage, 3u));
    EXPECT_FALSE(plat::peekThreadMessage(&message, true));

    Handle event = plat::createEvent(false, true);
    ASSERT_TRUE(plat::postThreadMessage(self, 0x402, 0, 0));
    const auto woken = [](plat::WaitResult result) { return std::tuple(result.status, result.index); };
    // The event first; then the queue, at index count, as often as asked.
    for (uint32_t index : {0u, 1u, 1u})
        EXPECT_EQ(woken(plat::waitForAnyOrMessage(&event, 1, 0)), std::tuple(WaitStatus::Signalled, index));
    // With count 0 the queue is 0.
    EXPECT_EQ(woken(plat::waitForAnyOrMessage(nullptr, 0, 0)), std::tuple(WaitStatus::Signalled, 0u));
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(plat::waitForAnyOrMessage(nullptr, 0, 5).status, WaitStatus::TimedOut);
    // Plain waits do not look at the queue.
    ASSERT_TRUE(plat::postThreadMessage(self, 0x403, 0, 0));
    EXPECT_EQ(plat::waitFor(event, 0).status, WaitStatus::TimedOut);
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    plat::closeHandle(event);
}

// A message ends a wait for all without taking the objects that were ready.
TEST(PlatMessages, AMessageEndsAWaitForAllAndTakesNothing)
{
    Handle ready = plat::createEvent(false, true);
    Handle unset = plat::createEvent(false, false);
    Handle both[2] = {ready, unset};
    const auto woken = [](plat::WaitResult result) { return std::tuple(result.status, result.index); };
    ThreadMessage message{};
    EXPECT_FALSE(plat::peekThreadMessage(&message, true)); // makes this thread's queue
    ASSERT_TRUE(plat::postThreadMessage(plat::currentThreadId(), 0x404, 0, 0));
    EXPECT_EQ(woken(plat::waitForAllOrMessage(both, 2, 0)), std::tuple(WaitStatus::Signalled, 2u));
    ASSERT_TRUE(plat::setEvent(unset));
    EXPECT_EQ(woken(plat::waitForAllOrMessage(both, 2, 0)), std::tuple(WaitStatus::Signalled, 0u));
    EXPECT_TRUE(plat::peekThreadMessage(&message, true));
    plat::closeHandle(ready);
    plat::closeHandle(unset);
}

uint32_t waitForQuit(void*)
{
    ThreadMessage message{};
    while (plat::waitForAnyOrMessage(nullptr, 0, plat::kInfiniteWait).status == WaitStatus::Signalled)
        if (plat::peekThreadMessage(&message, true) && message.message == plat::kQuitMessage)
            return static_cast<uint32_t>(message.wParam);
    return 100;
}

TEST(PlatMessages, AQuitPostedRightAfterStartEndsTheThreadsLoop)
{
    uint32_t id = 0;
    Handle thread = plat::createThread(&waitForQuit, nullptr, &id);
    // The queue exists before createThread returns, so nothing is lost.
    ASSERT_TRUE(plat::postThreadMessage(id, 0x401, 0, 0) && plat::postThreadMessage(id, plat::kQuitMessage, 42, 0));
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    EXPECT_EQ(exitState(thread), std::tuple(42u, false));
    // The thread and its queue are gone.
    EXPECT_FALSE(plat::postThreadMessage(id, plat::kQuitMessage, 0, 0) ||
                 plat::postThreadMessage(0, plat::kQuitMessage, 0, 0));
    plat::closeHandle(thread);
}

TEST(PlatMessages, AFilteredPeekTakesTheOldestMatchAndLeavesTheRestInOrder)
{
    std::thread([] {
        ThreadMessage message{};
        EXPECT_FALSE(plat::peekThreadMessage(&message, true)); // makes the queue
        const uint32_t self = plat::currentThreadId();
        ASSERT_TRUE(plat::postThreadMessage(self, 0x401, 1, 0) && plat::postThreadMessage(self, 9, 0x400, 2, 0) &&
                    plat::postThreadMessage(self, 0x402, 3, 0) && plat::postThreadMessage(self, 0x400, 4, 0));
        const struct {
            uint32_t first, last;
            uintptr_t target;
            bool remove, found;
            uintptr_t wParam; // which message
        } cases[] = {
            {0x400, 0x400, 0, false, true, 2}, {0x400, 0x400, 0, true, true, 2}, {0x400, 0x400, 9, true, false, 0},
            {0x403, 0x409, 0, true, false, 0}, {0, 0, 0, true, true, 1},        {0, 0, 0, true, true, 3},
            {0, 0, 0, true, true, 4},          {0, 0, 0, true, false, 0},
        };
        for (const auto& c : cases) {
            message = ThreadMessage{};
            EXPECT_EQ(plat::peekThreadMessage(&message, c.remove, c.first, c.last, c.target), c.found);
            EXPECT_EQ(message.wParam, c.wParam);
        }
    }).join();
}

} // namespace
