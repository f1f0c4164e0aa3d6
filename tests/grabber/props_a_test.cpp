// The first fourteen property interfaces over a simulated board's FIFO, one
// row per interface, called by name through the module's type library.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
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

template <class I> void* itfOf(Host& h) { return static_cast<I*>(&h); }

struct Row {
    const IID* iid;
    const OLECHAR* member; // its name in the table
    DISPID id;
    void* (*itf)(Host&);
    double value; // what put sets, as get and the library read it
    std::function<double(Query&)> library;
    std::function<HRESULT(Host&)> bad; // null: this kind of mapping refuses nothing of its own
    const char* badText; // the library's exception, reported as E_FAIL; null: E_INVALIDARG
};

SAFEARRAY* lutOf(unsigned char first)
{
    const SAFEARRAYBOUND bound = {2, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    static_cast<unsigned char*>(array->pvData)[0] = first;
    return array;
}

// The row's channel argument, if it has one, then its value.
std::vector<VARIANT> argsOf(const Row& row, bool withValue)
{
    using namespace cc_props_a;
    VARIANT channel{}, value{};
    channel.vt = VT_I4;
    value.vt = VT_R8;
    value.dblVal = row.value;
    if (row.id == kLookupTable) {
        value.vt = VT_ARRAY | VT_UI1;
        value.parray = lutOf(static_cast<unsigned char>(row.value));
    }
    std::vector<VARIANT> args;
    if (row.id == kChannelBrightness || row.id == kChannelContrast || row.id == kLookupTable) args.push_back(channel);
    if (withValue) args.push_back(value);
    else (void)VariantClear(&value);
    return args;
}

HRESULT putByName(Host& host, const Row& row, MEMBERID* id)
{
    std::vector<VARIANT> args = argsOf(row, true);
    const HRESULT hr = ccTestInvokeByName(*row.iid, row.member, row.itf(host), DISPATCH_PROPERTYPUT, args, nullptr, id);
    for (VARIANT& v : args) (void)VariantClear(&v);
    return hr;
}

// A get by name, as a double (a byte table as its first entry).
double getByName(const IID& iid, const OLECHAR* member, void* itf, const std::vector<VARIANT>& args)
{
    VARIANT got{};
    MEMBERID id = 0;
    EXPECT_EQ(ccTestInvokeByName(iid, member, itf, DISPATCH_PROPERTYGET, args, &got, &id), S_OK);
    const double value = got.vt == VT_R8 ? got.dblVal : got.vt == VT_I4 ? got.lVal : got.vt == VT_BOOL ? got.boolVal
                         : got.vt == (VT_ARRAY | VT_UI1) ? static_cast<unsigned char*>(got.parray->pvData)[0] : -1234.5;
    (void)VariantClear(&got);
    return value;
}

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

// A refusal is tested once per kind of mapping: the library's exception, a
// channel, a code, an index, a byte table.
// clang-format off
const std::vector<Row>& rows()
{
    using namespace cc_props_a;
    static const std::vector<Row> table = {
        {&IID_IQorAcqBrightness, u"Brightness", kBrightness, &itfOf<IQorAcqBrightness>, 0.25, [](Query& q) { return q.contrastBrightnessPropRef().brightness(0); },
         badOf(&IQorAcqBrightness::put_Brightness, 1.5), "ccContrastBrightnessProp::BadParams"},
        {&IID_IQorAcqContrast, u"Contrast", kContrast, &itfOf<IQorAcqContrast>, 0.75, [](Query& q) { return q.contrastBrightnessPropRef().contrast(0); }, nullptr, nullptr},
        {&IID_IQorAcqBrightnessMultiChannel, u"ChannelBrightness", kChannelBrightness, &itfOf<IQorAcqBrightnessMultiChannel>, 0.125,
         [](Query& q) { return q.contrastBrightnessPropRef().brightness(0); }, [](Host& h) { return h.put_ChannelBrightness(7, 0.5); }, "ccContrastBrightnessProp::BadParams"},
        {&IID_IQorAcqContrastMultiChannel, u"ChannelContrast", kChannelContrast, &itfOf<IQorAcqContrastMultiChannel>, 0.625,
         [](Query& q) { return q.contrastBrightnessPropRef().contrast(0); }, nullptr, nullptr},
        // A code the library would read as the default model is refused.
        {&IID_IQorAcqSync, u"SyncModel", kSyncModel, &itfOf<IQorAcqSync>, 152, [](Query& q) { return double(q.syncPropRef().syncModel().code()); },
         badOf(&IQorAcqSync::put_SyncModel, LONG(164)), nullptr},
        {&IID_IQorAcqLight, u"LightPower", kLightPower, &itfOf<IQorAcqLight>, 0.5, [](Query& q) { return q.lightPropRef().lightPower(); }, nullptr, nullptr},
        {&IID_IQorAcqTrigger, u"TriggerModel", kTriggerModel, &itfOf<IQorAcqTrigger>, 3, &triggerIndex, badOf(&IQorAcqTrigger::put_TriggerModel, LONG(5)), nullptr},
        {&IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustment", kHorizontalAdjustment, &itfOf<IQorAcqHorizontalAdjustment>, 3.0,
         [](Query& q) { return q.horizAdjustPropRef().horizontalAdjustment(); }, nullptr, nullptr},
        {&IID_IQorAcqChargeTransferInterval, u"ChargeTransferInterval", kChargeTransferInterval, &itfOf<IQorAcqChargeTransferInterval>, 0.05,
         [](Query& q) { return q.ctiPropRef().chargeTransferInterval(); }, nullptr, nullptr},
        {&IID_IQorAcqExposure, u"Exposure", kExposure, &itfOf<IQorAcqExposure>, 0.01, [](Query& q) { return q.exposurePropRef().exposure(); }, nullptr, nullptr},
        // Two entries spread over the table: its first half takes the first.
        {&IID_IQorAcqLookupTable, u"LookupTable", kLookupTable, &itfOf<IQorAcqLookupTable>, 77, [](Query& q) { return double(q.inputLut8BitPropRef().table(0)[0]); },
         [](Host& h) { SAFEARRAY* a = lutOf(1); const HRESULT hr = h.put_LookupTable(9, a); SafeArrayDestroy(a); return hr; }, "cc8BitInputLutProp::BadParams"},
        {&IID_IQorAcqStrobe, u"StrobeEnabled", kStrobeEnabled, &itfOf<IQorAcqStrobe>, kTrue, [](Query& q) { return q.strobePropRef().strobeEnable() ? kTrue : 0.0; }, nullptr, nullptr},
        {&IID_IQorAcqSettlingTime, u"SettlingTime", kSettlingTime, &itfOf<IQorAcqSettlingTime>, 0.002, [](Query& q) { return q.settlingTimePropRef().settlingTime(); }, nullptr, nullptr},
        {&IID_IQorAcqDigitalCameraGain, u"HighGain", kHighGain, &itfOf<IQorAcqDigitalCameraGain>, kTrue,
         [](Query& q) { return q.digitalCameraControlPropRef().digitalHighGainSelected() ? kTrue : 0.0; }, nullptr, nullptr},
    };
    return table;
}
// clang-format on

class PropertiesA : public testing::TestWithParam<size_t> {
protected:
    void SetUp() override { sim_module::sim().reset(); }
    const Row& row() const { return rows()[GetParam()]; }
};

// A put by name reaches the library and tells its change; a second one, of
// the value in force, tells none; a bad value gets its error and leaves the
// value.
TEST_P(PropertiesA, APutReachesTheLibraryOnceAndABadOneIsRefused)
{
    Host host;
    ASSERT_NE(row().library(host.query()), row().value);
    MEMBERID id = 0;
    EXPECT_EQ(putByName(host, row(), &id), S_OK);
    EXPECT_EQ(id, row().id);
    EXPECT_EQ(putByName(host, row(), &id), S_OK);
    EXPECT_EQ(host.changed, std::vector<DISPID>{row().id});
    EXPECT_EQ(getByName(*row().iid, row().member, row().itf(host), argsOf(row(), false)), row().value);
    EXPECT_EQ(row().library(host.query()), row().value);
    if (!row().bad) return;
    EXPECT_EQ(row().bad(host), row().badText ? E_FAIL : E_INVALIDARG);
    const std::string expected = row().badText ? row().badText : "";
    EXPECT_NE(ccTestErrorText().find(std::u16string(expected.begin(), expected.end())), std::u16string::npos);
    EXPECT_EQ(row().library(host.query()), row().value);
    EXPECT_EQ(host.changed.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(EachInterface, PropertiesA, testing::Range(size_t(0), size_t(14)));

// Each interface is answered where the board has its property; the values a
// client reads only are the library's; what the library would read out of
// bounds, or not at all, is a bad argument.
TEST(PropertiesAOthers, SupportReadOnlyValuesAndLookupTablesItCannotRead)
{
    sim_module::sim().reset();
    Host host;
    struct Nothing : ccAcqPropertyQuery {} nothing;
    EXPECT_EQ(Host::supportedCount(host.query()), 14u);
    EXPECT_EQ(Host::supportedCount(nothing), 0u);
    Query& q = host.query();
    const std::tuple<const IID*, const OLECHAR*, void* (*)(Host&), double> reads[] = {
        {&IID_IQorAcqBrightnessMultiChannel, u"NumChannels", &itfOf<IQorAcqBrightnessMultiChannel>, q.contrastBrightnessPropRef().numChannels()},
        {&IID_IQorAcqContrastMultiChannel, u"NumChannels", &itfOf<IQorAcqContrastMultiChannel>, q.contrastBrightnessPropRef().numChannels()},
        {&IID_IQorAcqSync, u"ActualSyncModel", &itfOf<IQorAcqSync>, q.syncPropRef().actualSyncModel().code()},
        {&IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustmentLimit", &itfOf<IQorAcqHorizontalAdjustment>, q.horizAdjustPropRef().horizAdjustLimit()},
        {&IID_IQorAcqChargeTransferInterval, u"ChargeTransferIntervalLimit", &itfOf<IQorAcqChargeTransferInterval>, q.ctiPropRef().ctiLimit()},
        {&IID_IQorAcqLookupTable, u"LookupTableSize", &itfOf<IQorAcqLookupTable>, q.inputLut8BitPropRef().size()},
        {&IID_IQorAcqLookupTable, u"LookupTableNumChannels", &itfOf<IQorAcqLookupTable>, q.inputLut8BitPropRef().numChannels()},
    };
    for (const auto& [iid, member, itf, library] : reads) EXPECT_EQ(getByName(*iid, member, itf(host), {}), library);
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
    MEMBERID id = 0;
    for (const Row& row : rows()) ASSERT_EQ(putByName(saved, row, &id), S_OK);
    ASSERT_EQ(saved.persist(archive.p, kPersistSaving), S_OK);
    for (const Row& row : rows()) ASSERT_NE(row.library(loaded.query()), row.library(saved.query()));
    ASSERT_EQ(archive.p->SetMode(0), S_OK);
    for (int pass = 0; pass < 2; ++pass, archive.p->Clear()) {
        ASSERT_EQ(loaded.persist(archive.p, 0), S_OK);
        for (const Row& row : rows()) EXPECT_EQ(row.library(loaded.query()), row.library(saved.query()));
    }
}

} // namespace
