#include "system/csys_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

namespace {

TEST(CsysThreadHandle, HandlesCompareByObjectAndCopiesAndAssignmentsCountReferences)
{
    csys_threadHandle mine = nullptr, again = nullptr, first = nullptr, second = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    ASSERT_EQ(csys_threadGetCurrent(&again), csysOk);
    int32_t order = 5, reverse = 0;
    void* identity = nullptr;
    csys_threadObject* object = nullptr;
    ASSERT_EQ(csys_threadHandleCompare(&mine, &again, &order), csysOk);
    ASSERT_EQ(csys_threadHandleIdentity(&mine, &identity), csysOk);
    ASSERT_EQ(csys_threadHandleGetObject(&mine, &object), csysOk);
    EXPECT_EQ(std::tuple(order, identity, object, object->self, object->threadId),
              std::tuple(0, mine, mine, mine, plat::currentThreadId()));

    ASSERT_EQ(csys_threadObjectCreate(&first), csysOk);
    ASSERT_EQ(csys_threadHandleCompare(&mine, &first, &order), csysOk);
    ASSERT_EQ(csys_threadHandleCompare(&first, &mine, &reverse), csysOk);
    EXPECT_EQ(std::tuple(order, reverse), mine < first ? std::tuple(-1, 1) : std::tuple(1, -1));

    csys_threadHandle copy = reinterpret_cast<csys_threadObject*>(0x1); // uninitialised
    ASSERT_EQ(csys_threadHandleInitCopy(&copy, &first), csysOk);
    ASSERT_EQ(csys_threadHandleInitCopy(&copy, &copy), csysOk);
    // Assigning the same object, or a slot to itself, changes nothing.
    ASSERT_EQ(csys_threadHandleAssign(&copy, &first), csysOk);
    ASSERT_EQ(csys_threadHandleAssign(&copy, &copy), csysOk);
    EXPECT_EQ(std::tuple(copy, first->references), std::tuple(first, 2));
    ASSERT_EQ(csys_threadObjectCreate(&second), csysOk);
    ASSERT_EQ(csys_threadHandleAssign(&copy, &second), csysOk);
    EXPECT_EQ(std::tuple(copy, first->references, second->references), std::tuple(second, 1, 2));

    // Thread-handle arrays start empty and their copies count references.
    csys_array handles, copied;
    ASSERT_EQ(csys_threadHandleArrayCreate(&handles, 3), csysOk);
    auto* slots = static_cast<csys_threadHandle*>(handles.data);
    EXPECT_EQ(std::tuple(slots[0], slots[1], slots[2]), std::tuple(nullptr, nullptr, nullptr));
    ASSERT_EQ(csys_arrayResizeFill(&handles, 5, &first), csysOk); // two copies of first
    ASSERT_EQ(csys_arrayCreateCopy(&copied, &handles), csysOk);
    EXPECT_EQ(std::tuple(static_cast<csys_threadHandle*>(handles.data)[3], first->references), std::tuple(first, 5));
    ASSERT_EQ(csys_arrayFree(&handles), csysOk);
    ASSERT_EQ(csys_arrayFree(&copied), csysOk);
    EXPECT_EQ(first->references, 1);

    // The last release destroys the object (the leak checker sees the rest).
    EXPECT_EQ(csys_threadHandleRelease(&first), csysOk);
    EXPECT_EQ(first, nullptr);
    for (csys_threadHandle* slot : {&first, &copy, &second, &mine, &again})
        EXPECT_EQ(csys_threadHandleRelease(slot), csysOk);
}

TEST(CsysThreadHandle, MissingArgumentsAndObjectsAreRefused)
{
    csys_threadHandle mine = nullptr, empty = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    EXPECT_EQ(csys_threadJoin(&mine), csysErrFail); // itself: an error, not a hang
    int32_t order = 0, w1 = 0, w2 = 0;
    void* identity = nullptr;
    csys_threadObject* object = nullptr;
    csys_handle record = nullptr;
    csys_contextToken token = {-1, nullptr};
    const csysStatus noObject[] = {
        csys_threadJoin(&empty), csys_threadGetJobHandle(&empty, &record), csys_threadSetJobHandle(&empty, &record),
        csys_threadGetJobWords(nullptr, &w1, &w2, nullptr, nullptr, nullptr), csys_contextLink(&token, &empty, nullptr),
    };
    for (csysStatus status : noObject)
        EXPECT_EQ(status, csysErrNoThreadObject);
    const csysStatus nullArgument[] = {
        csys_threadJoin(nullptr), csys_threadHandleCompare(nullptr, &mine, &order),
        csys_threadHandleCompare(&mine, &mine, nullptr), csys_threadHandleIdentity(nullptr, &identity),
        csys_threadHandleGetObject(nullptr, &object), csys_threadHandleInit(nullptr), csys_threadHandleRelease(nullptr),
        csys_threadHandleInitCopy(nullptr, &mine), csys_threadHandleAssign(&empty, nullptr),
        csys_threadObjectCreate(nullptr), csys_threadGetJobWords(mine, nullptr, &w2, nullptr, nullptr, nullptr),
        csys_threadGetJobWords(mine, &w1, nullptr, nullptr, nullptr, nullptr),
        csys_threadHandleGetJobWords(nullptr, &w1, &w2, nullptr, nullptr, nullptr),
        csys_threadGetJobHandle(nullptr, &record), csys_threadSetJobHandle(&mine, nullptr),
        csys_semaphoreRelease(nullptr), csys_contextRecordInit(nullptr, 0, 0, 0, 0, 0, 0),
        csys_contextRecordClone(nullptr, &record), csys_contextRecordClone(&record, nullptr),
        csys_contextLink(nullptr, nullptr, nullptr), csys_contextTokenInit(nullptr), csys_contextTokenRelease(nullptr),
        csys_threadHasRecord(nullptr), csys_threadGetCurrent(nullptr), csys_threadGetCurrentObject(nullptr),
        csys_atThreadExit(&mine, nullptr, nullptr),
    };
    for (size_t i = 0; i < sizeof nullArgument / sizeof nullArgument[0]; ++i)
        EXPECT_EQ(nullArgument[i], csysErrNullArg) << "case " << i;
    EXPECT_EQ(csys_threadHandleRelease(&mine), csysOk);
}

// ---- exit handlers and joins ----

// Handlers append their name; those of the watched thread note where they ran.
std::string gExitLog;
std::atomic<uint32_t> gExitThread{0};
std::atomic<bool> gRanElsewhere{false};

template <char Name, csysStatus Result>
csysStatus logExit(void*)
{
    gExitLog += Name;
    if (plat::currentThreadId() != gExitThread.load())
        gRanElsewhere = true;
    return Result;
}

TEST(CsysThreadExit, HandlersRunOnTheirThreadForeignFirstNewestFirstAndEveryJoinerReturns)
{
    gExitLog.clear();
    gRanElsewhere = false;
    csys_event ready = {}, go = {};
    ASSERT_EQ(csys_eventCreate(&ready, 1, 0), csysOk);
    ASSERT_EQ(csys_eventCreate(&go, 1, 0), csysOk);
    csys_threadHandle theirs = nullptr;
    std::thread other([&] {
        gExitThread = plat::currentThreadId();
        EXPECT_EQ(csys_threadGetCurrent(&theirs), csysOk);
        EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'a', csysOk>, nullptr), csysOk);
        EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'b', csysOk>, nullptr), csysOk);
        EXPECT_EQ(csys_eventSet(&ready), csysOk);
        EXPECT_EQ(csys_eventWait(&go, csysWaitForever, nullptr), csysOk);
        EXPECT_EQ(csys_threadHandleRelease(&theirs), csysOk);
    });
    ASSERT_EQ(csys_eventWait(&ready, csysWaitForever, nullptr), csysOk);
    csys_threadHandle handle = nullptr;
    ASSERT_EQ(csys_threadHandleInitCopy(&handle, &theirs), csysOk);
    ASSERT_EQ(csys_atThreadExit(&handle, &logExit<'F', csysOk>, nullptr), csysOk);
    ASSERT_EQ(csys_atThreadExit(&handle, &logExit<'G', csysOk>, nullptr), csysOk);
    std::atomic<csysStatus> early{1};
    std::thread joiner([&] { early = csys_threadJoin(&handle); });
    EXPECT_EQ(csys_eventSet(&go), csysOk);
    joiner.join();
    other.join();
    EXPECT_EQ(std::tuple(early.load(), gExitLog, gRanElsewhere.load()), std::tuple(csysOk, "GFba", false));
    EXPECT_EQ(csys_threadJoin(&handle), csysOk);
    EXPECT_EQ(std::tuple(handle->exited, handle->contexts), std::tuple(1, nullptr));
    EXPECT_EQ(csys_threadHandleRelease(&handle), csysOk);
    EXPECT_EQ(std::tuple(csys_handleClose(&ready.handle), csys_handleClose(&go.handle)), std::tuple(csysOk, csysOk));
}

