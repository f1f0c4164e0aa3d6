#include "comframe/comerror.h"
#include "comframe/comutil.h"
#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 0 when the path passes, else the reason's message id.
uint32_t reasonOf(const std::u16string* path, bool allowRelative)
{
    BSTR text = path ? SysAllocStringLen(path->data(), static_cast<UINT>(path->size())) : nullptr;
    uint32_t reason = 0;
    try {
        EXPECT_EQ(ccValidateSpaceName(text, allowRelative), S_OK);
    } catch (const ccCOMError& e) {
        EXPECT_EQ(e.hr(), CC_E_BADSPACENAME);
        reason = e.helpContext(); // the message id, when no help context is given
    }
    SysFreeString(text);
    return reason;
}

TEST(SpaceName, ReasonsInTheirOrder)
{
    struct Case {
        std::u16string path;
        bool allowRelative;
        uint32_t reason;
    };
    const Case cases[] = {
        {u"Cam/Port", false, 0},
        {u"Cam\\Port/", false, 0},
        {u"....", false, 0},
        {u"../Cam", true, 0},
        {u"Kamera \u00e9t\u00e9/Z\u00fcge\U0001F600", false, 0}, // printable whatever the C locale
        {u"", false, kSpaceNameEmpty},
        {u"/Cam", false, kSpaceNameLeadingSeparator},
        {u"\\Cam", true, kSpaceNameLeadingSeparator},
        {u"..", false, kSpaceNameRelative},
        {u".../Cam", false, kSpaceNameRelative},
        {u"Cam//Port", false, kSpaceNameEmptyPart},
        {u" Cam", false, kSpaceNameBlankEdge},
        {u"Cam\x01 /Port", false, kSpaceNameBlankEdge}, // the blank is seen first
        {u"Cam/P\x01rt", false, kSpaceNameNotPrintable},
        {std::u16string(u"Cam\0Port", 8), false, kSpaceNameNotPrintable}, // not cut at the NUL
        {u"Cam\xD800", false, kSpaceNameNotPrintable}, // an unpaired surrogate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(reasonOf(&c.path, c.allowRelative), c.reason);
    }
    EXPECT_EQ(reasonOf(nullptr, true), kSpaceNameEmpty);
}

// An element read as another type than the array holds would put the
// element's bytes under a wrong tag (a number read as an interface is later
// released as one); it is a type mismatch, and out stays empty.
TEST(SafeArrayElement, ReadOnlyAsTheArraysOwnType)
{
    const struct {
        VARTYPE held;
        VARTYPE asked;
        HRESULT hr;
    } cases[] = {
        {VT_I4, VT_I4, S_OK},
        {VT_R8, VT_R8, S_OK},
        {VT_VARIANT, VT_VARIANT, S_OK},
        {VT_I4, VT_DISPATCH, DISP_E_TYPEMISMATCH},
        {VT_VARIANT, VT_I4, DISP_E_TYPEMISMATCH},
        {VT_I4, VT_BSTR, DISP_E_TYPEMISMATCH}, // not a type it reads
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.held << " as " << c.asked);
        const SAFEARRAYBOUND bound{2, 1};
        SAFEARRAY* array = SafeArrayCreate(c.held, 1, &bound);
        ASSERT_NE(array, nullptr);
        void* data = nullptr;
        ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
        if (c.held == VT_VARIANT) {
            auto* element = static_cast<VARIANT*>(data) + 1;
            element->vt = VT_I4;
            element->lVal = 9;
        } else if (c.held == VT_R8) {
            static_cast<double*>(data)[1] = 9.0;
        } else {
            static_cast<int32_t*>(data)[1] = 9;
        }
        ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);
        const LONG second = 2;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(ccSafeArrayGetVariant(array, &second, &out, c.asked), c.hr);
        const VARTYPE read = c.asked == VT_VARIANT ? VARTYPE(VT_I4) : c.asked;
        EXPECT_EQ(out.vt, SUCCEEDED(c.hr) ? read : VARTYPE(VT_EMPTY));
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(out.vt == VT_R8 ? out.dblVal : out.lVal, 9);
            const LONG outside = 3;
            EXPECT_EQ(ccSafeArrayGetVariant(array, &outside, &out, c.asked), DISP_E_BADINDEX);
        }
        EXPECT_EQ(VariantClear(&out), S_OK);
        EXPECT_EQ(ccSafeArrayGetVariant(array, &second, nullptr, c.asked), E_POINTER);
        EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
}

} // namespace
