#include "std/threadid.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "std/except/status.h"
#include "system/csys_shutdown.h"

namespace {

std::atomic<bool> gShuttingDown{false};

// The platform priorities that the levels 0..6 stand for.
constexpr int32_t kPriorities[7] = {-15, -2, -1, 0, 1, 2, 15};

int32_t levelOfPriority(int32_t priority)
{
    for (int32_t level = 0; level < 7; ++level) {
        if (kPriorities[level] == priority)
            return level;
    }
    return 6;
}

// ---- the thread-local slot: each thread's record, not counted ----

void onThreadExit();

// Made at the first use and never freed: a lock taken late in process exit
// still finds it. The exit-hook callback is registered with it, so that
// every thread that ever has a record has its handlers run when it leaves.
uint32_t slotKey()
{
    static const uint32_t key = [] {
        uint32_t made = 0;
        if (!plat::tlsAlloc(&made))
            throw ccThreadID::CreateFailed();
        if (!plat::addThreadExitCallback(&onThreadExit, plat::kThreadExitOrderLibrary)) {
            plat::tlsFree(made);
            throw ccThreadID::CreateFailed();
        }
        // From now on a thread can be asked to stop, so waits watch for it.
        cc_Resource::setStopSemaphoreSource(&ccThreadID::currentStopSemaphore);
        return made;
    }();
    return key;
}

cc_Thread* slotRecord(uint32_t key)
{
    void* value = nullptr;
    plat::tlsGet(key, &value);
    return static_cast<cc_Thread*>(value);
}

// ---- the registry of started threads and the list of adopted ones ----

struct Registry {
    std::mutex lock;
    std::vector<ccThreadID> threads;
};

Registry& registry()
{
    static auto* made = new Registry; // never destroyed
    return *made;
}

struct ForeignList {
    std::mutex lock;
    std::vector<ccThreadID> threads;
    ccThreadID first; // the first thread adopted stays here, without a handler
    bool firstTaken = false;
};

ForeignList& foreignList()
{
    static auto* made = new ForeignList; // never destroyed
    return *made;
}

// The exit handler of adopted threads. The list held the record for the
// thread's slot, so the slot goes too: a thread that runs its handlers and
// carries on is adopted again at its next wait.
void leaveForeignList(const ccThreadID& thread, void*)
{
    std::vector<ccThreadID> gone; // let go outside the lock
    ForeignList& list = foreignList();
    {
        std::lock_guard<std::mutex> guard(list.lock);
        auto kept = std::stable_partition(list.threads.begin(), list.threads.end(),
                                          [&](const ccThreadID& entry) { return entry != thread; });
        std::move(kept, list.threads.end(), std::back_inserter(gone));
        list.threads.erase(kept, list.threads.end());
    }
    const uint32_t key = slotKey();
    if (slotRecord(key) == thread.rawPointer())
        plat::tlsSet(key, nullptr);
}

// ---- reporting what ended a thread, as the event log would ----

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

// Inside a handler: one line on stderr naming the escaped exception.
void reportEscaped(const char* where)
{
    std::string what;
    try {
        throw;
    } catch (const ccException& e) {
        what = narrow(e.message(true));
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "an exception of unknown type";
    }
    std::fprintf(stderr, "qorx7320: thread %u: %s ended by %s\n", static_cast<unsigned>(plat::currentThreadId()), where,
                 what.c_str());
}

// ---- exit handlers ----

void dropHandler(cc_Thread* record, int32_t index)
{
    // Handlers added by the one that ran sit above it and run next.
    for (int32_t i = index + 1; i < record->exitHandlerCount; ++i)
        record->exitHandlers[i - 1] = record->exitHandlers[i];
    --record->exitHandlerCount;
}

// With propagate clear, a handler that throws is reported and dropped, and
// the run goes on: used where nobody could catch (thread entry, exit hook).
void runHandlers(const ccThreadID& thread, bool propagate)
{
    cc_Thread* record = thread.rawPointer();
    while (record->exitHandlerCount > 0) {
        const int32_t index = record->exitHandlerCount - 1;
        const cc_Thread::ExitHandler handler = record->exitHandlers[index];
        if (handler.function != nullptr) {
            if (propagate) {
                handler.function(thread, handler.argument);
            } else {
                try {
                    handler.function(thread, handler.argument);
                } catch (const abi::__forced_unwind&) {
                    throw;
                } catch (...) {
                    reportEscaped("an exit handler");
                }
            }
        }
        dropHandler(record, index);
    }
}

// The platform's thread-exit hook, before the system layer detaches the
// thread. Started threads have run their handlers and cleared the slot.
void onThreadExit()
{
    try {
        const uint32_t key = slotKey();
        cc_Thread* record = slotRecord(key);
        if (record == nullptr)
            return;
        // A counted reference for the whole run: leaving the foreign list may
        // drop every other one.
        ccThreadID hold(record);
        runHandlers(hold, false);
        plat::tlsSet(key, nullptr);
    } catch (...) {
        // Nothing may leave the hook.
    }
}

ccThreadID adoptCurrentThread(uint32_t key)
{
    ccThreadID thread(new cc_Thread);
    thread->threadHandle = plat::currentThreadHandle();
    thread->threadId = plat::currentThreadId();

    ForeignList& list = foreignList();
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(list.lock);
        if (!list.firstTaken) {
            list.first = thread;
            list.firstTaken = true;
            first = true;
        } else {
            list.threads.push_back(thread);
        }
    }
    if (!plat::tlsSet(key, thread.rawPointer())) {
        if (first) {
            std::lock_guard<std::mutex> guard(list.lock);
            list.first = ccThreadID();
            list.firstTaken = false;
        } else {
            leaveForeignList(thread, nullptr);
        }
        throw ccThreadID::CreateFailed();
    }
    if (!first)
        thread.addExitHandler(&leaveForeignList, nullptr);
    return thread;
}

