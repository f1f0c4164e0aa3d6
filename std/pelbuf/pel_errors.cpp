#include "std/pelbuf/pel_errors.h"

#include "std/except/archive.h"

void ccPel::BadCoord::printOn(std::wostream& os) const
{
    os << L"x=" << ccFormatDecimal(x_, 0) << L", y=" << ccFormatDecimal(y_, 0);
}

void ccPel::BadCoord::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(BadCoord)))
        return;
    // This level names its source and line, not the class, as other
    // implementations of the format do.
    ccArchiveVersion(ar, 0, "std/pelbuf/pbuf_com", 930);
    Errors::archive(ar);
    ar.archive(x_).archive(y_);
    ccArchiveVisit::end(this, typeid(BadCoord));
}

void ccPelStatusThrower(csysStatus status)
{
    if (status == csysMakeStatus(0x800003C3u))
        throw ccPel::UnboundWindow();
    if (status == csysMakeStatus(0x800003CAu))
        throw ccPel::NonlinearXform();
}
