#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/propreq.h"
#include "tests/support/prop_fake.h"

namespace {

using test_bytes::Bytes;

// The words separated by spaces; bools as 0 or 1, doubles as %g.
template <class... T>
std::string words(const T&... v)
{
    std::ostringstream os;
    ((os << v << ' '), ...);
    std::string s = os.str();
    s.pop_back();
    return s;
}
std::string show(const ccPelRect& r) { return words("roi", r.x0(), r.y0(), r.x1(), r.y1()); }
std::string show(const ccRoiProp& p) { return words(show(p.roi()), "mode", p.roiMode()); }
std::string show(const ccOffsetClampProp& p) { return words("clamp", p.offsetClampMode()); }
std::string show(const ccSampleProp& p) { return words("sample", p.sampleX(), p.sampleY()); }
std::string show(const ccReadoutDirectionProp& p)
{
    return words("readout", p.horizontalReadoutReversed(), p.verticalReadoutReversed());
}
std::string show(const ccTriggerFilterProp& p)
{
    return words("filter", p.minTriggerWidth(), p.minTriggerPeriod(), p.triggerDelay(), p.ignoreMissedTrigger());
}
std::string show(const ccCdcCameraCalibrationProp& p)
{
    return words("cdc", p.outlierPixelCorrectionEnabled(), int(p.firstCalibrationByte()),
                 int(p.secondCalibrationByte()), p.rowColumnCalibrationEnabled());
}

// Logs each set with what it reads from the object handed over; with refuse
// every set fails before it is logged.
struct Board : test_acq::FakeAcqFifo {
    std::vector<std::string> calls;
    std::set<uint32_t> roiModes{0};
    bool refuse = false;
    bool cdcDefault = false;

    void put(const std::string& call)
    {
        if (refuse)
            throw ccUnsupportedHW();
        calls.push_back(call);
    }
    void roi(const ccPelRect& r) override { put(show(r)); }
    void roiMode(uint32_t mode) override { put(words("mode", mode)); }
    bool isRoiModeSupported(uint32_t mode) override { return roiModes.count(mode) != 0; }
    void roiLimits(ccPelRect& limits) override { limits = ccPelRect(4, 5, 640, 480); }
    void offsetClamp(const ccOffsetClampProp& p) override { put(show(p)); }
    void sample(const ccSampleProp& p) override { put(show(p)); }
    void readoutDirection(const ccReadoutDirectionProp& p) override { put(show(p)); }
    void triggerFilter(const ccTriggerFilterProp& p) override { put(show(p)); }
    void cdcCameraCalibration(const ccCdcCameraCalibrationProp& p) override { put(show(p)); }
    bool cdcCalibrationDefault() override { return cdcDefault; }
};

struct Family {
    ccRoiProp roi;
    ccOffsetClampProp clamp;
    ccSampleProp sample;
    ccReadoutDirectionProp readout;
    ccTriggerFilterProp filter;
    ccCdcCameraCalibrationProp cdc;

