// Kernel objects of the platform layer: recursive mutexes, manual- and
// auto-reset events and counting semaphores, reference-counted behind a
// handle, and waits on one or several of them (or on threads, which are
// signalled when they end) with a time-out in milliseconds.
//
// Mutexes are owned by a thread and recursive. A thread that ends while it
// owns one abandons it: the next thread to acquire it gets it with
// WaitStatus::Abandoned. Threads are noticed ending through the thread-exit
// hook (thread.h), which every acquiring thread arms; a thread that leaves
// through some path that skips pthread key destructors (the main thread at
// process exit) abandons nothing.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace plat {

struct KernelObject;
using Handle = KernelObject*;

Handle createMutex(bool initiallyOwned);
Handle createEvent(bool manualReset, bool initiallySignalled);
// Fails (null) unless 0 <= initialCount <= maximumCount and maximumCount > 0.
Handle createSemaphore(int32_t initialCount, int32_t maximumCount);

// Named objects are shared by name within the process only. Creating one
// under a name that an object of the same kind holds opens that object (a new
// reference; the other arguments are ignored, and an existing mutex is not
// taken); a name held by another kind gives no handle. A name is free again
// once its object has gone. An empty name makes an unnamed object.
enum class NameResult { Created, Existed, OtherKind, Failed };

Handle createMutex(bool initiallyOwned, const std::wstring& name, NameResult* result);
Handle createEvent(bool manualReset, bool initiallySignalled, const std::wstring& name, NameResult* result);
Handle createSemaphore(int32_t initialCount, int32_t maximumCount, const std::wstring& name, NameResult* result);

// Another reference to the same object; each reference is closed once. The
// object lives while a reference or a wait on it remains.
Handle duplicateHandle(Handle object);
bool closeHandle(Handle object);

// False when the object is not a mutex or the caller does not own it.
bool releaseMutex(Handle mutex);
bool setEvent(Handle event);
bool resetEvent(Handle event);
// False (and nothing changes) when the count would pass the maximum.
bool releaseSemaphore(Handle semaphore, int32_t count, int32_t* previousCount);

enum class WaitStatus { Signalled, Abandoned, TimedOut, Failed };

struct WaitResult {
    WaitStatus status;
    uint32_t index; // which object, for Signalled and Abandoned
};

constexpr uint32_t kMaxWaitObjects = 64;

// Waits until one of the objects is signalled and takes it (an auto-reset
// event is reset, a semaphore counted down, a mutex owned); when several are,
// the lowest index wins. kInfiniteWait waits without limit, 0 only looks.
// Null handles, no handles or more than kMaxWaitObjects fail.
WaitResult waitForAny(const Handle* objects, uint32_t count, uint32_t milliseconds);
// Waits until all the objects are signalled at the same moment and takes them
// together: none is taken while another is not ready. Signalled with index 0,
// or Abandoned with the index of the lowest abandoned mutex among them. The
// same object given twice fails, as do the arguments waitForAny refuses.
WaitResult waitForAll(const Handle* objects, uint32_t count, uint32_t milliseconds);
WaitResult waitFor(Handle object, uint32_t milliseconds);

// A recursive lock for short sections, not waitable with the functions
// above. Leaving a section that the caller does not hold fails and changes
// nothing.
class CriticalSection {
public:
    void enter();
    bool tryEnter();
    bool leave();

private:
    std::mutex lock_;
    uint32_t owner_ = 0; // accessed atomically
    uint32_t depth_ = 0; // only by the owner
};

} // namespace plat
