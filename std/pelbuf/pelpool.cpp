#include "std/pelbuf/pelpool.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

#include "std/except/resource.h"
#include "std/except/status.h"
#include "std/pelbuf/pelroot.h"
#include "std/threadid.h"
#include "std/timeout.h"

// A waiting taker, on its own stack while it waits.
struct ccPelRootPool::Waiter {
    Waiter* prev = this;
    Waiter* next = this;
    ccSemaphore* semaphore = nullptr;
    // Take-backs that woke it since it last tried; what it cannot use goes
    // on to the next waiter when it leaves, so that no wake-up is lost.
    int32_t wakes = 0;
};

struct ccPelRootPool::State {
    struct Class {
        cc_PooledRoot* head; // the first cached root
        int32_t width;
        int32_t height;
        const std::type_info* pelType;
    };

    State() : served(0, INT32_MAX) { classes.reserve(64); }

    std::vector<Class> classes;
    Waiter ring; // the waiters in order of arrival; this node only links them
    ccSemaphore served;
    int32_t waiting = 0;
    cc_Resource* notification = nullptr;
    ccThreadID lastGiver;
    bool otherThread = false;
    mutable std::mutex lock;
};

namespace {

// Signalling is part of release paths: what it may raise is dropped.
void signal(cc_Resource* resource) noexcept
{
    try {
        resource->unlock();
    } catch (...) {
    }
}

} // namespace

// ---- ccPelRootPool ----

ccPelRootPool::ccPelRootPool() : state_(std::make_unique<State>()) {}

ccPelRootPool::~ccPelRootPool() = default;

void ccPelRootPool::setSize(uint32_t) { throw NotSupported(); }

cc_PooledRoot* ccPelRootPool::makeRoot(int32_t, int32_t, const std::type_info&) { return nullptr; }

void ccPelRootPool::destroyRoot(cc_PooledRoot*) {}

bool ccPelRootPool::couldMake(int32_t, int32_t, const std::type_info&) const { return false; }

std::unique_lock<std::mutex> ccPelRootPool::lockPool() const { return std::unique_lock<std::mutex>(state_->lock); }

int32_t ccPelRootPool::classIndex(int32_t width, int32_t height, const std::type_info& pelType)
{
    std::lock_guard<std::mutex> hold(state_->lock);
    auto& classes = state_->classes;
    for (size_t i = 0; i < classes.size(); ++i) {
        if (classes[i].width == width && classes[i].height == height && *classes[i].pelType == pelType)
            return static_cast<int32_t>(i);
    }
    classes.push_back({nullptr, width, height, &pelType});
    return static_cast<int32_t>(classes.size() - 1);
}

void ccPelRootPool::checkClass(int32_t classIndex) const
{
    if (classIndex < 0 || static_cast<size_t>(classIndex) >= state_->classes.size())
        throw ccInvariantFailure();
}

cc_PooledRoot* ccPelRootPool::makeWithRoom(int32_t classIndex)
{
    auto& classes = state_->classes;
    const State::Class shape = classes[classIndex];
    if (cc_PooledRoot* made = makeRoot(shape.width, shape.height, *shape.pelType))
        return made;
    // Freeing others' roots is no use when this shape could never be made.
    if (!couldMake(shape.width, shape.height, *shape.pelType))
        return nullptr;
    const int32_t count = static_cast<int32_t>(classes.size());
    int32_t start = classIndex;
    for (int32_t j = classIndex;;) {
        j = (j + 1) % count;
        State::Class& c = classes[j];
        if (c.head) {
            cc_PooledRoot* victim = c.head;
            c.head = victim->next;
            victim->next = nullptr;
            victim->root().setPool(nullptr);
            destroyRoot(victim);
            if (cc_PooledRoot* made = makeRoot(shape.width, shape.height, *shape.pelType))
                return made;
            start = j; // the walk now ends when it is back here with nothing found
        } else if (j == start) {
            return nullptr;
        }
    }
}

