// The first fourteen property interfaces over a simulated board's FIFO, one
// row per interface.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "grabber/itf_props_a.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/sim_module.h"

namespace {

using Host = ccComPropHost<IQorAcqBrightnessImpl, IQorAcqContrastImpl, IQorAcqBrightnessMultiChannelImpl,
    IQorAcqContrastMultiChannelImpl, IQorAcqSyncImpl, IQorAcqLightImpl, IQorAcqTriggerImpl,
    IQorAcqHorizontalAdjustmentImpl, IQorAcqChargeTransferIntervalImpl, IQorAcqExposureImpl, IQorAcqLookupTableImpl,
    IQorAcqStrobeImpl, IQorAcqSettlingTimeImpl, IQorAcqDigitalCameraGainImpl>;
using Query = ccAcqPropertyQuery;

struct Row {
    const IID* iid;
    const OLECHAR* member; // its name in the table
    DISPID id;
    double value; // what put sets, as get and the library read it
    std::function<HRESULT(Host&, double)> put;
    std::function<HRESULT(Host&, double*)> get;
    std::function<double(Query&)> library;
    std::function<bool(Query&)> supported;
    std::function<void*(Host&)> itf;
    std::function<HRESULT(Host&)> bad; // null: no value is refused
    const char* badText; // the library's exception, reported as E_FAIL; null: E_INVALIDARG
};

SAFEARRAY* lutOf(unsigned char first)
{
    const SAFEARRAYBOUND bound = {2, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    static_cast<unsigned char*>(array->pvData)[0] = first;
    return array;
}

// The table's arguments of a put, in declared order.
std::vector<VARIANT> argsOf(const Row& row)
{
    VARIANT channel{}, value{};
    channel.vt = VT_I4;
    value.vt = VT_R8;
    value.dblVal = row.value;
    if (row.id == cc_props_a::kLookupTable) {
        value.vt = VT_ARRAY | VT_UI1;
        value.parray = lutOf(static_cast<unsigned char>(row.value));
    }
    if (row.id == cc_props_a::kChannelBrightness || row.id == cc_props_a::kChannelContrast
        || row.id == cc_props_a::kLookupTable)
        return {channel, value};
    return {value};
}

template <class I, class V> std::function<HRESULT(Host&, double)> putOf(HRESULT (I::*put)(V))
{
    return [put](Host& h, double v) { return (h.*put)(V(v)); };
}
template <class I, class V> std::function<HRESULT(Host&, double*)> getOf(HRESULT (I::*get)(V*))
{
    return [get](Host& h, double* out) {
        V v{};
        const HRESULT hr = (h.*get)(&v);
        *out = double(v);
        return hr;
    };
}
template <class I> std::function<void*(Host&)> itfOf() { return [](Host& h) -> void* { return static_cast<I*>(&h); }; }
template <class M> std::function<bool(Query&)> supportOf() { return [](Query& q) { return M::isSupported(q); }; }
template <class I, class P> std::function<HRESULT(Host&)> badOf(HRESULT (I::*put)(P), P bad)
{
    return [put, bad](Host& h) { return (h.*put)(bad); };
}
const double kTrue = double(VARIANT_TRUE);

double triggerIndex(Query& q)
{
    const ccTriggerProp& prop = q.triggerPropRef();
    const ccTriggerModel* model = prop.triggerModel() ? prop.triggerModel() : prop.triggerModelHandle().rawPointer();
    return double(model->code() - ccTriggerModel::kCodeManual);
}

// clang-format off
const std::vector<Row>& rows()
{
    using namespace cc_props_a;
    static const std::vector<Row> table = {
        {&IID_IQorAcqBrightness, u"Brightness", kBrightness, 0.25, putOf(&IQorAcqBrightness::put_Brightness), getOf(&IQorAcqBrightness::get_Brightness),
         [](Query& q) { return q.contrastBrightnessPropRef().brightness(0); }, supportOf<IQorAcqBrightnessImpl<Host>>(), itfOf<IQorAcqBrightness>(),
         badOf(&IQorAcqBrightness::put_Brightness, 1.5), "ccContrastBrightnessProp::BadParams"},
        {&IID_IQorAcqContrast, u"Contrast", kContrast, 0.75, putOf(&IQorAcqContrast::put_Contrast), getOf(&IQorAcqContrast::get_Contrast),
         [](Query& q) { return q.contrastBrightnessPropRef().contrast(0); }, supportOf<IQorAcqContrastImpl<Host>>(), itfOf<IQorAcqContrast>(),
         badOf(&IQorAcqContrast::put_Contrast, -0.5), "ccContrastBrightnessProp::BadParams"},
        {&IID_IQorAcqBrightnessMultiChannel, u"ChannelBrightness", kChannelBrightness, 0.125,
         [](Host& h, double v) { return h.put_ChannelBrightness(0, v); }, [](Host& h, double* v) { return h.get_ChannelBrightness(0, v); },
         [](Query& q) { return q.contrastBrightnessPropRef().brightness(0); }, supportOf<IQorAcqBrightnessMultiChannelImpl<Host>>(), itfOf<IQorAcqBrightnessMultiChannel>(),
         [](Host& h) { return h.put_ChannelBrightness(7, 0.5); }, "ccContrastBrightnessProp::BadParams"},
        {&IID_IQorAcqContrastMultiChannel, u"ChannelContrast", kChannelContrast, 0.625,
         [](Host& h, double v) { return h.put_ChannelContrast(0, v); }, [](Host& h, double* v) { return h.get_ChannelContrast(0, v); },
         [](Query& q) { return q.contrastBrightnessPropRef().contrast(0); }, supportOf<IQorAcqContrastMultiChannelImpl<Host>>(), itfOf<IQorAcqContrastMultiChannel>(),
         [](Host& h) { return h.put_ChannelContrast(0, 2.0); }, "ccContrastBrightnessProp::BadParams"},
        // A code the library would read as the default model is refused.
        {&IID_IQorAcqSync, u"SyncModel", kSyncModel, 152, putOf(&IQorAcqSync::put_SyncModel), getOf(&IQorAcqSync::get_SyncModel),
         [](Query& q) { return double(q.syncPropRef().syncModel().code()); }, supportOf<IQorAcqSyncImpl<Host>>(), itfOf<IQorAcqSync>(),
         badOf(&IQorAcqSync::put_SyncModel, LONG(164)), nullptr},
        {&IID_IQorAcqLight, u"LightPower", kLightPower, 0.5, putOf(&IQorAcqLight::put_LightPower), getOf(&IQorAcqLight::get_LightPower),
         [](Query& q) { return q.lightPropRef().lightPower(); }, supportOf<IQorAcqLightImpl<Host>>(), itfOf<IQorAcqLight>(),
         badOf(&IQorAcqLight::put_LightPower, 2.0), "ccLightProp::BadParams"},
        {&IID_IQorAcqTrigger, u"TriggerModel", kTriggerModel, 3, putOf(&IQorAcqTrigger::put_TriggerModel), getOf(&IQorAcqTrigger::get_TriggerModel),
         &triggerIndex, supportOf<IQorAcqTriggerImpl<Host>>(), itfOf<IQorAcqTrigger>(),
         badOf(&IQorAcqTrigger::put_TriggerModel, LONG(5)), nullptr},
        {&IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustment", kHorizontalAdjustment, 3.0, putOf(&IQorAcqHorizontalAdjustment::put_HorizontalAdjustment), getOf(&IQorAcqHorizontalAdjustment::get_HorizontalAdjustment),
         [](Query& q) { return q.horizAdjustPropRef().horizontalAdjustment(); }, supportOf<IQorAcqHorizontalAdjustmentImpl<Host>>(), itfOf<IQorAcqHorizontalAdjustment>(),
         badOf(&IQorAcqHorizontalAdjustment::put_HorizontalAdjustment, -1.0), "ccHorizAdjustProp::BadParams"},
        {&IID_IQorAcqChargeTransferInterval, u"ChargeTransferInterval", kChargeTransferInterval, 0.05, putOf(&IQorAcqChargeTransferInterval::put_ChargeTransferInterval), getOf(&IQorAcqChargeTransferInterval::get_ChargeTransferInterval),
         [](Query& q) { return q.ctiPropRef().chargeTransferInterval(); }, supportOf<IQorAcqChargeTransferIntervalImpl<Host>>(), itfOf<IQorAcqChargeTransferInterval>(),
         badOf(&IQorAcqChargeTransferInterval::put_ChargeTransferInterval, -1.0), "ccCtiProp::BadParams"},
        {&IID_IQorAcqExposure, u"Exposure", kExposure, 0.01, putOf(&IQorAcqExposure::put_Exposure), getOf(&IQorAcqExposure::get_Exposure),
         [](Query& q) { return q.exposurePropRef().exposure(); }, supportOf<IQorAcqExposureImpl<Host>>(), itfOf<IQorAcqExposure>(),
         badOf(&IQorAcqExposure::put_Exposure, -1.0), "ccExposureProp::BadParams"},
        // Two entries spread over the table: its first half takes the first.
        {&IID_IQorAcqLookupTable, u"LookupTable", kLookupTable, 77,
         [](Host& h, double v) { SAFEARRAY* a = lutOf(static_cast<unsigned char>(v)); const HRESULT hr = h.put_LookupTable(0, a); SafeArrayDestroy(a); return hr; },
         [](Host& h, double* v) { SAFEARRAY* a = nullptr; const HRESULT hr = h.get_LookupTable(0, &a); if (a) *v = static_cast<unsigned char*>(a->pvData)[0], SafeArrayDestroy(a); return hr; },
         [](Query& q) { return double(q.inputLut8BitPropRef().table(0)[0]); }, supportOf<IQorAcqLookupTableImpl<Host>>(), itfOf<IQorAcqLookupTable>(),
         [](Host& h) { SAFEARRAY* a = lutOf(1); const HRESULT hr = h.put_LookupTable(9, a); SafeArrayDestroy(a); return hr; }, "cc8BitInputLutProp::BadParams"},
        {&IID_IQorAcqStrobe, u"StrobeEnabled", kStrobeEnabled, kTrue, putOf(&IQorAcqStrobe::put_StrobeEnabled), getOf(&IQorAcqStrobe::get_StrobeEnabled),
         [](Query& q) { return q.strobePropRef().strobeEnable() ? kTrue : 0.0; }, supportOf<IQorAcqStrobeImpl<Host>>(), itfOf<IQorAcqStrobe>(), nullptr, nullptr},
        {&IID_IQorAcqSettlingTime, u"SettlingTime", kSettlingTime, 0.002, putOf(&IQorAcqSettlingTime::put_SettlingTime), getOf(&IQorAcqSettlingTime::get_SettlingTime),
         [](Query& q) { return q.settlingTimePropRef().settlingTime(); }, supportOf<IQorAcqSettlingTimeImpl<Host>>(), itfOf<IQorAcqSettlingTime>(), nullptr, nullptr},
        {&IID_IQorAcqDigitalCameraGain, u"HighGain", kHighGain, kTrue, putOf(&IQorAcqDigitalCameraGain::put_HighGain), getOf(&IQorAcqDigitalCameraGain::get_HighGain),
         [](Query& q) { return q.digitalCameraControlPropRef().digitalHighGainSelected() ? kTrue : 0.0; }, supportOf<IQorAcqDigitalCameraGainImpl<Host>>(), itfOf<IQorAcqDigitalCameraGain>(), nullptr, nullptr},
    };
    return table;
}
// clang-format on

class PropertiesA : public testing::TestWithParam<size_t> {
protected:
    void SetUp() override { sim_module::sim().reset(); }
    const Row& row() const { return rows()[GetParam()]; }
};

// Supported where the board has the property; a put by name through the
// type library reaches the library, an unchanged one calls nothing, and a bad
// value gets the library's error and leaves the value.
TEST_P(PropertiesA, APutReachesTheLibraryAndABadOneIsRefused)
{
    Host host;
    struct Nothing : ccAcqPropertyQuery {} nothing;
    EXPECT_TRUE(row().supported(host.query()));
    EXPECT_FALSE(row().supported(nothing));
    ASSERT_NE(row().library(host.query()), row().value);
    std::vector<VARIANT> args = argsOf(row());
    MEMBERID id = 0;
    EXPECT_EQ(ccTestInvokeByName(*row().iid, row().member, row().itf(host), DISPATCH_PROPERTYPUT, args, nullptr, &id), S_OK);
    for (VARIANT& v : args) (void)VariantClear(&v);
    EXPECT_EQ(id, row().id);
    double read = 0;
    EXPECT_EQ(row().get(host, &read), S_OK);
    EXPECT_EQ(read, row().value);
    EXPECT_EQ(row().library(host.query()), row().value);
    ASSERT_EQ(row().put(host, row().value), S_OK);
    EXPECT_EQ(host.changed, std::vector<DISPID>{row().id});
    if (!row().bad) return; // the last rows refuse no value
    EXPECT_EQ(row().bad(host), row().badText ? E_FAIL : E_INVALIDARG);
    const std::string expected = row().badText ? row().badText : "";
    EXPECT_NE(ccTestErrorText().find(std::u16string(expected.begin(), expected.end())), std::u16string::npos);
    EXPECT_EQ(row().library(host.query()), row().value);
    EXPECT_EQ(host.changed.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(EachInterface, PropertiesA, testing::Range(size_t(0), size_t(14)));

// The values a client reads only are the library's; what the library would
// read out of bounds, or not at all, is a bad argument.
TEST(PropertiesAOthers, ReadOnlyValuesAreTheLibrarysAndLookupTablesItCannotReadAreRefused)
{
    sim_module::sim().reset();
    Host host;
    Query& q = host.query();
    const std::pair<std::function<HRESULT(Host&, double*)>, double> reads[] = {
        {getOf(&IQorAcqBrightnessMultiChannel::get_NumChannels), q.contrastBrightnessPropRef().numChannels()},
        {getOf(&IQorAcqContrastMultiChannel::get_NumChannels), q.contrastBrightnessPropRef().numChannels()},
        {getOf(&IQorAcqSync::get_ActualSyncModel), q.syncPropRef().actualSyncModel().code()},
        {getOf(&IQorAcqHorizontalAdjustment::get_HorizontalAdjustmentLimit), q.horizAdjustPropRef().horizAdjustLimit()},
        {getOf(&IQorAcqChargeTransferInterval::get_ChargeTransferIntervalLimit), q.ctiPropRef().ctiLimit()},
        {getOf(&IQorAcqLookupTable::get_LookupTableSize), q.inputLut8BitPropRef().size()},
        {getOf(&IQorAcqLookupTable::get_LookupTableNumChannels), q.inputLut8BitPropRef().numChannels()},
    };
    for (const auto& [get, library] : reads) {
        double read = -1;
        EXPECT_EQ(get(host, &read), S_OK);
        EXPECT_EQ(read, library);
    }
    const SAFEARRAYBOUND bound = {256, 0};
    SAFEARRAY* longs = SafeArrayCreate(VT_I4, 1, &bound);
    SAFEARRAY* out = nullptr;
    const std::function<HRESULT()> calls[] = {
        [&] { return host.get_LookupTable(9, &out); },
        [&] { return host.get_LookupTable(-1, &out); },
        [&] { return host.put_LookupTable(0, nullptr); },
        [&] { return host.put_LookupTable(0, longs); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(host.changed.empty());
    SafeArrayDestroy(longs);
}

// Every interface saves its values under its own keys; a fresh host loads
// them, and a load from an archive without them changes nothing.
TEST(PropertiesAPersistence, SavedValuesLoadIntoAFreshHost)
{
    sim_module::sim().reset();
    ccTestArchive archive(kPersistSaving);
    Host saved, loaded;
    for (const Row& row : rows()) ASSERT_EQ(row.put(saved, row.value), S_OK);
    ASSERT_EQ(saved.persist(archive.p, kPersistSaving), S_OK);
    for (const Row& row : rows()) ASSERT_NE(row.library(loaded.query()), row.library(saved.query()));
    ASSERT_EQ(archive.p->SetMode(0), S_OK);
    for (int pass = 0; pass < 2; ++pass, archive.p->Clear()) {
        ASSERT_EQ(loaded.persist(archive.p, 0), S_OK);
        for (const Row& row : rows()) EXPECT_EQ(row.library(loaded.query()), row.library(saved.query()));
    }
}

} // namespace
