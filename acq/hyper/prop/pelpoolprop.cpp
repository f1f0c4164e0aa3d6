#include "acq/hyper/prop/pelpoolprop.h"

#include "acq/acqfifo_impl.h"

void ccPelRootPoolProp::pelRootPool(const ccPtrHandle<ccPelRootPool>& pool)
{
    if (fifo_) {
        if (!fifo_->acceptsPelRootPool(pool))
            throw BadParams();
        fifo_->pelRootPool(pool);
    }
    pool_ = pool;
}

void ccPelRootPoolProp::attach(cc_AcqFifo* fifo)
{
    if (fifo) {
        // Asked first: should the implementation throw, nothing changes.
        ccPtrHandle<ccPelRootPool> pool = fifo->pelRootPoolHandle();
        pool_ = pool;
    }
    fifo_ = fifo;
}