std::atomic<int> gForeignRuns{0};

csysStatus countForeignRun(void*) { return ++gForeignRuns, csysOk; }

TEST(CsysThreadExit, AHandlerRacingItsThreadsExitRunsThereOrIsRefusedNeverDropped)
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
        // Once it has gone, a late handler is refused and holds nothing.
        ASSERT_EQ(csys_atThreadExit(&theirs, &countForeignRun, nullptr), csysErrThreadExited);
        EXPECT_EQ(theirs->references, 1);
        EXPECT_EQ(csys_threadHandleRelease(&theirs), csysOk);
    }
    EXPECT_EQ(gForeignRuns.load(), accepted);
}

TEST(CsysThreadRecord, AThreadIsAttachedAtItsFirstThreadServiceAndMayAdoptAnotherObject)
{
    std::thread([] {
        int32_t has = 7;
        csys_threadRecord* record = nullptr;
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        EXPECT_EQ(std::tuple(has, record), std::tuple(0, nullptr));

        csys_threadObject* object = nullptr;
        ASSERT_EQ(csys_threadGetCurrentObject(&object), csysOk);
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        csys_threadHandle slot = nullptr;
        ASSERT_EQ(csys_threadAssignCurrent(&slot), csysOk);
        EXPECT_EQ(std::tuple(record->thread, has, slot, object->references), std::tuple(object, 1, object, 2));
        EXPECT_EQ(csys_threadHandleRelease(&slot), csysOk);

        // A detach by hand ends the record; the exit hook then finds none.
        EXPECT_EQ(csys_threadDetach(), csysOk);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(has, 0);
        EXPECT_EQ(csys_threadDetach(), csysOk);
    }).join();

    csys_threadHandle given = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&given), csysOk);
    std::thread([&] {
        csys_threadRecord* record = nullptr;
        ASSERT_EQ(csys_threadRecordGet(&record, 1, &given), csysOk);
        EXPECT_EQ(std::tuple(record->thread, given->references), std::tuple(given, 2));
    }).join();
    // Detached at exit: the record's reference is gone and the object marked.
    EXPECT_EQ(std::tuple(given->references, given->exited), std::tuple(1, 1));
    EXPECT_EQ(csys_threadHandleRelease(&given), csysOk);
}

