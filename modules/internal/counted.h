// The reference counting of objects the library hands to the module.
#pragma once
#include <atomic>
#include <cstdint>

#include "modules/ccicomponent.h"

// An object the library hands to the module and the module may keep: one
// count for the library (taken at creation), one for each reference the
// module adds.
template <class Interface>
class cc_CountedObject : public Interface {
public:
    int32_t query(ccIUnknown** out, int32_t id) override
    {
        if (out == nullptr)
            return 1;
        *out = nullptr;
        if (id != 0)
            return 1;
        addRef();
        *out = this;
        return 0;
    }
    uint32_t addRef() override { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t release() override
    {
        const uint32_t left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            destroy();
        return left;
    }

protected:
    virtual void destroy() = 0;

private:
    std::atomic<uint32_t> count_{1};
};
