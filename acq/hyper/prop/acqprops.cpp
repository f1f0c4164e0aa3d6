#include "acq/hyper/prop/acqprops.h"

void ccAcqProps::attachAll(cc_AcqFifo* fifo)
{
    ccSyncProp::attach(fifo);
}