// ---- job words and semaphores ----

csys_contextRecord* newContext(int32_t kind, int32_t word)
{
    csys_contextRecord* record = nullptr;
    EXPECT_EQ(csys_allocZeroed(static_cast<int32_t>(sizeof(csys_contextRecord)), &record), csysOk);
    EXPECT_EQ(csys_contextRecordInit(record, kind, word, 1.5, 2.5, 5, 6), csysOk);
    return record;
}

TEST(CsysJobWords, StartAtOneZeroMinusOneTheCounterCountsUpAndTheJobHandleIsCounted)
{
    csys_threadHandle thread = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&thread), csysOk);
    int32_t w1 = 0, w2 = 9, w3 = 0, counter = 0;
    csys_handle out = nullptr;
    EXPECT_EQ(csys_handleAttach(&out, &newContext(1, 0)->header), csysOk);
    ASSERT_EQ(csys_threadHandleGetJobWords(&thread, &w1, &w2, &w3, &counter, &out), csysOk);
    // The empty first job handle was copied in.
    EXPECT_EQ(std::tuple(w1, w2, w3, counter, out), std::tuple(1, 0, -1, 1, nullptr));
    ASSERT_EQ(csys_threadGetJobWords(thread, &w1, &w2, nullptr, &counter, nullptr), csysOk);
    w3 = 0;
    EXPECT_EQ(csys_threadCurrentGetJobWords(&w1, &w2, &w3, nullptr, nullptr), csysOk);
    EXPECT_EQ(std::tuple(counter, w3), std::tuple(2, -1));

    csys_handle record = nullptr, read = nullptr;
    EXPECT_EQ(csys_handleAttach(&record, &newContext(1, 0)->header), csysOk);
    ASSERT_EQ(csys_threadSetJobHandle(&thread, &record), csysOk);
    ASSERT_EQ(csys_threadGetJobHandle(&thread, &read), csysOk);
    EXPECT_EQ(std::tuple(read, record->inlineCount), std::tuple(record, 3));

    // A spare semaphore holds one count; past it the release is an OS error.
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysOk);
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysErrOsCall);
    // The object's reference goes with the object.
    EXPECT_EQ(csys_threadHandleRelease(&thread), csysOk);
    EXPECT_EQ(record->inlineCount, 2);
    EXPECT_EQ(csys_handleRelease(&read), csysOk);
    EXPECT_EQ(csys_handleRelease(&record), csysOk);
}