cc_PelRoot* ccPelRootPool::takeLocked(int32_t classIndex)
{
    checkClass(classIndex);
    State::Class& c = state_->classes[classIndex];
    cc_PooledRoot* record = c.head;
    if (record) {
        c.head = record->next;
        record->next = nullptr;
    } else {
        record = makeWithRoom(classIndex);
        if (!record)
            return nullptr;
        record->classIndex = classIndex;
        record->root().setPool(this);
    }
    // Held by the root until it comes back: the pool outlives its roots.
    addRef();
    return &record->root();
}

cc_PelRoot* ccPelRootPool::take(int32_t classIndex)
{
    std::lock_guard<std::mutex> hold(state_->lock);
    return takeLocked(classIndex);
}

bool ccPelRootPool::takeBack(cc_PelRoot& root) noexcept
{
    root.markModified();
    ccThreadID giver;
    try {
        giver = ccThreadID::current();
    } catch (...) {
        // Only recorded: a thread without an identity gives anonymously.
    }
    State& s = *state_;
    auto* record = dynamic_cast<cc_PooledRoot*>(&root);
    const bool ours = record && record->classIndex >= 0;
    bool woke = false;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        if (ours) {
            State::Class& c = s.classes[record->classIndex];
            record->next = c.head;
            c.head = record;
        }
        std::swap(s.lastGiver, giver); // the old one is let go outside the lock
        s.notification = nullptr;
        s.otherThread = false;
        woke = s.ring.next != &s.ring;
        wake(s.ring.next, 1);
    }
    // The root's reference to its pool: the last one deletes a pool whose
    // handles have gone.
    if (ours && release() == 0)
        delete this;
    return woke;
}

void ccPelRootPool::wake(Waiter* waiter, int32_t wakes) noexcept
{
    if (waiter == &state_->ring)
        return;
    for (; wakes > 0; --wakes) {
        ++waiter->wakes;
        signal(waiter->semaphore);
    }
}

void ccPelRootPool::leaveRing(Waiter& waiter, int32_t unusedWakes) noexcept
{
    waiter.prev->next = waiter.next;
    waiter.next->prev = waiter.prev;
    waiter.prev = waiter.next = &waiter;
    --state_->waiting;
    wake(state_->ring.next, unusedWakes);
}

cc_PelRoot* ccPelRootPool::allocFromClass(int32_t classIndex, ccSemaphore& semaphore, ccTimeout& timeout,
                                          const std::atomic<bool>* abort, cc_Resource* notification)
{
    const auto aborted = [abort] { return abort && abort->load(std::memory_order_acquire); };
    if (aborted() || timeout.expired())
        return nullptr;
    const ccThreadID self = ccThreadID::current();
    State& s = *state_;
    const auto served = [&] {
        s.notification = notification;
        s.otherThread = self != s.lastGiver;
    };

    Waiter waiter;
    waiter.semaphore = &semaphore;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        checkClass(classIndex);
        if (s.waiting == 0) {
            if (cc_PelRoot* root = takeLocked(classIndex)) {
                served();
                return root;
            }
        }
        waiter.prev = s.ring.prev;
        waiter.next = &s.ring;
        s.ring.prev->next = &waiter;
        s.ring.prev = &waiter;
        if (++s.waiting == 1 && notification)
            signal(notification);
    }

    // Leaves the ring when a stop request or a failed make ends the wait.
    struct Leave {
        ccPelRootPool* pool;
        Waiter* waiter;
        bool armed = true;
        ~Leave()
        {
            if (armed) {
                std::lock_guard<std::mutex> hold(pool->state_->lock);
                pool->leaveRing(*waiter, waiter->wakes);
            }
        }
    } leave{this, &waiter};

    for (;;) {
        (void)semaphore.lock(timeout.remaining()); // a time-out still tries once more
        std::lock_guard<std::mutex> hold(s.lock);
        if (cc_PelRoot* root = takeLocked(classIndex)) {
            leave.armed = false;
            signal(&s.served);
            served();
            if (s.waiting > 1 && notification)
                signal(notification);
            leaveRing(waiter, std::max(waiter.wakes - 1, 0));
            return root;
        }
        // The root given back may suit a waiter of another class behind
        // this one: the wake goes on to it.
        wake(waiter.next, std::exchange(waiter.wakes, 0));
        if (aborted() || timeout.remaining() == 0) {
            leave.armed = false;
            leaveRing(waiter, 0);
            return nullptr;
        }
    }
}

