// The second group of the FIFO's property interfaces, through their mixins
// over a library FIFO of the simulated board.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "grabber/itf_props_b.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;
using cc_grabber::toVariantBool;

using Host = ccComPropHost<IQorAcqMasterClockFrequencyImpl, IQorAcqROIImpl, IQorAcqSimultaneousImpl,
    IQorAcqOffsetClampImpl, IQorAcqSampleImpl, IQorAcqReadoutDirectionImpl, IQorAcqTriggerFilterImpl,
    IQorAcqStrobeDelayImpl, IQorAcqCameraCalibrationImpl, IQorAcqLineScanImpl, IQorAcqStrobePulseDurationImpl,
    IQorAcq1394DCAMImpl, IQorAcqCustomPropertiesImpl>;

// The setting information also reads the library FIFO itself.
struct InfoHost : ccComPropHost<IQorAcqOffsetClampImpl>, IQorAcqSettingInfoImpl<InfoHost> {
    ccAcqFifo& libraryFifo() { return fifo(); }
    CC_STACK_DISPATCH_STUBS
};

class PropertiesB : public testing::Test {
protected:
    void SetUp() override { sim().reset(); }
};

// What the error handler makes of the library's exception.
template <class E> HRESULT translated()
{
    return ccComMethod(ccCOMErrorContext{&CLSID_QorAcqFifo7320, &IID_NULL, u""}, nullptr, []() -> HRESULT { throw E(); });
}

// The source of the calling thread's error object (the class and the
// method) when it has a description; else empty.
std::u16string errorSourceIfDescribed()
{
    plat::com::Ref<IErrorInfo> info;
    BSTR source = nullptr, description = nullptr;
    if (GetErrorInfo(0, &info.p) != S_OK || !info.p || info.p->GetSource(&source) != S_OK) return {};
    std::u16string result(source, SysStringLen(source));
    if (info.p->GetDescription(&description) != S_OK || SysStringLen(description) == 0) result.clear();
    SysFreeString(source);
    SysFreeString(description);
    return result;
}

// One property of each kind of mapping the first group lacks: a new value
// put, its checks, a put refused and the (interface id, slot) through which
// the library sends a set to the board.
struct Case {
    const char* name;
    DISPID id;
    std::function<HRESULT(Host&)> put, putSame, putBad;
    std::function<bool(Host&)> holdsNew; // the get and the library agree on the new value
    HRESULT refusal;
    int32_t iid, slot;
};

// A scalar property of interface Itf whose library value read gives.
template <class Itf, class V, class Read>
Case scalar(const char* name, DISPID id, HRESULT (Itf::*get)(V*), HRESULT (Itf::*put)(V), V value, V bad,
            HRESULT refusal, Read read)
{
    Case c{name, id, {}, {}, {}, {}, refusal, ccIidFifoProperties, 4};
    c.put = [=](Host& h) { return (h.*put)(value); };
    c.putSame = [=](Host& h) { V now{}; return (h.*get)(&now), (h.*put)(now); };
    c.putBad = [=](Host& h) { return (h.*put)(bad); };
    c.holdsNew = [=](Host& h) { V got{}; return (h.*get)(&got) == S_OK && got == value && read(h.query()) == value; };
    return c;
}

// A property the library takes unchecked: the board refuses it instead.
template <class Itf, class V, class Read>
Case refusedByBoard(const char* name, DISPID id, HRESULT (Itf::*get)(V*), HRESULT (Itf::*put)(V), V value, V other,
                    Read read)
{
    Case c = scalar(name, id, get, put, value, other, translated<ccAcqFifo::BadParams>(), read);
    c.putBad = [=](Host& h) {
        sim_module::failNext(ccIidFifoProperties, 4, ccAcqFifo::BadParams());
        return (h.*put)(other);
    };
    return c;
}

using Q = ccAcqPropertyQuery;

