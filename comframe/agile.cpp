#include "comframe/agile.h"

#include <atomic>
#include <new>
#include <stdexcept>

#include "comframe/agile_testing.h"
#include "platform/com/classes.h"
#include "platform/com/git.h"
#include "platform/thread.h"

const IID IID_IQorAgileMarker = {0x3c9e52a1, 0x7b04, 0x4d6e, {0xa8, 0x1f, 0x62, 0x0d, 0xb5, 0x94, 0xe3, 0x27}};
const IID IID_DotNetObject = {0x65074F7F, 0x63C0, 0x304E, {0xAF, 0x0A, 0xD5, 0x17, 0x41, 0xCB, 0x4A, 0x8D}};

namespace {

// The process's table; never released, so that holders in objects that die
// late still revoke into a live table.
std::atomic<IGlobalInterfaceTable*>& table()
{
    static std::atomic<IGlobalInterfaceTable*> instance{[] {
        IGlobalInterfaceTable* git = nullptr;
        if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_ALL, IID_IGlobalInterfaceTable,
                                    reinterpret_cast<void**>(&git))))
            git = nullptr;
        return git;
    }()};
    return instance;
}

bool answers(IUnknown* p, REFIID iid)
{
    IUnknown* got = nullptr;
    if (FAILED(p->QueryInterface(iid, reinterpret_cast<void**>(&got))) || got == nullptr)
        return false;
    got->Release();
    return true;
}

bool isFreeThreaded(IUnknown* p)
{
    if (answers(p, IID_IQorAgileMarker) || answers(p, IID_DotNetObject))
        return true;
    IMarshal* marshal = nullptr;
    if (FAILED(p->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) || marshal == nullptr)
        return false;
    CLSID unmarshaler = GUID_NULL;
    const HRESULT hr =
        marshal->GetUnmarshalClass(IID_IUnknown, p, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG, &unmarshaler);
    marshal->Release();
    return SUCCEEDED(hr) && unmarshaler == CLSID_InProcFreeMarshaler;
}

bool isAgileArray(VARTYPE vt)
{
    return vt == (VT_ARRAY | VT_DISPATCH) || vt == (VT_ARRAY | VT_VARIANT) || vt == (VT_ARRAY | VT_UNKNOWN);
}

void throwFor(HRESULT hr)
{
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    throw std::invalid_argument("a VARIANT value that cannot be copied");
}

} // namespace

IGlobalInterfaceTable* ccAgileSwapGlobalInterfaceTable(IGlobalInterfaceTable* replacement)
{
    return table().exchange(replacement);
}

// Marks the entries got for one thread. The mark outlives the thread, which
// sets it ended at its exit, so that another thread can drop its entries;
// a later thread never takes it over, as it would a reused kernel id.
struct cc_agile::ThreadMark {
    std::atomic<bool> ended{false};
};

namespace {

using cc_agile::ThreadMark;
using Mark = std::shared_ptr<ThreadMark>;

void endThreadMark();

uint32_t markSlot()
{
    static const uint32_t slot = [] {
        uint32_t key = 0;
        // After the apartment's end, whose releases may still get pointers here.
        if (!plat::tlsAlloc(&key) || !plat::addThreadExitCallback(endThreadMark, plat::kThreadExitOrderSystem + 50))
            return UINT32_MAX;
        return key;
    }();
    return slot;
}

void endThreadMark()
{
    void* value = nullptr;
    if (markSlot() == UINT32_MAX || !plat::tlsGet(markSlot(), &value) || value == nullptr)
        return;
    auto* mark = static_cast<Mark*>(value);
    (*mark)->ended = true;
    (void)plat::tlsSet(markSlot(), nullptr); // the slot exists: the mark was found in it
    delete mark;
}

} // namespace