void ccPelRootPool::drainLocked() noexcept
{
    for (State::Class& c : state_->classes) {
        while (cc_PooledRoot* record = c.head) {
            c.head = record->next;
            record->next = nullptr;
            record->root().setPool(nullptr);
            destroyRoot(record);
        }
    }
}

void ccPelRootPool::drain()
{
    std::lock_guard<std::mutex> hold(state_->lock);
    drainLocked();
}

int32_t ccPelRootPool::waitingCount() const
{
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->waiting;
}

// ---- ccBasicPelRootPool ----

// The record around a root: the root itself, its class link and its extent.
struct ccBasicPelRootPool::Record : cc_PooledRoot {
    ~Record() override = default;
    uint64_t start = 0; // in granules
    uint64_t granules = 0;
};

template <class T>
struct ccBasicPelRootPool::Typed final : ccPelRoot<T>, Record {
    Typed(int32_t width, int32_t height, void* pels) : ccPelRoot<T>(width, height, static_cast<T*>(pels), 1) {}
    cc_PelRoot& root() override { return *this; }
};

namespace {

uint32_t pooledPelSize(const std::type_info& pelType)
{
    if (pelType == typeid(unsigned char))
        return 1;
    if (pelType == typeid(ccPackedRGB16Pel))
        return 2;
    if (pelType == typeid(ccPackedRGB32Pel))
        return 4;
    return 0;
}

} // namespace

ccBasicPelRootPool::ccBasicPelRootPool(uint32_t size, uint32_t granule) : granule_(std::max<uint32_t>(8, granule))
{
    setSize(size);
}

ccBasicPelRootPool::~ccBasicPelRootPool() { releaseArena(); }

uint64_t ccBasicPelRootPool::granulesFor(int32_t width, int32_t height, const std::type_info& pelType) const
{
    const uint32_t pelSize = pooledPelSize(pelType);
    if (!pelSize || width < 1 || height < 1)
        return 0;
    // Below 2^64 however large the sides.
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * pelSize;
    return bytes / granule_ + (bytes % granule_ != 0);
}

bool ccBasicPelRootPool::couldMake(int32_t width, int32_t height, const std::type_info& pelType) const
{
    const uint64_t n = granulesFor(width, height, pelType);
    return n != 0 && n <= granules_;
}

cc_PooledRoot* ccBasicPelRootPool::makeRoot(int32_t width, int32_t height, const std::type_info& pelType)
{
    const uint64_t n = granulesFor(width, height, pelType);
    if (n == 0 || n > granules_)
        return nullptr;
    const int64_t start = allocateExtent(n);
    if (start < 0)
        return nullptr;
    void* pels = arena_ + static_cast<ptrdiff_t>(start) * static_cast<ptrdiff_t>(granule_);
    Record* record;
    try {
        if (pelType == typeid(unsigned char))
            record = new Typed<unsigned char>(width, height, pels);
        else if (pelType == typeid(ccPackedRGB16Pel))
            record = new Typed<ccPackedRGB16Pel>(width, height, pels);
        else
            record = new Typed<ccPackedRGB32Pel>(width, height, pels);
    } catch (...) {
        releaseExtent(static_cast<uint64_t>(start), n);
        throw;
    }
    record->start = static_cast<uint64_t>(start);
    record->granules = n;
    return record;
}

void ccBasicPelRootPool::destroyRoot(cc_PooledRoot* pooled)
{
    auto* record = static_cast<Record*>(pooled);
    const uint64_t start = record->start;
    const uint64_t granules = record->granules;
    delete record;
    releaseExtent(start, granules);
}

