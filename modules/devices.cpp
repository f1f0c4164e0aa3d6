#include "modules/devices.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "acq/hyper/prop/acqprops.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/fgproxy.h"
#include "platform/text.h"
#include "std/except/resource.h"

ccQorDevice::~ccQorDevice() = default;

ccQorDeviceRoot& ccQorDeviceRoot::instance()
{
    static ccQorDeviceRoot root;
    return root;
}

std::wstring ccQorDeviceRoot::name() const
{
    static const std::wstring kName = L"QMB Root Device";
    return kName;
}

namespace {

// A channel number of the path: digits only, at most INT32_MAX; -1 for
// anything else, which names no channel.
int32_t channelNumber(const std::wstring& digits)
{
    if (digits.empty() || digits.size() > 10)
        return -1;
    int64_t n = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return -1;
        n = n * 10 + (c - L'0');
    }
    return n > INT32_MAX ? -1 : static_cast<int32_t>(n);
}

} // namespace

ccQorDevice* ccQorLinkChanSet::deviceFromPath(const std::wstring& path)
{
    if (path.empty() || path.find_first_not_of(L"0123456789.") != std::wstring::npos)
        return nullptr;
    const size_t dot = path.find(L'.');
    const int32_t n = channelNumber(path.substr(0, dot));
    ccQorDevice* device = n < 0 ? nullptr : child(n);
    if (dot == std::wstring::npos || device == nullptr)
        return device;
    auto* channels = dynamic_cast<ccQorLinkChanSet*>(device);
    return channels ? channels->deviceFromPath(path.substr(dot + 1)) : nullptr;
}

ccQorLinkCamera& ccQorLinkFrameGrabber::cameraFromPath(const std::wstring& path)
{
    auto* camera = dynamic_cast<ccQorLinkCamera*>(deviceFromPath(path));
    if (camera == nullptr)
        throw BadParams();
    return *camera;
}

// ---- ccCameraPort ----

ccCameraPort::~ccCameraPort() = default;

ccPtrHandle<ccGreyAcqFifo> ccCameraPort::createAcqFifo(const ccVideoFormat& format)
{
    if (!supports(format.description(true)))
        throw BadParams();
    ccPtrHandle<ccGreyAcqFifo> fifo(new ccStdGreyAcqFifo(format, portFrameGrabber()));
    fifo->acqProps().cameraLocation(this);
    return fifo;
}

// ---- ccQorLinkCamera ----

namespace {

// The cameras alive, by identity; made at first use and never destroyed.
struct Identities {
    std::mutex mutex;
    std::unordered_map<uint32_t, ccQorLinkCamera*> cameras;
    uint32_t last = 0;
};

Identities& identities()
{
    static Identities* table = new Identities;
    return *table;
}

uint32_t enter(ccQorLinkCamera* camera)
{
    Identities& t = identities();
    std::lock_guard<std::mutex> hold(t.mutex);
    // 0 names no camera; an identity still in use is skipped after a wrap.
    do {
        ++t.last;
    } while (t.last == 0 || t.cameras.count(t.last) != 0);
    t.cameras.emplace(t.last, camera);
    return t.last;
}

} // namespace

ccQorLinkCamera::ccQorLinkCamera(ccIQorLink_Camera* camera, const ccFrameGrabber& grabber, const std::wstring& name)
    : ccQorLinkDevice(name), grabber_(&grabber), identity_(0)
{
    if (camera != nullptr) {
        camera->addRef();
        camera_.reset(camera);
    }
    identity_ = enter(this);
}

ccQorLinkCamera::~ccQorLinkCamera() { close(); }

void ccQorLinkCamera::close()
{
    cc_ModPtr<ccIQorLink_Camera> gone; // let go after the lock
    {
        std::lock_guard<std::mutex> hold(lock_);
        gone = std::move(camera_);
        grabber_ = nullptr;
    }
    Identities& t = identities();
    std::lock_guard<std::mutex> hold(t.mutex);
    if (const uint32_t identity = identity_.exchange(0); identity != 0)
        t.cameras.erase(identity);
}

cc_ModPtr<ccIQorLink_Camera> ccQorLinkCamera::camera() const
{
    std::lock_guard<std::mutex> hold(lock_);
    if (camera_)
        camera_->addRef();
    return cc_ModPtr<ccIQorLink_Camera>(camera_.get());
}

const ccFrameGrabber& ccQorLinkCamera::portFrameGrabber() const
{
    std::lock_guard<std::mutex> hold(lock_);
    if (grabber_ == nullptr)
        throw BadParams();
    return *grabber_;
}

ccQorLinkCamera* ccQorLinkCamera::fromIdentity(uint32_t identity)
{
    Identities& t = identities();
    std::lock_guard<std::mutex> hold(t.mutex);
    auto found = t.cameras.find(identity);
    return found == t.cameras.end() ? nullptr : found->second;
}

std::wstring ccQorLinkCamera::name() const
{
    constexpr uint32_t kCapacity = 256;
    char16_t buffer[kCapacity] = {};
    uint32_t length = kCapacity;
    const cc_ModPtr<ccIQorLink_Camera> camera = this->camera();
    if (!camera || camera->name(&length, buffer) != 0)
        return {};
    const auto units = std::find(buffer, buffer + std::min(length, kCapacity), u'\0') - buffer;
    return plat::wideFromUtf16(buffer, static_cast<size_t>(units));
}

bool ccQorLinkCamera::supports(const cc_VidFmtDesc& description) const
{
    const cc_ModPtr<ccIQorLink_Camera> camera = this->camera();
    if (!camera)
        return false;
    uint32_t flag = 0;
    // A failed call leaves the flag as the module set it: 0 unless it said yes.
    (void)camera->supportsFormat(ccModFormatName(description).c_str(), &flag);
    return flag != 0;
}

std::vector<ccVideoFormat*> ccQorLinkCamera::supportedFormats()
{
    if (!filled_.load(std::memory_order_acquire)) {
        ccResourceLock hold(ccLibraryMutex());
        if (!filled_.load(std::memory_order_relaxed)) {
            formats_.clear(); // what a walk that threw left
            for (ccVideoFormat* format : ccVideoFormat::allFormats()) {
                try {
                    if (supports(format->description(true)))
                        formats_.push_back(format);
                } catch (const ccVideoFormat::NotFound&) {
                    // An alias that leads nowhere is no format of this port.
                }
            }
            filled_.store(true, std::memory_order_release);
        }
    }
    return formats_;
}
