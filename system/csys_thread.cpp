#include "system/csys_thread.h"

#include <functional>

#include "platform/atomic.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "system/csys_cleanup.h"
#include "system/csys_internal.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

namespace {

using csys_detail::firstFailure;
using csys_detail::platHandle;

// Ids of context nodes; -1 is "none" and never handed out.
int32_t gNextContextId = 0;

int32_t newContextId()
{
    int32_t id = plat::atomicIncrement(&gNextContextId);
    if (id == -1)
        id = plat::atomicIncrement(&gNextContextId);
    return id;
}

csysStatus newNode(csys_contextNode** node, csys_contextServeFunction serve, int32_t id)
{
    *node = nullptr;
    csysStatus status = csys_allocZeroed(static_cast<int32_t>(sizeof(csys_contextNode)), node);
    if (status < 0)
        return status;
    (*node)->serve = serve;
    (*node)->id = id;
    return csysOk;
}

[[nodiscard]] csysStatus freeNode(csys_contextNode* node)
{
    csysStatus status = csys_handleRelease(&node->record);
    (void)csys_free(&node); // the slot exists: cannot fail
    return status;
}

// Frees the nodes of a chain linked through next.
[[nodiscard]] csysStatus freeChain(csys_contextNode* first)
{
    csysStatus status = csysOk;
    while (first != nullptr) {
        csys_contextNode* next = first->next;
        status = firstFailure(status, freeNode(first));
        first = next;
    }
    return status;
}

csysStatus freeList(csys_contextNode** header)
{
    if (*header == nullptr)
        return csysOk;
    csysStatus status = freeChain((*header)->next);
    (void)csys_free(header); // the slot exists: cannot fail
    return status;
}

void unlink(csys_contextNode* node)
{
    node->previous->next = node->next; // a node always has a previous: the header at least
    if (node->next != nullptr)
        node->next->previous = node->previous;
}

csysStatus destroyThreadObject(csys_threadObject** payload)
{
    csys_threadObject* object = *payload;
    if (object == nullptr)
        return csysOk;
    csysStatus status = freeList(&object->contexts);
    status = firstFailure(status, csys_csDelete(&object->section));
    status = firstFailure(status, csys_handleRelease(&object->jobHandles[0]));
    status = firstFailure(status, csys_handleRelease(&object->jobHandles[1]));
    status = firstFailure(status, csys_threadHandleRelease(&object->linkedThread));
    status = firstFailure(status, csys_handleClose(&object->threadHandle));
    status = firstFailure(status, csys_handleClose(&object->spareSemaphores[0]));
    status = firstFailure(status, csys_handleClose(&object->spareSemaphores[1]));
    status = firstFailure(status, csys_handleClose(&object->exitSemaphore));
    (void)csys_free(&object); // the slot exists: cannot fail
    return status;
}

csysStatus closeHandleEntry(void* handleWord) { return csys_handleClose(static_cast<void**>(handleWord)); }
csysStatus deleteSectionEntry(void* slot) { return csys_csDelete(static_cast<csys_criticalSection**>(slot)); }
csysStatus freeListEntry(void* header) { return freeList(static_cast<csys_contextNode**>(header)); }
csysStatus freeEntry(void* slot) { return csys_free(slot); }

csysStatus createSemaphore(void** handle)
{
    *handle = plat::createSemaphore(0, 1);
    return *handle != nullptr ? csysOk : csysErrOsCall;
}

// A new handle in local to the slot's thread, or the calling thread for a
// null slot; an empty slot gives csysErrNoThreadObject.
csysStatus resolveThread(const csys_threadHandle* slot, csys_threadHandle* local)
{
    *local = nullptr;
    csysStatus status = slot == nullptr ? csys_threadGetCurrent(local) : csys_threadHandleInitCopy(local, slot);
    if (status < 0)
        return status;
    return *local != nullptr ? csysOk : csysErrNoThreadObject;
}

// Under the object's section: removes the block that begins with the node of
// that id.
csysStatus removeBlock(csys_threadObject* object, int32_t id)
{
    csysStatus status = csys_csEnter(&object->section, nullptr);
    if (status < 0)
        return status;
    if (object->exited != 0 || object->contexts == nullptr) {
        (void)csys_csLeave(&object->section); // entered just above: cannot fail
        return csysErrThreadExited;
    }
    csys_contextNode* node = object->contexts->next;
    while (node != nullptr && node->id != id)
        node = node->next;
    if (node != nullptr && node->serve != nullptr) {
        unlink(node);
        status = freeNode(node);
    } else if (node != nullptr) {
        csys_contextNode* closing = node->next;
        while (closing != nullptr && closing->id != id)
            closing = closing->next;
        if (closing == nullptr) {
            // A block without its closing marker: take nothing rather than the
            // rest of the list.
            status = csysErrFail;
        } else {
            csys_contextNode* stop = closing->next;
            node->previous->next = stop;
            if (stop != nullptr)
                stop->previous = node->previous;
            closing->next = nullptr;
            status = freeChain(node);
        }
    }
    return firstFailure(status, csys_csLeave(&object->section));
}

csysStatus contextRecordFree(void* payloadField, int32_t type) { return csys_contextRecordRelease(payloadField, type); }

csysStatus contextAdd(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicIncrement(count, newCount); }
csysStatus contextDrop(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicDecrement(count, newCount); }

const csys_recordFunctions kContextFunctions = {&contextRecordFree, &contextAdd, &contextDrop};
const csys_typeDescription kContextType = {0, nullptr, &kContextFunctions};

} // namespace

