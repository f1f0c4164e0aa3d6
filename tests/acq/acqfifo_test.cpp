#include "acq/acqfifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "acq/startup.h"
#include "tests/std/pelbuf/pel_peer.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;
typedef FakeAcqFifo::Kind Kind;
typedef ccPelBuffer<unsigned char> Buffer8;

// A kind made whole, over a fake it owns; what the standard forms add is
// never reached here.
template <class K>
class Fifo : public K {
public:
    explicit Fifo(cc_AcqFifo* impl = new FakeAcqFifo) : K(impl) {}
    FakeAcqFifo& fake() { return static_cast<FakeAcqFifo&>(*this->implementation()); }
    ccAcqProps& acqProps() override { throw ccBadPointer(); }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

class AcqFifoKinds : public ::testing::Test {
protected:
    void SetUp() override { ccAcqStartup(); }
    // A proxy of a new 3 x 2 root of the peer, pel (x, y) = y * 16 + x.
    template <class T>
    ccPelBuffer<T> atPeer()
    {
        return ccPelBuffer<T>(new ccPelRoot<T>(peer.destination(), peer.addNumbered(3, 2), 3, 2));
    }
    test_pel::PelPeer peer;
};

TEST_F(AcqFifoKinds, AFrameIsCopiedHereOnlyWhenAskedAndOnlyFromTheModule)
{
    enum Source { unbound, local, remote };
    const struct { Source source; bool localCopy, kept; } rows[] = {
        {unbound, true, false}, {local, true, true}, {remote, false, true}, {remote, true, false}};
    for (const auto& r : rows) {
        Fifo<ccGreyAcqFifo> fifo;
        const cc_PelRoot* frames[2] = {}; // completed into the buffer, then into the image
        for (const cc_PelRoot*& root : frames) {
            fifo.fake().frames8.push_back(r.source == unbound ? Buffer8()
                                          : r.source == local ? Buffer8(3, 2, 1)
                                                              : atPeer<unsigned char>());
            root = r.source == unbound ? nullptr : &fifo.fake().frames8.back().root();
        }
        ccAcqCompleteArgs args;
        args.localCopy = r.localCopy;
        std::unique_ptr<Buffer8> buffer(fifo.completeToBuffer(args));
        const ccPtrHandle<ccAcqImage> image = fifo.completeToImage(args);
        EXPECT_EQ(image->format(), 1u);
        EXPECT_EQ(image->isValid(), r.source != unbound);
        if (r.source == unbound) {
            EXPECT_EQ(buffer, nullptr);
            continue;
        }
        ASSERT_NE(buffer, nullptr);
        const ccPelBuffer_const<unsigned char> results[2] = {*buffer,
                                                             ccPelBuffer_const<unsigned char>(*image->rawBuffer())};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(&results[i].root() == frames[i], r.kept) << r.source << " " << r.localCopy;
            EXPECT_EQ(bool(results[i].root().destination()), r.source == remote && r.kept);
        }
    }
}

TEST_F(AcqFifoKinds, EachKindCompletesThroughItsOwnPelType)
{
    ccAcqCompleteArgs copy;
    copy.localCopy = true;
    Fifo<ccRGB32AcqFifo> rgb32;
    rgb32.fake().framesRGB32 = {atPeer<ccPackedRGB32Pel>()};
    std::unique_ptr<ccPelBuffer<ccPackedRGB32Pel>> b32(rgb32.completeToBuffer(copy));
    EXPECT_EQ(b32->pel(1, 1)->value, 0x11u); // here: a remote root has no pels to point at

    // Three planes: the completed root itself, and images from the
    // implementation's own completion.
    Fifo<cc3PlaneAcqFifo> planes;
    EXPECT_EQ(planes.completeToBuffer(copy), nullptr);
    Buffer8 p[3] = {Buffer8(2, 2, 1), Buffer8(2, 2, 1), Buffer8(2, 2, 1)};
    planes.fake().frames3Plane.emplace_back(p[0], p[1], p[2]);
    const cc_PelRoot* root3 = &planes.fake().frames3Plane.back().root();
    EXPECT_EQ(&std::unique_ptr<cc3PlanePelBuffer>(planes.completeToBuffer(copy))->root(), root3);
    const ccPtrHandle<ccAcqImage> image3(new ccAcqImage());
    planes.fake().images.push_back(image3);
    EXPECT_EQ(planes.completeToImage(copy).rawPointer(), image3.rawPointer());
}

