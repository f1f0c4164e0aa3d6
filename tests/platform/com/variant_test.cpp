#include "platform/com/variant.h"

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/environment.h"
#include "platform/environment_testing.h"
#include "tests/support/com_counted.h"
#include "tests/support/test_typelib.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace {

VARIANT make(VARTYPE vt, double number)
{
    VARIANT v = {};
    v.vt = vt;
    switch (vt) {
    case VT_UI1: v.bVal = BYTE(number); break;
    case VT_I2: v.iVal = SHORT(number); break;
    case VT_I4: v.lVal = LONG(number); break;
    case VT_ERROR: v.scode = SCODE(number); break;
    case VT_R4: v.fltVal = float(number); break;
    case VT_R8: v.dblVal = number; break;
    case VT_BOOL: v.boolVal = number ? VARIANT_TRUE : VARIANT_FALSE; break;
    default: break;
    }
    return v;
}

double numberOf(const VARIANT& v)
{
    switch (v.vt) {
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_ERROR: return v.scode;
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal;
    default: return 0;
    }
}

TEST(ComVariant, CopyOntoItselfKeepsTheValueAndCopiesAreDeep)
{
    VARIANT v = testText(u"kept");
    const BSTR before = v.bstrVal;
    EXPECT_EQ(VariantCopy(&v, &v), S_OK);
    EXPECT_EQ(v.bstrVal, before);
    EXPECT_EQ(std::u16string(v.bstrVal), u"kept");

    VARIANT copy = make(VT_I4, 1);
    EXPECT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.bstrVal, v.bstrVal);
    EXPECT_EQ(std::u16string(copy.bstrVal), u"kept");
    EXPECT_EQ(VariantClear(&v), S_OK);

    CountedDispatch object;
    VARIANT held = {};
    held.vt = VT_DISPATCH, held.pdispVal = &object;
    EXPECT_EQ(VariantCopy(&copy, &held), S_OK); // frees the text copy
    EXPECT_EQ(object.count, 1u);
    // Through a reference to a reference-holding VARIANT.
    VARIANT ref = testRef(VT_VARIANT, &copy), deref = {};
    EXPECT_EQ(VariantCopyInd(&deref, &ref), S_OK);
    EXPECT_EQ(deref.vt, VT_DISPATCH);
    EXPECT_EQ(object.count, 2u);
    EXPECT_EQ(VariantClear(&deref), S_OK);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(object.count, 0u);

    VARIANT bad = {};
    bad.vt = 0x0FFF;
    EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(ComVariant, ChangeTypeConvertsRoundsAndRefusesOverflowAndMismatch)
{
    const struct { VARIANT src; VARTYPE vt; HRESULT hr; double number; const char16_t* text; USHORT flags = 0; } cases[] = {
        {make(VT_R8, 2.5), VT_I4, S_OK, 2, nullptr}, // half to even
        {make(VT_R8, 3.5), VT_I2, S_OK, 4, nullptr},
        {make(VT_R8, 40000), VT_I2, DISP_E_OVERFLOW, 0, nullptr},
        {make(VT_I4, -1), VT_UI1, DISP_E_OVERFLOW, 0, nullptr},
        {make(VT_R8, 1e300), VT_R4, DISP_E_OVERFLOW, 0, nullptr},
        {make(VT_I4, 7), VT_BOOL, S_OK, VARIANT_TRUE, nullptr},
        {make(VT_BOOL, 1), VT_UI1, S_OK, 255, nullptr},
        {make(VT_BOOL, 1), VT_I4, S_OK, -1, nullptr},
        {make(VT_EMPTY, 0), VT_R8, S_OK, 0, nullptr},
        {make(VT_ERROR, 5), VT_I4, S_OK, 5, nullptr},
        {make(VT_I4, 5), VT_ERROR, S_OK, 5, nullptr},
        {make(VT_R8, 1), VT_ERROR, DISP_E_TYPEMISMATCH, 0, nullptr},
        {make(VT_NULL, 0), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {make(VT_I4, 3), VT_DATE, DISP_E_TYPEMISMATCH, 0, nullptr},
        {testText(u" -12 "), VT_I4, S_OK, -12, nullptr},
        {testText(u"+7"), VT_I4, S_OK, 7, nullptr},
        {testText(u"+-7"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr}, // two signs are no number
        {testText(u"+"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {testText(u"7 7"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {testText(u"1.5e1"), VT_R8, S_OK, 15, nullptr},
        {testText(u"TRUE"), VT_BOOL, S_OK, VARIANT_TRUE, nullptr},
        {testText(u""), VT_R8, DISP_E_TYPEMISMATCH, 0, nullptr},
        {testText(u"1e999"), VT_R8, DISP_E_OVERFLOW, 0, nullptr},
        {make(VT_R8, 1.5), VT_BSTR, S_OK, 0, u"1.5"},
        {make(VT_R4, 0.1f), VT_BSTR, S_OK, 0, u"0.1"},
        {make(VT_I2, -3), VT_BSTR, S_OK, 0, u"-3"},
        {make(VT_BOOL, 1), VT_BSTR, S_OK, 0, u"-1"},
        {make(VT_EMPTY, 0), VT_BSTR, S_OK, 0, u""},
        {make(VT_BOOL, 1), VT_BSTR, S_OK, 0, u"True", VARIANT_ALPHABOOL},
        {make(VT_BOOL, 0), VT_BSTR, S_OK, 0, u"False", VARIANT_ALPHABOOL},
        {testText(u"false"), VT_I4, S_OK, 0, nullptr},
        {make(VT_R8, 0.5), VT_R4, S_OK, 0.5, nullptr},
        {make(VT_NULL, 0), VT_BSTR, DISP_E_TYPEMISMATCH, 0, nullptr},
        {make(VT_DATE, 0), VT_R8, DISP_E_TYPEMISMATCH, 0, nullptr},
    };
    plat::setUserLanguageOverride(plat::kLanguageUsEnglish);
    for (const auto& c : cases) {
        VARIANT src = c.src;
        VARIANT dst = {};
        EXPECT_EQ(VariantChangeType(&dst, &src, c.flags, c.vt), c.hr) << "row " << &c - cases;
        if (c.hr == S_OK && c.text) {
            EXPECT_EQ(std::u16string(dst.bstrVal), c.text);
        } else if (c.hr == S_OK) {
            EXPECT_EQ(numberOf(dst), c.number) << "row " << &c - cases;
        }
        EXPECT_EQ(dst.vt, c.hr == S_OK ? c.vt : VARTYPE(VT_EMPTY));
        EXPECT_EQ(VariantClear(&dst), S_OK);
        EXPECT_EQ(VariantClear(&src), S_OK);
    }
    plat::setUserLanguageOverride(0);
}

TEST(ComVariant, ChangeTypeInPlaceUsesTheUserDecimalSeparator)
{
    plat::setUserLanguageOverride(0x0407); // German
    VARIANT v = testText(u"1,5");
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
    EXPECT_EQ(v.dblVal, 1.5);
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(v.bstrVal), u"1,5");
    EXPECT_EQ(VariantClear(&v), S_OK);
    VARIANT point = testText(u"1.5");
    EXPECT_EQ(VariantChangeType(&point, &point, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantClear(&point), S_OK);
    plat::setUserLanguageOverride(0);
}

TEST(ComVariant, ObjectsConvertByQueryAndByTheirValueProperty)
{
    CountedDispatch object;
    object.value = make(VT_I2, 42);
    VARIANT v = {};
    v.vt = VT_DISPATCH, v.pdispVal = &object;
    VARIANT unknown = {};
    EXPECT_EQ(VariantChangeType(&unknown, &v, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object.count, 1u);
    VARIANT number = {};
    EXPECT_EQ(VariantChangeType(&number, &v, 0, VT_R8), S_OK);
    EXPECT_EQ(number.dblVal, 42);
    EXPECT_EQ(VariantChangeType(&number, &unknown, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantClear(&unknown), S_OK);
    object.value = testText(u"no number"); // a value property that does not convert
    EXPECT_EQ(VariantChangeType(&number, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantClear(&object.value), S_OK);
    EXPECT_EQ(object.count, 0u);
}

TEST(ComVariant, CompareOrdersNumbersAndTextAndKnowsNull)
{
    const struct { VARIANT a, b; HRESULT result; } cases[] = {
        {make(VT_I4, 1), make(VT_R8, 1.0), VARCMP_EQ},
        {make(VT_I2, 2), make(VT_I4, 3), VARCMP_LT},
        {make(VT_R4, 2.5f), make(VT_UI1, 2), VARCMP_GT},
        {make(VT_BOOL, 1), make(VT_I4, -1), VARCMP_EQ},
        {testText(u"b"), testText(u"a"), VARCMP_GT},
        {testText(u"a"), testText(u"ab"), VARCMP_LT},
        {testText(u""), make(VT_EMPTY, 0), VARCMP_EQ},
        {testText(u"1"), make(VT_I4, 1), VARCMP_GT},
        {make(VT_NULL, 0), make(VT_I4, 1), VARCMP_NULL},
        {make(VT_ERROR, 1), make(VT_I4, 1), DISP_E_TYPEMISMATCH},
        // A NaN equals no number, itself included.
        {make(VT_R8, NAN), make(VT_R8, 5), VARCMP_GT},
        {make(VT_I4, 5), make(VT_R8, NAN), VARCMP_LT},
        {make(VT_R8, NAN), make(VT_R8, NAN), VARCMP_GT},
        {make(VT_R4, NAN), make(VT_EMPTY, 0), VARCMP_GT},
        {make(VT_EMPTY, 0), testText(u"a"), VARCMP_LT},
        {make(VT_I4, 1), testText(u"1"), VARCMP_LT},
    };
    for (const auto& c : cases) {
        VARIANT a = c.a, b = c.b;
        EXPECT_EQ(VarCmp(&a, &b, LOCALE_USER_DEFAULT, 0), c.result) << a.vt << " " << b.vt;
        EXPECT_EQ(VariantClear(&a), S_OK);
        EXPECT_EQ(VariantClear(&b), S_OK);
    }
    BSTR lower = SysAllocString(u"key"), upper = SysAllocString(u"KEY"), empty = SysAllocString(u"");
    EXPECT_EQ(VarBstrCmp(lower, upper, LOCALE_USER_DEFAULT, 0), VARCMP_GT);
    EXPECT_EQ(VarBstrCmp(lower, upper, LOCALE_USER_DEFAULT, NORM_IGNORECASE), VARCMP_EQ);
    EXPECT_EQ(VarBstrCmp(nullptr, empty, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    for (BSTR b : {empty, lower, upper}) SysFreeString(b);
}

TEST(ComVariant, CopyIndReadsEachByReferenceTypeAndRefusesBadReferences)
{
    BYTE ui1 = 200;
    SHORT i2 = -300;
    LONG i4 = -70000;
    SCODE error = DISP_E_PARAMNOTFOUND;
    float r4 = 1.25f;
    double r8 = -2.5, date = 45000.5;
    VARIANT_BOOL flag = VARIANT_TRUE;
    struct Case { VARTYPE vt; void* at; double number; };
    const Case cases[] = {
        {VT_UI1, &ui1, 200}, {VT_I2, &i2, -300}, {VT_I4, &i4, -70000}, {VT_ERROR, &error, double(DISP_E_PARAMNOTFOUND)},
        {VT_R4, &r4, 1.25}, {VT_R8, &r8, -2.5}, {VT_DATE, &date, 45000.5}, {VT_BOOL, &flag, VARIANT_TRUE},
    };
    for (const auto& c : cases) {
        VARIANT ref = testRef(c.vt, c.at), value = {};
        ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK) << c.vt;
        EXPECT_EQ(value.vt, c.vt);
        EXPECT_EQ(numberOf(value), c.number) << c.vt;
    }
    // Text and arrays behind a reference are copied, objects counted again.
    BSTR held = SysAllocString(u"held");
    VARIANT ref = testRef(VT_BSTR, &held), value = {};
    ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
    EXPECT_NE(value.bstrVal, held);
    EXPECT_EQ(std::u16string(value.bstrVal), u"held");
    EXPECT_EQ(VariantClear(&value), S_OK);
    SysFreeString(held);
    SAFEARRAY* array = testDoubles(1);
    ref = testRef(VT_ARRAY | VT_R8, &array);
    ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
    EXPECT_NE(value.parray, array);
    EXPECT_EQ(static_cast<double*>(value.parray->pvData)[2], 4.5);
    EXPECT_EQ(VariantClear(&value), S_OK);
    SafeArrayDestroy(array);
    CountedDispatch object;
    IUnknown* unknown = &object;
    ref = testRef(VT_UNKNOWN, &unknown);
    ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
    EXPECT_EQ(value.punkVal, unknown);
    EXPECT_EQ(object.count, 1u);
    EXPECT_EQ(VariantClear(&value), S_OK);
    EXPECT_EQ(object.count, 0u);

    // In place: the reference becomes the value.
    ref = testRef(VT_I4, &i4);
    ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
    EXPECT_EQ(ref.vt, VT_I4);
    EXPECT_EQ(ref.lVal, -70000);
}

TEST(ComVariant, ALockedArrayIsNeitherClearedNorReplaced)
{
    const SAFEARRAYBOUND bound = {2, 0};
    VARIANT v = {};
    v.vt = VT_ARRAY | VT_I4;
    v.parray = SafeArrayCreate(VT_I4, 1, &bound);
    ASSERT_NE(v.parray, nullptr);
    ASSERT_EQ(SafeArrayLock(v.parray), S_OK);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
    VARIANT other = make(VT_I2, 1);
    EXPECT_EQ(VariantCopy(&v, &other), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(VariantChangeType(&v, &other, 0, VT_I4), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
    ASSERT_EQ(SafeArrayUnlock(v.parray), S_OK);

    // A copy of an array is a new array; arrays convert to nothing else.
    VARIANT copy = {};
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.parray, v.parray);
    VARIANT number = {};
    EXPECT_EQ(VariantChangeType(&number, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&number, &other, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&number, &other, 0, VT_NULL), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&number, &v, 0, VT_EMPTY), S_OK);
    EXPECT_EQ(number.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(ComVariant, CopyIndRefusesAReferenceToNothingOrToABadValue)
{
    VARIANT inner = testRef(VT_VARIANT, nullptr);
    VARIANT bad = {};
    bad.vt = 0x0FFF;
    VARIANT byrefEmpty = testRef(VT_EMPTY, nullptr);
    const struct { VARTYPE vt; void* at; HRESULT hr; } cases[] = {
        {VT_I4, nullptr, E_INVALIDARG},
        {VT_VARIANT, nullptr, E_INVALIDARG},
        {VT_VARIANT, &inner, E_INVALIDARG}, // a reference to a reference
        {VT_VARIANT, &bad, DISP_E_BADVARTYPE},
        {VT_VARIANT, &byrefEmpty, DISP_E_BADVARTYPE},
        {VT_EMPTY, &bad, DISP_E_BADVARTYPE},
    };
    for (const auto& c : cases) {
        VARIANT ref = testRef(c.vt, c.at), value = make(VT_I4, 9); // value left as it was
        EXPECT_EQ(VariantCopyInd(&value, &ref), c.hr) << c.vt;
        EXPECT_EQ(value.vt, VT_I4);
        EXPECT_EQ(value.lVal, 9);
    }
}

} // namespace
