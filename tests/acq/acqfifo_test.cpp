#include "acq/acqfifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "acq/startup.h"
#include "tests/std/pelbuf/pel_peer.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;
typedef FakeAcqFifo::Kind Kind;
typedef ccPelBuffer<unsigned char> Buffer8;

// A kind made whole; what the standard forms add is never reached here.
template <class K>
class Fifo : public K {
public:
    explicit Fifo(cc_AcqFifo* impl) : K(impl) {}
    ccAcqProps& acqProps() override { throw ccBadPointer(); }
    const ccVideoFormat& videoFormat() const override { throw ccBadPointer(); }
    const ccFrameGrabber& frameGrabber() const override { throw ccBadPointer(); }
};

// A FIFO of kind K over a fake it owns.
template <class K>
struct Rig {
    FakeAcqFifo* fake = new FakeAcqFifo;
    Fifo<K> fifo{fake};
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
    const struct { Source source; bool localCopy; bool kept; } rows[] = {
        {unbound, true, false}, {local, true, true}, {remote, false, true}, {remote, true, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.source << " " << r.localCopy);
        Rig<ccGreyAcqFifo> rig;
        const cc_PelRoot* frameRoots[2] = {};
        for (const cc_PelRoot*& root : frameRoots) {
            Buffer8 frame = r.source == unbound ? Buffer8() : r.source == local ? Buffer8(3, 2, 1) : atPeer<unsigned char>();
            root = frame.isBound() ? &frame.root() : nullptr;
            rig.fake->frames8.push_back(frame);
        }
        ccAcqCompleteArgs args;
        args.localCopy = r.localCopy;
        std::unique_ptr<Buffer8> buffer(rig.fifo.completeToBuffer(args));
        ccPtrHandle<ccAcqImage> image = rig.fifo.completeToImage(args);
        EXPECT_EQ(image->format(), 1u);
        if (r.source == unbound) {
            EXPECT_EQ(buffer, nullptr);
            EXPECT_FALSE(image->isValid());
            continue;
        }
        ASSERT_NE(buffer, nullptr);
        const ccPelBuffer_const<unsigned char> results[2] = {ccPelBuffer_const<unsigned char>(*buffer),
                                                             ccPelBuffer_const<unsigned char>(*image->rawBuffer())};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(&results[i].root() == frameRoots[i], r.kept);
            EXPECT_EQ(bool(results[i].root().destination()), r.source == remote && r.kept);
            if (!r.kept) {
                EXPECT_EQ(*results[i].pel(2, 1), 0x12);
            }
        }
    }
}

TEST_F(AcqFifoKinds, EachKindCompletesInItsPelTypeAndCode)
{
    Rig<ccRGB16AcqFifo> rgb16;
    Rig<ccRGB32AcqFifo> rgb32;
    Rig<cc3PlaneAcqFifo> planes;
    ccAcqCompleteArgs copy;
    copy.localCopy = true;
    EXPECT_EQ(rgb16.fifo.completeToImage(copy)->format(), 3u);
    rgb32.fake->framesRGB32 = {atPeer<ccPackedRGB32Pel>()};
    std::unique_ptr<ccPelBuffer<ccPackedRGB32Pel>> b32(rgb32.fifo.completeToBuffer(copy));
    EXPECT_EQ(b32->pel(1, 1)->value, 0x11u); // here: a remote root has no pels to point at
    EXPECT_EQ(rgb32.fifo.completeToImage(copy)->format(), 4u);

    // Three planes: no local copy, and images from the implementation's own completion.
    EXPECT_EQ(planes.fifo.completeToBuffer(copy), nullptr);
    Buffer8 p0(2, 2, 1), p1(2, 2, 1), p2(2, 2, 1);
    planes.fake->frames3Plane.emplace_back(p0, p1, p2);
    const cc_PelRoot* root3 = &planes.fake->frames3Plane.back().root();
    std::unique_ptr<cc3PlanePelBuffer> b3(planes.fifo.completeToBuffer(copy));
    EXPECT_EQ(&b3->root(), root3);
    ccPtrHandle<ccAcqImage> image3(new ccAcqImage());
    planes.fake->images.push_back(image3);
    EXPECT_EQ(planes.fifo.completeToImage(copy).rawPointer(), image3.rawPointer());
    EXPECT_EQ(std::vector<uint32_t>({rgb16.fifo.pelFormat(), rgb32.fifo.pelFormat(), planes.fifo.pelFormat()}),
              std::vector<uint32_t>({3, 4, 12}));
}

// Records its calls.
class Counter : public ccAcqInfoCallback {
public:
    explicit Counter(std::atomic<int>* calls = nullptr) : calls_(calls) {}
    void operator()(const ccAcquireInfo& info) override
    {
        tickets.push_back(info.ticket);
        if (calls_)
            ++*calls_;
    }
    std::vector<uint32_t> tickets;

private:
    std::atomic<int>* calls_;
};

