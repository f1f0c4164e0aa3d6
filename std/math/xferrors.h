// The errors of the deformation and calibration transforms that the 2-D
// transform statuses (facility 44) raise. The transforms themselves belong to
// the geometry library; their errors live here, with the thrower.
#pragma once
#include "std/except/except.h"

namespace cc2XformDeformDefs {
// A deformation fit with a negative smoothness or fewer than 3 points.
cmDeclareException(BadParams, ccExceptionWithString, 0x10003E00u, "class cc2XformDeformDefs::BadParams");
} // namespace cc2XformDeformDefs

namespace cc2XformCalib2Defs {
// A calibration fit from points that do not determine it.
cmDeclareException(BadParams, ccExceptionWithString, 0x10003930u, "class cc2XformCalib2Defs::BadParams");
} // namespace cc2XformCalib2Defs
