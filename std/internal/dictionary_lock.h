// The dictionary mutex held by a destructor, which may not throw. A stop
// request that breaks the wait is handed back to the thread once the mutex
// is held, so that its next wait still stops it; any other failure leaves
// the destructor without the lock rather than ending the process.
#pragma once
#include <cmath>

#include "platform/sync.h"
#include "std/dictionary.h"
#include "std/threadid.h"

class ccDictionaryReleaseLock {
public:
    ccDictionaryReleaseLock() noexcept
    {
        bool stopped = false;
        for (int attempt = 0; attempt < 2 && !held_; ++attempt) {
            try {
                held_ = ccDictionaryMutex().lock(HUGE_VAL);
            } catch (const cc_Resource::BrokenLock&) {
                stopped = true;
            } catch (...) {
                break;
            }
        }
        if (stopped) {
            try {
                if (plat::Handle stop = ccThreadID::currentStopSemaphore())
                    (void)plat::releaseSemaphore(stop, 1, nullptr);
            } catch (...) {
            }
        }
    }
    ccDictionaryReleaseLock(const ccDictionaryReleaseLock&) = delete;
    ccDictionaryReleaseLock& operator=(const ccDictionaryReleaseLock&) = delete;
    ~ccDictionaryReleaseLock()
    {
        if (held_)
            ccDictionaryMutex().unlock();
    }

private:
    bool held_ = false;
};