    void attach(cc_AcqFifo* fifo)
    {
        roi.attach(fifo), clamp.attach(fifo), sample.attach(fifo), readout.attach(fifo), filter.attach(fifo);
        cdc.attach(fifo);
    }
    ccPersistent& part(int i)
    {
        ccPersistent* const parts[] = {&roi, &clamp, &sample, &readout, &filter, &cdc};
        return *parts[i];
    }
    std::string show() const
    {
        return words(::show(roi), ::show(clamp), ::show(sample), ::show(readout), ::show(filter), ::show(cdc));
    }
};

// Runs f, which must throw the BadParams of one of the family's classes.
void expectBadParams(const std::function<void()>& f)
{
    try {
        f();
        ADD_FAILURE() << "accepted";
    } catch (const ccRoiProp::BadParams&) {
    } catch (const ccTriggerFilterProp::BadParams&) {
    }
}

TEST(RoiFamily, DefaultsAndTheRegisteredClasses)
{
    ccAcqHyperPropStartup();
    EXPECT_EQ(Family().show(), "roi 0 0 0 0 mode 0 clamp 0 sample 1 1 readout 0 0 filter 5e-06 0 0 1 cdc 0 85 25 1");
    test_prop::expectMadeByStoredName({"class ccRoiProp", "class ccOffsetClampProp", "class ccSampleProp",
                                       "class ccReadoutDirectionProp", "class ccTriggerFilterProp",
                                       "class ccCdcCameraCalibrationProp"});
}

#define SET(what) [=](Family & f) { f.what; }

// A refused value changes nothing and reaches no board. An accepted one is
// stored and, attached, reaches the board once (the record classes handing
// over the whole object); a board that refuses it leaves everything as it was.
TEST(RoiFamily, SettersCheckTheirBoundsForwardWhenAttachedAndKeepTheOldValueWhenTheBoardRefuses)
{
    const double max = 1e-3, nan = std::numeric_limits<double>::quiet_NaN();
    const auto above = [](double v) { return std::nextafter(v, HUGE_VAL); };
    const auto below = [](double v) { return std::nextafter(v, -HUGE_VAL); };
    typedef ccTriggerFilterProp F;
    enum At { detached, attached, recorded }; // recorded: the board's record bounds the delay at max
    const struct {
        At at;
        std::function<void(Family&)> set;
        const char* stored;         // null: refused with the class's BadParams
        const char* call = nullptr; // what the board hears, if not what is stored
    } rows[] = {
        {detached, SET(roi.roi(ccPelRect())), "roi 0 0 0 0 mode 0"},
        {attached, SET(roi.roi(ccPelRect(INT32_MAX - 647, 0, 647, 5))), "roi 2147483000 0 2147483647 5 mode 0",
         "roi 2147483000 0 2147483647 5"},
        {attached, SET(roi.roi(ccPelRect(-1, 0, 5, 5))), nullptr},
        {attached, SET(roi.roi(ccPelRect(0, -1, 5, 5))), nullptr},
        {detached, SET(roi.roiMode(0)), "roi 0 0 0 0 mode 0"},
        {detached, SET(roi.roiMode(1)), nullptr},
        {attached, SET(roi.roiMode(2)), "roi 0 0 0 0 mode 2", "mode 2"},
        {attached, SET(roi.roiMode(1)), nullptr}, // not on the board
        {attached, SET(clamp.offsetClampMode(-7)), "clamp -7"},
        {attached, SET(sample.sampleX(0)), "sample 0 1"},
        {attached, SET(sample.sampleY(-3)), "sample 1 -3"},
        {attached, SET(readout.horizontalReadoutReversed(true)), "readout 1 0"},
        {attached, SET(readout.verticalReadoutReversed(true)), "readout 0 1"},
        {attached, SET(filter.minTriggerWidth(2.999e-6)), "filter 2.999e-06 0 0 1"},
        {attached, SET(filter.minTriggerWidth(below(F::kMinWidthLowest))), nullptr},
        {detached, SET(filter.minTriggerWidth(F::kMinWidthHighest)), "filter 0.000258001 0 0 1"},
        {detached, SET(filter.minTriggerWidth(above(F::kMinWidthHighest))), nullptr},
        {attached, SET(filter.minTriggerWidth(nan)), nullptr},
        {attached, SET(filter.minTriggerPeriod(0.0)), "filter 5e-06 0 0 1"},
        {detached, SET(filter.minTriggerPeriod(below(0.0))), nullptr},
        {detached, SET(filter.minTriggerPeriod(F::kMinPeriodHighest)), "filter 5e-06 0.065537 0 1"},
        {detached, SET(filter.minTriggerPeriod(above(F::kMinPeriodHighest))), nullptr},
        {detached, SET(filter.minTriggerPeriod(nan)), nullptr},
        {attached, SET(filter.triggerDelay(F::kDelayHighest)), "filter 5e-06 0 0.065535 1"},
        {detached, SET(filter.triggerDelay(above(F::kDelayHighest))), nullptr},
        {recorded, SET(filter.triggerDelay(max)), "filter 5e-06 0 0.001 1"},
        {recorded, SET(filter.triggerDelay(above(max))), nullptr},
        {recorded, SET(filter.triggerDelay(-1e-9)), nullptr},
        {detached, SET(filter.triggerDelay(nan)), nullptr},
        {attached, SET(filter.ignoreMissedTrigger(false)), "filter 5e-06 0 0 0"},
        {attached, SET(cdc.outlierPixelCorrectionEnabled(true)), "cdc 1 85 25 1"},
        {attached, SET(cdc.rowColumnCalibrationEnabled(false)), "cdc 0 85 25 0"},
    };
    for (const auto& r : rows) {
        for (const bool refusing : {false, true}) {
            if (refusing && !(r.at != detached && r.stored))
                continue;
            SCOPED_TRACE("row " + std::to_string(&r - rows) + (refusing ? " (board refuses)" : ""));
            Board board;
            board.roiModes = {0, 2};
            if (r.at == recorded)
                board.info.push_back({ccPropTriggerDelay, 0.0, max, 0.0, 0});
            Family f;
            if (r.at != detached)
                f.attach(&board);
            board.calls.clear(); // the calibration's own push at attach
            board.refuse = refusing;
            const std::string before = f.show();
            if (!r.stored)
                expectBadParams([&] { r.set(f); });
            else if (refusing)
                EXPECT_THROW(r.set(f), ccUnsupportedHW);
            else
                r.set(f);
            if (r.stored && !refusing)
                EXPECT_NE(f.show().find(r.stored), std::string::npos) << f.show();
            else
                EXPECT_EQ(f.show(), before);
            EXPECT_EQ(board.calls, (r.stored && r.at != detached && !refusing
                                        ? std::vector<std::string>{r.call ? r.call : r.stored}
                                        : std::vector<std::string>{}));
        }
    }
}

TEST(RoiFamily, LimitsNeedTheBoardAndOnlyTheCalibrationPushesItselfOnAttach)
{
    Family f;
    ccPelRect limits;
    EXPECT_THROW(f.roi.roiLimits(limits), ccRoiProp::NoFrameGrabber);
    f.cdc.rowColumnCalibrationEnabled(false);

    Board refusing;
    refusing.refuse = true;
    refusing.cdcDefault = true;
    EXPECT_THROW(f.cdc.attach(&refusing), ccUnsupportedHW);
    EXPECT_EQ(show(f.cdc), "cdc 0 85 25 0");
    EXPECT_EQ(f.cdc.fifo(), nullptr);

    Board board;
    board.cdcDefault = true;
    f.attach(&board);
    EXPECT_EQ(board.calls, std::vector<std::string>{"cdc 1 85 25 0"});
    EXPECT_EQ(f.show(), "roi 0 0 0 0 mode 0 clamp 0 sample 1 1 readout 0 0 filter 5e-06 0 0 1 cdc 1 85 25 0");
    EXPECT_EQ(&f.roi.roiLimits(limits), &limits);
    EXPECT_EQ(show(limits), "roi 4 5 644 485");
}

// Hand-written archives: header, version byte, the ccPersistent level's byte,
// then the fields, little-endian.
TEST(RoiFamily, ArchivesOfEveryVersionLoadThroughTheSettersAndStoreAsWritten)
{
    ccAcqHyperPropStartup();
    const Bytes w2 = {2, 0, 0, 0}, w3 = {3, 0, 0, 0}, d0 = {0, 0, 0, 0, 0, 0, 0, 0};
    // 2^-17, 2^-10, 2^-12, 2^-8 and NaN.
    const Bytes d17 = {0, 0, 0, 0, 0, 0, 0xE0, 0x3E}, d10 = {0, 0, 0, 0, 0, 0, 0x50, 0x3F};
    const Bytes d12 = {0, 0, 0, 0, 0, 0, 0x30, 0x3F}, d8 = {0, 0, 0, 0, 0, 0, 0x70, 0x3F};
    const Bytes dNaN = {0, 0, 0, 0, 0, 0, 0xF8, 0x7F};
    const Bytes rect = test_bytes::cat({{0, 1, 0, 0, 0}, w2, {11, 0, 0, 0}, {22, 0, 0, 0}});
    enum { roi, clamp, sample, readout, filter, cdc };
    const struct {
        const char* label;
        int part;
        bool current;
        Bytes body;
        const char* loaded; // null: refused; "acq/...": a newer version of that file
        std::vector<std::string> calls;
    } rows[] = {
        {"roi 1", roi, true, test_bytes::cat({{1, 0}, rect, w3}), "roi 1 2 11 22 mode 3", {"roi 1 2 11 22", "mode 3"}},
        {"roi 0", roi, false, test_bytes::cat({{0, 0}, rect}), "roi 1 2 11 22 mode 0", {"roi 1 2 11 22"}},
        // Edges 2^32 - 1 apart, x0 negative.
        {"roi refused", roi, false,
         test_bytes::cat({{1, 0, 0}, {0, 0, 0, 0x80}, w2, {0xFF, 0xFF, 0xFF, 0x7F}, w2, w3}), nullptr, {}},
        {"roi 2", roi, false, {2, 0}, "acq/hyper/prop/roi", {}},
        {"clamp 0", clamp, true, {0, 0, 0xFE, 0xFF, 0xFF, 0xFF}, "clamp -2", {"clamp -2"}},
        {"clamp 1", clamp, false, {1, 0}, "acq/hyper/prop/offsetclamp", {}},
        {"sample 0", sample, true, test_bytes::cat({{0, 0}, w2, {4, 0, 0, 0}}), "sample 2 4", {"sample 2 4"}},
        {"sample 1", sample, false, {1, 0}, "acq/hyper/prop/sample", {}},
        {"readout 0", readout, true, {0, 0, 1, 0}, "readout 1 0", {"readout 1 0"}},
        {"readout 1", readout, false, {1, 0}, "acq/hyper/prop/readdir", {}},
        {"filter 1", filter, true, test_bytes::cat({{1, 0, 0}, d17, d10, d12}),
         "filter 7.62939e-06 0.000976562 0.000244141 0", {"filter 7.62939e-06 0.000976562 0.000244141 0"}},
        // Unchecked: the width is above the setter's bound.
        {"filter 0", filter, false, test_bytes::cat({{0, 0}, d8, d0, d0}), "filter 0.00390625 0 0 1",
         {"filter 0.00390625 0 0 1"}},
        {"filter NaN", filter, false, test_bytes::cat({{1, 0, 0}, dNaN, d0, d0}), nullptr, {}},
        {"filter 2", filter, false, {2, 0}, "acq/hyper/prop/triggerfilter", {}},
        {"cdc 0", cdc, true, {0, 0, 1, 7, 9, 0}, "cdc 1 7 9 0", {"cdc 1 7 9 0"}},
        {"cdc 1", cdc, false, {1, 0}, "acq/hyper/prop/cdc_calib", {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.label);
        Board board; // supports only mode 0: a loaded mode skips the check but is sent
        Family f;
        f.filter.ignoreMissedTrigger(false);
        f.attach(&board);
        board.calls.clear();
        const std::string before = f.show();
        const Bytes bytes = test_bytes::cat({{0x02, 0x01}, r.body});
        const auto io = [&](ccArchive& ar) { ccArchiveObject(f.part(r.part), ar, false); };
        const auto load = [&] { test_bytes::load(bytes, io); };
        if (!r.loaded) {
            expectBadParams(load);
        } else if (std::strncmp(r.loaded, "acq/", 4) == 0) {
            try {
                load();
                ADD_FAILURE() << "loaded";
            } catch (const ccArchive::UnknownVersion& e) {
                EXPECT_EQ(e.file(), std::wstring(r.loaded, r.loaded + std::strlen(r.loaded)));
            }
        } else {
            load();
            EXPECT_NE(f.show().find(r.loaded), std::string::npos) << f.show();
            EXPECT_EQ(board.calls, r.calls);
            if (r.current) {
                EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, io), bytes);
            }
            continue;
        }
        EXPECT_EQ(f.show(), before);
        EXPECT_TRUE(board.calls.empty());
    }
}

} // namespace
