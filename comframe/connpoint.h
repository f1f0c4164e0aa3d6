#pragma once
// Connection points that any thread may call. Each sink is kept agile, so
// that the event thread can call a sink another apartment connected.
//
//   class Thing : public ccComObjectRoot<ccComFreeThreadModel>,
//                 public ccConnectionPointContainerImpl<Thing>, ... {
//     ccConnectionPointImpl<Thing, &DIID_IThingEvents> events_{this};
//     IConnectionPoint* connectionPointAt(size_t i) { return i == 0 ? &events_ : nullptr; }
//   };
//
// A point lives inside its object and counts with it. Cookies are the
// 1-based places of the sinks; a freed place keeps its number and is the
// first one the next Advise takes, so cookies never move.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "comframe/agile.h"
#include "comframe/threadlock.h"
#include "platform/com/connection.h"

// The sinks connected at one moment, each as IDispatch (event interfaces
// are dispinterfaces) usable on the thread that took them; released with
// the list.
class ccSinkList {
public:
    ccSinkList() = default;
    ~ccSinkList();
    ccSinkList(const ccSinkList&) = delete;
    ccSinkList& operator=(const ccSinkList&) = delete;

    size_t size() const { return sinks_.size(); }
    IDispatch* operator[](size_t i) const { return sinks_[i]; }
    void add(IDispatch* sink) { sinks_.push_back(sink); } // takes the reference
    // Calls each sink's method id with args, given in the order a caller
    // writes them; what a sink answers is not looked at.
    void invokeAll(DISPID id, int32_t count, const VARIANT* args) const;

private:
    std::vector<IDispatch*> sinks_;
};

// The sink array of one point, under the point's own lock (pumping). The
// lock is held only to change or read the array: sinks are asked for their
// interface before it is taken, got for a thread and let go after it.
class ccConnectionSinks {
public:
    static constexpr size_t kGrowth = 16; // entries added when the array is full

    // A sink asked for the event interface and held agile, not yet connected.
    using Held = std::shared_ptr<ccAgileInterfacePtr>;

    explicit ccConnectionSinks(const IID& eventInterface) : iid_(eventInterface) {}
    ~ccConnectionSinks() = default;
    ccConnectionSinks(const ccConnectionSinks&) = delete;
    ccConnectionSinks& operator=(const ccConnectionSinks&) = delete;

    const IID& eventInterface() const { return iid_; }

    // E_POINTER for a null sink or cookie; CONNECT_E_CANNOTCONNECT for a sink
    // without the event interface; its own failure for any other refusal
    // (cookie 0). std::bad_alloc when the array cannot grow.
    HRESULT advise(IUnknown* sink, DWORD* cookie);
    // advise in two steps, for points that take a lock of their own around
    // the second: prepare asks the sink (no lock may be held), connect stores
    // it and gives its cookie (std::bad_alloc when the array cannot grow).
    HRESULT prepare(IUnknown* sink, Held* held);
    DWORD connect(Held held);
    // CONNECT_E_NOCONNECTION for a cookie that names no sink.
    HRESULT unadvise(DWORD cookie);
    // The same, the sink handed to the caller to let go once its own locks
    // are free.
    HRESULT disconnect(DWORD cookie, Held* gone);
    // The connected sinks with their cookies, for the calling thread; a sink
    // that cannot be had here is left out.
    HRESULT enumerate(IEnumConnections** out);

    uint32_t count();
    size_t capacity();
    // The connected sinks for the calling thread, in cookie order.
    void takeSinks(ccSinkList& list);

private:
    struct Entry {
        DWORD cookie; // 0: free
        Held sink; // shared with readers that got it out of the array
    };
    // The connected sinks with their cookies, under the lock.
    std::vector<Entry> connected();

    ccThreadOwnerLock lock_;
    std::vector<Entry> entries_;
    const IID iid_;
};

// A new enumerator over the points, each with a reference of its own.
HRESULT ccNewConnectionPointEnum(IConnectionPoint* const* points, size_t count, IEnumConnectionPoints** out);

// The free-threaded point for event interface *DIID, inside an object of
// class T (which answers IConnectionPointContainer).
template <class T, const IID* DIID>
class ccConnectionPointImpl : public IConnectionPoint {
public:
    explicit ccConnectionPointImpl(T* owner) : owner_(owner), sinks_(*DIID) {}
    ccConnectionPointImpl(const ccConnectionPointImpl&) = delete;
    ccConnectionPointImpl& operator=(const ccConnectionPointImpl&) = delete;

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IConnectionPoint) && !IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return owner_->GetUnknown()->AddRef(); }
    ULONG Release() override { return owner_->GetUnknown()->Release(); }

    HRESULT GetConnectionInterface(IID* iid) override
    {
        if (iid == nullptr) return E_POINTER;
        *iid = *DIID;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override
    {
        return owner_->GetUnknown()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
    }
    // The sink is asked for its interface before any lock is taken.
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override
    {
        try {
            return sinks_.advise(sink, cookie);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT Unadvise(DWORD cookie) override { return sinks_.unadvise(cookie); }
    HRESULT EnumConnections(IEnumConnections** out) override { return sinks_.enumerate(out); }

    ccConnectionSinks& sinks() { return sinks_; }

protected:
    T* owner() const { return owner_; }

private:
    T* owner_;
    ccConnectionSinks sinks_;
};

// IConnectionPointContainer over the points of T, which answers
// connectionPointAt(i) with its points in order and null after the last.
template <class T>
class ccConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override
    {
        std::vector<IConnectionPoint*> points;
        try {
            for (size_t i = 0; IConnectionPoint* point = self()->connectionPointAt(i); ++i) points.push_back(point);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return ccNewConnectionPointEnum(points.data(), points.size(), out);
    }
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        for (size_t i = 0; IConnectionPoint* point = self()->connectionPointAt(i); ++i) {
            IID pointIid = GUID_NULL;
            if (SUCCEEDED(point->GetConnectionInterface(&pointIid)) && IsEqualIID(pointIid, iid)) {
                point->AddRef();
                *out = point;
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }

private:
    T* self() { return static_cast<T*>(this); }
};
