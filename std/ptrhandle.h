// Reference-counted handles to shared library objects.
//
// A representation derives from ccRepBase (directly, beside other bases, or
// virtually) and starts with count 0; every handle that holds it owns one
// count, and the handle that brings the count back to 0 deletes it, on
// whichever thread that happens. A mutable handle is a const handle, so it
// binds to one without a count change; a handle to a derived class converts
// to a handle to its base and shares the same count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "std/except/except.h"
#include "system/csys_memory.h"

class ccRepBase {
public:
    ccRepBase() = default;
    // A copy is a new object: no handle holds it yet.
    ccRepBase(const ccRepBase&) {}
    ccRepBase& operator=(const ccRepBase&) { return *this; }
    virtual ~ccRepBase() = default;

    // Return the new count; neither deletes.
    int32_t addRef()
    {
        int32_t n = 0;
        (void)csys_atomicIncrement(&count_, &n); // always 0
        return n;
    }
    int32_t release()
    {
        int32_t n = 0;
        (void)csys_atomicDecrement(&count_, &n); // always 0
        return n;
    }
    int32_t refCount() const { return __atomic_load_n(&count_, __ATOMIC_ACQUIRE); }

private:
    int32_t count_ = 0;
};

// How a handle takes and lets go of its reference. A family whose last
// release does more than delete declares both for its own base class; the
// closer base wins overload resolution.
inline void ccRepAcquire(ccRepBase* rep) { rep->addRef(); }
inline void ccRepDrop(ccRepBase* rep) noexcept
{
    if (rep->release() == 0)
        delete rep;
}

template <class T>
class ccPtrHandle_const {
public:
    ccPtrHandle_const() = default;
    ccPtrHandle_const(std::nullptr_t) {}
    ccPtrHandle_const(const T* object) : rep_(const_cast<T*>(object)) { acquire(rep_); }
    ccPtrHandle_const(const ccPtrHandle_const& other) : rep_(other.rep_) { acquire(rep_); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ccPtrHandle_const(const ccPtrHandle_const<U>& other) : rep_(const_cast<U*>(other.rawPointer()))
    {
        acquire(rep_);
    }
    virtual ~ccPtrHandle_const() { drop(rep_); }

    ccPtrHandle_const& operator=(const ccPtrHandle_const& other)
    {
        assign(other.rep_);
        return *this;
    }
    ccPtrHandle_const& operator=(const T* object)
    {
        assign(const_cast<T*>(object));
        return *this;
    }

    const T* operator->() const { return &checked(); }
    const T& operator*() const { return checked(); }

    // The null test: the handle itself when it holds an object.
    operator const void*() const { return rep_ ? this : nullptr; }

    // The object or null, without the empty check.
    const T* rawPointer() const { return rep_; }

protected:
    T& checked() const
    {
        if (!rep_)
            throw ccBadPointer();
        return *rep_;
    }

    // The new object is referenced before the old one is let go, so an object
    // kept alive only by the old one survives the assignment.
    void assign(T* object)
    {
        if (object == rep_)
            return;
        acquire(object);
        T* old = rep_;
        rep_ = object;
        drop(old);
    }

    static void acquire(T* object)
    {
        if (object)
            ccRepAcquire(object);
    }
    static void drop(T* object)
    {
        if (object)
            ccRepDrop(object);
    }

    T* rep_ = nullptr;
};

template <class T>
class ccPtrHandle : public ccPtrHandle_const<T> {
    using Base = ccPtrHandle_const<T>;

public:
    ccPtrHandle() = default;
    ccPtrHandle(std::nullptr_t) {}
    ccPtrHandle(T* object) : Base(object) {}
    ccPtrHandle(const ccPtrHandle& other) : Base(other) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ccPtrHandle(const ccPtrHandle<U>& other) : Base(other.rawPointer())
    {
    }

    ccPtrHandle& operator=(const ccPtrHandle& other)
    {
        this->assign(other.rep_);
        return *this;
    }
    ccPtrHandle& operator=(T* object)
    {
        this->assign(object);
        return *this;
    }

    T* operator->() const { return &this->checked(); }
    T& operator*() const { return this->checked(); }
    T* rawPointer() const { return this->rep_; }
};