// ---- the entry of started threads ----

// What a started thread does on its way out, however its function ended.
class Leaving {
public:
    Leaving(cc_Thread* record, uint32_t key) : self_(record), key_(key) {}
    Leaving(const Leaving&) = delete;
    Leaving& operator=(const Leaving&) = delete;

    ~Leaving()
    {
        // A stop request the function never waited for (it returned on the
        // quit message) has done its job; left pending it would break the
        // first lock an exit handler takes.
        plat::waitFor(self_->stopSemaphore, 0);
        try {
            runHandlers(self_, false);
            csysStatus status = csys_threadDetach();
            if (status < 0)
                std::fprintf(stderr, "qorx7320: thread %u: detach failed with status 0x%08X\n",
                             static_cast<unsigned>(plat::currentThreadId()), static_cast<unsigned>(status));
            ccThreadRegistry::remove(self_);
        } catch (...) {
            reportEscaped("leaving");
        }
        plat::tlsSet(key_, nullptr);
        // Joiners pass once the done semaphore is released, and the record
        // may go with the last reference: release through a reference of our
        // own.
        plat::Handle done = plat::duplicateHandle(self_->doneSemaphore.handle());
        self_ = ccThreadID();
        plat::releaseSemaphore(done, 1, nullptr);
        plat::closeHandle(done);
    }

private:
    ccThreadID self_;
    uint32_t key_;
};

uint32_t threadEntry(void* parameter)
{
    auto* record = static_cast<cc_Thread*>(parameter);
    uint32_t key = 0;
    {
        // Start holds the registry lock until the handle and id are stored.
        std::lock_guard<std::mutex> gate(registry().lock);
        key = slotKey(); // made by start: does not throw here
    }
    Leaving leaving(record, key);
    record->release(); // start's reference for this thread: Leaving holds one now
    if (!plat::tlsSet(key, record))
        return 0;
    record->startSemaphore.unlock();
    if (plat::Handle self = plat::currentThreadHandle()) {
        plat::setThreadPriority(self, kPriorities[record->priorityLevel]);
        plat::closeHandle(self);
    }
    try {
        record->function(record->argument);
    } catch (const abi::__forced_unwind&) {
        throw; // pthread_exit: Leaving still runs
    } catch (const cc_Resource::BrokenLock&) {
        // Stopped.
    } catch (const ccException&) {
        // A library error ends the thread quietly.
    } catch (...) {
        reportEscaped("its function");
    }
    return 0;
}

} // namespace

cc_Thread::cc_Thread() : stopSemaphore(plat::createSemaphore(0, 1))
{
    if (stopSemaphore == nullptr)
        throw cc_Resource::CreateFailed();
}

cc_Thread::~cc_Thread()
{
    plat::closeHandle(stopSemaphore);
    if (threadHandle != nullptr)
        plat::closeHandle(threadHandle);
}

