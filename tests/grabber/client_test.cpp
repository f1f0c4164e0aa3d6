// A client of the module that knows only COM: classes made by ProgID, calls
// through IDispatch by name and through the interfaces' tables, persistence
// through IPersistStream, events through connection points. The simulated
// board is the hardware: it is only told what to do and asked what it saw.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "comframe/acqevents.h"
#include "grabber/itf_board.h"
#include "grabber/itf_fifo.h"
#include "grabber/itf_props_a.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/connection.h"
#include "platform/com/holders.h"
#include "platform/com/image.h"
#include "platform/com/stream.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/sim_module.h"

namespace {

using plat::com::Ref;
using sim_module::sim;

Ref<IDispatch> create(const char16_t* progId)
{
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << "no class for its ProgID";
    Ref<IDispatch> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, made.out()), S_OK);
    return made;
}

template <class I> Ref<I> query(IUnknown* object, REFIID iid)
{
    Ref<I> itf;
    EXPECT_EQ(object->QueryInterface(iid, itf.out()), S_OK);
    return itf;
}

// One late-bound call: args in the order a script writes them, cleared
// after the call; result, when given, is the caller's to clear.
HRESULT invoke(IDispatch* object, const char16_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0, putId = DISPID_PROPERTYPUT;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &putId : nullptr, UINT(reversed.size()),
                      kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    plat::com::Variant ignored;
    if (SUCCEEDED(hr)) hr = object->Invoke(id, IID_NULL, 0, kind, &params, result ? result : &ignored, nullptr, nullptr);
    for (VARIANT& arg : args) VariantClear(&arg);
    return hr;
}

VARIANT arg(LONG value)
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
VARIANT arg(double value)
{
    VARIANT v{};
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}
VARIANT arg(const char16_t* value)
{
    VARIANT v{};
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    return v;
}

class Connection {
public:
    Connection(IUnknown* source, REFIID events, ccTestSink* sink)
    {
        Ref<IConnectionPointContainer> container = query<IConnectionPointContainer>(source, IID_IConnectionPointContainer);
        EXPECT_EQ(container->FindConnectionPoint(events, &point_.p), S_OK);
        EXPECT_EQ(point_->Advise(sink, &cookie_), S_OK);
    }
    ~Connection() { EXPECT_EQ(point_->Unadvise(cookie_), S_OK); }

private:
    Ref<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// A late-bound property of object, which the caller clears.
plat::com::Variant* get(IDispatch* object, const char16_t* name, plat::com::Variant* value, std::vector<VARIANT> args = {})
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
        Ref<IDispatch> boards = create(u"Qoralt.QorFrameGrabber7320s");
        ASSERT_TRUE(boards);
        plat::com::Variant count, item;
        ASSERT_EQ(get(boards.p, u"Count", &count)->lVal, 1);
        ASSERT_EQ(get(boards.p, u"Item", &item, {arg(0)})->vt, VT_DISPATCH);
        std::swap(board.p, item.pdispVal);
    }
    void TearDown() override { CoUninitialize(); }

    Ref<IDispatch> makeFifo(const char16_t* format)
    {
        plat::com::Variant fifo;
        EXPECT_EQ(invoke(board.p, u"CreateAcqFifo", DISPATCH_METHOD, {arg(format), arg(0)}, &fifo), S_OK);
        Ref<IDispatch> made;
        if (fifo.vt == VT_DISPATCH) std::swap(made.p, fifo.pdispVal);
        return made;
    }
    // Line 0 of the board's InputLines or OutputLines, and its number.
    Ref<IDispatch> firstLine(const char16_t* lines, LONG* number)
    {
        plat::com::Variant collection, line, value;
        get(get(board.p, lines, &collection)->pdispVal, u"Item", &line, {arg(0)});
        *number = get(line.pdispVal, u"LineNumber", &value)->lVal;
        Ref<IDispatch> held;
        std::swap(held.p, line.pdispVal);
        return held;
    }

    Ref<IDispatch> board;
};

// The board the simulated module reported is the collection's one item; a
// format it does not know makes no FIFO.
TEST_F(ComClient, TheCollectionListsTheBoardOfTheDriverModule)
{
    plat::com::Variant name;
    EXPECT_EQ(std::u16string(get(board.p, u"Name", &name)->bstrVal), u"sim7320-0");
    Ref<IQorFrameGrabber7320> typed = query<IQorFrameGrabber7320>(board.p, IID_IQorFrameGrabber7320);
    Ref<IDispatch> fifo;
    BSTR unknown = SysAllocString(u"No Such Format");
    EXPECT_TRUE(FAILED(typed->CreateAcqFifo(unknown, 0, &fifo.p)));
    SysFreeString(unknown);
    EXPECT_FALSE(fifo);
}

