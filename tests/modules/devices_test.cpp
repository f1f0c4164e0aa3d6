#include "modules/devices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "acq/hyper/prop/acqprops.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/family.h"
#include "modules/startup.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

struct Leaf : ccQorLinkDevice {
    Leaf() : ccQorLinkDevice(L"leaf") {}
};

struct Node : ccQorLinkChanSet {
    explicit Node(std::map<int32_t, ccQorDevice*> children) : ccQorLinkChanSet(L"node"), children(std::move(children))
    {
    }
    ccFrameGrabber& frameGrabber() override { throw std::logic_error("no frame grabber"); }
    ccQorDevice* child(int32_t channel) override
    {
        auto found = children.find(channel);
        return found == children.end() ? nullptr : found->second;
    }
    std::map<int32_t, ccQorDevice*> children;
};

TEST(DevicePath, DigitsAndDotsLeadChannelByChannelAndAnythingElseToNothing)
{
    Leaf leaf0, leaf2, leafMax;
    Node middle({{0, &leaf0}});
    Node top({{1, &middle}, {2, &leaf2}, {INT32_MAX, &leafMax}});
    const struct {
        const wchar_t* path;
        ccQorDevice* device;
    } kCases[] = {
        {L"1", &middle}, {L"1.0", &leaf0}, {L"01.00", &leaf0}, {L"2", &leaf2}, {L"2147483647", &leafMax},
        {L"2.0", nullptr}, // through a device without channels
        {L"3", nullptr},   {L"1.1", nullptr}, {L"", nullptr},  {L"1a", nullptr}, {L"-1", nullptr},
        {L"1.", nullptr},  {L".1", nullptr},  {L"2147483648", nullptr}, {L"99999999999", nullptr},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(top.deviceFromPath(c.path), c.device) << std::string(c.path, c.path + wcslen(c.path));
}

// A port that is no camera of a module.
struct OtherPort : ccCameraPort {
    bool supports(const cc_VidFmtDesc&) const override { return true; }
    std::vector<ccVideoFormat*> supportedFormats() override { return {}; }
    const ccFrameGrabber& portFrameGrabber() const override { throw std::logic_error("no frame grabber"); }
};

// A 7310d with cameras on channels 0 and 2.
class LinkCameras : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    void TearDown() override
    {
        family_.registry.reset();
        sim_module::expectAllReleased();
    }
    sim_module::FamilyBoard family_{{{ccIid7310d}, 0, 0b101, nullptr}};
    cc7310d& board_ = dynamic_cast<cc7310d&>(family_.load());
};

