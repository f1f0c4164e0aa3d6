// The FIFO's property interfaces through their mixins over a library FIFO of
// the simulated board: each interface's table called by name, and what the
// COM layer adds to the library's properties once per kind of mapping.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "grabber/itf_props_a.h"
#include "grabber/acqfifo.h"
#include "grabber/itf_props_b.h"
#include "tests/grabber/late_bound.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;
using cc_grabber::toVariantBool;

using Host = ccComPropHost<IQorAcqBrightnessImpl, IQorAcqContrastImpl, IQorAcqBrightnessMultiChannelImpl,
    IQorAcqContrastMultiChannelImpl, IQorAcqSyncImpl, IQorAcqLightImpl, IQorAcqTriggerImpl,
    IQorAcqHorizontalAdjustmentImpl, IQorAcqChargeTransferIntervalImpl, IQorAcqExposureImpl, IQorAcqLookupTableImpl,
    IQorAcqStrobeImpl, IQorAcqSettlingTimeImpl, IQorAcqDigitalCameraGainImpl, IQorAcqMasterClockFrequencyImpl,
    IQorAcqROIImpl, IQorAcqSimultaneousImpl, IQorAcqOffsetClampImpl, IQorAcqSampleImpl, IQorAcqReadoutDirectionImpl,
    IQorAcqTriggerFilterImpl, IQorAcqStrobeDelayImpl, IQorAcqCameraCalibrationImpl, IQorAcqLineScanImpl,
    IQorAcqStrobePulseDurationImpl, IQorAcq1394DCAMImpl, IQorAcqSettingInfoImpl, IQorAcqCustomPropertiesImpl>;
using Q = ccAcqPropertyQuery;

class Properties : public testing::Test {
protected:
    void SetUp() override { sim().reset(); }
};

template <class I> void* itfOf(Host& h) { return static_cast<I*>(&h); }

// One member of each interface, put and read by name.
struct Row {
    const IID* iid;
    const OLECHAR* member; // its name in the table
    DISPID id;
    void* (*itf)(Host&);
    double value; // what put sets, as get and the library read it
    std::function<double(Q&)> library; // null: read by get only
};

VARIANT i4(LONG value)
{
    VARIANT v{};
    v.vt = VT_I4, v.lVal = value;
    return v;
}

// The row's channel argument (channel 0), if it has one, then its value.
std::vector<VARIANT> argsOf(const Row& row, bool withValue)
{
    using namespace cc_props_a;
    std::vector<VARIANT> args;
    if (row.id == kChannelBrightness || row.id == kChannelContrast || row.id == kLookupTable) args.push_back(i4(0));
    if (!withValue) return args;
    VARIANT value{};
    value.vt = VT_R8, value.dblVal = row.value;
    if (row.id == kLookupTable) {
        const SAFEARRAYBOUND bound = {2, 0};
        value.vt = VT_ARRAY | VT_UI1;
        value.parray = SafeArrayCreate(VT_UI1, 1, &bound);
        static_cast<unsigned char*>(value.parray->pvData)[0] = static_cast<unsigned char>(row.value);
    }
    return args.push_back(value), args;
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
    plat::com::Variant got;
    MEMBERID id = 0;
    EXPECT_EQ(ccTestInvokeByName(iid, member, itf, DISPATCH_PROPERTYGET, args, &got, &id), S_OK);
    return got.vt == VT_R8 ? got.dblVal : got.vt == VT_I4 ? got.lVal : got.vt == VT_BOOL ? got.boolVal
           : got.vt == (VT_ARRAY | VT_UI1) ? static_cast<unsigned char*>(got.parray->pvData)[0] : -1234.5;
}
double getByName(Host& host, const Row& row) { return getByName(*row.iid, row.member, row.itf(host), argsOf(row, false)); }

const double kTrue = double(VARIANT_TRUE);

double triggerIndex(Q& q)
{
    const ccTriggerProp& prop = q.triggerPropRef();
    const ccTriggerModel* model = prop.triggerModel() ? prop.triggerModel() : prop.triggerModelHandle().rawPointer();
    return double(model->code() - ccTriggerModel::kCodeManual);
}

