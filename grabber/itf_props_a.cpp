// The first fourteen property interfaces of the acquisition FIFO: their
// tables, and the helpers their mixins share.
#include "grabber/itf_props_a.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "grabber/typelib.h"
#include "platform/com/holders.h"

namespace cc_props_a {

ccPtrHandle<ccTriggerModel> triggerModelOfIndex(LONG index)
{
    // A client's bad index is a bad argument, not a failure of the model.
    if (index < 0 || index > 4) throw ccCOMError(E_INVALIDARG, 0);
    return ccTriggerModel::fromIndex(index);
}

LONG triggerModelIndex(const ccTriggerProp& prop)
{
    const ccTriggerModel* model = prop.triggerModel();
    if (!model) model = prop.triggerModelHandle().rawPointer();
    // The property always holds a model; the codes run from Manual's on.
    return model ? LONG(model->code() - ccTriggerModel::kCodeManual) : 0;
}

bool lookupTableHolds(cc8BitInputLutProp& prop, const unsigned char* table, int32_t n, int32_t channel)
{
    const int32_t size = prop.size();
    const int32_t channels = prop.numChannels();
    if (!table || n < 1 || n > size || channel < -1 || channel >= channels) return false;
    const int32_t first = channel < 0 ? 0 : channel;
    const int32_t last = channel < 0 ? channels - 1 : channel;
    for (int32_t c = first; c <= last; ++c) {
        const unsigned char* held = prop.table(c);
        if (!held) return false;
        for (int32_t i = 0; i < size; ++i)
            if (held[i] != table[int64_t(i) * n / size]) return false;
    }
    return true;
}

SAFEARRAY* lookupTableArray(cc8BitInputLutProp& prop, int32_t channel)
{
    const int32_t size = prop.size();
    const unsigned char* table = channel < 0 ? nullptr : prop.table(channel);
    if (!table) throw ccCOMError(E_INVALIDARG, 0);
    const SAFEARRAYBOUND bound = {ULONG(size), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) throw std::bad_alloc();
    std::copy(table, table + size, static_cast<unsigned char*>(array->pvData));
    return array;
}

ccByteArrayReader::ccByteArrayReader(SAFEARRAY* array) : array_(nullptr)
{
    VARTYPE vt = VT_EMPTY;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &vt)) || vt != VT_UI1
        || array->rgsabound[0].cElements > uint32_t(INT32_MAX))
        throw ccCOMError(E_INVALIDARG, 0);
    void* data = nullptr;
    check(SafeArrayAccessData(array, &data));
    array_ = array;
    data_ = static_cast<const unsigned char*>(data);
    size_ = int32_t(array->rgsabound[0].cElements);
}

ccByteArrayReader::~ccByteArrayReader()
{
    if (array_) (void)SafeArrayUnaccessData(array_); // accessed in the constructor: cannot fail
}

void persistLookupTables(IQorArchive* archive, LONG flags, cc8BitInputLutProp& prop)
{
    const int32_t channels = prop.numChannels();
    for (int32_t c = 0; c < channels; ++c) {
        const std::string digits = "LookupTable" + std::to_string(c);
        const Key key(std::u16string(digits.begin(), digits.end()).c_str());
        plat::com::Variant value;
        if (flags & kPersistSaving) {
            value.vt = VT_ARRAY | VT_UI1;
            value.parray = lookupTableArray(prop, c);
            check(archive->PersistVariant(key.get(), &value));
            continue;
        }
        const HRESULT hr = archive->PersistVariant(key.get(), &value);
        check(hr);
        if (hr != S_OK) continue;
        if (value.vt != (VT_ARRAY | VT_UI1)) throw ccCOMError(E_INVALIDARG, 0);
        const ccByteArrayReader bytes(value.parray);
        prop.inputLut(bytes.data(), bytes.size(), c);
    }
}

} // namespace cc_props_a

