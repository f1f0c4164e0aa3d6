// Callback objects: shared through ccPtrHandle, called on whichever thread
// raises the event. Implementations are the client's and guard their own
// state; the caller holds a handle for the length of each call.
#pragma once
#include "std/except/persistent.h"
#include "std/ptrhandle.h"

// A callback with one argument of type T.
template <class T>
class ccCallback1 : public virtual ccRepBase {
public:
    virtual void operator()(T argument) = 0;
};

// A notification without arguments that can be archived as an object
// reference; the concrete classes give the archive level.
class ccCallback : public virtual ccRepBase, public virtual ccPersistent {
public:
    virtual void operator()() = 0;
};
