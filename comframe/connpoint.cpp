#include "comframe/connpoint.h"

#include <algorithm>
#include <mutex>

#include "platform/com/object.h"

void ccSinkList::invokeAll(DISPID id, int32_t count, const VARIANT* args) const
{
    std::vector<VARIANT> reversed(args, args + (count > 0 ? count : 0)); // the last argument goes first
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    for (IDispatch* sink : sinks_)
        (void)sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

ccSinkList::~ccSinkList()
{
    for (IDispatch* sink : sinks_) sink->Release();
}

HRESULT ccConnectionSinks::prepare(IUnknown* sink, Held* held)
{
    if (sink == nullptr) return E_POINTER;
    IUnknown* event = nullptr;
    const HRESULT hr = sink->QueryInterface(iid_, reinterpret_cast<void**>(&event));
    if (hr == E_NOINTERFACE || (SUCCEEDED(hr) && event == nullptr)) return CONNECT_E_CANNOTCONNECT;
    if (FAILED(hr)) return hr;
    struct Drop {
        IUnknown* p;
        ~Drop() { p->Release(); }
    } drop{event};
    auto made = std::make_shared<ccAgileInterfacePtr>();
    made->assign(event, iid_);
    *held = std::move(made);
    return S_OK;
}

DWORD ccConnectionSinks::connect(Held held)
{
    ccThreadOwnerLockGuard guard(&lock_, true);
    auto free = std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.cookie == 0; });
    if (free == entries_.end()) {
        if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.size() + kGrowth);
        entries_.push_back(Entry{0, nullptr});
        free = entries_.end() - 1;
    }
    free->sink = std::move(held);
    free->cookie = static_cast<DWORD>(free - entries_.begin()) + 1;
    return free->cookie;
}

HRESULT ccConnectionSinks::advise(IUnknown* sink, DWORD* cookie)
{
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    Held held;
    const HRESULT hr = prepare(sink, &held);
    if (FAILED(hr)) return hr;
    *cookie = connect(std::move(held)); // a failure leaves the array as it was
    return S_OK;
}

HRESULT ccConnectionSinks::disconnect(DWORD cookie, Held* gone)
{
    ccThreadOwnerLockGuard guard(&lock_, true);
    if (cookie == 0 || cookie > entries_.size() || entries_[cookie - 1].cookie != cookie)
        return CONNECT_E_NOCONNECTION;
    *gone = std::move(entries_[cookie - 1].sink);
    entries_[cookie - 1].cookie = 0;
    return S_OK;
}

HRESULT ccConnectionSinks::unadvise(DWORD cookie)
{
    Held gone; // let go after the lock: letting go of another apartment's sink may wait for it
    return disconnect(cookie, &gone);
}

uint32_t ccConnectionSinks::count()
{
    ccThreadOwnerLockGuard guard(&lock_, true);
    return static_cast<uint32_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.cookie != 0; }));
}

size_t ccConnectionSinks::capacity()
{
    ccThreadOwnerLockGuard guard(&lock_, true);
    return entries_.capacity();
}

std::vector<ccConnectionSinks::Entry> ccConnectionSinks::connected()
{
    std::vector<Entry> sinks;
    ccThreadOwnerLockGuard guard(&lock_, true);
    sinks.reserve(entries_.size());
    for (const Entry& e : entries_)
        if (e.cookie != 0) sinks.push_back(e);
    return sinks;
}

void ccConnectionSinks::takeSinks(ccSinkList& list)
{
    for (const Entry& e : connected()) {
        IDispatch* sink = nullptr;
        if (SUCCEEDED(e.sink->getForCurrentThread(IID_IDispatch, reinterpret_cast<void**>(&sink))) && sink) {
            try {
                list.add(sink);
            } catch (...) {
                sink->Release();
                throw;
            }
        }
    }
}

namespace {

inline void addRef(CONNECTDATA& d) { d.pUnk->AddRef(); }
inline void release(CONNECTDATA& d) { d.pUnk->Release(); }
inline void addRef(IConnectionPoint* p) { p->AddRef(); }
inline void release(IConnectionPoint* p) { p->Release(); }

// The items of an enumerator and its clones, one reference each.
template <class Item>
struct Items {
    std::vector<Item> items;
    Items() = default;
    Items(const Items&) = delete;
    Items& operator=(const Items&) = delete;
    ~Items()
    {
        for (Item& item : items) release(item);
    }
};

template <class IEnum, const IID* EnumIid, class Item>
class Enumerator : public CComObjectRootEx<CComMultiThreadModel>, public IEnum {
public:
    BEGIN_COM_MAP(Enumerator)
    COM_INTERFACE_ENTRY_IID(*EnumIid, IEnum)
    END_COM_MAP()

    // A new enumerator over items, at position; its reference in *out.
    static HRESULT make(std::shared_ptr<const Items<Item>> items, size_t position, IEnum** out)
    {
        CComObject<Enumerator>* e = nullptr;
        const HRESULT hr = CComObject<Enumerator>::CreateInstance(&e);
        if (FAILED(hr)) return hr;
        e->items_ = std::move(items);
        e->position_ = position;
        e->AddRef();
        *out = e;
        return S_OK;
    }

    HRESULT Next(ULONG wanted, Item* out, ULONG* fetched) override
    {
        if (out == nullptr || (wanted != 1 && fetched == nullptr)) return E_POINTER;
        std::lock_guard<std::mutex> guard(lock_);
        const std::vector<Item>& all = items_->items;
        const ULONG n = static_cast<ULONG>(std::min<size_t>(wanted, all.size() - position_));
        for (ULONG i = 0; i < n; ++i) {
            out[i] = all[position_ + i];
            addRef(out[i]);
        }
        position_ += n;
        if (fetched) *fetched = n;
        return n == wanted ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG n) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        const size_t left = items_->items.size() - position_;
        position_ += std::min<size_t>(n, left);
        return n <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        return make(items_, position_, out);
    }

private:
    std::mutex lock_;
    std::shared_ptr<const Items<Item>> items_;
    size_t position_ = 0;
};

using ConnectionEnum = Enumerator<IEnumConnections, &IID_IEnumConnections, CONNECTDATA>;
using PointEnum = Enumerator<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*>;

} // namespace

HRESULT ccConnectionSinks::enumerate(IEnumConnections** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    try {
        auto items = std::make_shared<Items<CONNECTDATA>>();
        const std::vector<Entry> sinks = connected();
        items->items.reserve(sinks.size());
        for (const Entry& e : sinks) {
            IUnknown* sink = nullptr;
            if (SUCCEEDED(e.sink->get(&sink)) && sink) items->items.push_back(CONNECTDATA{sink, e.cookie});
        }
        return ConnectionEnum::make(std::move(items), 0, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ccNewConnectionPointEnum(IConnectionPoint* const* points, size_t count, IEnumConnectionPoints** out)
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    try {
        auto items = std::make_shared<Items<IConnectionPoint*>>();
        items->items.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            points[i]->AddRef();
            items->items.push_back(points[i]);
        }
        return PointEnum::make(std::move(items), 0, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
