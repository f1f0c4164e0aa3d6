// Members of the module's dual interfaces called two ways on twin objects
// (made alike, so that the same calls keep them alike): late bound, by name
// through one twin's IDispatch, and directly through the interface's vtable
// on the other. Each call must give the same HRESULT (a method's own, not
// DISP_E_EXCEPTION), error text, out values and result.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "comframe/classids.h"
#include "platform/com/holders.h"
#include "platform/com/image.h"
#include "platform/com/typeinfo.h"
#include "tests/support/com_prop_host.h"

namespace late_bound {

using plat::com::Ref;
using plat::com::Variant;

// An in-argument's value, shared by the calls that copy it.
using Arg = std::shared_ptr<const Variant>;

template <class Fill> Arg arg(VARTYPE vt, Fill&& fill)
{
    auto v = std::make_shared<Variant>();
    v->vt = vt;
    fill(*v);
    return v;
}
inline Arg i4(LONG value) { return arg(VT_I4, [&](VARIANT& v) { v.lVal = value; }); }
inline Arg r8(double value) { return arg(VT_R8, [&](VARIANT& v) { v.dblVal = value; }); }
inline Arg flag(bool value) { return arg(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; }); }
inline Arg text(const char16_t* value) { return arg(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(value); }); }
inline Arg bytes(const std::vector<unsigned char>& values)
{
    return arg(VT_ARRAY | VT_UI1, [&](VARIANT& v) {
        const SAFEARRAYBOUND bound = {ULONG(values.size()), 0};
        v.parray = SafeArrayCreate(VT_UI1, 1, &bound);
        std::copy(values.begin(), values.end(), static_cast<unsigned char*>(v.parray->pvData));
    });
}

// The call on an interface pointer: the in-arguments in declared order; its
// out values, the result last, appended to outs (none: null out pointers).
using Direct = std::function<HRESULT(void* itf, const std::vector<VARIANT>& ins, std::vector<VARIANT>* outs)>;

struct Call {
    const IID* iid;
    std::u16string name;
    WORD kind; // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    std::vector<Arg> ins;
    Direct direct;
    HRESULT expected = S_OK;
    std::function<void()> before; // before each of the two calls, if any
    bool hasOuts = false;
    bool quiet = false; // it calls nothing of the module
};

// What the error handler makes of the library's exception E.
template <class E> HRESULT translated()
{
    return ccComMethod(ccCOMErrorContext{&CLSID_QorAcqFifo7320, &IID_NULL, u""}, nullptr, []() -> HRESULT { throw E(); });
}

// ---- The direct call, from the member's C++ signature -----------------------

// Pointers are out parameters, except text and arrays handed in.
template <class P> constexpr bool kOut = std::is_pointer_v<P> && !std::is_same_v<P, BSTR> && !std::is_same_v<P, SAFEARRAY*>;

template <class P> P inValue(const VARIANT& v)
{
    if constexpr (std::is_same_v<P, LONG>) return v.lVal;
    else if constexpr (std::is_same_v<P, double>) return v.dblVal;
    else if constexpr (std::is_same_v<P, VARIANT_BOOL>) return v.boolVal;
    else if constexpr (std::is_same_v<P, BSTR>) return v.bstrVal;
    else if constexpr (std::is_same_v<P, SAFEARRAY*>) return v.parray;
    else return v; // VARIANT
}

// Takes over what value owns.
template <class T> VARIANT outValue(T value)
{
    VARIANT v;
    VariantInit(&v);
    if constexpr (std::is_same_v<T, LONG>) v.vt = VT_I4, v.lVal = value;
    else if constexpr (std::is_same_v<T, double>) v.vt = VT_R8, v.dblVal = value;
    else if constexpr (std::is_same_v<T, VARIANT_BOOL>) v.vt = VT_BOOL, v.boolVal = value;
    else if constexpr (std::is_same_v<T, BSTR>) v.vt = VT_BSTR, v.bstrVal = value;
    else if constexpr (std::is_same_v<T, SAFEARRAY*>) {
        VARTYPE element = VT_EMPTY;
        if (value) (void)SafeArrayGetVartype(value, &element);
        v.vt = VT_ARRAY | element, v.parray = value;
    } else {
        static_assert(std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>);
        v.vt = std::is_base_of_v<IDispatch, std::remove_pointer_t<T>> ? VT_DISPATCH : VT_UNKNOWN;
        v.punkVal = value;
    }
    return v;
}