// Properties set late-bound and through the tables, saved, and restored into
// a FIFO made bare by its ProgID.
TEST_F(ComClient, PropertiesSetAndReadArePersistedAndRestored)
{
    Ref<IDispatch> fifo = makeFifo(u"Sony XC75 640x480");
    ASSERT_TRUE(fifo);
    ASSERT_EQ(invoke(fifo.p, u"Exposure", DISPATCH_PROPERTYPUT, {arg(0.02)}, nullptr), S_OK);
    ASSERT_EQ(query<IQorAcqBrightness>(fifo.p, IID_IQorAcqBrightness)->put_Brightness(0.25), S_OK);
    Ref<IQorAcqExposure> exposure = query<IQorAcqExposure>(fifo.p, IID_IQorAcqExposure);
    EXPECT_TRUE(FAILED(exposure->put_Exposure(-1.0))) << "a negative exposure";
    double seconds = 0.0;
    ASSERT_EQ(exposure->get_Exposure(&seconds), S_OK);
    EXPECT_DOUBLE_EQ(seconds, 0.02);

    Ref<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream.p), S_OK);
    ASSERT_EQ(query<IPersistStream>(fifo.p, IID_IPersistStream)->Save(stream.p, 1), S_OK);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    Ref<IDispatch> restored = create(u"Qoralt.QorAcqFifo7320");
    ASSERT_TRUE(restored);
    ASSERT_EQ(query<IPersistStream>(restored.p, IID_IPersistStream)->Load(stream.p), S_OK);
    plat::com::Variant value, brightness, format;
    EXPECT_DOUBLE_EQ(get(restored.p, u"Exposure", &value)->dblVal, 0.02);
    EXPECT_DOUBLE_EQ(get(restored.p, u"Brightness", &brightness)->dblVal, 0.25);
    EXPECT_EQ(std::u16string(get(restored.p, u"VideoFormat", &format)->bstrVal), u"Sony XC75 640x480");
}

// Started and completed acquisitions give images holding the board's frames,
// and the complete event tells each ticket to a sink.
TEST_F(ComClient, AcquisitionsCompleteIntoImagesAndTellTheSink)
{
    Ref<IDispatch> fifo = makeFifo(u"Sony XC75 640x480");
    ASSERT_TRUE(fifo);
    ASSERT_EQ(invoke(fifo.p, u"TriggerModel", DISPATCH_PROPERTYPUT, {arg(0)}, nullptr), S_OK); // manual
    ccTestSink sink(DIID_IQorAcqCompleteEvent);
    Connection connected(fifo.p, DIID_IQorAcqCompleteEvent, &sink);
    Ref<IQorAcqFifo7320> acq = query<IQorAcqFifo7320>(fifo.p, IID_IQorAcqFifo7320);
    for (size_t i = 1; i <= 2; ++i) {
        LONG ticket = -1, trigger = -1, width = 0, height = 0;
        Ref<IQorImage> image;
        ASSERT_EQ(acq->Start(&ticket), S_OK);
        ASSERT_EQ(acq->Complete(ticket, &trigger, &image.p), S_OK);
        ASSERT_EQ(image->get_Width(&width), S_OK);
        ASSERT_EQ(image->get_Height(&height), S_OK);
        ASSERT_EQ((std::pair<LONG, LONG>(width, height)), (std::pair<LONG, LONG>(640, 480)));
        const uint8_t* pels = image->pelData();
        for (uint32_t y = 0; y < 480; y += 7)
            for (uint32_t x = 0; x < 640; x += 13)
                ASSERT_EQ(pels[y * 640 + x], ccSimPel(x, y, uint32_t(ticket), 0)) << x << ", " << y;
        EXPECT_TRUE(sink.waitFor({ccAcqEventId, trigger, ticket}));
        EXPECT_EQ(sink.calls().size(), i);
    }
}

// An output line driven through its object reaches the board; a transition
// on an input line reaches the line's sink.
TEST_F(ComClient, AnOutputLineDrivesTheBoardAndAnInputLineTellsItsSink)
{
    LONG number = -1;
    Ref<IDispatch> output = firstLine(u"OutputLines", &number);
    VARIANT on{};
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    ASSERT_EQ(invoke(output.p, u"Value", DISPATCH_PROPERTYPUT, {on}, nullptr), S_OK);
    double level = 0.0; // what the board's line was last set to
    ASSERT_EQ(sim().lastArgs(ccIidLineIO, 8, &level, 1), 1u);
    EXPECT_EQ(level, 1.0);

    Ref<IDispatch> input = firstLine(u"InputLines", &number);
    ccTestSink sink(DIID_IQorInputLineEvents);
    Connection connected(input.p, DIID_IQorInputLineEvents, &sink);
    sim().raiseEdges(uint32_t(number), 1, 1);
    EXPECT_TRUE(sink.waitFor({kInputLineChanged, number, 0})); // high to low
    sim().waitEdges(); // the module thread that raised it has ended
}

} // namespace
