#pragma once
// The suite's image object, as far as a client needs it to read a frame: its
// size, its pel format and its pels. An image owns a copy of its pels and
// never changes after it is made, so any thread may read it.

#include "platform/com/safearray.h"

#include <cstdint>

extern const GUID LIBID_QorImage;
extern const IID IID_IQorImage;

enum QorImagePelFormat : int32_t {
    qorImageGrey8 = 1, // one plane of 8-bit pels
    qorImagePlanar3 = 3, // three 8-bit planes: red, green, blue
};

struct IQorImage : IDispatch {
    virtual HRESULT get_Width(LONG* width) = 0;
    virtual HRESULT get_Height(LONG* height) = 0;
    virtual HRESULT get_PelFormat(LONG* format) = 0;
    // Every pel, row-major without padding, plane after plane: a
    // one-dimensional array of VT_UI1 with lower bound 0.
    virtual HRESULT get_Pels(SAFEARRAY** pels) = 0;
    // The same pels in place, for C++ clients; valid while the image lives.
    virtual const uint8_t* pelData() = 0;
};

namespace plat::com {

// The number of planes of a pel format; 0 for none.
int32_t imagePlaneCount(int32_t pelFormat);

// A new image of width x height pels (each at least 0) in pelFormat, copied
// from rows: height rows of width bytes per plane, the first plane's rows
// first. E_POINTER without image or rows, E_INVALIDARG for a bad size or
// format or more than 2^31 - 1 bytes, E_OUTOFMEMORY.
HRESULT createImage(int32_t width, int32_t height, int32_t pelFormat, const uint8_t* const* rows, IQorImage** image);

} // namespace plat::com
