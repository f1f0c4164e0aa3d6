#include "comframe/comerror.h"
#include "comframe/comutil.h"
#include "comframe/comutil_testing.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/message.h"
#include "tests/support/com_targets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
        double value; // of the element read, as a number
    } cases[] = {
        {VT_I2, VT_I2, S_OK, 9},
        {VT_I4, VT_I4, S_OK, 9},
        {VT_R4, VT_R4, S_OK, 9},
        {VT_R8, VT_R8, S_OK, 9},
        {VT_BOOL, VT_BOOL, S_OK, -1},
        {VT_UI1, VT_UI1, S_OK, 9},
        {VT_DISPATCH, VT_DISPATCH, S_OK, 0}, // a null object
        {VT_VARIANT, VT_VARIANT, S_OK, 9},
        {VT_I4, VT_DISPATCH, DISP_E_TYPEMISMATCH, 0},
        {VT_VARIANT, VT_I4, DISP_E_TYPEMISMATCH, 0},
        {VT_I4, VT_BSTR, DISP_E_TYPEMISMATCH, 0},
        {VT_BSTR, VT_BSTR, DISP_E_TYPEMISMATCH, 0}, // not a type it reads
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.held << " as " << c.asked);
        const SAFEARRAYBOUND bound{2, 1};
        SAFEARRAY* array = SafeArrayCreate(c.held, 1, &bound);
        ASSERT_NE(array, nullptr);
        void* data = nullptr;
        ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
        VARIANT nine;
        VariantInit(&nine);
        nine.vt = VT_I4;
        nine.lVal = 9;
        if (c.held == VT_VARIANT)
            static_cast<VARIANT*>(data)[1] = nine;
        else if (c.held != VT_DISPATCH && c.held != VT_BSTR && SUCCEEDED(VariantChangeType(&nine, &nine, 0, c.held)))
            std::memcpy(static_cast<char*>(data) + array->cbElements, &nine.llVal, array->cbElements);
        ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);
        const LONG second = 2;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(ccSafeArrayGetVariant(array, &second, &out, c.asked), c.hr);
        const VARTYPE read = c.asked == VT_VARIANT ? VARTYPE(VT_I4) : c.asked;
        EXPECT_EQ(out.vt, SUCCEEDED(c.hr) ? read : VARTYPE(VT_EMPTY));
        if (SUCCEEDED(c.hr)) {
            VARIANT number;
            VariantInit(&number);
            if (out.vt != VT_DISPATCH) {
                EXPECT_EQ(VariantChangeType(&number, &out, 0, VT_R8), S_OK);
            }
            EXPECT_EQ(out.vt == VT_DISPATCH ? (out.pdispVal ? 1.0 : 0.0) : number.dblVal, c.value);
            const LONG outside = 3;
            EXPECT_EQ(ccSafeArrayGetVariant(array, &outside, &out, c.asked), DISP_E_BADINDEX);
        }
        EXPECT_EQ(VariantClear(&out), S_OK);
        EXPECT_EQ(ccSafeArrayGetVariant(array, &second, nullptr, c.asked), E_POINTER);
        EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
}

// The wait handed out on a runtime without its own (the runtime's own
// otherwise), set back afterwards.
class FallbackWait : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ccGetCoWaitForMultipleHandles(), &CoWaitForMultipleHandles);
        ccComUtilTesting::setRuntimeWaitAvailable(false);
        wait = ccGetCoWaitForMultipleHandles();
        ASSERT_EQ(wait, &ccPumpingWait);
    }
    void TearDown() override { ccComUtilTesting::setRuntimeWaitAvailable(true); }

    ccCoWaitFunction wait = nullptr;
};

// Manual-reset events, closed at the end of the scope.
struct Events {
    explicit Events(std::vector<bool> set)
    {
        for (bool s : set)
            handles.push_back(plat::createEvent(true, s));
    }
    ~Events()
    {
        for (plat::Handle h : handles)
            plat::closeHandle(h);
    }
    std::vector<plat::Handle> handles;
};

// Outside a single-threaded apartment: a plain wait for one handle or all,
// which leaves the thread free to choose its apartment afterwards.
TEST_F(FallbackWait, OutsideAnStaWaitsForOneOrAllAndTellsWhatEndedIt)
{
    const struct {
        std::vector<bool> set;
        DWORD flags;
        HRESULT hr;
        DWORD index;
    } cases[] = {
        {{false, true}, 0, S_OK, 1},
        {{false, true}, COWAIT_WAITALL, RPC_S_CALLPENDING, 99},
        {{true, true}, COWAIT_WAITALL, S_OK, 0},
        {{false}, 0, RPC_S_CALLPENDING, 99},
        {{}, 0, E_INVALIDARG, 99},
    };
    for (const auto& c : cases) {
        std::thread([&] {
            Events events(c.set);
            DWORD index = 99;
            EXPECT_EQ(wait(c.flags, 0, static_cast<ULONG>(c.set.size()), events.handles.data(), &index), c.hr);
            EXPECT_EQ(index, c.index);
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
            CoUninitialize();
        }).join();
    }
    Events one({true});
    const plat::Handle withNull[2] = {one.handles[0], nullptr};
    DWORD index = 99;
    EXPECT_EQ(wait(0, 0, 2, withNull, &index), E_INVALIDARG); // a failed wait is no success
    EXPECT_EQ(wait(0, 0, 1, one.handles.data(), nullptr), E_INVALIDARG);
}

// In a single-threaded apartment the wait dispatches the thread's messages
// until the handles end it (only a dispatched message sets the last one
// here), and a stream of messages does not hold it past its time-out.
TEST_F(FallbackWait, InAnStaDispatchesMessagesUntilTheHandlesOrTheTimeOutEndIt)
{
    std::thread([this] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        for (const DWORD flags : {DWORD{0}, COWAIT_WAITALL}) {
            Events events({true, false});
            const plat::Handle last = events.handles[1];
            const HWND target = makeTarget(setEventProcedure, reinterpret_cast<LONG_PTR>(last));
            DWORD index = 99;
            // Only the last handle, for a wait for one.
            const ULONG count = flags == 0 ? 1 : 2;
            const plat::Handle* handles = flags == 0 ? &last : events.handles.data();
            EXPECT_EQ(wait(flags, 0, count, handles, &index), RPC_S_CALLPENDING);
            PostMessage(target, WM_USER + 1, 0, 0);
            EXPECT_EQ(wait(flags, 60000, count, handles, &index), S_OK);
            EXPECT_EQ(index, 0u);
            DestroyWindow(target);
        }
        Events never({false});
        const HWND flood = makeTarget(floodProcedure, 0);
        PostMessage(flood, WM_USER + 2, 0, 0);
        DWORD index = 99;
        EXPECT_EQ(wait(0, 10, 1, never.handles.data(), &index), RPC_S_CALLPENDING);
        DestroyWindow(flood);
        CoUninitialize();
    }).join();
}

} // namespace
