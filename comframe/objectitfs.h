// Interfaces the object bases answer beyond IQorObject, and the ids of the
// acquisition FIFO's property interfaces.
//
// Only what the bases themselves use is declared: IQorChangeEventConfiguration
// and IQorDiscreteIO have no operations of their own yet (their IDispatch is
// the object's), and IQorComInternal has the least a library-object holder
// needs. The FIFO's property interfaces are given by id only; their
// operations come with the FIFO object.
#pragma once
#include "platform/com/base.h"

#include <typeinfo>

// The library object behind a COM object, for code of the module that must
// reach it. A class without one answers E_NOTIMPL.
struct IQorComInternal : IUnknown {
    // The library object, not counted; out is null on failure.
    virtual HRESULT GetImpl(void** impl) = 0;
    // Puts impl, an object of class kind (the class GetImpl gives, not one
    // derived from it), in place of the current library object. Another
    // kind, or null, is refused with E_INVALIDARG and changes nothing.
    virtual HRESULT SetImpl(const std::type_info& kind, void* impl) = 0;
};
extern const IID IID_IQorComInternal;

// SetImpl with impl as the class T the object holds.
template <class T> struct ccImplKind {
    using type = T;
};
template <class T> HRESULT ccSetImpl(IQorComInternal* internal, typename ccImplKind<T>::type* impl)
{
    return internal->SetImpl(typeid(T), impl);
}
// What SetImpl was given as T; null for another kind.
template <class T> T* ccImplOfKind(const std::type_info& kind, void* impl)
{
    return kind == typeid(T) ? static_cast<T*>(impl) : nullptr;
}

// How an object tells of its changes; scripting reaches it through the
// object's IDispatch.
struct IQorChangeEventConfiguration : IDispatch {
};
extern const IID IID_IQorChangeEventConfiguration;

// The board's discrete input and output lines; scripting reaches it through
// the object's IDispatch.
struct IQorDiscreteIO : IDispatch {
};
extern const IID IID_IQorDiscreteIO;


// The FIFO's 28 property interfaces, in the order the FIFO answers them, and
// that list ended by GUID_NULL for the FIFO's merged IDispatch.
extern const IID IID_IQorAcqBrightness, IID_IQorAcqContrast, IID_IQorAcqBrightnessMultiChannel,
    IID_IQorAcqContrastMultiChannel, IID_IQorAcqSync, IID_IQorAcqLight, IID_IQorAcqTrigger,
    IID_IQorAcqHorizontalAdjustment, IID_IQorAcqChargeTransferInterval, IID_IQorAcqExposure, IID_IQorAcqLookupTable,
    IID_IQorAcqStrobe, IID_IQorAcqSettlingTime, IID_IQorAcqDigitalCameraGain, IID_IQorAcqMasterClockFrequency,
    IID_IQorAcqROI, IID_IQorAcqSimultaneous, IID_IQorAcqOffsetClamp, IID_IQorAcqSample, IID_IQorAcqReadoutDirection,
    IID_IQorAcqTriggerFilter, IID_IQorAcqStrobeDelay, IID_IQorAcqCameraCalibration, IID_IQorAcqLineScan,
    IID_IQorAcqStrobePulseDuration, IID_IQorAcq1394DCAM, IID_IQorAcqSettingInfo, IID_IQorAcqCustomProperties;
extern const IID kQorAcqFifoPropertyIids[29];
