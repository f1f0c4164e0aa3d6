// The first fourteen property interfaces of the acquisition FIFO object and
// the mixins that implement them for the FIFO class T.
//
// T provides propertyCall(iid, method, body), which runs body(query) under the
// object's lock inside its one error handler, and propertyChanged(memberId),
// called after a put changed a value. A put of the value in force calls
// neither the library nor propertyChanged.
#pragma once
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/horizadj.h"
#include "acq/hyper/prop/ilut8.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/propquery.h"
#include "acq/hyper/prop/settletm.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/trig.h"
#include "acq/trigmodel.h"
#include "comframe/comerror.h"
#include "comframe/objectitfs.h"
#include "grabber/comhelpers.h"
#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/com/serializer.h"

// Member ids: 20 per interface from 200, in the FIFO's order.
namespace cc_props_a {
constexpr DISPID kBrightness = 200;
constexpr DISPID kContrast = 220;
constexpr DISPID kBrightnessNumChannels = 240, kChannelBrightness = 241;
constexpr DISPID kContrastNumChannels = 260, kChannelContrast = 261;
constexpr DISPID kSyncModel = 280, kActualSyncModel = 281;
constexpr DISPID kLightEnabled = 300, kBrightFieldPowerRatio = 301, kLightPower = 302, kLightDelay = 303,
                 kAuxLightPort = 304, kAuxBrightFieldPowerRatio = 305, kAuxLightPower = 306;
constexpr DISPID kTriggerModel = 320, kTriggerEnabled = 321;
constexpr DISPID kHorizontalAdjustment = 340, kHorizontalAdjustmentLimit = 341;
constexpr DISPID kChargeTransferInterval = 360, kChargeTransferIntervalLimit = 361;
constexpr DISPID kExposure = 380;
constexpr DISPID kLookupTable = 400, kLookupTableSize = 401, kLookupTableNumChannels = 402;
constexpr DISPID kStrobeEnabled = 420, kStrobePulsePolarityHigh = 421;
constexpr DISPID kSettlingTime = 440;
constexpr DISPID kHighGain = 460;
} // namespace cc_props_a