std::shared_ptr<cc_agile::ThreadMark> ccAgileInterfacePtr::currentThread()
{
    void* value = nullptr;
    const uint32_t slot = markSlot();
    if (slot != UINT32_MAX && plat::tlsGet(slot, &value) && value != nullptr)
        return *static_cast<Mark*>(value);
    auto made = std::make_shared<ThreadMark>();
    // A thread past its exit work, or without a slot, gets a mark that is
    // already ended: its pointers are dropped by the next thread that adds one.
    if (slot == UINT32_MAX || plat::threadIsExiting()) {
        made->ended = true;
        return made;
    }
    auto* kept = new Mark(made);
    if (!plat::tlsSet(slot, kept)) {
        delete kept;
        made->ended = true;
    }
    return made;
}

void ccAgileInterfacePtr::releaseEntries(std::vector<Entry>& entries)
{
    for (Entry& entry : entries)
        entry.home.release(entry.pointer);
    entries.clear();
}

size_t ccAgileThreadEntries(ccAgileInterfacePtr& holder)
{
    std::lock_guard<std::mutex> guard(holder.entriesLock_);
    return holder.entries_.size();
}

ccAgileInterfacePtr::ccAgileInterfacePtr(IUnknown* p)
{
    assign(p, IID_IUnknown);
}

ccAgileInterfacePtr::~ccAgileInterfacePtr()
{
    release();
}

void ccAgileInterfacePtr::assign(IUnknown* p, REFIID iid)
{
    // Referenced before the old value goes: p may be what this holder alone keeps.
    if (p != nullptr)
        p->AddRef();
    release();
    if (p == nullptr)
        return;
    if (isFreeThreaded(p)) {
        direct_ = p;
        cookie_ = kDirect;
        return;
    }
    home_ = plat::com::ApartmentHome::current();
    try {
        Entry stored{currentThread(), iid, p, home_};
        std::lock_guard<std::mutex> guard(entriesLock_);
        entries_.push_back(std::move(stored));
    } catch (...) {
        p->Release();
        throw;
    }
    held_ = true;
    IGlobalInterfaceTable* git = table().load();
    DWORD cookie = 0;
    if (git == nullptr || FAILED(git->RegisterInterfaceInGlobal(p, iid, &cookie)))
        cookie = 0;
    cookie_ = cookie;
}

HRESULT ccAgileInterfacePtr::getForCurrentThread(REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (direct_ != nullptr)
        return direct_->QueryInterface(iid, out);
    if (!held_)
        return S_OK;
    Mark self;
    try {
        self = currentThread();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // Only this thread, or clearing the holder, takes this thread's entry
    // out: its pointer stays valid after the lock.
    IUnknown* kept = nullptr;
    IID keptIid = IID_NULL;
    {
        std::lock_guard<std::mutex> guard(entriesLock_);
        for (const Entry& entry : entries_)
            if (entry.thread == self) {
                kept = entry.pointer;
                keptIid = entry.iid;
                break;
            }
    }
    if (kept != nullptr) {
        // An entry kept as another interface is asked for this one: handing
        // it out as it is would call through the wrong table.
        if (keptIid != iid)
            return kept->QueryInterface(iid, out);
        kept->AddRef();
        *out = kept;
        return S_OK;
    }
    if (cookie_ == 0)
        return RPC_E_WRONG_THREAD; // the table refused it: the storing thread's only
    IGlobalInterfaceTable* git = table().load();
    if (git == nullptr)
        return RPC_E_WRONG_THREAD;
    IUnknown* got = nullptr;
    const HRESULT hr = git->GetInterfaceFromGlobal(cookie_, iid, reinterpret_cast<void**>(&got));
    if (FAILED(hr) || got == nullptr)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    // Only the storing apartment's own thread is handed the object itself,
    // which then goes back there; a proxy, or an object of the
    // multithreaded apartment, may go on any thread.
    const plat::com::ApartmentHome home =
        plat::com::ApartmentHome::current() == home_ ? home_ : plat::com::ApartmentHome();
    std::vector<Entry> ended; // of threads that have ended
    got->AddRef(); // the entry's own
    try {
        std::lock_guard<std::mutex> guard(entriesLock_);
        for (auto entry = entries_.begin(); entry != entries_.end();) {
            if (entry->thread->ended) {
                ended.push_back(std::move(*entry));
                entry = entries_.erase(entry);
            } else {
                ++entry;
            }
        }
        entries_.push_back(Entry{std::move(self), iid, got, home});
    } catch (const std::bad_alloc&) {
        home.release(got); // not kept: asked from the table again next time
    }
    releaseEntries(ended);
    *out = got;
    return S_OK;
}

void ccAgileInterfacePtr::release()
{
    if (direct_ != nullptr) {
        IUnknown* held = direct_;
        direct_ = nullptr;
        cookie_ = 0;
        held->Release();
        return;
    }
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(entriesLock_);
        entries.swap(entries_);
    }
    held_ = false;
    home_ = plat::com::ApartmentHome();
    releaseEntries(entries);
    if (cookie_ != 0) {
        if (IGlobalInterfaceTable* git = table().load())
            (void)git->RevokeInterfaceFromGlobal(cookie_); // gone already: nothing left to free
        cookie_ = 0;
    }
}

