// The property aggregate of a FIFO: every acquisition property class in one
// object, attached to the FIFO's implementation together. So far it combines
// the sync property; the other property classes join it, in their fixed
// order, as they are built, and its archive (and its registration for
// archives) comes with them.
#pragma once

#include "acq/hyper/prop/sync.h"

class cc_AcqFifo;

class ccAcqProps : public ccSyncProp {
public:
    ccAcqProps() = default;
    ccAcqProps(const ccAcqProps&) = delete;
    ccAcqProps& operator=(const ccAcqProps&) = delete;
    ~ccAcqProps() override = default;

    // Attaches every property to fifo; null detaches them. The implementation
    // is not owned.
    void attachAll(cc_AcqFifo* fifo);
};

// The form every standard FIFO makes.
class ccAnalogAcqProps : public ccAcqProps {
public:
    ccAnalogAcqProps() = default;
};
