#include "platform/com/git.h"

#include <atomic>
#include <map>
#include <mutex>
#include <new>

#include "platform/com/internal/apartment.h"
#include "platform/com/simpleobject.h"
#include "platform/thread.h"

namespace {

using plat::com::detail::Apartment;
using plat::com::detail::currentSta;

// Only marshal streams of this file answer it.
const IID IID_MarshalStream = {0x6b1f0c4e, 0x2d7a, 0x4f39, {0x9e, 0x51, 0x3a, 0x08, 0xc2, 0x77, 0x14, 0xd6}};

// Objects that aggregate the free-threaded marshaler are called on any thread.
bool isAgile(IUnknown* object)
{
    IMarshal* marshal = nullptr;
    if (FAILED(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) || marshal == nullptr)
        return false;
    CLSID unmarshaler = GUID_NULL;
    const HRESULT hr =
        marshal->GetUnmarshalClass(IID_IUnknown, object, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG, &unmarshaler);
    marshal->Release();
    return SUCCEEDED(hr) && unmarshaler == CLSID_InProcFreeMarshaler;
}

// An interface made ready for other threads: the object itself, or a
// reference its STA keeps for them.
struct Marshalled {
    IUnknown* direct = nullptr; // one reference
    std::shared_ptr<Apartment> home;
    uint64_t stub = 0;
};

HRESULT marshal(IUnknown* object, Marshalled* marshalled)
{
    std::shared_ptr<Apartment> home = currentSta();
    if (home && !isAgile(object)) {
        marshalled->stub = home->addStub(object);
        if (marshalled->stub == 0)
            return RPC_E_DISCONNECTED;
        marshalled->home = std::move(home);
        return S_OK;
    }
    object->AddRef();
    marshalled->direct = object;
    return S_OK;
}

// The object's riid interface, made ready for other threads.
HRESULT marshalAs(IUnknown* unknown, REFIID riid, Marshalled* marshalled)
{
    IUnknown* object = nullptr;
    HRESULT hr = unknown->QueryInterface(riid, reinterpret_cast<void**>(&object));
    if (FAILED(hr))
        return hr;
    hr = marshal(object, marshalled);
    object->Release();
    return hr;
}

void release(Marshalled* marshalled)
{
    if (marshalled->direct != nullptr)
        marshalled->direct->Release();
    else if (marshalled->home)
        marshalled->home->releaseStub(marshalled->stub);
    *marshalled = Marshalled{};
}

// Apartment-bound objects reach other threads through a proxy that carries
// each call to the owner thread. Interface pointers inside the arguments are
// not marshalled, which is why a proxy offers IUnknown and IDispatch only:
// calls through IDispatch carry their interfaces in VARIANTs that the
// callee's side makes agile itself.
class Proxy final : public IDispatch {
public:
    Proxy(std::shared_ptr<Apartment> home, uint64_t stub, bool dispatch)
        : home_(std::move(home)), stub_(stub), dispatch_(dispatch)
    {
        // A proxy is itself usable on any thread.
        if (FAILED(CoCreateFreeThreadedMarshaler(this, &marshaler_)))
            marshaler_ = nullptr;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IMarshal && marshaler_ != nullptr)
            return marshaler_->QueryInterface(riid, ppv);
        if (riid == IID_IUnknown || (riid == IID_IDispatch && dispatch_)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            home_->releaseStub(stub_);
            if (marshaler_ != nullptr)
                marshaler_->Release();
            delete this;
        }
        return left;
    }

    HRESULT GetTypeInfoCount(UINT* pctinfo) override
    {
        return forward([&](IDispatch* target) { return target->GetTypeInfoCount(pctinfo); });
    }
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override
    {
        return forward([&](IDispatch* target) { return target->GetTypeInfo(iTInfo, lcid, ppTInfo); });
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override
    {
        return forward(
            [&](IDispatch* target) { return target->GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId); });
    }
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        return forward([&](IDispatch* target) {
            return target->Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
        });
    }

