#include "comframe/dotnet.h"

#include <exception>
#include <mutex>
#include <new>

#include "comframe/dotnet_testing.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"

const CLSID CLSID_QorDotNetBridge = {0x8a41d6e2, 0x5c03, 0x4f7b, {0x9d, 0x18, 0x2e, 0x6b, 0xc0, 0x73, 0xa5, 0x91}};
const IID IID_IQorDotNetBridge = {0x8a41d6e3, 0x5c03, 0x4f7b, {0x9d, 0x18, 0x2e, 0x6b, 0xc0, 0x73, 0xa5, 0x91}};
const IID IID_IQorDotNetTypeFactory = {0x8a41d6e4, 0x5c03, 0x4f7b, {0x9d, 0x18, 0x2e, 0x6b, 0xc0, 0x73, 0xa5, 0x91}};
const IID IID_IQorDotNetShutdown = {0x8a41d6e5, 0x5c03, 0x4f7b, {0x9d, 0x18, 0x2e, 0x6b, 0xc0, 0x73, 0xa5, 0x91}};

namespace {

// The managed side announces shutdown and restart on any thread while
// objects change their handles on others: state and generation are atomic,
// and the bridge pointer is handed out with a reference of its own, so that
// replacing it after a restart never frees it under a caller.
std::atomic<uint32_t> g_state{ccDotNetHelper::kUnregistered};
std::atomic<uint32_t> g_generation{1};

struct Bridge {
    std::mutex lock;
    IQorDotNetBridge* pointer = nullptr; // one reference
    uint32_t generation = 0;
};

Bridge& bridge()
{
    static Bridge* instance = new Bridge; // never destroyed: late releases find it
    return *instance;
}

// Serialises registration and companion creation, which nest.
std::recursive_mutex& staticInitLock()
{
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

struct TypeNameRecord {
    const wchar_t* assembly;
    const wchar_t* type;
    IQorDotNetTypeFactory* factory; // one reference
    uint32_t generation;
};

#define QOR_FG_ASSEMBLY L"Qoralt.Marlume.FG7320, Version=47.0.0.0, Culture=neutral, PublicKeyToken=5d8a13c6f0b927e4"
#define QOR_CORE_ASSEMBLY L"Qoralt.Marlume.Core, Version=47.0.0.0, Culture=neutral, PublicKeyToken=5d8a13c6f0b927e4"

// In ccDotNetClass order; kept for the life of the process.
TypeNameRecord g_records[] = {
    {QOR_FG_ASSEMBLY, L"Qoralt.Marlume.FG7320.Implementation.Internal.QorFrameGrabber7320", nullptr, 0},
    {QOR_FG_ASSEMBLY, L"Qoralt.Marlume.FG7320.QorFrameGrabber7320s", nullptr, 0},
    {QOR_FG_ASSEMBLY, L"Qoralt.Marlume.FG7320.Implementation.Internal.QorAcqFifo7320", nullptr, 0},
    {QOR_CORE_ASSEMBLY, L"Qoralt.Marlume.QorInputLine", nullptr, 0},
    {QOR_CORE_ASSEMBLY, L"Qoralt.Marlume.QorOutputLine", nullptr, 0},
};

TypeNameRecord& record(ccDotNetClass cls)
{
    return g_records[static_cast<size_t>(cls)];
}

void check(HRESULT hr)
{
    if (FAILED(hr))
        throw ccCOMError(hr, 0);
}

template <class I>
struct Held {
    I* p;
    ~Held()
    {
        if (p != nullptr)
            p->Release();
    }
    I* operator->() const { return p; }
};

struct Text {
    BSTR text;
    explicit Text(const wchar_t* wide) : text(plat::com::bstrFromWide(wide))
    {
        if (text == nullptr)
            throw std::bad_alloc();
    }
    ~Text() { SysFreeString(text); }
};

class ccDotNetShutdown : public CComObjectRootEx<CComMultiThreadModel>, public IQorDotNetShutdown {
public:
    BEGIN_COM_MAP(ccDotNetShutdown)
    COM_INTERFACE_ENTRY(IQorDotNetShutdown)
    END_COM_MAP()

    HRESULT Shutdown() override
    {
        g_state = ccDotNetHelper::kShutDown;
        return S_OK;
    }
    HRESULT Restart() override
    {
        ++g_generation;
        g_state = ccDotNetHelper::kRestarted;
        return S_OK;
    }
};

} // namespace

IQorDotNetBridge* ccDotNetHelper::instance()
{
    Bridge& b = bridge();
    IQorDotNetBridge* stale = nullptr;
    IQorDotNetBridge* result = nullptr;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> guard(b.lock);
        const uint32_t current = g_generation;
        if (b.pointer != nullptr && b.generation != current) {
            stale = b.pointer;
            b.pointer = nullptr;
        }
        if (b.pointer == nullptr) {
            hr = CoCreateInstance(CLSID_QorDotNetBridge, nullptr, CLSCTX_ALL, IID_IQorDotNetBridge,
                                  reinterpret_cast<void**>(&b.pointer));
            if (FAILED(hr))
                b.pointer = nullptr;
            b.generation = current;
        }
        result = b.pointer;
        if (result != nullptr)
            result->AddRef();
    }
    if (stale != nullptr)
        stale->Release(); // callers that still use it hold references of their own
    check(hr);
    return result;
}

