#include "system/csys_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

namespace {

// A second thread that attaches, hands out its thread handle, and ends when
// told to.
class Attached {
public:
    template <typename Work>
    explicit Attached(Work work)
    {
        EXPECT_EQ(csys_eventCreate(&ready_, 1, 0), csysOk);
        EXPECT_EQ(csys_eventCreate(&go_, 1, 0), csysOk);
        thread_ = std::thread([this, work] {
            EXPECT_EQ(csys_threadGetCurrent(&handle_), csysOk);
            work(handle_);
            EXPECT_EQ(csys_eventSet(&ready_), csysOk);
            EXPECT_EQ(csys_eventWait(&go_, csysWaitForever, nullptr), csysOk);
        });
        EXPECT_EQ(csys_eventWait(&ready_, csysWaitForever, nullptr), csysOk);
    }
    Attached() : Attached([](csys_threadHandle) {}) {}
    ~Attached()
    {
        finish();
        EXPECT_EQ(csys_threadHandleRelease(&handle_), csysOk);
        EXPECT_EQ(csys_handleClose(&ready_.handle), csysOk);
        EXPECT_EQ(csys_handleClose(&go_.handle), csysOk);
    }
    void release() { EXPECT_EQ(csys_eventSet(&go_), csysOk); }
    void finish()
    {
        release();
        if (thread_.joinable())
            thread_.join();
    }
    // The thread's handle; read it only between construction and finish.
    csys_threadHandle handle() const { return handle_; }

private:
    csys_event ready_ = {};
    csys_event go_ = {};
    csys_threadHandle handle_ = nullptr;
    std::thread thread_;
};

csys_record* newRecord()
{
    csys_record* record = nullptr;
    EXPECT_EQ(csys_alloc(static_cast<int32_t>(sizeof(csys_record)), &record), csysOk);
    EXPECT_EQ(csys_handleInit(record, record), csysOk);
    return record;
}

TEST(CsysThreadHandle, HandlesToOneThreadCompareEqualAndOthersByAddress)
{
    csys_threadHandle mine = nullptr;
    csys_threadHandle again = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    ASSERT_EQ(csys_threadGetCurrent(&again), csysOk);
    int32_t order = 5;
    ASSERT_EQ(csys_threadHandleCompare(&mine, &again, &order), csysOk);
    EXPECT_EQ(order, 0);

    Attached other;
    csys_threadHandle theirs = other.handle();
    ASSERT_EQ(csys_threadHandleCompare(&mine, &theirs, &order), csysOk);
    int32_t reverse = 0;
    ASSERT_EQ(csys_threadHandleCompare(&theirs, &mine, &reverse), csysOk);
    EXPECT_NE(order, 0);
    EXPECT_EQ(order, -reverse);
    EXPECT_EQ(order, mine < theirs ? -1 : 1);

    void* identity = nullptr;
    ASSERT_EQ(csys_threadHandleIdentity(&mine, &identity), csysOk);
    EXPECT_EQ(identity, mine);
    csys_threadObject* object = nullptr;
    ASSERT_EQ(csys_threadHandleGetObject(&mine, &object), csysOk);
    EXPECT_EQ(object, mine);
    EXPECT_EQ(object->self, object);
    EXPECT_EQ(object->threadId, plat::currentThreadId());

    EXPECT_EQ(csys_threadHandleCompare(nullptr, &mine, &order), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleCompare(&mine, &mine, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleIdentity(nullptr, &identity), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleGetObject(nullptr, &object), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleRelease(&mine), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&again), csysOk);
}

TEST(CsysThreadHandle, CopiesAndAssignmentsCountReferences)
{
    csys_threadHandle first = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&first), csysOk);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->references, 1);

    csys_threadHandle copy = reinterpret_cast<csys_threadObject*>(0x1); // uninitialised
    ASSERT_EQ(csys_threadHandleInitCopy(&copy, &first), csysOk);
    EXPECT_EQ(copy, first);
    EXPECT_EQ(first->references, 2);
    ASSERT_EQ(csys_threadHandleInitCopy(&copy, &copy), csysOk);
    EXPECT_EQ(first->references, 2);

    // Assigning the same object, or a slot to itself, changes nothing.
    ASSERT_EQ(csys_threadHandleAssign(&copy, &first), csysOk);
    ASSERT_EQ(csys_threadHandleAssign(&copy, &copy), csysOk);
    EXPECT_EQ(first->references, 2);

    csys_threadHandle second = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&second), csysOk);
    ASSERT_EQ(csys_threadHandleAssign(&copy, &second), csysOk);
    EXPECT_EQ(copy, second);
    EXPECT_EQ(first->references, 1);
    EXPECT_EQ(second->references, 2);

    // The last release destroys the object (the leak checker sees the rest).
    EXPECT_EQ(csys_threadHandleRelease(&first), csysOk);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(csys_threadHandleRelease(&first), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&copy), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&second), csysOk);

    EXPECT_EQ(csys_threadHandleInit(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleRelease(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleInitCopy(nullptr, &copy), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleAssign(&copy, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadObjectCreate(nullptr), csysErrNullArg);
}

TEST(CsysThreadJoin, JoiningAThreadThatDetachedReturnsForEveryJoiner)
{
    csys_threadHandle handle = nullptr;
    {
        Attached other;
        csys_threadHandle theirs = other.handle();
        EXPECT_EQ(csys_threadHandleInitCopy(&handle, &theirs), csysOk);
        std::atomic<csysStatus> early{1};
        std::thread joiner([&] { early = csys_threadJoin(&handle); });
        other.release();
        joiner.join();
        EXPECT_EQ(early.load(), csysOk);
    }
    EXPECT_EQ(csys_threadJoin(&handle), csysOk);
    EXPECT_EQ(csys_threadJoin(&handle), csysOk);
    EXPECT_EQ(handle->exited, 1);
    EXPECT_EQ(handle->contexts, nullptr);
    EXPECT_EQ(csys_threadHandleRelease(&handle), csysOk);
}

TEST(CsysThreadJoin, AThreadJoiningItselfGetsAnErrorNotAHang)
{
    csys_threadHandle mine = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    EXPECT_EQ(csys_threadJoin(&mine), csysErrFail);
    EXPECT_EQ(csys_threadHandleRelease(&mine), csysOk);

    csys_threadHandle empty = nullptr;
    EXPECT_EQ(csys_threadJoin(&empty), csysErrNoThreadObject);
    EXPECT_EQ(csys_threadJoin(nullptr), csysErrNullArg);
}

TEST(CsysJobWords, StartAtOneZeroMinusOneAndTheCounterCountsUp)
{
    csys_threadHandle thread = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&thread), csysOk);
    int32_t w1 = 0, w2 = 9, w3 = 0, counter = 0;
    csys_record* held = newRecord();
    csys_handle out = nullptr;
    EXPECT_EQ(csys_handleAttach(&out, held), csysOk);
    ASSERT_EQ(csys_threadHandleGetJobWords(&thread, &w1, &w2, &w3, &counter, &out), csysOk);
    EXPECT_EQ(w1, 1);
    EXPECT_EQ(w2, 0);
    EXPECT_EQ(w3, -1);
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(out, nullptr); // the empty first job handle was copied in
    ASSERT_EQ(csys_threadGetJobWords(thread, &w1, &w2, nullptr, &counter, nullptr), csysOk);
    EXPECT_EQ(counter, 2);

    EXPECT_EQ(csys_threadGetJobWords(nullptr, &w1, &w2, nullptr, nullptr, nullptr), csysErrNoThreadObject);
    EXPECT_EQ(csys_threadGetJobWords(thread, nullptr, &w2, nullptr, nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadGetJobWords(thread, &w1, nullptr, nullptr, nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleGetJobWords(nullptr, &w1, &w2, nullptr, nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadCurrentGetJobWords(&w1, &w2, &w3, nullptr, nullptr), csysOk);
    EXPECT_EQ(w3, -1);
    EXPECT_EQ(csys_threadHandleRelease(&thread), csysOk);
}

TEST(CsysJobWords, TheSecondJobHandleIsSetAndReadThroughSlots)
{
    csys_threadHandle thread = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&thread), csysOk);
    csys_handle record = nullptr;
    EXPECT_EQ(csys_handleAttach(&record, newRecord()), csysOk);
    ASSERT_EQ(csys_threadSetJobHandle(&thread, &record), csysOk);
    EXPECT_EQ(record->inlineCount, 2);
    csys_handle read = nullptr;
    ASSERT_EQ(csys_threadGetJobHandle(&thread, &read), csysOk);
    EXPECT_EQ(read, record);
    EXPECT_EQ(record->inlineCount, 3);

    csys_threadHandle empty = nullptr;
    EXPECT_EQ(csys_threadGetJobHandle(&empty, &read), csysErrNoThreadObject);
    EXPECT_EQ(csys_threadSetJobHandle(&empty, &record), csysErrNoThreadObject);
    EXPECT_EQ(csys_threadGetJobHandle(nullptr, &read), csysErrNullArg);
    EXPECT_EQ(csys_threadSetJobHandle(&thread, nullptr), csysErrNullArg);

    // The object's reference goes with the object.
    EXPECT_EQ(csys_threadHandleRelease(&thread), csysOk);
    EXPECT_EQ(record->inlineCount, 2);
    EXPECT_EQ(csys_handleRelease(&read), csysOk);
    EXPECT_EQ(csys_handleRelease(&record), csysOk);
}

TEST(CsysSemaphore, ReleasePastTheMaximumFails)
{
    csys_threadHandle thread = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&thread), csysOk);
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysOk);
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysErrOsCall);
    EXPECT_EQ(csys_semaphoreRelease(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadHandleRelease(&thread), csysOk);
}