template <class P> struct Slot {
    using Held = std::conditional_t<kOut<P>, std::remove_pointer_t<P>, P>;
    Slot(const std::vector<VARIANT>& ins, size_t& next) : held{}
    {
        if constexpr (!kOut<P>) held = inValue<P>(ins.at(next++));
    }
    P pass(bool nullOuts)
    {
        if constexpr (kOut<P>) return nullOuts ? nullptr : &held;
        else return held;
    }
    void collect(std::vector<VARIANT>* outs)
    {
        if constexpr (kOut<P>) {
            if (outs) outs->push_back(outValue(held));
        }
    }
    Held held;
};

template <class I, class... P> Direct direct(HRESULT (I::*member)(P...))
{
    return [member](void* itf, const std::vector<VARIANT>& ins, std::vector<VARIANT>* outs) {
        size_t next = 0;
        std::tuple<Slot<P>...> slots{Slot<P>(ins, next)...}; // in order
        (void)next;
        const HRESULT hr = std::apply([&](Slot<P>&... s) { return (static_cast<I*>(itf)->*member)(s.pass(!outs)...); }, slots);
        std::apply([&](Slot<P>&... s) { (s.collect(outs), ...); }, slots);
        return hr;
    };
}

template <class I, class... P>
Call call(const IID& iid, const char16_t* name, WORD kind, HRESULT (I::*member)(P...), std::vector<Arg> ins = {},
          HRESULT expected = S_OK)
{
    return {&iid, name, kind, std::move(ins), direct(member), expected, {}, (kOut<P> || ...)};
}

// A property read, written with value (after the lead arguments, such as a
// channel) and read again.
template <class I, class... G, class... S>
std::vector<Call> prop(const IID& iid, const char16_t* name, HRESULT (I::*get)(G...), HRESULT (I::*put)(S...),
                       Arg value, std::vector<Arg> lead = {})
{
    std::vector<Arg> written = lead;
    written.push_back(std::move(value));
    return {call(iid, name, DISPATCH_PROPERTYGET, get, lead), call(iid, name, DISPATCH_PROPERTYPUT, put, written),
            call(iid, name, DISPATCH_PROPERTYGET, get, lead)};
}

// ---- What a call gave ---------------------------------------------------------

struct Outcome {
    HRESULT hr = S_OK;
    std::u16string error; // the error object's text after a failure
    std::vector<std::string> values; // out values, the result last; none after a failure
    bool operator==(const Outcome& o) const { return hr == o.hr && error == o.error && values == o.values; }
};

inline std::ostream& operator<<(std::ostream& s, const Outcome& o)
{
    s << std::hex << "0x" << uint32_t(o.hr) << std::dec << " \"" << std::string(o.error.begin(), o.error.end()) << "\"";
    for (const std::string& v : o.values) s << " " << v;
    return s;
}

inline std::string narrow(const std::u16string& text)
{
    std::string s;
    for (char16_t c : text) s += c < 128 ? char(c) : '?';
    return s;
}

std::string describe(const VARIANT& v);

