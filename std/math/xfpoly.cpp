#include "std/math/xfpoly.h"

#include <new>

namespace {

int64_t termCount(int32_t degree) { return (int64_t{degree} + 1) * (int64_t{degree} + 2) / 2; }

} // namespace

ccPersistent* cc2XformPoly::cmCreate() { return new (std::nothrow) cc2XformPoly; }

cc2XformPoly::cc2XformPoly() : stage_(new cc2XformLinear) {}

cc2XformPoly::cc2XformPoly(int32_t degree, const std::vector<double>& xCoefficients,
                           const std::vector<double>& yCoefficients)
    : degree_(degree)
{
    if (degree < 1)
        throw BadParams();
    const int64_t n = termCount(degree);
    if (static_cast<int64_t>(xCoefficients.size()) != n || static_cast<int64_t>(yCoefficients.size()) != n)
        throw BadParams();
    if (degree == 1) {
        // Terms 1, x, y.
        stage_.reset(new cc2XformLinear(
            cc2Matrix(xCoefficients[1], xCoefficients[2], yCoefficients[1], yCoefficients[2]),
            cc2Vect(xCoefficients[0], yCoefficients[0])));
        return;
    }
    coefficients_ = xCoefficients;
    coefficients_.insert(coefficients_.end(), yCoefficients.begin(), yCoefficients.end());
}

cc2XformPoly::cc2XformPoly(const cc2XformPoly& other)
    : ccPersistent(other), cc2XformBase(other), degree_(other.degree_), coefficients_(other.coefficients_),
      stage_(other.stage_ ? new cc2XformLinear(*other.stage_) : nullptr)
{
}

void cc2XformPoly::composeLinear(const cc2XformLinear& outer)
{
    if (stage_)
        *stage_ = cc2XformLinear(outer.value() * stage_->value());
    else
        stage_.reset(new cc2XformLinear(outer));
}

void cc2XformPoly::evaluate(const cc2Vect& p, cc2Vect& value, cc2Matrix& jacobian) const
{
    const size_t n = static_cast<size_t>(termCount(degree_));
    const double* cx = coefficients_.data();
    const double* cy = cx + n;
    // Powers 0..degree of x and y.
    std::vector<double> xp(static_cast<size_t>(degree_) + 1, 1.0);
    std::vector<double> yp(xp.size(), 1.0);
    for (size_t i = 1; i < xp.size(); ++i) {
        xp[i] = xp[i - 1] * p.x();
        yp[i] = yp[i - 1] * p.y();
    }
    double vx = 0, vy = 0, dxdx = 0, dxdy = 0, dydx = 0, dydy = 0;
    size_t k = 0;
    for (int32_t total = 0; total <= degree_; ++total) {
        for (int32_t j = 0; j <= total; ++j, ++k) {
            const int32_t i = total - j; // x^i y^j
            const double term = xp[static_cast<size_t>(i)] * yp[static_cast<size_t>(j)];
            vx += cx[k] * term;
            vy += cy[k] * term;
            if (i > 0) {
                const double d = i * xp[static_cast<size_t>(i - 1)] * yp[static_cast<size_t>(j)];
                dxdx += cx[k] * d;
                dydx += cy[k] * d;
            }
            if (j > 0) {
                const double d = j * xp[static_cast<size_t>(i)] * yp[static_cast<size_t>(j - 1)];
                dxdy += cx[k] * d;
                dydy += cy[k] * d;
            }
        }
    }
    value = cc2Vect(vx, vy);
    jacobian = cc2Matrix(dxdx, dxdy, dydx, dydy);
}

cc2Vect cc2XformPoly::mapPoint(const cc2Vect& p) const
{
    if (degree_ == 1)
        return stage_->mapPoint(p);
    cc2Vect v;
    cc2Matrix j;
    evaluate(p, v, j);
    return stage_ ? stage_->mapPoint(v) : v;
}

cc2XformLinear cc2XformPoly::linearApprox(const cc2Vect& p) const
{
    if (degree_ == 1)
        return *stage_;
    cc2Vect v;
    cc2Matrix j;
    evaluate(p, v, j);
    // q maps to v + J (q - p).
    const cc2Vect jp = j * p;
    const cc2Xform tangent(j, cc2Vect(v.x() - jp.x(), v.y() - jp.y()));
    return cc2XformLinear(stage_ ? stage_->value() * tangent : tangent);
}

ccPtrHandle<cc2XformBase> cc2XformPoly::inverse() const
{
    if (degree_ != 1)
        throw cc2XformDefs::NotImplemented();
    ccPtrHandle<cc2XformPoly> inv(new cc2XformPoly);
    *inv->stage_ = cc2XformLinear(cc2XformLinear::inverseOf, *stage_);
    return inv;
}

ccPtrHandle<cc2XformBase> cc2XformPoly::clone() const { return ccPtrHandle<cc2XformBase>(new cc2XformPoly(*this)); }

void cc2XformPoly::archive(ccArchive&) { throw cc2XformDefs::NotImplemented(); }

void cc2XformPoly::serializeVersion(ccArchive&, uint8_t) { throw cc2XformDefs::NotImplemented(); }
