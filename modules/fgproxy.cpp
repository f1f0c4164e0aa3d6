#include "modules/fgproxy.h"

#include <algorithm>
#include <new>
#include <string>
#include <typeinfo>

#include "acq/vidfmt/vidfmt.h"
#include "modules/accelerator.h"
#include "modules/acqfifoproxy.h"
#include "modules/unknownfg.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kUniqueIdUnits = 256;

// The module code a FIFO of the kind delivers: 2 three planes, 8 RGB16,
// 1 RGB32, 9 grey 16, 0 grey 8.
int32_t moduleCodeForKind(const cc_fifoKindTag& tag)
{
    if (tag == cc_fifoKindTag::threePlane())
        return 2;
    if (tag == cc_fifoKindTag::rgb16())
        return 8;
    if (tag == cc_fifoKindTag::rgb32())
        return 1;
    if (tag == cc_fifoKindTag::other())
        return 9;
    return 0;
}

} // namespace

void cc_ModFifoList::add(cc_UnknownAcqFifo& fifo)
{
    std::lock_guard<std::mutex> hold(mutex_);
    fifos_.push_back(&fifo);
}

void cc_ModFifoList::remove(cc_UnknownAcqFifo& fifo)
{
    std::lock_guard<std::mutex> hold(mutex_);
    fifos_.erase(std::remove(fifos_.begin(), fifos_.end(), &fifo), fifos_.end());
}

void cc_ModFifoList::orphanAll() noexcept
{
    for (;;) {
        std::shared_ptr<void> module;
        {
            // Taken under the lock: a FIFO going meanwhile is never touched
            // once it has left the list.
            std::lock_guard<std::mutex> hold(mutex_);
            if (fifos_.empty())
                return;
            module = fifos_.back()->orphan();
            fifos_.pop_back();
        }
        // Dropped here, outside the lock.
    }
}

std::u16string ccModFormatName(const cc_VidFmtDesc& description)
{
    const cs_vidFmtRecord* record = description.record();
    return record && record->name ? std::u16string(record->name) : std::u16string();
}

cc_UnknownFrameGrabber::cc_UnknownFrameGrabber(const ccPtrHandle<cc_AcqModule>& module, ccIUnknown* board)
    : module_(module),
      accelerator_(std::make_unique<cc_ModAcceleratorProxy>(
          std::unique_ptr<cc_ModFastImageTransfer>(new (std::nothrow) cc_ModFastImageTransfer)))
{
    if (board != nullptr) {
        core_ = ccModQuery<ccIGrabber_Core>(board, ccIidGrabberCore);
        info_ = ccModQuery<ccIGrabber_Info>(board, ccIidGrabberInfo);
        features_ = ccModQuery<ccIGrabber_Features>(core_.get(), ccIidGrabberFeatures);
    }
    if (!core_)
        throw ccUnknownFG::MissingFunctionality();
    cc_ModFastImageTransfer* transfer = accelerator_->fastTransfer();
    if (transfer == nullptr)
        throw std::bad_cast();
    transfer->setGrabber(this);
}

cc_UnknownFrameGrabber* cc_UnknownFrameGrabber::create(const ccPtrHandle<cc_AcqModule>& module, ccIUnknown* board)
{
    return new (std::nothrow) cc_UnknownFrameGrabber(module, board);
}

cc_UnknownFrameGrabber::~cc_UnknownFrameGrabber()
{
    fifos_->orphanAll();
    core_.reset();
    info_.reset();
    features_.reset();
    accelerator_.reset();
}

void cc_UnknownFrameGrabber::throwModuleError(int32_t) const { module_->raiseLastError(); }

int32_t cc_UnknownFrameGrabber::coreValue()
{
    if (!core_)
        return 0;
    int32_t value = 0;
    ccModCheck(*this, core_->coreValue(&value));
    return value;
}

cc_AcqFifo* cc_UnknownFrameGrabber::newAcqFifoImpl(const cc_VidFmtDesc& description, int32_t moduleCode)
{
    return new cc_UnknownAcqFifo(*this, description, moduleCode);
}

cc_AcqFifo* cc_UnknownFrameGrabber::newAcqFifoImpl(const cc_VidFmtDesc& description, const cc_fifoKindTag& tag)
{
    return newAcqFifoImpl(description, moduleCodeForKind(tag));
}

uint32_t cc_UnknownFrameGrabber::numCameraPorts(const cc_VidFmtDesc& description)
{
    if (!core_)
        return 0;
    const std::u16string name = ccModFormatName(description);
    uint32_t count = 0;
    ccModCheck(*this, core_->numCameraPorts(name.c_str(), &count));
    return count;
}

bool cc_UnknownFrameGrabber::isFormatSupported(const cc_VidFmtDesc& description, int32_t moduleCode)
{
    if (!core_)
        return false;
    const std::u16string name = ccModFormatName(description);
    uint32_t supported = 0;
    if (cc_ModPtr<ccIAcqFifo_Creator> creator = ccModQuery<ccIAcqFifo_Creator>(core_.get(), ccIidFifoCreator)) {
        ccModCheck(*this, creator->isSupported(name.c_str(), moduleCode, &supported));
    } else {
        // The core alone makes grey 8 FIFOs only.
        if (moduleCode != 0 && moduleCode != -1)
            return false;
        ccModCheck(*this, core_->isFormatSupported(name.c_str(), &supported));
    }
    return supported != 0;
}

bool cc_UnknownFrameGrabber::hasFormatOptions()
{
    if (!core_)
        return false;
    uint32_t flag = 0;
    ccModCheck(*this, core_->hasFormatOptions(&flag));
    return flag != 0;
}

int32_t cc_UnknownFrameGrabber::tvmId()
{
    cc_ModPtr<ccIGrabber_Tvm> tvm = ccModQuery<ccIGrabber_Tvm>(core_.get(), ccIidGrabberTvm);
    if (!tvm)
        return -2;
    int32_t id = -2;
    ccModCheck(*this, tvm->tvmId(&id));
    return id;
}

void cc_UnknownFrameGrabber::disconnect(bool flag)
{
    if (info_)
        ccModCheck(*this, info_->disconnect(flag ? 1u : 0u));
}

std::wstring cc_UnknownFrameGrabber::uniqueId()
{
    if (!info_)
        return std::wstring();
    // One unit more than the module may write: the text always ends.
    std::u16string buffer(kUniqueIdUnits + 1, u'\0');
    ccModCheck(*this, info_->uniqueId(kUniqueIdUnits, buffer.data()));
    return plat::wideFromUtf16(buffer.data(), buffer.find(u'\0'));
}
