#pragma once
// Small owners for the archive and persistence code.
#include "comframe/comerror.h"
#include "platform/com/bstr.h"
#include "platform/com/holders.h"
#include "platform/com/variant.h"

#include <new>
#include <string>

namespace cc_archive {

using plat::com::Ref;
using plat::com::Variant;

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
