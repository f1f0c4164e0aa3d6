// Thread identities of the library and their errors.
#pragma once
#include "std/except/except.h"

class ccThreadID {
public:
    cmDeclareException(CouldNotRegister, ccException, 0x10002101u, "class ccThreadID::CouldNotRegister");
    cmDeclareException(CreateFailed, ccException, 0x10002103u, "class ccThreadID::CreateFailed");
};
