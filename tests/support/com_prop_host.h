// A stand-in for the acquisition FIFO that the property mixins are written
// against: a library FIFO on the simulated board, each call in the one error
// handler (single-threaded: no lock), and the member ids of the changes told.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acq/hyper/prop/propquery.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "comframe/agile.h"
#include "comframe/archive.h"
#include "comframe/classids.h"
#include "comframe/comerror.h"
#include "modules/unknownfg.h"
#include "platform/com/connection.h"
#include "platform/com/errorinfo.h"
#include "platform/com/holders.h"
#include "platform/com/typeinfo.h"

template <template <class> class... Mixins>
class ccComPropHost : public Mixins<ccComPropHost<Mixins...>>... {
public:
    virtual ~ccComPropHost() = default;

    template <class F> HRESULT propertyCall(const IID& itf, const OLECHAR* method, F&& body)
    {
        const ccCOMErrorContext context{&CLSID_QorAcqFifo7320, &itf, method};
        return ccComMethod(context, nullptr, [&]() -> HRESULT { return body(*query_); });
    }
    void propertyChanged(DISPID memberId) { changed.push_back(memberId); }

    // Each supported mixin's values, as the FIFO's Persist hands them over
    // (a failure is thrown).
    void persist(IQorArchive* archive, LONG flags)
    {
        ((Mixins<ccComPropHost>::isSupported(*query_) ? Mixins<ccComPropHost>::persistValues(*this, archive, flags, *query_)
                                                       : void()), ...);
    }

    // How many of the mixins' interfaces a FIFO of this query answers.
    static size_t supportedCount(ccAcqPropertyQuery& query)
    {
        return (size_t(Mixins<ccComPropHost>::isSupported(query)) + ...);
    }

    ccAcqFifo& libraryFifo() { return *fifo_; } // what the setting information reads
    ccAcqPropertyQuery& query() { return *query_; }

    std::vector<DISPID> changed; // oldest first

    // On the test's stack: no counting, no queries, no dispatch.
    HRESULT QueryInterface(REFIID, void** ppv) override { if (ppv) *ppv = nullptr; return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

private:
    std::unique_ptr<ccStdGreyAcqFifo> fifo_ = std::make_unique<ccStdGreyAcqFifo>(ccVidFmtSonyXC75_640x480(), cc7320::getBoard(0));
    ccAcqPropertyQuery* query_ = fifo_->propertyQuery();
};

// An archive held for a test, in the mode given.
struct ccTestArchive {
    explicit ccTestArchive(LONG mode)
    {
        EXPECT_EQ(CQorArchive::create(&p), S_OK);
        held.p = p;
        held.p->AddRef();
        p->SetMode(mode);
    }
    CQorArchive* p = nullptr;
    plat::com::Ref<IQorArchive> held;
};

// The calling thread's error text, and its source (class and method) in
// *source if asked; empty without an error object.
inline std::u16string ccTestErrorText(std::u16string* source = nullptr)
{
    plat::com::Ref<IErrorInfo> info;
    BSTR text = nullptr, from = nullptr;
    if (GetErrorInfo(0, &info.p) != S_OK || !info.p || info.p->GetDescription(&text) != S_OK) return {};
    if (source && info.p->GetSource(&from) == S_OK) *source = std::u16string(from, SysStringLen(from));
    const std::u16string result(text, SysStringLen(text));
    SysFreeString(text);
    SysFreeString(from);
    return result;
}

// Member name of interface iid called on instance through the module's type
// library (a put takes args in declared order); the member's id in *id.
inline HRESULT ccTestInvokeByName(const IID& iid, const OLECHAR* name, void* instance, WORD kind,
                                  std::vector<VARIANT> args, VARIANT* result, MEMBERID* id)
{
    plat::com::Ref<ITypeLib> lib;
    plat::com::Ref<ITypeInfo> info;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = LoadRegTypeLib(LIBID_Qorx7320, 1, 0, 0, &lib.p);
    if (SUCCEEDED(hr)) hr = lib.p->GetTypeInfoOfGuid(iid, &info.p);
    if (SUCCEEDED(hr)) hr = info.p->GetIDsOfNames(names, 1, id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, UINT(reversed.size()), put ? 1u : 0u};
    return info.p->Invoke(instance, *id, kind, &params, result, nullptr, nullptr);
}

// An agile event sink any thread may call. Each call is recorded as its
// member id and its arguments in declared order (a VARIANT_BOOL as 0 or 1).
class ccTestSink : public IDispatch {
public:
    explicit ccTestSink(const IID& events) : events(events) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == events || iid == IID_IQorAgileMarker;
        *ppv = known ? static_cast<IDispatch*>(this) : nullptr;
        return known ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        std::lock_guard<std::mutex> hold(lock_);
        const ULONG left = --references;
        arrived_.notify_all();
        return left;
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::vector<LONG> call{id};
        for (UINT i = p->cArgs; i-- > 0;) // the last argument comes first
            call.push_back(p->rgvarg[i].vt == VT_BOOL ? p->rgvarg[i].boolVal != VARIANT_FALSE : p->rgvarg[i].lVal);
        std::lock_guard<std::mutex> hold(lock_);
        calls_.push_back(call);
        arrived_.notify_all();
        return S_OK;
    }
    static constexpr LONG kAny = LONG(0x80000000);
    // Whether a call like this one (kAny matches any value) comes in good time;
    // the limit is generous for loaded machines: a call that comes ends it.
    bool waitFor(const std::vector<LONG>& call)
    {
        const auto like = [&](const std::vector<LONG>& c) {
            return c.size() == call.size() && std::equal(c.begin(), c.end(), call.begin(), [](LONG a, LONG b) { return b == kAny || a == b; });
        };
        std::unique_lock<std::mutex> hold(lock_);
        return arrived_.wait_for(hold, std::chrono::seconds(30), [&] { return std::any_of(calls_.begin(), calls_.end(), like); });
    }
    // Whether the references others hold come down to count in good time:
    // the library lets go of a sink on its own threads too (its event thread
    // after a call). A sink that lives by its count keeps the test's.
    bool waitReferences(ULONG count)
    {
        std::unique_lock<std::mutex> hold(lock_);
        return arrived_.wait_for(hold, std::chrono::seconds(30), [&] { return references.load() == count; });
    }
    std::vector<std::vector<LONG>> calls()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }

    const IID events;
    std::atomic<ULONG> references{0};

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::vector<LONG>> calls_;
};

// A ccTestSink that lives by its count: the returned reference is the first.
inline plat::com::Ref<ccTestSink> ccNewTestSink(const IID& events)
{
    class Counted final : public ccTestSink {
    public:
        using ccTestSink::ccTestSink;
        ULONG Release() override
        {
            const ULONG left = ccTestSink::Release();
            if (left == 0) delete this;
            return left;
        }
    };
    ccTestSink* sink = new Counted(events);
    sink->AddRef();
    return plat::com::Ref<ccTestSink>(sink);
}

// sink advised to source's point of its events; the point, to unadvise.
inline plat::com::Ref<IConnectionPoint> ccTestAdvise(IUnknown* source, ccTestSink& sink, DWORD* cookie)
{
    plat::com::Ref<IConnectionPointContainer> container;
    plat::com::Ref<IConnectionPoint> point;
    EXPECT_EQ(source->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
    EXPECT_EQ(container.p->FindConnectionPoint(sink.events, &point.p), S_OK);
    EXPECT_EQ(point.p->Advise(&sink, cookie), S_OK);
    return point;
}
