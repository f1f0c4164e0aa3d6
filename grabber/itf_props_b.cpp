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
template <VARTYPE Vt> constexpr ParamEntry kRetOf[] = {{u"value", {VT_PTR, Vt}, kRet}};
template <VARTYPE Vt> constexpr ParamEntry kValueOf[] = {{u"value", {Vt}, kIn}};
const ParamEntry kRetArray[] = {{u"values", {VT_PTR, VT_SAFEARRAY, VT_I4}, kRet}};
const ParamEntry kRect[] = {{u"x", {VT_I4}, kIn}, {u"y", {VT_I4}, kIn}, {u"width", {VT_I4}, kIn},
                            {u"height", {VT_I4}, kIn}};
const ParamEntry kOutRect[] = {{u"x", {VT_PTR, VT_I4}, kOut}, {u"y", {VT_PTR, VT_I4}, kOut},
                               {u"width", {VT_PTR, VT_I4}, kOut}, {u"height", {VT_PTR, VT_I4}, kOut}};
const ParamEntry kModeSupported[] = {{u"mode", {VT_I4}, kIn}, {u"supported", {VT_PTR, VT_BOOL}, kRet}};

// The VARIANT member and type of each COM type.
#define CC_VT_double VT_R8, dblVal
#define CC_VT_LONG VT_I4, lVal
#define CC_VT_VARIANT_BOOL VT_BOOL, boolVal
#define CC_VT_BSTR VT_BSTR, bstrVal
#define CC_VT(type) CC_VT_##type
#define CC_VT_TYPE(vt, member) vt
#define CC_VT_MEMBER(vt, member) member
#define CC_CALL(macro, args) macro args

// A read-only property, and a read-write one, of interface Itf.
#define CC_GET(Itf, Name, type)                                                                                      \
    {u## #Name, id::k##Name, INVOKE_PROPERTYGET, kRetOf<CC_CALL(CC_VT_TYPE, (CC_VT(type)))>, 1,                      \
     [](void* i, VARIANT*, VARIANT* r) {                                                                             \
         r->vt = CC_CALL(CC_VT_TYPE, (CC_VT(type)));                                                                 \
         return static_cast<Itf*>(i)->get_##Name(&r->CC_CALL(CC_VT_MEMBER, (CC_VT(type))));                          \
     }}
#define CC_PROP(Itf, Name, type)                                                                                     \
    CC_GET(Itf, Name, type),                                                                                         \
        {u## #Name, id::k##Name, INVOKE_PROPERTYPUT, kValueOf<CC_CALL(CC_VT_TYPE, (CC_VT(type)))>, 1,                \
         [](void* i, VARIANT* a, VARIANT*) {                                                                         \
             return static_cast<Itf*>(i)->put_##Name(a[0].CC_CALL(CC_VT_MEMBER, (CC_VT(type))));                     \
         }}

// clang-format off
const FunctionEntry kMasterClockFrequencyFunctions[] = {
    CC_PROP(IQorAcqMasterClockFrequency, MasterClockFrequency, double),
};

IQorAcqROI* roi(void* i) { return static_cast<IQorAcqROI*>(i); }
const FunctionEntry kROIFunctions[] = {
    {u"GetROI", id::kGetROI, INVOKE_FUNC, kOutRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->GetROI(a[0].plVal, a[1].plVal, a[2].plVal, a[3].plVal); }},
    {u"SetROI", id::kSetROI, INVOKE_FUNC, kRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->SetROI(a[0].lVal, a[1].lVal, a[2].lVal, a[3].lVal); }},
    CC_PROP(IQorAcqROI, ROIMode, LONG),
    {u"IsROIModeSupported", id::kIsROIModeSupported, INVOKE_FUNC, kModeSupported, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_BOOL; return roi(i)->IsROIModeSupported(a[0].lVal, &r->boolVal); }},
    {u"GetROILimits", id::kGetROILimits, INVOKE_FUNC, kOutRect, 4, [](void* i, VARIANT* a, VARIANT*) { return roi(i)->GetROILimits(a[0].plVal, a[1].plVal, a[2].plVal, a[3].plVal); }},
};

const FunctionEntry kOffsetClampFunctions[] = {
    CC_PROP(IQorAcqOffsetClamp, OffsetClampMode, LONG),
};

const FunctionEntry kSampleFunctions[] = {
    CC_PROP(IQorAcqSample, SampleX, LONG),
    CC_PROP(IQorAcqSample, SampleY, LONG),
};

const FunctionEntry kReadoutDirectionFunctions[] = {
    CC_PROP(IQorAcqReadoutDirection, HorizontalReadoutReversed, VARIANT_BOOL),
    CC_PROP(IQorAcqReadoutDirection, VerticalReadoutReversed, VARIANT_BOOL),
};

const FunctionEntry kTriggerFilterFunctions[] = {
    CC_PROP(IQorAcqTriggerFilter, MinTriggerWidth, double),
    CC_PROP(IQorAcqTriggerFilter, MinTriggerPeriod, double),
    CC_PROP(IQorAcqTriggerFilter, TriggerDelay, double),
    CC_PROP(IQorAcqTriggerFilter, IgnoreMissedTrigger, VARIANT_BOOL),
};