ccAgileVariant::ccAgileVariant(const VARIANT& v)
{
    const HRESULT hr = assign(v);
    if (FAILED(hr))
        throwFor(hr);
}

ccAgileVariant::~ccAgileVariant()
{
    clear();
}

ccAgileVariant& ccAgileVariant::operator=(const VARIANT& v)
{
    const HRESULT hr = assign(v);
    if (FAILED(hr))
        throwFor(hr);
    return *this;
}

HRESULT ccAgileVariant::assign(const VARIANT& source)
{
    clear();
    VARIANT direct;
    VariantInit(&direct);
    const VARIANT* v = &source;
    if (source.vt & VT_BYREF) {
        const HRESULT hr = VariantCopyInd(&direct, &source);
        if (FAILED(hr))
            return hr;
        v = &direct;
    }
    struct Clear {
        VARIANT* v;
        ~Clear() { (void)VariantClear(v); } // made here: nothing else owns it
    } clearDirect{&direct};

    if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
        if (v->punkVal != nullptr)
            interface_ = std::make_unique<ccAgileInterfacePtr>(v->punkVal);
        vt_ = v->vt;
        return S_OK;
    }
    if (isAgileArray(v->vt)) {
        try {
            if (v->parray != nullptr)
                array_ = std::make_unique<ccAgileSafeArray>(v->vt, v->parray);
        } catch (const std::invalid_argument&) {
            return E_INVALIDARG;
        }
        vt_ = v->vt;
        return S_OK;
    }
    const HRESULT hr = VariantCopy(&plain_, v);
    if (FAILED(hr)) {
        VariantInit(&plain_);
        return hr;
    }
    vt_ = plain_.vt;
    return S_OK;
}

void ccAgileVariant::clear()
{
    interface_.reset();
    array_.reset();
    (void)VariantClear(&plain_); // a copy of our own: always clearable
    VariantInit(&plain_);
    vt_ = VT_EMPTY;
}

HRESULT ccAgileVariant::copyTo(VARIANT* dst) const
{
    if (dst == nullptr)
        return E_POINTER;
    if (vt_ == VT_UNKNOWN || vt_ == VT_DISPATCH) {
        (void)VariantClear(dst);
        IUnknown* got = nullptr;
        if (interface_) {
            const HRESULT hr = interface_->getForCurrentThread(vt_ == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                              reinterpret_cast<void**>(&got));
            if (FAILED(hr))
                return hr;
        }
        dst->vt = vt_;
        dst->punkVal = got;
        return S_OK;
    }
    if (isAgileArray(vt_)) {
        (void)VariantClear(dst);
        SAFEARRAY* made = nullptr;
        if (array_) {
            const HRESULT hr = array_->toSafeArray(&made);
            if (FAILED(hr))
                return hr;
        }
        dst->vt = vt_;
        dst->parray = made;
        return S_OK;
    }
    return VariantCopy(dst, &plain_);
}

HRESULT ccAgileVariant::copyToNew(VARIANT* dst) const
{
    if (dst == nullptr)
        return E_POINTER;
    VariantInit(dst);
    return copyTo(dst);
}

HRESULT ccAgileVariant::getInterface(IUnknown** out) const
{
    if (out == nullptr || (vt_ != VT_UNKNOWN && vt_ != VT_DISPATCH))
        return E_POINTER;
    *out = nullptr;
    return interface_ ? interface_->get(out) : S_OK;
}