csysStatus csys_threadObjectCreate(csys_threadHandle* slot)
{
    if (slot == nullptr)
        return csysErrNullArg;
    // Room for the seven entries pushed below: no push is refused.
    csys_cleanupStack<8> cleanup;
    csys_threadObject* object = nullptr;
    csysStatus status = csys_allocZeroed(static_cast<int32_t>(sizeof(csys_threadObject)), &object);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, &object, &freeEntry);
    object->release = &destroyThreadObject;
    object->self = object;
    object->jobWords[0] = 1;
    object->jobWords[1] = 0;
    object->jobWords[2] = -1;
    // Emptying slots of the object cannot fail.
    (void)csys_handleAttach(&object->jobHandles[0], nullptr);
    (void)csys_handleAttach(&object->jobHandles[1], nullptr);
    (void)csys_threadHandleInit(&object->linkedThread);

    status = csys_csCreate(&object->section);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(1, csysCleanupFailure1, &object->section, &deleteSectionEntry);

    status = newNode(&object->contexts, nullptr, -1);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(2, csysCleanupFailure1, &object->contexts, &freeListEntry);

    object->threadHandle = plat::currentThreadHandle();
    if (object->threadHandle == nullptr)
        return cleanup.finish(csysErrOsCall);
    (void)cleanup.push(3, csysCleanupFailure1, &object->threadHandle, &closeHandleEntry);
    object->threadId = plat::currentThreadId();

    void** semaphores[3] = {&object->spareSemaphores[0], &object->spareSemaphores[1], &object->exitSemaphore};
    for (int i = 0; i < 3; ++i) {
        status = createSemaphore(semaphores[i]);
        if (status < 0)
            return cleanup.finish(status);
        (void)cleanup.push(4 + i, csysCleanupFailure1, semaphores[i], &closeHandleEntry);
    }

    *slot = object;
    plat::atomicIncrement(&object->references);
    return cleanup.finish(csysOk);
}

csysStatus csys_threadHandleInit(csys_threadHandle* slot)
{
    if (slot == nullptr)
        return csysErrNullArg;
    *slot = nullptr;
    return csysOk;
}

csysStatus csys_threadHandleRelease(csys_threadHandle* slot)
{
    if (slot == nullptr)
        return csysErrNullArg;
    csys_threadObject* object = *slot;
    *slot = nullptr;
    if (object == nullptr || plat::atomicDecrement(&object->references) != 0)
        return csysOk;
    csys_threadObject* copy = object;
    return object->release(&copy);
}

csysStatus csys_threadHandleInitCopy(csys_threadHandle* destination, const csys_threadHandle* source)
{
    if (destination == nullptr || source == nullptr)
        return csysErrNullArg;
    if (destination == source)
        return csysOk;
    *destination = *source;
    if (*destination != nullptr)
        plat::atomicIncrement(&(*destination)->references);
    return csysOk;
}

csysStatus csys_threadHandleAssign(csys_threadHandle* destination, const csys_threadHandle* source)
{
    if (destination == nullptr || source == nullptr)
        return csysErrNullArg;
    if (*destination == *source)
        return csysOk;
    // The new reference first, so that an object held only by the old one
    // (a source slot inside it) outlives the release.
    csys_threadObject* taken = *source;
    if (taken != nullptr)
        plat::atomicIncrement(&taken->references);
    csysStatus status = csys_threadHandleRelease(destination);
    *destination = taken;
    return status;
}

csysStatus csys_threadHandleCompare(const csys_threadHandle* a, const csys_threadHandle* b, int32_t* order)
{
    if (a == nullptr || b == nullptr || order == nullptr)
        return csysErrNullArg;
    std::less<const csys_threadObject*> less;
    *order = less(*a, *b) ? -1 : (less(*b, *a) ? 1 : 0);
    return csysOk;
}

