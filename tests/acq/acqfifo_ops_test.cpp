#include "acq/acqfifo.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>

#include "acq/propreq.h"
#include "acq/startup.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;

// A fake whose forwarded operations answer distinct values and record what
// they were given; failing, each raises instead.
struct Recording : FakeAcqFifo {
    bool failing = false;
    uint32_t ticket = 0;
    int flushes = 0;
    std::wstring* message = nullptr;
    double remaining = 0.0;
    std::deque<ccPelBuffer<ccPackedRGB16Pel>> framesRGB16;

    void failIfAsked() const
    {
        if (failing)
            throw ccAcqFifo::StartNotAllowed();
    }
    template <class T>
    T answer(T value) const
    {
        failIfAsked();
        return value;
    }
    bool start(uint32_t t) override
    {
        failIfAsked();
        ticket = t;
        return t % 2 == 1;
    }
    bool isBusy() override { return answer(true); }
    uint32_t pendingAcqs() override { return answer(3u); }
    uint32_t completedAcqs() override { return answer(5u); }
    bool prepare(std::wstring* m, ccTimeout& timeout) override
    {
        failIfAsked();
        message = m;
        remaining = timeout.remaining();
        return true;
    }
    void flush() override
    {
        failIfAsked();
        ++flushes;
    }
    ccPelBuffer<ccPackedRGB16Pel> completeAcqRGB16(const ccAcqCompleteArgs&) override
    {
        if (framesRGB16.empty())
            return {};
        ccPelBuffer<ccPackedRGB16Pel> frame = framesRGB16.front();
        framesRGB16.pop_front();
        return frame;
    }
};

// A fake that keeps every operation the interface gives a body to as the
// interface gives it: what any implementation offers without writing it.
struct RequiredOnly : FakeAcqFifo {
    bool reconfigure(const void* object) override { return cc_AcqFifo::reconfigure(object); }
    ccPelBuffer<unsigned char> completeAcq8(const ccAcqCompleteArgs& a) override { return cc_AcqFifo::completeAcq8(a); }
    ccPelBuffer<ccPackedRGB32Pel> completeAcqRGB32(const ccAcqCompleteArgs& a) override
    {
        return cc_AcqFifo::completeAcqRGB32(a);
    }
    cc3PlanePelBuffer completeAcq3Plane(const ccAcqCompleteArgs& a) override { return cc_AcqFifo::completeAcq3Plane(a); }
    ccPtrHandle<ccAcqImage> completeAcqImage(const ccAcqCompleteArgs& a) override
    {
        return cc_AcqFifo::completeAcqImage(a);
    }
    void buildPropertyInfo(std::vector<ccAcqPropertyInfo>& info) override { cc_AcqFifo::buildPropertyInfo(info); }
    const std::vector<int32_t>* supportedSampleValues() override { return cc_AcqFifo::supportedSampleValues(); }
};