// Context records and lists.

csys_contextRecord* newContext(int32_t kind, int32_t word)
{
    csys_contextRecord* record = nullptr;
    EXPECT_EQ(csys_allocZeroed(static_cast<int32_t>(sizeof(csys_contextRecord)), &record), csysOk);
    EXPECT_EQ(csys_contextRecordInit(record, kind, word, 1.5, 2.5, 5, 6), csysOk);
    return record;
}

// Puts a node at the front of the object's list, as a producer would.
void pushNode(csys_threadObject* object, csys_contextRecord* record, csys_contextServeFunction serve, int32_t id)
{
    csys_contextNode* node = nullptr;
    EXPECT_EQ(csys_allocZeroed(static_cast<int32_t>(sizeof(csys_contextNode)), &node), csysOk);
    EXPECT_EQ(csys_handleAttach(&node->record, record != nullptr ? &record->header : nullptr), csysOk);
    node->serve = serve;
    node->id = id;
    EXPECT_EQ(csys_csEnter(&object->section, nullptr), csysOk);
    csys_contextNode* header = object->contexts;
    node->previous = header;
    node->next = header->next;
    if (node->next != nullptr)
        node->next->previous = node;
    header->next = node;
    EXPECT_EQ(csys_csLeave(&object->section), csysOk);
}

