#include "acq/hyper/prop/camport.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccCameraPortProp::cmCreate() { return new (std::nothrow) ccCameraPortProp; }

uint32_t ccCameraPortProp::numCameraPorts() const
{
    if (!fifo_)
        throw NoFrameGrabber();
    return fifo_->numCameraPorts();
}

void ccCameraPortProp::cameraPort(int32_t port)
{
    if (port < 0)
        throw BadParams();
    if (fifo_) {
        if (static_cast<uint32_t>(port) >= fifo_->numCameraPorts())
            throw BadParams();
        fifo_->cameraPort(static_cast<uint32_t>(port));
    }
    port_ = port;
}

void ccCameraPortProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCameraPortProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/camport", __LINE__);
    ccPersistent::archive(ar);
    // A stored word of 2^31 or more reads back negative and is refused.
    uint32_t port = static_cast<uint32_t>(port_);
    ar.archive(port);
    if (ar.isLoading())
        cameraPort(static_cast<int32_t>(port));
    ccArchiveVisit::end(this, typeid(ccCameraPortProp));
}
