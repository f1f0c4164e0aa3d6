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
    csys_threadHandle mine = nullptr, first = nullptr, second = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    ASSERT_EQ(csys_threadObjectCreate(&first), csysOk);
    ASSERT_EQ(csys_threadObjectCreate(&second), csysOk);
    int32_t same = 5, order = 0, reverse = 0;
    void* identity = nullptr;
    csys_threadObject* object = nullptr;
    ASSERT_EQ(csys_threadHandleCompare(&mine, &mine, &same), csysOk);
    ASSERT_EQ(csys_threadHandleCompare(&mine, &first, &order), csysOk);
    ASSERT_EQ(csys_threadHandleCompare(&first, &mine, &reverse), csysOk);
    ASSERT_EQ(csys_threadHandleIdentity(&mine, &identity), csysOk);
    ASSERT_EQ(csys_threadHandleGetObject(&mine, &object), csysOk);
    EXPECT_EQ(std::tuple(same, identity, object->self, object->threadId),
              std::tuple(0, mine, mine, plat::currentThreadId()));
    EXPECT_EQ(std::tuple(order, reverse), mine < first ? std::tuple(-1, 1) : std::tuple(1, -1));

    csys_threadHandle copy = reinterpret_cast<csys_threadObject*>(0x1); // uninitialised
    ASSERT_EQ(csys_threadHandleInitCopy(&copy, &first), csysOk);
    // Assigning the same object, or a slot to itself, changes nothing.
    ASSERT_EQ(csys_threadHandleAssign(&copy, &first), csysOk);
    ASSERT_EQ(csys_threadHandleAssign(&copy, &copy), csysOk);
    EXPECT_EQ(std::tuple(copy, first->references), std::tuple(first, 2));
    ASSERT_EQ(csys_threadHandleAssign(&copy, &second), csysOk);
    EXPECT_EQ(std::tuple(copy, first->references, second->references), std::tuple(second, 1, 2));

    // Thread-handle arrays start empty and their copies count references.
    csys_array handles, copied;
    ASSERT_EQ(csys_threadHandleArrayCreate(&handles, 1), csysOk);
    EXPECT_EQ(static_cast<csys_threadHandle*>(handles.data)[0], nullptr);
    ASSERT_EQ(csys_arrayResizeFill(&handles, 3, &first), csysOk);
    ASSERT_EQ(csys_arrayCreateCopy(&copied, &handles), csysOk);
    EXPECT_EQ(first->references, 5);
    ASSERT_EQ(csys_arrayFree(&handles), csysOk);
    ASSERT_EQ(csys_arrayFree(&copied), csysOk);
    EXPECT_EQ(first->references, 1);
    for (csys_threadHandle* slot : {&first, &copy, &second, &mine}) // the leak checker sees what stays
        EXPECT_EQ(csys_threadHandleRelease(slot), csysOk);
}

