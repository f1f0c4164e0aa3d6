#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/event_log.h"
#include "platform/kernel_internal.h"
#include "platform/text.h"
#include "platform/thread_testing.h"

namespace plat {

using detail::dispatcherLock;
using detail::Kind;
using detail::ThreadState;

namespace {

// Trivially destructible, so that they stay usable in key destructors.
thread_local uint32_t tThreadId = 0;
thread_local bool tExitRan = false;

pthread_key_t gExitKey;
bool gExitKeyMade = false;
pthread_once_t gExitKeyOnce = PTHREAD_ONCE_INIT;

struct ExitCallback {
    ThreadExitCallback callback;
    int32_t order;
};

constexpr int kMaxExitCallbacks = 32;
ExitCallback gExitCallbacks[kMaxExitCallbacks];
int gExitCallbackCount = 0;

std::mutex& callbackLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

// Thread id to the state of a live thread, for posting messages; under the
// dispatcher lock.
std::unordered_map<uint32_t, ThreadState*>& statesById()
{
    static auto* states = new std::unordered_map<uint32_t, ThreadState*>;
    return *states;
}

void forgetState(ThreadState* state)
{
    std::lock_guard<std::mutex> guard(dispatcherLock());
    auto found = statesById().find(state->id);
    if (found != statesById().end() && found->second == state)
        statesById().erase(found);
}

void runExitWork(ThreadState* state, uint32_t exitCode)
{
    state->exiting = true;
    // The key's value is cleared before its destructor runs; callbacks that
    // use the layer must find this state, not arm the hook again.
    pthread_setspecific(gExitKey, state);
    if (!tExitRan) {
        tExitRan = true;
        ExitCallback callbacks[kMaxExitCallbacks];
        int count;
        {
            std::lock_guard<std::mutex> guard(callbackLock());
            count = gExitCallbackCount;
            for (int i = 0; i < count; ++i)
                callbacks[i] = gExitCallbacks[i];
        }
        for (int i = 0; i < count; ++i)
            callbacks[i].callback();
    }
    // Whatever a late user of the layer makes after this point only gets its
    // mutexes abandoned and its thread object signalled.
    forgetState(state);
    detail::finishThread(state, exitCode);
    pthread_setspecific(gExitKey, nullptr);
    delete state;
}

void onThreadExit(void* value)
{
    if (value != nullptr)
        runExitWork(static_cast<ThreadState*>(value), 0);
}

void makeExitKey() { gExitKeyMade = pthread_key_create(&gExitKey, &onThreadExit) == 0; }

bool exitKeyReady()
{
    pthread_once(&gExitKeyOnce, &makeExitKey);
    return gExitKeyMade;
}

// Thread-local slots live in each thread's state rather than in pthread
// keys: glibc clears every key's value while it runs key destructors, so a
// slot read during the exit work could already be gone. A slot's generation
// is 0 while it is free and new at each allocation, so that a value left by
// an earlier owner of the slot reads as null.
constexpr uint32_t kMaxTlsSlots = 1088;
std::atomic<uint32_t> gTlsGeneration[kMaxTlsSlots];
uint32_t gTlsLastGeneration = 0; // under callbackLock

uint32_t tlsGeneration(uint32_t key)
{
    return key < kMaxTlsSlots ? gTlsGeneration[key].load(std::memory_order_acquire) : 0;
}

// ---- Priorities as nice values

int setNiceBySystem(uint32_t threadId, int nice)
{
    return setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice) == 0 ? 0 : errno;
}

std::atomic<ThreadNiceSetter> gNiceSetter{&setNiceBySystem};

int niceOfThread(uint32_t threadId, int fallback)
{
    errno = 0; // -1 is a nice value too
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
    return errno == 0 ? nice : fallback;
}

// What normal priority stands for: read once, before this layer has changed
// any thread's nice value.
int processNice()
{
    static const int nice = niceOfThread(static_cast<uint32_t>(getpid()), 0);
    return nice;
}

int niceOfPriority(int32_t priority)
{
    return std::clamp(processNice() - 5 * std::clamp(priority, -15, 15), -20, 19);
}

// A thread that has just ended (ESRCH) is no refusal. Reported once: a
// process without the right keeps meeting it.
void reportRefusal(int error, uint32_t threadId, int nice)
{
    static std::atomic<bool> reported{false};
    if (error == 0 || error == ESRCH || reported.exchange(true))
        return;
    const char* reason = strerrordesc_np(error);
    reportEvent(L"Qoralt", L"Can't set a thread's priority: nice value " + std::to_wstring(nice) + L" for thread " +
                               std::to_wstring(threadId) + L" refused (" +
                               (reason ? wideFromUtf8(reason) : L"error " + std::to_wstring(error)) +
                               L"); priorities the system refuses are recorded only");
}

struct StartBlock {
    ThreadFunction function;
    void* argument;
    KernelObject* object;
    std::mutex lock;
    std::condition_variable startedSignal;
    bool started = false;
};

void* threadStart(void* parameter)
{
    auto* start = static_cast<StartBlock*>(parameter);
    ThreadFunction function = start->function;
    void* argument = start->argument;
    KernelObject* object = start->object;

    ThreadState* state = detail::threadState();
    {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        object->threadId = currentThreadId();
        if (state != nullptr)
            state->self = object; // the thread's own reference
    }
    // At normal priority whatever the creator's, before the creator can set another.
    const uint32_t self = currentThreadId();
    const int normal = niceOfPriority(0);
    if (niceOfThread(self, normal) != normal)
        reportRefusal(gNiceSetter.load()(self, normal), self, normal);
    {
        std::lock_guard<std::mutex> guard(start->lock);
        start->started = true;
        start->startedSignal.notify_one();
    }
    // The block belongs to the creator from here on.

    uint32_t exitCode = function(argument);
    if (state != nullptr) {
        runExitWork(state, exitCode);
    } else {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        object->exitCode = exitCode;
        object->signalled = true;
        detail::wakeWaiters(object);
        detail::dropReference(object);
    }
    return nullptr;
}

KernelObject* threadObject(Handle thread) { return thread != nullptr && thread->kind == Kind::Thread ? thread : nullptr; }

} // namespace

