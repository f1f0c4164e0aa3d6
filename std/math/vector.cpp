#include "std/math/vector.h"

#include "std/except/archive.h"
#include "std/except/persist.h"

void cc2Vect::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/math/vector", 60);
    cc2Vect v = *this; // a short stream leaves the vector as it was
    ar.archive(v.x_).archive(v.y_);
    if (ar.isLoading())
        *this = v;
}

void cc3Vect::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/math/vector", 118);
    cc3Vect v = *this;
    ar.archive(v.x_).archive(v.y_).archive(v.z_);
    if (ar.isLoading())
        *this = v;
}
