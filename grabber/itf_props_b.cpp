// The tables of the second group of the FIFO's property interfaces.
#include "grabber/typelib.h"

#include <iterator>

#include "grabber/itf_props_b.h"

namespace cc_grabber_types {
namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;
namespace id = cc_props_b;

constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kRetArray[] = {{u"values", {VT_PTR, VT_SAFEARRAY, VT_I4}, kRet}};
const ParamEntry kRect[] = {{u"x", {VT_I4}, kIn}, {u"y", {VT_I4}, kIn}, {u"width", {VT_I4}, kIn},
                            {u"height", {VT_I4}, kIn}};
const ParamEntry kOutRect[] = {{u"x", {VT_PTR, VT_I4}, kOut}, {u"y", {VT_PTR, VT_I4}, kOut},
                               {u"width", {VT_PTR, VT_I4}, kOut}, {u"height", {VT_PTR, VT_I4}, kOut}};
const ParamEntry kModeSupported[] = {{u"mode", {VT_I4}, kIn}, {u"supported", {VT_PTR, VT_BOOL}, kRet}};

// clang-format off
const FunctionEntry kMasterClockFrequencyFunctions[] = {
    CC_ENTRY_PROP(IQorAcqMasterClockFrequency, MasterClockFrequency, id::kMasterClockFrequency, double),
};

IQorAcqROI* roi(void* i) { return static_cast<IQorAcqROI*>(i); }
const FunctionEntry kROIFunctions[] = {
    {u"GetROI", id::kGetROI, INVOKE_FUNC, kOutRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->GetROI(a[0].plVal, a[1].plVal, a[2].plVal, a[3].plVal); }},
    {u"SetROI", id::kSetROI, INVOKE_FUNC, kRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->SetROI(a[0].lVal, a[1].lVal, a[2].lVal, a[3].lVal); }},
    CC_ENTRY_PROP(IQorAcqROI, ROIMode, id::kROIMode, LONG),
    {u"IsROIModeSupported", id::kIsROIModeSupported, INVOKE_FUNC, kModeSupported, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_BOOL; return roi(i)->IsROIModeSupported(a[0].lVal, &r->boolVal); }},
    {u"GetROILimits", id::kGetROILimits, INVOKE_FUNC, kOutRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->GetROILimits(a[0].plVal, a[1].plVal, a[2].plVal, a[3].plVal); }},
};

const FunctionEntry kOffsetClampFunctions[] = {
    CC_ENTRY_PROP(IQorAcqOffsetClamp, OffsetClampMode, id::kOffsetClampMode, LONG),
};

const FunctionEntry kSampleFunctions[] = {
    CC_ENTRY_PROP(IQorAcqSample, SampleX, id::kSampleX, LONG),
    CC_ENTRY_PROP(IQorAcqSample, SampleY, id::kSampleY, LONG),
};

const FunctionEntry kReadoutDirectionFunctions[] = {
    CC_ENTRY_PROP(IQorAcqReadoutDirection, HorizontalReadoutReversed, id::kHorizontalReadoutReversed, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqReadoutDirection, VerticalReadoutReversed, id::kVerticalReadoutReversed, VARIANT_BOOL),
};

const FunctionEntry kTriggerFilterFunctions[] = {
    CC_ENTRY_PROP(IQorAcqTriggerFilter, MinTriggerWidth, id::kMinTriggerWidth, double),
    CC_ENTRY_PROP(IQorAcqTriggerFilter, MinTriggerPeriod, id::kMinTriggerPeriod, double),
    CC_ENTRY_PROP(IQorAcqTriggerFilter, TriggerDelay, id::kTriggerDelay, double),
    CC_ENTRY_PROP(IQorAcqTriggerFilter, IgnoreMissedTrigger, id::kIgnoreMissedTrigger, VARIANT_BOOL),
};

const FunctionEntry kStrobeDelayFunctions[] = {
    CC_ENTRY_PROP(IQorAcqStrobeDelay, StrobeDelay, id::kStrobeDelay, double),
};

const FunctionEntry kCameraCalibrationFunctions[] = {
    CC_ENTRY_PROP(IQorAcqCameraCalibration, OutlierPixelCorrectionEnabled, id::kOutlierPixelCorrectionEnabled, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqCameraCalibration, RowColumnCalibrationEnabled, id::kRowColumnCalibrationEnabled, VARIANT_BOOL),
};