// clang-format off
const std::vector<Row>& rows()
{
    using namespace cc_props_a;
    using namespace cc_props_b;
    static const std::vector<Row> table = {
        {&IID_IQorAcqBrightness, u"Brightness", kBrightness, &itfOf<IQorAcqBrightness>, 0.25, [](Q& q) { return q.contrastBrightnessPropRef().brightness(0); }},
        {&IID_IQorAcqContrast, u"Contrast", kContrast, &itfOf<IQorAcqContrast>, 0.75, [](Q& q) { return q.contrastBrightnessPropRef().contrast(0); }},
        {&IID_IQorAcqBrightnessMultiChannel, u"ChannelBrightness", kChannelBrightness, &itfOf<IQorAcqBrightnessMultiChannel>, 0.125, [](Q& q) { return q.contrastBrightnessPropRef().brightness(0); }},
        {&IID_IQorAcqContrastMultiChannel, u"ChannelContrast", kChannelContrast, &itfOf<IQorAcqContrastMultiChannel>, 0.625, [](Q& q) { return q.contrastBrightnessPropRef().contrast(0); }},
        {&IID_IQorAcqSync, u"SyncModel", kSyncModel, &itfOf<IQorAcqSync>, 152, [](Q& q) { return double(q.syncPropRef().syncModel().code()); }},
        {&IID_IQorAcqLight, u"LightPower", kLightPower, &itfOf<IQorAcqLight>, 0.5, [](Q& q) { return q.lightPropRef().lightPower(); }},
        {&IID_IQorAcqTrigger, u"TriggerModel", kTriggerModel, &itfOf<IQorAcqTrigger>, 3, &triggerIndex},
        {&IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustment", kHorizontalAdjustment, &itfOf<IQorAcqHorizontalAdjustment>, 3.0, [](Q& q) { return q.horizAdjustPropRef().horizontalAdjustment(); }},
        {&IID_IQorAcqChargeTransferInterval, u"ChargeTransferInterval", kChargeTransferInterval, &itfOf<IQorAcqChargeTransferInterval>, 0.05, [](Q& q) { return q.ctiPropRef().chargeTransferInterval(); }},
        {&IID_IQorAcqExposure, u"Exposure", kExposure, &itfOf<IQorAcqExposure>, 0.01, [](Q& q) { return q.exposurePropRef().exposure(); }},
        // Two entries spread over the table: its first half takes the first.
        {&IID_IQorAcqLookupTable, u"LookupTable", kLookupTable, &itfOf<IQorAcqLookupTable>, 77, [](Q& q) { return double(q.inputLut8BitPropRef().table(0)[0]); }},
        {&IID_IQorAcqStrobe, u"StrobeEnabled", kStrobeEnabled, &itfOf<IQorAcqStrobe>, kTrue, [](Q& q) { return q.strobePropRef().strobeEnable() ? kTrue : 0.0; }},
        {&IID_IQorAcqSettlingTime, u"SettlingTime", kSettlingTime, &itfOf<IQorAcqSettlingTime>, 0.002, [](Q& q) { return q.settlingTimePropRef().settlingTime(); }},
        {&IID_IQorAcqDigitalCameraGain, u"HighGain", kHighGain, &itfOf<IQorAcqDigitalCameraGain>, kTrue, [](Q& q) { return q.digitalCameraControlPropRef().digitalHighGainSelected() ? kTrue : 0.0; }},
        {&IID_IQorAcqMasterClockFrequency, u"MasterClockFrequency", kMasterClockFrequency, &itfOf<IQorAcqMasterClockFrequency>, 12.5, [](Q& q) { return q.digitalCameraControlPropRef().masterClockFrequency(); }},
        {&IID_IQorAcqOffsetClamp, u"OffsetClampMode", kOffsetClampMode, &itfOf<IQorAcqOffsetClamp>, 3, [](Q& q) { return double(q.offsetClampPropRef().offsetClampMode()); }},
        {&IID_IQorAcqSample, u"SampleX", kSampleX, &itfOf<IQorAcqSample>, 4, [](Q& q) { return double(q.samplePropRef().sampleX()); }},
        {&IID_IQorAcqReadoutDirection, u"HorizontalReadoutReversed", kHorizontalReadoutReversed, &itfOf<IQorAcqReadoutDirection>, kTrue, nullptr},
        {&IID_IQorAcqTriggerFilter, u"TriggerDelay", kTriggerDelay, &itfOf<IQorAcqTriggerFilter>, 1e-4, nullptr},
        {&IID_IQorAcqStrobeDelay, u"StrobeDelay", kStrobeDelay, &itfOf<IQorAcqStrobeDelay>, 1e-3, [](Q& q) { return q.strobeDelayPropRef().strobeDelay(); }},
        {&IID_IQorAcqCameraCalibration, u"OutlierPixelCorrectionEnabled", kOutlierPixelCorrectionEnabled, &itfOf<IQorAcqCameraCalibration>, kTrue, nullptr},
        {&IID_IQorAcqLineScan, u"StepsPerLine", kStepsPerLine, &itfOf<IQorAcqLineScan>, 7, nullptr},
        {&IID_IQorAcqStrobePulseDuration, u"StrobePulseDuration", kStrobePulseDuration, &itfOf<IQorAcqStrobePulseDuration>, 5e-4, [](Q& q) { return q.strobePropRef().strobePulseDuration(); }},
        {&IID_IQorAcq1394DCAM, u"CameraBandwidth", kCameraBandwidth, &itfOf<IQorAcq1394DCAM>, 0.5, [](Q& q) { return q.cameraBandwidthPropRef().cameraBandwidth(); }},
    };
    return table;
}
// clang-format on

class EachInterface : public Properties, public testing::WithParamInterface<size_t> {};

// A second put, of the value in force, tells no change.
TEST_P(EachInterface, APutByNameReachesTheLibraryAndTellsItsChangeOnce)
{
    Host host;
    const Row& row = rows()[GetParam()];
    ASSERT_NE(getByName(host, row), row.value);
    MEMBERID id = 0;
    EXPECT_EQ(putByName(host, row, &id), S_OK);
    EXPECT_EQ(id, row.id);
    EXPECT_EQ(putByName(host, row, &id), S_OK);
    EXPECT_EQ(host.changed, std::vector<DISPID>{row.id});
    EXPECT_EQ(getByName(host, row), row.value);
    EXPECT_EQ(row.library ? row.library(host.query()) : row.value, row.value);
}

INSTANTIATE_TEST_SUITE_P(Rows, EachInterface, testing::Range(size_t(0), rows().size()));

using late_bound::translated;

// One property of each kind of mapping: a new value put, its checks, a put
// refused (with the library's exception named, or a bad argument) and the
// (interface id, slot) through which the library sends a set to the board.
struct Case {
    const char* name;
    DISPID id;
    std::function<HRESULT(Host&)> put, putSame, putBad;
    std::function<bool(Host&)> holdsNew; // the get and the library agree on the new value
    HRESULT refusal;
    const char* exception; // null: a bad argument, E_INVALIDARG
    int32_t iid, slot;
};

// A scalar property of interface Itf whose library value read gives.
template <class Itf, class V, class Read>
Case scalar(const char* name, DISPID id, HRESULT (Itf::*get)(V*), HRESULT (Itf::*put)(V), V value, V bad,
            HRESULT refusal, const char* exception, Read read)
{
    Case c{name, id, {}, {}, {}, {}, refusal, exception, ccIidFifoProperties, 4};
    c.put = [=](Host& h) { return (h.*put)(value); };
    c.putSame = [=](Host& h) { V now{}; return (h.*get)(&now), (h.*put)(now); };
    c.putBad = [=](Host& h) { return (h.*put)(bad); };
    c.holdsNew = [=](Host& h) { V got{}; return (h.*get)(&got) == S_OK && got == value && read(h.query()) == value; };
    return c;
}

// The library takes it unchecked: the board refuses it instead.
Case refusedByBoard(Case c)
{
    const auto bad = c.putBad;
    c.putBad = [=](Host& h) { return sim_module::failNext(ccIidFifoProperties, 4, ccAcqFifo::BadParams()), bad(h); };
    return c;
}

// clang-format off
std::vector<Case> cases()
{
    using namespace cc_props_a;
    using namespace cc_props_b;
    std::vector<Case> all = {
        scalar("Brightness", kBrightness, &IQorAcqBrightness::get_Brightness, &IQorAcqBrightness::put_Brightness, 0.25, 1.5,
               translated<ccContrastBrightnessProp::BadParams>(), "ccContrastBrightnessProp::BadParams", [](Q& q) { return q.contrastBrightnessPropRef().brightness(0); }),
        // A code the library would read as the default model is refused.
        scalar("SyncModel", kSyncModel, &IQorAcqSync::get_SyncModel, &IQorAcqSync::put_SyncModel, LONG{152}, LONG{164}, E_INVALIDARG, nullptr,
               [](Q& q) { return LONG(q.syncPropRef().syncModel().code()); }),
        refusedByBoard(scalar("OffsetClampMode", kOffsetClampMode, &IQorAcqOffsetClamp::get_OffsetClampMode, &IQorAcqOffsetClamp::put_OffsetClampMode, LONG{2}, LONG{3},
               translated<ccAcqFifo::BadParams>(), "ccAcqFifo::BadParams", [](Q& q) { return q.offsetClampPropRef().offsetClampMode(); })),
        // 300 would pass as 44 if cut to the library's byte.
        scalar("FirstPelOffset", kFirstPelOffset, &IQorAcqLineScan::get_FirstPelOffset, &IQorAcqLineScan::put_FirstPelOffset, LONG{5}, LONG{300},
               translated<ccFirstPelOffsetProp::BadParams>(), "ccFirstPelOffsetProp::BadParams", [](Q& q) { return LONG{q.firstPelOffsetPropRef().firstPelOffset()}; }),
    };
    // clang-format on

    // A negative size would pass as the region beside it.
    Case roi{"SetROI", kSetROI, {}, {}, {}, {}, translated<ccRoiProp::BadParams>(), "ccRoiProp::BadParams", ccIidFifoCamera, 3};
    roi.put = [](Host& h) { // by name, as the table's method
        MEMBERID id = 0;
        return ccTestInvokeByName(IID_IQorAcqROI, u"SetROI", itfOf<IQorAcqROI>(h), DISPATCH_METHOD, {i4(8), i4(4), i4(320), i4(240)}, nullptr, &id);
    };
    roi.putSame = [](Host& h) { LONG x = 0, y = 0, w = 0, ht = 0; return h.GetROI(&x, &y, &w, &ht), h.SetROI(x, y, w, ht); };
    roi.putBad = [](Host& h) { return h.SetROI(100, 0, -50, 240); };
    roi.holdsNew = [](Host& h) {
        LONG x = 0, y = 0, w = 0, ht = 0;
        const ccPelRect put(8, 4, 320, 240);
        return h.GetROI(&x, &y, &w, &ht) == S_OK && ccPelRect(x, y, w, ht) == put && h.query().roiPropRef().roi() == put;
    };
    all.push_back(roi);

    static const std::wstring kBag = L"Write\tGain\t3\n\rCommand\tReset\n\r";
    Case custom{"CustomProperties", kCustomProperties, {}, {}, {}, {}, translated<ccCustomPropertyBag::BadParams>(), "ccCustomPropertyBag::BadParams", ccIidFifoCustomProps, 3};
    auto putText = [](Host& h, const std::wstring& text) {
        BSTR b = plat::com::bstrFromWide(text);
        const HRESULT hr = h.put_CustomProperties(b);
        return SysFreeString(b), hr;
    };
    custom.put = [](Host& h) { // by name, as the table's string member
        VARIANT b{};
        b.vt = VT_BSTR, b.bstrVal = plat::com::bstrFromWide(kBag);
        MEMBERID id = 0;
        const HRESULT hr = ccTestInvokeByName(IID_IQorAcqCustomProperties, u"CustomProperties", itfOf<IQorAcqCustomProperties>(h), DISPATCH_PROPERTYPUT, {b}, nullptr, &id);
        return VariantClear(&b), hr;
    };
    custom.putSame = [=](Host& h) { return putText(h, L""); };
    custom.putBad = [=](Host& h) { return putText(h, L"Gain 3"); };
    custom.holdsNew = [](Host& h) {
        BSTR b = nullptr;
        const bool got = h.get_CustomProperties(&b) == S_OK && plat::com::wideFromBstr(b) == kBag;
        return SysFreeString(b), got && h.query().customPropRef().customProps().asString() == kBag;
    };
    all.push_back(custom);
    return all;
}

// A put of the value in force calls nothing; a refused one is the library's
// error, named for the class and the method.
TEST_F(Properties, APutReachesTheLibraryOnceARefusedOneKeepsTheValue)
{
    Host host;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const uint32_t calls = sim().callCount(c.iid, c.slot);
        EXPECT_EQ(c.putSame(host), S_OK);
        EXPECT_EQ(sim().callCount(c.iid, c.slot), calls);
        EXPECT_TRUE(host.changed.empty());
        EXPECT_EQ(c.put(host), S_OK);
        EXPECT_TRUE(c.holdsNew(host));
        EXPECT_GT(sim().callCount(c.iid, c.slot), calls);
        EXPECT_EQ(host.changed, std::vector<DISPID>{c.id});
        host.changed.clear();
        EXPECT_EQ(c.putBad(host), c.refusal);
        if (c.exception) {
            const std::string put = c.id == cc_props_b::kSetROI ? c.name : "put_" + std::string(c.name);
            const std::string text = c.exception;
            std::u16string source;
            EXPECT_NE(ccTestErrorText(&source).find(std::u16string(text.begin(), text.end())), std::u16string::npos);
            EXPECT_EQ(source, u"Qoralt.QorAcqFifo7320 " + std::u16string(put.begin(), put.end()));
        }
        EXPECT_TRUE(c.holdsNew(host));
        EXPECT_TRUE(host.changed.empty());
    }
}

