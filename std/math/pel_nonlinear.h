// The root of the pel-buffer errors, and the one of them that transforms
// raise: the pel buffers build on the transforms, so both live here.
#pragma once
#include "std/except/except.h"

namespace ccPel {
cmDeclareErrorFamily(Errors, ccException, "class ccPel::Errors");
// A client transform that is not linear was asked for as a linear one.
cmDeclareException(NonlinearXform, Errors, 0x10000409u, "class ccPel::NonlinearXform");
} // namespace ccPel
