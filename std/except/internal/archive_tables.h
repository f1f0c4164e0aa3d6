// Internal to the persistence core, not for callers: the hook through which
// archives get their object table (tests swap it), the core's table maker,
// and the archive-table lock.
#pragma once
#include <memory>

#include "std/except/archive.h"

// Makes the table for a new archive; the archive is not yet usable at that
// point (its header is not processed). Null: archives have no table.
typedef std::unique_ptr<ccArchiveObjectTable> (*ccArchiveObjectTableFactory)(ccArchive& archive);

// The test seam: ccMakeArchiveObjectTable until a test swaps it; returns the
// previous factory.
ccArchiveObjectTableFactory ccSetArchiveObjectTableFactory(ccArchiveObjectTableFactory factory);

// Makes the object table of a new archive: the factory every archive uses,
// from the first one on, whether or not the start-up has run.
std::unique_ptr<ccArchiveObjectTable> ccMakeArchiveObjectTable(ccArchive& ar);

// Holds the archive-table lock for a scope: recursive for its holder, made
// at first use and never destroyed (objects are forgotten at exit too). It is
// always taken before the archive mutex of ccArchiveObject.
class ccArchiveTableLock {
public:
    ccArchiveTableLock();
    ~ccArchiveTableLock();
    ccArchiveTableLock(const ccArchiveTableLock&) = delete;
    ccArchiveTableLock& operator=(const ccArchiveTableLock&) = delete;
};