// Each interface is answered where the board has its property (Simultaneous
// needs what it lacks; SettingInfo needs nothing); what the library would
// read out of bounds, or not at all, is a bad argument, as is a trigger model
// beyond the last.
TEST_F(Properties, SupportReadOnlyValuesAndLookupTablesItCannotRead)
{
    Host host;
    Q& q = host.query();
    ccAcqFifo& fifo = host.libraryFifo(); // the setting information's
    struct Nothing : Q {} nothing;
    EXPECT_EQ(std::make_tuple(Host::supportedCount(q), IQorAcqSimultaneousImpl<Host>::isSupported(q)), std::make_tuple(27u, false));
    EXPECT_EQ(std::make_tuple(Host::supportedCount(nothing), IQorAcqSettingInfoImpl<Host>::isSupported(nothing)), std::make_tuple(1u, true));
    const std::tuple<const IID*, const OLECHAR*, void* (*)(Host&), double> reads[] = {
        {&IID_IQorAcqBrightnessMultiChannel, u"NumChannels", &itfOf<IQorAcqBrightnessMultiChannel>, q.contrastBrightnessPropRef().numChannels()},
        {&IID_IQorAcqContrastMultiChannel, u"NumChannels", &itfOf<IQorAcqContrastMultiChannel>, q.contrastBrightnessPropRef().numChannels()},
        {&IID_IQorAcqSync, u"ActualSyncModel", &itfOf<IQorAcqSync>, q.syncPropRef().actualSyncModel().code()},
        {&IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustmentLimit", &itfOf<IQorAcqHorizontalAdjustment>, q.horizAdjustPropRef().horizAdjustLimit()},
        {&IID_IQorAcqChargeTransferInterval, u"ChargeTransferIntervalLimit", &itfOf<IQorAcqChargeTransferInterval>, q.ctiPropRef().ctiLimit()},
        {&IID_IQorAcqLookupTable, u"LookupTableSize", &itfOf<IQorAcqLookupTable>, q.inputLut8BitPropRef().size()},
        {&IID_IQorAcqLookupTable, u"LookupTableNumChannels", &itfOf<IQorAcqLookupTable>, q.inputLut8BitPropRef().numChannels()},
        {&IID_IQorAcqSettingInfo, u"MinExposure", &itfOf<IQorAcqSettingInfo>, fifo.minExposure()},
        {&IID_IQorAcqSettingInfo, u"ContrastDefaultValue", &itfOf<IQorAcqSettingInfo>, fifo.contrastDefaultValue()},
        {&IID_IQorAcqSettingInfo, u"BrightnessDefaultValue", &itfOf<IQorAcqSettingInfo>, fifo.brightnessDefaultValue()},
        {&IID_IQorAcqSettingInfo, u"StrobeEnableSupported", &itfOf<IQorAcqSettingInfo>, toVariantBool(fifo.isStrobeEnableSupported())},
        {&IID_IQorAcqSettingInfo, u"StrobePulseDurationSupported", &itfOf<IQorAcqSettingInfo>, toVariantBool(fifo.isStrobePulseDurationSupported())},
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
        [&] { return host.put_TriggerModel(5); }, // the indexes end at 4
    };
    for (const auto& call : calls) EXPECT_EQ(call(), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    SafeArrayDestroy(longs);
}

// Every interface saves its values under its own keys; a fresh host loads
// them, and a load from an archive without them changes nothing.
TEST_F(Properties, SavedValuesLoadIntoAFreshHost)
{
    ccTestArchive archive(kPersistSaving);
    Host saved, loaded;
    MEMBERID id = 0;
    for (const Row& row : rows()) ASSERT_EQ(putByName(saved, row, &id), S_OK);
    for (const Case& c : cases()) ASSERT_EQ(c.put(saved), S_OK);
    saved.persist(archive.p, kPersistSaving);
    for (const Row& row : rows()) ASSERT_NE(getByName(loaded, row), getByName(saved, row)) << row.id;
    ASSERT_EQ(archive.p->SetMode(0), S_OK);
    for (int pass = 0; pass < 2; ++pass, archive.p->Clear()) {
        loaded.persist(archive.p, 0);
        for (const Row& row : rows()) EXPECT_EQ(getByName(loaded, row), getByName(saved, row)) << row.id;
        for (const Case& c : cases()) EXPECT_TRUE(c.holdsNew(loaded)) << c.name;
    }
}

std::vector<LONG> elements(SAFEARRAY* array)
{
    EXPECT_EQ(SafeArrayGetElemsize(array), sizeof(LONG));
    const LONG* first = static_cast<const LONG*>(array->pvData);
    std::vector<LONG> all(first, first + array->rgsabound[0].cElements);
    return SafeArrayDestroy(array), all;
}

// An empty list, as a board without property records gives, is an empty array.
TEST_F(Properties, SettingInfoSampleValuesAreTheLibraryFifosAsArrays)
{
    for (const bool records : {true, false}) {
        SCOPED_TRACE(records);
        if (!records) sim().setPropertyInfos(nullptr, 0);
        Host host;
        SAFEARRAY *x = nullptr, *y = nullptr;
        ASSERT_EQ(host.get_SupportedSampleXValues(&x) | host.get_SupportedSampleYValues(&y), S_OK);
        const std::vector<LONG> expected = records ? std::vector<LONG>{1, 2, 4} : std::vector<LONG>{};
        EXPECT_EQ(std::make_pair(elements(x), elements(y)), std::make_pair(expected, expected));
    }
}

// Every member of the property interfaces a FIFO object answers, called by
// name through its IDispatch and through the interface on a twin: the values
// put differ from those in force and from one another; a put of the value in
// force calls nothing, and a null out pointer is refused.
std::vector<late_bound::Call> everyMember()
{
    using namespace cc_props_a;
    using late_bound::bytes, late_bound::call, late_bound::flag, late_bound::i4, late_bound::prop, late_bound::r8, late_bound::text;
    constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;
    using BMC = IQorAcqBrightnessMultiChannel;
    using CMC = IQorAcqContrastMultiChannel;
    using Light = IQorAcqLight;
    using Lut = IQorAcqLookupTable;
    using Roi = IQorAcqROI;
    using Filter = IQorAcqTriggerFilter;
    using Calib = IQorAcqCameraCalibration;
    using LS = IQorAcqLineScan;
    using Info = IQorAcqSettingInfo;
    const IID &bmc = IID_IQorAcqBrightnessMultiChannel, &cmc = IID_IQorAcqContrastMultiChannel, &light = IID_IQorAcqLight,
              &lut = IID_IQorAcqLookupTable, &roi = IID_IQorAcqROI, &filter = IID_IQorAcqTriggerFilter,
              &calib = IID_IQorAcqCameraCalibration, &ls = IID_IQorAcqLineScan, &info = IID_IQorAcqSettingInfo;
    // clang-format off
    return late_bound::joined(
        prop(IID_IQorAcqBrightness, u"Brightness", &IQorAcqBrightness::get_Brightness, &IQorAcqBrightness::put_Brightness, r8(0.25)),
        prop(IID_IQorAcqContrast, u"Contrast", &IQorAcqContrast::get_Contrast, &IQorAcqContrast::put_Contrast, r8(0.75)),
        std::vector<late_bound::Call>{call(bmc, u"NumChannels", kGet, &BMC::get_NumChannels),
                                      call(bmc, u"ChannelBrightness", kGet, &BMC::get_ChannelBrightness, {i4(1)}, translated<ccContrastBrightnessProp::BadParams>())},
        prop(bmc, u"ChannelBrightness", &BMC::get_ChannelBrightness, &BMC::put_ChannelBrightness, r8(0.125), {i4(0)}),
        std::vector<late_bound::Call>{call(cmc, u"NumChannels", kGet, &CMC::get_NumChannels)},
        prop(cmc, u"ChannelContrast", &CMC::get_ChannelContrast, &CMC::put_ChannelContrast, r8(0.625), {i4(0)}),
        prop(IID_IQorAcqSync, u"SyncModel", &IQorAcqSync::get_SyncModel, &IQorAcqSync::put_SyncModel, i4(152)),
        std::vector<late_bound::Call>{call(IID_IQorAcqSync, u"ActualSyncModel", kGet, &IQorAcqSync::get_ActualSyncModel)},
        prop(light, u"LightEnabled", &Light::get_LightEnabled, &Light::put_LightEnabled, flag(true)),
        prop(light, u"BrightFieldPowerRatio", &Light::get_BrightFieldPowerRatio, &Light::put_BrightFieldPowerRatio, r8(0.3)),
        prop(light, u"LightPower", &Light::get_LightPower, &Light::put_LightPower, r8(0.4)),
        prop(light, u"LightDelay", &Light::get_LightDelay, &Light::put_LightDelay, r8(0.002)),
        prop(light, u"AuxLightPort", &Light::get_AuxLightPort, &Light::put_AuxLightPort, i4(1)),
        prop(light, u"AuxBrightFieldPowerRatio", &Light::get_AuxBrightFieldPowerRatio, &Light::put_AuxBrightFieldPowerRatio, r8(0.6)),
        prop(light, u"AuxLightPower", &Light::get_AuxLightPower, &Light::put_AuxLightPower, r8(0.7)),
        prop(IID_IQorAcqTrigger, u"TriggerModel", &IQorAcqTrigger::get_TriggerModel, &IQorAcqTrigger::put_TriggerModel, i4(3)),
        prop(IID_IQorAcqTrigger, u"TriggerEnabled", &IQorAcqTrigger::get_TriggerEnabled, &IQorAcqTrigger::put_TriggerEnabled, flag(true)),
        prop(IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustment", &IQorAcqHorizontalAdjustment::get_HorizontalAdjustment, &IQorAcqHorizontalAdjustment::put_HorizontalAdjustment, r8(0.5)),
        std::vector<late_bound::Call>{call(IID_IQorAcqHorizontalAdjustment, u"HorizontalAdjustmentLimit", kGet, &IQorAcqHorizontalAdjustment::get_HorizontalAdjustmentLimit)},
        prop(IID_IQorAcqChargeTransferInterval, u"ChargeTransferInterval", &IQorAcqChargeTransferInterval::get_ChargeTransferInterval, &IQorAcqChargeTransferInterval::put_ChargeTransferInterval, r8(0.05)),
        std::vector<late_bound::Call>{call(IID_IQorAcqChargeTransferInterval, u"ChargeTransferIntervalLimit", kGet, &IQorAcqChargeTransferInterval::get_ChargeTransferIntervalLimit)},
        prop(IID_IQorAcqExposure, u"Exposure", &IQorAcqExposure::get_Exposure, &IQorAcqExposure::put_Exposure, r8(0.01)),
        prop(lut, u"LookupTable", &Lut::get_LookupTable, &Lut::put_LookupTable, bytes({77, 200}), {i4(0)}),
        std::vector<late_bound::Call>{call(lut, u"LookupTableSize", kGet, &Lut::get_LookupTableSize),
                                      call(lut, u"LookupTableNumChannels", kGet, &Lut::get_LookupTableNumChannels),
                                      call(lut, u"LookupTable", kGet, &Lut::get_LookupTable, {i4(9)}, E_INVALIDARG)},
        prop(IID_IQorAcqStrobe, u"StrobeEnabled", &IQorAcqStrobe::get_StrobeEnabled, &IQorAcqStrobe::put_StrobeEnabled, flag(true)),
        prop(IID_IQorAcqStrobe, u"StrobePulsePolarityHigh", &IQorAcqStrobe::get_StrobePulsePolarityHigh, &IQorAcqStrobe::put_StrobePulsePolarityHigh, flag(false)),
        prop(IID_IQorAcqSettlingTime, u"SettlingTime", &IQorAcqSettlingTime::get_SettlingTime, &IQorAcqSettlingTime::put_SettlingTime, r8(0.003)),
        prop(IID_IQorAcqDigitalCameraGain, u"HighGain", &IQorAcqDigitalCameraGain::get_HighGain, &IQorAcqDigitalCameraGain::put_HighGain, flag(true)),
        prop(IID_IQorAcqMasterClockFrequency, u"MasterClockFrequency", &IQorAcqMasterClockFrequency::get_MasterClockFrequency, &IQorAcqMasterClockFrequency::put_MasterClockFrequency, r8(12.5)),
        std::vector<late_bound::Call>{call(roi, u"GetROI", kCall, &Roi::GetROI),
                                      call(roi, u"SetROI", kCall, &Roi::SetROI, {i4(8), i4(4), i4(320), i4(240)}),
                                      call(roi, u"GetROI", kCall, &Roi::GetROI),
                                      call(roi, u"GetROILimits", kCall, &Roi::GetROILimits),
                                      call(roi, u"IsROIModeSupported", kCall, &Roi::IsROIModeSupported, {i4(1)}),
                                      call(roi, u"IsROIModeSupported", kCall, &Roi::IsROIModeSupported, {i4(2)})},
        prop(roi, u"ROIMode", &Roi::get_ROIMode, &Roi::put_ROIMode, i4(1)),
        prop(IID_IQorAcqOffsetClamp, u"OffsetClampMode", &IQorAcqOffsetClamp::get_OffsetClampMode, &IQorAcqOffsetClamp::put_OffsetClampMode, i4(2)),
        prop(IID_IQorAcqSample, u"SampleX", &IQorAcqSample::get_SampleX, &IQorAcqSample::put_SampleX, i4(4)),
        prop(IID_IQorAcqSample, u"SampleY", &IQorAcqSample::get_SampleY, &IQorAcqSample::put_SampleY, i4(2)),
        prop(IID_IQorAcqReadoutDirection, u"HorizontalReadoutReversed", &IQorAcqReadoutDirection::get_HorizontalReadoutReversed, &IQorAcqReadoutDirection::put_HorizontalReadoutReversed, flag(true)),
        prop(IID_IQorAcqReadoutDirection, u"VerticalReadoutReversed", &IQorAcqReadoutDirection::get_VerticalReadoutReversed, &IQorAcqReadoutDirection::put_VerticalReadoutReversed, flag(true)),
        prop(filter, u"MinTriggerWidth", &Filter::get_MinTriggerWidth, &Filter::put_MinTriggerWidth, r8(1e-5)),
        prop(filter, u"MinTriggerPeriod", &Filter::get_MinTriggerPeriod, &Filter::put_MinTriggerPeriod, r8(3e-3)),
        prop(filter, u"TriggerDelay", &Filter::get_TriggerDelay, &Filter::put_TriggerDelay, r8(4e-4)),
        prop(filter, u"IgnoreMissedTrigger", &Filter::get_IgnoreMissedTrigger, &Filter::put_IgnoreMissedTrigger, flag(false)),
        prop(IID_IQorAcqStrobeDelay, u"StrobeDelay", &IQorAcqStrobeDelay::get_StrobeDelay, &IQorAcqStrobeDelay::put_StrobeDelay, r8(1e-3)),
        prop(calib, u"OutlierPixelCorrectionEnabled", &Calib::get_OutlierPixelCorrectionEnabled, &Calib::put_OutlierPixelCorrectionEnabled, flag(true)),
        prop(calib, u"RowColumnCalibrationEnabled", &Calib::get_RowColumnCalibrationEnabled, &Calib::put_RowColumnCalibrationEnabled, flag(false)),
        prop(ls, u"TestEncoderEnabled", &LS::get_TestEncoderEnabled, &LS::put_TestEncoderEnabled, flag(true)),
        prop(ls, u"TestEncoderDirectionPositive", &LS::get_TestEncoderDirectionPositive, &LS::put_TestEncoderDirectionPositive, flag(false)),
        prop(ls, u"TriggerFromEncoderFirst", &LS::get_TriggerFromEncoderFirst, &LS::put_TriggerFromEncoderFirst, flag(true)),
        prop(ls, u"TriggerFromEncoderSecond", &LS::get_TriggerFromEncoderSecond, &LS::put_TriggerFromEncoderSecond, flag(true)),
        prop(ls, u"StepsPerLine", &LS::get_StepsPerLine, &LS::put_StepsPerLine, i4(7)),
        prop(ls, u"StepSixteenths", &LS::get_StepSixteenths, &LS::put_StepSixteenths, i4(3)),
        prop(ls, u"EncoderPort", &LS::get_EncoderPort, &LS::put_EncoderPort, i4(1)),
        std::vector<late_bound::Call>{call(ls, u"NumEncoderPorts", kGet, &LS::get_NumEncoderPorts)},
        prop(ls, u"EncoderOffset", &LS::get_EncoderOffset, &LS::put_EncoderOffset, i4(5)),
        prop(ls, u"AcquireDirectionPositive", &LS::get_AcquireDirectionPositive, &LS::put_AcquireDirectionPositive, flag(false)),
        prop(ls, u"UseSingleChannel", &LS::get_UseSingleChannel, &LS::put_UseSingleChannel, flag(true)),
        prop(ls, u"EncoderResolution", &LS::get_EncoderResolution, &LS::put_EncoderResolution, i4(2)),
        prop(ls, u"StartAcqOnEncoderCount", &LS::get_StartAcqOnEncoderCount, &LS::put_StartAcqOnEncoderCount, i4(11)),
        prop(ls, u"IgnoreBackwardsMotionBetweenAcquires", &LS::get_IgnoreBackwardsMotionBetweenAcquires, &LS::put_IgnoreBackwardsMotionBetweenAcquires, flag(true)),
        prop(ls, u"IgnoreTooFastEncoder", &LS::get_IgnoreTooFastEncoder, &LS::put_IgnoreTooFastEncoder, flag(false)),
        prop(ls, u"ResetCounterOnHardwareTrigger", &LS::get_ResetCounterOnHardwareTrigger, &LS::put_ResetCounterOnHardwareTrigger, flag(true)),
        std::vector<late_bound::Call>{call(ls, u"ResetCounter", kCall, &LS::ResetCounter),
                                      call(ls, u"CurrentEncoderCount", kGet, &LS::get_CurrentEncoderCount),
                                      call(ls, u"FirstPelOffset", kPut, &LS::put_FirstPelOffset, {i4(300)}, translated<ccFirstPelOffsetProp::BadParams>())},
        prop(ls, u"FirstPelOffset", &LS::get_FirstPelOffset, &LS::put_FirstPelOffset, i4(5)),
        prop(IID_IQorAcqStrobePulseDuration, u"StrobePulseDuration", &IQorAcqStrobePulseDuration::get_StrobePulseDuration, &IQorAcqStrobePulseDuration::put_StrobePulseDuration, r8(5e-4)),
        prop(IID_IQorAcq1394DCAM, u"CameraBandwidth", &IQorAcq1394DCAM::get_CameraBandwidth, &IQorAcq1394DCAM::put_CameraBandwidth, r8(0.25)),
        std::vector<late_bound::Call>{call(info, u"MinExposure", kGet, &Info::get_MinExposure),
                                      call(info, u"ContrastDefaultValue", kGet, &Info::get_ContrastDefaultValue),
                                      call(info, u"BrightnessDefaultValue", kGet, &Info::get_BrightnessDefaultValue),
                                      call(info, u"StrobeEnableSupported", kGet, &Info::get_StrobeEnableSupported),
                                      call(info, u"StrobePulseDurationSupported", kGet, &Info::get_StrobePulseDurationSupported),
                                      call(info, u"SupportedSampleXValues", kGet, &Info::get_SupportedSampleXValues),
                                      call(info, u"SupportedSampleYValues", kGet, &Info::get_SupportedSampleYValues)},
        prop(IID_IQorAcqCustomProperties, u"CustomProperties", &IQorAcqCustomProperties::get_CustomProperties, &IQorAcqCustomProperties::put_CustomProperties, text(u"Write\tGain\t3\n\rCommand\tReset\n\r")));
    // clang-format on
}

// Twin FIFO objects answer every interface but the simultaneous one, whose
// members the type library does not describe.
TEST_F(Properties, TheFifoObjectAnswersEachMemberByNameAsThroughItsInterface)
{
    sim().setRoiModes(std::vector<int32_t>{0, 1}.data(), 2);
    plat::com::Ref<IDispatch> twins[2];
    for (auto& twin : twins) ASSERT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &twin.p), S_OK);
    const std::vector<late_bound::Call> calls = late_bound::repeatingPuts(everyMember());
    // The module's calls that change something: not its answers whether it
    // supports a property, nor its trigger flag, which the property reads back.
    const auto moduleCalls = [] {
        return sim().calls() - sim().callCount(ccIidFifoPropertySupport, 3) - sim().callCount(ccIidFifoCore, 6);
    };
    std::vector<const IID*> iids;
    for (const IID& iid : kQorAcqFifoPropertyIids) iids.push_back(&iid);
    EXPECT_EQ(late_bound::expectTwinsAlike(twins[0].p, twins[1].p, iids, calls, moduleCalls), 27u);
}

} // namespace
