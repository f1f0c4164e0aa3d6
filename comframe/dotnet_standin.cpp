// A stand-in for the suite's .NET bridge: companions are entries of a handle
// table, each held strong or weak; no managed code runs.
#include <map>
#include <mutex>

#include "comframe/dotnet.h"
#include "comframe/dotnet_testing.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"

namespace {

struct Table {
    std::mutex lock;
    std::map<uint32_t, bool> handles; // strong or weak
    uint32_t next = 1;
    ccDotNetStandInLog log;
    IQorDotNetShutdown* shutdown = nullptr; // one reference
    HRESULT failure = S_OK;
};

Table& table()
{
    static Table* instance = new Table; // never destroyed: late releases find it
    return *instance;
}

uint32_t newHandle(Table& t, bool strong)
{
    while (t.next == 0 || t.handles.count(t.next) != 0)
        ++t.next;
    t.handles.emplace(t.next, strong);
    return t.next++;
}

class TypeFactory : public CComObjectRootEx<CComMultiThreadModel>, public IQorDotNetTypeFactory {
public:
    BEGIN_COM_MAP(TypeFactory)
    COM_INTERFACE_ENTRY(IQorDotNetTypeFactory)
    END_COM_MAP()

    HRESULT CreateCompanion(IUnknown* object, uint32_t* handle) override
    {
        if (object == nullptr || handle == nullptr)
            return E_POINTER;
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (FAILED(t.failure))
            return t.failure;
        ++t.log.companions;
        *handle = newHandle(t, true); // a new companion is referenced from its object
        return S_OK;
    }
};

class StandInBridge : public CComObjectRootEx<CComMultiThreadModel>, public IQorDotNetBridge {
public:
    BEGIN_COM_MAP(StandInBridge)
    COM_INTERFACE_ENTRY(IQorDotNetBridge)
    END_COM_MAP()

    HRESULT FinalConstruct()
    {
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        ++t.log.bridges;
        return S_OK;
    }

    HRESULT CreateTypeFactory(BSTR assembly, BSTR type, IQorDotNetTypeFactory** factory) override
    {
        if (factory == nullptr)
            return E_POINTER;
        *factory = nullptr;
        {
            Table& t = table();
            std::lock_guard<std::mutex> guard(t.lock);
            if (FAILED(t.failure))
                return t.failure;
            ++t.log.factories;
            t.log.lastAssembly = plat::com::wideFromBstr(assembly);
            t.log.lastType = plat::com::wideFromBstr(type);
        }
        return plat::com::createInstance<TypeFactory>(nullptr, IID_IQorDotNetTypeFactory,
                                                      reinterpret_cast<void**>(factory));
    }
    HRESULT Unused() override { return E_NOTIMPL; }
    HRESULT SetHandleStrength(uint32_t handle, int32_t strength, uint32_t* replaced) override
    {
        if (replaced == nullptr)
            return E_POINTER;
        *replaced = 0;
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (FAILED(t.failure))
            return t.failure;
        ++t.log.strengthChanges;
        if (t.handles.erase(handle) == 0)
            return E_INVALIDARG;
        *replaced = newHandle(t, strength != 0);
        return S_OK;
    }
    HRESULT ReleaseHandle(uint32_t handle) override
    {
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (FAILED(t.failure))
            return t.failure;
        ++t.log.releases;
        return t.handles.erase(handle) != 0 ? S_OK : E_INVALIDARG;
    }
    HRESULT RegisterShutdownFirst(IQorDotNetShutdown* shutdown) override { return keep(shutdown, true); }
    HRESULT RegisterShutdown(IQorDotNetShutdown* shutdown) override { return keep(shutdown, false); }

private:
    static HRESULT keep(IQorDotNetShutdown* shutdown, bool first)
    {
        if (shutdown == nullptr)
            return E_POINTER;
        Table& t = table();
        IQorDotNetShutdown* old = nullptr;
        {
            std::lock_guard<std::mutex> guard(t.lock);
            if (FAILED(t.failure))
                return t.failure;
            ++(first ? t.log.firstRegistrations : t.log.registrations);
            shutdown->AddRef();
            old = t.shutdown;
            t.shutdown = shutdown;
        }
        if (old != nullptr)
            old->Release();
        return S_OK;
    }
};

HRESULT announce(HRESULT (IQorDotNetShutdown::*what)())
{
    Table& t = table();
    IQorDotNetShutdown* shutdown = nullptr;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        shutdown = t.shutdown;
        if (shutdown == nullptr)
            return E_UNEXPECTED;
        shutdown->AddRef();
    }
    const HRESULT hr = (shutdown->*what)();
    shutdown->Release();
    return hr;
}

} // namespace

HRESULT ccDotNetRegisterStandInBridge()
{
    return plat::com::registerClass({CLSID_QorDotNetBridge, &plat::com::createInstance<StandInBridge>, L"", L""});
}

ccDotNetStandInLog ccDotNetStandInLogged(bool reset)
{
    Table& t = table();
    IQorDotNetShutdown* old = nullptr;
    ccDotNetStandInLog log;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        log = t.log;
        if (reset) {
            t.log = ccDotNetStandInLog{};
            t.handles.clear();
            t.failure = S_OK;
            old = t.shutdown;
            t.shutdown = nullptr;
        }
    }
    if (old != nullptr)
        old->Release();
    return log;
}

bool ccDotNetStandInHandle(uint32_t handle, bool* strong)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto found = t.handles.find(handle);
    if (found == t.handles.end())
        return false;
    *strong = found->second;
    return true;
}

HRESULT ccDotNetStandInShutdown()
{
    return announce(&IQorDotNetShutdown::Shutdown);
}

HRESULT ccDotNetStandInRestart()
{
    return announce(&IQorDotNetShutdown::Restart);
}

void ccDotNetStandInFail(HRESULT hr)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.failure = hr;
}
