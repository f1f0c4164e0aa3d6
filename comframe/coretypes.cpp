// Member ids are unique across both interfaces, since objects merge them
// into one IDispatch.
#include "comframe/coretypes.h"

#include "comframe/archive.h"

#include <iterator>

const GUID LIBID_QoraltCore = {0x6E1A3C00, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01}};
const CLSID CLSID_QorArchive = {0x6E1A3C01, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01}};
const IID DIID_IQorCollectionEvents = {0x6E1A3C02, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01}};
const IID DIID_IQorChangeEvent = {0x6E1A3C03, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01}};

namespace cc_core_types {
namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

IQorObject* obj(void* p) { return static_cast<IQorObject*>(p); }
IQorArchive* arc(void* p) { return static_cast<IQorArchive*>(p); }

// The archive argument arrives as IDispatch; a null one stays null.
HRESULT persistThunk(void* i, VARIANT* a, VARIANT*)
{
    IQorArchive* archive = nullptr;
    if (a[0].pdispVal) {
        const HRESULT hr = a[0].pdispVal->QueryInterface(IID_IQorArchive, reinterpret_cast<void**>(&archive));
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    }
    const HRESULT hr = obj(i)->Persist(archive, a[1].lVal);
    if (archive) archive->Release();
    return hr;
}

// clang-format off
constexpr USHORT kIn = PARAMFLAG_FIN, kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kRetText[] = {{u"value", {VT_PTR, VT_BSTR}, kRet}};
const ParamEntry kRetObject[] = {{u"result", {VT_PTR, VT_PTR, VT_USERDEFINED}, kRet}};
const ParamEntry kCreate[] = {{u"name", {VT_BSTR}, kIn}, {u"object", {VT_PTR, VT_UNKNOWN}, kRet}};
const ParamEntry kRetVariant[] = {{u"value", {VT_PTR, VT_VARIANT}, kRet}};
const ParamEntry kVariant[] = {{u"value", {VT_VARIANT}, kIn}};
const ParamEntry kPersist[] = {{u"archive", {VT_PTR, VT_USERDEFINED}, kIn}, {u"flags", {VT_I4}, kIn}};

const FunctionEntry kObjectFunctions[] = {
    {u"GetLocalComputerName", 101, INVOKE_FUNC, kRetText, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_BSTR; return obj(i)->GetLocalComputerName(&r->bstrVal); }},
    {u"Clone", 102, INVOKE_FUNC, kRetObject, 1, [](void* i, VARIANT*, VARIANT* r) {
        IQorObject* clone = nullptr;
        const HRESULT hr = obj(i)->Clone(&clone);
        r->vt = VT_DISPATCH;
        r->pdispVal = clone;
        return hr; }},
    {u"CreateObject", 103, INVOKE_FUNC, kCreate, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_UNKNOWN; return obj(i)->CreateObject(a[0].bstrVal, &r->punkVal); }},
    {u"Tag", 104, INVOKE_PROPERTYGET, kRetVariant, 1, [](void* i, VARIANT*, VARIANT* r) { return obj(i)->get_Tag(r); }},
    {u"Tag", 104, INVOKE_PROPERTYPUT, kVariant, 1, [](void* i, VARIANT* a, VARIANT*) { return obj(i)->put_Tag(a[0]); }},
    {u"Tag", 104, INVOKE_PROPERTYPUTREF, kVariant, 1, [](void* i, VARIANT* a, VARIANT*) { return obj(i)->putref_Tag(a[0]); }},
    {u"Persist", 105, INVOKE_FUNC, kPersist, 2, &persistThunk},
};

template <VARTYPE Vt> constexpr ParamEntry kTyped[] = {{u"key", {VT_BSTR}, kIn}, {u"value", {VT_PTR, Vt}, kInOut}};
const ParamEntry kSaveObject[] = {{u"key", {VT_BSTR}, kIn}, {u"value", {VT_UNKNOWN}, kIn}};
const ParamEntry kRetUnknown[] = {{u"enumerator", {VT_PTR, VT_UNKNOWN}, kRet}};
const ParamEntry kRetLong[] = {{u"value", {VT_PTR, VT_I4}, kRet}};
const ParamEntry kItem[] = {{u"index", {VT_VARIANT}, kIn}, {u"value", {VT_PTR, VT_VARIANT}, kRet}};
const ParamEntry kFindItem[] = {{u"value", {VT_VARIANT}, kIn}, {u"position", {VT_PTR, VT_I4}, kRet}};
const ParamEntry kKey[] = {{u"position", {VT_I4}, kIn}, {u"key", {VT_PTR, VT_BSTR}, kRet}};
const ParamEntry kFindKey[] = {{u"key", {VT_BSTR}, kIn}, {u"position", {VT_PTR, VT_I4}, kRet}};

