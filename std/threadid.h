// Thread identities of the library.
//
// Every thread that runs library code has a record, cc_Thread, reached
// through the counted handle ccThreadID. Threads that the library starts are
// made by ccThreadID::start and listed in a process-wide registry, so that
// ccStopAllThreads can stop and join them; any other thread is adopted the
// first time it asks for its identity, which every lock of a cc_Resource
// does. The record carries the stop semaphore that every library wait
// watches, and up to 32 exit handlers, run last registered first when the
// thread leaves:
//   - by the thread entry, for threads that the library started;
//   - otherwise by the platform's thread-exit hook, whose library callback
//     (registered when the thread-local slot is first made) runs before the
//     system layer's detach of the thread.
//
// A thread function is ended by the stop request (cc_Resource::BrokenLock
// out of a wait) or by any exception: a library exception ends it quietly,
// any other is reported on stderr; either way the thread leaves cleanly. A
// function that catches BrokenLock and waits again is not stopped: the stop
// request is taken by the one wait that it breaks.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/sync.h"
#include "std/except/except.h"
#include "std/except/resource.h"
#include "std/ptrhandle.h"

class ccThreadID;

typedef void (*ccThreadFunction)(void* argument);
typedef void (*ccThreadExitHandler)(const ccThreadID& thread, void* argument);

class cc_Thread : public ccRepBase {
public:
    static constexpr int32_t kMaxExitHandlers = 32;

    cc_Thread();
    ~cc_Thread() override;

    plat::Handle threadHandle = nullptr; // signalled when the thread has ended
    std::atomic<uint32_t> threadId{0};
    ccThreadFunction function = nullptr;
    void* argument = nullptr;
    int32_t priorityLevel = 3;
    ccSemaphore startSemaphore{0, 1}; // released by a started thread once set up
    ccSemaphore doneSemaphore{0, 1};  // released when a started thread has finished
    plat::Handle stopSemaphore;       // released to ask the thread to stop

    struct ExitHandler {
        ccThreadExitHandler function;
        void* argument;
    };
    // Touched only by the thread itself.
    int32_t exitHandlerCount = 0;
    ExitHandler exitHandlers[kMaxExitHandlers] = {};
};

class ccThreadID : public ccPtrHandle<cc_Thread> {
public:
    cmDeclareException(CouldNotRegister, ccException, 0x10002101u, "class ccThreadID::CouldNotRegister");
    cmDeclareException(CreateFailed, ccException, 0x10002103u, "class ccThreadID::CreateFailed");

    ccThreadID() = default;
    explicit ccThreadID(cc_Thread* record) : ccPtrHandle<cc_Thread>(record) {}

    // Starts a library thread. Priority level -1 takes the caller's level;
    // other levels are clamped to 0..6. Stack size -1 (or 0) is the default.
    // Throws CreateFailed once ccStopAllThreads has begun, or when no thread
    // can be made.
    static ccThreadID start(ccThreadFunction function, void* argument, int32_t priorityLevel = -1,
                            int32_t stackSize = -1);

    // The calling thread's identity; a thread without one is adopted.
    static ccThreadID current();

    // The calling thread's stop semaphore, for the waits of cc_Resource
    // (adopting the thread); null while the thread leaves after its record
    // has gone.
    static plat::Handle currentStopSemaphore();

    // Adds an exit handler to this thread, which must be the calling one (the
    // handler table belongs to its thread). The 33rd throws CouldNotRegister.
    void addExitHandler(ccThreadExitHandler function, void* argument) const;

    // Runs the calling thread's exit handlers, last registered first, then the
    // system layer's detach. A handler that throws stops the run: it and the
    // ones registered before it stay registered.
    static void runExitHandlers();

    // Ends the library's bookkeeping for the calling thread: its exit
    // handlers run, it leaves the registry, its slot is cleared.
    static void detachCurrentThread();

    // Waits until the thread has finished; returns at once for a thread that
    // was never started, or for the calling thread itself.
    void join() const;

    // The calling thread's priority level (0..6); a priority outside the
    // table reads as 6.
    static int32_t priorityLevel();

    // The same record: the same thread.
    friend bool operator==(const ccThreadID& a, const ccThreadID& b) { return a.rawPointer() == b.rawPointer(); }
    friend bool operator!=(const ccThreadID& a, const ccThreadID& b) { return a.rawPointer() != b.rawPointer(); }
};

// The threads that the library started; each takes the registry's lock
// without a time limit, never while holding the foreign-thread list's.
class ccThreadRegistry {
public:
    static void add(const ccThreadID& thread);
    // Removes the first entry of the same thread; false when there was none.
    static bool remove(const ccThreadID& thread);
    // Releases each listed thread's stop semaphore, posts it the quit message
    // and joins it, last started first. Waits without limit: a thread stuck
    // in a wait that is not the library's holds it up.
    static void stopAll();
};

// The library's shut-down step for its threads: no thread can be started
// once it has begun, and every listed one is stopped and joined.
void ccStopAllThreads();
