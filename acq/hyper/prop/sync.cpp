#include "acq/hyper/prop/sync.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccSyncProp::cmCreate() { return new (std::nothrow) ccSyncProp; }

uint32_t ccSyncProp::syncModelIdFromCode(int32_t index)
{
    // The board numbers its models as the archive does.
    return index < 0 ? ccSyncModel::kCodeDefault : ccSyncModel::codeFromArchiveIndex(static_cast<uint32_t>(index));
}

void ccSyncProp::syncModel(const ccSyncModel& model)
{
    ccSyncModel chosen = model;
    if (fifo_) {
        if (chosen.isDefault())
            chosen = fifo_->defaultSyncModel();
        fifo_->syncModel(chosen);
    }
    model_ = chosen;
}

ccSyncModel ccSyncProp::actualSyncModel() const
{
    if (!fifo_)
        throw NoFrameGrabber();
    return fifo_->actualSyncModel();
}

void ccSyncProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccSyncProp)))
        return;
    // Unlike the other property classes, the ccPersistent level comes before
    // the version byte; inside the aggregate an earlier level has written it.
    ccPersistent::archive(ar);
    const uint8_t version = ccArchiveVersion(ar, 1, "acq/hyper/prop/sync", 96);
    uint32_t index = ccSyncModel::archiveIndex(model_);
    ar.archive(index);
    if (ar.isLoading()) {
        // A version-0 index is not read as a model: the default stands in.
        const ccSyncModel loaded =
            version >= 1 ? ccSyncModel::fromCode(ccSyncModel::codeFromArchiveIndex(index)) : ccSyncModel();
        syncModel(loaded);
    }
    ccArchiveVisit::end(this, typeid(ccSyncProp));
}
