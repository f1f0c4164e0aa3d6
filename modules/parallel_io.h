// Parallel I/O: the discrete input and output lines of a board.
#pragma once
#include "std/except/except.h"

// Only the line errors so far; the facet itself grows with the boards.
class ccParallelIO {
public:
    // None has a message of its own.
    cmDeclareErrorFamily(Errors, ccException, "class ccParallelIO::Errors");
    // A line number the board or its I/O configuration does not have.
    cmDeclareException(BadParams, Errors, 0x10003a00u, "class ccParallelIO::BadParams");
    // enable or canBeEnabled on a line handle without a line behind it.
    cmDeclareException(CannotEnable, Errors, 0x10003a01u, "class ccParallelIO::CannotEnable");
    // Any other use of such a handle; toggling a disabled line.
    cmDeclareException(NotEnabled, Errors, 0x10003a03u, "class ccParallelIO::NotEnabled");
    cmDeclareException(NotImplemented, Errors, 0x10003a04u, "class ccParallelIO::NotImplemented");
    // An I/O configuration that answers no line question.
    cmDeclareException(Unspecified, Errors, 0x10003a05u, "class ccParallelIO::Unspecified");
};
