// The module's classes as a COM server: the object map (the frame-grabber
// collection, then the acquisition FIFO), the registry scripts that register
// them, and the suite's frame-grabber list that unregistration prunes.
#pragma once
#include "comframe/classids.h"
#include "comframe/server.h"

// The suite-wide list of frame-grabber drivers below HKEY_LOCAL_MACHINE
// "SOFTWARE": one subkey per driver's collection class, whose default value
// is that class's ProgID.
extern const wchar_t* const ccFrameGrabberListPath;

const ccObjectMap& ccModuleObjectMap();
// Makes a class of the map creatable once the layer above has built it (at
// start-up, before the module serves its classes); false for a class the map
// does not hold.
bool ccSetModuleClassCreator(REFCLSID clsid, plat::com::CreatorFunction creator);

// The braced upper-case text of a GUID.
std::wstring ccGuidText(REFGUID guid);
