// Thread objects, thread handles and per-thread context lists.
//
// Every thread that uses the system layer has one reference-counted thread
// object, made at its first use of a thread service. Thread handles name
// thread objects, let another thread wait for a thread to end, and carry the
// words that the job system keeps per thread. Each object also holds a list
// of counted context records that one thread can hand on to another.
#pragma once
#include <cstdint>

#include "system/csys_array.h"
#include "system/csys_handle.h"
#include "system/csys_status.h"
#include "system/csys_sync.h"

struct csys_contextNode;
struct csys_threadObject;

// A slot that holds a thread object (one reference) or null.
typedef csys_threadObject* csys_threadHandle;

struct csys_threadObject {
    // Destroys the object; receives the address of a copy of its payload.
    csysStatus (*release)(csys_threadObject** payload);
    int32_t references;
    csys_threadObject* self;
    void* threadHandle; // platform handle of the thread, signalled when it ends
    uint32_t threadId;
    void* spareSemaphores[2];
    void* exitSemaphore; // released once when the thread detaches
    int32_t exited;
    csys_criticalSection* section; // guards the context list
    csys_contextNode* contexts;    // the list's header node
    int32_t linked;
    csys_threadHandle linkedThread;
    int32_t jobWords[3];
    int32_t jobCounter;
    csys_handle jobHandles[2];
    // Set, under the shut-down lists' lock, once the handlers that other
    // threads registered for this thread have run; later ones are refused.
    int32_t foreignClosed;
};

// What a serve function reports about its node.
struct csys_contextServeResult {
    int32_t remove;
    csysStatus status;
};

typedef csysStatus (*csys_contextServeFunction)(void* payload, csys_contextServeResult* result);

// A list node; the header of a list is laid out the same way (no serve
// function, id -1, next = the first node). Nodes are blocks of csys_alloc.
struct csys_contextNode {
    csys_handle record; // empty for a marker
    csys_contextServeFunction serve;
    int32_t id;
    int32_t served;
    csys_contextNode* previous;
    csys_contextNode* next;
};

// A counted record whose payload is the record itself.
struct csys_contextRecord {
    int32_t kind; // 0, 1 or 2
    int32_t word1;
    double value1;
    double value2;
    int32_t word2;
    int32_t word3;
    int32_t cloned;          // a clone was made from this record (written atomically)
    int32_t clone;           // this record was made as a clone
    int32_t sourceReference; // a clone holds its source alive
    int32_t reserved;
    int32_t kindFlag;
    csys_handle source;
    csys_record header;
};

// Names a block of cloned records in a thread's context list.
struct csys_contextToken {
    int32_t id; // -1: none
    csys_threadHandle thread;
};

// Made by the system layer for the calling thread; see csys_shutdown.h for
// the record that holds it.
[[nodiscard]] csysStatus csys_threadObjectCreate(csys_threadHandle* slot);

[[nodiscard]] csysStatus csys_threadHandleInit(csys_threadHandle* slot);
[[nodiscard]] csysStatus csys_threadHandleRelease(csys_threadHandle* slot);
[[nodiscard]] csysStatus csys_threadHandleInitCopy(csys_threadHandle* destination, const csys_threadHandle* source);
[[nodiscard]] csysStatus csys_threadHandleAssign(csys_threadHandle* destination, const csys_threadHandle* source);
[[nodiscard]] csysStatus csys_threadHandleCompare(const csys_threadHandle* a, const csys_threadHandle* b,
                                                  int32_t* order);
[[nodiscard]] csysStatus csys_threadHandleIdentity(const csys_threadHandle* slot, void** identity);
[[nodiscard]] csysStatus csys_threadHandleGetObject(const csys_threadHandle* slot, csys_threadObject** object);

// An array of count empty thread handles; copies take a reference and the
// array's destruction releases every handle.
[[nodiscard]] csysStatus csys_threadHandleArrayCreate(csys_array* array, int64_t count);

// Waits for the thread to end. A thread joining itself gets csysErrFail.
[[nodiscard]] csysStatus csys_threadJoin(const csys_threadHandle* thread);

// Copies the three job words; with a counter output the counter is
// incremented and its new value stored; with a handle output (an initialised
// slot) the first job handle is copied into it.
[[nodiscard]] csysStatus csys_threadGetJobWords(csys_threadObject* object, int32_t* word1, int32_t* word2,
                                                int32_t* word3, int32_t* counter, csys_handle* handle);
[[nodiscard]] csysStatus csys_threadHandleGetJobWords(const csys_threadHandle* thread, int32_t* word1, int32_t* word2,
                                                      int32_t* word3, int32_t* counter, csys_handle* handle);
[[nodiscard]] csysStatus csys_threadCurrentGetJobWords(int32_t* word1, int32_t* word2, int32_t* word3, int32_t* counter,
                                                       csys_handle* handle);
[[nodiscard]] csysStatus csys_threadGetJobHandle(const csys_threadHandle* thread, csys_handle* handle);
[[nodiscard]] csysStatus csys_threadSetJobHandle(const csys_threadHandle* thread, const csys_handle* handle);

[[nodiscard]] csysStatus csys_semaphoreRelease(void* semaphore);

[[nodiscard]] csysStatus csys_contextTokenInit(csys_contextToken* token);
[[nodiscard]] csysStatus csys_contextTokenRelease(csys_contextToken* token);
// Clones thread B's context records into a block at the front of thread A's
// list; a null thread is the calling thread. A token that still names an
// earlier block has it taken out first, as its release would.
[[nodiscard]] csysStatus csys_contextLink(csys_contextToken* token, const csys_threadHandle* threadA,
                                          const csys_threadHandle* threadB);

[[nodiscard]] csysStatus csys_contextRecordInit(csys_contextRecord* record, int32_t kind, int32_t word1, double value1,
                                                double value2, int32_t word2, int32_t word3);
[[nodiscard]] csysStatus csys_contextRecordClone(const csys_handle* source, csys_handle* clone);
[[nodiscard]] csysStatus csys_contextRecordRelease(void* payloadField, int32_t type);

// Serves the calling thread's context list.
[[nodiscard]] csysStatus csys_threadRunPending();

// At detach: under the object's section marks it exited and frees its
// context list, then releases its exit semaphore once.
[[nodiscard]] csysStatus csys_threadMarkExited(csys_threadObject* object);
