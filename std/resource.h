// Synchronisation resources of the library and their errors.
#pragma once
#include "std/except/except.h"

class cc_Resource {
public:
    cmDeclareErrorFamily(Errors, ccException, "class cc_Resource::Errors");
    // Registered for archives; a lock time-out is reported by lock() returning false.
    cmDeclareException(Timeout, Errors, 0x10002100u, "class cc_Resource::Timeout");
    cmDeclareException(NamedObjectExists, Errors, 0x10002102u, "class cc_Resource::NamedObjectExists");
    cmDeclareException(NameConflict, Errors, 0x10002104u, "class cc_Resource::NameConflict");
    cmDeclareException(CreateFailed, Errors, 0x10002105u, "class cc_Resource::CreateFailed");
    // A wait broken by the calling thread's stop request. Its code is 0.
    cmDeclareException(BrokenLock, Errors, 0u, "class cc_Resource::BrokenLock");
};