const FunctionEntry kStrobeDelayFunctions[] = {
    CC_PROP(IQorAcqStrobeDelay, StrobeDelay, double),
};

const FunctionEntry kCameraCalibrationFunctions[] = {
    CC_PROP(IQorAcqCameraCalibration, OutlierPixelCorrectionEnabled, VARIANT_BOOL),
    CC_PROP(IQorAcqCameraCalibration, RowColumnCalibrationEnabled, VARIANT_BOOL),
};

const FunctionEntry kLineScanFunctions[] = {
    CC_PROP(IQorAcqLineScan, TestEncoderEnabled, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, TestEncoderDirectionPositive, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, TriggerFromEncoderFirst, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, TriggerFromEncoderSecond, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, StepsPerLine, LONG),
    CC_PROP(IQorAcqLineScan, StepSixteenths, LONG),
    CC_PROP(IQorAcqLineScan, EncoderPort, LONG),
    CC_GET(IQorAcqLineScan, NumEncoderPorts, LONG),
    CC_PROP(IQorAcqLineScan, EncoderOffset, LONG),
    CC_PROP(IQorAcqLineScan, AcquireDirectionPositive, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, UseSingleChannel, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, EncoderResolution, LONG),
    CC_PROP(IQorAcqLineScan, StartAcqOnEncoderCount, LONG),
    CC_PROP(IQorAcqLineScan, IgnoreBackwardsMotionBetweenAcquires, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, IgnoreTooFastEncoder, VARIANT_BOOL),
    CC_PROP(IQorAcqLineScan, ResetCounterOnHardwareTrigger, VARIANT_BOOL),
    {u"ResetCounter", id::kResetCounter, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return static_cast<IQorAcqLineScan*>(i)->ResetCounter(); }},
    CC_GET(IQorAcqLineScan, CurrentEncoderCount, LONG),
    CC_PROP(IQorAcqLineScan, FirstPelOffset, LONG),
};

const FunctionEntry kStrobePulseDurationFunctions[] = {
    CC_PROP(IQorAcqStrobePulseDuration, StrobePulseDuration, double),
};

const FunctionEntry k1394DCAMFunctions[] = {
    CC_PROP(IQorAcq1394DCAM, CameraBandwidth, double),
};

IQorAcqSettingInfo* info(void* i) { return static_cast<IQorAcqSettingInfo*>(i); }
const FunctionEntry kSettingInfoFunctions[] = {
    CC_GET(IQorAcqSettingInfo, MinExposure, double),
    CC_GET(IQorAcqSettingInfo, ContrastDefaultValue, double),
    CC_GET(IQorAcqSettingInfo, BrightnessDefaultValue, double),
    CC_GET(IQorAcqSettingInfo, StrobeEnableSupported, VARIANT_BOOL),
    CC_GET(IQorAcqSettingInfo, StrobePulseDurationSupported, VARIANT_BOOL),
    {u"SupportedSampleXValues", id::kSupportedSampleXValues, INVOKE_PROPERTYGET, kRetArray, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_ARRAY | VT_I4; return info(i)->get_SupportedSampleXValues(&r->parray); }},
    {u"SupportedSampleYValues", id::kSupportedSampleYValues, INVOKE_PROPERTYGET, kRetArray, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_ARRAY | VT_I4; return info(i)->get_SupportedSampleYValues(&r->parray); }},
};

const FunctionEntry kCustomPropertiesFunctions[] = {
    CC_PROP(IQorAcqCustomProperties, CustomProperties, BSTR),
};
// clang-format on

#define CC_ENTRY(Name) {&IID_IQorAcq##Name, u"IQorAcq" #Name, k##Name##Functions, std::size(k##Name##Functions)}

} // namespace

const InterfaceEntry kAcqMasterClockFrequency = CC_ENTRY(MasterClockFrequency);
const InterfaceEntry kAcqROI = CC_ENTRY(ROI);
const InterfaceEntry kAcqSimultaneous = {&IID_IQorAcqSimultaneous, u"IQorAcqSimultaneous", nullptr, 0};
const InterfaceEntry kAcqOffsetClamp = CC_ENTRY(OffsetClamp);
const InterfaceEntry kAcqSample = CC_ENTRY(Sample);
const InterfaceEntry kAcqReadoutDirection = CC_ENTRY(ReadoutDirection);
const InterfaceEntry kAcqTriggerFilter = CC_ENTRY(TriggerFilter);
const InterfaceEntry kAcqStrobeDelay = CC_ENTRY(StrobeDelay);
const InterfaceEntry kAcqCameraCalibration = CC_ENTRY(CameraCalibration);
const InterfaceEntry kAcqLineScan = CC_ENTRY(LineScan);
const InterfaceEntry kAcqStrobePulseDuration = CC_ENTRY(StrobePulseDuration);
const InterfaceEntry kAcq1394DCAM = CC_ENTRY(1394DCAM);
const InterfaceEntry kAcqSettingInfo = CC_ENTRY(SettingInfo);
const InterfaceEntry kAcqCustomProperties = CC_ENTRY(CustomProperties);

} // namespace cc_grabber_types