// An object by what a client reads of it: an image by its size and pels, an
// enumerator by its items, anything else by the name of its type.
inline std::string describeObject(IUnknown* object)
{
    if (!object) return "null";
    Ref<IQorImage> image;
    Ref<IEnumVARIANT> items;
    Ref<IDispatch> dispatch;
    if (object->QueryInterface(IID_IQorImage, image.out()) == S_OK) {
        LONG w = 0, h = 0, format = 0;
        (void)image->get_Width(&w), (void)image->get_Height(&h), (void)image->get_PelFormat(&format);
        uint64_t sum = 0;
        for (LONG i = 0; i < w * h * plat::com::imagePlaneCount(format); ++i) sum = sum * 31 + image->pelData()[i];
        return "image " + std::to_string(w) + "x" + std::to_string(h) + " of " + std::to_string(format) + " #" + std::to_string(sum);
    }
    if (object->QueryInterface(IID_IEnumVARIANT, items.out()) == S_OK) {
        std::string all = "items";
        for (Variant item; items->Next(1, &item, nullptr) == S_OK; (void)VariantClear(&item)) all += " " + describe(item);
        return all;
    }
    Ref<ITypeInfo> info;
    BSTR name = nullptr;
    if (object->QueryInterface(IID_IDispatch, dispatch.out()) != S_OK || dispatch->GetTypeInfo(0, 0, &info.p) != S_OK
        || info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr) != S_OK)
        return "object";
    const std::string described = "object " + narrow(std::u16string(name, SysStringLen(name)));
    SysFreeString(name);
    return described;
}

inline std::string describe(const VARIANT& v)
{
    std::ostringstream s;
    if (v.vt & VT_ARRAY) { // one dimension; the element type is not told (a late-bound array may hold VARIANTs)
        VARTYPE type = VT_EMPTY;
        if (!v.parray || SafeArrayGetVartype(v.parray, &type) != S_OK) return "no array";
        s << "[";
        for (LONG i = 0; i < LONG(v.parray->rgsabound[0].cElements); ++i) {
            Variant element;
            if (type == VT_VARIANT) {
                (void)SafeArrayGetElement(v.parray, &i, &element);
            } else {
                (void)SafeArrayGetElement(v.parray, &i, &element.llVal);
                element.vt = type;
            }
            s << (i ? "," : "") << describe(element);
        }
        return s << "]", s.str();
    }
    switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_I4: s << v.lVal; break;
    case VT_UI1: s << int(v.bVal); break;
    case VT_R8: s << std::setprecision(17) << v.dblVal; break;
    case VT_BOOL: s << (v.boolVal == VARIANT_TRUE ? "true" : v.boolVal == VARIANT_FALSE ? "false" : "bool?"); break;
    case VT_BSTR: s << '"' << narrow(std::u16string(v.bstrVal, SysStringLen(v.bstrVal))) << '"'; break;
    case VT_DISPATCH:
    case VT_UNKNOWN: return describeObject(v.punkVal);
    default: s << "vt " << v.vt;
    }
    return s.str();
}

// ---- The two ways of calling ------------------------------------------------

// A member the type library describes: its name and kind, the flags of each
// parameter but the result (an out one points to a VT_I4 here), and whether
// it has a result.
struct Member {
    std::u16string name;
    WORD kind;
    std::vector<USHORT> flags;
    bool hasResult = false;
};

inline std::vector<Member> membersOf(const IID& iid)
{
    std::vector<Member> all;
    Ref<ITypeLib> lib;
    Ref<ITypeInfo> info;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Qorx7320, 1, 0, 0, &lib.p), S_OK);
    if (lib) {
        EXPECT_EQ(lib->GetTypeInfoOfGuid(iid, &info.p), S_OK);
    }
    FUNCDESC* desc = nullptr;
    for (UINT i = 0; info && info->GetFuncDesc(i, &desc) == S_OK; ++i) {
        BSTR name = nullptr;
        UINT count = 0;
        EXPECT_EQ(info->GetNames(desc->memid, &name, 1, &count), S_OK);
        all.push_back({std::u16string(name, SysStringLen(name)), WORD(desc->invkind), {}});
        SysFreeString(name);
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const USHORT flags = desc->lprgelemdescParam[p].paramdesc.wParamFlags;
            if (flags & PARAMFLAG_FRETVAL) all.back().hasResult = true;
            else all.back().flags.push_back(flags);
        }
        info->ReleaseFuncDesc(desc);
    }
    return all;
}