std::vector<csys_contextNode*> nodesOf(csys_threadObject* object)
{
    std::vector<csys_contextNode*> nodes;
    for (csys_contextNode* node = object->contexts->next; node != nullptr; node = node->next) {
        EXPECT_EQ(node->previous->next, node);
        nodes.push_back(node);
    }
    return nodes;
}

csys_contextRecord* payloadOf(const csys_contextNode* node)
{
    void* payload = nullptr;
    EXPECT_EQ(csys_handleGetObject(&node->record, &payload), csysOk);
    return static_cast<csys_contextRecord*>(payload);
}

TEST(CsysContextRecord, KindsSetTheirFlags)
{
    csys_contextRecord* kinds[4] = {newContext(0, 0), newContext(1, 0), newContext(2, 0), newContext(7, 0)};
    int32_t expected[4] = {1, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kinds[i]->sourceReference, expected[i]);
        EXPECT_EQ(kinds[i]->kindFlag, expected[i]);
        EXPECT_EQ(kinds[i]->header.payload, kinds[i]);
        EXPECT_EQ(kinds[i]->source, nullptr);
        csys_handle handle = nullptr;
        EXPECT_EQ(csys_handleAttach(&handle, &kinds[i]->header), csysOk);
        EXPECT_EQ(csys_handleRelease(&handle), csysOk);
    }
    EXPECT_EQ(csys_contextRecordInit(nullptr, 0, 0, 0, 0, 0, 0), csysErrNullArg);
}

