#include "acq/hyper/prop/readdir.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccReadoutDirectionProp::cmCreate() { return new (std::nothrow) ccReadoutDirectionProp; }

void ccReadoutDirectionProp::horizontalReadoutReversed(bool reversed) { set(reversed, vertical_); }
void ccReadoutDirectionProp::verticalReadoutReversed(bool reversed) { set(horizontal_, reversed); }

void ccReadoutDirectionProp::set(bool horizontal, bool vertical)
{
    const bool oldHorizontal = horizontal_, oldVertical = vertical_;
    horizontal_ = horizontal;
    vertical_ = vertical;
    if (!fifo_)
        return;
    try {
        fifo_->readoutDirection(*this);
    } catch (...) {
        horizontal_ = oldHorizontal;
        vertical_ = oldVertical;
        throw;
    }
}

void ccReadoutDirectionProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccReadoutDirectionProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/readdir", __LINE__);
    ccPersistent::archive(ar);
    bool horizontal = horizontal_, vertical = vertical_;
    ar.archive(horizontal).archive(vertical);
    if (ar.isLoading())
        set(horizontal, vertical);
    ccArchiveVisit::end(this, typeid(ccReadoutDirectionProp));
}
