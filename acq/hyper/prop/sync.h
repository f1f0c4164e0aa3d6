// The sync property of a FIFO: the sync model it holds and passes to the
// attached FIFO implementation.
#pragma once
#include <cstdint>

#include "acq/syncmodel.h"
#include "std/except/except.h"

class cc_AcqFifo;

class ccSyncProp : public virtual ccPersistent {
public:
    cmDeclareException(NoFrameGrabber, ccException, 0x10000995u, "class ccSyncProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccSyncProp";
    // The registry's factory: a detached property with the default model.
    static ccPersistent* cmCreate();

    ccSyncProp() = default;

    // The library code of a board's sync index: 2..14 give 151..163, any
    // other index the default model (150).
    static uint32_t syncModelIdFromCode(int32_t index);

    // Attached: a default model is first replaced by the implementation's
    // default, then the implementation receives it; an error there leaves
    // the stored model as it was. The model passed on is the one stored.
    void syncModel(const ccSyncModel& model);
    const ccSyncModel& syncModel() const { return model_; }
    // What the board runs with; NoFrameGrabber while detached.
    ccSyncModel actualSyncModel() const;

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // The ccPersistent level, version byte 1, then the model's archive index
    // as a 32-bit word; inside the aggregate the version byte comes before
    // the ccPersistent level. A loaded model goes through syncModel; version
    // 0 ignores the index and loads the default model.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccSyncModel model_;
    cc_AcqFifo* fifo_ = nullptr;
};
