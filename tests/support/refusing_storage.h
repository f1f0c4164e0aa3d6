// An image storage whose release fails, for the paths that must let go of it
// all the same.
#pragma once
#include <cstdint>

#include "kernels/cip_image.h"

namespace refusing_storage {

// Attaches storage over 8 x 4 static one-byte pels (a 4 x 4 window at stride
// 8); dropping its last reference reports csysErrFail.
[[nodiscard]] inline csysStatus attach(cip_ImageStorage& storage)
{
    static const csys_recordFunctions refusing = {&cip_imageStorageDestroy, &csys_defaultAddReference,
                                                  [](int32_t*, int32_t*, void*, int32_t) { return csysErrFail; }};
    static const csys_typeDescription type = {0, nullptr, &refusing};
    alignas(8) static unsigned char pels[8 * 4];
    return cip_imageStorageAttach(&storage, &type, 1, pels, 4, 4, 8, 8);
}

} // namespace refusing_storage