// ---- context records and lists ----

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

TEST(CsysContextRecord, OnlyKindZeroSetsItsFlagsAndItsClonesKeepTheSourceAlive)
{
    for (int32_t kind : {0, 1, 2, 7}) {
        csys_handle source = nullptr;
        csys_contextRecord* original = newContext(kind, 11);
        const int32_t flag = kind == 0 ? 1 : 0;
        EXPECT_EQ(std::tuple(original->sourceReference, original->kindFlag), std::tuple(flag, flag)) << kind;
        EXPECT_EQ(std::tuple(original->header.payload, original->source), std::tuple(original, nullptr));
        EXPECT_EQ(csys_handleAttach(&source, &original->header), csysOk);
        csys_handle clone = nullptr;
        ASSERT_EQ(csys_contextRecordClone(&source, &clone), csysOk);
        auto* copy = static_cast<csys_contextRecord*>(clone->payload);
        EXPECT_EQ(std::tuple(original->cloned, original->clone, copy->cloned, copy->clone), std::tuple(1, 0, 0, 1));
        EXPECT_EQ(std::tuple(copy->word1, copy->value2, copy->word3), std::tuple(11, 2.5, 6));
        EXPECT_EQ(std::tuple(copy->sourceReference, copy->source), std::tuple(flag, kind == 0 ? source : nullptr));
        EXPECT_EQ(std::tuple(clone->inlineCount, source->inlineCount), std::tuple(1, 1 + flag));
        // A kind-zero source lives on through its clone.
        EXPECT_EQ(csys_handleRelease(&source), csysOk);
        if (kind == 0) {
            EXPECT_EQ(static_cast<csys_contextRecord*>(copy->source->payload)->word1, 11);
        }
        EXPECT_EQ(csys_handleRelease(&clone), csysOk);
    }
    // Cloning an empty slot empties the out slot.
    csys_handle empty = nullptr, out = nullptr;
    EXPECT_EQ(csys_handleAttach(&out, &newContext(1, 0)->header), csysOk);
    EXPECT_EQ(csys_contextRecordClone(&empty, &out), csysOk);
    EXPECT_EQ(out, nullptr);
    void* nullPayload = nullptr;
    EXPECT_EQ(csys_contextRecordRelease(&nullPayload, 0), csysOk);
}

