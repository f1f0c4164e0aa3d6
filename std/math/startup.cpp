#include "std/math/startup.h"

#include <mutex>

#include "std/except/persist.h"
#include "std/except/status.h"
#include "std/math/matherr.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/xfcomposed.h"
#include "std/math/xferrors.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
#include "std/startup.h"

void ccStdMathStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdStartup();
        ccRegisterPersistent<ccPel::NonlinearXform>();
        ccRegisterPersistent<cc2XformDefs::NotImplemented>();
        // The allocator, then the class whose factory uses it, then the identity.
        cc2XformLinear::allocator();
        ccRegisterPersistent<cc2XformLinear>();
        cc2XformLinear::identity();
        ccRegisterPersistent<ccMathError::Singular>();
        ccRegisterPersistent<ccMathError::NullVector>();
        ccRegisterPersistent<ccMathError::DivisionByZero>();
        ccRegisterPersistent<cc2XformComposed>();
        ccRegisterPersistent<cc2XformPoly::BadParams>();
        ccRegisterPersistent<cc2XformPoly::IllDefined>();
        ccRegisterPersistent<cc2XformPoly>();
        ccRegisterPersistent<cc2XformDeformDefs::BadParams>();
        ccRegisterPersistent<cc2XformCalib2Defs::BadParams>();
        ccStatusThrowerRegistry::add(44, &cc2XformStatusThrower);
    });
}