ccThreadID ccThreadID::start(ccThreadFunction function, void* argument, int32_t level, int32_t stackSize)
{
    if (gShuttingDown.load() || function == nullptr)
        throw CreateFailed();
    slotKey(); // before the thread needs it
    ccThreadID thread(new cc_Thread);
    thread->function = function;
    thread->argument = argument;
    thread->priorityLevel = level == -1 ? priorityLevel() : std::clamp(level, 0, 6);

    Registry& list = registry();
    std::lock_guard<std::mutex> guard(list.lock);
    // Checked again under the lock: stop-all sets the flag before it takes
    // its copy of the list, so a thread is either refused or stopped.
    if (gShuttingDown.load())
        throw CreateFailed();
    list.threads.push_back(thread);
    thread->addRef(); // the new thread's own, taken over by its entry
    uint32_t id = 0;
    plat::Handle handle =
        plat::createThread(&threadEntry, thread.rawPointer(), &id, stackSize > 0 ? static_cast<size_t>(stackSize) : 0);
    if (handle == nullptr) {
        thread->release();
        list.threads.pop_back();
        throw CreateFailed();
    }
    thread->threadHandle = handle;
    thread->threadId = id;
    return thread;
}

ccThreadID ccThreadID::current()
{
    const uint32_t key = slotKey();
    if (cc_Thread* record = slotRecord(key))
        return ccThreadID(record);
    if (plat::threadIsExiting()) {
        // Leaving, with its record gone: an identity that nothing lists.
        ccThreadID passing(new cc_Thread);
        passing->threadId = plat::currentThreadId();
        return passing;
    }
    return adoptCurrentThread(key);
}

plat::Handle ccThreadID::currentStopSemaphore()
{
    const uint32_t key = slotKey();
    if (cc_Thread* record = slotRecord(key))
        return record->stopSemaphore;
    if (plat::threadIsExiting())
        return nullptr;
    // The record stays alive in the foreign list.
    return adoptCurrentThread(key)->stopSemaphore;
}

void ccThreadID::addExitHandler(ccThreadExitHandler function, void* argument) const
{
    cc_Thread& record = checked();
    // The table belongs to its thread: another thread's write would race
    // with the handlers running at exit.
    if (record.threadId != plat::currentThreadId() || record.exitHandlerCount >= cc_Thread::kMaxExitHandlers)
        throw CouldNotRegister();
    record.exitHandlers[record.exitHandlerCount] = {function, argument};
    ++record.exitHandlerCount;
}

void ccThreadID::runExitHandlers()
{
    if (cc_Thread* record = slotRecord(slotKey())) {
        ccThreadID hold(record);
        runHandlers(hold, true);
    }
    ccThrowStatus(csys_threadDetach());
}

void ccThreadID::detachCurrentThread()
{
    const uint32_t key = slotKey();
    ccThreadID self(slotRecord(key));
    auto finish = [&] {
        if (self)
            ccThreadRegistry::remove(self);
        plat::tlsSet(key, nullptr);
    };
    try {
        runExitHandlers();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void ccThreadID::join() const
{
    const cc_Thread* record = rawPointer();
    if (record == nullptr || record->threadHandle == nullptr)
        return;
    // Joining itself would never return.
    if (record->threadId == plat::currentThreadId())
        return;
    plat::Handle objects[2] = {record->doneSemaphore.handle(), record->threadHandle};
    plat::WaitResult woken = plat::waitForAny(objects, 2, plat::kInfiniteWait);
    if (woken.status == plat::WaitStatus::Signalled && woken.index == 0)
        plat::releaseSemaphore(objects[0], 1, nullptr); // for the other joiners
    plat::waitFor(record->threadHandle, 200);
}

int32_t ccThreadID::priorityLevel()
{
    int32_t priority = 0;
    if (plat::Handle self = plat::currentThreadHandle()) {
        plat::getThreadPriority(self, &priority);
        plat::closeHandle(self);
    }
    return levelOfPriority(priority);
}

void ccThreadRegistry::add(const ccThreadID& thread)
{
    Registry& list = registry();
    std::lock_guard<std::mutex> guard(list.lock);
    list.threads.push_back(thread);
}

bool ccThreadRegistry::remove(const ccThreadID& thread)
{
    ccThreadID gone; // let go outside the lock
    Registry& list = registry();
    std::lock_guard<std::mutex> guard(list.lock);
    auto found = std::find(list.threads.begin(), list.threads.end(), thread);
    if (found == list.threads.end())
        return false;
    gone = *found;
    list.threads.erase(found);
    return true;
}

void ccThreadRegistry::stopAll()
{
    std::vector<ccThreadID> copy;
    {
        Registry& list = registry();
        std::lock_guard<std::mutex> guard(list.lock);
        copy = list.threads;
    }
    while (!copy.empty()) {
        const ccThreadID& thread = copy.back();
        plat::releaseSemaphore(thread->stopSemaphore, 1, nullptr);
        plat::postThreadMessage(thread->threadId, plat::kQuitMessage, 0, 0);
        thread.join();
        copy.pop_back();
    }
}

void ccStopAllThreads()
{
    gShuttingDown.store(true);
    ccThreadRegistry::stopAll();
}