// clang-format off
std::vector<Case> cases()
{
    using namespace cc_props_b;
    std::vector<Case> all = {
        refusedByBoard("OffsetClampMode", kOffsetClampMode, &IQorAcqOffsetClamp::get_OffsetClampMode, &IQorAcqOffsetClamp::put_OffsetClampMode,
                       LONG{2}, LONG{3}, [](Q& q) { return q.offsetClampPropRef().offsetClampMode(); }),
        // 300 would pass as 44 if cut to the library's byte.
        scalar("FirstPelOffset", kFirstPelOffset, &IQorAcqLineScan::get_FirstPelOffset, &IQorAcqLineScan::put_FirstPelOffset,
               LONG{5}, LONG{300}, translated<ccFirstPelOffsetProp::BadParams>(), [](Q& q) { return LONG{q.firstPelOffsetPropRef().firstPelOffset()}; }),
    };
    // clang-format on

    // A negative size would pass as the region beside it.
    Case roi{"SetROI", kSetROI, {}, {}, {}, {}, translated<ccRoiProp::BadParams>(), ccIidFifoCamera, 3};
    roi.put = [](Host& h) { return h.SetROI(8, 4, 320, 240); };
    roi.putSame = [](Host& h) { LONG x = 0, y = 0, w = 0, ht = 0; return h.GetROI(&x, &y, &w, &ht), h.SetROI(x, y, w, ht); };
    roi.putBad = [](Host& h) { return h.SetROI(100, 0, -50, 240); };
    roi.holdsNew = [](Host& h) {
        LONG x = 0, y = 0, w = 0, ht = 0;
        return h.GetROI(&x, &y, &w, &ht) == S_OK && ccPelRect(x, y, w, ht) == ccPelRect(8, 4, 320, 240)
               && h.query().roiPropRef().roi() == ccPelRect(8, 4, 320, 240);
    };
    all.push_back(roi);

    static const std::wstring kBag = L"Write\tGain\t3\n\rCommand\tReset\n\r";
    Case custom{"CustomProperties", kCustomProperties, {}, {}, {}, {}, translated<ccCustomPropertyBag::BadParams>(), ccIidFifoCustomProps, 3};
    auto putText = [](Host& h, const std::wstring& text) {
        BSTR b = plat::com::bstrFromWide(text);
        const HRESULT hr = h.put_CustomProperties(b);
        return SysFreeString(b), hr;
    };
    custom.put = [=](Host& h) { return putText(h, kBag); };
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

// A put of the value in force calls nothing; a new one reaches the library
// and tells its change once; a refused one is the library's error and keeps
// it. The new values come back in a fresh FIFO.
TEST_F(PropertiesB, APutReachesTheLibraryOnceARefusedOneKeepsTheValueAndValuesPersist)
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
        const std::string put = c.id == cc_props_b::kSetROI ? c.name : "put_" + std::string(c.name);
        EXPECT_EQ(errorSourceIfDescribed(), u"Qoralt.QorAcqFifo7320 " + std::u16string(put.begin(), put.end()));
        EXPECT_TRUE(c.holdsNew(host));
        EXPECT_TRUE(host.changed.empty());
    }
    ccTestArchive archive(0x40FFFFFF);
    ASSERT_EQ(host.persist(archive.p, 0), S_OK);
    archive.p->SetMode(0x00FFFFFF);
    Host loaded;
    ASSERT_EQ(loaded.persist(archive.p, 0), S_OK);
    for (const Case& c : cases()) EXPECT_TRUE(c.holdsNew(loaded)) << c.name;
}

std::vector<LONG> elements(SAFEARRAY* array)
{
    EXPECT_EQ(SafeArrayGetElemsize(array), sizeof(LONG));
    const LONG* first = static_cast<const LONG*>(array->pvData);
    std::vector<LONG> all(first, first + array->rgsabound[0].cElements);
    return SafeArrayDestroy(array), all;
}

TEST_F(PropertiesB, SettingInfoIsWhatTheLibraryFifoReports)
{
    for (const bool records : {true, false}) {
        SCOPED_TRACE(records);
        if (!records) sim().setPropertyInfos(nullptr, 0);
        InfoHost host;
        ccAcqFifo& fifo = host.fifo();
        double minExposure = -1, contrast = -1, brightness = -1;
        VARIANT_BOOL enable = 1, duration = 1;
        SAFEARRAY *x = nullptr, *y = nullptr;
        ASSERT_EQ(host.get_MinExposure(&minExposure) | host.get_ContrastDefaultValue(&contrast) | host.get_BrightnessDefaultValue(&brightness)
                      | host.get_StrobeEnableSupported(&enable) | host.get_StrobePulseDurationSupported(&duration)
                      | host.get_SupportedSampleXValues(&x) | host.get_SupportedSampleYValues(&y),
                  S_OK);
        EXPECT_EQ(std::make_tuple(minExposure, contrast, brightness, enable, duration),
                  std::make_tuple(fifo.minExposure(), fifo.contrastDefaultValue(), fifo.brightnessDefaultValue(),
                                  toVariantBool(fifo.isStrobeEnableSupported()), toVariantBool(fifo.isStrobePulseDurationSupported())));
        const std::vector<LONG> expected = records ? std::vector<LONG>{1, 2, 4} : std::vector<LONG>{};
        EXPECT_EQ(std::make_pair(elements(x), elements(y)), std::make_pair(expected, expected));
        EXPECT_EQ(minExposure, records ? 1e-6 : 0.0);
    }
}