private:
    template <typename F>
    HRESULT forward(F&& method)
    {
        if (!dispatch_)
            return E_NOTIMPL;
        return home_->call([&]() -> HRESULT {
            IUnknown* target = home_->stub(stub_);
            return target == nullptr ? RPC_E_DISCONNECTED : method(static_cast<IDispatch*>(target));
        });
    }

    std::atomic<ULONG> references_{1};
    const std::shared_ptr<Apartment> home_;
    const uint64_t stub_; // IDispatch when dispatch_, else IUnknown
    const bool dispatch_;
    IUnknown* marshaler_ = nullptr;
};

HRESULT makeProxy(const std::shared_ptr<Apartment>& home, uint64_t stub, REFIID iid, void** out)
{
    if (iid != IID_IUnknown && iid != IID_IDispatch)
        return E_NOINTERFACE;
    uint64_t proxyStub = 0;
    bool dispatch = false;
    const HRESULT hr = home->call([&]() -> HRESULT {
        IUnknown* object = home->stub(stub);
        if (object == nullptr)
            return RPC_E_DISCONNECTED;
        IDispatch* target = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&target))) && target != nullptr) {
            dispatch = true;
            proxyStub = home->addStub(target);
            target->Release();
        } else if (iid == IID_IDispatch) {
            return E_NOINTERFACE;
        } else {
            proxyStub = home->addStub(object);
        }
        return proxyStub != 0 ? S_OK : RPC_E_DISCONNECTED;
    });
    if (FAILED(hr))
        return hr;
    auto* proxy = new (std::nothrow) Proxy(home, proxyStub, dispatch);
    if (proxy == nullptr) {
        home->releaseStub(proxyStub);
        return E_OUTOFMEMORY;
    }
    *out = static_cast<IDispatch*>(proxy);
    return S_OK;
}

HRESULT unmarshal(const Marshalled& marshalled, REFIID iid, void** out)
{
    *out = nullptr;
    if (marshalled.direct != nullptr)
        return marshalled.direct->QueryInterface(iid, out);
    const std::shared_ptr<Apartment>& home = marshalled.home;
    if (home->owner() != plat::currentThreadId())
        return makeProxy(home, marshalled.stub, iid, out);
    return home->call([&]() -> HRESULT {
        IUnknown* object = home->stub(marshalled.stub);
        return object == nullptr ? RPC_E_DISCONNECTED : object->QueryInterface(iid, out);
    });
}

class GlobalTable final : public IGlobalInterfaceTable {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IGlobalInterfaceTable ? this : nullptr;
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    // Never destroyed: late releases at exit find it.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override
    {
        if (pdwCookie != nullptr)
            *pdwCookie = 0;
        if (pUnk == nullptr || pdwCookie == nullptr)
            return E_INVALIDARG;
        Marshalled marshalled;
        const HRESULT hr = marshalAs(pUnk, riid, &marshalled);
        if (FAILED(hr))
            return hr;
        std::lock_guard<std::mutex> guard(lock_);
        while (next_ == 0 || next_ == 0xFFFFFFFF || entries_.count(next_) != 0)
            ++next_;
        entries_.emplace(next_, marshalled);
        *pdwCookie = next_++;
        return S_OK;
    }

    HRESULT RevokeInterfaceFromGlobal(DWORD dwCookie) override
    {
        Marshalled marshalled;
        {
            std::lock_guard<std::mutex> guard(lock_);
            const auto found = entries_.find(dwCookie);
            if (found == entries_.end())
                return E_INVALIDARG;
            marshalled = found->second;
            entries_.erase(found);
        }
        release(&marshalled);
        return S_OK;
    }

    HRESULT GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_INVALIDARG;
        *ppv = nullptr;
        Marshalled marshalled;
        {
            std::lock_guard<std::mutex> guard(lock_);
            const auto found = entries_.find(dwCookie);
            if (found == entries_.end())
                return E_INVALIDARG;
            marshalled = found->second;
            // A revocation meanwhile must not free the object under us.
            if (marshalled.direct != nullptr)
                marshalled.direct->AddRef();
        }
        const HRESULT hr = unmarshal(marshalled, riid, ppv);
        if (marshalled.direct != nullptr)
            marshalled.direct->Release();
        return hr;
    }

private:
    std::mutex lock_;
    std::map<DWORD, Marshalled> entries_;
    DWORD next_ = 1;
};

