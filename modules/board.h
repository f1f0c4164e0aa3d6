// Boards: the frame grabbers and cameras that a driver module reports.
#pragma once
#include "modules/module_errors.h"
#include "std/except/except.h"

// Only the board errors so far; the board class itself grows with the boards.
class ccBoard {
public:
    struct ErrorNames {
        static constexpr const char* kStoredName = "class ccBoard::Errors";
        static constexpr const char* kVersionText = "ccBoard::Errors class version mismatch";
    };
    // Errors of the boards, most of them sent by the driver module.
    using Errors = cc_ModuleErrors<ErrorNames>;

    // Raised here without message or last error.
    cmDeclareException(BadParams, Errors, 0x10002c00u, "class ccBoard::BadParams");
    // A board module made after the boards were first counted.
    cmDeclareException(StaticInitDisorder, Errors, 0x10002c01u, "class ccBoard::StaticInitDisorder");
    // The rest reach us from the driver module.
    cmDeclareException(NotSupported, Errors, 0x10002c02u, "class ccBoard::NotSupported");
    cmDeclareException(HardwareNotResponding, Errors, 0x10002c03u, "class ccBoard::HardwareNotResponding");
    cmDeclareException(Timeout, Errors, 0x10002c04u, "class ccBoard::Timeout");
    cmDeclareException(HardwareInUse, Errors, 0x10002c08u, "class ccBoard::HardwareInUse");
    cmDeclareException(HardwareNotInitialized, Errors, 0x10002c09u, "class ccBoard::HardwareNotInitialized");
    cmDeclareException(FpgaLoadFailure, Errors, 0x10002c0bu, "class ccBoard::FpgaLoadFailure");
    cmDeclareException(BadEERAMContents, Errors, 0x10002c0cu, "class ccBoard::BadEERAMContents");
    cmDeclareException(MultiProcessAccessFailed, Errors, 0x10002c0du, "class ccBoard::MultiProcessAccessFailed");
};
