// Polynomial 2-D transforms, as far as composing one with a linear
// transform needs them.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "std/math/xfbase.h"
#include "std/math/xflinear.h"

class cc2XformPoly : public cc2XformBase {
public:
    // Codes taken from the transform block until the geometry engine's own.
    cmDeclareException(BadParams, ccException, 0x10000F20u, "class cc2XformPoly::BadParams");
    cmDeclareException(IllDefined, ccException, 0x10000F21u, "class cc2XformPoly::IllDefined");

    static constexpr const char* kStoredName = "class cc2XformPoly";
    // The registry's factory: the degree-1 identity, or null.
    static ccPersistent* cmCreate();

    // Degree 1, the identity.
    cc2XformPoly();
    // x' and y' as polynomials of total degree `degree` (1 or more), one
    // coefficient per term, terms by rising total degree and then by
    // falling power of x: 1, x, y, x^2, xy, y^2, x^3, ... Degree below 1 or
    // a wrong coefficient count raises BadParams.
    cc2XformPoly(int32_t degree, const std::vector<double>& xCoefficients, const std::vector<double>& yCoefficients);
    cc2XformPoly(const cc2XformPoly& other);
    cc2XformPoly& operator=(const cc2XformPoly&) = delete;

    int32_t degree() const { return degree_; }

    // Makes this transform `outer` applied after it: at degree 1 by folding
    // outer into the single linear stage, else into the output stage (which
    // outer becomes when there is none).
    void composeLinear(const cc2XformLinear& outer);

    cc2Vect mapPoint(const cc2Vect& p) const override;
    // Only degree 1 is linear.
    bool isLinear() const override { return degree_ == 1; }
    // The tangent transform at p.
    cc2XformLinear linearApprox(const cc2Vect& p) const override;
    // Degree 1 only; higher degrees have no closed-form inverse and raise
    // cc2XformDefs::NotImplemented.
    ccPtrHandle<cc2XformBase> inverse() const override;
    ccPtrHandle<cc2XformBase> clone() const override;

    // The stored form belongs to the geometry engine: raises
    // cc2XformDefs::NotImplemented.
    void archive(ccArchive& ar) override;
    void serializeVersion(ccArchive& ar, uint8_t version) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    // x' and y' before any output stage, with the partial derivatives.
    void evaluate(const cc2Vect& p, cc2Vect& value, cc2Matrix& jacobian) const;

    int32_t degree_ = 1;
    // The x' terms, then the y' terms; empty at degree 1.
    std::vector<double> coefficients_;
    // Degree 1: the whole transform. Higher: the output stage, or null.
    std::unique_ptr<cc2XformLinear> stage_;
};
