#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "system/csys_handle.h"
#include "system/csys_memory.h"
#include "tests/support/fake_heap.h"

namespace {

// A function table that counts, so that references and payload releases
// are observable.
struct Counts {
    int adds = 0, drops = 0, releases = 0;
    void* releasedField = nullptr;
    int32_t releasedType = -1;
} g;

csysStatus countRelease(void* payloadField, int32_t type)
{
    ++g.releases;
    g.releasedField = payloadField;
    g.releasedType = type;
    return csysOk;
}
csysStatus countAdd(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return ++g.adds, csys_atomicIncrement(count, newCount);
}
csysStatus countDrop(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return ++g.drops, csys_atomicDecrement(count, newCount);
}
csysStatus failDrop(int32_t*, int32_t*, void*, int32_t) { return csysErrOsCall; }

const csys_recordFunctions kCounting = {&countRelease, &countAdd, &countDrop};
const csys_recordFunctions kFailingDrop = {&countRelease, &countAdd, &failDrop};
const csys_typeDescription kCountingType = {7, nullptr, &kCounting};
const csys_typeDescription kFailingType = {8, nullptr, &kFailingDrop};

class HandleTest : public ::testing::Test {
protected:
    void SetUp() override { g = Counts(); }
    int payload1 = 1, payload2 = 2;
};

TEST_F(HandleTest, ReferencesMoveOnlyBetweenDifferentRecordsAndTheLastReleasesThePayload)
{
    csys_record r1, r2;
    ASSERT_EQ(csys_handleInitTyped(&r1, &payload1, &kCountingType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&r2, &payload2, &kCountingType), csysOk);
    csys_handle a = nullptr, b, empty = nullptr;
    int32_t isNull = -1;
    void* seen = nullptr;
    EXPECT_EQ(csys_handleAssign(&a, &r1), csysOk);
    ASSERT_EQ(csys_handleInitCopy(&b, &a), csysOk);
    // The record already held: no release, no new reference. InitCopy treats
    // the destination as uninitialised: what it seems to hold is overwritten.
    EXPECT_EQ(csys_handleAssign(&a, &r1), csysOk);
    EXPECT_EQ(csys_handleCopy(&a, &b), csysOk);
    EXPECT_EQ(csys_handleCopy(&a, &a), csysOk);
    EXPECT_EQ(csys_handleInitCopy(&b, &empty), csysOk);
    EXPECT_EQ(std::tuple(r1.inlineCount, g.adds, g.drops, b), std::tuple(2, 2, 0, nullptr));
    b = &r1;
    EXPECT_EQ(csys_handleAssign(&a, &r2), csysOk);
    EXPECT_EQ(csys_handleGetObject(&b, &seen), csysOk);
    EXPECT_EQ(csys_handleIsNull(&b, &isNull), csysOk);
    EXPECT_EQ(std::tuple(r1.inlineCount, r2.inlineCount, g.releases, seen, isNull), std::tuple(1, 1, 0, &payload1, 0));
    EXPECT_EQ(csys_handleAssign(&b, &r2), csysOk);
    // The release gets the payload field, not the payload.
    EXPECT_EQ(std::tuple(g.releases, g.releasedField, g.releasedType), std::tuple(1, &r1.payload, 7));
    EXPECT_EQ(csys_handleAssign(&a, nullptr), csysOk);
    EXPECT_EQ(csys_handleRelease(&b), csysOk);
    EXPECT_EQ(csys_handleRelease(&b), csysOk); // an empty slot releases nothing
    EXPECT_EQ(std::tuple(a, b, g.releases, g.releasedField, g.drops), std::tuple(nullptr, nullptr, 2, &r2.payload, 4));
}

// The reference is gone either way, so the slot must not keep it; nor is
// the new record taken after a failure.
TEST_F(HandleTest, AFailedReleaseEmptiesTheSlotAndNullArgumentsAreRefused)
{
    csys_record bad, good;
    ASSERT_EQ(csys_handleInitTyped(&bad, &payload1, &kFailingType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&good, &payload2, &kCountingType), csysOk);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, &bad), csysOk);
    ASSERT_EQ(csys_handleAttach(&b, &bad), csysOk);
    EXPECT_EQ(csys_handleAssign(&a, &good), csysErrOsCall);
    EXPECT_EQ(csys_handleRelease(&b), csysErrOsCall);
    EXPECT_EQ(std::tuple(a, good.inlineCount, b, g.releases), std::tuple(nullptr, 0, nullptr, 0));
    int32_t flag = -1;
    for (csysStatus status : {csys_handleInitTyped(nullptr, &payload1, nullptr), csys_handleInit(&good, nullptr),
                              csys_handleAssign(nullptr, nullptr), csys_handleCopy(&a, nullptr),
                              csys_handleInitCopy(nullptr, &a), csys_handleIsNull(&a, nullptr),
                              csys_handleRelease(nullptr), csys_handleAttach(nullptr, nullptr),
                              csys_handleGetObject(&a, nullptr)})
        EXPECT_EQ(status, csysErrNullArg);
    EXPECT_EQ((std::tuple{csys_handleIsNull(&a, &flag), flag}), std::tuple(csysOk, 1));
}

