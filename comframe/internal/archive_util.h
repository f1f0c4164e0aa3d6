#pragma once
// Small owners for the archive and persistence code.
#include "comframe/comerror.h"
#include "platform/com/bstr.h"
#include "platform/com/variant.h"

#include <new>
#include <string>

namespace cc_archive {

template <class I> struct Ref {
    I* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref()
    {
        if (p) p->Release();
    }
    void** out() { return reinterpret_cast<void**>(&p); }
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { (void)VariantClear(this); } // clearing an owned value cannot fail
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

struct Bstr {
    BSTR p = nullptr;
    explicit Bstr(const std::u16string& text)
        : p(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!p) throw std::bad_alloc();
    }
    ~Bstr() { SysFreeString(p); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

inline void check(HRESULT hr)
{
    if (FAILED(hr)) ccThrowCOMError(hr);
}

} // namespace cc_archive
