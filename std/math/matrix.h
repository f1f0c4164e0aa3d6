// 2x2 and 3x3 matrices of doubles with a cached determinant.
#pragma once
#include "std/math/vector.h"

class ccArchive;

// [a b; c d], held row by row, and its determinant d*a - c*b.
class cc2Matrix {
public:
    // The identity.
    cc2Matrix() = default;
    cc2Matrix(double a, double b, double c, double d) : a_(a), b_(b), c_(c), d_(d), det_(d * a - c * b) {}

    double a() const { return a_; }
    double b() const { return b_; }
    double c() const { return c_; }
    double d() const { return d_; }
    double det() const { return det_; }
    // The elements row by row.
    void get(double& a, double& b, double& c, double& d) const;

    // ccMathError::Singular when the determinant is exactly 0. A NaN
    // determinant inverts to NaN elements without an error.
    cc2Matrix inverse() const;

    cc2Matrix operator*(const cc2Matrix& rhs) const;
    cc2Vect operator*(const cc2Vect& v) const;

    // Version byte 0, a, b, c, d, determinant. The determinant read back is
    // recomputed from the elements, so a damaged archive cannot carry one
    // that disagrees with them.
    void archive(ccArchive& ar);

private:
    double a_ = 1.0;
    double b_ = 0.0;
    double c_ = 0.0;
    double d_ = 1.0;
    double det_ = 1.0;
};

// Nine elements row by row and the determinant, expanded along row 0.
class cc3Matrix {
public:
    // The identity.
    cc3Matrix() = default;

    // row and column 0..2; others raise ccInvariantFailure.
    double element(int row, int column) const;
    void setElement(int row, int column, double value);
    double det() const { return det_; }

    // Version byte 0, the nine elements, determinant (recomputed on load).
    void archive(ccArchive& ar);

private:
    static int index(int row, int column);
    double expand() const;

    double e_[9] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    double det_ = 1.0;
};