template <class K>
class Fifo : public K {
public:
    explicit Fifo(cc_AcqFifo* impl) : K(impl) {}
    ccAcqProps& acqProps() override { throw ccBadPointer(); }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

class AcqFifoOps : public ::testing::Test {
protected:
    void SetUp() override { ccAcqStartup(); }
};

TEST_F(AcqFifoOps, EachOperationForwardsItsArgumentsAndAnswerAndLetsErrorsThrough)
{
    Recording* fake = new Recording;
    Fifo<ccGreyAcqFifo> fifo(fake);
    std::wstring text;
    const struct {
        const char* name;
        std::function<double()> call;
        double answer;
        std::function<bool()> given; // what the implementation received
    } rows[] = {
        {"start", [&] { return fifo.start(7); }, 1, [&] { return fake->ticket == 7; }},
        {"start even", [&] { return fifo.start(8); }, 0, [&] { return fake->ticket == 8; }},
        {"isBusy", [&] { return fifo.isBusy(); }, 1, [] { return true; }},
        {"pendingAcqs", [&] { return fifo.pendingAcqs(); }, 3, [] { return true; }},
        {"completedAcqs", [&] { return fifo.completedAcqs(); }, 5, [] { return true; }},
        {"flush", [&] { return fifo.flush(), 0; }, 0, [&] { return fake->flushes == 1; }},
        // The time-out counts from the call; only the message form passes a text.
        {"prepare", [&] { return fifo.prepare(4.0); }, 1,
         [&] { return fake->message == nullptr && fake->remaining > 3.0 && fake->remaining <= 4.0; }},
        {"prepare with text", [&] { return fifo.prepare(&text, 2.0); }, 1,
         [&] { return fake->message == &text && fake->remaining > 1.0 && fake->remaining <= 2.0; }},
    };
    for (const auto& r : rows) {
        fake->failing = false;
        EXPECT_EQ(r.call(), r.answer) << r.name;
        EXPECT_TRUE(r.given()) << r.name;
        fake->failing = true;
        EXPECT_THROW(r.call(), ccAcqFifo::StartNotAllowed) << r.name;
    }
    EXPECT_EQ(fake->flushes, 1);
}

TEST_F(AcqFifoOps, WithoutAnImplementationEveryOperationRaisesCouldNotCreate)
{
    Fifo<ccRGB16AcqFifo> fifo(nullptr);
    std::wstring text = L"kept";
    const std::function<void()> calls[] = {
        [&] { fifo.reconfigure(); },       [&] { fifo.isBusy(); },         [&] { fifo.pendingAcqs(); },
        [&] { fifo.completedAcqs(); },     [&] { fifo.flush(); },          [&] { fifo.prepare(&text, 1.0); },
        [&] { fifo.movePartCallback(ccAcqInfoCallbackHandle()); },
        [&] { fifo.overrunCallback(ccAcqInfoCallbackHandle()); },
        [&] { fifo.completeToImage(ccAcqCompleteArgs()); },
    };
    for (size_t i = 0; i < std::size(calls); ++i)
        EXPECT_THROW(calls[i](), ccAcqFifo::CouldNotCreate) << i;
    EXPECT_EQ(text, L"kept");
}

// Each kind puts its own pel-format code on the image of a completed frame,
// and on the empty image of a completion that gave none (grey: see
// acqfifo_test).
TEST_F(AcqFifoOps, EachKindsImageCarriesItsCodeWithOrWithoutAFrame)
{
    Recording* rgb16 = new Recording;
    Recording* rgb32 = new Recording;
    Fifo<ccRGB16AcqFifo> rgb16Fifo(rgb16);
    Fifo<ccRGB32AcqFifo> rgb32Fifo(rgb32);
    rgb16->framesRGB16.emplace_back(4, 3, 1);
    rgb32->framesRGB32.emplace_back(4, 3, 1);
    const struct { ccAcqFifo* fifo; const cc_PelRoot* root; uint32_t code; } rows[] = {
        {&rgb16Fifo, &rgb16->framesRGB16.back().root(), 3},
        {&rgb32Fifo, &rgb32->framesRGB32.back().root(), 4},
    };
    for (const auto& r : rows) {
        const ccAcqCompleteArgs args;
        const ccPtrHandle<ccAcqImage> image = r.fifo->completeToImage(args);
        ASSERT_TRUE(image->isValid()) << r.code;
        EXPECT_EQ(image->format(), r.code);
        EXPECT_EQ(&image->rawBuffer()->root(), r.root) << r.code;
        const ccPtrHandle<ccAcqImage> none = r.fifo->completeToImage(args); // nothing left to complete
        EXPECT_FALSE(none->isValid()) << r.code;
        EXPECT_EQ(none->format(), r.code);
        EXPECT_EQ(std::unique_ptr<cc_PelBuffer>(r.fifo->completeToBuffer(args)), nullptr) << r.code;
    }
    rgb16->framesRGB16.emplace_back(4, 3, 1);
    const cc_PelRoot* root = &rgb16->framesRGB16.back().root();
    std::unique_ptr<ccPelBuffer<ccPackedRGB16Pel>> buffer(rgb16Fifo.completeToBuffer(ccAcqCompleteArgs()));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(&buffer->root(), root);
}

// An implementation that writes only what the interface requires: every
// completion gives nothing, no property is described, and the optional
// operations answer their neutral values.
TEST_F(AcqFifoOps, AnImplementationOfTheRequiredOperationsAloneAnswersNeutrally)
{
    ccAcqCompleteArgs args;
    bool outcome = true;
    args.outcome = &outcome;
    const std::function<ccAcqFifo*(cc_AcqFifo*)> kinds[] = {
        [](cc_AcqFifo* impl) { return new Fifo<ccGreyAcqFifo>(impl); },
        [](cc_AcqFifo* impl) { return new Fifo<ccRGB16AcqFifo>(impl); },
        [](cc_AcqFifo* impl) { return new Fifo<ccRGB32AcqFifo>(impl); },
        [](cc_AcqFifo* impl) { return new Fifo<cc3PlaneAcqFifo>(impl); },
    };
    for (const auto& make : kinds) {
        std::unique_ptr<ccAcqFifo> fifo(make(new RequiredOnly));
        EXPECT_EQ(std::unique_ptr<cc_PelBuffer>(fifo->completeToBuffer(args)), nullptr) << fifo->pelFormat();
        const ccPtrHandle<ccAcqImage> image = fifo->completeToImage(args);
        ASSERT_NE(image.rawPointer(), nullptr);
        EXPECT_FALSE(image->isValid()) << fifo->pelFormat();
    }
    EXPECT_TRUE(outcome); // the base completions write no outcome

    RequiredOnly impl;
    cc_AcqFifo& base = impl;
    EXPECT_FALSE(base.reconfigure(nullptr));
    EXPECT_FALSE(base.completeAcq16(args).isBound());
    EXPECT_EQ(base.supportedSampleValues(), nullptr);
    const struct { const char* name; std::function<double()> answer; double expected; } rows[] = {
        {"numInputLuts", [&] { return base.numInputLuts(); }, 0},
        {"isCameraLocationValid", [&] { return base.isCameraLocationValid(nullptr); }, 0},
        {"contrastDefault", [&] { return base.contrastDefault(); }, 0.5},
        {"brightnessDefault", [&] { return base.brightnessDefault(); }, 0.5},
        {"cdcCalibrationDefault", [&] { return base.cdcCalibrationDefault(); }, 0},
        {"exposureDefault", [&] { return base.exposureDefault(); }, 2e-5},
        {"acceptsPelRootPool", [&] { return base.acceptsPelRootPool(ccPtrHandle<ccPelRootPool>()); }, 1},
        {"isValidMaster", [&] { return base.isValidMaster(&impl); }, 0},
        {"alwaysFalseQuery", [&] { return base.alwaysFalseQuery(); }, 0},
        {"hookFalseB", [&] { return base.hookFalseB(1); }, 0},
        {"hookTrue", [&] { return base.hookTrue(0); }, 1},
        {"hookZeroA", [&] { return base.hookZeroA(); }, 0},
        {"hookZeroB", [&] { return base.hookZeroB(); }, 0},
        // The block is the callee's: the leak checker sees it if it is kept.
        {"hookTakesBlock", [&] { return base.hookTakesBlock(1, 2, std::make_unique<uint8_t[]>(64), 4, 5, 6, 7); }, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.answer(), r.expected) << r.name;
    std::array<uint32_t, 6> record{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(base.hookFalseC(record));
    // The operations without an answer change nothing they are given.
    ccAcqPropertyRequest request{1000, 2, 0.5, 1, 9};
    base.sendPropertyRequest(request);
    base.extRecordQuery(request);
    base.cameraLocation(nullptr);
    base.cameraBandwidth(1.0);
    base.noOpHookA(1);
    base.noOpHookB(2);
    base.noOpHookC();
    EXPECT_EQ(std::make_tuple(request.id, request.channel, request.value, request.valid, request.reserved),
              std::make_tuple(1000, 2, 0.5, 1u, 9u));
    EXPECT_EQ(record, (std::array<uint32_t, 6>{1, 2, 3, 4, 5, 6}));
}

// Every property-information query reads the record of its own identifier.
TEST_F(AcqFifoOps, EachInformationQueryReadsItsOwnIdentifier)
{
    const struct { uint32_t id; std::function<double(ccAcqFifo&)> query; double present; } rows[] = {
        {1000, [](ccAcqFifo& f) { return f.minExposure(); }, 0.125},
        {1004, [](ccAcqFifo& f) { return f.isStrobeEnableSupported(); }, 1},
        {1005, [](ccAcqFifo& f) { return f.isStrobePulseDurationSupported(); }, 1},
        {1019, [](ccAcqFifo& f) { return f.contrastDefaultValue(); }, 0.75},
        {1020, [](ccAcqFifo& f) { return f.brightnessDefaultValue(); }, 0.75},
        {9008, [](ccAcqFifo& f) { return f.isPropertyPresent9008(); }, 1},
        {9011, [](ccAcqFifo& f) { return f.supportedSampleXValues() != nullptr; }, 1},
        {9012, [](ccAcqFifo& f) { return f.supportedSampleYValues() != nullptr; }, 1},
    };
    for (const auto& described : rows) {
        FakeAcqFifo* fake = new FakeAcqFifo;
        fake->info = {{described.id, 0.125, 1.0, 0.75, 0}};
        Fifo<ccGreyAcqFifo> fifo(fake);
        for (const auto& asked : rows)
            EXPECT_EQ(asked.query(fifo), asked.id == described.id ? asked.present : 0.0)
                << "described " << described.id << ", asked " << asked.id;
    }
}

} // namespace
