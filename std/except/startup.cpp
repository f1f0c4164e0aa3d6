#include "std/except/startup.h"

#include <mutex>

#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/internal/archive_tables.h"
#include "std/except/persist.h"
#include "std/except/resource.h"
#include "std/except/status.h"

void ccStdExceptStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccRegisterPersistent<ccInvariantFailure>();
        ccRegisterPersistent<ccBadPointer>();
        ccRegisterPersistent<ccUnsupportedHW>();
        ccRegisterPersistent<ccUnknownError>();

        ccRegisterPersistent<ccArchive::Eof>();
        ccRegisterPersistent<ccArchive::BadBuffer>();
        ccRegisterPersistent<ccArchive::BadFile>();
        ccRegisterPersistent<ccArchive::BadType>();
        ccRegisterPersistent<ccArchive::BadContent>();
        ccRegisterPersistent<ccArchive::NotFound>();
        ccRegisterPersistent<ccArchive::Duplicate>();
        ccRegisterPersistent<ccArchive::UnknownType>();
        ccRegisterPersistent<ccArchive::UnknownVersion>();
        ccRegisterPersistent<ccArchive::NotSeekable>();
        ccRegisterPersistent<ccArchive::UnknownArchiveVersion>();
        ccRegisterPersistent<ccArchive::CannotWriteToOldArchive>();

        ccRegisterPersistent<cc_Resource::Timeout>();
        ccRegisterPersistent<cc_Resource::NamedObjectExists>();
        ccRegisterPersistent<cc_Resource::BrokenLock>();
        ccRegisterPersistent<cc_Resource::NameConflict>();
        ccRegisterPersistent<cc_Resource::CreateFailed>();

        ccStatusThrowerRegistry::add(1, &ccMemoryStatusThrower);

        // Made on the loading thread, before any client call.
        (void)ccLibraryMutex();

        // The table lock is made now, on the loading thread, before any
        // archive needs it.
        { ccArchiveTableLock made; }
    });
}
