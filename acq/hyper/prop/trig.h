// The trigger property of a FIFO: the trigger model, whether the trigger is
// enabled, its active edge, and the master FIFO a slave FIFO follows.
#pragma once

#include "acq/acqfifo.h"
#include "acq/trigmodel.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"


class ccTriggerProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000988u, "class ccTriggerProp::BadParams");

    static constexpr const char* kStoredName = "class ccTriggerProp";
    static constexpr uint8_t kVersion = 1;
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    // Enabled, rising edge, the Manual model, no master; detached.
    ccTriggerProp();

    void triggerEnable(bool enable);
    // Attached, the board's answer replaces the stored flag first.
    bool triggerEnable();
    void triggerLowToHigh(bool lowToHigh);
    bool triggerLowToHigh() const { return lowToHigh_; }

    // A predefined model, which lives for the whole process; the model
    // handle is emptied. Null or a custom model (which a bare pointer could
    // not keep alive) is refused with BadParams.
    void triggerModel(const ccTriggerModel* model);
    // Any model, kept alive by the handle; the predefined pointer is
    // cleared. An empty handle is refused with BadParams.
    void triggerModel(const ccPtrHandle<ccTriggerModel>& model);
    // The model when it was set as a predefined one, else null.
    const ccTriggerModel* triggerModel() const { return builtIn_; }
    // The model when it was set by handle, else empty.
    const ccPtrHandle<ccTriggerModel>& triggerModelHandle() const { return model_; }

    // The board is given the master's implementation (null for an empty
    // handle). A master without an implementation, or the FIFO this property
    // is attached to, raises ccAcqFifo::InvalidMaster: the first would read
    // as "no master", the second would keep the FIFO alive through itself.
    // A refusal keeps the stored master.
    void triggerMaster(const ccPtrHandle<ccAcqFifo>& master);
    const ccPtrHandle<ccAcqFifo>& triggerMaster() const { return master_; }
    // False detached, for an empty handle and for a master that
    // triggerMaster refuses itself; otherwise the board's answer.
    bool isValidMaster(const ccPtrHandle<ccAcqFifo>& master) const;

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 1, the ccPersistent level, then the enabled and
    // low-to-high flags (the model and the master are not stored). Loaded
    // flags go through the setters; a version-0 archive also carries a word
    // that is skipped, and sets the Manual model.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    const ccTriggerModel* builtIn_;
    ccPtrHandle<ccTriggerModel> model_;
    bool enabled_ = true;
    bool lowToHigh_ = true;
    ccPtrHandle<ccAcqFifo> master_;
    cc_AcqFifo* fifo_ = nullptr;
};
