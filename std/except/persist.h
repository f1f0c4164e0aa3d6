// The persistence protocol and the persistent-type registry.
//
// A whole-object operation (ccArchiveObject) holds the archive mutex and a
// context of its own; inside it each class level of the object is archived
// at most once (ccArchiveVisit). The registry re-creates objects from their
// stored type names, which travel in type records (ccArchiveTypeName).
#pragma once
#include <cstdint>
#include <string>
#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/persistent.h" // ccArchiveVisit, ccArchiveVersion

// One whole-object operation: with resetBeforeLoad, a loading archive first
// calls object.beforeLoad(); then, under the archive mutex and in a context
// of its own, object.archive(ar). The context is removed and the mutex
// released whatever leaves archive(). Operations nest on one thread.
void ccArchiveObject(ccPersistent& object, ccArchive& ar, bool resetBeforeLoad);

// Holds the process-wide archive mutex (a ccMutex, so a stop request breaks
// the wait with cc_Resource::BrokenLock), which the holding thread may take
// again. Created at first use and never destroyed.
class ccArchiveMutexLock {
public:
    ccArchiveMutexLock();
    ~ccArchiveMutexLock();
    ccArchiveMutexLock(const ccArchiveMutexLock&) = delete;
    ccArchiveMutexLock& operator=(const ccArchiveMutexLock&) = delete;

private:
    bool held_;
};

// A new default-constructed object of its class, or null when out of memory.
typedef ccPersistent* (*ccPersistentFactory)();

// Appends (reading-form name, factory) to the registry. Registrations run in
// the layers' start-ups; a name registered twice keeps its first factory.
class ccPersistentRegistrar {
public:
    ccPersistentRegistrar(const char* readingName, ccPersistentFactory factory);
};

// For a class declared with cmExceptionBody or with kStoredName and cmCreate.
// Registers the class once per process, at the first call: a class may be
// listed both by an ordered start-up and by its folder's registration, and
// whichever runs first decides its place in the registry.
template <class T>
void ccRegisterPersistent()
{
    static const ccPersistentRegistrar once(T::kStoredName, &T::cmCreate);
    (void)once;
}

// The factory of the first registered type whose name equals readingName,
// with "wchar_t" read as "unsigned short" in both; null when none.
ccPersistentFactory ccFindFactory(const std::string& readingName);

// The type record. Storing writes readingName in writing form ("$nt" when
// empty). Loading puts the reading form into name (left alone for "$nt") and
// raises ccArchive::UnknownType when no factory is registered for it.
void ccArchiveTypeName(ccArchive& ar, std::string& name);
