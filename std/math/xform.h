// A linear (affine) 2-D transform value: p maps to M p + offset.
#pragma once
#include "std/math/matrix.h"
#include "std/math/vector.h"

class ccArchive;

class cc2Xform {
public:
    // The identity.
    cc2Xform() = default;
    cc2Xform(const cc2Matrix& matrix, const cc2Vect& offset) : offset_(offset), matrix_(matrix) {}

    const cc2Vect& offset() const { return offset_; }
    const cc2Matrix& matrix() const { return matrix_; }
    void get(double& tx, double& ty, double& a, double& b, double& c, double& d) const;

    cc2Vect mapPoint(const cc2Vect& p) const;
    // This transform applied after other.
    cc2Xform operator*(const cc2Xform& other) const;
    // Exactly offset (0, 0) and matrix [1 0; 0 1].
    bool isIdentity() const;

    // Version byte 0, offset, matrix, then 1 for the exact identity, else 0
    // (read back and ignored).
    void archive(ccArchive& ar);

private:
    cc2Vect offset_;
    cc2Matrix matrix_;
};