namespace detail {

ThreadState* threadState()
{
    if (!exitKeyReady())
        return nullptr;
    auto* state = static_cast<ThreadState*>(pthread_getspecific(gExitKey));
    if (state != nullptr)
        return state;
    state = new (std::nothrow) ThreadState;
    if (state == nullptr)
        return nullptr;
    state->id = currentThreadId();
    if (pthread_setspecific(gExitKey, state) != 0) {
        delete state;
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        statesById()[state->id] = state;
    } catch (const std::bad_alloc&) {
        pthread_setspecific(gExitKey, nullptr);
        delete state;
        return nullptr;
    }
    return state;
}

} // namespace detail

uint32_t currentThreadId()
{
    if (tThreadId == 0)
        tThreadId = static_cast<uint32_t>(gettid());
    return tThreadId;
}

Handle createThread(ThreadFunction function, void* argument, uint32_t* threadId)
{
    return createThread(function, argument, threadId, 0);
}

Handle createThread(ThreadFunction function, void* argument, uint32_t* threadId, size_t stackSize)
{
    if (function == nullptr)
        return nullptr;
    auto* object = new (std::nothrow) KernelObject(Kind::Thread);
    if (object == nullptr)
        return nullptr;
    object->manualReset = true;
    object->references = 2; // the caller's handle and the thread's own

    StartBlock start;
    start.function = function;
    start.argument = argument;
    start.object = object;

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete object;
        return nullptr;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        // As small as the original platform allows, and no smaller than the
        // system's minimum; whole pages.
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t size = std::max({stackSize, size_t{64} * 1024, static_cast<size_t>(PTHREAD_STACK_MIN)});
        size = (size + page - 1) / page * page;
        if (size < stackSize || pthread_attr_setstacksize(&attributes, size) != 0) {
            pthread_attr_destroy(&attributes);
            delete object;
            return nullptr;
        }
    }
    pthread_t thread;
    int created = pthread_create(&thread, &attributes, &threadStart, &start);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete object;
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> guard(start.lock);
        start.startedSignal.wait(guard, [&start] { return start.started; });
    }
    if (threadId != nullptr) {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        *threadId = object->threadId;
    }
    return object;
}