TEST(CsysContextLink, TheTargetGetsAMarkedBlockOfClonesInReverseOrderThatTheTokenTakesOut)
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
    EXPECT_NE(token.id, -1);
    // marker, clone of r2, copied marker, clone of r1, marker, older...
    EXPECT_EQ(std::tuple(token.thread, nodes[0]->id, nodes[0]->record, nodes[4]->id, nodes[5]->id),
              std::tuple(a, token.id, nullptr, token.id, 903));
    auto* clone2 = static_cast<csys_contextRecord*>(nodes[1]->record->payload);
    auto* clone1 = static_cast<csys_contextRecord*>(nodes[3]->record->payload);
    EXPECT_EQ(std::tuple(clone2->word1, clone2->clone, nodes[2]->record, clone1->word1, clone1->source),
              std::tuple(2, 1, nullptr, 1, &r1->header));
    EXPECT_TRUE(nodes[2]->id != 901 && nodes[2]->id != token.id) << nodes[2]->id;
    EXPECT_EQ(std::tuple(r1->cloned, r2->cloned), std::tuple(1, 1));

    // Releasing the token removes exactly the block.
    ASSERT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(std::tuple(token.id, token.thread), std::tuple(-1, nullptr));
    nodes = nodesOf(a);
    ASSERT_EQ(std::tuple(nodes.size(), nodesOf(b).size()), std::tuple(before, 3u));
    EXPECT_EQ(nodes[0]->id, 903);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(csys_threadHandleRelease(&b), csysOk);
}

TEST(CsysContextLink, LinkingAgainOrToItselfTakesTheEarlierBlockOut)
{
    csys_threadHandle b = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&b), csysOk);
    pushNode(b, newContext(1, 5), nullptr, 910);
    csys_threadObject* a = nullptr;
    ASSERT_EQ(csys_threadGetCurrentObject(&a), csysOk);
    size_t before = nodesOf(a).size();

    // Linking a thread to itself records only the thread.
    csys_contextToken token;
    ASSERT_EQ(csys_contextTokenInit(&token), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk);
    EXPECT_EQ(std::tuple(token.thread, token.id, nodesOf(a).size()), std::tuple(a, -1, before));

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
    EXPECT_EQ(std::tuple(nodes[0]->id, nodes[2]->id), std::tuple(token.id, token.id));
    // The token's own thread slot may name the target.
    ASSERT_EQ(csys_contextLink(&token, &token.thread, &b), csysOk);
    EXPECT_EQ(nodesOf(a).size(), before + 3);
    // Linking a thread to itself ends the earlier link too.
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk);
    EXPECT_EQ(std::tuple(token.id, nodesOf(a).size()), std::tuple(-1, before));
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);

    // A block in a thread that has exited went with its list.
    csys_threadHandle gone = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, &gone, &b), csysOk);
    ASSERT_EQ(csys_threadMarkExited(gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    EXPECT_EQ(std::tuple(token.thread, nodesOf(a).size()), std::tuple(a, before + 3));
    EXPECT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(nodesOf(a).size(), before);
    EXPECT_EQ(csys_threadHandleRelease(&gone), csysOk);

    // A block without its closing marker is left in place.
    pushNode(b, nullptr, nullptr, 77);
    pushNode(b, nullptr, nullptr, 500); // opening marker, no closing one
    token = {500, nullptr};
    EXPECT_EQ(csys_threadHandleInitCopy(&token.thread, &b), csysOk);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysErrFail);
    EXPECT_EQ(std::tuple(nodesOf(b).size(), token.thread), std::tuple(3u, nullptr));
    EXPECT_EQ(csys_threadHandleRelease(&b), csysOk);
}

// Serve functions act by the record's first word.
std::vector<int32_t>* gServed;

csysStatus serveByWord(void* payload, csys_contextServeResult* result)
{
    auto* record = static_cast<csys_contextRecord*>(payload);
    gServed->push_back(record->word1);
    EXPECT_EQ(std::tuple(result->remove, result->status), std::tuple(0, csysOk));
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
    std::thread([&] {
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
        EXPECT_EQ(nodes[0]->id, 13); // served 1 is gone

        served.clear();
        pushNode(self, newContext(1, 4), &serveByWord, 15);
        EXPECT_EQ(csys_threadRunPending(), csysErrOsCall);
        EXPECT_EQ(std::tuple(served, nodesOf(self).size()), std::tuple(std::vector<int32_t>{4}, 5u));

        // A thread object marked exited has nothing to serve.
        ASSERT_EQ(csys_threadMarkExited(self), csysOk);
        EXPECT_EQ(std::tuple(self->exited, self->contexts), std::tuple(1, nullptr));
        EXPECT_EQ(csys_threadRunPending(), csysErrThreadExited);
    }).join();
}

} // namespace