ccAgileSafeArray::ccAgileSafeArray(VARTYPE vt, SAFEARRAY* source) : vt_(vt)
{
    VARTYPE held = VT_EMPTY;
    if (source == nullptr || FAILED(SafeArrayGetVartype(source, &held)) || held != (vt & VT_TYPEMASK))
        throw std::invalid_argument("an array that is not of its type");
    if (!isAgileArray(vt)) {
        const HRESULT hr = SafeArrayCopy(source, &copy_);
        if (FAILED(hr))
            throwFor(hr);
        return;
    }
    dims_ = static_cast<uint16_t>(SafeArrayGetDim(source));
    bounds_ = std::make_unique<SAFEARRAYBOUND[]>(dims_);
    uint64_t count = 1;
    for (uint16_t d = 0; d < dims_; ++d) {
        LONG lower = 0;
        LONG upper = 0;
        if (FAILED(SafeArrayGetLBound(source, d + 1u, &lower)) || FAILED(SafeArrayGetUBound(source, d + 1u, &upper)))
            throw std::invalid_argument("an array without its bounds");
        const uint32_t elements = static_cast<uint32_t>(int64_t{upper} - lower + 1);
        bounds_[d] = SAFEARRAYBOUND{elements, lower};
        count *= elements;
    }
    if (count > UINT32_MAX)
        throw std::bad_alloc();
    count_ = static_cast<uint32_t>(count);

    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(source, &data)))
        throw std::invalid_argument("an array that cannot be read");
    struct Unaccess {
        SAFEARRAY* array;
        ~Unaccess() { (void)SafeArrayUnaccessData(array); } // accessed above
    } unaccess{source};
    if (vt == (VT_ARRAY | VT_VARIANT)) {
        variants_ = std::make_unique<ccAgileVariant[]>(count_);
        const auto* elements = static_cast<const VARIANT*>(data);
        for (uint32_t i = 0; i < count_; ++i)
            variants_[i] = elements[i];
    } else {
        interfaces_ = std::make_unique<ccAgileInterfacePtr[]>(count_);
        auto* const* elements = static_cast<IUnknown* const*>(data);
        for (uint32_t i = 0; i < count_; ++i)
            interfaces_[i].assign(elements[i], vt == (VT_ARRAY | VT_DISPATCH) ? IID_IDispatch : IID_IUnknown);
    }
}

ccAgileSafeArray::~ccAgileSafeArray()
{
    if (copy_ != nullptr)
        (void)SafeArrayDestroy(copy_); // our own copy
}

HRESULT ccAgileSafeArray::toSafeArray(SAFEARRAY** out) const
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!isAgileArray(vt_))
        return SafeArrayCopy(copy_, out);
    SAFEARRAY* made = SafeArrayCreate(vt_ & VT_TYPEMASK, dims_, bounds_.get());
    void* data = nullptr;
    if (made == nullptr || FAILED(SafeArrayAccessData(made, &data))) {
        if (made != nullptr)
            (void)SafeArrayDestroy(made);
        throw std::bad_alloc();
    }
    HRESULT hr = S_OK;
    try {
        if (variants_) {
            auto* elements = static_cast<VARIANT*>(data);
            for (uint32_t i = 0; i < count_ && SUCCEEDED(hr); ++i)
                hr = variants_[i].copyTo(&elements[i]);
        } else {
            const IID& iid = vt_ == (VT_ARRAY | VT_DISPATCH) ? IID_IDispatch : IID_IUnknown;
            auto* elements = static_cast<void**>(data);
            for (uint32_t i = 0; i < count_ && SUCCEEDED(hr); ++i)
                hr = interfaces_[i].getForCurrentThread(iid, &elements[i]);
        }
    } catch (...) {
        (void)SafeArrayUnaccessData(made);
        (void)SafeArrayDestroy(made); // frees what was put in
        throw;
    }
    (void)SafeArrayUnaccessData(made); // accessed above
    if (FAILED(hr)) {
        (void)SafeArrayDestroy(made);
        return hr;
    }
    *out = made;
    return S_OK;
}
