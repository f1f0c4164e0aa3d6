#include "std/except/archutil.h"

#include "std/except/internal/arch_objtable.h"
#include "std/except/internal/archive_tables.h"

namespace {

cc_detail::ccObjectTable& tableOf(ccArchive& ar)
{
    auto* table = dynamic_cast<cc_detail::ccObjectTable*>(ar.objectTable());
    if (!table)
        throw ccInvariantFailure();
    return *table;
}

} // namespace

std::unique_ptr<ccArchiveObjectTable> ccMakeArchiveObjectTable(ccArchive& ar)
{
    return std::unique_ptr<ccArchiveObjectTable>(new cc_detail::ccObjectTable(ar));
}

void archivePointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded)
{
    cc_detail::archiveCheckedPointer(ar, stored, loaded, [](const ccPersistent*) { return true; });
}

void cc_detail::archiveCheckedPointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded,
                                      bool (*isExpected)(const ccPersistent*))
{
    ccArchiveTableLock hold;
    cc_detail::ccObjectTable& table = tableOf(ar);
    if (ar.isStoring()) {
        table.storePointer(stored);
        return;
    }
    bool made = false;
    ccPersistent* p = table.loadPointer(made);
    if (p && !isExpected(p)) {
        // Still listed under its number for later references; made here, it
        // is nobody's yet, and goes with the table unless handed out later.
        if (made)
            table.keepUnclaimed(p);
        p = nullptr;
    } else if (p) {
        table.claim(p);
    }
    loaded = p;
}

// Embedded operations take the table lock too, so that the lock always comes
// before the archive mutex, also when an embedded object stores a pointer.
void archiveEmbedded(ccArchive& ar, ccPersistent& object)
{
    ccArchiveTableLock hold;
    cc_detail::ccObjectTable& table = tableOf(ar);
    if (ar.isStoring())
        table.storeEmbedded(object);
    else
        table.loadEmbedded(object);
}

ccArchive& operator<<(ccArchive& ar, const ccPersistent* object)
{
    if (!object)
        throw ccBadPointer();
    if (!ar.isStoring())
        throw ccInvariantFailure();
    // Storing only reads the object.
    archiveEmbedded(ar, const_cast<ccPersistent&>(*object));
    return ar;
}

ccArchive& operator>>(ccArchive& ar, ccPersistent*& object)
{
    archivePointer(ar, object, object);
    return ar;
}
