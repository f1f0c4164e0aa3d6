// Numeric errors of the matrix and vector code.
#pragma once
#include "std/except/except.h"

namespace ccMathError {
cmDeclareErrorFamily(Errors, ccException, "class ccMathError::Errors");
// A matrix with determinant exactly 0 was inverted.
cmDeclareException(Singular, Errors, 0x10000F00u, "class ccMathError::Singular");
cmDeclareException(NullVector, Errors, 0x10000F01u, "class ccMathError::NullVector");
cmDeclareException(DivisionByZero, Errors, 0x10000F02u, "class ccMathError::DivisionByZero");
} // namespace ccMathError
