#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "system/csys_handle.h"
#include "system/csys_memory.h"
#include "system/csys_memory_testing.h"

namespace {

// A function table that counts, so that references and payload releases
// are observable.
int gAdds = 0, gDrops = 0, gReleases = 0;
void* gReleasedField = nullptr;
int32_t gReleasedType = -1;

csysStatus countRelease(void* payloadField, int32_t type)
{
    ++gReleases;
    gReleasedField = payloadField;
    gReleasedType = type;
    return csysOk;
}
csysStatus countAdd(int32_t* count, int32_t* newCount, void*, int32_t)
{
    ++gAdds;
    return csys_atomicIncrement(count, newCount);
}
csysStatus countDrop(int32_t* count, int32_t* newCount, void*, int32_t)
{
    ++gDrops;
    return csys_atomicDecrement(count, newCount);
}
csysStatus failDrop(int32_t*, int32_t*, void*, int32_t) { return csysErrOsCall; }

const csys_recordFunctions kCounting = {&countRelease, &countAdd, &countDrop};
const csys_recordFunctions kFailingDrop = {&countRelease, &countAdd, &failDrop};
const csys_typeDescription kCountingType = {7, nullptr, &kCounting};
const csys_typeDescription kFailingType = {8, nullptr, &kFailingDrop};

class HandleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gAdds = gDrops = gReleases = 0;
        gReleasedField = nullptr;
        gReleasedType = -1;
    }
    int payload1 = 1, payload2 = 2;
};

// Counts the blocks the system heap frees.
std::atomic<int> gFrees{0};
std::atomic<void*> gLastFreed{nullptr};
void recordingFree(void* b)
{
    if (b) {
        ++gFrees;
        gLastFreed = b;
    }
    std::free(b);
}
const csys_heap kRecordingHeap = {&std::malloc, &std::realloc, &recordingFree};
struct HeapOverride {
    HeapOverride()
    {
        gFrees = 0;
        csys_setHeap(&kRecordingHeap);
    }
    ~HeapOverride() { csys_setHeap(nullptr); }
};

TEST_F(HandleTest, SelfOwnedRecordIsFreedByTheLastHandleOnly)
{
    HeapOverride heap;
    csys_record* r = nullptr;
    ASSERT_EQ(csys_alloc(sizeof(csys_record), &r), csysOk);
    ASSERT_EQ(csys_handleInit(r, r), csysOk);
    EXPECT_EQ(r->count, &r->inlineCount);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, r), csysOk);
    ASSERT_EQ(csys_handleInitCopy(&b, &a), csysOk);
    EXPECT_EQ(csys_handleRelease(&a), csysOk);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(gFrees, 0);
    EXPECT_EQ(r->inlineCount, 1);
    EXPECT_EQ(csys_handleRelease(&b), csysOk); // frees r; ASan reports a leak or a second free
    EXPECT_EQ(gFrees, 1);
    EXPECT_EQ(gLastFreed.load(), r);
}

TEST_F(HandleTest, TwoHandlesReleaseThePayloadOnceWithTheLastOne)
{
    csys_record rec;
    ASSERT_EQ(csys_handleInitTyped(&rec, &payload1, &kCountingType), csysOk);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, &rec), csysOk);
    ASSERT_EQ(csys_handleInitCopy(&b, &a), csysOk);
    EXPECT_EQ(rec.inlineCount, 2);

    EXPECT_EQ(csys_handleRelease(&a), csysOk);
    EXPECT_EQ(gReleases, 0);
    void* seen = nullptr;
    EXPECT_EQ(csys_handleGetObject(&b, &seen), csysOk);
    EXPECT_EQ(seen, &payload1);

    EXPECT_EQ(csys_handleRelease(&b), csysOk);
    EXPECT_EQ(gReleases, 1);
    EXPECT_EQ(gReleasedField, &rec.payload) << "release gets the payload field, not the payload";
    EXPECT_EQ(gReleasedType, 7);
    EXPECT_EQ(csys_handleRelease(&b), csysOk) << "an empty slot releases nothing";
    EXPECT_EQ(gDrops, 2);
}

TEST_F(HandleTest, AssignMovesReferencesOnlyBetweenDifferentRecords)
{
    csys_record r1, r2;
    ASSERT_EQ(csys_handleInitTyped(&r1, &payload1, &kCountingType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&r2, &payload2, &kCountingType), csysOk);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, nullptr), csysOk);
    EXPECT_EQ(csys_handleAssign(&a, &r1), csysOk);
    ASSERT_EQ(csys_handleInitCopy(&b, &a), csysOk);
    EXPECT_EQ(r1.inlineCount, 2);

    // The record already held: no release, no new reference.
    EXPECT_EQ(csys_handleAssign(&a, &r1), csysOk);
    EXPECT_EQ(csys_handleCopy(&a, &b), csysOk);
    EXPECT_EQ(csys_handleCopy(&a, &a), csysOk);
    EXPECT_EQ(gAdds, 2);
    EXPECT_EQ(gDrops, 0);

    EXPECT_EQ(csys_handleAssign(&a, &r2), csysOk);
    EXPECT_EQ(r1.inlineCount, 1);
    EXPECT_EQ(r2.inlineCount, 1);
    EXPECT_EQ(csys_handleAssign(&b, &r2), csysOk);
    EXPECT_EQ(gReleases, 1);
    EXPECT_EQ(gReleasedField, &r1.payload);
    EXPECT_EQ(csys_handleAssign(&a, nullptr), csysOk);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(csys_handleRelease(&b), csysOk);
    EXPECT_EQ(gReleases, 2);
    EXPECT_EQ(gReleasedField, &r2.payload);
}

