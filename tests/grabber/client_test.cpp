// A client of the module that knows only COM: classes made by ProgID, calls
// through IDispatch by name, persistence through IPersistStream. What each
// step does in detail is the owning objects' tests'; acquiring through the
// interfaces' tables is the acquire_com example's, which runs as a test.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "grabber/itf_board.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/stream.h"
#include "tests/grabber/board_client.h"
#include "tests/support/sim_module.h"

namespace {

using board_client::position;
using board_client::query;
using plat::com::Ref;
using plat::com::Variant;
using sim_module::sim;

// One late-bound call: args in the order a script writes them, cleared
// after the call; result, when given, is the caller's to clear.
HRESULT invoke(IDispatch* object, const char16_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result = nullptr)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0, putId = DISPID_PROPERTYPUT;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &putId : nullptr, UINT(reversed.size()),
                      kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    Variant ignored;
    if (SUCCEEDED(hr)) hr = object->Invoke(id, IID_NULL, 0, kind, &params, result ? result : &ignored, nullptr, nullptr);
    for (VARIANT& arg : args) VariantClear(&arg);
    return hr;
}

template <class T> VARIANT arg(VARTYPE vt, T value)
{
    VARIANT v{};
    v.vt = vt;
    if constexpr (std::is_same_v<T, double>) v.dblVal = value;
    if constexpr (std::is_same_v<T, const char16_t*>) v.bstrVal = SysAllocString(value);
    return v;
}

class ComClient : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ComClient, MakesAFifoByNameSetsItAndRestoresASavedCopy)
{
    Ref<IQorFrameGrabber7320> board = board_client::board(); // its collection made by ProgID
    ASSERT_TRUE(board);
    Variant made;
    ASSERT_EQ(invoke(board.p, u"CreateAcqFifo", DISPATCH_METHOD, {arg(VT_BSTR, u"Sony XC75 640x480"), position(0)}, &made),
              S_OK);
    ASSERT_EQ(made.vt, VT_DISPATCH);
    IDispatch* fifo = made.pdispVal;

    ASSERT_EQ(invoke(fifo, u"Exposure", DISPATCH_PROPERTYPUT, {arg(VT_R8, 0.02)}), S_OK);
    Ref<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream.p), S_OK);
    ASSERT_EQ(query<IPersistStream>(fifo, IID_IPersistStream)->Save(stream.p, 1), S_OK);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    Ref<IDispatch> restored = board_client::made<IDispatch>(u"Qoralt.QorAcqFifo7320", IID_IDispatch);
    ASSERT_EQ(query<IPersistStream>(restored.p, IID_IPersistStream)->Load(stream.p), S_OK);
    Variant exposure, format;
    ASSERT_EQ(invoke(restored.p, u"Exposure", DISPATCH_PROPERTYGET, {}, &exposure)
                  | invoke(restored.p, u"VideoFormat", DISPATCH_PROPERTYGET, {}, &format),
              S_OK);
    EXPECT_EQ(std::make_pair(exposure.dblVal, std::u16string(format.bstrVal)),
              std::make_pair(0.02, std::u16string(u"Sony XC75 640x480")));
}

} // namespace
