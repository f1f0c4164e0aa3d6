#include "std/math/xfbase.h"

#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/persist.h"
#include "std/math/matherr.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/xfcomposed.h"
#include "std/math/xferrors.h"

void cc2XformBase::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(cc2XformBase)))
        return;
    ccArchiveVersion(ar, 0, "std/math/xfbase", 27);
    ccPersistent::archive(ar);
    ccArchiveVisit::end(this, typeid(cc2XformBase));
}

ccPtrHandle<cc2XformBase> cc2XformBase::compose(const cc2XformBase& other) const
{
    return ccPtrHandle<cc2XformBase>(new cc2XformComposed(*this, other, true, true));
}

void cc2XformStatusThrower(csysStatus status)
{
    switch (static_cast<uint32_t>(status)) {
    case 0x80000582u:
    case 0x80000583u:
        throw ccMathError::Singular();
    case 0x80000585u:
        throw ccPel::NonlinearXform();
    case 0x80000586u:
        throw cc2XformDefs::NotImplemented();
    case 0x80000587u:
        throw cc2XformDeformDefs::BadParams(L"Bad Params: Negative smoothness");
    case 0x80000588u:
        throw cc2XformDeformDefs::BadParams(L"Bad Params: Less than 3 points");
    case 0x8000058Cu:
        throw cc2XformCalib2Defs::BadParams(L"Bad Points");
    default:
        return;
    }
}