TEST(CsysContextRecord, AKindZeroCloneKeepsItsSourceAliveOthersDoNot)
{
    csys_handle source = nullptr;
    EXPECT_EQ(csys_handleAttach(&source, &newContext(0, 11)->header), csysOk);
    csys_handle clone = nullptr;
    ASSERT_EQ(csys_contextRecordClone(&source, &clone), csysOk);
    auto* original = static_cast<csys_contextRecord*>(source->payload);
    auto* copy = static_cast<csys_contextRecord*>(clone->payload);
    EXPECT_EQ(original->cloned, 1);
    EXPECT_EQ(original->clone, 0);
    EXPECT_EQ(copy->clone, 1);
    EXPECT_EQ(copy->cloned, 0);
    EXPECT_EQ(copy->word1, 11);
    EXPECT_EQ(copy->value2, 2.5);
    EXPECT_EQ(copy->word3, 6);
    EXPECT_EQ(copy->sourceReference, 1);
    EXPECT_EQ(copy->source, source);
    EXPECT_EQ(clone->inlineCount, 1);

    // The source lives on through the clone.
    EXPECT_EQ(csys_handleRelease(&source), csysOk);
    EXPECT_EQ(copy->source->inlineCount, 1);
    EXPECT_EQ(static_cast<csys_contextRecord*>(copy->source->payload)->word1, 11);
    EXPECT_EQ(csys_handleRelease(&clone), csysOk);

    EXPECT_EQ(csys_handleAttach(&source, &newContext(2, 22)->header), csysOk);
    ASSERT_EQ(csys_contextRecordClone(&source, &clone), csysOk);
    copy = static_cast<csys_contextRecord*>(clone->payload);
    EXPECT_EQ(copy->source, nullptr);
    EXPECT_EQ(copy->sourceReference, 0);
    EXPECT_EQ(source->inlineCount, 1);
    EXPECT_EQ(csys_handleRelease(&source), csysOk);
    EXPECT_EQ(csys_handleRelease(&clone), csysOk);
}

TEST(CsysContextRecord, CloningAnEmptySlotEmptiesTheOutSlot)
{
    csys_handle empty = nullptr;
    csys_handle out = nullptr;
    EXPECT_EQ(csys_handleAttach(&out, &newContext(1, 0)->header), csysOk);
    EXPECT_EQ(csys_contextRecordClone(&empty, &out), csysOk);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(csys_contextRecordClone(nullptr, &out), csysErrNullArg);
    EXPECT_EQ(csys_contextRecordClone(&empty, nullptr), csysErrNullArg);
    void* nullPayload = nullptr;
    EXPECT_EQ(csys_contextRecordRelease(&nullPayload, 0), csysOk);
}

