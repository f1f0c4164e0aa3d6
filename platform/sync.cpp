#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <unordered_map>

#include "platform/kernel_internal.h"
#include "platform/thread.h"

namespace plat {
namespace detail {

std::mutex& dispatcherLock()
{
    // Never destroyed: handles may be closed during process exit.
    static std::mutex* lock = new std::mutex;
    return *lock;
}

void wakeWaiters(KernelObject* object)
{
    for (Waiter* waiter : object->waiters)
        waiter->wake.notify_one();
}

namespace {

// Name to named object, under the dispatcher lock. An entry does not hold its
// object: the object takes its name out when it goes.
std::unordered_map<std::wstring, KernelObject*>& nameTable()
{
    static auto* table = new std::unordered_map<std::wstring, KernelObject*>;
    return *table;
}

} // namespace

void dropReference(KernelObject* object)
{
    if (--object->references == 0) {
        if (!object->name.empty())
            nameTable().erase(object->name);
        delete object;
    }
}

void addOwned(ThreadState* state, KernelObject* mutex)
{
    ++mutex->references;
    state->owned.push_back(mutex);
}

namespace {

void removeOwned(ThreadState* state, KernelObject* mutex)
{
    auto found = std::find(state->owned.begin(), state->owned.end(), mutex);
    if (found != state->owned.end()) {
        state->owned.erase(found);
        dropReference(mutex);
    }
}

} // namespace

void finishThread(ThreadState* state, uint32_t exitCode)
{
    std::lock_guard<std::mutex> guard(dispatcherLock());
    for (KernelObject* mutex : state->owned) {
        mutex->owner = 0;
        mutex->recursion = 0;
        mutex->abandoned = true;
        wakeWaiters(mutex);
        dropReference(mutex);
    }
    state->owned.clear();
    if (state->self != nullptr) {
        state->self->exitCode = exitCode;
        state->self->signalled = true;
        wakeWaiters(state->self);
        dropReference(state->self);
        state->self = nullptr;
    }
}

} // namespace detail

using detail::dispatcherLock;
using detail::Kind;
using detail::ThreadState;

namespace {

enum class Take { Taken, NotYet, Refused };

// Under the dispatcher lock: whether the caller could take the object now.
Take canTake(const KernelObject* object, const ThreadState* caller)
{
    switch (object->kind) {
    case Kind::Mutex:
        if (object->owner == 0)
            return Take::Taken;
        if (object->owner != caller->id)
            return Take::NotYet;
        // The owner would otherwise wait for itself.
        return object->recursion == 0xFFFFFFFFu ? Take::Refused : Take::Taken;
    case Kind::Event:
    case Kind::Thread:
        return object->signalled ? Take::Taken : Take::NotYet;
    case Kind::Semaphore:
        return object->count > 0 ? Take::Taken : Take::NotYet;
    }
    return Take::Refused;
}

// Under the dispatcher lock: takes an object that canTake allows. Only a
// mutex new to the caller's list may throw, before any change.
void take(KernelObject* object, ThreadState* caller, bool* abandoned)
{
    *abandoned = false;
    switch (object->kind) {
    case Kind::Mutex:
        if (object->owner == caller->id) {
            ++object->recursion;
            return;
        }
        detail::addOwned(caller, object);
        object->owner = caller->id;
        object->recursion = 1;
        *abandoned = object->abandoned;
        object->abandoned = false;
        return;
    case Kind::Event:
        if (!object->manualReset)
            object->signalled = false;
        return;
    case Kind::Semaphore:
        --object->count;
        return;
    case Kind::Thread:
        return;
    }
}

// Under the dispatcher lock: takes the first object that can be taken
// (Signalled or Abandoned with its index; a refusal fails the wait); false
// when none can be yet.
bool takeAny(const Handle* objects, uint32_t count, ThreadState* caller, WaitResult* result)
{
    for (uint32_t i = 0; i < count; ++i) {
        const Take state = canTake(objects[i], caller);
        if (state == Take::NotYet)
            continue;
        *result = {WaitStatus::Failed, 0};
        if (state == Take::Taken) {
            bool abandoned = false;
            take(objects[i], caller, &abandoned);
            *result = {abandoned ? WaitStatus::Abandoned : WaitStatus::Signalled, i};
        }
        return true;
    }
    return false;
}

// Under the dispatcher lock: every object at once (Signalled with index 0,
// or Abandoned with the lowest abandoned mutex's index), or none of them.
bool takeAll(const Handle* objects, uint32_t count, ThreadState* caller, WaitResult* result)
{
    bool ready = true;
    uint32_t mutexes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Take state = canTake(objects[i], caller);
        if (state == Take::Refused) {
            *result = {WaitStatus::Failed, 0};
            return true;
        }
        ready = ready && state == Take::Taken;
        mutexes += objects[i]->kind == Kind::Mutex ? 1 : 0;
    }
    if (!ready)
        return false;
    caller->owned.reserve(caller->owned.size() + mutexes); // may throw: before any change
    *result = {WaitStatus::Signalled, 0};
    for (uint32_t i = count; i-- > 0;) {
        bool abandoned = false;
        take(objects[i], caller, &abandoned);
        if (abandoned)
            *result = {WaitStatus::Abandoned, i};
    }
    return true;
}

WaitResult failed() { return {WaitStatus::Failed, 0}; }

// Enters a new unnamed object under the name, or opens the object that holds
// the name already. owner, when given, takes a new mutex.
Handle openOrCreate(KernelObject* made, const std::wstring& name, ThreadState* owner, NameResult* result)
{
    std::lock_guard<std::mutex> guard(dispatcherLock());
    auto& table = detail::nameTable();
    auto found = table.find(name);
    if (found != table.end()) {
        const Kind wanted = made->kind;
        delete made; // nobody else has seen it
        if (found->second->kind != wanted) {
            *result = NameResult::OtherKind;
            return nullptr;
        }
        ++found->second->references;
        *result = NameResult::Existed;
        return found->second;
    }
    bool entered = false;
    try {
        made->name = name;
        table.emplace(name, made);
        entered = true;
        bool abandoned = false;
        if (owner != nullptr)
            take(made, owner, &abandoned);
    } catch (const std::bad_alloc&) {
        if (entered)
            table.erase(name);
        delete made;
        *result = NameResult::Failed;
        return nullptr;
    }
    *result = NameResult::Created;
    return made;
}

Handle finishUnnamed(Handle made, NameResult* result)
{
    *result = made != nullptr ? NameResult::Created : NameResult::Failed;
    return made;
}

} // namespace

