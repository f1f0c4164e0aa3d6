#include "modules/accelerator.h"

#include <cmath>
#include <utility>

#include "modules/fgproxy.h"
#include "modules/pelpackages.h"
#include "modules/unknownfg.h"
#include "std/except/resource.h"
#include "std/pelbuf/pelbuf.h"
#include "std/rpc/remote.h"
#include "std/timeout.h"

namespace {

// Where a connection of an accelerator is opened.
constexpr uint16_t kAcceleratorEndpoint = 2;

} // namespace

// ---- ccAccelerator ----

ccAccelerator::ccAccelerator(std::unique_ptr<cc_FastImageTransfer> peer) : peer_(std::move(peer)) {}

ccAccelerator::~ccAccelerator()
{
    unlist();
    peer_.reset();
}

bool ccAccelerator::setTimeout(double seconds)
{
    if (archives_.reading() == nullptr || archives_.storing() == nullptr)
        archives_.open(*this, kAcceleratorEndpoint, seconds);
    archives_.reading()->setTimeout(seconds);
    uint32_t word = 0;
    archives_.reading()->archive(word);
    return (word & 0xffu) != 0;
}

// ---- cc_ModFastImageTransfer ----

template <class T>
void cc_ModFastImageTransfer::copyWindow(ccPelBuffer<T>& into, const ccPelRect& rect, uint32_t remoteId,
                                         bool transferFlag)
{
    cc_ModPtr<ccIUnknown> result = cc_RemotePelPackage::listedResult(remoteId);
    if (!result)
        throw ccRemoteObject::ObjectMismatch();
    cc_ModPtr<ccIAcqResult_FastTransfer> fast =
        ccModQuery<ccIAcqResult_FastTransfer>(result.get(), ccIidResultFastTransfer);
    // Without it the caller would get memory no pel was ever written to as
    // the frame's copy.
    if (!fast)
        throw ccUnknownFG::MissingFunctionality();
    // The module writes width x height pels from the window's first pel on,
    // one row per root stride: all of them must land inside the window.
    const ccPelRect& window = into.windowRect();
    if (rect.x0() < 0 || rect.y0() < 0 || rect.width() > window.width() || rect.height() > window.height())
        throw ccPel::BadWindow();
    const cc_PelRoot& root = into.root();
    const int32_t status = fast->transfer(into.windowStart(), root.stride(), root.alignment(), rect.x0(), rect.y0(),
                                          static_cast<int32_t>(rect.width()), static_cast<int32_t>(rect.height()),
                                          transferFlag ? 1u : 0u);
    if (status == 0)
        return;
    if (grabber_ == nullptr)
        throw ccUnknownFG::MissingFunctionality();
    grabber_->throwModuleError(0);
}

void cc_ModFastImageTransfer::transfer(ccPelBuffer<unsigned char>& into, const ccPelRect& rect, int32_t,
                                       uint32_t remoteId, bool transferFlag)
{
    copyWindow(into, rect, remoteId, transferFlag);
}

void cc_ModFastImageTransfer::transfer(ccPelBuffer<unsigned short>& into, const ccPelRect& rect, int32_t,
                                       uint32_t remoteId, bool transferFlag)
{
    copyWindow(into, rect, remoteId, transferFlag);
}

void cc_ModFastImageTransfer::transfer(ccPelBuffer<ccPackedRGB32Pel>& into, const ccPelRect& rect, int32_t,
                                       uint32_t remoteId, bool transferFlag)
{
    copyWindow(into, rect, remoteId, transferFlag);
}

// ---- cc_ModAcceleratorProxy ----

cc_ModAcceleratorProxy::cc_ModAcceleratorProxy(std::unique_ptr<cc_ModFastImageTransfer> peer)
    : ccAccelerator(std::move(peer))
{
}

cc_ModAcceleratorProxy::~cc_ModAcceleratorProxy() { unlist(); }

bool cc_ModAcceleratorProxy::supportsDepths(int32_t sourceBits, int32_t targetBits)
{
    if (sourceBits == 8)
        return targetBits == 8 || targetBits == 16 || targetBits == 32;
    return sourceBits == 16 && targetBits == 32;
}

void cc_ModAcceleratorProxy::connect(uint16_t, std::unique_ptr<ccCommStreambuf>&, std::unique_ptr<ccCommStreambuf>&,
                                     double)
{
    throw cc_Resource::BrokenLock();
}

void cc_ModAcceleratorProxy::openChannel(uint16_t, std::unique_ptr<ccCommStreambuf>&,
                                         std::unique_ptr<ccCommStreambuf>&, double)
{
}

bool cc_ModAcceleratorProxy::setTimeout(double) { return false; }

bool cc_ModAcceleratorProxy::waitFor(double seconds)
{
    ccTimeout timeout(seconds);
    const double remaining = timeout.remaining();
    // A wait without limit would never come back: nothing can call in.
    if (!std::isinf(remaining))
        ccSleep(remaining);
    return false;
}
