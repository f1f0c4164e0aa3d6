#include "std/dispatcher.h"

#include <cxxabi.h>

#include <atomic>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/sync.h"
#include "std/strings.h"

namespace {

// A listed registration, counted so that a pass keeps alive every one it set out to call.
struct Entry : ccRepBase {
    explicit Entry(const ccCallbackDispatcher::Registration& listed) : registration(listed) {}
    ccCallbackDispatcher::Registration registration;
    bool removed = false; // under the dispatcher's mutex
};

// Inside a handler: one event-log line naming the exception. A stop request or a cancellation goes on ending the
// thread.
void logEscaped(const wchar_t* where)
{
    std::wstring what;
    try {
        throw;
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (const cc_Resource::BrokenLock&) {
        throw;
    } catch (const ccException& e) {
        what = e.message(true);
    } catch (const std::exception& e) {
        what = ccWideFromNarrow(e.what());
    } catch (...) {
        what = L"an exception of unknown type";
    }
    plat::reportEvent(L"Qoralt", where + what);
}

} // namespace

// Everything the thread touches. The thread holds a reference of its own, so a dispatcher destroyed by one of its
// callbacks leaves the thread a live state to finish with.
class ccCallbackDispatcher::State : public ccRepBase {
public:
    explicit State(ccCallbackDispatcherOwner* lineOwner) : owner(lineOwner) {}
    ~State() override
    {
        while (!entries.empty())
            entries.pop_back(); // last added first
    }

    static void run(void* argument);
    void pass();

    std::vector<ccPtrHandle<Entry>> entries;
    ccMutex mutex{true}; // the constructing thread's until the thread runs
    std::atomic<bool> stop{false};
    ccEvent started{true, false};
    ccSemaphore wake{0, 0x7FFFFFFF};
    ccCallbackDispatcherOwner* owner;
};

void ccCallbackDispatcher::State::run(void* argument)
{
    // The constructor keeps the state alive until the started event is set.
    ccPtrHandle<State> self(static_cast<State*>(argument));
    if (!self->started.set())
        return;
    while (self->wake.lock(HUGE_VAL) && !self->stop.load()) {
        bool enabled = false;
        try {
            enabled = self->owner->isLineEnabled();
        } catch (...) {
            logEscaped(L"Can't read the state of an input line: ");
        }
        if (enabled)
            self->pass();
    }
}

void ccCallbackDispatcher::State::pass()
{
    ccResourceLock held(mutex);
    // Callbacks may add and remove on this thread: walk a copy and skip what was removed meanwhile.
    const std::vector<ccPtrHandle<Entry>> listed = entries;
    for (const ccPtrHandle<Entry>& entry : listed) {
        if (stop.load())
            break;
        if (entry->removed)
            continue;
        try {
            const Registration& registration = entry->registration;
            (*registration.callback)(registration.argument);
        } catch (...) {
            logEscaped(L"A line-change callback failed: ");
        }
    }
}

ccCallbackDispatcher::ccCallbackDispatcher(int32_t priorityLevel, ccCallbackDispatcherOwner* owner)
    : state_(new State(owner))
{
    ccThreadID::operator=(ccThreadID::start(&State::run, state_.rawPointer(), priorityLevel));
    const plat::Handle objects[2] = {state_->started.handle(), rawPointer()->threadHandle};
    const plat::WaitResult woken = plat::waitForAny(objects, 2, plat::kInfiniteWait);
    if (woken.status != plat::WaitStatus::Signalled || woken.index != 0) {
        // Ended before it ran, or could not be watched: no dispatcher, and no thread left behind.
        state_->stop.store(true);
        state_->wake.unlock();
        join();
        throw ccThreadID::CreateFailed();
    }
    // No pass can start before this: the mutex was the constructor's.
    state_->mutex.unlock();
}

ccCallbackDispatcher::~ccCallbackDispatcher()
{
    state_->stop.store(true);
    state_->wake.unlock();
    const ccThreadID thread = *this;
    ccThreadID::operator=(ccThreadID());
    // From one of its own callbacks this returns at once: the thread lets go of the state after that call.
    thread.join();
}

void ccCallbackDispatcher::add(const Registration& registration)
{
    ccResourceLock held(state_->mutex);
    state_->entries.push_back(ccPtrHandle<Entry>(new Entry(registration)));
}

void ccCallbackDispatcher::remove(const Registration& registration)
{
    ccPtrHandle<Entry> gone; // its callback object is let go after the mutex
    ccResourceLock held(state_->mutex);
    std::vector<ccPtrHandle<Entry>>& entries = state_->entries;
    for (auto it = entries.begin(); it != entries.end() && !state_->stop.load(); ++it) {
        const Registration& listed = (*it)->registration;
        if (listed.callback.rawPointer() == registration.callback.rawPointer() &&
            listed.argument == registration.argument) {
            (*it)->removed = true;
            gone = *it;
            entries.erase(it);
            return;
        }
    }
}

ccSemaphore& ccCallbackDispatcher::wakeSemaphore() { return state_->wake; }