TEST_F(HandleTest, ExternalCounterIsSharedAndNotResetByLaterRecords)
{
    int32_t shared = 0;
    const csys_typeDescription type = {3, &shared, &kCounting};
    csys_record r1, r2;
    csys_handle a, b;
    ASSERT_EQ(csys_handleInitTyped(&r1, &payload1, &type), csysOk);
    ASSERT_EQ(csys_handleAttach(&a, &r1), csysOk);
    // Initialising a second record must not reset the type's counter.
    ASSERT_EQ(csys_handleInitTyped(&r2, &payload2, &type), csysOk);
    EXPECT_EQ(std::tuple(shared, r2.count), std::tuple(1, &shared));
    ASSERT_EQ(csys_handleAttach(&b, &r2), csysOk);
    EXPECT_EQ(std::tuple(shared, r1.inlineCount), std::tuple(2, 0));
    EXPECT_EQ(csys_handleRelease(&a), csysOk);
    EXPECT_EQ(g.releases, 0);
    EXPECT_EQ(csys_handleRelease(&b), csysOk);
    EXPECT_EQ(std::tuple(shared, g.releases, g.releasedType), std::tuple(0, 1, 3));
}

// A record that owns itself, with the default table: copies and releases on
// many threads leave one reference, and the last release frees the record.
TEST_F(HandleTest, CopiesAndReleasesOnManyThreadsFreeTheRecordOnce)
{
    fake_heap::FakeHeap heap;
    constexpr int kThreads = 8, kRounds = 5000;
    csys_record* r = nullptr;
    ASSERT_EQ(csys_alloc(sizeof(csys_record), &r), csysOk);
    ASSERT_EQ(csys_handleInit(r, r), csysOk);
    csys_handle shared;
    ASSERT_EQ(csys_handleAttach(&shared, r), csysOk);

    // Each thread works on its own slots; the shared one is only read.
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&shared] {
            csys_handle mine, temp = nullptr;
            EXPECT_EQ(csys_handleInitCopy(&mine, &shared), csysOk);
            for (int i = 0; i < kRounds; ++i) {
                EXPECT_EQ(csys_handleCopy(&temp, &mine), csysOk);
                if (i % 3 == 0) {
                    EXPECT_EQ(csys_handleRelease(&mine), csysOk);
                }
                EXPECT_EQ(csys_handleCopy(&mine, &temp), csysOk);
                EXPECT_EQ(csys_handleRelease(&temp), csysOk);
            }
            EXPECT_EQ(csys_handleRelease(&mine), csysOk);
        });
    for (std::thread& th : threads)
        th.join();

    EXPECT_EQ(std::tuple(heap.releases, r->inlineCount), std::tuple(0, 1));
    EXPECT_EQ(csys_handleRelease(&shared), csysOk); // a second free would reach ASan
    EXPECT_EQ(std::tuple(heap.releases, heap.live.empty()), std::tuple(1, true));
}

// A node whose payload holds the only reference to the next node, as a list
// walked by assignment does.
struct ListNode {
    csys_record record;
    csys_handle next;
    int value;
};

csysStatus releaseListNode(void* payloadField, int32_t)
{
    auto* node = *static_cast<ListNode**>(payloadField);
    csysStatus status = csys_handleRelease(&node->next);
    delete node;
    return status;
}

TEST_F(HandleTest, AssignKeepsARecordAliveOnlyByTheOldOne)
{
    static const csys_recordFunctions functions = {&releaseListNode, &countAdd, &countDrop};
    static const csys_typeDescription listType = {9, nullptr, &functions};
    auto* second = new ListNode{{}, nullptr, 2};
    auto* first = new ListNode{{}, nullptr, 1};
    ASSERT_EQ(csys_handleInitTyped(&second->record, second, &listType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&first->record, first, &listType), csysOk);
    ASSERT_EQ(csys_handleAttach(&first->next, &second->record), csysOk);

    csys_handle head = nullptr;
    ASSERT_EQ(csys_handleAttach(&head, &first->record), csysOk);
    // Releasing first drops the last other reference to second.
    ASSERT_EQ(csys_handleAssign(&head, first->next), csysOk);
    EXPECT_EQ(std::tuple(head, second->record.inlineCount), std::tuple(&second->record, 1));
    EXPECT_EQ(csys_handleRelease(&head), csysOk); // ASan reports any use after free
}

} // namespace
