// Pel-root pools: roots of a few fixed shapes handed out over and over
// without going to the heap for their pels.
//
// A pool sorts its roots into shape classes (width, height, pel type); a
// root whose last handle goes comes back here (takeBack) and waits in its
// class's free list for the next taker. Takers that find nothing may wait,
// first come first served. A root handed out holds a reference to its pool,
// so a pool whose handles are gone lives on until its last root is back:
// pools are made with new and held by handles, as every ccRepBase.
// The arena that the pels come from is a derived pool's
// (std/pelbuf/pelpool.h).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <typeinfo>

#include "std/ptrhandle.h"

class cc_PelRoot;
class cc_Resource;
class ccSemaphore;
class ccTimeout;

// What a pool keeps beside each root it made: the link to the next cached
// root of its class while the root sits in a free list, and its class.
class cc_PooledRoot {
public:
    virtual cc_PelRoot& root() = 0;

    cc_PooledRoot* next = nullptr;
    int32_t classIndex = -1;

protected:
    virtual ~cc_PooledRoot() = default;
};

class ccPelRootPool : public ccRepBase {
public:
    cmDeclareException(NotSupported, ccException, 0x1000098Cu, "class ccPelRootPool::NotSupported");
    cmDeclareException(Outstanding, ccException, 0x1000098Du, "class ccPelRootPool::Outstanding");

    ccPelRootPool(const ccPelRootPool&) = delete;
    ccPelRootPool& operator=(const ccPelRootPool&) = delete;
    ~ccPelRootPool() override;

    // The arena's size in bytes. A pool without an arena has size 0 and
    // refuses a new one (NotSupported).
    virtual void setSize(uint32_t bytes);
    virtual uint32_t size() const { return 0; }

    // Takes back a root of this pool whose last handle went; answers whether
    // a waiting taker was woken. A release path: it never throws, and it
    // drops the root from the archive tables (markModified) before it takes
    // its own lock, so that the archive-table lock is never awaited under it.
    virtual bool takeBack(cc_PelRoot& root) noexcept;

    // The driver module's two yes-or-no questions of a pool; no pool here
    // answers yes.
    virtual bool firstQuery() const { return false; }
    virtual bool secondQuery() const { return false; }

    // The class of roots of this shape and pel type, added when new.
    // Classes are never removed, so an index stays good for the pool's life.
    int32_t classIndex(int32_t width, int32_t height, const std::type_info& pelType);

    // A root of the class (count 0): a cached one, else a new one, else a new
    // one after cached roots of other classes were destroyed to make room,
    // one class after the next; null when none can be had.
    // ccInvariantFailure for an index that is not a class of this pool.
    cc_PelRoot* take(int32_t classIndex);

    // As take, waiting on semaphore for a take-back while the time-out
    // lasts, first come first served (a waiter woken by a root it cannot
    // use passes the wake on to the one behind it); null at once when
    // *abort is set or the time-out has expired, null when it runs out or
    // *abort is set while waiting. The notification object is signalled
    // (unlock) when the caller becomes the only waiter, and when it is
    // served while others still wait. A stop request of the waiting thread
    // leaves the queue and propagates (cc_Resource::BrokenLock).
    cc_PelRoot* allocFromClass(int32_t classIndex, ccSemaphore& semaphore, ccTimeout& timeout,
                               const std::atomic<bool>* abort = nullptr, cc_Resource* notification = nullptr);

    // Destroys every cached root.
    void drain();

    // The takers waiting now.
    int32_t waitingCount() const;

protected:
    ccPelRootPool();

    // A new root of the shape with its record, the root's owning pool not
    // yet set; null for an unsupported shape or pel type, or when the arena
    // has no room. Called under the pool lock; this pool makes none.
    virtual cc_PooledRoot* makeRoot(int32_t width, int32_t height, const std::type_info& pelType);
    // Destroys a root made by makeRoot and its record. Called under the pool
    // lock, for roots that are not handed out.
    virtual void destroyRoot(cc_PooledRoot* record);
    // Whether a root of the shape would fit an arena with nothing handed
    // out; when not, no cached root is destroyed to make room for it.
    virtual bool couldMake(int32_t width, int32_t height, const std::type_info& pelType) const;

    // The pool lock: every class, free-list, arena and waiter operation runs
    // under it. Not the stop-aware kernel mutex: take-backs run in
    // destructors and must not throw.
    std::unique_lock<std::mutex> lockPool() const;
    // drain, for a caller that holds the pool lock.
    void drainLocked() noexcept;

private:
    struct State;
    struct Waiter;
    void checkClass(int32_t classIndex) const;
    cc_PelRoot* takeLocked(int32_t classIndex);
    cc_PooledRoot* makeWithRoom(int32_t classIndex);
    // Under the pool lock: signals waiter (none: the ring itself) wakes times.
    void wake(Waiter* waiter, int32_t wakes) noexcept;
    void leaveRing(Waiter& waiter, int32_t unusedWakes) noexcept;

    std::unique_ptr<State> state_;
};