csysStatus csys_threadHandleIdentity(const csys_threadHandle* slot, void** identity)
{
    if (slot == nullptr || identity == nullptr)
        return csysErrNullArg;
    *identity = *slot;
    return csysOk;
}

csysStatus csys_threadHandleGetObject(const csys_threadHandle* slot, csys_threadObject** object)
{
    if (slot == nullptr)
        return csysErrNullArg;
    if (object != nullptr)
        *object = *slot;
    return csysOk;
}

csysStatus csys_threadJoin(const csys_threadHandle* thread)
{
    if (thread == nullptr)
        return csysErrNullArg;
    csys_threadObject* object = *thread;
    if (object == nullptr)
        return csysErrNoThreadObject;
    plat::Handle self = plat::currentThreadHandle();
    if (self == nullptr)
        return csysErrOsCall;
    bool joiningItself = self == object->threadHandle;
    plat::closeHandle(self);
    if (joiningItself)
        return csysErrFail;

    plat::Handle objects[2] = {platHandle(object->exitSemaphore), platHandle(object->threadHandle)};
    plat::WaitResult result = plat::waitForAny(objects, 2, plat::kInfiniteWait);
    if (result.status == plat::WaitStatus::Failed || result.status == plat::WaitStatus::TimedOut)
        return csysErrOsCall;
    if (result.index == 0) {
        // Leave it signalled for the other joiners.
        plat::releaseSemaphore(objects[0], 1, nullptr);
        plat::waitFor(objects[1], 200);
    }
    return csysOk;
}

csysStatus csys_threadGetJobWords(csys_threadObject* object, int32_t* word1, int32_t* word2, int32_t* word3,
                                  int32_t* counter, csys_handle* handle)
{
    if (object == nullptr)
        return csysErrNoThreadObject;
    if (word1 == nullptr || word2 == nullptr)
        return csysErrNullArg;
    *word1 = object->jobWords[0];
    *word2 = object->jobWords[1];
    if (word3 != nullptr)
        *word3 = object->jobWords[2];
    if (counter != nullptr)
        *counter = plat::atomicIncrement(&object->jobCounter);
    if (handle != nullptr)
        return csys_handleCopy(handle, &object->jobHandles[0]);
    return csysOk;
}

csysStatus csys_threadHandleGetJobWords(const csys_threadHandle* thread, int32_t* word1, int32_t* word2,
                                        int32_t* word3, int32_t* counter, csys_handle* handle)
{
    if (thread == nullptr)
        return csysErrNullArg;
    return csys_threadGetJobWords(*thread, word1, word2, word3, counter, handle);
}

csysStatus csys_threadCurrentGetJobWords(int32_t* word1, int32_t* word2, int32_t* word3, int32_t* counter,
                                         csys_handle* handle)
{
    csys_threadObject* object = nullptr;
    csysStatus status = csys_threadGetCurrentObject(&object);
    if (status < 0)
        return status;
    return csys_threadGetJobWords(object, word1, word2, word3, counter, handle);
}

csysStatus csys_threadGetJobHandle(const csys_threadHandle* thread, csys_handle* handle)
{
    if (thread == nullptr || handle == nullptr)
        return csysErrNullArg;
    if (*thread == nullptr)
        return csysErrNoThreadObject;
    return csys_handleCopy(handle, &(*thread)->jobHandles[1]);
}

csysStatus csys_threadSetJobHandle(const csys_threadHandle* thread, const csys_handle* handle)
{
    if (thread == nullptr || handle == nullptr)
        return csysErrNullArg;
    if (*thread == nullptr)
        return csysErrNoThreadObject;
    return csys_handleCopy(&(*thread)->jobHandles[1], handle);
}

csysStatus csys_semaphoreRelease(void* semaphore)
{
    if (semaphore == nullptr)
        return csysErrNullArg;
    return plat::releaseSemaphore(platHandle(semaphore), 1, nullptr) ? csysOk : csysErrOsCall;
}

csysStatus csys_contextTokenInit(csys_contextToken* token)
{
    if (token == nullptr)
        return csysErrNullArg;
    token->id = -1;
    return csys_threadHandleInit(&token->thread);
}

csysStatus csys_contextTokenRelease(csys_contextToken* token)
{
    if (token == nullptr)
        return csysErrNullArg;
    csysStatus status = csysOk;
    if (token->id != -1) {
        status = token->thread != nullptr ? removeBlock(token->thread, token->id) : csysErrNoThreadObject;
        token->id = -1;
    }
    return firstFailure(status, csys_threadHandleRelease(&token->thread));
}

