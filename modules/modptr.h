// One reference to a driver-module interface, given back on every path: a
// module call may fail and raise between the query and the release.
#pragma once
#include <cstdint>
#include <type_traits>
#include <utility>

#include "modules/ccicomponent.h"

template <class T>
class cc_ModPtr {
public:
    cc_ModPtr() = default;
    // Takes over a reference the caller already holds.
    explicit cc_ModPtr(T* object) : object_(object) {}
    ~cc_ModPtr() { reset(); }

    cc_ModPtr(cc_ModPtr&& other) noexcept : object_(other.detach()) {}
    cc_ModPtr& operator=(cc_ModPtr&& other) noexcept
    {
        if (this != &other)
            reset(other.detach());
        return *this;
    }
    cc_ModPtr(const cc_ModPtr&) = delete;
    cc_ModPtr& operator=(const cc_ModPtr&) = delete;

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Hands the reference to the caller.
    T* detach() { return std::exchange(object_, nullptr); }

    // Releases what is held and takes over object's reference.
    void reset(T* object = nullptr) noexcept
    {
        if (T* old = std::exchange(object_, object))
            old->release();
    }

    // The out slot of a call that hands out an interface: what was held is
    // released and the slot zeroed first, as the contract asks.
    ccIUnknown** put()
    {
        static_assert(std::is_same<T, ccIUnknown>::value, "out slots hold the plain interface");
        reset();
        return &object_;
    }

private:
    T* object_ = nullptr;
};

// What the module answers for id, as its interface type T (every module
// interface derives from ccIUnknown alone, so the pointer is unchanged);
// empty when it is not offered.
template <class T>
cc_ModPtr<T> ccModQuery(ccIUnknown* from, int32_t id)
{
    if (from == nullptr)
        return {};
    ccIUnknown* out = nullptr;
    // A status without an interface says the same as no interface.
    (void)from->query(&out, id);
    return cc_ModPtr<T>(static_cast<T*>(out));
}
