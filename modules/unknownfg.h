// Boards reached through a driver module.
#pragma once
#include "std/except/except.h"

// For now only its error; the board class grows with the boards.
class ccUnknownFG {
public:
    // A module interface that is required but not offered, or a module error
    // that does not come back as a library exception.
    cmDeclareException(MissingFunctionality, ccException, 0x10002c0eu, "class ccUnknownFG::MissingFunctionality");
};
