#include "platform/com/safearray.h"

#include "platform/com/bstr.h"
#include "tests/support/com_counted.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ComSafeArray, BoundsAndElementsFollowColumnMajorOrder)
{
    const SAFEARRAYBOUND bounds[] = {{3, 1}, {2, -1}};
    SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(array, nullptr);
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)), S_OK);
    for (LONG i = 0; i < 6; ++i)
        data[i] = i;
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);

    EXPECT_EQ(SafeArrayGetDim(array), 2u);
    const struct { UINT dim; HRESULT hr; LONG lower, upper; } dims[] = {
        {1, S_OK, 1, 3}, {2, S_OK, -1, 0}, {0, DISP_E_BADINDEX, 0, 0}, {3, DISP_E_BADINDEX, 0, 0}};
    for (const auto& d : dims) {
        LONG lower = 0, upper = 0;
        EXPECT_EQ(SafeArrayGetLBound(array, d.dim, &lower), d.hr);
        EXPECT_EQ(SafeArrayGetUBound(array, d.dim, &upper), d.hr);
        EXPECT_EQ(lower, d.lower);
        EXPECT_EQ(upper, d.upper);
    }
    const struct { LONG first, second; HRESULT hr; LONG value; } elements[] = {
        {1, -1, S_OK, 0}, {2, -1, S_OK, 1}, {1, 0, S_OK, 3}, {3, 0, S_OK, 5},
        {0, 0, DISP_E_BADINDEX, -7}, {4, 0, DISP_E_BADINDEX, -7}, {1, 1, DISP_E_BADINDEX, -7}, {1, -2, DISP_E_BADINDEX, -7}};
    for (const auto& e : elements) {
        const LONG at[] = {e.first, e.second};
        LONG value = -7;
        EXPECT_EQ(SafeArrayGetElement(array, at, &value), e.hr) << e.first << "," << e.second;
        EXPECT_EQ(value, e.value);
    }
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(ComSafeArray, CopiesAndElementReadsOwnWhatTheyHandOut)
{
    CountedDispatch object;
    const SAFEARRAYBOUND bound = {2, 0};
    SAFEARRAY* variants = SafeArrayCreate(VT_VARIANT, 1, &bound);
    SAFEARRAY* texts = SafeArrayCreate(VT_BSTR, 1, &bound);
    VARIANT* items = nullptr;
    BSTR* strings = nullptr;
    ASSERT_EQ(SafeArrayAccessData(variants, reinterpret_cast<void**>(&items)), S_OK);
    ASSERT_EQ(SafeArrayAccessData(texts, reinterpret_cast<void**>(&strings)), S_OK);
    EXPECT_EQ(items[1].vt, VT_EMPTY);
    items[0].vt = VT_DISPATCH;
    items[0].pdispVal = &object;
    object.AddRef();
    strings[1] = SysAllocString(u"two");
    EXPECT_EQ(SafeArrayUnaccessData(variants), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(texts), S_OK);

    SAFEARRAY* copy = nullptr;
    EXPECT_EQ(SafeArrayCopy(variants, &copy), S_OK);
    EXPECT_EQ(object.count, 2u);
    const LONG first = 0, second = 1;
    VARIANT item;
    EXPECT_EQ(SafeArrayGetElement(copy, &first, &item), S_OK);
    EXPECT_EQ(object.count, 3u);
    EXPECT_EQ(VariantClear(&item), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(object.count, 1u);

    EXPECT_EQ(SafeArrayCopy(texts, &copy), S_OK);
    BSTR text = nullptr;
    EXPECT_EQ(SafeArrayGetElement(copy, &second, &text), S_OK);
    EXPECT_NE(text, strings[1]);
    EXPECT_EQ(std::u16string(text), u"two");
    SysFreeString(text);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
    EXPECT_EQ(object.count, 0u);
}

TEST(ComSafeArray, CreationRefusesWhatItCannotHold)
{
    const SAFEARRAYBOUND one = {1, 0}, huge[] = {{0x10000, 0}, {0x10000, 0}}, high = {2, 0x7FFFFFFF};
    EXPECT_EQ(SafeArrayCreate(VT_DATE + 100, 1, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, &high), nullptr);
}

TEST(ComSafeArray, LocksCountAndNullArgumentsAreRefused)
{
    const SAFEARRAYBOUND bound = {2, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_R8, 1, &bound);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetElemsize(array), 8u);
    EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED); // never locked
    EXPECT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED); // one lock is still held
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);

    const LONG at = 0;
    double value = 0;
    VARTYPE vt = VT_EMPTY;
    LONG lower = 0;
    void* data = &value;
    SAFEARRAY* copy = array;
    const HRESULT nulls[] = {
        SafeArrayLock(nullptr), SafeArrayUnlock(nullptr), SafeArrayAccessData(nullptr, &data),
        SafeArrayAccessData(array, nullptr), SafeArrayGetElement(nullptr, &at, &value),
        SafeArrayGetElement(array, nullptr, &value), SafeArrayGetElement(array, &at, nullptr),
        SafeArrayGetLBound(nullptr, 1, &lower), SafeArrayGetUBound(array, 1, nullptr),
        SafeArrayGetVartype(nullptr, &vt), SafeArrayGetVartype(array, nullptr), SafeArrayCopy(array, nullptr),
    };
    for (const HRESULT hr : nulls) EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(data, nullptr); // a refused access hands out no data
    EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK); // a null array copies as null
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(ComSafeArray, EmptyDimensionsAndThreeDimensionsIndexColumnMajor)
{
    const SAFEARRAYBOUND none[] = {{0, 5}, {3, 0}};
    SAFEARRAY* empty = SafeArrayCreate(VT_BSTR, 2, none);
    ASSERT_NE(empty, nullptr);
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
    EXPECT_EQ(upper, 4); // one below the lower bound
    const LONG at[] = {5, 0};
    BSTR text = nullptr;
    EXPECT_EQ(SafeArrayGetElement(empty, at, &text), DISP_E_BADINDEX);
    SAFEARRAY* copy = nullptr;
    EXPECT_EQ(SafeArrayCopy(empty, &copy), S_OK);
    EXPECT_EQ(SafeArrayGetDim(copy), 2u);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(empty), S_OK);

    const SAFEARRAYBOUND bounds[] = {{2, 0}, {3, 10}, {4, -2}};
    SAFEARRAY* cube = SafeArrayCreate(VT_I2, 3, bounds);
    ASSERT_NE(cube, nullptr);
    SHORT* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(cube, reinterpret_cast<void**>(&data)), S_OK);
    for (SHORT i = 0; i < 24; ++i) data[i] = i;
    EXPECT_EQ(SafeArrayUnaccessData(cube), S_OK);
    const struct { LONG i, j, k; HRESULT hr; SHORT value; } cases[] = {
        {0, 10, -2, S_OK, 0}, {0, 11, -2, S_OK, 2}, {0, 10, -1, S_OK, 6}, {1, 12, 1, S_OK, 23},
        {2, 10, -2, DISP_E_BADINDEX, -1}, {0, 13, -2, DISP_E_BADINDEX, -1}, {0, 10, 2, DISP_E_BADINDEX, -1},
    };
    for (const auto& c : cases) {
        const LONG where[] = {c.i, c.j, c.k};
        SHORT value = -1;
        EXPECT_EQ(SafeArrayGetElement(cube, where, &value), c.hr) << c.i << "," << c.j << "," << c.k;
        EXPECT_EQ(value, c.value);
    }
    EXPECT_EQ(SafeArrayDestroy(cube), S_OK);
}

} // namespace
