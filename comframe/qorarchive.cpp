// CQorArchive: the keyed archive, its typed Persist methods, the collection
// operations, IPropertyBag and the collection form of Persist.
#include "comframe/archive.h"
#include "comframe/internal/archive_util.h"

#include "platform/com/classes.h"

using namespace cc_archive;

namespace {

std::u16string textOf(const OLECHAR* s)
{
    return s ? std::u16string(s) : std::u16string();
}

std::u16string bstrText(BSTR s)
{
    return s ? std::u16string(s, SysStringLen(s)) : std::u16string();
}

std::u16string indexedKey(const char16_t* prefix, LONG n)
{
    std::u16string key(prefix);
    for (char c : std::to_string(n)) key += char16_t(c);
    return key;
}

bool isObject(VARTYPE vt)
{
    const VARTYPE base = vt & ~VT_BYREF;
    return base == VT_UNKNOWN || base == VT_DISPATCH;
}

[[noreturn]] void fail(HRESULT hr)
{
    throw ccCOMError(hr, 0);
}

} // namespace

CQorArchive::~CQorArchive() = default;

HRESULT CQorArchive::create(CQorArchive** archive)
{
    if (!archive) return E_POINTER;
    CComObject<CQorArchive>* made = nullptr;
    const HRESULT hr = CComObject<CQorArchive>::CreateInstance(&made);
    *archive = made;
    return hr;
}

const IID* CQorArchive::dispatchInterfaces() const
{
    static const IID interfaces[] = {IID_IQorArchive, IID_IQorObject, GUID_NULL};
    return interfaces;
}

template <class Body> HRESULT CQorArchive::method(const OLECHAR* name, Body&& body)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IQorArchive, name};
    return ccComMethod(context, nullptr, std::forward<Body>(body));
}

OLECHAR CQorArchive::decimalSeparator()
{
    std::lock_guard<std::mutex> guard(state_);
    if (!decimal_) decimal_ = plat::com::userDecimalSeparator();
    return decimal_;
}

void CQorArchive::recordFailure(const std::u16string& key, const char16_t* reason)
{
    std::lock_guard<std::mutex> guard(state_);
    if (!failures_.empty()) failures_ += u", ";
    failures_ += key;
    if (reason) failures_ += u" ", failures_ += reason;
}

std::u16string CQorArchive::loadFailures() const
{
    std::lock_guard<std::mutex> guard(state_);
    return failures_;
}

uint32_t CQorArchive::keySearches() const
{
    std::lock_guard<std::mutex> guard(state_);
    return searches_;
}

LONG CQorArchive::findKey(const OLECHAR* key) const
{
    if (!key || !*key) return -1;
    const std::u16string wanted(key);
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].key == wanted) return static_cast<LONG>(i);
    return -1;
}

CQorArchive::Index CQorArchive::indexOf(const VARIANT& index)
{
    Variant plain;
    check(VariantCopyInd(&plain, &index));
    if (plain.vt == VT_BSTR) return {true, bstrText(plain.bstrVal), -1};
    if (FAILED(VariantChangeType(&plain, &plain, 0, VT_I4))) fail(kArchiveBadIndexType);
    return {false, std::u16string(), plain.lVal};
}

LONG CQorArchive::positionOf(const Index& index, std::u16string* missName) const
{
    if (index.byKey) {
        if (missName) *missName = index.key;
        return findKey(index.key.c_str());
    }
    if (missName) *missName = indexedKey(u"#", index.position);
    return index.position >= 0 && static_cast<size_t>(index.position) < items_.size() ? index.position : -1;
}

CQorArchive::Value CQorArchive::valueOf(const VARIANT& value)
{
    Variant plain;
    check(VariantCopyInd(&plain, &value));
    auto held = std::make_shared<ccAgileVariant>();
    check(held->assign(plain));
    return held;
}

CQorArchive::Value CQorArchive::valueAt(LONG position) const
{
    std::lock_guard<std::mutex> guard(state_);
    return position >= 0 && static_cast<size_t>(position) < items_.size() ? items_[position].value : nullptr;
}

HRESULT CQorArchive::putAt(LONG position, Value value, const std::u16string* key, std::vector<Item>& dropped)
{
    if (position == static_cast<LONG>(items_.size())) {
        items_.push_back({std::move(value), key ? *key : std::u16string()});
        return S_OK;
    }
    if (position < 0 || static_cast<size_t>(position) >= items_.size()) return kArchiveBadIndex;
    dropped.push_back({std::move(value), std::u16string()});
    items_[position].value.swap(dropped.back().value);
    return S_OK;
}

