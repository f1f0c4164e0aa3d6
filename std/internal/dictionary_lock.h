// The dictionary mutex held by a destructor, which may not throw: a stop
// request that breaks the wait is dropped and the wait taken again.
#pragma once
#include <cmath>

#include "std/strings.h"

class ccDictionaryReleaseLock {
public:
    ccDictionaryReleaseLock()
    {
        for (;;) {
            try {
                if (ccDictionaryMutex().lock(HUGE_VAL))
                    return;
            } catch (const cc_Resource::BrokenLock&) {
            }
        }
    }
    ccDictionaryReleaseLock(const ccDictionaryReleaseLock&) = delete;
    ccDictionaryReleaseLock& operator=(const ccDictionaryReleaseLock&) = delete;
    ~ccDictionaryReleaseLock() { ccDictionaryMutex().unlock(); }
};