void ccDotNetHelper::registerShutdown()
{
    std::lock_guard<std::recursive_mutex> guard(staticInitLock());
    const uint32_t state = g_state;
    if (state == kRegistered)
        return;
    if (state != kUnregistered && state != kRestarted)
        throw ccCOMError(E_FAIL, 0);
    Held<IQorDotNetBridge> b{instance()};
    CComObject<ccDotNetShutdown>* created = nullptr;
    check(CComObject<ccDotNetShutdown>::CreateInstance(&created));
    created->AddRef();
    Held<IQorDotNetShutdown> shutdown{created}; // the module's reference goes on every path
    if (state == kUnregistered)
        check(b->RegisterShutdownFirst(shutdown.p));
    check(b->RegisterShutdown(shutdown.p));
    // A shutdown or restart announced meanwhile stands.
    uint32_t expected = state;
    g_state.compare_exchange_strong(expected, kRegistered);
}

uint32_t ccDotNetHelper::obtainCompanion(ccDotNetClass cls, IUnknown* object)
{
    std::lock_guard<std::recursive_mutex> guard(staticInitLock());
    if (g_state == kShutDown)
        throw ccCOMError(E_FAIL, 0);
    TypeNameRecord& r = record(cls);
    const uint32_t current = g_generation;
    if (r.factory != nullptr && r.generation != current) {
        r.factory->Release();
        r.factory = nullptr;
    }
    if (r.factory == nullptr) {
        registerShutdown();
        Held<IQorDotNetBridge> b{instance()};
        const Text assembly(r.assembly);
        const Text type(r.type);
        IQorDotNetTypeFactory* factory = nullptr;
        check(b->CreateTypeFactory(assembly.text, type.text, &factory));
        if (factory == nullptr)
            throw ccCOMError(E_POINTER, 0);
        r.factory = factory;
        r.generation = current;
    }
    uint32_t handle = 0;
    check(r.factory->CreateCompanion(object, &handle));
    return handle;
}

void ccDotNetHelper::releaseHandle(uint32_t handle)
{
    if (g_state != kRegistered)
        return;
    Held<IQorDotNetBridge> b{instance()};
    check(b->ReleaseHandle(handle));
}

uint32_t ccDotNetHelper::setHandleStrength(uint32_t handle, bool strong)
{
    if (g_state != kRegistered)
        return 0;
    Held<IQorDotNetBridge> b{instance()};
    uint32_t replaced = 0;
    check(b->SetHandleStrength(handle, strong ? -1 : 0, &replaced));
    return replaced;
}

uint32_t ccDotNetHelper::state()
{
    return g_state;
}

uint32_t ccDotNetHelper::generation()
{
    return g_generation;
}

const wchar_t* ccDotNetHelper::assemblyName(ccDotNetClass cls)
{
    return record(cls).assembly;
}

const wchar_t* ccDotNetHelper::typeName(ccDotNetClass cls)
{
    return record(cls).type;
}

void ccDotNetCompanion::attach(uint32_t handle, bool strong)
{
    std::exception_ptr failure;
    try {
        if (handle_ != 0)
            ccDotNetHelper::releaseHandle(handle_);
        if (!strong)
            ccDotNetHelper::registerShutdown();
    } catch (const ccCOMError&) {
        failure = std::current_exception();
    }
    handle_ = handle;
    strong_ = strong;
    if (failure)
        std::rethrow_exception(failure);
}

void ccDotNetCompanion::setStrong(bool strong)
{
    if (strong == strong_)
        return;
    strong_ = strong;
    if (handle_ == 0)
        return;
    try {
        handle_ = ccDotNetHelper::setHandleStrength(handle_, strong);
    } catch (const ccCOMError&) {
        handle_ = 0;
        strong_ = false;
        throw;
    }
}

void ccDotNetCompanion::release() noexcept
{
    if (handle_ == 0)
        return;
    try {
        ccDotNetHelper::releaseHandle(handle_);
    } catch (...) {
        // a destructor's release: the handle is given up either way
    }
    handle_ = 0;
}

void ccDotNetResetForTesting()
{
    std::lock_guard<std::recursive_mutex> guard(staticInitLock());
    for (TypeNameRecord& r : g_records) {
        if (r.factory != nullptr)
            r.factory->Release();
        r.factory = nullptr;
    }
    Bridge& b = bridge();
    IQorDotNetBridge* old = nullptr;
    {
        std::lock_guard<std::mutex> inner(b.lock);
        old = b.pointer;
        b.pointer = nullptr;
    }
    if (old != nullptr)
        old->Release();
    g_state = ccDotNetHelper::kUnregistered;
    g_generation = 1;
}

void ccAttachCompanion(ccDotNetClass cls, IUnknown* object, ccDotNetCompanion& companion)
{
    uint32_t handle = 0;
    try {
        handle = ccDotNetHelper::obtainCompanion(cls, object);
    } catch (const ccCOMError& e) {
        if (e.hr() == REGDB_E_CLASSNOTREG) return; // no .NET layer in this process
        throw;
    }
    companion.attach(handle, true);
}

HRESULT ccAttachCompanionResult(ccDotNetClass cls, IUnknown* object, ccDotNetCompanion& companion) noexcept
{
    try {
        ccAttachCompanion(cls, object, companion);
        return S_OK;
    } catch (const ccCOMError& e) {
        return e.hr();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