TEST(CsysContextLink, TheTargetGetsAMarkedBlockOfClonesInReverseOrder)
{
    csys_threadHandle b = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&b), csysOk);
    csys_contextRecord* r2 = newContext(1, 2);
    csys_contextRecord* r1 = newContext(0, 1);
    pushNode(b, r2, nullptr, 900);
    pushNode(b, nullptr, nullptr, 901); // a marker of an older link of B
    pushNode(b, r1, nullptr, 902);      // B: r1, marker, r2

    csys_threadObject* a = nullptr;
    ASSERT_EQ(csys_threadGetCurrentObject(&a), csysOk);
    pushNode(a, nullptr, nullptr, 903); // an older node of A
    size_t before = nodesOf(a).size();

    csys_contextToken token;
    ASSERT_EQ(csys_contextTokenInit(&token), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    std::vector<csys_contextNode*> nodes = nodesOf(a);
    ASSERT_EQ(nodes.size(), before + 5);
    EXPECT_EQ(token.thread, a);
    EXPECT_NE(token.id, -1);
    // marker, clone of r2, copied marker, clone of r1, marker, older...
    EXPECT_EQ(nodes[0]->id, token.id);
    EXPECT_EQ(nodes[0]->record, nullptr);
    EXPECT_EQ(payloadOf(nodes[1])->word1, 2);
    EXPECT_EQ(payloadOf(nodes[1])->clone, 1);
    EXPECT_EQ(nodes[2]->record, nullptr);
    EXPECT_NE(nodes[2]->id, 901);
    EXPECT_NE(nodes[2]->id, token.id);
    EXPECT_EQ(payloadOf(nodes[3])->word1, 1);
    EXPECT_EQ(payloadOf(nodes[3])->source, &r1->header);
    EXPECT_EQ(nodes[4]->id, token.id);
    EXPECT_EQ(nodes[5]->id, 903);
    EXPECT_EQ(r1->cloned, 1);
    EXPECT_EQ(r2->cloned, 1);

    // Releasing the token removes exactly the block.
    ASSERT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(token.id, -1);
    EXPECT_EQ(token.thread, nullptr);
    nodes = nodesOf(a);
    ASSERT_EQ(nodes.size(), before);
    EXPECT_EQ(nodes[0]->id, 903);
    EXPECT_EQ(nodesOf(b).size(), 3u);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&b), csysOk);
}

TEST(CsysContextLink, LinkingAThreadToItselfRecordsOnlyTheThread)
{
    csys_contextToken token;
    EXPECT_EQ(csys_contextTokenInit(&token), csysOk);
    csys_threadObject* a = nullptr;
    ASSERT_EQ(csys_threadGetCurrentObject(&a), csysOk);
    size_t before = nodesOf(a).size();
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk);
    EXPECT_EQ(token.thread, a);
    EXPECT_EQ(token.id, -1);
    EXPECT_EQ(nodesOf(a).size(), before);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);

    csys_threadHandle empty = nullptr;
    EXPECT_EQ(csys_contextLink(&token, &empty, nullptr), csysErrNoThreadObject);
    EXPECT_EQ(csys_contextLink(nullptr, nullptr, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_contextTokenInit(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_contextTokenRelease(nullptr), csysErrNullArg);
}

TEST(CsysContextLink, LinkingAgainThroughAHeldTokenTakesTheEarlierBlockOut)
{
    csys_threadHandle b = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&b), csysOk);
    pushNode(b, newContext(1, 5), nullptr, 910);
    csys_threadObject* a = nullptr;
    ASSERT_EQ(csys_threadGetCurrentObject(&a), csysOk);
    size_t before = nodesOf(a).size();

    csys_contextToken token;
    EXPECT_EQ(csys_contextTokenInit(&token), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    int32_t first = token.id;
    ASSERT_EQ(nodesOf(a).size(), before + 3);

    // The token names only the new block; the old one does not stay behind
    // unnamed.
    csys_threadHandle self = a;
    ASSERT_EQ(csys_contextLink(&token, &self, &b), csysOk);
    EXPECT_NE(token.id, first);
    std::vector<csys_contextNode*> nodes = nodesOf(a);
    ASSERT_EQ(nodes.size(), before + 3);
    EXPECT_EQ(nodes[0]->id, token.id);
    EXPECT_EQ(nodes[2]->id, token.id);

    // The token's own thread slot may name the target.
    ASSERT_EQ(csys_contextLink(&token, &token.thread, &b), csysOk);
    EXPECT_EQ(nodesOf(a).size(), before + 3);

    // Linking a thread to itself ends the earlier link too.
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk);
    EXPECT_EQ(token.id, -1);
    EXPECT_EQ(nodesOf(a).size(), before);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);

    // A block in a thread that has exited went with its list.
    csys_threadHandle gone = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, &gone, &b), csysOk);
    ASSERT_EQ(csys_threadMarkExited(gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    EXPECT_EQ(token.thread, a);
    EXPECT_EQ(nodesOf(a).size(), before + 3);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(nodesOf(a).size(), before);
    EXPECT_EQ(csys_threadHandleRelease(&gone), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&b), csysOk);
}