// ---- Reading and writing by key ---------------------------------------------

HRESULT CQorArchive::WriteProperty(const OLECHAR* key, const VARIANT* value, const VARIANT* default_)
{
    if (!key || !value) fail(E_POINTER);
    if (!saving()) fail(E_FAIL);
    if (!ccIsValidArchiveKey(key)) {
        const ccMessageArgs args{key};
        throw ccCOMError(E_INVALIDARG, 0, kInvalidArchiveKeyMessage, &args);
    }
    if (default_
        && VarCmp(const_cast<VARIANT*>(value), const_cast<VARIANT*>(default_), 0, 0) == VARCMP_EQ)
        return S_OK;
    check(AddAt(*value, key, kArchiveAppend));
    return S_OK;
}

HRESULT CQorArchive::ReadProperty(const OLECHAR* key, const VARIANT* default_, VARIANT* result)
{
    if (!result) fail(E_POINTER);
    if (saving()) fail(E_FAIL);
    if (!ccIsValidArchiveKey(key)) {
        const ccMessageArgs args{key};
        throw ccCOMError(E_INVALIDARG, 0, kInvalidArchiveKeyMessage, &args);
    }
    const VARTYPE wanted = result->vt;
    Value found;
    {
        std::lock_guard<std::mutex> guard(state_);
        LONG at = -1;
        if (cursor_ < items_.size() && items_[cursor_].key == key) {
            at = static_cast<LONG>(cursor_);
        } else {
            ++searches_;
            at = findKey(key);
        }
        if (at >= 0) {
            cursor_ = static_cast<uint32_t>(at) + 1;
            found = items_[at].value;
        }
    }
    if (!found) {
        recordFailure(key, nullptr);
        if (default_) return VariantCopy(result, default_); // the same VARIANT: nothing to do
        fail(E_INVALIDARG);
    }
    check(found->copyTo(result));
    if (wanted == VT_EMPTY || wanted == VT_ERROR) return S_OK;
    if ((wanted == VT_R4 || wanted == VT_R8) && result->vt == VT_BSTR && result->bstrVal) {
        const OLECHAR separator = decimalSeparator();
        if (separator != u'.') {
            const UINT n = SysStringLen(result->bstrVal);
            for (UINT i = 0; i < n; ++i)
                if (result->bstrVal[i] == u'.') {
                    result->bstrVal[i] = separator;
                    break;
                }
        }
    }
    (void)VariantChangeType(result, result, 0, wanted); // a value that does not convert is judged by the caller
    return S_OK;
}

template <class T, class Get, class Put>
HRESULT CQorArchive::persistTyped(const OLECHAR* name, BSTR key, T* value, VARTYPE vt, const char16_t* reason,
                                  Get get, Put put)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IQorArchive, name};
    return ccComMethod(context, nullptr, [&]() -> HRESULT {
        if (!value) return E_POINTER;
        Variant v;
        if (saving()) {
            v.vt = vt;
            put(v, *value);
            return WriteProperty(key, &v, nullptr);
        }
        v.vt = vt;
        try {
            ReadProperty(key, nullptr, &v);
        } catch (const ccCOMError& e) {
            (void)e.report(context); // the error object stays on the thread; the caller keeps its value
            return S_FALSE;
        }
        if (v.vt != vt) {
            recordFailure(textOf(key), reason);
            return S_FALSE;
        }
        get(v, value);
        return S_OK;
    });
}

HRESULT CQorArchive::PersistVariant(BSTR key, VARIANT* value)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IQorArchive, u"PersistVariant"};
    return ccComMethod(context, nullptr, [&]() -> HRESULT {
        if (saving()) return WriteProperty(key, value, nullptr);
        if (!value) return E_POINTER;
        try {
            ReadProperty(key, nullptr, value);
        } catch (const ccCOMError& e) {
            (void)e.report(context);
            return S_FALSE;
        }
        return S_OK;
    });
}

HRESULT CQorArchive::PersistUI1(BSTR key, BYTE* value)
{
    return persistTyped(u"PersistUI1", key, value, VT_UI1, u"<invalid byte value>",
        [](VARIANT& v, BYTE* out) { *out = v.bVal; }, [](VARIANT& v, BYTE in) { v.bVal = in; });
}