// Calls a function with each record.
struct Call : ccAcqInfoCallback {
    explicit Call(std::function<void(const ccAcquireInfo&)> f) : f(std::move(f)) {}
    void operator()(const ccAcquireInfo& info) override { f(info); }
    std::function<void(const ccAcquireInfo&)> f;
};

// Per kind: the implementation takes a callback before the FIFO holds it; a
// refused one leaves the old one in both; a null one clears it.
TEST(AcqFifoCallbacks, TheImplementationTakesACallbackFirstAndARefusalKeepsTheOldOne)
{
    typedef void (ccAcqFifo::*Setter)(const ccAcqInfoCallbackHandle&);
    typedef const ccAcqInfoCallbackHandle& (ccAcqFifo::*Getter)() const;
    const struct { Kind kind; Setter set; Getter get; } rows[] = {
        {Kind::movePart, &ccAcqFifo::movePartCallback, &ccAcqFifo::movePartCallback},
        {Kind::complete, &ccAcqFifo::completeCallback, &ccAcqFifo::completeCallback},
        {Kind::overrun, &ccAcqFifo::overrunCallback, &ccAcqFifo::overrunCallback},
    };
    typedef std::vector<const void*> Held;
    for (const auto& r : rows) {
        Fifo<ccGreyAcqFifo> fifo;
        const ccAcqInfoCallbackHandle first(new Call([](const ccAcquireInfo&) {}));
        const ccAcqInfoCallbackHandle second(new Call([](const ccAcquireInfo&) {}));
        Held held; // by the FIFO while the implementation took each one
        fifo.fake().onInfoCallback = [&](Kind kind, const ccAcqInfoCallbackHandle& c) {
            EXPECT_EQ(kind, r.kind);
            held.push_back((fifo.*r.get)().rawPointer());
            if (c.rawPointer() == second.rawPointer())
                throw ccAcqFifo::BadParams();
        };
        const auto holders = [&] {
            return Held{(fifo.*r.get)().rawPointer(), fifo.fake().installed(r.kind).rawPointer()};
        };
        (fifo.*r.set)(first);
        EXPECT_THROW((fifo.*r.set)(second), ccAcqFifo::BadParams);
        EXPECT_EQ(holders(), Held(2, first.rawPointer())) << int(r.kind);
        (fifo.*r.set)(ccAcqInfoCallbackHandle());
        EXPECT_EQ(holders(), Held(2, nullptr)) << int(r.kind);
        EXPECT_EQ(held, (Held{nullptr, first.rawPointer(), first.rawPointer()}));
    }
}

TEST(AcqFifoCallbacks, ReplacingCallbacksWhileTheModuleCallsThemFreesNoneInUse)
{
    Fifo<ccGreyAcqFifo> fifo;
    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
    std::thread module([&] {
        const ccAcquireInfo info;
        while (!done.load())
            fifo.fake().fire(Kind::complete, info);
    });
    fifo.completeCallback(ccAcqInfoCallbackHandle(new Call([&](const ccAcquireInfo&) { ++calls; })));
    while (calls.load() == 0)
        std::this_thread::yield();
    for (int i = 0; i < 2000; ++i)
        fifo.completeCallback(ccAcqInfoCallbackHandle(new Call([&](const ccAcquireInfo&) { ++calls; })));
    fifo.completeCallback(ccAcqInfoCallbackHandle());
    done = true;
    module.join();
    EXPECT_EQ(fifo.fake().installed(Kind::complete).rawPointer(), nullptr);
}