Handle currentThreadHandle()
{
    ThreadState* state = detail::threadState();
    if (state == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    if (state->self == nullptr) {
        auto* object = new (std::nothrow) KernelObject(Kind::Thread);
        if (object == nullptr)
            return nullptr;
        object->manualReset = true;
        object->threadId = state->id;
        state->self = object;
    }
    ++state->self->references;
    return state->self;
}

uint32_t threadIdOf(Handle thread)
{
    KernelObject* object = threadObject(thread);
    if (object == nullptr)
        return 0;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    return object->threadId;
}

bool setThreadPriority(Handle thread, int32_t priority)
{
    KernelObject* object = threadObject(thread);
    if (object == nullptr)
        return false;
    const int nice = niceOfPriority(priority);
    uint32_t threadId = 0;
    int refused = 0;
    {
        std::lock_guard<std::mutex> guard(dispatcherLock());
        object->priority = priority;
        // Not yet signalled, the thread has not finished, so its id is still
        // its own while the lock is held.
        if (!object->signalled && object->threadId != 0) {
            threadId = object->threadId;
            refused = gNiceSetter.load()(threadId, nice);
        }
    }
    reportRefusal(refused, threadId, nice);
    return true;
}

bool getThreadPriority(Handle thread, int32_t* priority)
{
    KernelObject* object = threadObject(thread);
    if (object == nullptr || priority == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    *priority = object->priority;
    return true;
}

bool getThreadExitCode(Handle thread, uint32_t* code, bool* running)
{
    KernelObject* object = threadObject(thread);
    if (object == nullptr || code == nullptr || running == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    *running = !object->signalled;
    *code = object->signalled ? object->exitCode : 0;
    return true;
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return postThreadMessage(threadId, 0, message, wParam, lParam);
}

bool postThreadMessage(uint32_t threadId, uintptr_t target, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> guard(dispatcherLock());
    auto found = statesById().find(threadId);
    if (found == statesById().end())
        return false;
    ThreadState* state = found->second;
    try {
        state->messages.push_back({message, wParam, lParam, target});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (state->messageWaiter != nullptr)
        state->messageWaiter->wake.notify_one();
    return true;
}

bool peekThreadMessage(ThreadMessage* message, bool remove)
{
    return peekThreadMessage(message, remove, 0, 0, 0);
}

bool peekThreadMessage(ThreadMessage* message, bool remove, uint32_t first, uint32_t last, uintptr_t target)
{
    if (message == nullptr)
        return false;
    ThreadState* state = detail::threadState();
    if (state == nullptr)
        return false;
    const bool any = first == 0 && last == 0;
    std::lock_guard<std::mutex> guard(dispatcherLock());
    for (auto it = state->messages.begin(); it != state->messages.end(); ++it) {
        if ((!any && (it->message < first || it->message > last)) || (target != 0 && it->target != target))
            continue;
        *message = *it;
        if (remove)
            state->messages.erase(it);
        return true;
    }
    return false;
}

WaitResult waitForAnyOrMessage(const Handle* objects, uint32_t count, uint32_t milliseconds)
{
    return detail::wait(objects, count, milliseconds, false, true);
}

WaitResult waitForAllOrMessage(const Handle* objects, uint32_t count, uint32_t milliseconds)
{
    return detail::wait(objects, count, milliseconds, true, true);
}

bool addThreadExitCallback(ThreadExitCallback callback, int32_t order)
{
    if (callback == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(callbackLock());
    for (int i = 0; i < gExitCallbackCount; ++i) {
        if (gExitCallbacks[i].callback == callback)
            return true;
    }
    if (gExitCallbackCount == kMaxExitCallbacks)
        return false;
    // After every callback of the same or a lower order.
    int at = gExitCallbackCount;
    while (at > 0 && gExitCallbacks[at - 1].order > order) {
        gExitCallbacks[at] = gExitCallbacks[at - 1];
        --at;
    }
    gExitCallbacks[at] = {callback, order};
    ++gExitCallbackCount;
    return true;
}

void setThreadNiceSetter(ThreadNiceSetter setter) { gNiceSetter.store(setter ? setter : &setNiceBySystem); }

bool touchThread() { return detail::threadState() != nullptr; }

bool threadIsExiting()
{
    // After the exit work ran (thread_local destructors come later) the
    // thread must not be taken on again.
    if (tExitRan)
        return true;
    if (!exitKeyReady())
        return false;
    auto* state = static_cast<ThreadState*>(pthread_getspecific(gExitKey));
    return state != nullptr && state->exiting;
}

bool tlsAlloc(uint32_t* key)
{
    if (key == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(callbackLock());
    for (uint32_t slot = 0; slot < kMaxTlsSlots; ++slot) {
        if (gTlsGeneration[slot].load(std::memory_order_relaxed) == 0) {
            if (++gTlsLastGeneration == 0)
                ++gTlsLastGeneration;
            gTlsGeneration[slot].store(gTlsLastGeneration, std::memory_order_release);
            *key = slot;
            return true;
        }
    }
    return false;
}

bool tlsFree(uint32_t key)
{
    if (key >= kMaxTlsSlots)
        return false;
    std::lock_guard<std::mutex> guard(callbackLock());
    return gTlsGeneration[key].exchange(0, std::memory_order_acq_rel) != 0;
}

bool tlsGet(uint32_t key, void** value)
{
    if (value == nullptr)
        return false;
    uint32_t generation = tlsGeneration(key);
    if (generation == 0)
        return false;
    *value = nullptr;
    // Reading does not make a state: a thread that never set a slot has null.
    auto* state = exitKeyReady() ? static_cast<ThreadState*>(pthread_getspecific(gExitKey)) : nullptr;
    if (state != nullptr && key < state->tls.size() && state->tls[key].generation == generation)
        *value = state->tls[key].value;
    return true;
}

bool tlsSet(uint32_t key, void* value)
{
    uint32_t generation = tlsGeneration(key);
    if (generation == 0)
        return false;
    ThreadState* state = detail::threadState();
    if (state == nullptr)
        return false;
    if (key >= state->tls.size()) {
        if (value == nullptr)
            return true;
        try {
            state->tls.resize(key + 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    state->tls[key] = {generation, value};
    return true;
}

} // namespace plat