HRESULT CQorArchive::PersistI2(BSTR key, SHORT* value)
{
    return persistTyped(u"PersistI2", key, value, VT_I2, u"<invalid integer value>",
        [](VARIANT& v, SHORT* out) { *out = v.iVal; }, [](VARIANT& v, SHORT in) { v.iVal = in; });
}

HRESULT CQorArchive::PersistI4(BSTR key, LONG* value)
{
    return persistTyped(u"PersistI4", key, value, VT_I4, u"<invalid long value>",
        [](VARIANT& v, LONG* out) { *out = v.lVal; }, [](VARIANT& v, LONG in) { v.lVal = in; });
}

HRESULT CQorArchive::PersistR4(BSTR key, float* value)
{
    return persistTyped(u"PersistR4", key, value, VT_R4, u"<invalid float value>",
        [](VARIANT& v, float* out) { *out = v.fltVal; }, [](VARIANT& v, float in) { v.fltVal = in; });
}

HRESULT CQorArchive::PersistR8(BSTR key, double* value)
{
    return persistTyped(u"PersistR8", key, value, VT_R8, u"<invalid double value>",
        [](VARIANT& v, double* out) { *out = v.dblVal; }, [](VARIANT& v, double in) { v.dblVal = in; });
}

HRESULT CQorArchive::PersistBoolean(BSTR key, VARIANT_BOOL* value)
{
    return persistTyped(u"PersistBoolean", key, value, VT_BOOL, u"<invalid Boolean value>",
        [](VARIANT& v, VARIANT_BOOL* out) { *out = v.boolVal; },
        [](VARIANT& v, VARIANT_BOOL in) { v.boolVal = in ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT CQorArchive::PersistString(BSTR key, BSTR* value)
{
    return persistTyped(u"PersistString", key, value, VT_BSTR, u"<invalid string value>",
        [](VARIANT& v, BSTR* out) {
            SysFreeString(*out);
            *out = v.bstrVal; // handed over
            v.vt = VT_EMPTY;
        },
        [](VARIANT& v, BSTR in) {
            v.bstrVal = SysAllocStringLen(in, SysStringLen(in));
            if (!v.bstrVal) throw std::bad_alloc();
        });
}

HRESULT CQorArchive::LoadObject(BSTR key, IUnknown** value)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IQorArchive, u"LoadObject"};
    return ccComMethod(context, nullptr, [&]() -> HRESULT {
        if (!value) return E_POINTER;
        if (saving()) return E_FAIL;
        Variant v;
        v.vt = VT_UNKNOWN;
        try {
            ReadProperty(key, nullptr, &v);
        } catch (const ccCOMError& e) {
            (void)e.report(context);
            return S_FALSE;
        }
        if (v.vt != VT_UNKNOWN) {
            recordFailure(textOf(key), u"<not an object>");
            return S_FALSE;
        }
        if (*value) (*value)->Release();
        *value = v.punkVal; // handed over
        v.vt = VT_EMPTY;
        return S_OK;
    });
}

HRESULT CQorArchive::SaveObject(BSTR key, IUnknown* value)
{
    return method(u"SaveObject", [&]() -> HRESULT {
        if (!saving()) return E_FAIL;
        VARIANT v;
        v.vt = VT_UNKNOWN;
        v.punkVal = value; // WriteProperty takes its own reference
        return WriteProperty(key, &v, nullptr);
    });
}

// ---- Reading the collection ---------------------------------------------------
// Values are taken out under state_ and copied (which may count or call
// other objects) after it.

std::vector<CQorArchive::Value> CQorArchive::values() const
{
    std::lock_guard<std::mutex> guard(state_);
    std::vector<Value> held;
    held.reserve(items_.size());
    for (const Item& item : items_) held.push_back(item.value);
    return held;
}

HRESULT CQorArchive::get__NewEnum(IUnknown** enumerator)
{
    return method(u"_NewEnum", [&]() -> HRESULT {
        if (!enumerator) return E_POINTER;
        *enumerator = nullptr;
        const std::vector<Value> held = values();
        std::vector<Variant> values(held.size());
        for (size_t i = 0; i < held.size(); ++i) {
            check(held[i]->copyTo(&values[i]));
            if (values[i].vt == VT_UNKNOWN && values[i].punkVal) {
                IDispatch* dispatch = nullptr;
                if (SUCCEEDED(values[i].punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))
                    && dispatch) {
                    (void)VariantClear(&values[i]);
                    values[i].vt = VT_DISPATCH;
                    values[i].pdispVal = dispatch;
                }
            }
        }
        IEnumVARIANT* made = nullptr;
        check(plat::com::createVariantEnumerator(values.data(), static_cast<ULONG>(values.size()), &made));
        *enumerator = made;
        return S_OK;
    });
}

