// Object records, shared references and the object table.
//
// Every archive has an object table that numbers the objects stored or
// loaded through pointers, so that an object reached twice is stored and
// loaded once and a cycle closes on the object already made. A loading
// archive re-creates objects through the persistent-type registry from the
// type record of their class blocks.
//
// A seekable archive also keeps a record directory inside the stream, through
// which a reference to an object stored further on is resolved.
//
// One process-wide lock (the archive-table lock) serialises every pointer
// and embedded-object operation, the life of the tables and the forgetting
// of objects; it is always taken before the archive mutex of
// ccArchiveObject.
#pragma once
#include <cstdint>

#include "std/except/archive.h"
#include "std/except/persistent.h"

// Stores stored (which may be null) or loads into loaded, in the archive's
// current direction. An object stored through several pointers is written
// once; the others refer to its number. A loaded object is made by the
// registry's factory for its stored type name and belongs to the caller; a
// reference to an object loaded earlier in the same archive gives that object
// again. A failure while an object is stored or loaded leaves the table
// without it (a new loaded object is destroyed) and passes on.
void archivePointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded);

namespace cc_detail {
// The typed forms' check: an object of another class gives null. It stays in
// the archive's object table, so that a later reference to it finds it; one
// that no load hands out is destroyed with the archive. That destroys what
// it owns too, so a caller keeps no object reached only through it.
void archiveCheckedPointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded,
                           bool (*isExpected)(const ccPersistent*));
} // namespace cc_detail

// A pointer to T: the loaded object is converted with a checked cast; an
// object of another class gives null (and stays the archive's until a later
// load hands it out).
template <class T>
void archivePointer(ccArchive& ar, const T* stored, T*& loaded)
{
    ccPersistent* p = nullptr;
    cc_detail::archiveCheckedPointer(ar, stored, p, [](const ccPersistent* q) {
        return dynamic_cast<const T*>(q) != nullptr;
    });
    if (ar.isLoading())
        loaded = dynamic_cast<T*>(p);
}

// An object archived by value inside another, in both directions. Storing
// needs an archive of header version 1 and a registered class.
void archiveEmbedded(ccArchive& ar, ccPersistent& object);

// The names other code uses: "ar << p" stores *p embedded (p must not be
// null, and the archive must be storing: a const object is never loaded
// into, so a loading archive raises ccInvariantFailure); "ar >> p" archives
// the pointer p (stores p when storing, loads into p when loading).
ccArchive& operator<<(ccArchive& ar, const ccPersistent* object);
ccArchive& operator>>(ccArchive& ar, ccPersistent*& object);
