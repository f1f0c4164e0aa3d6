// A client of the module that knows only COM: classes made by ProgID, calls
// through IDispatch by name and through the interfaces' tables, persistence
// through IPersistStream. The simulated board is the hardware: it is only
// told what to do and asked what it saw. What each step does in detail, and
// the events, are the owning objects' tests'.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "grabber/itf_board.h"
#include "grabber/itf_fifo.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/image.h"
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
    if constexpr (std::is_same_v<T, VARIANT_BOOL>) v.boolVal = value;
    return v;
}

// A late-bound property of object, held by value.
Variant* get(IDispatch* object, const char16_t* name, Variant* value, std::vector<VARIANT> args = {})
{
    EXPECT_EQ(invoke(object, name, DISPATCH_PROPERTYGET, std::move(args), value), S_OK) << "a property get";
    return value;
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

TEST_F(ComClient, MakesAFifoSetsSavesAndRestoresItAcquiresAndUsesTheLines)
{
    Ref<IQorFrameGrabber7320> board = board_client::board(); // its collection made by ProgID
    ASSERT_TRUE(board);
    Variant made;
    ASSERT_EQ(invoke(board.p, u"CreateAcqFifo", DISPATCH_METHOD, {arg(VT_BSTR, u"Sony XC75 640x480"), position(0)}, &made), S_OK);
    ASSERT_EQ(made.vt, VT_DISPATCH);
    IDispatch* fifo = made.pdispVal;

    // Set late-bound, saved, restored into a bare FIFO.
    ASSERT_EQ(invoke(fifo, u"Exposure", DISPATCH_PROPERTYPUT, {arg(VT_R8, 0.02)}), S_OK);
    Ref<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream.p), S_OK);
    ASSERT_EQ(query<IPersistStream>(fifo, IID_IPersistStream)->Save(stream.p, 1), S_OK);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    Ref<IDispatch> restored = board_client::made<IDispatch>(u"Qoralt.QorAcqFifo7320", IID_IDispatch);
    ASSERT_EQ(query<IPersistStream>(restored.p, IID_IPersistStream)->Load(stream.p), S_OK);
    Variant exposure, format;
    EXPECT_DOUBLE_EQ(get(restored.p, u"Exposure", &exposure)->dblVal, 0.02);
    EXPECT_EQ(std::u16string(get(restored.p, u"VideoFormat", &format)->bstrVal), u"Sony XC75 640x480");

    // A manual acquisition completes into an image.
    ASSERT_EQ(invoke(fifo, u"TriggerModel", DISPATCH_PROPERTYPUT, {position(0)}), S_OK);
    Ref<IQorAcqFifo7320> acq = query<IQorAcqFifo7320>(fifo, IID_IQorAcqFifo7320);
    LONG ticket = -1, trigger = -1, width = 0, height = 0;
    Ref<IQorImage> image;
    ASSERT_EQ(acq->Start(&ticket), S_OK);
    ASSERT_EQ(acq->Complete(ticket, &trigger, &image.p), S_OK);
    ASSERT_EQ(image->get_Width(&width) | image->get_Height(&height), S_OK);
    EXPECT_EQ((std::pair<LONG, LONG>(width, height)), (std::pair<LONG, LONG>(640, 480)));

    // An output line set by name reaches the board.
    Variant outputs, output;
    get(get(board.p, u"OutputLines", &outputs)->pdispVal, u"Item", &output, {position(0)});
    ASSERT_EQ(invoke(output.pdispVal, u"Value", DISPATCH_PROPERTYPUT, {arg(VT_BOOL, VARIANT_TRUE)}), S_OK);
    double level = 0.0; // what the board's line was last set to
    ASSERT_EQ(sim().lastArgs(ccIidLineIO, 8, &level, 1), 1u);
    EXPECT_EQ(level, 1.0);
}

} // namespace
