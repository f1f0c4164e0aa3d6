#pragma once
// The root of every COM class of the module: free-threaded, its reference
// count atomic and never waiting on the object's lock, ISupportErrorInfo for
// every interface, and the free-threaded marshaler made at the first query
// for IMarshal.
//
//   class Thing : public ccComObjectRoot<ccComFreeThreadModel>, public IThing {
//    public:
//     CC_COM_COMPANION_COUNTING(companion_)   // only for a class with a .NET companion
//     BEGIN_COM_MAP(Thing)
//       COM_INTERFACE_ENTRY(IThing)
//       COM_INTERFACE_ENTRY(ISupportErrorInfo)
//       CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
//     END_COM_MAP()
//   };

#include "comframe/threadlock.h"
#include "platform/com/errorinfo.h"
#include "platform/com/object.h"

#include <atomic>
#include <mutex>

struct ccComFreeThreadModel {
    using AutoCriticalSection = ccThreadOwnerLock;
    using CriticalSection = ccThreadOwnerLock;
    static ULONG Increment(ULONG* count) { return __atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST); }
    static ULONG Decrement(ULONG* count) { return __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST); }
};

namespace cc_comframe {
// Reports a companion that could not change strength; the count change stays.
void dropCompanionFailure() noexcept;
} // namespace cc_comframe

template <class ThreadModel> class ccComObjectRoot;
template <class T, const IID* DIID> class ccConnectionPointImpl; // comframe/connpoint.h

template <>
class ccComObjectRoot<ccComFreeThreadModel> : public CComObjectRootEx<ccComFreeThreadModel>,
                                                public ISupportErrorInfo {
public:
    ccComObjectRoot() = default;
    ~ccComObjectRoot()
    {
        if (IUnknown* marshaler = marshaler_.load(std::memory_order_acquire)) marshaler->Release();
    }
    ccComObjectRoot(const ccComObjectRoot&) = delete;
    ccComObjectRoot& operator=(const ccComObjectRoot&) = delete;

    ULONG InternalAddRef() { return addRefWith(static_cast<NoCompanion*>(nullptr)); }
    ULONG InternalRelease() { return releaseWith(static_cast<NoCompanion*>(nullptr)); }

    HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

    // The free-threaded connection point, under the name its users know.
    template <class T, const IID* DIID> using ConnectionPointImpl = ccConnectionPointImpl<T, DIID>;

    ccThreadOwnerLock& ownerLock() { return lock_; }
    IUnknown* outerUnknown() const { return m_pOuterUnknown; }
    void Lock() { lock_.lock(true); }
    void Unlock() { lock_.unlock(); }

    // The count change with a .NET companion (anything with setStrong(bool)):
    // strong from 1 to 2 references, weak from 2 to 1. A companion that fails
    // clears itself; the failure is dropped, since AddRef and Release cannot
    // fail and are called from destructors.
    //
    // The count is atomic and the object's lock is never taken, so an object
    // can be counted while another thread holds its lock. A change that
    // stays at 2 or above is one compare-exchange; a change from or to 1
    // (the only ones that switch the companion) is made under strength_, a
    // lock of the counting alone, so that the bridge sees the switches in
    // the order of the count.
    template <class Companion> ULONG addRefWith(Companion* companion)
    {
        if (!companion) return ccComFreeThreadModel::Increment(&m_dwRef);
        for (ULONG seen = __atomic_load_n(&m_dwRef, __ATOMIC_RELAXED); seen >= 2;)
            if (__atomic_compare_exchange_n(&m_dwRef, &seen, seen + 1, true, __ATOMIC_SEQ_CST, __ATOMIC_RELAXED))
                return seen + 1;
        std::lock_guard<std::mutex> guard(strength_);
        const ULONG count = ccComFreeThreadModel::Increment(&m_dwRef);
        if (count == 2) setStrength(companion, true);
        return count;
    }
    template <class Companion> ULONG releaseWith(Companion* companion)
    {
        if (!companion) return ccComFreeThreadModel::Decrement(&m_dwRef);
        for (ULONG seen = __atomic_load_n(&m_dwRef, __ATOMIC_RELAXED); seen >= 3;)
            if (__atomic_compare_exchange_n(&m_dwRef, &seen, seen - 1, true, __ATOMIC_SEQ_CST, __ATOMIC_RELAXED))
                return seen - 1;
        std::lock_guard<std::mutex> guard(strength_);
        const ULONG count = ccComFreeThreadModel::Decrement(&m_dwRef);
        if (count == 1) setStrength(companion, false);
        return count;
    }

    // IMarshal through the free-threaded marshaler, made once even when
    // several threads ask at once; E_NOINTERFACE when it cannot be made.
    HRESULT queryMarshaler(IUnknown* controlling, REFIID iid, void** ppv);

private:
    struct NoCompanion {
        void setStrong(bool) { }
    };
    template <class Companion> static void setStrength(Companion* companion, bool strong) noexcept
    {
        try {
            companion->setStrong(strong);
        } catch (...) {
            cc_comframe::dropCompanionFailure();
        }
    }

    ccThreadOwnerLock lock_;
    std::mutex strength_; // the companion's switches; nothing else is called under it
    std::atomic<IUnknown*> marshaler_{nullptr};
};

namespace cc_comframe {
template <class T> HRESULT queryFreeThreadedMarshaler(void* self, REFIID iid, void** ppv)
{
    T* object = static_cast<T*>(self);
    IUnknown* controlling = object->outerUnknown() ? object->outerUnknown() : object->GetUnknown();
    return object->queryMarshaler(controlling, iid, ppv);
}
} // namespace cc_comframe

#define CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()                                                             \
    {&IID_IMarshal, nullptr, &::cc_comframe::queryFreeThreadedMarshaler<ComMapClass>},

// Counting that keeps the companion record `member` strong or weak.
#define CC_COM_COMPANION_COUNTING(member)                                                                              \
    ULONG InternalAddRef() { return this->addRefWith(&member); }                                                      \
    ULONG InternalRelease() { return this->releaseWith(&member); }
