#pragma once
// The owner-thread lock: a small recursive spin lock over the id of the
// thread that holds it. It guards each object's own state, each connection
// point's sinks and each event thread's queue. No other object is called,
// counted or released while it is held: two objects that use each other
// would otherwise wait on each other from two threads. A waiter either
// sleeps 1 ms per failed attempt or, when asked to pump, dispatches queued
// WM_USER (0x400) messages meanwhile, so that calls marshalled to its own
// thread still run; it takes no other message off its queue. No time-out.

#include <atomic>
#include <cstdint>

class ccThreadOwnerLock {
public:
    ccThreadOwnerLock() = default;
    ccThreadOwnerLock(const ccThreadOwnerLock&) = delete;
    ccThreadOwnerLock& operator=(const ccThreadOwnerLock&) = delete;

    // Takes the lock for the calling thread (again, when it holds it); 0.
    int32_t lock(bool pumpMessages = true);
    // Releases one level; the lock is free after as many unlocks as locks.
    void unlock();

    // For tests and assertions.
    uint32_t owner() const { return owner_.load(std::memory_order_acquire); }

private:
    std::atomic<uint32_t> owner_{0}; // 0: free
    uint32_t count_ = 0; // touched only by the owner
};

// Holds the lock for a scope; a null lock is not taken.
class ccThreadOwnerLockGuard {
public:
    explicit ccThreadOwnerLockGuard(ccThreadOwnerLock* lock, bool pumpMessages = true)
        : lock_(lock)
    {
        if (lock_) lock_->lock(pumpMessages);
    }
    ~ccThreadOwnerLockGuard()
    {
        if (lock_) lock_->unlock();
    }
    ccThreadOwnerLockGuard(const ccThreadOwnerLockGuard&) = delete;
    ccThreadOwnerLockGuard& operator=(const ccThreadOwnerLockGuard&) = delete;

private:
    ccThreadOwnerLock* lock_;
};