// Carries one marshalled interface, and no bytes, to the thread that unmarshals it.
class MarshalStream final
    : public plat::com::SimpleObject<plat::com::RefusingStream<E_NOTIMPL>, IID_ISequentialStream, IID_IStream,
          IID_MarshalStream> {
public:
    explicit MarshalStream(const Marshalled& marshalled) : marshalled_(marshalled) {}
    ~MarshalStream() override { release(&marshalled_); }

    HRESULT unmarshalOnce(REFIID iid, void** out)
    {
        if (marshalled_.direct == nullptr && !marshalled_.home)
            return E_UNEXPECTED; // already unmarshalled
        const HRESULT hr = unmarshal(marshalled_, iid, out);
        release(&marshalled_);
        return hr;
    }

private:
    Marshalled marshalled_;
};

// The marshaler's own unknown controls its life; its IMarshal delegates
// references to the outer object.
class FreeThreadedMarshaler final : public IMarshal {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : inner_(this), outer_(outer != nullptr ? outer : &inner_) {}

    IUnknown* inner() { return &inner_; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return outer_->AddRef(); }
    ULONG Release() override { return outer_->Release(); }

    HRESULT GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* pCid) override
    {
        if (pCid == nullptr)
            return E_POINTER;
        *pCid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }
    // Within the process nothing is written: the pointer itself crosses.
    HRESULT GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    HRESULT UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
    HRESULT DisconnectObject(DWORD) override { return S_OK; }

private:
    struct Inner final : IUnknown {
        explicit Inner(FreeThreadedMarshaler* owner) : owner(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override
        {
            if (ppv == nullptr)
                return E_POINTER;
            *ppv = nullptr;
            if (riid == IID_IUnknown) {
                *ppv = this;
                AddRef();
            } else if (riid == IID_IMarshal) {
                *ppv = static_cast<IMarshal*>(owner);
                owner->AddRef();
            }
            return *ppv != nullptr ? S_OK : E_NOINTERFACE;
        }
        ULONG AddRef() override { return ++references; }
        ULONG Release() override
        {
            const ULONG left = --references;
            if (left == 0)
                delete owner;
            return left;
        }
        FreeThreadedMarshaler* const owner;
        std::atomic<ULONG> references{1};
    };

    Inner inner_;
    IUnknown* const outer_;
};

} // namespace

HRESULT createGlobalInterfaceTable(IUnknown* outer, REFIID iid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    static GlobalTable* instance = new GlobalTable;
    return instance->QueryInterface(iid, ppv);
}

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* pUnk, IStream** ppStm)
{
    if (ppStm != nullptr)
        *ppStm = nullptr;
    if (ppStm == nullptr || pUnk == nullptr)
        return E_INVALIDARG;
    Marshalled marshalled;
    const HRESULT hr = marshalAs(pUnk, riid, &marshalled);
    if (FAILED(hr))
        return hr;
    auto* stream = new (std::nothrow) MarshalStream(marshalled);
    if (stream == nullptr) {
        release(&marshalled);
        return E_OUTOFMEMORY;
    }
    *ppStm = stream;
    return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(IStream* pStm, REFIID iid, void** ppv)
{
    if (ppv != nullptr)
        *ppv = nullptr;
    if (pStm == nullptr)
        return E_INVALIDARG;
    IStream* marked = nullptr;
    HRESULT hr = pStm->QueryInterface(IID_MarshalStream, reinterpret_cast<void**>(&marked));
    auto* stream = static_cast<MarshalStream*>(static_cast<plat::com::RefusingStream<E_NOTIMPL>*>(marked));
    if (SUCCEEDED(hr) && stream != nullptr) {
        hr = ppv == nullptr ? E_INVALIDARG : stream->unmarshalOnce(iid, ppv);
        stream->Release();
    } else {
        hr = E_INVALIDARG;
    }
    pStm->Release();
    return hr;
}

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** inner)
{
    if (inner == nullptr)
        return E_INVALIDARG;
    auto* marshaler = new (std::nothrow) FreeThreadedMarshaler(outer);
    *inner = marshaler != nullptr ? marshaler->inner() : nullptr;
    return marshaler != nullptr ? S_OK : E_OUTOFMEMORY;
}
