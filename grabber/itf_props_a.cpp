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

const ccTriggerModel* triggerModelOf(const ccTriggerProp& prop)
{
    return prop.triggerModel() ? prop.triggerModel() : prop.triggerModelHandle().rawPointer();
}

LONG triggerModelIndex(const ccTriggerProp& prop)
{
    const ccTriggerModel* model = triggerModelOf(prop);
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
const ParamEntry kChannelRetDouble[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_PTR, VT_R8}, kRet}};
const ParamEntry kChannelDouble[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_R8}, kIn}};
const ParamEntry kChannelRetTable[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_PTR, VT_SAFEARRAY, VT_UI1}, kRet}};
const ParamEntry kChannelTable[] = {{u"Channel", {VT_I4}, kIn}, {u"value", {VT_SAFEARRAY, VT_UI1}, kIn}};

const FunctionEntry kBrightnessFunctions[] = {CC_ENTRY_PROP(IQorAcqBrightness, Brightness, kBrightness, double)};
const FunctionEntry kContrastFunctions[] = {CC_ENTRY_PROP(IQorAcqContrast, Contrast, kContrast, double)};
const FunctionEntry kBrightnessMultiChannelFunctions[] = {
    CC_ENTRY_GET(IQorAcqBrightnessMultiChannel, NumChannels, kBrightnessNumChannels, LONG),
    {u"ChannelBrightness", kChannelBrightness, INVOKE_PROPERTYGET, kChannelRetDouble, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return as<IQorAcqBrightnessMultiChannel>(i)->get_ChannelBrightness(a[0].lVal, &r->dblVal); }},
    {u"ChannelBrightness", kChannelBrightness, INVOKE_PROPERTYPUT, kChannelDouble, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqBrightnessMultiChannel>(i)->put_ChannelBrightness(a[0].lVal, a[1].dblVal); }},
};
const FunctionEntry kContrastMultiChannelFunctions[] = {
    CC_ENTRY_GET(IQorAcqContrastMultiChannel, NumChannels, kContrastNumChannels, LONG),
    {u"ChannelContrast", kChannelContrast, INVOKE_PROPERTYGET, kChannelRetDouble, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return as<IQorAcqContrastMultiChannel>(i)->get_ChannelContrast(a[0].lVal, &r->dblVal); }},
    {u"ChannelContrast", kChannelContrast, INVOKE_PROPERTYPUT, kChannelDouble, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqContrastMultiChannel>(i)->put_ChannelContrast(a[0].lVal, a[1].dblVal); }},
};
const FunctionEntry kSyncFunctions[] = {
    CC_ENTRY_PROP(IQorAcqSync, SyncModel, kSyncModel, LONG),
    CC_ENTRY_GET(IQorAcqSync, ActualSyncModel, kActualSyncModel, LONG),
};
const FunctionEntry kLightFunctions[] = {
    CC_ENTRY_PROP(IQorAcqLight, LightEnabled, kLightEnabled, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqLight, BrightFieldPowerRatio, kBrightFieldPowerRatio, double),
    CC_ENTRY_PROP(IQorAcqLight, LightPower, kLightPower, double),
    CC_ENTRY_PROP(IQorAcqLight, LightDelay, kLightDelay, double),
    CC_ENTRY_PROP(IQorAcqLight, AuxLightPort, kAuxLightPort, LONG),
    CC_ENTRY_PROP(IQorAcqLight, AuxBrightFieldPowerRatio, kAuxBrightFieldPowerRatio, double),
    CC_ENTRY_PROP(IQorAcqLight, AuxLightPower, kAuxLightPower, double),
};
const FunctionEntry kTriggerFunctions[] = {
    CC_ENTRY_PROP(IQorAcqTrigger, TriggerModel, kTriggerModel, LONG),
    CC_ENTRY_PROP(IQorAcqTrigger, TriggerEnabled, kTriggerEnabled, VARIANT_BOOL),
};
const FunctionEntry kHorizontalAdjustmentFunctions[] = {
    CC_ENTRY_PROP(IQorAcqHorizontalAdjustment, HorizontalAdjustment, kHorizontalAdjustment, double),
    CC_ENTRY_GET(IQorAcqHorizontalAdjustment, HorizontalAdjustmentLimit, kHorizontalAdjustmentLimit, double),
};
const FunctionEntry kChargeTransferIntervalFunctions[] = {
    CC_ENTRY_PROP(IQorAcqChargeTransferInterval, ChargeTransferInterval, kChargeTransferInterval, double),
    CC_ENTRY_GET(IQorAcqChargeTransferInterval, ChargeTransferIntervalLimit, kChargeTransferIntervalLimit, double),
};
const FunctionEntry kExposureFunctions[] = {CC_ENTRY_PROP(IQorAcqExposure, Exposure, kExposure, double)};
const FunctionEntry kLookupTableFunctions[] = {
    {u"LookupTable", kLookupTable, INVOKE_PROPERTYGET, kChannelRetTable, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_ARRAY | VT_UI1; return as<IQorAcqLookupTable>(i)->get_LookupTable(a[0].lVal, &r->parray); }},
    {u"LookupTable", kLookupTable, INVOKE_PROPERTYPUT, kChannelTable, 2, [](void* i, VARIANT* a, VARIANT*) { return as<IQorAcqLookupTable>(i)->put_LookupTable(a[0].lVal, a[1].parray); }},
    CC_ENTRY_GET(IQorAcqLookupTable, LookupTableSize, kLookupTableSize, LONG),
    CC_ENTRY_GET(IQorAcqLookupTable, LookupTableNumChannels, kLookupTableNumChannels, LONG),
};
const FunctionEntry kStrobeFunctions[] = {
    CC_ENTRY_PROP(IQorAcqStrobe, StrobeEnabled, kStrobeEnabled, VARIANT_BOOL),
    CC_ENTRY_PROP(IQorAcqStrobe, StrobePulsePolarityHigh, kStrobePulsePolarityHigh, VARIANT_BOOL),
};
const FunctionEntry kSettlingTimeFunctions[] = {CC_ENTRY_PROP(IQorAcqSettlingTime, SettlingTime, kSettlingTime, double)};
const FunctionEntry kDigitalCameraGainFunctions[] = {CC_ENTRY_PROP(IQorAcqDigitalCameraGain, HighGain, kHighGain, VARIANT_BOOL)};
// clang-format on

} // namespace