TEST_F(HandleTest, FailedReleaseEmptiesTheSlotAndReportsTheFailure)
{
    csys_record bad, good;
    ASSERT_EQ(csys_handleInitTyped(&bad, &payload1, &kFailingType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&good, &payload2, &kCountingType), csysOk);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, &bad), csysOk);
    ASSERT_EQ(csys_handleAttach(&b, &bad), csysOk);

    // The reference is gone either way, so the slot must not keep it.
    EXPECT_EQ(csys_handleAssign(&a, &good), csysErrOsCall);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(good.inlineCount, 0) << "the new record is not taken after a failure";
    EXPECT_EQ(csys_handleRelease(&b), csysErrOsCall);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(gReleases, 0);
}

TEST_F(HandleTest, NullArgumentsAndEmptySlots)
{
    csys_record rec;
    csys_handle h = nullptr, empty = nullptr;
    int32_t flag = -1;
    void* obj = &flag;
    EXPECT_EQ(csys_handleInitTyped(nullptr, &payload1, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleInitTyped(&rec, nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleInit(&rec, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleAttach(nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleAssign(nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleRelease(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleCopy(nullptr, &h), csysErrNullArg);
    EXPECT_EQ(csys_handleCopy(&h, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleInitCopy(nullptr, &h), csysErrNullArg);
    EXPECT_EQ(csys_handleInitCopy(&h, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleIsNull(nullptr, &flag), csysErrNullArg);
    EXPECT_EQ(csys_handleIsNull(&h, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleGetObject(nullptr, &obj), csysErrNullArg);
    EXPECT_EQ(csys_handleGetObject(&h, nullptr), csysErrNullArg);

    EXPECT_EQ(csys_handleIsNull(&empty, &flag), csysOk);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(csys_handleGetObject(&empty, &obj), csysOk);
    EXPECT_EQ(obj, nullptr);

    ASSERT_EQ(csys_handleInitTyped(&rec, &payload2, &kCountingType), csysOk);
    ASSERT_EQ(csys_handleAttach(&h, &rec), csysOk);
    EXPECT_EQ(csys_handleIsNull(&h, &flag), csysOk);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(csys_handleGetObject(&h, &obj), csysOk);
    EXPECT_EQ(obj, &payload2);

    // InitCopy treats the destination as uninitialised: what it seems to
    // hold is overwritten, not released.
    csys_handle dest = &rec;
    EXPECT_EQ(csys_handleInitCopy(&dest, &empty), csysOk);
    EXPECT_EQ(dest, nullptr);
    EXPECT_EQ(rec.inlineCount, 1);
    EXPECT_EQ(gDrops, 0);
    EXPECT_EQ(csys_handleRelease(&h), csysOk);
    EXPECT_EQ(gReleases, 1);
}

TEST_F(HandleTest, ExternalCounterIsSharedAndNotResetByLaterRecords)
{
    int32_t shared = 0;
    const csys_typeDescription type = {3, &shared, &kCounting};
    csys_record r1, r2;
    ASSERT_EQ(csys_handleInitTyped(&r1, &payload1, &type), csysOk);
    csys_handle a, b;
    ASSERT_EQ(csys_handleAttach(&a, &r1), csysOk);
    EXPECT_EQ(shared, 1);
    ASSERT_EQ(csys_handleInitTyped(&r2, &payload2, &type), csysOk);
    EXPECT_EQ(shared, 1) << "initialising a second record must not reset the type's counter";
    EXPECT_EQ(r2.count, &shared);
    ASSERT_EQ(csys_handleAttach(&b, &r2), csysOk);
    EXPECT_EQ(shared, 2);
    EXPECT_EQ(r1.inlineCount, 0);

    EXPECT_EQ(csys_handleRelease(&a), csysOk);
    EXPECT_EQ(gReleases, 0);
    EXPECT_EQ(csys_handleRelease(&b), csysOk);
    EXPECT_EQ(shared, 0);
    EXPECT_EQ(gReleases, 1);
    EXPECT_EQ(gReleasedType, 3);
}

TEST_F(HandleTest, CopiesAndReleasesOnManyThreadsFreeTheRecordOnce)
{
    // The default table, so that its own counting is what is under test.
    HeapOverride heap;
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

    EXPECT_EQ(gFrees, 0);
    EXPECT_EQ(r->inlineCount, 1);
    EXPECT_EQ(csys_handleRelease(&shared), csysOk);
    EXPECT_EQ(gFrees, 1);
    EXPECT_EQ(gLastFreed.load(), r);
}

} // namespace

namespace {

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

const csys_recordFunctions kListFunctions = {&releaseListNode, &countAdd, &countDrop};
const csys_typeDescription kListType = {9, nullptr, &kListFunctions};

TEST(HandleAssign, RecordKeptAliveOnlyByTheOldOneSurvives)
{
    auto* second = new ListNode{{}, nullptr, 2};
    auto* first = new ListNode{{}, nullptr, 1};
    ASSERT_EQ(csys_handleInitTyped(&second->record, second, &kListType), csysOk);
    ASSERT_EQ(csys_handleInitTyped(&first->record, first, &kListType), csysOk);
    ASSERT_EQ(csys_handleAttach(&first->next, &second->record), csysOk);

    csys_handle head = nullptr;
    ASSERT_EQ(csys_handleAttach(&head, &first->record), csysOk);
    // Releasing first drops the last other reference to second.
    ASSERT_EQ(csys_handleAssign(&head, first->next), csysOk);
    void* payload = nullptr;
    ASSERT_EQ(csys_handleGetObject(&head, &payload), csysOk);
    EXPECT_EQ(static_cast<ListNode*>(payload)->value, 2);
    EXPECT_EQ(second->record.inlineCount, 1);
    EXPECT_EQ(csys_handleRelease(&head), csysOk); // ASan reports any use after free
}

} // namespace
