// The notifications of a FIFO (move part, overrun, complete) as archived
// settings. Only the archive touches the held notification: the FIFO's own
// callback setters install theirs on the implementation directly. A loaded
// notification is handed to the attached implementation.
#pragma once
#include <cstdint>
#include <typeinfo>

#include "std/callback.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

class cc_AcqFifo;

// Each archive: version byte 0, the ccPersistent level, then the
// notification as an object reference (an empty handle is no object).
// Loading refuses an object of another class with ccArchive::BadContent and
// keeps the held notification; attached, the loaded one reaches the
// implementation before it is stored, and an error there keeps the old one.

namespace cc_detail {

// The implementation's setter for one notification.
typedef void (cc_AcqFifo::*CallbackInstall)(const ccPtrHandle<ccCallback>&);

// One notification property's class level (level: its own class), as above;
// line is reported by its errors.
void archiveCallbackLevel(ccPersistent& self, const std::type_info& level, ccArchive& ar,
                          ccPtrHandle<ccCallback>& held, cc_AcqFifo* fifo, CallbackInstall install, uint32_t line);

// What the three properties share: the held notification, the implementation
// and the archive routine. Self, the property, makes each its own base.
template <class Self>
class ccCallbackPropBody {
public:
    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

protected:
    void archiveLevel(ccArchive& ar, CallbackInstall install, uint32_t line)
    {
        archiveCallbackLevel(static_cast<Self&>(*this), typeid(Self), ar, callback_, fifo_, install, line);
    }

    ccPtrHandle<ccCallback> callback_;

private:
    cc_AcqFifo* fifo_ = nullptr;
};

} // namespace cc_detail

class ccMovePartCallbackProp : public virtual ccPersistent,
                               public cc_detail::ccCallbackPropBody<ccMovePartCallbackProp> {
public:
    static constexpr const char* kStoredName = "class ccMovePartCallbackProp";
    // The registry's factory: a detached property without a notification.
    static ccPersistent* cmCreate();

    ccMovePartCallbackProp() = default;

    const ccPtrHandle<ccCallback>& movePartCallback() const { return callback_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }
};

class ccOverrunCallbackProp : public virtual ccPersistent,
                              public cc_detail::ccCallbackPropBody<ccOverrunCallbackProp> {
public:
    static constexpr const char* kStoredName = "class ccOverrunCallbackProp";
    static ccPersistent* cmCreate();

    ccOverrunCallbackProp() = default;

    const ccPtrHandle<ccCallback>& overrunCallback() const { return callback_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }
};

class ccCompleteCallbackProp : public virtual ccPersistent,
                               public cc_detail::ccCallbackPropBody<ccCompleteCallbackProp> {
public:
    static constexpr const char* kStoredName = "class ccCompleteCallbackProp";
    static ccPersistent* cmCreate();

    ccCompleteCallbackProp() = default;

    const ccPtrHandle<ccCallback>& completeCallback() const { return callback_; }

    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }
};
