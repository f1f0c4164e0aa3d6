#include "comframe/comerror.h"
#include "comframe/comutil.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/message.h"

#include <gtest/gtest.h>

#include <cstring>
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
        EXPECT_EQ(e.capture(), 0u);
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
        {u"Cam\\Port", false, 0},
        {u"Cam/", false, 0},
        {u"....", false, 0},
        {u"../Cam", true, 0},
        {u"Kamera \u00e9t\u00e9/Z\u00fcge", false, 0}, // printable whatever the C locale
        {u"Cam\U0001F600", false, 0}, // a surrogate pair
        {u"", false, kSpaceNameEmpty},
        {u"/Cam", false, kSpaceNameLeadingSeparator},
        {u"\\Cam", true, kSpaceNameLeadingSeparator},
        {u"..", false, kSpaceNameRelative},
        {u"./Cam", false, kSpaceNameRelative},
        {u".../Cam", false, kSpaceNameRelative},
        {u"Cam//Port", false, kSpaceNameEmptyPart},
        {u"Cam//", false, kSpaceNameEmptyPart},
        {u" Cam", false, kSpaceNameBlankEdge},
        {u"Cam/Port ", false, kSpaceNameBlankEdge},
        {u"Cam\x01 /Port", false, kSpaceNameBlankEdge}, // the blank is seen first
        {u"Cam/P\x01rt", false, kSpaceNameNotPrintable},
        {std::u16string(u"Cam\0Port", 8), false, kSpaceNameNotPrintable}, // not cut at the NUL
        {u"Cam\xD800", false, kSpaceNameNotPrintable}, // an unpaired surrogate
        {u"Cam\x9F", false, kSpaceNameNotPrintable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(reasonOf(&c.path, c.allowRelative), c.reason);
    }
    EXPECT_EQ(reasonOf(nullptr, true), kSpaceNameEmpty);
}

// A target whose procedure counts its messages, posts itself another while
// asked to keep a stream going, and signals a handle at a given count.
struct Pumped {
    static LRESULT procedure(HWND window, UINT, WPARAM, LPARAM)
    {
        auto* self = reinterpret_cast<Pumped*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        ++self->seen;
        if (self->seen == self->signalAt) (void)plat::setEvent(self->event);
        if (self->stream) (void)PostMessage(window, WM_USER + 1, 0, 0);
        return 0;
    }
    int seen = 0;
    int signalAt = 0;
    bool stream = false;
    plat::Handle event = nullptr;
};

TEST(PumpingWait, OnAnApartmentThread)
{
    struct Case {
        const char* name;
        int posted;
        int signalAt; // 0: never
        bool stream;
        HRESULT result;
        int minimumSeen;
    };
    const Case cases[] = {
        {"signalled by a dispatched message", 3, 3, false, S_OK, 3},
        {"a steady stream still times out", 1, 0, true, RPC_S_CALLPENDING, 2},
        {"nothing comes", 0, 0, false, RPC_S_CALLPENDING, 0},
    };
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pumped pumped{0, c.signalAt, c.stream, plat::createEvent(true, false)};
        HWND target = CreateWindowExW(0, L"", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(target, nullptr);
        SetWindowLongPtrW(target, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&pumped));
        SetWindowLongPtrW(target, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Pumped::procedure));
        for (int i = 0; i < c.posted; ++i)
            ASSERT_TRUE(PostMessage(target, WM_USER + 1, 0, 0));
        DWORD index = 77;
        EXPECT_EQ(ccPumpingWait(0, c.signalAt ? INFINITE : 30, 1, &pumped.event, &index), c.result);
        EXPECT_GE(pumped.seen, c.minimumSeen);
        if (c.result == S_OK) {
            EXPECT_EQ(index, 0u);
        }
        pumped.stream = false;
        DestroyWindow(target);
        plat::closeHandle(pumped.event);
    }
    CoUninitialize();
}

TEST(PumpingWait, FailedWaitIsNoSuccess)
{
    const plat::Handle none = nullptr;
    const plat::Handle signalled = plat::createEvent(true, true);
    DWORD index = 0;
    EXPECT_EQ(ccPumpingWait(0, 10, 1, &none, &index), E_INVALIDARG); // outside an apartment
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(ccPumpingWait(0, 10, 1, &none, &index), E_INVALIDARG);
    EXPECT_EQ(ccPumpingWait(0, 10, 1, &signalled, &index), S_OK);
    CoUninitialize();
    plat::closeHandle(signalled);
}

TEST(SafeArrayGetVariant, ByElementType)
{
    struct Case {
        VARTYPE type;
        VARIANT stored;
        HRESULT result;
    };
    VARIANT i2{}, i4{}, r8{}, b{}, text{};
    i2.vt = VT_I2, i2.iVal = -7;
    i4.vt = VT_I4, i4.lVal = 123456;
    r8.vt = VT_R8, r8.dblVal = 2.5;
    b.vt = VT_BOOL, b.boolVal = VARIANT_TRUE;
    text.vt = VT_BSTR, text.bstrVal = SysAllocString(u"x");
    const Case cases[] = {
        {VT_I2, i2, S_OK},
        {VT_I4, i4, S_OK},
        {VT_R8, r8, S_OK},
        {VT_BOOL, b, S_OK},
        {VT_VARIANT, text, S_OK},
        {VT_BSTR, text, DISP_E_TYPEMISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const SAFEARRAYBOUND bound{2, 0};
        SAFEARRAY* array = SafeArrayCreate(c.type, 1, &bound);
        ASSERT_NE(array, nullptr);
        const LONG at = 1;
        void* data = nullptr;
        ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
        if (c.type == VT_VARIANT)
            ASSERT_EQ(VariantCopy(static_cast<VARIANT*>(data) + at, &c.stored), S_OK);
        else if (c.type == VT_BSTR)
            static_cast<BSTR*>(data)[at] = SysAllocString(c.stored.bstrVal);
        else
            std::memcpy(static_cast<char*>(data) + at * SafeArrayGetElemsize(array), &c.stored.llVal,
                        SafeArrayGetElemsize(array));
        ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);
        VARIANT out;
        VariantInit(&out);
        ASSERT_EQ(ccSafeArrayGetVariant(array, &at, &out, c.type), c.result);
        if (c.result == S_OK) EXPECT_EQ(VarCmp(&out, const_cast<VARIANT*>(&c.stored), 0, 0), VARCMP_EQ);
        else EXPECT_EQ(out.vt, VT_EMPTY);
        VariantClear(&out);
        SafeArrayDestroy(array);
    }
    VariantClear(&text);
}

} // namespace
