// The notifications of a FIFO (move part, overrun, complete) as archived
// settings. Only the archive touches the held notification: the FIFO's own
// callback setters install theirs on the implementation directly. A loaded
// notification is handed to the attached implementation.
#pragma once
#include "std/callback.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

class cc_AcqFifo;

// Each archive: version byte 0, the ccPersistent level, then the
// notification as an object reference (an empty handle is no object).
// Loading refuses an object of another class with ccArchive::BadContent and
// keeps the held notification; attached, the loaded one reaches the
// implementation before it is stored, and an error there keeps the old one.

class ccMovePartCallbackProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccMovePartCallbackProp";
    // The registry's factory: a detached property without a notification.
    static ccPersistent* cmCreate();

    ccMovePartCallbackProp() = default;

    const ccPtrHandle<ccCallback>& movePartCallback() const { return callback_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccPtrHandle<ccCallback> callback_;
    cc_AcqFifo* fifo_ = nullptr;
};

class ccOverrunCallbackProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccOverrunCallbackProp";
    static ccPersistent* cmCreate();

    ccOverrunCallbackProp() = default;

    const ccPtrHandle<ccCallback>& overrunCallback() const { return callback_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccPtrHandle<ccCallback> callback_;
    cc_AcqFifo* fifo_ = nullptr;
};

class ccCompleteCallbackProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccCompleteCallbackProp";
    static ccPersistent* cmCreate();

    ccCompleteCallbackProp() = default;

    const ccPtrHandle<ccCallback>& completeCallback() const { return callback_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccPtrHandle<ccCallback> callback_;
    cc_AcqFifo* fifo_ = nullptr;
};
