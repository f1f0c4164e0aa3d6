// The pool from which a FIFO takes the storage of its images. Not archived.
#pragma once
#include "std/except/except.h"
#include "std/pelbuf/rootpool.h"
#include "std/ptrhandle.h"

class cc_AcqFifo;

class ccPelRootPoolProp {
public:
    cmDeclareException(BadParams, ccException, 0x100009C3u, "class ccPelRootPoolProp::BadParams");

    ccPelRootPoolProp() = default;
    ccPelRootPoolProp(const ccPelRootPoolProp&) = delete;
    ccPelRootPoolProp& operator=(const ccPelRootPoolProp&) = delete;
    virtual ~ccPelRootPoolProp() = default;

    // Attached, the implementation must accept the pool (else BadParams)
    // and then receives it; an error there keeps the old pool. The pool is
    // shared, not copied.
    void pelRootPool(const ccPtrHandle<ccPelRootPool>& pool);
    const ccPtrHandle<ccPelRootPool>& pelRootPool() const { return pool_; }

    // Stores the implementation (not owned) and takes its pool in place of
    // the one held; null only detaches.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

private:
    ccPtrHandle<ccPelRootPool> pool_;
    cc_AcqFifo* fifo_ = nullptr;
};
