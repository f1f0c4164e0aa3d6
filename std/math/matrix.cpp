#include "std/math/matrix.h"

#include "std/except/archive.h"
#include "std/except/persist.h"
#include "std/math/matherr.h"

void cc2Matrix::get(double& a, double& b, double& c, double& d) const
{
    a = a_;
    b = b_;
    c = c_;
    d = d_;
}

cc2Matrix cc2Matrix::inverse() const
{
    if (det_ == 0.0)
        throw ccMathError::Singular();
    const double r = 1.0 / det_;
    return cc2Matrix(d_ * r, -(b_ * r), -(c_ * r), a_ * r);
}

cc2Matrix cc2Matrix::operator*(const cc2Matrix& m) const
{
    return cc2Matrix(a_ * m.a_ + b_ * m.c_, a_ * m.b_ + b_ * m.d_, c_ * m.a_ + d_ * m.c_, c_ * m.b_ + d_ * m.d_);
}

cc2Vect cc2Matrix::operator*(const cc2Vect& v) const
{
    return cc2Vect(a_ * v.x() + b_ * v.y(), c_ * v.x() + d_ * v.y());
}

void cc2Matrix::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/math/matrix", 196);
    cc2Matrix m = *this;
    ar.archive(m.a_).archive(m.b_).archive(m.c_).archive(m.d_).archive(m.det_);
    if (ar.isLoading())
        *this = cc2Matrix(m.a_, m.b_, m.c_, m.d_);
}

int cc3Matrix::index(int row, int column)
{
    if (row < 0 || row > 2 || column < 0 || column > 2)
        throw ccInvariantFailure();
    return row * 3 + column;
}

double cc3Matrix::element(int row, int column) const { return e_[index(row, column)]; }

void cc3Matrix::setElement(int row, int column, double value)
{
    e_[index(row, column)] = value;
    det_ = expand();
}

double cc3Matrix::expand() const
{
    const double* e = e_;
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) +
           e[2] * (e[3] * e[7] - e[4] * e[6]);
}

void cc3Matrix::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/math/matrix", 298);
    cc3Matrix m = *this;
    for (double& v : m.e_)
        ar.archive(v);
    ar.archive(m.det_);
    if (ar.isLoading()) {
        m.det_ = m.expand();
        *this = m;
    }
}