const FunctionEntry kArchiveFunctions[] = {
    {u"PersistVariant", 1, INVOKE_FUNC, kTyped<VT_VARIANT>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistVariant(a[0].bstrVal, a[1].pvarVal); }},
    {u"PersistUI1", 2, INVOKE_FUNC, kTyped<VT_UI1>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistUI1(a[0].bstrVal, a[1].pbVal); }},
    {u"PersistI2", 3, INVOKE_FUNC, kTyped<VT_I2>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistI2(a[0].bstrVal, a[1].piVal); }},
    {u"PersistI4", 4, INVOKE_FUNC, kTyped<VT_I4>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistI4(a[0].bstrVal, a[1].plVal); }},
    {u"PersistR4", 5, INVOKE_FUNC, kTyped<VT_R4>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistR4(a[0].bstrVal, a[1].pfltVal); }},
    {u"PersistR8", 6, INVOKE_FUNC, kTyped<VT_R8>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistR8(a[0].bstrVal, a[1].pdblVal); }},
    {u"PersistBoolean", 7, INVOKE_FUNC, kTyped<VT_BOOL>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistBoolean(a[0].bstrVal, a[1].pboolVal); }},
    {u"PersistString", 8, INVOKE_FUNC, kTyped<VT_BSTR>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->PersistString(a[0].bstrVal, a[1].pbstrVal); }},
    {u"LoadObject", 9, INVOKE_FUNC, kTyped<VT_UNKNOWN>, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->LoadObject(a[0].bstrVal, a[1].ppunkVal); }},
    {u"SaveObject", 10, INVOKE_FUNC, kSaveObject, 2, [](void* i, VARIANT* a, VARIANT*) { return arc(i)->SaveObject(a[0].bstrVal, a[1].punkVal); }},
    {u"_NewEnum", DISPID_NEWENUM, INVOKE_PROPERTYGET, kRetUnknown, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_UNKNOWN; return arc(i)->get__NewEnum(&r->punkVal); }},
    {u"Count", 11, INVOKE_PROPERTYGET, kRetLong, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return arc(i)->get_Count(&r->lVal); }},
    {u"Item", DISPID_VALUE, INVOKE_PROPERTYGET, kItem, 2, [](void* i, VARIANT* a, VARIANT* r) { return arc(i)->get_Item(a[0], r); }},
    {u"FindItem", 12, INVOKE_FUNC, kFindItem, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_I4; return arc(i)->FindItem(a[0], &r->lVal); }},
    {u"Key", 13, INVOKE_PROPERTYGET, kKey, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_BSTR; return arc(i)->get_Key(a[0].lVal, &r->bstrVal); }},
    {u"FindKey", 14, INVOKE_FUNC, kFindKey, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_I4; return arc(i)->FindKey(a[0].bstrVal, &r->lVal); }},
    {u"Mode", 15, INVOKE_PROPERTYGET, kRetLong, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return arc(i)->get_Mode(&r->lVal); }},
};
// clang-format on

const InterfaceEntry kArchiveClass = {&CLSID_QorArchive, u"QorArchive", nullptr, 0, TKIND_COCLASS};
const InterfaceEntry* const kInterfaces[] = {&kQorObject, &kQorArchive, &kArchiveClass};

} // namespace

const InterfaceEntry kQorObject = {&IID_IQorObject, u"IQorObject", kObjectFunctions, std::size(kObjectFunctions)};
const InterfaceEntry kQorArchive = {&IID_IQorArchive, u"IQorArchive", kArchiveFunctions, std::size(kArchiveFunctions)};
const plat::com::TypeLibraryEntry kLibrary = {&LIBID_QoraltCore, 1, 0, kInterfaces, std::size(kInterfaces)};

} // namespace cc_core_types

void ccRegisterCoreTypeLibrary()
{
    static const bool registered = (plat::com::registerTypeLibrary(cc_core_types::kLibrary), true);
    (void)registered;
}
