// The suite's core type library, described by tables: IQorObject and
// IQorArchive, so that scripting clients reach the archive and every
// object's common methods by name.
#pragma once
#include "platform/com/typeinfo.h"

extern const GUID LIBID_QoraltCore;
// The archive's class as the library describes it (it is never registered),
// and the event interface of collections.
extern const CLSID CLSID_QorArchive;
extern const IID DIID_IQorCollectionEvents;
// The event interface of objects that tell of their changes.
extern const IID DIID_IQorChangeEvent;

namespace cc_core_types {
extern const plat::com::InterfaceEntry kQorObject;
extern const plat::com::InterfaceEntry kQorArchive;
extern const plat::com::TypeLibraryEntry kLibrary;
} // namespace cc_core_types

// Makes the core library loadable; calling it again does nothing.
void ccRegisterCoreTypeLibrary();
