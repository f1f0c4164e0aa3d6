// Shared inside the platform layer: the state of kernel objects and of the
// threads that use them. All of it is guarded by one dispatcher lock, so that
// a wait can look at several objects at once.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/thread.h"

namespace plat {
namespace detail {

// One per blocked wait; the objects it waits on list it.
struct Waiter {
    std::condition_variable wake;
};

enum class Kind { Mutex, Event, Semaphore, Thread };

} // namespace detail

struct KernelObject {
    using Kind = detail::Kind;
    explicit KernelObject(Kind k) : kind(k) {}

    Kind kind;
    int32_t references = 1;

    bool signalled = false;   // event, thread
    bool manualReset = false; // event; a thread stays signalled

    int32_t count = 0; // semaphore
    int32_t maximum = 0;

    uint32_t owner = 0; // mutex: owning thread id, 0 when free
    uint32_t recursion = 0;
    bool abandoned = false;

    uint32_t threadId = 0; // thread
    int32_t priority = 0;
    uint32_t exitCode = 0;

    std::vector<detail::Waiter*> waiters;

    std::wstring name; // named objects: the key of the name table
};

namespace detail {

std::mutex& dispatcherLock();

struct TlsValue {
    uint32_t generation;
    void* value;
};

struct ThreadState {
    uint32_t id = 0;
    bool exiting = false;
    KernelObject* self = nullptr;      // the thread object, one reference
    std::vector<KernelObject*> owned;  // mutexes held, one reference each
    std::vector<TlsValue> tls;         // thread-local slots by key

    // Under the dispatcher lock.
    std::deque<ThreadMessage> messages;
    Waiter* messageWaiter = nullptr; // the thread's own wait that watches the queue
};

// The calling thread's state, made (and the exit hook armed) at first use;
// null when it cannot be made.
ThreadState* threadState();

// Under the dispatcher lock.
void wakeWaiters(KernelObject* object);
void dropReference(KernelObject* object);
void addOwned(ThreadState* state, KernelObject* mutex);
// Abandons the thread's mutexes and signals its thread object.
void finishThread(ThreadState* state, uint32_t exitCode);

// Waits as waitForAny, or as waitForAll when all is set; with watchQueue
// set, a message in the caller's queue also ends the wait, with index count.
WaitResult wait(const Handle* objects, uint32_t count, uint32_t milliseconds, bool all, bool watchQueue);

} // namespace detail
} // namespace plat