inline bool describes(const Member& m, const Call& c) { return m.name == c.name && m.kind == c.kind; }

// Through object's IDispatch: the name's id, then Invoke with the arguments
// (an out one by reference) last first, a put's value named.
inline Outcome lateBound(IDispatch* object, const Call& c)
{
    const std::vector<Member> all = membersOf(*c.iid);
    const auto shape = std::find_if(all.begin(), all.end(), [&](const Member& m) { return describes(m, c); });
    if (shape == all.end()) return {DISP_E_MEMBERNOTFOUND, u"not in the type library", {}};
    Outcome o;
    LPOLESTR names[] = {const_cast<LPOLESTR>(c.name.c_str())};
    DISPID id = 0;
    if (FAILED(o.hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return o;
    std::vector<LONG> outs(shape->flags.size());
    std::vector<VARIANT> args(shape->flags.size());
    size_t next = 0;
    for (size_t k = 0; k < args.size(); ++k) {
        VariantInit(&args[k]);
        if (shape->flags[k] & PARAMFLAG_FOUT) args[k].vt = VT_BYREF | VT_I4, args[k].plVal = &outs[k];
        else if (next < c.ins.size()) (void)VariantCopy(&args[k], c.ins[next++].get());
    }
    EXPECT_EQ(next, c.ins.size()) << "the row's arguments do not fit the member";
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = c.kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, UINT(reversed.size()), put ? 1u : 0u};
    Variant result;
    EXCEPINFO failure{};
    o.hr = object->Invoke(id, IID_NULL, 0, c.kind, &params, &result, &failure, nullptr);
    if (o.hr == DISP_E_EXCEPTION) {
        o.hr = failure.scode;
        if (failure.bstrDescription) o.error.assign(failure.bstrDescription, SysStringLen(failure.bstrDescription));
    }
    SysFreeString(failure.bstrSource), SysFreeString(failure.bstrDescription), SysFreeString(failure.bstrHelpFile);
    for (size_t k = 0; k < args.size(); ++k) {
        if (SUCCEEDED(o.hr) && (shape->flags[k] & PARAMFLAG_FOUT)) o.values.push_back(std::to_string(outs[k]));
        if (!(args[k].vt & VT_BYREF)) (void)VariantClear(&args[k]);
    }
    if (SUCCEEDED(o.hr) && shape->hasResult) o.values.push_back(describe(result));
    return o;
}

inline bool answers(IUnknown* object, const IID& iid)
{
    Ref<IUnknown> itf;
    return object->QueryInterface(iid, itf.out()) == S_OK;
}

// The call through the interface object answers, on copies of its
// in-arguments, with null out pointers if outs is null.
inline HRESULT directly(IUnknown* object, const Call& c, std::vector<VARIANT>* outs)
{
    Ref<IUnknown> itf;
    EXPECT_EQ(object->QueryInterface(*c.iid, itf.out()), S_OK);
    std::vector<VARIANT> ins(c.ins.size());
    for (size_t k = 0; k < ins.size(); ++k) VariantInit(&ins[k]), (void)VariantCopy(&ins[k], c.ins[k].get());
    (void)SetErrorInfo(0, nullptr);
    const HRESULT hr = itf ? c.direct(itf.p, ins, outs) : E_NOINTERFACE;
    for (VARIANT& v : ins) (void)VariantClear(&v);
    return hr;
}

inline Outcome early(IUnknown* object, const Call& c)
{
    std::vector<VARIANT> outs;
    Outcome o{directly(object, c, &outs), u"", {}};
    if (FAILED(o.hr)) o.error = ccTestErrorText();
    for (VARIANT& v : outs) {
        if (SUCCEEDED(o.hr)) o.values.push_back(v.vt == VT_I4 ? std::to_string(v.lVal) : describe(v));
        (void)VariantClear(&v);
    }
    return o;
}

// Each put followed by the same put again, of the value then in force,
// which calls nothing of the module.
inline std::vector<Call> repeatingPuts(const std::vector<Call>& calls)
{
    std::vector<Call> all;
    for (const Call& c : calls) {
        all.push_back(c);
        if (c.kind != DISPATCH_PROPERTYPUT || FAILED(c.expected)) continue;
        all.push_back(c);
        all.back().quiet = true;
    }
    return all;
}

// Each call by name on twin, then directly on other, in order; those of
// interfaces other does not answer are left out. moduleCalls, if any,
// counts the module's calls, which a quiet call leaves as they are.
inline void expectLikeDirectCalls(IUnknown* twin, IUnknown* other, const std::vector<Call>& calls,
                                  const std::function<uint32_t()>& moduleCalls = {})
{
    Ref<IDispatch> dispatch;
    ASSERT_EQ(twin->QueryInterface(IID_IDispatch, dispatch.out()), S_OK);
    for (const Call& c : calls) {
        if (!answers(other, *c.iid)) continue;
        SCOPED_TRACE(narrow(c.name) + (c.kind == DISPATCH_PROPERTYPUT ? " put" : c.kind == DISPATCH_METHOD ? " call" : " get"));
        const auto quietly = [&](auto&& call) {
            if (c.before) c.before();
            const bool counted = c.quiet && moduleCalls;
            const uint32_t before = counted ? moduleCalls() : 0;
            const Outcome o = call();
            if (counted) {
                EXPECT_EQ(moduleCalls(), before);
            }
            return o;
        };
        const Outcome byName = quietly([&] { return lateBound(dispatch.p, c); });
        const Outcome direct = quietly([&] { return early(other, c); });
        EXPECT_EQ(byName, direct);
        EXPECT_EQ(direct.hr, c.expected);
        if (FAILED(c.expected)) {
            EXPECT_FALSE(direct.error.empty());
        }
    }
}

// Each call with out parameters, made directly with null ones on object,
// is refused with E_POINTER and error information.
inline void expectNullOutsRefused(IUnknown* object, const std::vector<Call>& calls)
{
    for (const Call& c : calls) {
        if (!c.hasOuts || !answers(object, *c.iid)) continue;
        SCOPED_TRACE(narrow(c.name));
        EXPECT_EQ(directly(object, c, nullptr), E_POINTER);
        EXPECT_FALSE(ccTestErrorText().empty());
    }
}

// Each member the type library describes for the interfaces among iids that
// object answers has a call; how many it answers.
inline size_t expectEveryMemberCalled(IUnknown* object, const std::vector<const IID*>& iids, const std::vector<Call>& calls)
{
    size_t answered = 0;
    for (const IID* iid : iids) {
        if (!answers(object, *iid)) continue;
        ++answered;
        for (const Member& m : membersOf(*iid)) {
            const bool called = std::any_of(calls.begin(), calls.end(),
                                            [&](const Call& c) { return IsEqualIID(*c.iid, *iid) && describes(m, c); });
            EXPECT_TRUE(called) << narrow(m.name) << " (kind " << m.kind << ") is not called";
        }
    }
    return answered;
}

// All three of the above: the calls on the twins, every member of the
// interfaces among iids called, null outs refused; how many twin answers.
inline size_t expectTwinsAlike(IUnknown* twin, IUnknown* other, const std::vector<const IID*>& iids,
                               const std::vector<Call>& calls, const std::function<uint32_t()>& moduleCalls = {})
{
    expectLikeDirectCalls(twin, other, calls, moduleCalls);
    expectNullOutsRefused(twin, calls);
    return expectEveryMemberCalled(twin, iids, calls);
}

template <class... Lists> std::vector<Call> joined(Lists&&... lists)
{
    std::vector<Call> all;
    (all.insert(all.end(), lists.begin(), lists.end()), ...);
    return all;
}

} // namespace late_bound
