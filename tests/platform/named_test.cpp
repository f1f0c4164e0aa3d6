#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "platform/thread.h"

namespace {

using plat::NameResult;
using plat::WaitStatus;

TEST(PlatNamed, TheSameNameAndKindOpensTheSameObject)
{
    NameResult first = NameResult::Failed;
    NameResult second = NameResult::Failed;
    plat::Handle a = plat::createEvent(true, false, L"frame ready", &first);
    plat::Handle b = plat::createEvent(false, true, L"frame ready", &second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(first, NameResult::Created);
    EXPECT_EQ(second, NameResult::Existed);

    // The second creation's arguments were ignored: still manual and clear.
    EXPECT_EQ(plat::waitFor(b, 0).status, WaitStatus::TimedOut);
    ASSERT_TRUE(plat::setEvent(b));
    EXPECT_EQ(plat::waitFor(a, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(a, 0).status, WaitStatus::Signalled);

    plat::closeHandle(a);
    plat::closeHandle(b);
}

TEST(PlatNamed, AnOpenedSemaphoreKeepsItsCountsAndBadCountsStillFail)
{
    NameResult result = NameResult::Failed;
    plat::Handle made = plat::createSemaphore(1, 1, L"channel", &result);
    ASSERT_EQ(result, NameResult::Created);
    plat::Handle opened = plat::createSemaphore(5, 9, L"channel", &result);
    ASSERT_EQ(result, NameResult::Existed);
    EXPECT_EQ(plat::waitFor(opened, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(made, 0).status, WaitStatus::TimedOut);
    ASSERT_TRUE(plat::releaseSemaphore(opened, 1, nullptr));
    EXPECT_FALSE(plat::releaseSemaphore(made, 1, nullptr)); // maximum 1, not 9

    EXPECT_EQ(plat::createSemaphore(2, 1, L"channel", &result), nullptr);
    EXPECT_EQ(result, NameResult::Failed);
    plat::closeHandle(made);
    plat::closeHandle(opened);
}

TEST(PlatNamed, ANameHeldByAnotherKindGivesNoHandle)
{
    NameResult result = NameResult::Failed;
    plat::Handle event = plat::createEvent(false, false, L"shared", &result);
    ASSERT_EQ(result, NameResult::Created);
    EXPECT_EQ(plat::createSemaphore(0, 1, L"shared", &result), nullptr);
    EXPECT_EQ(result, NameResult::OtherKind);
    EXPECT_EQ(plat::createMutex(true, L"shared", &result), nullptr);
    EXPECT_EQ(result, NameResult::OtherKind);
    // The refused creations left the event alone.
    ASSERT_TRUE(plat::setEvent(event));
    EXPECT_EQ(plat::waitFor(event, 0).status, WaitStatus::Signalled);
    plat::closeHandle(event);
}

TEST(PlatNamed, TheNameLivesWhileAnyReferenceDoes)
{
    NameResult result = NameResult::Failed;
    plat::Handle first = plat::createEvent(true, true, L"lifetime", &result);
    plat::Handle second = plat::createEvent(true, false, L"lifetime", &result);
    ASSERT_EQ(result, NameResult::Existed);
    plat::closeHandle(first);
    plat::Handle third = plat::createEvent(true, false, L"lifetime", &result);
    EXPECT_EQ(result, NameResult::Existed);
    EXPECT_EQ(plat::waitFor(third, 0).status, WaitStatus::Signalled);
    plat::closeHandle(second);
    plat::closeHandle(third);

    // Gone with its last reference: the name makes a new object, of any kind.
    plat::Handle fresh = plat::createSemaphore(0, 1, L"lifetime", &result);
    EXPECT_EQ(result, NameResult::Created);
    plat::closeHandle(fresh);
}

TEST(PlatNamed, OpeningAnOwnedMutexDoesNotTakeIt)
{
    NameResult result = NameResult::Failed;
    plat::Handle mine = plat::createMutex(true, L"grab lock", &result);
    ASSERT_EQ(result, NameResult::Created);
    std::thread other([&] {
        NameResult seen = NameResult::Failed;
        plat::Handle theirs = plat::createMutex(true, L"grab lock", &seen);
        EXPECT_EQ(seen, NameResult::Existed);
        EXPECT_FALSE(plat::releaseMutex(theirs));
        EXPECT_EQ(plat::waitFor(theirs, 0).status, WaitStatus::TimedOut);
        plat::closeHandle(theirs);
    });
    other.join();
    EXPECT_TRUE(plat::releaseMutex(mine));
    EXPECT_FALSE(plat::releaseMutex(mine));
    plat::closeHandle(mine);
}

TEST(PlatNamed, ThreadsRacingToCreateOneNameShareOneObject)
{
    constexpr int kThreads = 8;
    std::atomic<int> created{0};
    std::vector<plat::Handle> handles(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            NameResult result = NameResult::Failed;
            handles[i] = plat::createSemaphore(0, kThreads, L"race", &result);
            if (result == NameResult::Created)
                ++created;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(created.load(), 1);
    for (plat::Handle handle : handles)
        EXPECT_EQ(handle, handles[0]);
    for (plat::Handle handle : handles)
        plat::closeHandle(handle);
}

} // namespace