template <class I> void* as(Host& h, InfoHost&) { return static_cast<I*>(&h); }
VARIANT of(VARTYPE vt, double value)
{
    VARIANT v{};
    v.vt = vt;
    if (vt == VT_R8) v.dblVal = value;
    if (vt == VT_I4) v.lVal = LONG(value);
    if (vt == VT_BOOL) v.boolVal = VARIANT_TRUE;
    return v;
}

// One put and one get per interface by name through the module's type
// library, to show each table calls the methods it names. Simultaneous needs
// what the board lacks; SettingInfo needs nothing.
TEST_F(PropertiesB, EachTableCallsItsMethodsByNameWhereTheFifoHasWhatItNeeds)
{
    const struct {
        const IID* iid;
        const char16_t* name;
        VARIANT value; // VT_EMPTY: read only
        void* (*instance)(Host&, InfoHost&);
    } table[] = {
        {&IID_IQorAcqMasterClockFrequency, u"MasterClockFrequency", of(VT_R8, 12.5), &as<IQorAcqMasterClockFrequency>},
        {&IID_IQorAcqROI, u"ROIMode", of(VT_I4, 0), &as<IQorAcqROI>},
        {&IID_IQorAcqOffsetClamp, u"OffsetClampMode", of(VT_I4, 3), &as<IQorAcqOffsetClamp>},
        {&IID_IQorAcqSample, u"SampleX", of(VT_I4, 4), &as<IQorAcqSample>},
        {&IID_IQorAcqReadoutDirection, u"HorizontalReadoutReversed", of(VT_BOOL, 1), &as<IQorAcqReadoutDirection>},
        {&IID_IQorAcqTriggerFilter, u"TriggerDelay", of(VT_R8, 1e-4), &as<IQorAcqTriggerFilter>},
        {&IID_IQorAcqStrobeDelay, u"StrobeDelay", of(VT_R8, 1e-3), &as<IQorAcqStrobeDelay>},
        {&IID_IQorAcqCameraCalibration, u"OutlierPixelCorrectionEnabled", of(VT_BOOL, 1), &as<IQorAcqCameraCalibration>},
        {&IID_IQorAcqLineScan, u"StepsPerLine", of(VT_I4, 7), &as<IQorAcqLineScan>},
        {&IID_IQorAcqStrobePulseDuration, u"StrobePulseDuration", of(VT_R8, 5e-4), &as<IQorAcqStrobePulseDuration>},
        {&IID_IQorAcq1394DCAM, u"CameraBandwidth", of(VT_R8, 0.5), &as<IQorAcq1394DCAM>},
        {&IID_IQorAcqSettingInfo, u"MinExposure", VARIANT{},
         [](Host&, InfoHost& i) -> void* { return static_cast<IQorAcqSettingInfo*>(&i); }},
        {&IID_IQorAcqCustomProperties, u"CustomProperties", VARIANT{}, &as<IQorAcqCustomProperties>},
    };
    Host host;
    InfoHost info;
    for (const auto& c : table) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        void* instance = c.instance(host, info);
        MEMBERID id = 0;
        const HRESULT put = c.value.vt == VT_EMPTY ? S_OK : ccTestInvokeByName(*c.iid, c.name, instance, DISPATCH_PROPERTYPUT, {c.value}, nullptr, &id);
        EXPECT_EQ(put, S_OK);
        VARIANT got{}, expected = c.value;
        ASSERT_EQ(ccTestInvokeByName(*c.iid, c.name, instance, DISPATCH_PROPERTYGET, {}, &got, &id), S_OK);
        EXPECT_TRUE(c.value.vt == VT_EMPTY ? got.vt != VT_EMPTY : VarCmp(&got, &expected, 0, 0) == VARCMP_EQ);
        VariantClear(&got);
    }
    for (const bool all : {true, false}) {
        if (!all) sim().setSupported(nullptr, 0);
        EXPECT_EQ(Host::supportedCount(host.query()), all ? 12u : 0u);
        EXPECT_FALSE(IQorAcqSimultaneousImpl<Host>::isSupported(host.query()));
        EXPECT_TRUE(IQorAcqSettingInfoImpl<InfoHost>::isSupported(host.query()));
    }
}

} // namespace
