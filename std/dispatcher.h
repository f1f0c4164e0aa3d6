// The line-change callback dispatcher.
//
// An input line calls its clients back on a thread of its own, never on the
// one that notices the change. The dispatcher is the handle of that library
// thread: each release of its wake semaphore gives one pass that calls every
// registration, in registration order, with the argument stored with it,
// provided the owner reports its line enabled.
//
// A pass holds the dispatcher's recursive mutex, so add and remove from any
// other thread wait for it to end; from a callback they take effect at once:
// a registration removed during a pass is not called afterwards, one added is
// called from the next pass. A callback that throws (or an empty callback
// handle, or an owner that cannot say whether its line is enabled) costs one
// event-log line and nothing more; the stop request of ccStopAllThreads still
// ends the thread. A callback may even destroy its dispatcher: the thread
// then ends once that call has returned.
#pragma once
#include <cstdint>

#include "std/callback.h"
#include "std/except/resource.h"
#include "std/ptrhandle.h"
#include "std/threadid.h"

// What the dispatcher asks before each pass; it must outlive its dispatcher.
class ccCallbackDispatcherOwner {
public:
    virtual bool isLineEnabled() = 0;

protected:
    ~ccCallbackDispatcherOwner() = default;
};

class ccCallbackDispatcher : public ccThreadID {
public:
    struct Registration {
        ccPtrHandle<ccCallback1<const void*>> callback;
        const void* argument = nullptr;
    };

    // Starts the thread (priority level 0..6) and returns once it runs.
    // Throws ccThreadID::CreateFailed when it cannot.
    ccCallbackDispatcher(int32_t priorityLevel, ccCallbackDispatcherOwner* owner);
    ccCallbackDispatcher(const ccCallbackDispatcher&) = delete;
    ccCallbackDispatcher& operator=(const ccCallbackDispatcher&) = delete;
    // Stops the thread and, unless called on it, waits until it has ended.
    ~ccCallbackDispatcher() override;

    // Appends a copy; the copy shares the callback object.
    void add(const Registration& registration);
    // Takes out the first registration of the same callback object and
    // argument; none, or a dispatcher being destroyed, changes nothing.
    void remove(const Registration& registration);

    // Released once per line transition; lives as long as the dispatcher.
    ccSemaphore& wakeSemaphore();

private:
    class State;
    ccPtrHandle<State> state_;
};