const FunctionEntry kLineScanFunctions[] = {
    CC_ENTRY_PROP(IQorAcqLineScan, TestEncoderEnabled, id::kTestEncoderEnabled, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, TestEncoderDirectionPositive, id::kTestEncoderDirectionPositive, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, TriggerFromEncoderFirst, id::kTriggerFromEncoderFirst, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, TriggerFromEncoderSecond, id::kTriggerFromEncoderSecond, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, StepsPerLine, id::kStepsPerLine, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, StepSixteenths, id::kStepSixteenths, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, EncoderPort, id::kEncoderPort, LONG),
    CC_ENTRY_GET(IQorAcqLineScan, NumEncoderPorts, id::kNumEncoderPorts, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, EncoderOffset, id::kEncoderOffset, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, AcquireDirectionPositive, id::kAcquireDirectionPositive, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, UseSingleChannel, id::kUseSingleChannel, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, EncoderResolution, id::kEncoderResolution, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, StartAcqOnEncoderCount, id::kStartAcqOnEncoderCount, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, IgnoreBackwardsMotionBetweenAcquires, id::kIgnoreBackwardsMotionBetweenAcquires, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, IgnoreTooFastEncoder, id::kIgnoreTooFastEncoder, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLineScan, ResetCounterOnHardwareTrigger, id::kResetCounterOnHardwareTrigger, VARIANT_BOOL),
    {u"ResetCounter", id::kResetCounter, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return static_cast<IQorAcqLineScan*>(i)->ResetCounter(); }},
    CC_ENTRY_GET(IQorAcqLineScan, CurrentEncoderCount, id::kCurrentEncoderCount, LONG),
    CC_ENTRY_PROP(IQorAcqLineScan, FirstPelOffset, id::kFirstPelOffset, LONG),
};

const FunctionEntry kStrobePulseDurationFunctions[] = {
    CC_ENTRY_PROP(IQorAcqStrobePulseDuration, StrobePulseDuration, id::kStrobePulseDuration, double),
};

const FunctionEntry k1394DCAMFunctions[] = {
    CC_ENTRY_PROP(IQorAcq1394DCAM, CameraBandwidth, id::kCameraBandwidth, double),
};

IQorAcqSettingInfo* info(void* i) { return static_cast<IQorAcqSettingInfo*>(i); }
const FunctionEntry kSettingInfoFunctions[] = {
    CC_ENTRY_GET(IQorAcqSettingInfo, MinExposure, id::kMinExposure, double),
    CC_ENTRY_GET(IQorAcqSettingInfo, ContrastDefaultValue, id::kContrastDefaultValue, double),
    CC_ENTRY_GET(IQorAcqSettingInfo, BrightnessDefaultValue, id::kBrightnessDefaultValue, double),
    CC_ENTRY_GET(IQorAcqSettingInfo, StrobeEnableSupported, id::kStrobeEnableSupported, VARIANT_BOOL),
    CC_ENTRY_GET(IQorAcqSettingInfo, StrobePulseDurationSupported, id::kStrobePulseDurationSupported, VARIANT_BOOL),
    {u"SupportedSampleXValues", id::kSupportedSampleXValues, INVOKE_PROPERTYGET, kRetArray, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_ARRAY | VT_I4; return info(i)->get_SupportedSampleXValues(&r->parray); }},
    {u"SupportedSampleYValues", id::kSupportedSampleYValues, INVOKE_PROPERTYGET, kRetArray, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_ARRAY | VT_I4; return info(i)->get_SupportedSampleYValues(&r->parray); }},
};

const FunctionEntry kCustomPropertiesFunctions[] = {
    CC_ENTRY_PROP(IQorAcqCustomProperties, CustomProperties, id::kCustomProperties, BSTR),
};
// clang-format on

} // namespace

const InterfaceEntry kAcqMasterClockFrequency = CC_ACQ_INTERFACE(MasterClockFrequency);
const InterfaceEntry kAcqROI = CC_ACQ_INTERFACE(ROI);
const InterfaceEntry kAcqSimultaneous = {&IID_IQorAcqSimultaneous, u"IQorAcqSimultaneous", nullptr, 0};
const InterfaceEntry kAcqOffsetClamp = CC_ACQ_INTERFACE(OffsetClamp);
const InterfaceEntry kAcqSample = CC_ACQ_INTERFACE(Sample);
const InterfaceEntry kAcqReadoutDirection = CC_ACQ_INTERFACE(ReadoutDirection);
const InterfaceEntry kAcqTriggerFilter = CC_ACQ_INTERFACE(TriggerFilter);
const InterfaceEntry kAcqStrobeDelay = CC_ACQ_INTERFACE(StrobeDelay);
const InterfaceEntry kAcqCameraCalibration = CC_ACQ_INTERFACE(CameraCalibration);
const InterfaceEntry kAcqLineScan = CC_ACQ_INTERFACE(LineScan);
const InterfaceEntry kAcqStrobePulseDuration = CC_ACQ_INTERFACE(StrobePulseDuration);
const InterfaceEntry kAcq1394DCAM = CC_ACQ_INTERFACE(1394DCAM);
const InterfaceEntry kAcqSettingInfo = CC_ACQ_INTERFACE(SettingInfo);
const InterfaceEntry kAcqCustomProperties = CC_ACQ_INTERFACE(CustomProperties);

} // namespace cc_grabber_types
