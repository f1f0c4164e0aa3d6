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

} // namespace
