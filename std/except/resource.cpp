#include "std/except/resource.h"

#include <atomic>
#include <cmath>

#include "platform/clock.h"

namespace {
std::atomic<cc_Resource::StopSemaphoreSource> gStopSource{nullptr};
} // namespace

void cc_Resource::setStopSemaphoreSource(StopSemaphoreSource source)
{
    if (source != nullptr)
        gStopSource.store(source, std::memory_order_release);
}

cc_Resource::~cc_Resource()
{
    if (handle_ != nullptr)
        plat::closeHandle(handle_);
}

void cc_Resource::takeCreated(plat::Handle handle, plat::NameResult result, bool openExistingAllowed)
{
    handle_ = handle;
    switch (result) {
    case plat::NameResult::Created:
        createdNew_ = true;
        return;
    case plat::NameResult::Existed:
        createdNew_ = false;
        if (!openExistingAllowed)
            throw NamedObjectExists();
        return;
    case plat::NameResult::OtherKind:
        throw NameConflict();
    case plat::NameResult::Failed:
        break;
    }
    throw CreateFailed();
}

uint32_t ccLockMilliseconds(double seconds)
{
    if (seconds == HUGE_VAL)
        return plat::kInfiniteWait;
    if (!(seconds > 0)) // zero, negative or NaN
        return 0;
    const double ms = seconds * 1000.0;
    // Converting a value past the range of the count would be undefined.
    const double longest = static_cast<double>(plat::kInfiniteWait - 1);
    if (ms >= longest)
        return plat::kInfiniteWait - 1;
    const uint32_t whole = static_cast<uint32_t>(ms);
    return whole == 0 ? 1 : whole;
}

bool cc_Resource::waitLock(double seconds)
{
    const uint32_t ms = ccLockMilliseconds(seconds);
    const StopSemaphoreSource source = gStopSource.load(std::memory_order_acquire);
    plat::Handle stop = source != nullptr ? source() : nullptr;
    plat::WaitResult woken;
    if (stop != nullptr) {
        plat::Handle objects[2] = {stop, handle_};
        woken = plat::waitForAny(objects, 2, ms);
        if (woken.status == plat::WaitStatus::Signalled && woken.index == 0)
            throw BrokenLock();
        return woken.status != plat::WaitStatus::TimedOut && woken.status != plat::WaitStatus::Failed;
    }
    // A thread in its exit work after its record has gone has nothing to stop.
    woken = plat::waitFor(handle_, ms);
    return woken.status == plat::WaitStatus::Signalled || woken.status == plat::WaitStatus::Abandoned;
}

ccMutex::ccMutex(bool initiallyOwned, const std::wstring& name, bool openExistingAllowed)
{
    plat::NameResult result = plat::NameResult::Failed;
    plat::Handle made = plat::createMutex(initiallyOwned, name, &result);
    takeCreated(made, result, openExistingAllowed);
}

bool ccMutex::lock(double seconds) { return waitLock(seconds); }

void ccMutex::unlock() { plat::releaseMutex(handle_); }

ccSemaphore::ccSemaphore(int32_t initialCount, int32_t maximumCount, const std::wstring& name,
                         bool openExistingAllowed)
{
    plat::NameResult result = plat::NameResult::Failed;
    plat::Handle made = plat::createSemaphore(initialCount, maximumCount, name, &result);
    takeCreated(made, result, openExistingAllowed);
}

ccSemaphore::ccSemaphore(plat::Handle semaphore)
{
    handle_ = plat::duplicateHandle(semaphore);
    if (handle_ == nullptr)
        throw CreateFailed();
}

bool ccSemaphore::lock(double seconds) { return waitLock(seconds); }

void ccSemaphore::unlock() { plat::releaseSemaphore(handle_, 1, nullptr); }

ccEvent::ccEvent(bool manualReset, bool initiallySet, const std::wstring& name, bool openExistingAllowed)
{
    plat::NameResult result = plat::NameResult::Failed;
    plat::Handle made = plat::createEvent(manualReset, initiallySet, name, &result);
    takeCreated(made, result, openExistingAllowed);
}

bool ccEvent::lock(double seconds) { return waitLock(seconds); }

void ccEvent::unlock() { set(); }

bool ccEvent::set() { return plat::setEvent(handle_); }

void ccCriticalSection::lock()
{
    for (uint32_t i = 0; i < spinCount_; ++i) {
        if (section_.tryEnter())
            return;
        __builtin_ia32_pause();
    }
    section_.enter();
}

void ccCriticalSection::unlock() { section_.leave(); }

ccResourceLock::ccResourceLock(cc_Resource& resource, bool lockNow) : resource_(&resource)
{
    if (lockNow && resource_->lock(HUGE_VAL))
        count_ = 1;
}

ccResourceLock::~ccResourceLock()
{
    while (count_ > 0)
        unlock();
}

void ccResourceLock::unlock()
{
    if (count_ == 0)
        return;
    resource_->unlock();
    --count_;
}

ccMutex& ccLibraryMutex()
{
    // Never destroyed: late releases at process exit still find it.
    static ccMutex* mutex = new ccMutex();
    return *mutex;
}
