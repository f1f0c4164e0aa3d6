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

} // namespace cc_grabber_types

// Registers the library under LIBID_Qorx7320, version 1.0; idempotent.
void ccRegisterModuleTypeLibrary();
