#include "acq/hyper/prop/camloc.h"

#include "acq/acqfifo_impl.h"

void ccCameraLocationProp::cameraLocation(ccCameraPort* location)
{
    if (fifo_) {
        if (!fifo_->isCameraLocationValid(location))
            throw BadParams();
        fifo_->cameraLocation(location);
    }
    location_ = location;
}