TEST(AcqFifoCallbacks, TheImplementationTakesACallbackFirstAndARefusalKeepsTheOldOne)
{
    typedef void (ccAcqFifo::*Setter)(const ccAcqInfoCallbackHandle&);
    typedef const ccAcqInfoCallbackHandle& (ccAcqFifo::*Getter)() const;
    const struct { Kind kind; Setter set; Getter get; } rows[] = {
        {Kind::movePart, &ccAcqFifo::movePartCallback, &ccAcqFifo::movePartCallback},
        {Kind::complete, &ccAcqFifo::completeCallback, &ccAcqFifo::completeCallback},
        {Kind::overrun, &ccAcqFifo::overrunCallback, &ccAcqFifo::overrunCallback},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(int(r.kind));
        Rig<ccGreyAcqFifo> rig;
        ccPtrHandle<Counter> first(new Counter), second(new Counter);
        // What the FIFO held while the implementation was taking each one.
        std::vector<const void*> held;
        rig.fake->onInfoCallback = [&](Kind kind, const ccAcqInfoCallbackHandle& c) {
            EXPECT_EQ(kind, r.kind);
            held.push_back((rig.fifo.*r.get)().rawPointer());
            if (c.rawPointer() == second.rawPointer())
                throw ccAcqFifo::BadParams();
        };
        auto fire = [&](uint32_t ticket) {
            ccAcquireInfo info;
            info.ticket = ticket;
            rig.fake->fire(r.kind, info);
        };
        (rig.fifo.*r.set)(first);
        fire(1);
        EXPECT_THROW((rig.fifo.*r.set)(second), ccAcqFifo::BadParams);
        fire(2);
        (rig.fifo.*r.set)(ccAcqInfoCallbackHandle());
        fire(3);
        EXPECT_EQ((rig.fifo.*r.get)().rawPointer(), nullptr);
        EXPECT_EQ(first->tickets, (std::vector<uint32_t>{1, 2}));
        EXPECT_TRUE(second->tickets.empty());
        const ccAcqInfoCallback* f = first.rawPointer();
        EXPECT_EQ(held, (std::vector<const void*>{nullptr, f, f}));
    }
}

TEST(AcqFifoCallbacks, ReplacingCallbacksWhileTheModuleCallsThemFreesNoneInUse)
{
    Rig<ccGreyAcqFifo> rig;
    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
    std::thread module([&] {
        ccAcquireInfo info;
        while (!done.load())
            rig.fake->fire(Kind::complete, info);
    });
    rig.fifo.completeCallback(ccAcqInfoCallbackHandle(new Counter(&calls)));
    while (calls.load() == 0)
        std::this_thread::yield();
    for (int i = 0; i < 2000; ++i)
        rig.fifo.completeCallback(ccAcqInfoCallbackHandle(new Counter(&calls)));
    rig.fifo.completeCallback(ccAcqInfoCallbackHandle());
    done = true;
    module.join();
    EXPECT_EQ(rig.fake->installed(Kind::complete).rawPointer(), nullptr);
}

TEST(AcqFifoPropertyInfo, BuiltOnceTheFirstRecordCountsAndAbsentOnesAnswerNeutrally)
{
    Rig<ccGreyAcqFifo> full, bare;
    full.fake->info = {{1000, 1e-6, 1.0, 2e-5, 0}, {1004, 0, 1, 0, 0}, {1005, 0, 1, 0, 0}, {1019, 0, 1, 0.25, 0},
                       {1019, 0, 1, 0.75, 0},     {1020, 0, 1, 0.5, 0}, {9008, 0, 0, 0, 0}, {9011, 1, 4, 1, 0},
                       {9012, 1, 4, 1, 0}};
    bare.fake->info = {{9011, 1, 4, 1, 0}};

    // Two first lookups at once build the records once.
    std::thread other([&] { full.fifo.isStrobeEnableSupported(); });
    full.fifo.minExposure();
    other.join();

    typedef std::function<double(ccAcqFifo&)> Query;
    const struct { const char* name; Query query; double full, bare; } rows[] = {
        {"strobe enable", [](ccAcqFifo& f) { return double(f.isStrobeEnableSupported()); }, 1, 0},
        {"strobe pulse", [](ccAcqFifo& f) { return double(f.isStrobePulseDurationSupported()); }, 1, 0},
        {"contrast", [](ccAcqFifo& f) { return f.contrastDefaultValue(); }, 0.25, 0},
        {"brightness", [](ccAcqFifo& f) { return f.brightnessDefaultValue(); }, 0.5, 0},
        {"9008", [](ccAcqFifo& f) { return double(f.isPropertyPresent9008()); }, 1, 0},
        {"min exposure", [](ccAcqFifo& f) { return f.minExposure(); }, 1e-6, 0},
        {"sample x", [](ccAcqFifo& f) { return double(f.supportedSampleXValues() != nullptr); }, 1, 1},
        {"sample y", [](ccAcqFifo& f) { return double(f.supportedSampleYValues() != nullptr); }, 1, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.query(full.fifo), r.full);
        EXPECT_EQ(r.query(bare.fifo), r.bare);
    }
    EXPECT_EQ(full.fifo.supportedSampleYValues(), &full.fake->sampleValues);
    EXPECT_EQ(full.fake->builds, 1);
    EXPECT_EQ(bare.fake->builds, 1);
}

TEST(AcqFifoWithoutImplementation, OperationsRaiseCouldNotCreate)
{
    Fifo<ccGreyAcqFifo> fifo(nullptr);
    const std::function<void()> operations[] = {
        [&] { fifo.start(1); },
        [&] { fifo.prepare(1.0); },
        [&] { fifo.completeCallback(ccAcqInfoCallbackHandle(new Counter)); },
        [&] { fifo.minExposure(); },
        [&] { delete fifo.completeToBuffer(ccAcqCompleteArgs()); },
    };
    for (const auto& operation : operations)
        EXPECT_THROW(operation(), ccAcqFifo::CouldNotCreate);
}

TEST(AcqFifoReconfigure, WithoutAnObjectTheImplementationIsGivenAZeroWord)
{
    Rig<ccGreyAcqFifo> rig;
    EXPECT_TRUE(rig.fifo.reconfigure());
    ASSERT_NE(rig.fake->lastReconfigure, nullptr);
    EXPECT_EQ(*static_cast<const uint32_t*>(rig.fake->lastReconfigure), 0u);
}

} // namespace
