// The module's type library ("Qoralt 7320 Type Library"): the dispatch
// interfaces of its classes, described by tables in the code. Each group of
// interfaces defines its tables in its own file; this one gathers them.
#pragma once
#include "platform/com/typeinfo.h"

namespace cc_grabber_types {

// The acquisition FIFO's own interface.
extern const plat::com::InterfaceEntry kAcqFifo7320;
// The collection, the board, the lines and their collections.
extern const plat::com::InterfaceEntry kFrameGrabber7320s, kFrameGrabber7320, kInputLine, kOutputLine, kInputLines,
    kOutputLines;
// The input line's events.
extern const plat::com::InterfaceEntry kInputLineEvents;
// The FIFO's property interfaces, in the order the FIFO answers them.
extern const plat::com::InterfaceEntry kAcqBrightness, kAcqContrast, kAcqBrightnessMultiChannel,
    kAcqContrastMultiChannel, kAcqSync, kAcqLight, kAcqTrigger, kAcqHorizontalAdjustment, kAcqChargeTransferInterval,
    kAcqExposure, kAcqLookupTable, kAcqStrobe, kAcqSettlingTime, kAcqDigitalCameraGain;
extern const plat::com::InterfaceEntry kAcqMasterClockFrequency, kAcqROI, kAcqSimultaneous, kAcqOffsetClamp,
    kAcqSample, kAcqReadoutDirection, kAcqTriggerFilter, kAcqStrobeDelay, kAcqCameraCalibration, kAcqLineScan,
    kAcqStrobePulseDuration, kAcq1394DCAM, kAcqSettingInfo, kAcqCustomProperties;

// An interface result goes back as VT_DISPATCH (null after a failure).
template <class I> HRESULT dispatchResult(VARIANT* r, I* itf, HRESULT hr)
{
    r->vt = VT_DISPATCH;
    r->pdispVal = itf;
    return hr;
}

// The parameters of a property's get (its value the one result) and put.
template <VARTYPE Vt>
constexpr plat::com::ParamEntry kRetOf[] = {{u"value", {VT_PTR, Vt}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
template <VARTYPE Vt> constexpr plat::com::ParamEntry kValueOf[] = {{u"value", {Vt}, PARAMFLAG_FIN}};

} // namespace cc_grabber_types

// Table entries of a property of interface I with member id: its get, or its
// get and put. type is double, LONG, VARIANT_BOOL or BSTR; CC_VT_<type> gives
// its VARTYPE and VARIANT member.
#define CC_VT_double VT_R8, dblVal
#define CC_VT_LONG VT_I4, lVal
#define CC_VT_VARIANT_BOOL VT_BOOL, boolVal
#define CC_VT_BSTR VT_BSTR, bstrVal
#define CC_ENTRY_GET(I, Name, id, type) CC_ENTRY_EXPAND(CC_ENTRY_GET_VT, I, Name, id, CC_VT_##type)
#define CC_ENTRY_PUT(I, Name, id, type) CC_ENTRY_EXPAND(CC_ENTRY_PUT_VT, I, Name, id, CC_VT_##type)
#define CC_ENTRY_PROP(I, Name, id, type) CC_ENTRY_GET(I, Name, id, type), CC_ENTRY_PUT(I, Name, id, type)
// Expands CC_VT_<type> into two arguments before the call.
#define CC_ENTRY_EXPAND(macro, ...) macro(__VA_ARGS__)
#define CC_ENTRY_GET_VT(I, Name, id, Vt, field)                                                                       \
    {u"" #Name, id, INVOKE_PROPERTYGET, cc_grabber_types::kRetOf<Vt>, 1, [](void* i, VARIANT*, VARIANT* r) {       \
         r->vt = Vt;                                                                                                   \
         return static_cast<I*>(i)->get_##Name(&r->field);                                                            \
     }}
#define CC_ENTRY_PUT_VT(I, Name, id, Vt, field)                                                                       \
    {u"" #Name, id, INVOKE_PROPERTYPUT, cc_grabber_types::kValueOf<Vt>, 1,                                            \
     [](void* i, VARIANT* a, VARIANT*) { return static_cast<I*>(i)->put_##Name(a[0].field); }}
// The interface entry of IQorAcq<Name>, its functions in k<Name>Functions.
#define CC_ACQ_INTERFACE(Name)                                                                                        \
    {&IID_IQorAcq##Name, u"IQorAcq" #Name, k##Name##Functions, std::size(k##Name##Functions)}

// Registers the library under LIBID_Qorx7320, version 1.0; idempotent.
void ccRegisterModuleTypeLibrary();