csysStatus csys_contextLink(csys_contextToken* token, const csys_threadHandle* threadA,
                            const csys_threadHandle* threadB)
{
    if (token == nullptr)
        return csysErrNullArg;
    csys_threadHandle a = nullptr;
    csys_threadHandle b = nullptr;
    csysStatus status = resolveThread(threadA, &a);
    if (status >= 0)
        status = resolveThread(threadB, &b);
    // A token names one link: an earlier block leaves its list first, as the
    // token's release would take it. A thread that has exited took its list
    // with it.
    if (status >= 0 && token->id != -1) {
        status = csys_contextTokenRelease(token);
        if (status == csysErrThreadExited)
            status = csysOk;
    }
    if (status >= 0 && a == b)
        status = csys_threadHandleAssign(&token->thread, &a);
    if (status < 0 || a == b) {
        status = firstFailure(status, csys_threadHandleRelease(&b));
        return firstFailure(status, csys_threadHandleRelease(&a));
    }

    // Clone B's list into a chain, front first, so that the chain holds the
    // clones in the reverse of B's order.
    csys_contextNode* chain = nullptr;
    status = csys_csEnter(&b->section, nullptr);
    if (status >= 0) {
        if (b->exited != 0 || b->contexts == nullptr)
            status = csysErrThreadExited;
        for (csys_contextNode* node = status >= 0 ? b->contexts->next : nullptr; node != nullptr; node = node->next) {
            csys_contextNode* copy = nullptr;
            status = newNode(&copy, node->serve, newContextId());
            if (status < 0)
                break;
            copy->next = chain;
            chain = copy;
            status = csys_contextRecordClone(&node->record, &copy->record);
            if (status < 0)
                break;
        }
        status = firstFailure(status, csys_csLeave(&b->section));
    }

    csys_contextNode* opening = nullptr;
    csys_contextNode* closing = nullptr;
    int32_t id = newContextId();
    if (status >= 0)
        status = newNode(&closing, nullptr, id);
    if (status >= 0)
        status = newNode(&opening, nullptr, id);
    if (status >= 0) {
        status = csys_csEnter(&a->section, nullptr);
        if (status >= 0) {
            if (a->exited != 0 || a->contexts == nullptr) {
                status = csysErrThreadExited;
            } else {
                // header, opening, chain..., closing, older nodes
                csys_contextNode* header = a->contexts;
                csys_contextNode* older = header->next;
                closing->next = older;
                if (older != nullptr)
                    older->previous = closing;
                csys_contextNode* previous = opening;
                for (csys_contextNode* node = chain; node != nullptr; node = node->next) {
                    node->previous = previous;
                    previous = node;
                }
                previous->next = closing;
                closing->previous = previous;
                opening->next = chain != nullptr ? chain : closing;
                opening->previous = header;
                header->next = opening;
                chain = nullptr;
                opening = nullptr;
                closing = nullptr;
            }
            status = firstFailure(status, csys_csLeave(&a->section));
        }
    }
    if (status >= 0) {
        status = csys_threadHandleAssign(&token->thread, &a);
        token->id = id;
    }
    status = firstFailure(status, freeChain(chain));
    status = firstFailure(status, freeChain(opening));
    status = firstFailure(status, freeChain(closing));
    status = firstFailure(status, csys_threadHandleRelease(&b));
    return firstFailure(status, csys_threadHandleRelease(&a));
}