// A negative channel or one past the last leads to nothing, whatever the
// module holds.
TEST_F(LinkCameras, TheBoardsChannelsHoldTheCamerasPresentBelowTheRoot)
{
    ccQorLinkCamera* camera0 = board_.camera(0);
    ASSERT_NE(camera0, nullptr);
    EXPECT_EQ(std::make_tuple(board_.camera(1), board_.camera(3), board_.child(-1), board_.child(3)),
              std::make_tuple(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(board_.child(2), board_.camera(2));
    EXPECT_EQ(&board_.cameraFromPath(L"2"), board_.camera(2));
    EXPECT_EQ(board_.deviceFromPath(L"0.0"), nullptr); // a camera has no channels
    for (const wchar_t* path : {L"1", L"3"}) {
        try {
            board_.cameraFromPath(path);
            ADD_FAILURE() << "no camera there";
        } catch (const ccQorLinkFrameGrabber::BadParams& e) {
            EXPECT_EQ(e.code(), 5u);
        }
    }

    EXPECT_EQ(std::make_tuple(board_.parent(), camera0->parent()),
              std::make_tuple(nullptr, &ccQorDeviceRoot::instance()));
    EXPECT_EQ(ccQorDeviceRoot::instance().name(), L"QMB Root Device");
    EXPECT_EQ(camera0->name(), L"camera 0");
    sim_module::failNext(ccIidLinkCamera, 5, ccBoard::HardwareNotResponding());
    EXPECT_EQ(camera0->name(), L"");
}

TEST_F(LinkCameras, SupportedFormatsAreWorkedOutOnce)
{
    ccQorLinkCamera& camera = *board_.camera(0);
    const std::vector<ccVideoFormat*> all = ccVideoFormat::allFormats();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(camera.supportedFormats(), all);
    const uint32_t asked = sim().callCount(ccIidLinkCamera, 6);

    cs_vidFmtRecord record{u"Registered later", 8, 8, 8, 0, 0, 1, 1};
    cc_VidFmtDesc description(&record, -1);
    ccStdVideoFormat later(&description);
    EXPECT_EQ(camera.supportedFormats(), all);
    EXPECT_EQ(sim().callCount(ccIidLinkCamera, 6), asked);
}

TEST_F(LinkCameras, AFifoOnAPortIsGreyAndTheModuleIsToldItsCamera)
{
    ccQorLinkCamera& camera = *board_.camera(2);
    const ccVideoFormat& format = *ccVideoFormat::allFormats().front();
    {
        ccPtrHandle<ccGreyAcqFifo> fifo = camera.createAcqFifo(format);
        EXPECT_EQ(fifo->acqProps().cameraLocation(), &camera);
        const std::vector<double> sent = sim_module::lastArgs(ccIidFifoCameraLocation, 4);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(ccQorLinkCamera::fromIdentity(static_cast<uint32_t>(sent[0])), &camera);
        // The module knows no other port: it is neither valid nor sent.
        OtherPort other;
        EXPECT_THROW(fifo->acqProps().cameraLocation(&other), ccCameraLocationProp::BadParams);
        EXPECT_EQ(sim().callCount(ccIidFifoCameraLocation, 4), 1u);
    }
    sim().setAnswer(ccIidLinkCamera, 6, 0, 0);
    try {
        camera.createAcqFifo(format);
        ADD_FAILURE() << "a format the camera does not take";
    } catch (const ccCameraPort::BadParams& e) {
        EXPECT_EQ(e.code(), 5u);
    }
}

// Each camera alive has its own identity, never 0, by which it is found
// until it goes; a camera without a module camera has no name and takes no
// format.
TEST_F(LinkCameras, IdentitiesNameTheLiveCamerasAlone)
{
    ccQorLinkCamera* made = board_.camera(0);
    ASSERT_NE(made, nullptr);
    uint32_t gone = 0;
    {
        ccQorLinkCamera a(nullptr, board_, L"a"), b(nullptr, board_, L"b");
        for (ccQorLinkCamera* camera : {made, &a, &b}) { // each finds itself alone: the identities differ
            EXPECT_NE(camera->identity(), 0u);
            EXPECT_EQ(ccQorLinkCamera::fromIdentity(camera->identity()), camera);
        }
        gone = a.identity();

        EXPECT_EQ(a.name(), L"");
        EXPECT_FALSE(a.supports(ccVideoFormat::allFormats().front()->description(true)));
        EXPECT_TRUE(a.supportedFormats().empty());
        EXPECT_THROW(a.createAcqFifo(*ccVideoFormat::allFormats().front()), ccCameraPort::BadParams);
    }
    EXPECT_EQ(ccQorLinkCamera::fromIdentity(gone), nullptr);
    EXPECT_EQ(ccQorLinkCamera::fromIdentity(0), nullptr);
    EXPECT_EQ(ccQorLinkCamera::fromIdentity(made->identity()), made);
}

// Closing the board lets go of its cameras: their identities name nothing,
// and the channels give no camera back. A FIFO on a camera keeps it as its
// location, without a name and taking no format; one asking on another
// thread meanwhile finds it either open or closed.
TEST_F(LinkCameras, AClosedBoardsCamerasAreGone)
{
    const ccVideoFormat& format = *ccVideoFormat::allFormats().front();
    const ccPtrHandle<ccGreyAcqFifo> fifo = board_.camera(0)->createAcqFifo(format);
    const uint32_t identity = board_.camera(0)->identity();
    ccQorLinkCamera* camera = board_.camera(0); // the FIFO keeps it
    std::atomic<bool> closed{false};
    std::thread asking([&] {
        for (bool last = false; !last;) {
            last = closed.load();
            const uint32_t id = camera->identity();
            const std::wstring name = camera->name();
            EXPECT_TRUE(id == identity || id == 0u);
            if (name.empty()) {
                EXPECT_FALSE(camera->supports(format.description(true)));
            }
        }
    });
    board_.close();
    closed = true;
    asking.join();
    EXPECT_EQ(ccQorLinkCamera::fromIdentity(identity), nullptr);
    EXPECT_THROW(board_.camera(0), ccUnknownFG::MissingFunctionality);
    EXPECT_THROW(board_.cameraFromPath(L"0"), ccUnknownFG::MissingFunctionality);
    auto* kept = dynamic_cast<ccQorLinkCamera*>(fifo->acqProps().cameraLocation());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::make_tuple(kept->identity(), kept->name()), std::make_tuple(0u, std::wstring()));
    EXPECT_THROW(kept->createAcqFifo(format), ccCameraPort::BadParams);
}

} // namespace
