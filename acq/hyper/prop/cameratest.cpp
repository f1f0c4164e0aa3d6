#include "acq/hyper/prop/cameratest.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccCameraTestProp::cmCreate() { return new (std::nothrow) ccCameraTestProp; }

void ccCameraTestProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCameraTestProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/cameratest", __LINE__);
    ccPersistent::archive(ar);
    bool first = first_;
    // The archive carries the member unsigned; its bits are the same.
    uint32_t second = static_cast<uint32_t>(second_);
    uint8_t third = third_;
    ar.archive(first).archive(second).archive(third);
    if (ar.isLoading()) {
        const bool oldFirst = first_;
        const int32_t oldSecond = second_;
        const uint8_t oldThird = third_;
        first_ = first;
        second_ = static_cast<int32_t>(second);
        third_ = third;
        // The implementation reads the members from this object.
        if (fifo_) {
            try {
                fifo_->cameraTest(*this);
            } catch (...) {
                first_ = oldFirst;
                second_ = oldSecond;
                third_ = oldThird;
                throw;
            }
        }
    }
    ccArchiveVisit::end(this, typeid(ccCameraTestProp));
}