TEST(CsysContextLink, ABlockWithoutItsClosingMarkerIsLeftInPlace)
{
    csys_threadHandle target = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&target), csysOk);
    pushNode(target, nullptr, nullptr, 77);
    pushNode(target, newContext(1, 0), nullptr, 78);
    pushNode(target, nullptr, nullptr, 500); // opening marker, no closing one
    csys_contextToken token = {500, nullptr};
    EXPECT_EQ(csys_threadHandleInitCopy(&token.thread, &target), csysOk);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysErrFail);
    EXPECT_EQ(nodesOf(target).size(), 3u);
    EXPECT_EQ(token.thread, nullptr);
    EXPECT_EQ(csys_threadHandleRelease(&target), csysOk);
}

// Serve functions act by the record's first word.
std::vector<int32_t>* gServed;

csysStatus serveByWord(void* payload, csys_contextServeResult* result)
{
    auto* record = static_cast<csys_contextRecord*>(payload);
    gServed->push_back(record->word1);
    EXPECT_EQ(result->remove, 0);
    EXPECT_EQ(result->status, csysOk);
    switch (record->word1) {
    case 1: // served and done
        result->remove = 1;
        return csysOk;
    case 2: // stays, reports a notice
        result->status = 5;
        return csysOk;
    case 3: // reports a failure in the pair
        result->status = csysErrNoMemory;
        return csysOk;
    case 4: // the call fails: the remove flag does not count
        result->remove = 1;
        return csysErrOsCall;
    default:
        return csysOk;
    }
}

TEST(CsysRunPending, ServesFromTheFrontUntilAFailure)
{
    std::vector<int32_t> served;
    gServed = &served;
    std::thread worker([&] {
        csys_threadObject* self = nullptr;
        ASSERT_EQ(csys_threadGetCurrentObject(&self), csysOk);
        EXPECT_EQ(csys_threadRunPending(), csysOk); // empty list

        pushNode(self, newContext(1, 9), &serveByWord, 10);
        pushNode(self, newContext(1, 3), &serveByWord, 11);
        pushNode(self, newContext(1, 2), &serveByWord, 12);
        pushNode(self, nullptr, nullptr, 13); // skipped
        pushNode(self, newContext(1, 1), &serveByWord, 14);

        EXPECT_EQ(csys_threadRunPending(), csysErrNoMemory);
        EXPECT_EQ(served, (std::vector<int32_t>{1, 2, 3}));
        std::vector<csys_contextNode*> nodes = nodesOf(self);
        ASSERT_EQ(nodes.size(), 4u);
        EXPECT_EQ(nodes[0]->id, 13);

        served.clear();
        pushNode(self, newContext(1, 4), &serveByWord, 15);
        EXPECT_EQ(csys_threadRunPending(), csysErrOsCall);
        EXPECT_EQ(served, (std::vector<int32_t>{4}));
        EXPECT_EQ(nodesOf(self).size(), 5u);

        // A thread object marked exited has nothing to serve.
        ASSERT_EQ(csys_threadMarkExited(self), csysOk);
        EXPECT_EQ(self->exited, 1);
        EXPECT_EQ(self->contexts, nullptr);
        EXPECT_EQ(csys_threadRunPending(), csysErrThreadExited);
    });
    worker.join();
}

