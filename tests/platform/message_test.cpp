#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/sync.h"
#include "platform/thread.h"

namespace {

using plat::ThreadMessage;
using plat::WaitStatus;

TEST(PlatMessages, APostedQueueIsReadOldestFirst)
{
    ThreadMessage message{};
    EXPECT_FALSE(plat::peekThreadMessage(&message, true));
    EXPECT_FALSE(plat::peekThreadMessage(nullptr, true));

    const uint32_t self = plat::currentThreadId();
    ASSERT_TRUE(plat::postThreadMessage(self, 0x400, 1, -1));
    ASSERT_TRUE(plat::postThreadMessage(self, plat::kQuitMessage, 3, 0));

    ASSERT_TRUE(plat::peekThreadMessage(&message, false)); // looks only
    EXPECT_EQ(message.message, 0x400u);
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(message.message, 0x400u);
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, -1);
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(message.message, plat::kQuitMessage);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_FALSE(plat::peekThreadMessage(&message, true));
}

uint32_t waitForQuit(void* event)
{
    plat::Handle objects[] = {static_cast<plat::Handle>(event)};
    for (;;) {
        plat::WaitResult woken = plat::waitForAnyOrMessage(objects, 1, plat::kInfiniteWait);
        if (woken.status != WaitStatus::Signalled)
            return 100;
        if (woken.index == 0)
            return 200; // the event, not a message
        ThreadMessage message{};
        if (!plat::peekThreadMessage(&message, true))
            return 300; // woken for a message that is not there
        if (message.message == plat::kQuitMessage)
            return static_cast<uint32_t>(message.wParam);
    }
}

TEST(PlatMessages, AQuitPostedRightAfterStartEndsTheThreadsLoop)
{
    plat::Handle never = plat::createEvent(true, false);
    uint32_t id = 0;
    plat::Handle thread = plat::createThread(&waitForQuit, never, &id);
    ASSERT_NE(thread, nullptr);
    // The queue exists before createThread returns, so nothing is lost.
    ASSERT_TRUE(plat::postThreadMessage(id, 0x401, 0, 0));
    ASSERT_TRUE(plat::postThreadMessage(id, plat::kQuitMessage, 42, 0));
    ASSERT_EQ(plat::waitFor(thread, plat::kInfiniteWait).status, WaitStatus::Signalled);
    uint32_t code = 0;
    bool running = true;
    ASSERT_TRUE(plat::getThreadExitCode(thread, &code, &running));
    EXPECT_EQ(code, 42u);

    // The thread and its queue are gone.
    EXPECT_FALSE(plat::postThreadMessage(id, plat::kQuitMessage, 0, 0));
    EXPECT_FALSE(plat::postThreadMessage(0, plat::kQuitMessage, 0, 0));
    plat::closeHandle(thread);
    plat::closeHandle(never);
}

TEST(PlatMessages, ObjectsComeBeforeTheQueueAndTheMessageStaysQueued)
{
    plat::Handle event = plat::createEvent(false, true);
    const uint32_t self = plat::currentThreadId();
    ThreadMessage message{};
    EXPECT_FALSE(plat::peekThreadMessage(&message, false)); // makes the queue
    ASSERT_TRUE(plat::postThreadMessage(self, 0x402, 0, 0));

    plat::WaitResult woken = plat::waitForAnyOrMessage(&event, 1, 0);
    EXPECT_EQ(woken.status, WaitStatus::Signalled);
    EXPECT_EQ(woken.index, 0u);
    woken = plat::waitForAnyOrMessage(&event, 1, 0);
    EXPECT_EQ(woken.status, WaitStatus::Signalled);
    EXPECT_EQ(woken.index, 1u);
    woken = plat::waitForAnyOrMessage(nullptr, 0, 0);
    EXPECT_EQ(woken.index, 0u); // count 0: the queue is index 0
    EXPECT_EQ(woken.status, WaitStatus::Signalled);

    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    EXPECT_EQ(plat::waitForAnyOrMessage(nullptr, 0, 5).status, WaitStatus::TimedOut);
    // Plain waits do not look at the queue.
    ASSERT_TRUE(plat::postThreadMessage(self, 0x403, 0, 0));
    EXPECT_EQ(plat::waitFor(event, 0).status, WaitStatus::TimedOut);
    ASSERT_TRUE(plat::peekThreadMessage(&message, true));
    plat::closeHandle(event);
}

std::atomic<size_t> gStackSeen{0};

uint32_t recordStackSize(void*)
{
    pthread_attr_t attributes;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
    }
    gStackSeen = size;
    return 0;
}

TEST(PlatThreadStack, TheRequestedSizeIsGivenAndTinyOnesAreRaised)
{
    const size_t asked = 3 * 1024 * 1024 + 1;
    plat::Handle thread = plat::createThread(&recordStackSize, nullptr, nullptr, asked);
    ASSERT_NE(thread, nullptr);
    plat::waitFor(thread, plat::kInfiniteWait);
    plat::closeHandle(thread);
    EXPECT_GE(gStackSeen.load(), asked);

    thread = plat::createThread(&recordStackSize, nullptr, nullptr, 1);
    ASSERT_NE(thread, nullptr);
    plat::waitFor(thread, plat::kInfiniteWait);
    plat::closeHandle(thread);
    EXPECT_GE(gStackSeen.load(), size_t{64} * 1024);
}

} // namespace
