// Small helpers shared by the system layer's sources; not part of its API.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/sync.h"
#include "system/csys_status.h"

namespace csys_detail {

[[nodiscard]] inline csysStatus firstFailure(csysStatus kept, csysStatus next) { return kept < 0 ? kept : next; }

inline plat::Handle platHandle(void* handle) { return static_cast<plat::Handle>(handle); }

// A process-wide object made at first need and never destroyed. The caller
// that moves the state from none to creating makes it; the others sleep 5 ms
// at a time until it is ready. A failed creation goes back to none so that
// the next caller tries again rather than everyone polling for an object
// that never comes.
enum : int32_t { kLazyNone, kLazyCreating, kLazyReady };

[[nodiscard]] inline csysStatus lazyCreate(std::atomic<int32_t>& state, csysStatus (*create)())
{
    for (;;) {
        int32_t seen = state.load(std::memory_order_acquire);
        if (seen == kLazyReady)
            return csysOk;
        if (seen == kLazyCreating) {
            plat::sleepMilliseconds(5);
            continue;
        }
        if (!state.compare_exchange_strong(seen, kLazyCreating, std::memory_order_acq_rel))
            continue;
        csysStatus status = create();
        state.store(status < 0 ? kLazyNone : kLazyReady, std::memory_order_release);
        return status < 0 ? status : csysOk;
    }
}

} // namespace csys_detail