const InterfaceEntry kAcqBrightness = CC_ACQ_INTERFACE(Brightness);
const InterfaceEntry kAcqContrast = CC_ACQ_INTERFACE(Contrast);
const InterfaceEntry kAcqBrightnessMultiChannel = CC_ACQ_INTERFACE(BrightnessMultiChannel);
const InterfaceEntry kAcqContrastMultiChannel = CC_ACQ_INTERFACE(ContrastMultiChannel);
const InterfaceEntry kAcqSync = CC_ACQ_INTERFACE(Sync);
const InterfaceEntry kAcqLight = CC_ACQ_INTERFACE(Light);
const InterfaceEntry kAcqTrigger = CC_ACQ_INTERFACE(Trigger);
const InterfaceEntry kAcqHorizontalAdjustment = CC_ACQ_INTERFACE(HorizontalAdjustment);
const InterfaceEntry kAcqChargeTransferInterval = CC_ACQ_INTERFACE(ChargeTransferInterval);
const InterfaceEntry kAcqExposure = CC_ACQ_INTERFACE(Exposure);
const InterfaceEntry kAcqLookupTable = CC_ACQ_INTERFACE(LookupTable);
const InterfaceEntry kAcqStrobe = CC_ACQ_INTERFACE(Strobe);
const InterfaceEntry kAcqSettlingTime = CC_ACQ_INTERFACE(SettlingTime);
const InterfaceEntry kAcqDigitalCameraGain = CC_ACQ_INTERFACE(DigitalCameraGain);

} // namespace cc_grabber_types
