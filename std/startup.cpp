#include "std/startup.h"

#include <mutex>

#include "defs/ch_core/rect.h"
#include "std/archive.h"
#include "std/archutil.h"
#include "std/except/status.h"
#include "std/math/matherr.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/pelroot3.h"
#include "std/persist.h"
#include "std/resource.h"
#include "std/rpc/remote.h"
#include "std/threadid.h"
#include "std/timeout.h"

namespace {

void registerStatusThrowers()
{
    ccStatusThrowerRegistry::add(1, &ccMemoryStatusThrower);
    ccStatusThrowerRegistry::add(3, &ccTimeoutStatusThrower);
    ccStatusThrowerRegistry::add(44, &cc2XformStatusThrower);
    ccStatusThrowerRegistry::add(30, &ccPelStatusThrower);
}

// The general errors.
void registerGeneralErrors()
{
    ccRegisterPersistent<ccInvariantFailure>();
    ccRegisterPersistent<ccBadPointer>();
    ccRegisterPersistent<ccUnsupportedHW>();
    ccRegisterPersistent<ccUnknownError>();
}

void registerPelAndTransformTypes()
{
    ccRegisterPersistent<cc_PelRoot>();
    ccRegisterPersistent<ccPel::UnboundWindow>();
    ccRegisterPersistent<ccPel::BadWindow>();
    ccRegisterPersistent<ccPel::DisjointWindows>();
    ccRegisterPersistent<ccPel::BadCoord>();
    ccRegisterPersistent<ccPel::Unknown>();
    ccRegisterPersistent<ccPel::NonlinearXform>();
    ccRegisterPersistent<cc2XformDefs::NotImplemented>();
    // The allocator, then the class whose factory uses it, then the identity.
    cc2XformLinear::allocator();
    ccRegisterPersistent<cc2XformLinear>();
    cc2XformLinear::identity();
    ccRegisterPersistent<ccPelRoot<cc3PlanePel>>();
}

void registerTypedPelRoots()
{
    ccRegisterPersistent<ccPelRoot<unsigned char>>();
    ccRegisterPersistent<ccPelRoot<unsigned short>>();
    ccRegisterPersistent<ccPelRoot<uint32_t>>();
    ccRegisterPersistent<ccPelRoot<double>>();
    ccRegisterPersistent<ccPelRoot<signed char>>();
    ccRegisterPersistent<ccPelRoot<int32_t>>();
    ccRegisterPersistent<ccPelRoot<short>>();
    ccRegisterPersistent<ccPelRoot<ccPackedRGB16Pel>>();
    ccRegisterPersistent<ccPelRoot<ccPackedRGB32Pel>>();
}

void registerRemoteObjectErrors() { ccRegisterPersistent<ccRemoteObject::ObjectMismatch>(); }

void registerArchiveErrors()
{
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
}

// The lock, thread and time-out errors.
void registerResourceErrors()
{
    ccRegisterPersistent<cc_Resource::Timeout>();
    ccRegisterPersistent<cc_Resource::NamedObjectExists>();
    ccRegisterPersistent<cc_Resource::BrokenLock>();
    ccRegisterPersistent<cc_Resource::NameConflict>();
    ccRegisterPersistent<cc_Resource::CreateFailed>();
    ccRegisterPersistent<ccThreadID::CouldNotRegister>();
    ccRegisterPersistent<ccThreadID::CreateFailed>();
    ccRegisterPersistent<ccTimeout::Expired>();
    ccRegisterPersistent<ccTimeout::InternalExpired>();
    ccRegisterPersistent<ccTimeout::Cancel>();
}

void registerRectErrors()
{
    ccRegisterPersistent<ccRectErrors::NoOverlap>();
    ccRegisterPersistent<ccRectErrors::NegativeSize>();
}

void registerMathTypes()
{
    ccRegisterPersistent<ccMathError::Singular>();
    ccRegisterPersistent<ccMathError::NullVector>();
    ccRegisterPersistent<ccMathError::DivisionByZero>();
    ccRegisterPersistent<cc2XformComposed>();
    ccRegisterPersistent<cc2XformPoly::BadParams>();
    ccRegisterPersistent<cc2XformPoly::IllDefined>();
    ccRegisterPersistent<cc2XformPoly>();
}

// Every archive made from here on numbers its objects and keeps its record
// directory. The table lock is made now, before any archive needs it.
void installObjectTables()
{
    { ccArchiveTableLock made; }
    ccSetArchiveObjectTableFactory(&ccMakeArchiveObjectTable);
}

} // namespace

void ccLibraryStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        registerGeneralErrors();
        ccCounterFrequency(); // reads the counter frequency and calibrates
        registerPelAndTransformTypes();
        registerArchiveErrors();
        registerTypedPelRoots();
        registerResourceErrors();
        registerStatusThrowers();
        registerRectErrors();
        registerRemoteObjectErrors();
        registerMathTypes();
        installObjectTables();
    });
}