// Exit handlers of attached threads.

struct ExitLog {
    std::vector<std::pair<char, uint32_t>> calls; // handler, thread
};

ExitLog* gExitLog;

template <char Name, csysStatus Result>
csysStatus logExit(void*)
{
    gExitLog->calls.push_back({Name, plat::currentThreadId()});
    return Result;
}

TEST(CsysThreadExit, ForeignHandlersRunOnTheirThreadBeforeItsOwnNewestFirst)
{
    ExitLog log;
    gExitLog = &log;
    uint32_t otherId = 0;
    {
        Attached other([&](csys_threadHandle) {
            otherId = plat::currentThreadId();
            EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'a', csysOk>, nullptr), csysOk);
            EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'b', csysOk>, nullptr), csysOk);
        });
        csys_threadHandle theirs = other.handle();
        ASSERT_EQ(csys_atThreadExit(&theirs, &logExit<'F', csysOk>, nullptr), csysOk);
        ASSERT_EQ(csys_atThreadExit(&theirs, &logExit<'G', csysOk>, nullptr), csysOk);
        EXPECT_EQ(csys_atThreadExit(&theirs, nullptr, nullptr), csysErrNullArg);
        other.finish();
    }
    ASSERT_EQ(log.calls.size(), 4u);
    EXPECT_EQ(log.calls[0].first, 'G');
    EXPECT_EQ(log.calls[1].first, 'F');
    EXPECT_EQ(log.calls[2].first, 'b');
    EXPECT_EQ(log.calls[3].first, 'a');
    for (const auto& call : log.calls)
        EXPECT_EQ(call.second, otherId);
}

std::atomic<int> gForeignRuns{0};

csysStatus countForeignRun(void*)
{
    ++gForeignRuns;
    return csysOk;
}

TEST(CsysThreadExit, AHandlerForAThreadThatHasGoneIsRefusedNotDropped)
{
    gForeignRuns = 0;
    csys_threadHandle theirs = nullptr;
    std::thread other([&] { EXPECT_EQ(csys_threadGetCurrent(&theirs), csysOk); });
    other.join();
    EXPECT_EQ(csys_atThreadExit(&theirs, &countForeignRun, nullptr), csysErrThreadExited);
    // Only this handle holds the object now.
    EXPECT_EQ(theirs->references, 1);
    EXPECT_EQ(csys_threadHandleRelease(&theirs), csysOk);
    EXPECT_EQ(gForeignRuns.load(), 0);
}

TEST(CsysThreadExit, AHandlerRacingItsThreadsExitRunsThereOrIsRefused)
{
    gForeignRuns = 0;
    int accepted = 0;
    for (int run = 0; run < 100; ++run) {
        csys_threadHandle theirs = nullptr;
        std::atomic<bool> attached{false};
        std::thread other([&] {
            EXPECT_EQ(csys_threadGetCurrent(&theirs), csysOk);
            attached = true;
        });
        while (!attached)
            std::this_thread::yield();
        csysStatus status = csysOk;
        for (int tries = 0; tries < 1000 && status == csysOk; ++tries) {
            status = csys_atThreadExit(&theirs, &countForeignRun, nullptr);
            if (status == csysOk)
                ++accepted;
        }
        other.join();
        EXPECT_TRUE(status == csysOk || status == csysErrThreadExited) << status;
        // Once it has gone, a late handler is refused.
        status = csys_atThreadExit(&theirs, &countForeignRun, nullptr);
        EXPECT_EQ(csys_threadHandleRelease(&theirs), csysOk);
        ASSERT_EQ(status, csysErrThreadExited);
    }
    EXPECT_EQ(gForeignRuns.load(), accepted);
}

