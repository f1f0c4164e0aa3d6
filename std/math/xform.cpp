#include "std/math/xform.h"

#include "std/except/archive.h"
#include "std/except/persist.h"

void cc2Xform::get(double& tx, double& ty, double& a, double& b, double& c, double& d) const
{
    tx = offset_.x();
    ty = offset_.y();
    matrix_.get(a, b, c, d);
}

cc2Vect cc2Xform::mapPoint(const cc2Vect& p) const
{
    const cc2Vect m = matrix_ * p;
    return cc2Vect(m.x() + offset_.x(), m.y() + offset_.y());
}

cc2Xform cc2Xform::operator*(const cc2Xform& other) const
{
    return cc2Xform(matrix_ * other.matrix_, mapPoint(other.offset_));
}

bool cc2Xform::isIdentity() const
{
    return offset_.x() == 0.0 && offset_.y() == 0.0 && matrix_.a() == 1.0 && matrix_.b() == 0.0 &&
           matrix_.c() == 0.0 && matrix_.d() == 1.0;
}

void cc2Xform::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/math/xform", 107);
    unsigned char identity = isIdentity() ? 1 : 0;
    cc2Xform x = *this;
    x.offset_.archive(ar);
    x.matrix_.archive(ar);
    ar.archive(identity);
    if (ar.isLoading())
        *this = x;
}