TEST(CsysThreadHandle, MissingArgumentsAndObjectsAreRefused)
{
    csys_threadHandle mine = nullptr, empty = nullptr;
    ASSERT_EQ(csys_threadGetCurrent(&mine), csysOk);
    EXPECT_EQ(csys_threadJoin(&mine), csysErrFail); // itself: an error, not a hang
    int32_t w1 = 0;
    csys_handle record = nullptr;
    csys_contextToken token = {-1, nullptr};
    for (csysStatus status : {csys_threadJoin(&empty), csys_threadSetJobHandle(&empty, &record),
                              csys_threadGetJobWords(nullptr, &w1, &w1, nullptr, nullptr, nullptr),
                              csys_contextLink(&token, &empty, nullptr)})
        EXPECT_EQ(status, csysErrNoThreadObject);
    for (csysStatus status : {csys_threadJoin(nullptr), csys_threadHandleAssign(&empty, nullptr),
                              csys_threadGetJobWords(mine, nullptr, &w1, nullptr, nullptr, nullptr),
                              csys_contextRecordClone(&record, nullptr), csys_atThreadExit(&mine, nullptr, nullptr),
                              csys_threadHandleRelease(nullptr), csys_contextTokenRelease(nullptr),
                              csys_threadGetCurrent(nullptr)})
        EXPECT_EQ(status, csysErrNullArg);
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
    std::atomic<bool> ready{false}, go{false};
    csys_threadHandle theirs = nullptr, handle = nullptr;
    std::thread other([&] {
        gExitThread = plat::currentThreadId();
        EXPECT_EQ(csys_threadGetCurrent(&theirs), csysOk);
        EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'a', csysOk>, nullptr), csysOk);
        EXPECT_EQ(csys_atThreadExit(nullptr, &logExit<'b', csysOk>, nullptr), csysOk);
        ready = true;
        while (!go)
            std::this_thread::yield();
        EXPECT_EQ(csys_threadHandleRelease(&theirs), csysOk);
    });
    while (!ready)
        std::this_thread::yield();
    ASSERT_EQ(csys_threadHandleInitCopy(&handle, &theirs), csysOk);
    ASSERT_EQ(csys_atThreadExit(&handle, &logExit<'F', csysOk>, nullptr), csysOk);
    ASSERT_EQ(csys_atThreadExit(&handle, &logExit<'G', csysOk>, nullptr), csysOk);
    std::atomic<csysStatus> early{1};
    std::thread joiner([&] { early = csys_threadJoin(&handle); });
    go = true;
    joiner.join();
    other.join();
    EXPECT_EQ(std::tuple(early.load(), gExitLog, gRanElsewhere.load()), std::tuple(csysOk, "GFba", false));
    EXPECT_EQ(csys_threadJoin(&handle), csysOk);
    EXPECT_EQ(std::tuple(handle->exited, handle->contexts), std::tuple(1, nullptr));
    EXPECT_EQ(csys_threadHandleRelease(&handle), csysOk);
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
        csys_threadObject* object = nullptr;
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(std::tuple(has, record), std::tuple(0, nullptr));
        ASSERT_EQ(csys_threadGetCurrentObject(&object), csysOk);
        ASSERT_EQ(csys_threadRecordGet(&record, 0, nullptr), csysOk);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(std::tuple(record->thread, has), std::tuple(object, 1));
        // A detach by hand ends the record; the exit hook then finds none.
        EXPECT_EQ(csys_threadDetach(), csysOk);
        ASSERT_EQ(csys_threadHasRecord(&has), csysOk);
        EXPECT_EQ(has, 0);
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
    csys_handle record = nullptr, out = nullptr;
    EXPECT_EQ(csys_handleAttach(&record, &newContext(1, 0)->header), csysOk);
    EXPECT_EQ(csys_handleCopy(&out, &record), csysOk);
    ASSERT_EQ(csys_threadHandleGetJobWords(&thread, &w1, &w2, &w3, &counter, &out), csysOk);
    ASSERT_EQ(csys_threadGetJobWords(thread, &w1, &w2, nullptr, &counter, nullptr), csysOk);
    // The empty first job handle was copied in.
    EXPECT_EQ(std::tuple(w1, w2, w3, counter, out, record->inlineCount), std::tuple(1, 0, -1, 2, nullptr, 1));
    ASSERT_EQ(csys_threadSetJobHandle(&thread, &record), csysOk);
    ASSERT_EQ(csys_threadGetJobHandle(&thread, &out), csysOk);
    EXPECT_EQ(std::tuple(out, record->inlineCount), std::tuple(record, 3));
    // A spare semaphore holds one count; past it the release is an OS error.
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysOk);
    EXPECT_EQ(csys_semaphoreRelease(thread->spareSemaphores[0]), csysErrOsCall);
    // The object's reference goes with the object.
    EXPECT_EQ(csys_threadHandleRelease(&thread), csysOk);
    EXPECT_EQ(record->inlineCount, 2);
    EXPECT_EQ(csys_handleRelease(&out), csysOk);
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
    for (int32_t kind : {0, 1}) {
        csys_handle source = nullptr, clone = nullptr;
        csys_contextRecord* original = newContext(kind, 11);
        const int32_t flag = kind == 0 ? 1 : 0;
        EXPECT_EQ(std::tuple(original->sourceReference, original->kindFlag), std::tuple(flag, flag)) << kind;
        EXPECT_EQ(csys_handleAttach(&source, &original->header), csysOk);
        ASSERT_EQ(csys_contextRecordClone(&source, &clone), csysOk);
        auto* copy = static_cast<csys_contextRecord*>(clone->payload);
        EXPECT_EQ(std::tuple(original->cloned, original->clone, copy->cloned, copy->clone), std::tuple(1, 0, 0, 1));
        EXPECT_EQ(std::tuple(copy->word1, copy->value2, copy->word3), std::tuple(11, 2.5, 6));
        EXPECT_EQ(std::tuple(copy->sourceReference, copy->source), std::tuple(flag, kind == 0 ? source : nullptr));
        EXPECT_EQ(std::tuple(clone->inlineCount, source->inlineCount), std::tuple(1, 1 + flag));
        // A kind-zero source lives on through its clone (ASan sees a freed one).
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

// The target gets a marked block of clones in reverse order, which the
// token takes out; linking again, or to itself, takes the earlier block out.
TEST(CsysContextLink, TheTokenNamesOneMarkedBlockOfClones)
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
    const size_t before = nodesOf(a).size();

    csys_contextToken token;
    ASSERT_EQ(csys_contextTokenInit(&token), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk); // to itself: only the thread
    EXPECT_EQ(std::tuple(token.thread, token.id, nodesOf(a).size()), std::tuple(a, -1, before));
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    const int32_t first = token.id;
    std::vector<csys_contextNode*> nodes = nodesOf(a);
    ASSERT_EQ(nodes.size(), before + 5);
    // marker, clone of r2, copied marker, clone of r1, marker, older...
    EXPECT_EQ(std::tuple(token.thread, nodes[0]->id, nodes[0]->record, nodes[4]->id, nodes[5]->id),
              std::tuple(a, token.id, nullptr, token.id, 903));
    auto* clone2 = static_cast<csys_contextRecord*>(nodes[1]->record->payload);
    auto* clone1 = static_cast<csys_contextRecord*>(nodes[3]->record->payload);
    EXPECT_EQ(std::tuple(clone2->word1, clone2->clone, nodes[2]->record, clone1->word1, clone1->source),
              std::tuple(2, 1, nullptr, 1, &r1->header));
    EXPECT_TRUE(nodes[2]->id != 901 && nodes[2]->id != token.id) << nodes[2]->id;

    // The token names only the new block; the old one does not stay behind
    // unnamed, even when the token's own thread slot names the target.
    ASSERT_EQ(csys_contextLink(&token, &token.thread, &b), csysOk);
    EXPECT_EQ(std::tuple(token.id != first, nodesOf(a).size()), std::tuple(true, before + 5));
    ASSERT_EQ(csys_contextLink(&token, nullptr, nullptr), csysOk);
    EXPECT_EQ(std::tuple(token.id, nodesOf(a).size()), std::tuple(-1, before));

    // A block in a thread that has exited went with its list.
    csys_threadHandle gone = nullptr;
    ASSERT_EQ(csys_threadObjectCreate(&gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, &gone, &b), csysOk);
    ASSERT_EQ(csys_threadMarkExited(gone), csysOk);
    ASSERT_EQ(csys_contextLink(&token, nullptr, &b), csysOk);
    EXPECT_EQ(std::tuple(token.thread, nodesOf(a).size()), std::tuple(a, before + 5));
    ASSERT_EQ(csys_contextTokenRelease(&token), csysOk);
    EXPECT_EQ(std::tuple(token.id, token.thread, nodesOf(a).size()), std::tuple(-1, nullptr, before));
    EXPECT_EQ(csys_threadHandleRelease(&gone), csysOk);

    // A block without its closing marker is left in place.
    pushNode(b, nullptr, nullptr, 500); // opening marker, no closing one
    token = {500, nullptr};
    EXPECT_EQ(csys_threadHandleInitCopy(&token.thread, &b), csysOk);
    EXPECT_EQ(csys_contextTokenRelease(&token), csysErrFail);
    EXPECT_EQ(std::tuple(nodesOf(b).size(), token.thread), std::tuple(4u, nullptr));
    EXPECT_EQ(csys_threadHandleRelease(&b), csysOk);
}