// Brightness and contrast, 0 to 1: a put sets every channel, a get reads
// channel 0.
struct IQorAcqBrightness : IDispatch {
    virtual HRESULT get_Brightness(double* value) = 0;
    virtual HRESULT put_Brightness(double value) = 0;
};
struct IQorAcqContrast : IDispatch {
    virtual HRESULT get_Contrast(double* value) = 0;
    virtual HRESULT put_Contrast(double value) = 0;
};
// Per channel, 0 to channels - 1; a put to channel -1 sets every channel.
struct IQorAcqBrightnessMultiChannel : IDispatch {
    virtual HRESULT get_NumChannels(LONG* count) = 0;
    virtual HRESULT get_ChannelBrightness(LONG channel, double* value) = 0;
    virtual HRESULT put_ChannelBrightness(LONG channel, double value) = 0;
};
struct IQorAcqContrastMultiChannel : IDispatch {
    virtual HRESULT get_NumChannels(LONG* count) = 0;
    virtual HRESULT get_ChannelContrast(LONG channel, double* value) = 0;
    virtual HRESULT put_ChannelContrast(LONG channel, double value) = 0;
};
// Sync models by the library's codes (150 the default, 151 to 163).
struct IQorAcqSync : IDispatch {
    virtual HRESULT get_SyncModel(LONG* code) = 0;
    virtual HRESULT put_SyncModel(LONG code) = 0;
    virtual HRESULT get_ActualSyncModel(LONG* code) = 0;
};
// Ratios and powers 0 to 1, the delay in seconds, port -1 for none.
struct IQorAcqLight : IDispatch {
    virtual HRESULT get_LightEnabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_LightEnabled(VARIANT_BOOL value) = 0;
    virtual HRESULT get_BrightFieldPowerRatio(double* value) = 0;
    virtual HRESULT put_BrightFieldPowerRatio(double value) = 0;
    virtual HRESULT get_LightPower(double* value) = 0;
    virtual HRESULT put_LightPower(double value) = 0;
    virtual HRESULT get_LightDelay(double* value) = 0;
    virtual HRESULT put_LightDelay(double value) = 0;
    virtual HRESULT get_AuxLightPort(LONG* value) = 0;
    virtual HRESULT put_AuxLightPort(LONG value) = 0;
    virtual HRESULT get_AuxBrightFieldPowerRatio(double* value) = 0;
    virtual HRESULT put_AuxBrightFieldPowerRatio(double value) = 0;
    virtual HRESULT get_AuxLightPower(double* value) = 0;
    virtual HRESULT put_AuxLightPower(double value) = 0;
};
// The model as an index: 0 Manual, 1 Automatic, 2 Semi-Automatic, 3 Slave,
// 4 FreeRun.
struct IQorAcqTrigger : IDispatch {
    virtual HRESULT get_TriggerModel(LONG* index) = 0;
    virtual HRESULT put_TriggerModel(LONG index) = 0;
    virtual HRESULT get_TriggerEnabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_TriggerEnabled(VARIANT_BOOL value) = 0;
};
// 0 or more; infinity unsets it.
struct IQorAcqHorizontalAdjustment : IDispatch {
    virtual HRESULT get_HorizontalAdjustment(double* value) = 0;
    virtual HRESULT put_HorizontalAdjustment(double value) = 0;
    virtual HRESULT get_HorizontalAdjustmentLimit(double* value) = 0;
};
// Seconds, 0 or more; infinity unsets it.
struct IQorAcqChargeTransferInterval : IDispatch {
    virtual HRESULT get_ChargeTransferInterval(double* value) = 0;
    virtual HRESULT put_ChargeTransferInterval(double value) = 0;
    virtual HRESULT get_ChargeTransferIntervalLimit(double* value) = 0;
};
// Seconds.
struct IQorAcqExposure : IDispatch {
    virtual HRESULT get_Exposure(double* value) = 0;
    virtual HRESULT put_Exposure(double value) = 0;
};
// One table of bytes per channel; a put of n entries (1 to the size) spreads
// them over the table, channel -1 sets every channel.
struct IQorAcqLookupTable : IDispatch {
    virtual HRESULT get_LookupTable(LONG channel, SAFEARRAY** table) = 0;
    virtual HRESULT put_LookupTable(LONG channel, SAFEARRAY* table) = 0;
    virtual HRESULT get_LookupTableSize(LONG* size) = 0;
    virtual HRESULT get_LookupTableNumChannels(LONG* count) = 0;
};
struct IQorAcqStrobe : IDispatch {
    virtual HRESULT get_StrobeEnabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_StrobeEnabled(VARIANT_BOOL value) = 0;
    virtual HRESULT get_StrobePulsePolarityHigh(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_StrobePulsePolarityHigh(VARIANT_BOOL value) = 0;
};
// Seconds.
struct IQorAcqSettlingTime : IDispatch {
    virtual HRESULT get_SettlingTime(double* value) = 0;
    virtual HRESULT put_SettlingTime(double value) = 0;
};
struct IQorAcqDigitalCameraGain : IDispatch {
    virtual HRESULT get_HighGain(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_HighGain(VARIANT_BOOL value) = 0;
};

namespace cc_props_a {

using cc_grabber::check;
using cc_grabber::Key;
using cc_grabber::persistBool;
using cc_grabber::persistValue;
using cc_grabber::toVariantBool;

// The predefined model of an index 0..4; any other index is E_INVALIDARG.
ccPtrHandle<ccTriggerModel> triggerModelOfIndex(LONG index);
// The model the property holds: a predefined one, else the custom one.
const ccTriggerModel* triggerModelOf(const ccTriggerProp& prop);
// The index of the model the property holds; a custom model counts as its
// code says (FreeRun).
LONG triggerModelIndex(const ccTriggerProp& prop);

// Every channel (channel -1) or one holds what inputLut(table, n, channel)
// would store; false for a channel the property lacks.
bool lookupTableHolds(cc8BitInputLutProp& prop, const unsigned char* table, int32_t n, int32_t channel);
// A new one-dimensional byte array of the channel's table; E_INVALIDARG for
// a channel the property lacks.
SAFEARRAY* lookupTableArray(cc8BitInputLutProp& prop, int32_t channel);
// The bytes of a one-dimensional byte array, locked while the reader runs.
class ccByteArrayReader {
public:
    // Null, not one-dimensional bytes, or more than 2^31 - 1 of them: E_INVALIDARG.
    explicit ccByteArrayReader(SAFEARRAY* array);
    ~ccByteArrayReader();
    ccByteArrayReader(const ccByteArrayReader&) = delete;
    ccByteArrayReader& operator=(const ccByteArrayReader&) = delete;
    const unsigned char* data() const { return data_; }
    int32_t size() const { return size_; }

private:
    SAFEARRAY* array_;
    const unsigned char* data_ = nullptr;
    int32_t size_ = 0;
};
// Saves every channel's table under "LookupTable<n>", or loads the ones the
// archive holds through the setter.
void persistLookupTables(IQorArchive* archive, LONG flags, cc8BitInputLutProp& prop);


// The value every channel holds, or NaN (which equals nothing) when they differ.
template <class Get> double everyChannel(ccContrastBrightnessProp& prop, Get&& get)
{
    const double first = get(prop, 0);
    for (int32_t c = 1; c < prop.numChannels(); ++c)
        if (get(prop, c) != first) return std::numeric_limits<double>::quiet_NaN();
    return first;
}
inline double brightnessOf(ccContrastBrightnessProp& prop, int32_t c) { return prop.brightness(c); }
inline double contrastOf(ccContrastBrightnessProp& prop, int32_t c) { return prop.contrast(c); }
} // namespace cc_props_a

template <class T> class IQorAcqBrightnessImpl : public IQorAcqBrightness {
public:
    HRESULT get_Brightness(double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqBrightness, u"get_Brightness", value,
            [](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().brightness(0); });
    }
    HRESULT put_Brightness(double value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqBrightness, u"put_Brightness", cc_props_a::kBrightness, value,
            [](ccAcqPropertyQuery& q) {
                return cc_props_a::everyChannel(q.contrastBrightnessPropRef(), cc_props_a::brightnessOf);
            },
            [](ccAcqPropertyQuery& q, double v) { q.contrastBrightnessPropRef().brightness(v, -1); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.contrastBrightnessProp() != nullptr; }
    // Channel 0 only: the multi-channel interface keeps every channel, and
    // the two load in either order.
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccContrastBrightnessProp& prop = query.contrastBrightnessPropRef();
        cc_props_a::persistValue(archive, flags, u"Brightness", prop.brightness(0),
            [&](double v) { prop.brightness(v, 0); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqContrastImpl : public IQorAcqContrast {
public:
    HRESULT get_Contrast(double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqContrast, u"get_Contrast", value,
            [](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().contrast(0); });
    }
    HRESULT put_Contrast(double value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqContrast, u"put_Contrast", cc_props_a::kContrast, value,
            [](ccAcqPropertyQuery& q) {
                return cc_props_a::everyChannel(q.contrastBrightnessPropRef(), cc_props_a::contrastOf);
            },
            [](ccAcqPropertyQuery& q, double v) { q.contrastBrightnessPropRef().contrast(v, -1); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.contrastBrightnessProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccContrastBrightnessProp& prop = query.contrastBrightnessPropRef();
        cc_props_a::persistValue(archive, flags, u"Contrast", prop.contrast(0), [&](double v) { prop.contrast(v, 0); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

// Keys "ChannelBrightness<n>", "ChannelContrast<n>".
namespace cc_props_a {
template <class Get, class Set>
void persistChannels(IQorArchive* archive, LONG flags, const std::u16string& name, ccContrastBrightnessProp& prop,
    Get&& get, Set&& set)
{
    const int32_t channels = prop.numChannels();
    for (int32_t c = 0; c < channels; ++c) {
        const std::string digits = std::to_string(c);
        const std::u16string key = name + std::u16string(digits.begin(), digits.end());
        persistValue(archive, flags, key.c_str(), get(prop, c), [&](double v) { set(prop, v, c); });
    }
}
} // namespace cc_props_a

template <class T> class IQorAcqBrightnessMultiChannelImpl : public IQorAcqBrightnessMultiChannel {
public:
    HRESULT get_NumChannels(LONG* count) override
    {
        return cc_grabber::get(self(), IID_IQorAcqBrightnessMultiChannel, u"get_NumChannels", count,
            [](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().numChannels(); });
    }
    HRESULT get_ChannelBrightness(LONG channel, double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqBrightnessMultiChannel, u"get_ChannelBrightness", value,
            [&](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().brightness(channel); });
    }
    HRESULT put_ChannelBrightness(LONG channel, double value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqBrightnessMultiChannel, u"put_ChannelBrightness",
            cc_props_a::kChannelBrightness, value,
            [&](ccAcqPropertyQuery& q) {
                ccContrastBrightnessProp& prop = q.contrastBrightnessPropRef();
                return channel == -1 ? cc_props_a::everyChannel(prop, cc_props_a::brightnessOf)
                                     : prop.brightness(channel);
            },
            [&](ccAcqPropertyQuery& q, double v) { q.contrastBrightnessPropRef().brightness(v, channel); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.contrastBrightnessProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_a::persistChannels(archive, flags, u"ChannelBrightness", query.contrastBrightnessPropRef(),
            cc_props_a::brightnessOf,
            [](ccContrastBrightnessProp& prop, double v, int32_t c) { prop.brightness(v, c); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqContrastMultiChannelImpl : public IQorAcqContrastMultiChannel {
public:
    HRESULT get_NumChannels(LONG* count) override
    {
        return cc_grabber::get(self(), IID_IQorAcqContrastMultiChannel, u"get_NumChannels", count,
            [](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().numChannels(); });
    }
    HRESULT get_ChannelContrast(LONG channel, double* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqContrastMultiChannel, u"get_ChannelContrast", value,
            [&](ccAcqPropertyQuery& q) { return q.contrastBrightnessPropRef().contrast(channel); });
    }
    HRESULT put_ChannelContrast(LONG channel, double value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqContrastMultiChannel, u"put_ChannelContrast",
            cc_props_a::kChannelContrast, value,
            [&](ccAcqPropertyQuery& q) {
                ccContrastBrightnessProp& prop = q.contrastBrightnessPropRef();
                return channel == -1 ? cc_props_a::everyChannel(prop, cc_props_a::contrastOf) : prop.contrast(channel);
            },
            [&](ccAcqPropertyQuery& q, double v) { q.contrastBrightnessPropRef().contrast(v, channel); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.contrastBrightnessProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_a::persistChannels(archive, flags, u"ChannelContrast", query.contrastBrightnessPropRef(),
            cc_props_a::contrastOf, [](ccContrastBrightnessProp& prop, double v, int32_t c) { prop.contrast(v, c); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqSyncImpl : public IQorAcqSync {
public:
    HRESULT get_SyncModel(LONG* code) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSync, u"get_SyncModel", code,
            [](ccAcqPropertyQuery& q) { return LONG(q.syncPropRef().syncModel().code()); });
    }
    HRESULT put_SyncModel(LONG code) override
    {
        return cc_grabber::put(self(), IID_IQorAcqSync, u"put_SyncModel", cc_props_a::kSyncModel, code,
            [](ccAcqPropertyQuery& q) { return LONG(q.syncPropRef().syncModel().code()); },
            [](ccAcqPropertyQuery& q, LONG v) { setModel(q.syncPropRef(), v); });
    }
    HRESULT get_ActualSyncModel(LONG* code) override
    {
        return cc_grabber::get(self(), IID_IQorAcqSync, u"get_ActualSyncModel", code,
            [](ccAcqPropertyQuery& q) { return LONG(q.syncPropRef().actualSyncModel().code()); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.syncProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccSyncProp& prop = query.syncPropRef();
        cc_props_a::persistValue(archive, flags, u"SyncModel", LONG(prop.syncModel().code()),
            [&](LONG v) { setModel(prop, v); });
    }

private:
    // The library reads an unknown code as the default model; a client's
    // unknown code is an error instead.
    static void setModel(ccSyncProp& prop, LONG code)
    {
        if (code != LONG(ccSyncModel::kCodeDefault)
            && (code < LONG(ccSyncModel::kFirstCode) || code > LONG(ccSyncModel::kLastCode)))
            throw ccCOMError(E_INVALIDARG, 0);
        prop.syncModel(ccSyncModel::fromCode(uint32_t(code)));
    }
    T& self() { return static_cast<T&>(*this); }
};

// The light's seven values, each a COM property of its own.
#define CC_PROPS_A_LIGHT_DOUBLE(Name, member)                                                                   \
    HRESULT get_##Name(double* value) override                                                                  \
    {                                                                                                           \
        return cc_grabber::get(self(), IID_IQorAcqLight, u"get_" #Name, value,                             \
            [](ccAcqPropertyQuery& q) { return q.lightPropRef().member(); });                                   \
    }                                                                                                           \
    HRESULT put_##Name(double value) override                                                                   \
    {                                                                                                           \
        return cc_grabber::put(self(), IID_IQorAcqLight, u"put_" #Name, cc_props_a::k##Name, value,        \
            [](ccAcqPropertyQuery& q) { return q.lightPropRef().member(); },                                    \
            [](ccAcqPropertyQuery& q, double v) { q.lightPropRef().member(v); });                               \
    }

template <class T> class IQorAcqLightImpl : public IQorAcqLight {
public:
    HRESULT get_LightEnabled(VARIANT_BOOL* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLight, u"get_LightEnabled", value,
            [](ccAcqPropertyQuery& q) { return cc_props_a::toVariantBool(q.lightPropRef().lightEnabled()); });
    }
    HRESULT put_LightEnabled(VARIANT_BOOL value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqLight, u"put_LightEnabled", cc_props_a::kLightEnabled,
            value != VARIANT_FALSE, [](ccAcqPropertyQuery& q) { return q.lightPropRef().lightEnabled(); },
            [](ccAcqPropertyQuery& q, bool v) { q.lightPropRef().lightEnabled(v); });
    }
    CC_PROPS_A_LIGHT_DOUBLE(BrightFieldPowerRatio, brightFieldPowerRatio)
    CC_PROPS_A_LIGHT_DOUBLE(LightPower, lightPower)
    CC_PROPS_A_LIGHT_DOUBLE(LightDelay, lightDelay)
    HRESULT get_AuxLightPort(LONG* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLight, u"get_AuxLightPort", value,
            [](ccAcqPropertyQuery& q) { return q.lightPropRef().auxLightPort(); });
    }
    HRESULT put_AuxLightPort(LONG value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqLight, u"put_AuxLightPort", cc_props_a::kAuxLightPort, value,
            [](ccAcqPropertyQuery& q) { return q.lightPropRef().auxLightPort(); },
            [](ccAcqPropertyQuery& q, LONG v) { q.lightPropRef().auxLightPort(v); });
    }
    CC_PROPS_A_LIGHT_DOUBLE(AuxBrightFieldPowerRatio, auxBrightFieldPowerRatio)
    CC_PROPS_A_LIGHT_DOUBLE(AuxLightPower, auxLightPower)

    static bool isSupported(ccAcqPropertyQuery& query) { return query.lightProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        using namespace cc_props_a;
        ccLightProp& p = query.lightPropRef();
        persistBool(archive, flags, u"LightEnabled", p.lightEnabled(), [&](bool v) { p.lightEnabled(v); });
        persistValue(archive, flags, u"BrightFieldPowerRatio", p.brightFieldPowerRatio(),
            [&](double v) { p.brightFieldPowerRatio(v); });
        persistValue(archive, flags, u"LightPower", p.lightPower(), [&](double v) { p.lightPower(v); });
        persistValue(archive, flags, u"LightDelay", p.lightDelay(), [&](double v) { p.lightDelay(v); });
        persistValue(archive, flags, u"AuxLightPort", LONG(p.auxLightPort()), [&](LONG v) { p.auxLightPort(v); });
        persistValue(archive, flags, u"AuxBrightFieldPowerRatio", p.auxBrightFieldPowerRatio(),
            [&](double v) { p.auxBrightFieldPowerRatio(v); });
        persistValue(archive, flags, u"AuxLightPower", p.auxLightPower(), [&](double v) { p.auxLightPower(v); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};
#undef CC_PROPS_A_LIGHT_DOUBLE

template <class T> class IQorAcqTriggerImpl : public IQorAcqTrigger {
public:
    HRESULT get_TriggerModel(LONG* index) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTrigger, u"get_TriggerModel", index,
            [](ccAcqPropertyQuery& q) { return cc_props_a::triggerModelIndex(q.triggerPropRef()); });
    }
    HRESULT put_TriggerModel(LONG index) override
    {
        // The model is checked before the comparison, so a bad index is
        // refused also where nothing would change.
        return cc_grabber::change(self(), IID_IQorAcqTrigger, u"put_TriggerModel", cc_props_a::kTriggerModel,
            [&](ccAcqPropertyQuery& q) {
                ccPtrHandle<ccTriggerModel> model = cc_props_a::triggerModelOfIndex(index);
                ccTriggerProp& prop = q.triggerPropRef();
                if (cc_props_a::triggerModelIndex(prop) == index && !isCustom(prop)) return false;
                prop.triggerModel(model);
                return true;
            });
    }
    HRESULT get_TriggerEnabled(VARIANT_BOOL* value) override
    {
        return cc_grabber::get(self(), IID_IQorAcqTrigger, u"get_TriggerEnabled", value,
            [](ccAcqPropertyQuery& q) { return cc_props_a::toVariantBool(q.triggerPropRef().triggerEnable()); });
    }
    HRESULT put_TriggerEnabled(VARIANT_BOOL value) override
    {
        return cc_grabber::put(self(), IID_IQorAcqTrigger, u"put_TriggerEnabled", cc_props_a::kTriggerEnabled,
            value != VARIANT_FALSE, [](ccAcqPropertyQuery& q) { return q.triggerPropRef().triggerEnable(); },
            [](ccAcqPropertyQuery& q, bool v) { q.triggerPropRef().triggerEnable(v); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.triggerProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccTriggerProp& prop = query.triggerPropRef();
        cc_props_a::persistValue(archive, flags, u"TriggerModel", cc_props_a::triggerModelIndex(prop),
            [&](LONG v) { prop.triggerModel(cc_props_a::triggerModelOfIndex(v)); });
        cc_props_a::persistBool(archive, flags, u"TriggerEnabled", prop.triggerEnable(),
            [&](bool v) { prop.triggerEnable(v); });
    }

private:
    static bool isCustom(const ccTriggerProp& prop)
    {
        const ccTriggerModel* model = prop.triggerModel();
        if (!model) model = prop.triggerModelHandle().rawPointer();
        return model && model->isCustom();
    }
    T& self() { return static_cast<T&>(*this); }
};

// An unset value (infinity) and its limit, as the adjustment and the
// charge-transfer interval both have.
#define CC_PROPS_A_LIMITED(Itf, Name, Prop, member, limit)                                                      \
    HRESULT get_##Name(double* value) override                                                                  \
    {                                                                                                           \
        return cc_grabber::get(self(), IID_##Itf, u"get_" #Name, value,                                    \
            [](ccAcqPropertyQuery& q) { return q.Prop##Ref().member(); });                                      \
    }                                                                                                           \
    HRESULT put_##Name(double value) override                                                                   \
    {                                                                                                           \
        return cc_grabber::put(self(), IID_##Itf, u"put_" #Name, cc_props_a::k##Name, value,              \
            [](ccAcqPropertyQuery& q) { return q.Prop##Ref().member(); },                                       \
            [](ccAcqPropertyQuery& q, double v) { q.Prop##Ref().member(v); });                                  \
    }                                                                                                           \
    HRESULT get_##Name##Limit(double* value) override                                                           \
    {                                                                                                           \
        return cc_grabber::get(self(), IID_##Itf, u"get_" #Name "Limit", value,                            \
            [](ccAcqPropertyQuery& q) { return q.Prop##Ref().limit(); });                                       \
    }                                                                                                           \
    static bool isSupported(ccAcqPropertyQuery& query) { return query.Prop() != nullptr; }                     \
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)                 \
    {                                                                                                           \
        auto& prop = query.Prop##Ref();                                                                         \
        cc_props_a::persistValue(archive, flags, u"" #Name, prop.member(), [&](double v) { prop.member(v); }); \
    }

template <class T> class IQorAcqHorizontalAdjustmentImpl : public IQorAcqHorizontalAdjustment {
public:
    CC_PROPS_A_LIMITED(IQorAcqHorizontalAdjustment, HorizontalAdjustment, horizAdjustProp, horizontalAdjustment,
        horizAdjustLimit)

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqChargeTransferIntervalImpl : public IQorAcqChargeTransferInterval {
public:
    CC_PROPS_A_LIMITED(IQorAcqChargeTransferInterval, ChargeTransferInterval, ctiProp, chargeTransferInterval, ctiLimit)

private:
    T& self() { return static_cast<T&>(*this); }
};
#undef CC_PROPS_A_LIMITED

// One double of one property: exposure and settling time.
#define CC_PROPS_A_SECONDS(Itf, Name, Prop, member)                                                             \
    HRESULT get_##Name(double* value) override                                                                  \
    {                                                                                                           \
        return cc_grabber::get(self(), IID_##Itf, u"get_" #Name, value,                                    \
            [](ccAcqPropertyQuery& q) { return q.Prop##Ref().member(); });                                      \
    }                                                                                                           \
    HRESULT put_##Name(double value) override                                                                   \
    {                                                                                                           \
        return cc_grabber::put(self(), IID_##Itf, u"put_" #Name, cc_props_a::k##Name, value,              \
            [](ccAcqPropertyQuery& q) { return q.Prop##Ref().member(); },                                       \
            [](ccAcqPropertyQuery& q, double v) { q.Prop##Ref().member(v); });                                  \
    }                                                                                                           \
    static bool isSupported(ccAcqPropertyQuery& query) { return query.Prop() != nullptr; }                     \
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)                 \
    {                                                                                                           \
        auto& prop = query.Prop##Ref();                                                                         \
        cc_props_a::persistValue(archive, flags, u"" #Name, prop.member(), [&](double v) { prop.member(v); }); \
    }

template <class T> class IQorAcqExposureImpl : public IQorAcqExposure {
public:
    CC_PROPS_A_SECONDS(IQorAcqExposure, Exposure, exposureProp, exposure)

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqSettlingTimeImpl : public IQorAcqSettlingTime {
public:
    CC_PROPS_A_SECONDS(IQorAcqSettlingTime, SettlingTime, settlingTimeProp, settlingTime)

private:
    T& self() { return static_cast<T&>(*this); }
};
#undef CC_PROPS_A_SECONDS

template <class T> class IQorAcqLookupTableImpl : public IQorAcqLookupTable {
public:
    HRESULT get_LookupTable(LONG channel, SAFEARRAY** table) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLookupTable, u"get_LookupTable", table,
            [&](ccAcqPropertyQuery& q) { return cc_props_a::lookupTableArray(q.inputLut8BitPropRef(), channel); });
    }
    HRESULT put_LookupTable(LONG channel, SAFEARRAY* table) override
    {
        return cc_grabber::change(self(), IID_IQorAcqLookupTable, u"put_LookupTable", cc_props_a::kLookupTable,
            [&](ccAcqPropertyQuery& q) {
                const cc_props_a::ccByteArrayReader bytes(table);
                cc8BitInputLutProp& prop = q.inputLut8BitPropRef();
                if (cc_props_a::lookupTableHolds(prop, bytes.data(), bytes.size(), channel)) return false;
                prop.inputLut(bytes.data(), bytes.size(), channel);
                return true;
            });
    }
    HRESULT get_LookupTableSize(LONG* size) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLookupTable, u"get_LookupTableSize", size,
            [](ccAcqPropertyQuery& q) { return q.inputLut8BitPropRef().size(); });
    }
    HRESULT get_LookupTableNumChannels(LONG* count) override
    {
        return cc_grabber::get(self(), IID_IQorAcqLookupTable, u"get_LookupTableNumChannels", count,
            [](ccAcqPropertyQuery& q) { return q.inputLut8BitPropRef().numChannels(); });
    }
    static bool isSupported(ccAcqPropertyQuery& query) { return query.inputLut8BitProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        cc_props_a::persistLookupTables(archive, flags, query.inputLut8BitPropRef());
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

// A flag of one property: the strobe's two and the camera's gain.
#define CC_PROPS_A_FLAG(Itf, Name, Prop, member)                                                                \
    HRESULT get_##Name(VARIANT_BOOL* value) override                                                            \
    {                                                                                                           \
        return cc_grabber::get(self(), IID_##Itf, u"get_" #Name, value,                                    \
            [](ccAcqPropertyQuery& q) { return cc_props_a::toVariantBool(q.Prop##Ref().member()); });          \
    }                                                                                                           \
    HRESULT put_##Name(VARIANT_BOOL value) override                                                             \
    {                                                                                                           \
        return cc_grabber::put(self(), IID_##Itf, u"put_" #Name, cc_props_a::k##Name,                    \
            value != VARIANT_FALSE, [](ccAcqPropertyQuery& q) { return q.Prop##Ref().member(); },              \
            [](ccAcqPropertyQuery& q, bool v) { q.Prop##Ref().member(v); });                                    \
    }

template <class T> class IQorAcqStrobeImpl : public IQorAcqStrobe {
public:
    CC_PROPS_A_FLAG(IQorAcqStrobe, StrobeEnabled, strobeProp, strobeEnable)
    CC_PROPS_A_FLAG(IQorAcqStrobe, StrobePulsePolarityHigh, strobeProp, strobePulsePolarityHigh)
    static bool isSupported(ccAcqPropertyQuery& query) { return query.strobeProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccStrobeProp& prop = query.strobePropRef();
        cc_props_a::persistBool(archive, flags, u"StrobeEnabled", prop.strobeEnable(),
            [&](bool v) { prop.strobeEnable(v); });
        cc_props_a::persistBool(archive, flags, u"StrobePulsePolarityHigh", prop.strobePulsePolarityHigh(),
            [&](bool v) { prop.strobePulsePolarityHigh(v); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};

template <class T> class IQorAcqDigitalCameraGainImpl : public IQorAcqDigitalCameraGain {
public:
    CC_PROPS_A_FLAG(IQorAcqDigitalCameraGain, HighGain, digitalCameraControlProp, digitalHighGainSelected)
    static bool isSupported(ccAcqPropertyQuery& query) { return query.digitalCameraControlProp() != nullptr; }
    static void persistValues(T&, IQorArchive* archive, LONG flags, ccAcqPropertyQuery& query)
    {
        ccDigitalCameraControlProp& prop = query.digitalCameraControlPropRef();
        cc_props_a::persistBool(archive, flags, u"HighGain", prop.digitalHighGainSelected(),
            [&](bool v) { prop.digitalHighGainSelected(v); });
    }

private:
    T& self() { return static_cast<T&>(*this); }
};
#undef CC_PROPS_A_FLAG
