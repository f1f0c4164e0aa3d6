// Threads, thread-local slots and the thread-exit hook of the platform layer.
//
// The hook: one pthread key whose destructor runs, for every thread that
// touched the layer, the process-wide exit callbacks in ascending order and,
// within one order, in registration order; then the platform's own exit work
// (the thread's mutexes are abandoned, its thread object is signalled). A
// thread started by createThread runs the same sequence itself when its
// function returns, so that joiners see its whole exit work done. The main
// thread at process exit runs nothing (its key destructors never run).
//
// Callbacks run before the thread's C++ thread_local objects are destroyed
// for threads of createThread, after them for other threads: a callback uses
// no thread_local object with a destructor.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/sync.h"

namespace plat {

// The calling thread's kernel id (gettid).
uint32_t currentThreadId();

using ThreadFunction = uint32_t (*)(void* argument);

// Starts a thread; the handle is signalled when the thread has ended and run
// its exit work. Its id is stored when threadId is not null. Null on failure.
Handle createThread(ThreadFunction function, void* argument, uint32_t* threadId);
// The same with a stack of at least stackSize bytes (0: the default); sizes
// below 64 KiB get 64 KiB.
Handle createThread(ThreadFunction function, void* argument, uint32_t* threadId, size_t stackSize);

// A new reference to the calling thread's thread object; threads that the
// layer did not start get one at the first call (arming the exit hook).
Handle currentThreadHandle();

uint32_t threadIdOf(Handle thread); // 0 when the handle is not a thread

// Priorities (idle -15, lowest -2 .. highest 2, time-critical 15) are
// recorded for the thread object and applied to a running thread as its own
// nice value: the process's nice value (its main thread's when priorities are
// first applied) plus 5 per step down, within the system's range -20..19, so
// idle and below give 19 and time-critical and above -20. A thread starts at
// normal priority (0). Where the system refuses (raising beyond what the
// process may), the priority stays recorded, the get call answers it, and the
// first refusal of the process goes to the event log. False only for a
// handle that is not a thread.
bool setThreadPriority(Handle thread, int32_t priority);
bool getThreadPriority(Handle thread, int32_t* priority);

// The function's result once the thread has ended; running is set meanwhile.
bool getThreadExitCode(Handle thread, uint32_t* code, bool* running);

// Thread messages. Every thread that uses the layer has a queue: messages are
// posted to it by thread id and taken by the thread itself, oldest first.
constexpr uint32_t kQuitMessage = 0x0012;

struct ThreadMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    uintptr_t target = 0; // whom the message is for, as the poster named it; 0: the thread itself
};

// False when no thread of that id uses the layer (or memory ran out).
bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The same for a message meant for target (an id of the poster's choosing).
bool postThreadMessage(uint32_t threadId, uintptr_t target, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The oldest message of the calling thread's queue, taken off when remove is
// set; false when the queue is empty. The first call makes the thread's queue.
bool peekThreadMessage(ThreadMessage* message, bool remove);
// The oldest message numbered first to last (both 0: any) and, unless target
// is 0, meant for target; the others stay queued in their order.
bool peekThreadMessage(ThreadMessage* message, bool remove, uint32_t first, uint32_t last, uintptr_t target);

// As waitForAny, but also ends when the calling thread's queue holds a
// message: then Signalled with index count, and the message stays queued.
// count may be 0 (objects may then be null).
WaitResult waitForAnyOrMessage(const Handle* objects, uint32_t count, uint32_t milliseconds);
// As waitForAll, but also ends when the calling thread's queue holds a
// message: then Signalled with index count, nothing taken.
WaitResult waitForAllOrMessage(const Handle* objects, uint32_t count, uint32_t milliseconds);

// Orders of the exit callbacks in use: the class library's per-thread exit
// handlers run before the system layer detaches the thread.
enum : int32_t {
    kThreadExitOrderLibrary = 100,
    kThreadExitOrderSystem = 200,
};

using ThreadExitCallback = void (*)();

// Registers a callback for every thread's exit; registering the same callback
// again does nothing and succeeds. False when the table is full.
bool addThreadExitCallback(ThreadExitCallback callback, int32_t order);

// Arms the exit hook on the calling thread; false when the thread's state
// cannot be made. Calls made during the thread's exit work see it armed.
bool touchThread();

// True while the calling thread runs its exit work.
bool threadIsExiting();

// Thread-local slots. Values are kept with the thread's layer state, so that
// they stay readable during its exit work; setting one touches the thread. A
// new slot reads null on every thread. A key that is not allocated fails.
bool tlsAlloc(uint32_t* key);
bool tlsFree(uint32_t key);
bool tlsGet(uint32_t key, void** value);
bool tlsSet(uint32_t key, void* value);

} // namespace plat