csysStatus csys_contextRecordInit(csys_contextRecord* record, int32_t kind, int32_t word1, double value1,
                                  double value2, int32_t word2, int32_t word3)
{
    if (record == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_handleInitTyped(&record->header, record, &kContextType);
    if (status < 0)
        return status;
    record->kind = kind;
    record->word1 = word1;
    record->value1 = value1;
    record->value2 = value2;
    record->word2 = word2;
    record->word3 = word3;
    record->cloned = 0;
    record->clone = 0;
    record->reserved = 0;
    status = csys_handleAttach(&record->source, nullptr);
    if (status < 0)
        return status;
    // Other kinds get neither flag rather than whatever the block held.
    record->sourceReference = kind == 0 ? 1 : 0;
    record->kindFlag = kind == 0 ? 1 : 0;
    return csysOk;
}

csysStatus csys_contextRecordClone(const csys_handle* source, csys_handle* clone)
{
    if (source == nullptr || clone == nullptr)
        return csysErrNullArg;
    void* payload = nullptr;
    csysStatus status = csys_handleGetObject(source, &payload);
    if (status < 0)
        return status;
    if (payload == nullptr)
        return csys_handleAssign(clone, nullptr);
    auto* original = static_cast<csys_contextRecord*>(payload);

    csys_contextRecord* copy = nullptr;
    status = csys_allocZeroed(static_cast<int32_t>(sizeof(csys_contextRecord)), &copy);
    if (status < 0)
        return status;
    status = csys_contextRecordInit(copy, original->kind, original->word1, original->value1, original->value2,
                                    original->word2, original->word3);
    if (status < 0) {
        (void)csys_free(&copy); // the slot exists: cannot fail
        return status;
    }
    csys_handle local = nullptr;
    status = csys_handleAttach(&local, &copy->header);
    if (status < 0) {
        status = firstFailure(status, csys_handleRelease(&copy->source));
        (void)csys_free(&copy); // the slot exists: cannot fail
        return status;
    }
    copy->sourceReference = original->sourceReference;
    if (copy->sourceReference != 0) {
        status = csys_handleAssign(&copy->source, *source);
        if (status < 0)
            return firstFailure(status, csys_handleRelease(&local));
    }
    // The source may sit in another thread's list.
    __atomic_store_n(&original->cloned, 1, __ATOMIC_RELAXED);
    copy->clone = 1;
    status = csys_handleCopy(clone, &local);
    return firstFailure(status, csys_handleRelease(&local));
}

csysStatus csys_contextRecordRelease(void* payloadField, int32_t)
{
    if (payloadField == nullptr)
        return csysErrNullArg;
    auto* record = *static_cast<csys_contextRecord**>(payloadField);
    if (record == nullptr)
        return csysOk;
    csysStatus status = csys_handleRelease(&record->source);
    if (status < 0)
        return status;
    return csys_cleanupFree(payloadField);
}

csysStatus csys_threadRunPending()
{
    csys_threadObject* object = nullptr;
    csysStatus status = csys_threadGetCurrentObject(&object);
    if (status < 0)
        return status;
    if (object == nullptr)
        return csysErrNoThreadObject;
    status = csys_csEnter(&object->section, nullptr);
    if (status < 0)
        return status;
    csysStatus result = csysOk;
    if (object->exited != 0 || object->contexts == nullptr) {
        result = csysErrThreadExited;
    } else {
        csys_contextNode* node = object->contexts->next;
        while (node != nullptr) {
            csys_contextNode* next = node->next;
            if (node->serve != nullptr) {
                csys_contextServeResult served = {0, csysOk};
                void* payload = nullptr;
                (void)csys_handleGetObject(&node->record, &payload); // both slots exist: cannot fail
                csysStatus called = node->serve(payload, &served);
                if (called < 0) {
                    result = called;
                    break;
                }
                if (served.remove != 0) {
                    unlink(node);
                    const csysStatus freed = freeNode(node);
                    if (freed < 0) {
                        result = freed;
                        break;
                    }
                }
                result = served.status;
                if (result < 0)
                    break;
            }
            node = next;
        }
    }
    return firstFailure(result, csys_csLeave(&object->section));
}

csysStatus csys_threadMarkExited(csys_threadObject* object)
{
    if (object == nullptr)
        return csysErrNoThreadObject;
    csysStatus status = csys_csEnter(&object->section, nullptr);
    if (status < 0)
        return status;
    __atomic_store_n(&object->exited, 1, __ATOMIC_RELEASE);
    status = freeList(&object->contexts);
    status = firstFailure(status, csys_csLeave(&object->section));
    return firstFailure(status, csys_semaphoreRelease(object->exitSemaphore));
}

namespace {

csysStatus threadHandleElemInit(void* element, const csys_allocator*)
{
    return csys_threadHandleInit(static_cast<csys_threadHandle*>(element));
}

csysStatus threadHandleElemCopy(void* destination, const void* source)
{
    return csys_threadHandleInitCopy(static_cast<csys_threadHandle*>(destination),
                                     static_cast<const csys_threadHandle*>(source));
}

csysStatus threadHandleElemAssign(void* destination, const void* source)
{
    return csys_threadHandleAssign(static_cast<csys_threadHandle*>(destination),
                                   static_cast<const csys_threadHandle*>(source));
}

csysStatus threadHandleElemDestroy(void* element)
{
    return csys_threadHandleRelease(static_cast<csys_threadHandle*>(element));
}

const csys_elemType kThreadHandleElemType = {&threadHandleElemInit, &threadHandleElemCopy,
                                             &threadHandleElemAssign, &threadHandleElemDestroy, -1};

} // namespace

csysStatus csys_threadHandleArrayCreate(csys_array* array, int64_t count)
{
    return csys_arrayCreate(array, count, sizeof(csys_threadHandle), &kThreadHandleElemType);
}
