// What a pel root sees of the pool that supplied its pels. The pools
// themselves (shape classes, arena, waiting takers) build on this.
#pragma once
#include "std/ptrhandle.h"

class cc_PelRoot;

class ccPelRootPool : public ccRepBase {
public:
    // Takes back a root of this pool whose last handle went; answers whether
    // a waiting taker was woken. A release path: it never throws, and it
    // drops the root from the archive tables (markModified) before it takes
    // its own lock, so that the archive-table lock is never awaited under it.
    virtual bool takeBack(cc_PelRoot& root) noexcept = 0;
};