TEST(CsysThreadExit, AFailingHandlerStopsTheTableButTheThreadStillDetaches)
{
    ExitLog log;
    gExitLog = &log;
    csys_threadHandle handle = nullptr;
    {
        Attached other([](csys_threadHandle) {
            EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'x', csysOk>, nullptr), csysOk);
            EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'y', csysErrFail>, nullptr), csysOk);
            EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'z', csysOk>, nullptr), csysOk);
        });
        csys_threadHandle theirs = other.handle();
        EXPECT_EQ(csys_threadHandleInitCopy(&handle, &theirs), csysOk);
        other.release();
        // The joiner is woken although a handler failed.
        EXPECT_EQ(csys_threadJoin(&handle), csysOk);
        other.finish();
    }
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].first, 'z');
    EXPECT_EQ(log.calls[1].first, 'y');
    EXPECT_EQ(handle->exited, 1);
    EXPECT_EQ(csys_threadHandleRelease(&handle), csysOk);
}

TEST(CsysThreadRecord, AThreadIsAttachedAtItsFirstThreadServiceAndDetachedAtExit)
{
    std::thread worker([] {
        int32_t has = 7;
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(has, 0);
        csys_threadRecord* record = nullptr;
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        EXPECT_EQ(record, nullptr);

        csys_threadObject* object = nullptr;
        ASSERT_EQ(csys_threadGetCurrentObject(&object), csysOk);
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->thread, object);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(has, 1);

        csys_threadHandle slot = nullptr;
        ASSERT_EQ(csys_threadAssignCurrent(&slot), csysOk);
        EXPECT_EQ(slot, object);
        EXPECT_EQ(object->references, 2);
        EXPECT_EQ(csys_threadHandleRelease(&slot), csysOk);

        // A detach by hand ends the record; the exit hook then finds none.
        EXPECT_EQ(csys_threadDetach(), csysOk);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(has, 0);
        EXPECT_EQ(csys_threadDetach(), csysOk);
    });
    worker.join();
    EXPECT_EQ(csys_threadHasRecord(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadGetCurrent(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_threadGetCurrentObject(nullptr), csysErrNullArg);
}

TEST(CsysThreadRecord, ARecordMayAdoptAnotherThreadsObject)
{
    csys_threadHandle given = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&given), csysOk);
    std::thread worker([&] {
        csys_threadRecord* record = nullptr;
        ASSERT_EQ(csys_threadRecordGet(&record, 1, &given), csysOk);
        EXPECT_EQ(record->thread, given);
        EXPECT_EQ(given->references, 2);
    });
    worker.join();
    // Detached at exit: the record's reference is gone and the object marked.
    EXPECT_EQ(given->references, 1);
    EXPECT_EQ(given->exited, 1);
    EXPECT_EQ(csys_threadHandleRelease(&given), csysOk);
}

TEST(ThreadHandleArray, ElementsStartEmptyAndCopiesShareReferences)
{
    csys_threadHandle me = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&me), csysOk);
    const int32_t base = me->references;

    csys_array handles;
    ASSERT_EQ(csys_threadHandleArrayCreate(&handles, 3), csysOk);
    auto* slots = static_cast<csys_threadHandle*>(handles.data);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(slots[i], nullptr);

    ASSERT_EQ(csys_arrayResizeFill(&handles, 5, &me), csysOk); // two copies of me
    slots = static_cast<csys_threadHandle*>(handles.data);
    EXPECT_EQ(slots[3], me);
    EXPECT_EQ(me->references, base + 2);

    csys_array copy;
    ASSERT_EQ(csys_arrayCreateCopy(&copy, &handles), csysOk);
    EXPECT_EQ(me->references, base + 4);

    ASSERT_EQ(csys_arrayFree(&handles), csysOk);
    ASSERT_EQ(csys_arrayFree(&copy), csysOk);
    EXPECT_EQ(me->references, base);
    EXPECT_EQ(csys_threadHandleRelease(&me), csysOk);
}

} // namespace
