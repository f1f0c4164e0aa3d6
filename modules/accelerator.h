// Accelerators: the communicators through which pels held by a board are
// reached.
#pragma once
#include "modules/module_errors.h"
#include "std/except/except.h"
#include "std/rpc/communicator.h"

// Only the errors so far, so the class stays abstract; its connection, its
// peer and its time-out come with the proxies. Its errors share the board
// errors' numbering and form.
class ccAccelerator : public ccCommunicator {
public:
    struct ErrorNames {
        static constexpr const char* kStoredName = "class ccAccelerator::Errors";
        static constexpr const char* kVersionText = "ccAccelerator::Errors class version mismatch";
    };
    using Errors = cc_ModuleErrors<ErrorNames>;

    cmDeclareException(BadFile, Errors, 0x10002c05u, "class ccAccelerator::BadFile");
    cmDeclareException(BootFailure, Errors, 0x10002c06u, "class ccAccelerator::BootFailure");
    cmDeclareException(ConnectionBroken, Errors, 0x10002c0au, "class ccAccelerator::ConnectionBroken");
};
