#include "acq/hyper/prop/cdc_calib.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccCdcCameraCalibrationProp::cmCreate() { return new (std::nothrow) ccCdcCameraCalibrationProp; }

void ccCdcCameraCalibrationProp::outlierPixelCorrectionEnabled(bool enabled)
{
    Fields next = fields_;
    next.outlier = enabled;
    set(next);
}

void ccCdcCameraCalibrationProp::rowColumnCalibrationEnabled(bool enabled)
{
    Fields next = fields_;
    next.rowColumn = enabled;
    set(next);
}

void ccCdcCameraCalibrationProp::attach(cc_AcqFifo* fifo)
{
    if (!fifo) {
        fifo_ = nullptr;
        return;
    }
    Fields next = fields_;
    next.outlier = fifo->cdcCalibrationDefault();
    cc_AcqFifo* const old = fifo_;
    fifo_ = fifo;
    try {
        set(next);
    } catch (...) {
        fifo_ = old;
        throw;
    }
}

void ccCdcCameraCalibrationProp::set(const Fields& fields)
{
    const Fields old = fields_;
    fields_ = fields;
    if (!fifo_)
        return;
    try {
        fifo_->cdcCameraCalibration(*this);
    } catch (...) {
        fields_ = old;
        throw;
    }
}

void ccCdcCameraCalibrationProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCdcCameraCalibrationProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/cdc_calib", __LINE__);
    ccPersistent::archive(ar);
    Fields f = fields_;
    ar.archive(f.outlier).archive(f.first).archive(f.second).archive(f.rowColumn);
    if (ar.isLoading())
        set(f);
    ccArchiveVisit::end(this, typeid(ccCdcCameraCalibrationProp));
}
