// Plain 2-D and 3-D vectors of doubles.
#pragma once

class ccArchive;

class cc2Vect {
public:
    cc2Vect() = default;
    cc2Vect(double x, double y) : x_(x), y_(y) {}

    double x() const { return x_; }
    double y() const { return y_; }

    // Version byte 0, x, y.
    void archive(ccArchive& ar);

private:
    double x_ = 0.0;
    double y_ = 0.0;
};

class cc3Vect {
public:
    cc3Vect() = default;
    cc3Vect(double x, double y, double z) : x_(x), y_(y), z_(z) {}

    double x() const { return x_; }
    double y() const { return y_; }
    double z() const { return z_; }

    // Version byte 0, x, y, z.
    void archive(ccArchive& ar);

private:
    double x_ = 0.0;
    double y_ = 0.0;
    double z_ = 0.0;
};