int64_t ccBasicPelRootPool::allocateExtent(uint64_t n)
{
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->second < n)
            continue;
        const uint64_t start = it->first;
        const uint64_t length = it->second;
        auto hint = free_.erase(it);
        if (length > n)
            free_.emplace_hint(hint, start + n, length - n);
        return static_cast<int64_t>(start);
    }
    return -1;
}

void ccBasicPelRootPool::releaseExtent(uint64_t start, uint64_t n)
{
    auto next = free_.lower_bound(start);
    auto merged = free_.end();
    if (next != free_.begin()) {
        auto before = std::prev(next);
        if (before->first + before->second == start) {
            before->second += n;
            merged = before;
        }
    }
    if (merged == free_.end())
        merged = free_.emplace_hint(next, start, n);
    if (next != free_.end() && merged->first + merged->second == next->first) {
        merged->second += next->second;
        free_.erase(next);
    }
}

void ccBasicPelRootPool::setSize(uint32_t bytes)
{
    auto hold = lockPool();
    drainLocked();
    const bool whollyFree = free_.size() == 1 && free_.begin()->first == 0 && free_.begin()->second == granules_;
    if (arena_ && !whollyFree)
        throw Outstanding();
    freeArenaLocked();
    if (bytes == 0)
        return;
    const uint64_t granule = granule_;
    const uint64_t count = (uint64_t{bytes} + granule - 1) / granule;
    const size_t raised = static_cast<size_t>(count * granule);
    void* block = rawAllocate(raised);
    char* first = static_cast<char*>(block);
    if (reinterpret_cast<uintptr_t>(block) % granule != 0) {
        rawRelease(block);
        block = rawAllocate(raised + granule - 1);
        const uintptr_t rest = reinterpret_cast<uintptr_t>(block) % granule;
        first = static_cast<char*>(block) + (rest ? granule - rest : 0);
    }
    raw_ = block;
    arena_ = first;
    granules_ = count;
    free_.emplace(0, count);
    size_ = bytes;
}

uint32_t ccBasicPelRootPool::size() const
{
    auto hold = lockPool();
    return size_;
}

void ccBasicPelRootPool::freeArenaLocked() noexcept
{
    if (raw_)
        rawRelease(raw_);
    raw_ = nullptr;
    arena_ = nullptr;
    granules_ = 0;
    free_.clear();
    size_ = 0;
}

void ccBasicPelRootPool::releaseArena() noexcept
{
    auto hold = lockPool();
    drainLocked();
    freeArenaLocked();
}

void* ccBasicPelRootPool::rawAllocate(size_t bytes)
{
    void* block = std::malloc(bytes);
    if (!block)
        throw ccBadAllocation();
    return block;
}

void ccBasicPelRootPool::rawRelease(void* block) noexcept { std::free(block); }

// ---- ccDefaultPelRootPool ----

ccDefaultPelRootPool::ccDefaultPelRootPool(uint32_t size, uint32_t granule) : ccBasicPelRootPool(0, granule)
{
    setSize(size == 0xFFFFFFFFu ? 0x1000000u : size);
}

ccDefaultPelRootPool::~ccDefaultPelRootPool() { releaseArena(); }

void* ccDefaultPelRootPool::rawAllocate(size_t bytes)
{
    std::free(block_);
    block_ = std::malloc(bytes);
    if (!block_)
        throw ccBadAllocation();
    return block_;
}

void ccDefaultPelRootPool::rawRelease(void*) noexcept
{
    std::free(block_);
    block_ = nullptr;
}

const ccPtrHandle<ccPelRootPool>& ccDefaultPelRootPool::instance()
{
    static std::atomic<const ccPtrHandle<ccPelRootPool>*> made{nullptr};
    if (const auto* handle = made.load(std::memory_order_acquire))
        return *handle;
    ccResourceLock hold(ccLibraryMutex());
    if (const auto* handle = made.load(std::memory_order_relaxed))
        return *handle;
    // Never destroyed: roots and handles released late at exit find it.
    const auto* handle = new ccPtrHandle<ccPelRootPool>(new ccDefaultPelRootPool(0xFFFFFFFFu, 4096));
    made.store(handle, std::memory_order_release);
    return *handle;
}
