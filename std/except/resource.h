// Synchronisation resources of the library and their errors.
//
// Kernel objects (mutex, semaphore, event) share one locking contract:
// lock(seconds) answers true when the object was taken and false when the
// time ran out, and throws cc_Resource::BrokenLock when the calling thread
// has been asked to stop: every such wait also watches the thread's stop
// semaphore, so that stopping the library's threads breaks their waits. The
// thread identities (std/threadid.h), a layer above, own those semaphores and
// install the source that finds them; until then a wait watches none. A
// named object is shared with every other object of the same kind and name
// in this process; names do not reach other processes.
#pragma once
#include <cstdint>
#include <string>

#include "platform/sync.h"
#include "std/except/except.h"

class cc_Resource {
public:
    cmDeclareErrorFamily(Errors, ccException, "class cc_Resource::Errors");
    // Registered for archives; a lock time-out is reported by lock() returning false.
    cmDeclareException(Timeout, Errors, 0x10002100u, "class cc_Resource::Timeout");
    cmDeclareException(NamedObjectExists, Errors, 0x10002102u, "class cc_Resource::NamedObjectExists");
    cmDeclareException(NameConflict, Errors, 0x10002104u, "class cc_Resource::NameConflict");
    cmDeclareException(CreateFailed, Errors, 0x10002105u, "class cc_Resource::CreateFailed");
    // A wait broken by the calling thread's stop request. Its code is 0.
    cmDeclareException(BrokenLock, Errors, 0u, "class cc_Resource::BrokenLock");

    cc_Resource(const cc_Resource&) = delete;
    cc_Resource& operator=(const cc_Resource&) = delete;
    virtual ~cc_Resource();

    // The calling thread's stop semaphore, or null when it has none.
    typedef plat::Handle (*StopSemaphoreSource)();
    // Installed by the layer that owns the threads' stop semaphores; a null
    // source is ignored, so that no caller can switch the stop requests off.
    static void setStopSemaphoreSource(StopSemaphoreSource source);

    // HUGE_VAL waits without limit, 0 only tests. The stop request is taken
    // by the wait that it breaks: only that one throws.
    virtual bool lock(double seconds) = 0;
    virtual void unlock() = 0;

    plat::Handle handle() const { return handle_; }
    // False when a named object existed already and was opened.
    bool createdNew() const { return createdNew_; }

protected:
    cc_Resource() = default;

    // Keeps what a creation gave, or throws (the handle, if any, is closed
    // by the destructor).
    void takeCreated(plat::Handle handle, plat::NameResult result, bool openExistingAllowed);
    // The lock of every kernel object.
    bool waitLock(double seconds);

    plat::Handle handle_ = nullptr;
    bool createdNew_ = true;
};

// The wait of lock(seconds) in milliseconds: HUGE_VAL waits without limit;
// other times are truncated, at least 1 ms when positive, and clamped below
// the infinite value; negative and NaN times only test.
uint32_t ccLockMilliseconds(double seconds);

// Recursive for its owning thread; unlock by another thread does nothing.
class ccMutex : public cc_Resource {
public:
    explicit ccMutex(bool initiallyOwned = false, const std::wstring& name = std::wstring(),
                     bool openExistingAllowed = true);
    bool lock(double seconds) override;
    void unlock() override; // releases once
};

class ccSemaphore : public cc_Resource {
public:
    ccSemaphore(int32_t initialCount, int32_t maximumCount, const std::wstring& name = std::wstring(),
                bool openExistingAllowed = true);
    // Holds its own reference to an existing semaphore of this process.
    explicit ccSemaphore(plat::Handle semaphore);
    bool lock(double seconds) override;
    void unlock() override; // releases one count; nothing past the maximum
};

class ccEvent : public cc_Resource {
public:
    explicit ccEvent(bool manualReset = false, bool initiallySet = false, const std::wstring& name = std::wstring(),
                     bool openExistingAllowed = true);
    bool lock(double seconds) override;
    void unlock() override; // sets the event
    // Sets the event and answers whether that worked.
    bool set();
};

// A short in-process lock, recursive for its owner, that spins before it
// blocks.
class ccCriticalSection {
public:
    static constexpr uint32_t kSpinCount = 4000;

    ccCriticalSection() = default;
    ccCriticalSection(const ccCriticalSection&) = delete;
    ccCriticalSection& operator=(const ccCriticalSection&) = delete;

    void lock();
    void unlock(); // by a thread that does not hold it: does nothing
    uint32_t spinCount() const { return spinCount_; }

private:
    plat::CriticalSection section_;
    uint32_t spinCount_ = kSpinCount;
};

// Holds a resource for a scope and releases exactly the locks it took.
class ccResourceLock {
public:
    // With lockNow, waits without limit (and may throw BrokenLock).
    explicit ccResourceLock(cc_Resource& resource, bool lockNow = true);
    ccResourceLock(const ccResourceLock&) = delete;
    ccResourceLock& operator=(const ccResourceLock&) = delete;
    ~ccResourceLock();

    // Releases one lock; holding none, it does nothing.
    void unlock();
    uint32_t count() const { return count_; }

private:
    cc_Resource* resource_;
    uint32_t count_ = 0;
};

// The process-wide recursive mutex under which shared objects and registries
// are made on first use. Made at the first call, never destroyed.
ccMutex& ccLibraryMutex();