Handle createMutex(bool initiallyOwned)
{
    ThreadState* caller = nullptr;
    if (initiallyOwned && (caller = detail::threadState()) == nullptr)
        return nullptr;
    auto* object = new (std::nothrow) KernelObject(Kind::Mutex);
    if (object == nullptr)
        return nullptr;
    if (initiallyOwned) {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        bool abandoned = false;
        try {
            take(object, caller, &abandoned);
        } catch (const std::bad_alloc&) {
            delete object;
            return nullptr;
        }
    }
    return object;
}

Handle createEvent(bool manualReset, bool initiallySignalled)
{
    auto* object = new (std::nothrow) KernelObject(Kind::Event);
    if (object != nullptr) {
        object->manualReset = manualReset;
        object->signalled = initiallySignalled;
    }
    return object;
}

Handle createSemaphore(int32_t initialCount, int32_t maximumCount)
{
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount)
        return nullptr;
    auto* object = new (std::nothrow) KernelObject(Kind::Semaphore);
    if (object != nullptr) {
        object->count = initialCount;
        object->maximum = maximumCount;
    }
    return object;
}

Handle createMutex(bool initiallyOwned, const std::wstring& name, NameResult* result)
{
    NameResult ignored;
    result = result != nullptr ? result : &ignored;
    if (name.empty())
        return finishUnnamed(createMutex(initiallyOwned), result);
    *result = NameResult::Failed;
    ThreadState* owner = nullptr;
    if (initiallyOwned && (owner = detail::threadState()) == nullptr)
        return nullptr;
    Handle made = createMutex(false);
    return made != nullptr ? openOrCreate(made, name, owner, result) : nullptr;
}

Handle createEvent(bool manualReset, bool initiallySignalled, const std::wstring& name, NameResult* result)
{
    NameResult ignored;
    result = result != nullptr ? result : &ignored;
    Handle made = createEvent(manualReset, initiallySignalled);
    if (name.empty())
        return finishUnnamed(made, result);
    *result = NameResult::Failed;
    return made != nullptr ? openOrCreate(made, name, nullptr, result) : nullptr;
}

Handle createSemaphore(int32_t initialCount, int32_t maximumCount, const std::wstring& name, NameResult* result)
{
    NameResult ignored;
    result = result != nullptr ? result : &ignored;
    // Bad counts fail even when the name exists.
    Handle made = createSemaphore(initialCount, maximumCount);
    if (name.empty())
        return finishUnnamed(made, result);
    *result = NameResult::Failed;
    return made != nullptr ? openOrCreate(made, name, nullptr, result) : nullptr;
}