namespace cc_grabber_types {
namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;
using namespace cc_props_a;

template <class I> I* as(void* p) { return static_cast<I*>(p); }

// clang-format off
constexpr USHORT kIn = PARAMFLAG_FIN, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kRetDouble[] = {{u"value", {VT_PTR, VT_R8}, kRet}};
const ParamEntry kDouble[] = {{u"value", {VT_R8}, kIn}};
const ParamEntry kRetLong[] = {{u"value", {VT_PTR, VT_I4}, kRet}};
const ParamEntry kLong[] = {{u"value", {VT_I4}, kIn}};
const ParamEntry kRetBool[] = {{u"value", {VT_PTR, VT_BOOL}, kRet}};
const ParamEntry kBool[] = {{u"value", {VT_BOOL}, kIn}};
const ParamEntry kChannelRetDouble[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_PTR, VT_R8}, kRet}};
const ParamEntry kChannelDouble[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_R8}, kIn}};
const ParamEntry kChannelRetTable[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_PTR, VT_SAFEARRAY, VT_UI1}, kRet}};
const ParamEntry kChannelTable[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_SAFEARRAY, VT_UI1}, kIn}};

// VT_R8's field is dblVal, VT_I4's lVal, VT_BOOL's boolVal.
#define CC_DOUBLE(I, Name, id) CC_GET_T(I, Name, id, Double, VT_R8, dblVal), CC_PUT_T(I, Name, id, Double, dblVal)
#define CC_LONG(I, Name, id) CC_GET_T(I, Name, id, Long, VT_I4, lVal), CC_PUT_T(I, Name, id, Long, lVal)
#define CC_BOOL(I, Name, id) CC_GET_T(I, Name, id, Bool, VT_BOOL, boolVal), CC_PUT_T(I, Name, id, Bool, boolVal)
#define CC_GET_T(I, Name, id, Kind, Vt, field) \
    {u"" #Name, id, INVOKE_PROPERTYGET, kRet##Kind, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = Vt; return as<I>(i)->get_##Name(&r->field); }}
#define CC_PUT_T(I, Name, id, Kind, field) \
    {u"" #Name, id, INVOKE_PROPERTYPUT, k##Kind, 1, [](void* i, VARIANT* a, VARIANT*) { return as<I>(i)->put_##Name(a[0].field); }}

const FunctionEntry kBrightnessFunctions[] = {CC_DOUBLE(IQorAcqBrightness, Brightness, kBrightness)};
const FunctionEntry kContrastFunctions[] = {CC_DOUBLE(IQorAcqContrast, Contrast, kContrast)};
const FunctionEntry kBrightnessMultiChannelFunctions[] = {
    CC_GET_T(IQorAcqBrightnessMultiChannel, NumChannels, kBrightnessNumChannels, Long, VT_I4, lVal),
    {u"ChannelBrightness", kChannelBrightness, INVOKE_PROPERTYGET, kChannelRetDouble, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return as<IQorAcqBrightnessMultiChannel>(i)->get_ChannelBrightness(a[0].lVal, &r->dblVal); }},
    {u"ChannelBrightness", kChannelBrightness, INVOKE_PROPERTYPUT, kChannelDouble, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqBrightnessMultiChannel>(i)->put_ChannelBrightness(a[0].lVal, a[1].dblVal); }},
};
const FunctionEntry kContrastMultiChannelFunctions[] = {
    CC_GET_T(IQorAcqContrastMultiChannel, NumChannels, kContrastNumChannels, Long, VT_I4, lVal),
    {u"ChannelContrast", kChannelContrast, INVOKE_PROPERTYGET, kChannelRetDouble, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return as<IQorAcqContrastMultiChannel>(i)->get_ChannelContrast(a[0].lVal, &r->dblVal); }},
    {u"ChannelContrast", kChannelContrast, INVOKE_PROPERTYPUT, kChannelDouble, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqContrastMultiChannel>(i)->put_ChannelContrast(a[0].lVal, a[1].dblVal); }},
};
const FunctionEntry kSyncFunctions[] = {
    CC_LONG(IQorAcqSync, SyncModel, kSyncModel),
    CC_GET_T(IQorAcqSync, ActualSyncModel, kActualSyncModel, Long, VT_I4, lVal),
};
const FunctionEntry kLightFunctions[] = {
    CC_BOOL(IQorAcqLight, LightEnabled, kLightEnabled),
    CC_DOUBLE(IQorAcqLight, BrightFieldPowerRatio, kBrightFieldPowerRatio),
    CC_DOUBLE(IQorAcqLight, LightPower, kLightPower),
    CC_DOUBLE(IQorAcqLight, LightDelay, kLightDelay),
    CC_LONG(IQorAcqLight, AuxLightPort, kAuxLightPort),
    CC_DOUBLE(IQorAcqLight, AuxBrightFieldPowerRatio, kAuxBrightFieldPowerRatio),
    CC_DOUBLE(IQorAcqLight, AuxLightPower, kAuxLightPower),
};
const FunctionEntry kTriggerFunctions[] = {
    CC_LONG(IQorAcqTrigger, TriggerModel, kTriggerModel),
    CC_BOOL(IQorAcqTrigger, TriggerEnabled, kTriggerEnabled),
};
const FunctionEntry kHorizontalAdjustmentFunctions[] = {
    CC_DOUBLE(IQorAcqHorizontalAdjustment, HorizontalAdjustment, kHorizontalAdjustment),
    CC_GET_T(IQorAcqHorizontalAdjustment, HorizontalAdjustmentLimit, kHorizontalAdjustmentLimit, Double, VT_R8, dblVal),
};
const FunctionEntry kChargeTransferIntervalFunctions[] = {
    CC_DOUBLE(IQorAcqChargeTransferInterval, ChargeTransferInterval, kChargeTransferInterval),
    CC_GET_T(IQorAcqChargeTransferInterval, ChargeTransferIntervalLimit, kChargeTransferIntervalLimit, Double, VT_R8, dblVal),
};
const FunctionEntry kExposureFunctions[] = {CC_DOUBLE(IQorAcqExposure, Exposure, kExposure)};
const FunctionEntry kLookupTableFunctions[] = {
    {u"LookupTable", kLookupTable, INVOKE_PROPERTYGET, kChannelRetTable, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_ARRAY | VT_UI1; return as<IQorAcqLookupTable>(i)->get_LookupTable(a[0].lVal, &r->parray); }},
    {u"LookupTable", kLookupTable, INVOKE_PROPERTYPUT, kChannelTable, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqLookupTable>(i)->put_LookupTable(a[0].lVal, a[1].parray); }},
    CC_GET_T(IQorAcqLookupTable, LookupTableSize, kLookupTableSize, Long, VT_I4, lVal),
    CC_GET_T(IQorAcqLookupTable, LookupTableNumChannels, kLookupTableNumChannels, Long, VT_I4, lVal),
};
const FunctionEntry kStrobeFunctions[] = {
    CC_BOOL(IQorAcqStrobe, StrobeEnabled, kStrobeEnabled),
    CC_BOOL(IQorAcqStrobe, StrobePulsePolarityHigh, kStrobePulsePolarityHigh),
};
const FunctionEntry kSettlingTimeFunctions[] = {CC_DOUBLE(IQorAcqSettlingTime, SettlingTime, kSettlingTime)};
const FunctionEntry kDigitalCameraGainFunctions[] = {CC_BOOL(IQorAcqDigitalCameraGain, HighGain, kHighGain)};
// clang-format on

#undef CC_DOUBLE
#undef CC_LONG
#undef CC_BOOL
#undef CC_GET_T
#undef CC_PUT_T

} // namespace

#define CC_INTERFACE(Name) \
    const InterfaceEntry kAcq##Name = {&IID_IQorAcq##Name, u"IQorAcq" #Name, k##Name##Functions, std::size(k##Name##Functions)};
CC_INTERFACE(Brightness)
CC_INTERFACE(Contrast)
CC_INTERFACE(BrightnessMultiChannel)
CC_INTERFACE(ContrastMultiChannel)
CC_INTERFACE(Sync)
CC_INTERFACE(Light)
CC_INTERFACE(Trigger)
CC_INTERFACE(HorizontalAdjustment)
CC_INTERFACE(ChargeTransferInterval)
CC_INTERFACE(Exposure)
CC_INTERFACE(LookupTable)
CC_INTERFACE(Strobe)
CC_INTERFACE(SettlingTime)
CC_INTERFACE(DigitalCameraGain)
#undef CC_INTERFACE

} // namespace cc_grabber_types
