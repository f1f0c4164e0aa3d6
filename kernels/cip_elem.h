// Element types of the kernel layer's growable arrays, and the small array
// front ends that the kernels and the numeric engine call for scratch
// buffers.
//
// Each element type is a row of the system layer (csys_elemType). Rows
// declared as arrays are separate types with the same functions, so that
// code comparing types by address keeps telling them apart. The nested-array
// rows make each new element an empty csys_array with the default allocator;
// the allocator passed to an init function is not used.
#pragma once
#include <cstdint>

#include "numeric/cip_geometry.h"
#include "system/csys_array.h"
#include "system/csys_status.h"

// Plain element kinds.
extern const csys_elemType cip_elemZero16;      // 16 bytes, filled with 0
extern const csys_elemType cip_elemAffine;      // cip_Affine2, the identity
extern const csys_elemType cip_elemAffineB;     // the second affine kind, same layout
extern const csys_elemType cip_elemXformRef[2]; // one csys_handle to a cip_Xform, empty
extern const csys_elemType cip_elemRange;       // cip_Range, unset
extern const csys_elemType cip_elemAngleRange;  // cip_AngleRange, unset

// Elements that are csys_array records (copy, assign and destroy are the
// array operations below).
extern const csys_elemType cip_elemArray1[2];        // of 1-byte plain elements
extern const csys_elemType cip_elemArray2[2];        // of 2-byte plain elements
extern const csys_elemType cip_elemArray4[5];        // of 4-byte plain elements
extern const csys_elemType cip_elemArray8[2];        // of 8-byte plain elements
extern const csys_elemType cip_elemArray16;          // of 16-byte plain elements
extern const csys_elemType cip_elemArrayZero16;      // of cip_elemZero16 elements
extern const csys_elemType cip_elemArrayAffine;      // of cip_elemAffine elements
extern const csys_elemType cip_elemArrayAffineB;     // of cip_elemAffineB elements
extern const csys_elemType cip_elemArrayOfArrays4;   // of cip_elemArray4[0] elements

// count plain elements of 1 (8) bytes, without element type; the count is
// given as its low and high 32-bit words.
[[nodiscard]] csysStatus cip_arrayCreate1Byte(csys_array* array, uint32_t countLow, int32_t countHigh);
[[nodiscard]] csysStatus cip_arrayCreate8Byte(csys_array* array, uint32_t countLow, int32_t countHigh);

// The first element and the end of the elements (csys_arrayGetData).
[[nodiscard]] csysStatus cip_arrayQuery(const csys_array* array, void** data, void** end);
[[nodiscard]] csysStatus cip_arrayGetData(const csys_array* array, void** data);

// The array operations of nested-array elements: csys_arrayCreateCopy,
// csys_arrayAssign and csys_arrayFree, statuses unchanged.
[[nodiscard]] csysStatus cip_elemArrayCopy(csys_array* destination, const csys_array* source);
[[nodiscard]] csysStatus cip_elemArrayAssign(csys_array* destination, const csys_array* source);
[[nodiscard]] csysStatus cip_elemArrayDestroy(csys_array* array);
