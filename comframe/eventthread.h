#pragma once
// The event thread of an event-sourcing object: one single-threaded apartment
// per object, started at the first use, that fires the object's events to
// its sinks and creates sink objects in its own apartment on a client's
// behalf. Notification threads only queue a request and return.
//
// The owning class implements fire and stops the thread (Stop) in its
// FinalRelease or at the start of its own destructor, before any of its
// members go: the base destructor's Stop comes too late for a thread that
// may be inside fire. A COM owner counts through CC_EVENT_SOURCE_COUNTING,
// and the thread then holds a reference to it while fire runs: when a sink
// drops the object's last reference inside an event, even from another
// apartment whose thread the event thread waits for, the last release comes
// on the event thread, and Stop from there ends the thread without waiting
// for itself. The hold is taken only while the object has a reference of
// its own, so a last release elsewhere is never met by a new hold (the
// thread drops the object's events instead). After fire returns the thread
// touches only state it shares with the object, never the object.

#include <cstdint>
#include <memory>
#include <mutex>

#include "comframe/agile.h"
#include "platform/com/base.h"
#include "platform/com/variant.h"

class ccEventThreadImpl {
public:
    static constexpr int32_t kMaxFireArguments = 3;

    // Request kinds.
    static constexpr uint32_t kFire = 0;
    static constexpr uint32_t kCreate = 2;

    // Acquisition event kinds, the extra word of the FIFO's fire requests.
    static constexpr uint32_t kEventMovePart = 0;
    static constexpr uint32_t kEventOverrun = 1;
    static constexpr uint32_t kEventComplete = 2;

    struct Request;

    ccEventThreadImpl();
    virtual ~ccEventThreadImpl();
    ccEventThreadImpl(const ccEventThreadImpl&) = delete;
    ccEventThreadImpl& operator=(const ccEventThreadImpl&) = delete;

    // Called on the event thread with count (0 to 3) arguments usable there;
    // args always points at three VARIANTs, those beyond count empty. The
    // result is ignored.
    virtual HRESULT fire(DISPID eventId, int32_t count, VARIANT* args, uint32_t extra) = 0;

    // Starts the thread if needed: 0 when it runs already, else the result of
    // the wait for its start (RPC_S_CALLPENDING after 15 s; the thread then
    // stays and later calls give 0). E_FAIL when it cannot be made, for good,
    // and after Stop.
    HRESULT Start(bool pumpMessages);

    // Queues a fire request. With coalesce, the newest queued fire request of
    // the same event id and extra word takes the arguments instead (false).
    // True when a new request was queued; false when the thread cannot be
    // started or has been stopped. Throws std::invalid_argument for a count
    // outside 0 to 3 or null args with a count, and whatever copying an
    // argument into a ccAgileVariant throws; the queue is then unchanged.
    bool PostFire(DISPID eventId, int32_t count, const VARIANT* args, uint32_t extra, bool coalesce,
                  bool pumpMessages);

    // Creates the object named by a braced class id or a ProgID on the event
    // thread and hands it back for the calling thread as IUnknown. E_POINTER,
    // E_INVALIDARG for no text, the conversion's failure, E_FAIL when the
    // object cannot be made, the wait's failure after 10 s.
    HRESULT CreateObjectOnThread(const OLECHAR* text, IUnknown** out);

    // Ends the thread and drops the requests still queued, unfired. From the
    // event thread itself it does not wait: the thread ends after the request
    // it is serving.
    void Stop();

    // True while the event thread is inside fire.
    bool firing() const;

    // For the owning class's use; released by the destructor.
    ccAgileInterfacePtr& holder() { return holder_; }

    // The object the thread holds while it fires; null (an owner that does
    // not count through CC_EVENT_SOURCE_COUNTING): nothing is held.
    virtual IUnknown* heldWhileFiring() { return nullptr; }

    struct Shared; // what the thread and the object both hold

protected:
    // The owner's counting (CC_EVENT_SOURCE_COUNTING): the count after an
    // AddRef, and the release itself, made under the hold's own lock so that
    // the thread never takes a hold once the count reached 0. A last release
    // while the thread is about to take its hold leaves the object to that
    // hold, whose release is then the last: it answers 1 in place of 0, so
    // that the object is not destroyed yet.
    ULONG addRefCounted(ULONG count);
    template <class Release> ULONG releaseCounted(Release&& release)
    {
        const std::lock_guard<std::mutex> guard(holdLock());
        return afterRelease(release());
    }

private:
    std::mutex& holdLock();
    ULONG afterRelease(ULONG count); // under holdLock
    std::shared_ptr<Shared> shared_;
    ccAgileInterfacePtr holder_;
};

// Counting for an event-sourcing COM class with a .NET companion `member`:
// the companion's counting (CC_COM_COMPANION_COUNTING), seen by the event
// thread's hold.
#define CC_EVENT_SOURCE_COUNTING(member)                                                                               \
    ULONG InternalAddRef() { return this->addRefCounted(this->addRefWith(&member)); }                                \
    ULONG InternalRelease() { return this->releaseCounted([this] { return this->releaseWith(&member); }); }           \
    IUnknown* heldWhileFiring() override { return this->GetUnknown(); }