// Serve functions act by the record's first word.
std::vector<int32_t>* gServed;

csysStatus serveByWord(void* payload, csys_contextServeResult* result)
{
    const int32_t word = static_cast<csys_contextRecord*>(payload)->word1;
    gServed->push_back(word);
    EXPECT_EQ(std::tuple(result->remove, result->status), std::tuple(0, csysOk));
    // 1: served and done; 2: stays with a notice; 3: a failure in the pair;
    // 4: the call fails, so its remove flag does not count.
    result->remove = word == 1 || word == 4;
    result->status = word == 2 ? 5 : word == 3 ? csysErrNoMemory : csysOk;
    return word == 4 ? csysErrOsCall : csysOk;
}

TEST(CsysRunPending, ServesFromTheFrontUntilAFailure)
{
    std::vector<int32_t> served;
    gServed = &served;
    std::thread([&] {
        csys_threadObject* self = nullptr;
        ASSERT_EQ(csys_threadGetCurrentObject(&self), csysOk);
        EXPECT_EQ(csys_threadRunPending(), csysOk); // empty list
        for (int32_t word : {9, 3, 2, 0, 1}) // 0: a marker, skipped
            pushNode(self, word ? newContext(1, word) : nullptr, word ? &serveByWord : nullptr, 10 + word);
        EXPECT_EQ(csys_threadRunPending(), csysErrNoMemory);
        std::vector<csys_contextNode*> nodes = nodesOf(self);
        EXPECT_EQ(std::tuple(served, nodes.size(), nodes[0]->id), std::tuple(std::vector<int32_t>{1, 2, 3}, 4u, 10));
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