// The records are built once, even by two first lookups at once; the first
// record of an id counts; absent ones answer neutrally.
TEST(AcqFifoPropertyInfo, BuiltOnceTheFirstRecordCountsAndAbsentOnesAnswerNeutrally)
{
    Fifo<ccGreyAcqFifo> full, bare;
    full.fake().info = {{1000, 1e-6, 1, 2e-5, 0}, {1004, 0, 1, 0, 0}, {1019, 0, 1, 0.25, 0}, {1019, 0, 1, 0.75, 0},
                        {9008, 0, 0, 0, 0},       {9011, 1, 4, 1, 0}, {9012, 1, 4, 1, 0}};
    bare.fake().info = {{9011, 1, 4, 1, 0}};
    std::thread other([&] { full.isStrobeEnableSupported(); });
    full.minExposure();
    other.join();
    const struct { std::function<double(ccAcqFifo&)> query; double full, bare; } rows[] = {
        {[](ccAcqFifo& f) { return f.isStrobeEnableSupported(); }, 1, 0},
        {[](ccAcqFifo& f) { return f.contrastDefaultValue(); }, 0.25, 0},
        {[](ccAcqFifo& f) { return f.isPropertyPresent9008(); }, 1, 0},
        {[](ccAcqFifo& f) { return f.minExposure(); }, 1e-6, 0},
        {[](ccAcqFifo& f) { return f.supportedSampleXValues() != nullptr; }, 1, 1},
        {[](ccAcqFifo& f) { return f.supportedSampleYValues() != nullptr; }, 1, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_TRUE(rows[i].query(full) == rows[i].full && rows[i].query(bare) == rows[i].bare) << i;
    EXPECT_EQ(full.supportedSampleYValues(), &full.fake().sampleValues);
    EXPECT_EQ(full.fake().builds + bare.fake().builds, 2);
}

// A board whose first build fails after a record of its own.
struct FailingOnceFifo : FakeAcqFifo {
    void buildPropertyInfo(std::vector<ccAcqPropertyInfo>& out) override
    {
        if (builds == 0) {
            ++builds;
            out.push_back({1019, 0, 1, 0.5, 0});
            throw ccUnsupportedHW();
        }
        FakeAcqFifo::buildPropertyInfo(out);
    }
};

// The next lookup builds again, from nothing.
TEST(AcqFifoPropertyInfo, ABuildThatThrowsIsTriedAgainWithoutWhatItLeft)
{
    FailingOnceFifo board;
    board.info = {{1004, 0, 1, 0, 0}};
    EXPECT_THROW(board.propertyInfo(1004), ccUnsupportedHW);
    EXPECT_NE(board.propertyInfo(1004), nullptr);
    EXPECT_EQ(board.propertyInfo(1019), nullptr);
    EXPECT_EQ(board.builds, 2);
}

TEST(AcqFifoForwarding, NeedsAnImplementationAndGivesAZeroWordForNoObject)
{
    Fifo<ccGreyAcqFifo> none(nullptr);
    EXPECT_THROW(none.start(1), ccAcqFifo::CouldNotCreate);
    EXPECT_THROW(none.completeCallback(ccAcqInfoCallbackHandle()), ccAcqFifo::CouldNotCreate);
    EXPECT_THROW(none.minExposure(), ccAcqFifo::CouldNotCreate);
    EXPECT_THROW(delete none.completeToBuffer(ccAcqCompleteArgs()), ccAcqFifo::CouldNotCreate);

    Fifo<ccGreyAcqFifo> fifo;
    EXPECT_TRUE(fifo.reconfigure());
    ASSERT_NE(fifo.fake().lastReconfigure, nullptr);
    EXPECT_EQ(*static_cast<const uint32_t*>(fifo.fake().lastReconfigure), 0u);
}

} // namespace
