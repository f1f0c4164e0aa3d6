// Scoped owners of one interface reference and of one VARIANT, for code
// that must let go of them on every path.
#pragma once
#include "platform/com/base.h"
#include "platform/com/variant.h"

#include <utility>

namespace plat::com {

template <class I>
struct Ref {
    I* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref()
    {
        if (p)
            p->Release();
    }
    Ref(Ref&& other) noexcept : p(other.p) { other.p = nullptr; }
    Ref& operator=(Ref&& other) noexcept
    {
        std::swap(p, other.p);
        return *this;
    }
    // Takes over a reference the caller holds.
    explicit Ref(I* held) : p(held) {}
    void** out() { return reinterpret_cast<void**>(&p); }
    I* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { (void)VariantClear(this); } // clearing an owned value cannot fail
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

} // namespace plat::com