HRESULT CQorArchive::get_Count(LONG* count)
{
    if (!count) return E_POINTER;
    std::lock_guard<std::mutex> guard(state_);
    *count = static_cast<LONG>(items_.size());
    return S_OK;
}

HRESULT CQorArchive::get_Item(VARIANT index, VARIANT* value)
{
    return method(u"get_Item", [&]() -> HRESULT {
        if (!value) return E_POINTER;
        VariantInit(value);
        const Index at = indexOf(index);
        std::u16string name;
        Value found;
        {
            std::lock_guard<std::mutex> guard(state_);
            const LONG position = positionOf(at, &name);
            if (position >= 0) found = items_[position].value;
        }
        if (!found) {
            recordFailure(name, nullptr);
            return kArchiveBadIndex;
        }
        return found->copyTo(value);
    });
}

HRESULT CQorArchive::GetItem(LONG position, VARIANT* value)
{
    if (!value) return E_POINTER;
    const Value found = valueAt(position);
    return found ? found->copyTo(value) : kArchiveBadIndex;
}

HRESULT CQorArchive::FindItem(VARIANT value, LONG* position)
{
    return method(u"FindItem", [&]() -> HRESULT {
        if (!position) return E_POINTER;
        *position = -1;
        Variant wanted;
        check(VariantCopyInd(&wanted, &value));
        const std::vector<Value> held = values();
        for (size_t i = 0; i < held.size(); ++i) {
            Variant stored;
            check(held[i]->copyTo(&stored));
            bool equal = false;
            if (isObject(stored.vt)) {
                // By identity: the enumerator hands out as IDispatch what was stored as IUnknown.
                if (isObject(wanted.vt)) {
                    if (!stored.punkVal || !wanted.punkVal) {
                        equal = !stored.punkVal && !wanted.punkVal;
                    } else {
                        Ref<IUnknown> a, b;
                        equal = SUCCEEDED(stored.punkVal->QueryInterface(IID_IUnknown, a.out()))
                            && SUCCEEDED(wanted.punkVal->QueryInterface(IID_IUnknown, b.out())) && a.p == b.p;
                    }
                }
            } else if (stored.vt == (VT_ARRAY | VT_UNKNOWN) || stored.vt == (VT_ARRAY | VT_DISPATCH)
                || stored.vt == (VT_ARRAY | VT_VARIANT)) {
                equal = false;
            } else if (stored.vt == VT_NULL && wanted.vt == VT_NULL) {
                equal = true;
            } else if (stored.vt == wanted.vt) {
                equal = VarCmp(&stored, &wanted, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
            }
            if (equal) {
                *position = static_cast<LONG>(i);
                break;
            }
        }
        return S_OK;
    });
}

HRESULT CQorArchive::get_Key(LONG position, BSTR* key)
{
    return method(u"get_Key", [&]() -> HRESULT {
        if (!key) return E_POINTER;
        *key = nullptr;
        std::u16string text;
        {
            std::lock_guard<std::mutex> guard(state_);
            if (position < 0 || static_cast<size_t>(position) >= items_.size()) return kArchiveBadIndex;
            text = items_[position].key;
        }
        if (text.empty()) return S_OK;
        *key = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *key ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT CQorArchive::FindKey(BSTR key, LONG* position)
{
    return method(u"FindKey", [&]() -> HRESULT {
        if (!position) return E_POINTER;
        const std::u16string wanted = bstrText(key);
        std::lock_guard<std::mutex> guard(state_);
        *position = findKey(wanted.c_str());
        return S_OK;
    });
}

HRESULT CQorArchive::get_Mode(LONG* mode)
{
    if (!mode) return E_POINTER;
    *mode = mode_.load();
    return S_OK;
}

// ---- Collection operations --------------------------------------------------
// A new value is made before state_ is taken; what an operation takes out is
// let go after it (each of dropped is declared before its guard).

HRESULT CQorArchive::AddAt(const VARIANT& value, const OLECHAR* key, LONG position)
{
    return method(u"Add", [&]() -> HRESULT {
        if ((mode_.load() & kPersistObjectsOnly) && !isObject(value.vt)) return S_OK;
        Value held = valueOf(value);
        std::lock_guard<std::mutex> guard(state_);
        if (position != kArchiveAppend && (position < 0 || static_cast<size_t>(position) > items_.size()))
            return kArchiveBadIndex;
        const size_t at = position == kArchiveAppend ? items_.size() : static_cast<size_t>(position);
        items_.insert(items_.begin() + static_cast<ptrdiff_t>(at), Item{std::move(held), textOf(key)});
        return S_OK;
    });
}

void CQorArchive::Clear()
{
    std::vector<Item> dropped;
    std::lock_guard<std::mutex> guard(state_);
    dropped.swap(items_);
}

HRESULT CQorArchive::PutItem(LONG position, const VARIANT& value)
{
    return method(u"put_Item", [&]() -> HRESULT {
        // Added at the end in the archive's mode, as Add adds.
        const bool skipped = (mode_.load() & kPersistObjectsOnly) && !isObject(value.vt);
        // A value that cannot be held leaves the old one in place.
        Value held = valueOf(value);
        std::vector<Item> dropped;
        std::lock_guard<std::mutex> guard(state_);
        if (skipped && position == static_cast<LONG>(items_.size())) return S_OK;
        return putAt(position, std::move(held), nullptr, dropped);
    });
}

HRESULT CQorArchive::PutItem(VARIANT index, const VARIANT& value)
{
    return method(u"put_Item", [&]() -> HRESULT {
        const Index at = indexOf(index);
        if (!at.byKey) return PutItem(at.position, value);
        const bool skipped = (mode_.load() & kPersistObjectsOnly) && !isObject(value.vt);
        Value held = valueOf(value);
        std::vector<Item> dropped;
        std::lock_guard<std::mutex> guard(state_);
        LONG found = findKey(at.key.c_str());
        if (found < 0) {
            if (skipped) return S_OK;
            found = static_cast<LONG>(items_.size());
        }
        return putAt(found, std::move(held), &at.key, dropped);
    });
}

HRESULT CQorArchive::PutKey(LONG position, const OLECHAR* key)
{
    return method(u"put_Key", [&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(state_);
        if (position < 0 || static_cast<size_t>(position) >= items_.size()) return kArchiveBadIndex;
        const LONG holder = findKey(key);
        if (holder == position) return S_OK;
        if (holder >= 0) return kArchiveDuplicateKey;
        items_[position].key = textOf(key);
        return S_OK;
    });
}

HRESULT CQorArchive::Move(LONG from, LONG to)
{
    return method(u"Move", [&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(state_);
        const auto count = static_cast<LONG>(items_.size());
        if (from < 0 || from >= count || to < 0 || to >= count) return kArchiveBadIndex;
        Item item = std::move(items_[from]);
        items_.erase(items_.begin() + from);
        items_.insert(items_.begin() + to, std::move(item));
        return S_OK;
    });
}

HRESULT CQorArchive::removeAt(LONG position, Value& dropped)
{
    if (position < 0 || static_cast<size_t>(position) >= items_.size()) return kArchiveBadIndex;
    dropped = std::move(items_[position].value);
    items_.erase(items_.begin() + position);
    return S_OK;
}

HRESULT CQorArchive::Remove(LONG position)
{
    return method(u"Remove", [&]() -> HRESULT {
        Value dropped;
        std::lock_guard<std::mutex> guard(state_);
        return removeAt(position, dropped);
    });
}

HRESULT CQorArchive::Remove(VARIANT index)
{
    return method(u"Remove", [&]() -> HRESULT {
        const Index at = indexOf(index);
        Value dropped;
        std::lock_guard<std::mutex> guard(state_);
        return removeAt(positionOf(at, nullptr), dropped);
    });
}

// ---- IPropertyBag and the serializer's access ---------------------------------

HRESULT CQorArchive::Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IPropertyBag, u"Read"};
    return ccComMethod(context, nullptr, [&]() -> HRESULT {
        try {
            return ReadProperty(name, value, value);
        } catch (const ccCOMError& e) {
            (void)e.report(context);
            if (errorLog) {
                ccSavedErrorInfo saved;
                if (saved.save()) {
                    saved.info.scode = 0;
                    (void)errorLog->AddError(name, &saved.info); // the log's own failure changes nothing
                }
            }
            throw ccCOMError(e.hr(), 2);
        }
    });
}

HRESULT CQorArchive::Write(LPCOLESTR name, VARIANT* value)
{
    const ccCOMErrorContext context{&GUID_NULL, &IID_IPropertyBag, u"Write"};
    return ccComMethod(context, nullptr, [&]() -> HRESULT {
        try {
            return WriteProperty(name, value, nullptr);
        } catch (const ccCOMError& e) {
            (void)e.report(context);
            throw ccCOMError(e.hr(), 2);
        }
    });
}

HRESULT CQorArchive::SetMode(LONG mode)
{
    std::lock_guard<std::mutex> guard(state_);
    mode_ = mode;
    cursor_ = 0;
    return S_OK;
}

HRESULT CQorArchive::Append(LPCOLESTR key, const VARIANT* value)
{
    if (!value) return E_POINTER;
    return AddAt(*value, key, kArchiveAppend);
}

// ---- The collection form of Persist -------------------------------------------

HRESULT CQorArchive::Persist(IQorArchive* archive, LONG flags)
{
    // Into itself, saving would add items as fast as it walks them.
    if (archive == static_cast<IQorArchive*>(this)) return E_INVALIDARG;
    HRESULT hr = ccArchiveBase::Persist(archive, flags);
    if (FAILED(hr)) return hr;
    return method(u"Persist", [&]() -> HRESULT {
        if (flags & kPersistSaving) {
            // What is saved is taken out first: the other archive is called without state_.
            std::vector<Item> saved;
            {
                std::lock_guard<std::mutex> guard(state_);
                saved = items_;
            }
            for (size_t n = 0; n < saved.size(); ++n) {
                Variant value;
                check(saved[n].value->copyTo(&value));
                Bstr itemKey(indexedKey(u"Item", static_cast<LONG>(n)));
                check(archive->PersistVariant(itemKey.p, &value));
                if (saved[n].key.empty()) continue;
                Variant key;
                key.vt = VT_BSTR;
                key.bstrVal = SysAllocStringLen(saved[n].key.data(), static_cast<UINT>(saved[n].key.size()));
                if (!key.bstrVal) throw std::bad_alloc();
                Bstr keyKey(indexedKey(u"Key", static_cast<LONG>(n)));
                check(archive->PersistVariant(keyKey.p, &key));
            }
            return S_OK;
        }
        // Everything is read before the collection changes, so a failure leaves it whole.
        std::vector<Item> loaded;
        for (LONG n = 0;; ++n) {
            Bstr itemKey(indexedKey(u"Item", n));
            LONG at = -1;
            check(archive->FindKey(itemKey.p, &at));
            if (at < 0) break;
            Variant index, value;
            index.vt = VT_I4;
            index.lVal = at;
            check(archive->get_Item(index, &value));
            Item item{valueOf(value), std::u16string()};
            Bstr keyKey(indexedKey(u"Key", n));
            check(archive->FindKey(keyKey.p, &at));
            if (at >= 0) {
                Variant key;
                index.lVal = at;
                check(archive->get_Item(index, &key));
                check(VariantChangeType(&key, &key, 0, VT_BSTR));
                item.key = bstrText(key.bstrVal);
            }
            if ((mode_.load() & kPersistObjectsOnly) && !isObject(item.value->vt())) continue;
            loaded.push_back(std::move(item));
        }
        std::lock_guard<std::mutex> guard(state_);
        loaded.swap(items_); // the old items go after the guard
        return S_OK;
    });
}

// ---- The serializer -------------------------------------------------------------

namespace {
HRESULT makeArchive(IQorArchiveStore** store)
{
    if (!store) return E_POINTER;
    *store = nullptr;
    CQorArchive* archive = nullptr;
    const HRESULT hr = CQorArchive::create(&archive);
    if (FAILED(hr)) return hr;
    static_cast<IQorArchive*>(archive)->AddRef();
    *store = archive;
    return S_OK;
}
} // namespace

HRESULT ccRegisterSerializer()
{
    return plat::com::registerSerializerStandIn(&makeArchive);
}