Handle duplicateHandle(Handle object)
{
    if (object == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    ++object->references;
    return object;
}

bool closeHandle(Handle object)
{
    if (object == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    detail::dropReference(object);
    return true;
}

bool releaseMutex(Handle mutex)
{
    if (mutex == nullptr || mutex->kind != Kind::Mutex)
        return false;
    uint32_t self = currentThreadId();
    std::lock_guard<std::mutex> guard(dispatcherLock());
    if (mutex->owner != self || mutex->recursion == 0)
        return false;
    if (--mutex->recursion == 0) {
        mutex->owner = 0;
        detail::wakeWaiters(mutex);
        // The owner has a state: it was made when the mutex was taken.
        detail::removeOwned(detail::threadState(), mutex);
    }
    return true;
}

bool setEvent(Handle event)
{
    if (event == nullptr || event->kind != Kind::Event)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    event->signalled = true;
    detail::wakeWaiters(event);
    return true;
}

bool resetEvent(Handle event)
{
    if (event == nullptr || event->kind != Kind::Event)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    event->signalled = false;
    return true;
}

bool releaseSemaphore(Handle semaphore, int32_t count, int32_t* previousCount)
{
    if (semaphore == nullptr || semaphore->kind != Kind::Semaphore || count <= 0)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    if (count > semaphore->maximum - semaphore->count)
        return false;
    if (previousCount != nullptr)
        *previousCount = semaphore->count;
    semaphore->count += count;
    detail::wakeWaiters(semaphore);
    return true;
}

WaitResult detail::wait(const Handle* objects, uint32_t count, uint32_t milliseconds, bool all, bool watchQueue)
{
    if ((objects == nullptr && count > 0) || (count == 0 && (all || !watchQueue)) || count > kMaxWaitObjects)
        return failed();
    for (uint32_t i = 0; i < count; ++i) {
        if (objects[i] == nullptr)
            return failed();
        // Taking all at once cannot take one object twice.
        for (uint32_t j = 0; all && j < i; ++j)
            if (objects[j] == objects[i])
                return failed();
    }
    ThreadState* caller = detail::threadState();
    if (caller == nullptr)
        return failed();

    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == kInfiniteWait;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);

    detail::Waiter waiter;
    uint32_t registered = 0; // objects that list the waiter
    std::unique_lock<std::mutex> guard(dispatcherLock());
    WaitResult result = failed();
    try {
        for (;;) {
            if (all ? takeAll(objects, count, caller, &result) : takeAny(objects, count, caller, &result))
                break;
            if (watchQueue && !caller->messages.empty()) {
                result = {WaitStatus::Signalled, count};
                break;
            }
            if (!forever && Clock::now() >= deadline) {
                result = {WaitStatus::TimedOut, 0};
                break;
            }
            // Each object stays alive while it lists the waiter.
            for (; registered < count; ++registered) {
                objects[registered]->waiters.push_back(&waiter);
                ++objects[registered]->references;
            }
            if (watchQueue)
                caller->messageWaiter = &waiter;
            if (forever)
                waiter.wake.wait(guard);
            else
                waiter.wake.wait_until(guard, deadline);
        }
    } catch (const std::bad_alloc&) {
        result = failed();
    }
    if (watchQueue)
        caller->messageWaiter = nullptr;
    for (uint32_t i = 0; i < registered; ++i) {
        auto& list = objects[i]->waiters;
        auto found = std::find(list.begin(), list.end(), &waiter);
        if (found != list.end()) {
            list.erase(found);
            detail::dropReference(objects[i]);
        }
    }
    return result;
}

WaitResult waitForAny(const Handle* objects, uint32_t count, uint32_t milliseconds)
{
    return detail::wait(objects, count, milliseconds, false, false);
}

WaitResult waitForAll(const Handle* objects, uint32_t count, uint32_t milliseconds)
{
    return detail::wait(objects, count, milliseconds, true, false);
}

WaitResult waitFor(Handle object, uint32_t milliseconds) { return waitForAny(&object, 1, milliseconds); }

void CriticalSection::enter()
{
    uint32_t self = currentThreadId();
    if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) == self) {
        ++depth_;
        return;
    }
    lock_.lock();
    __atomic_store_n(&owner_, self, __ATOMIC_RELAXED);
    depth_ = 1;
}

bool CriticalSection::tryEnter()
{
    uint32_t self = currentThreadId();
    if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) == self) {
        ++depth_;
        return true;
    }
    if (!lock_.try_lock())
        return false;
    __atomic_store_n(&owner_, self, __ATOMIC_RELAXED);
    depth_ = 1;
    return true;
}

bool CriticalSection::leave()
{
    if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) != currentThreadId() || depth_ == 0)
        return false;
    if (--depth_ == 0) {
        __atomic_store_n(&owner_, 0u, __ATOMIC_RELAXED);
        lock_.unlock();
    }
    return true;
}

} // namespace plat
