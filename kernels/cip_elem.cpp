#include "kernels/cip_elem.h"

namespace {

csys_array* asArray(void* element) { return static_cast<csys_array*>(element); }
const csys_array* asArray(const void* element) { return static_cast<const csys_array*>(element); }
csys_handle* asRef(void* element) { return static_cast<csys_handle*>(element); }
const csys_handle* asRef(const void* element) { return static_cast<const csys_handle*>(element); }

csysStatus initAffine(void* e, const csys_allocator*) { return cip_affineSetIdentity(static_cast<cip_Affine2*>(e)); }
csysStatus initRange(void* e, const csys_allocator*) { return cip_rangeInitUnset(static_cast<cip_Range*>(e)); }
csysStatus initAngleRange(void* e, const csys_allocator*)
{
    return cip_angleRangeInitUnset(static_cast<cip_AngleRange*>(e));
}

csysStatus initRef(void* e, const csys_allocator*) { return cip_xformRefInit(asRef(e)); }
csysStatus copyRef(void* d, const void* s) { return csys_handleInitCopy(asRef(d), asRef(s)); }
csysStatus assignRef(void* d, const void* s) { return csys_handleCopy(asRef(d), asRef(s)); }
csysStatus destroyRef(void* e) { return csys_handleRelease(asRef(e)); }

csysStatus copyArray(void* d, const void* s) { return cip_elemArrayCopy(asArray(d), asArray(s)); }
csysStatus assignArray(void* d, const void* s) { return cip_elemArrayAssign(asArray(d), asArray(s)); }
csysStatus destroyArray(void* e) { return cip_elemArrayDestroy(asArray(e)); }

// The init of a nested-array row: an empty array of Size-byte elements of
// the given kind.
template <int Size, const csys_elemType* Kind>
csysStatus initArray(void* e, const csys_allocator*)
{
    return csys_arrayCreate(asArray(e), 0, Size, Kind);
}

template <int Size, const csys_elemType* Kind = nullptr>
constexpr csys_elemType arrayRow()
{
    return {&initArray<Size, Kind>, &copyArray, &assignArray, &destroyArray, -1};
}

// An array element cannot name a row through a template argument.
csysStatus initArrayOfArrays4(void* e, const csys_allocator*)
{
    return csys_arrayCreate(asArray(e), 0, sizeof(csys_array), &cip_elemArray4[0]);
}

constexpr csys_elemType kRefRow = {&initRef, &copyRef, &assignRef, &destroyRef, -1};

int64_t count64(uint32_t low, int32_t high)
{
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
}

} // namespace

const csys_elemType cip_elemZero16 = {nullptr, nullptr, nullptr, nullptr, 0};
const csys_elemType cip_elemAffine = {&initAffine, nullptr, nullptr, nullptr, -1};
const csys_elemType cip_elemAffineB = {&initAffine, nullptr, nullptr, nullptr, -1};
const csys_elemType cip_elemXformRef[2] = {kRefRow, kRefRow};
const csys_elemType cip_elemRange = {&initRange, nullptr, nullptr, nullptr, -1};
const csys_elemType cip_elemAngleRange = {&initAngleRange, nullptr, nullptr, nullptr, -1};

const csys_elemType cip_elemArray1[2] = {arrayRow<1>(), arrayRow<1>()};
const csys_elemType cip_elemArray2[2] = {arrayRow<2>(), arrayRow<2>()};
const csys_elemType cip_elemArray4[5] = {arrayRow<4>(), arrayRow<4>(), arrayRow<4>(), arrayRow<4>(), arrayRow<4>()};
const csys_elemType cip_elemArray8[2] = {arrayRow<8>(), arrayRow<8>()};
const csys_elemType cip_elemArray16 = arrayRow<16>();
const csys_elemType cip_elemArrayZero16 = arrayRow<16, &cip_elemZero16>();
const csys_elemType cip_elemArrayAffine = arrayRow<sizeof(cip_Affine2), &cip_elemAffine>();
const csys_elemType cip_elemArrayAffineB = arrayRow<sizeof(cip_Affine2), &cip_elemAffineB>();
const csys_elemType cip_elemArrayOfArrays4 = {&initArrayOfArrays4, &copyArray, &assignArray, &destroyArray, -1};

csysStatus cip_arrayCreate1Byte(csys_array* array, uint32_t countLow, int32_t countHigh)
{
    return csys_arrayCreate(array, count64(countLow, countHigh), 1, nullptr);
}

csysStatus cip_arrayCreate8Byte(csys_array* array, uint32_t countLow, int32_t countHigh)
{
    return csys_arrayCreate(array, count64(countLow, countHigh), 8, nullptr);
}

csysStatus cip_arrayQuery(const csys_array* array, void** data, void** end)
{
    return csys_arrayGetData(array, data, end);
}

csysStatus cip_arrayGetData(const csys_array* array, void** data) { return csys_arrayGetData(array, data, nullptr); }

csysStatus cip_elemArrayCopy(csys_array* destination, const csys_array* source)
{
    return csys_arrayCreateCopy(destination, source);
}

csysStatus cip_elemArrayAssign(csys_array* destination, const csys_array* source)
{
    return csys_arrayAssign(destination, source);
}

csysStatus cip_elemArrayDestroy(csys_array* array) { return csys_arrayFree(array); }
