// The collection and its board objects over the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <typeinfo>

#include "acq/vidfmt/builtin.h"
#include "comframe/archive.h"
#include "comframe/classids.h"
#include "comframe/dotnet.h"
#include "comframe/dotnet_testing.h"
#include "modules/ioconfig.h"
#include "platform/com/safearray.h"
#include "platform/event_log_testing.h"
#include "tests/grabber/board_client.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace board_client;

TEST(BoardCollection, ListsTheBoardTableInOrderAndItsBoardsAnswerAsTheLibraryBoards)
{
    Held<IQorFrameGrabber7320s> boards = collection();
    Held<IUnknown> enumerated;
    ASSERT_EQ(boards->get__NewEnum(&enumerated.p), S_OK);
    Held<IEnumVARIANT> items;
    ASSERT_EQ(enumerated->QueryInterface(IID_IEnumVARIANT, items.out()), S_OK);
    const std::u16string builtIn = ccVidFmtSonyXC75_640x480().name();
    BSTR format = SysAllocString(builtIn.c_str()), unknown = SysAllocString(u"no such format");
    for (LONG i = 0; i < static_cast<LONG>(cc7320::numBoards()); ++i) {
        Held<IQorFrameGrabber7320> board;
        ASSERT_EQ(boards->get_Item(position(i), &board.p), S_OK);
        VARIANT next{};
        ASSERT_EQ(items->Next(1, &next, nullptr), S_OK);
        EXPECT_EQ(next.pdispVal, static_cast<IDispatch*>(board.p));
        VariantClear(&next);
        cc7320& library = cc7320::getBoard(i);
        BSTR serial = nullptr, id = nullptr;
        ASSERT_EQ(board->get_SerialNumber(&serial) | board->get_UniqueID(&id), S_OK);
        EXPECT_EQ(std::make_pair(text(serial), text(id)), std::make_pair(library.serialNumber(), library.uniqueId()));
        SAFEARRAY* formats = nullptr;
        ASSERT_EQ(board->get_VideoFormats(&formats), S_OK);
        const BSTR* names = static_cast<const BSTR*>(formats->pvData);
        const BSTR* end = names + formats->rgsabound[0].cElements;
        EXPECT_NE(std::find(names, end, builtIn), end);
        SafeArrayDestroy(formats);
        LONG ports = -1;
        EXPECT_EQ(board->get_NumCameraPorts(format, &ports), S_OK);
        EXPECT_EQ(ports, static_cast<LONG>(library.numCameraPorts(ccVidFmtSonyXC75_640x480())));
        EXPECT_TRUE(FAILED(board->get_NumCameraPorts(unknown, &ports)));
    }
    SysFreeString(format);
    SysFreeString(unknown);
}

// Objects and no value are not numbers either: nothing converts them.
TEST(BoardCollection, RefusesIndexesOutsideItAndIndexesThatAreNotNumbers)
{
    Held<IQorFrameGrabber7320s> boards = collection();
    LONG zero = 0;
    ccTestSink object(IID_IDispatch);
    IDispatch* objectRef = &object;
    VARIANT word{}, byReference{}, dispatch{}, unknown{}, dispatchRef{};
    word.vt = VT_BSTR, word.bstrVal = SysAllocString(u"first");
    byReference.vt = VT_BYREF | VT_I4, byReference.plVal = &zero;
    dispatch.vt = VT_DISPATCH, dispatch.pdispVal = &object;
    unknown.vt = VT_UNKNOWN, unknown.punkVal = &object;
    dispatchRef.vt = VT_BYREF | VT_DISPATCH, dispatchRef.ppdispVal = &objectRef;
    const std::pair<VARIANT, HRESULT> cases[] = {
        {position(-1), kArchiveBadIndex},
        {position(static_cast<LONG>(cc7320::numBoards())), kArchiveBadIndex},
        {word, kArchiveBadIndexType},
        {byReference, S_OK},
        {VARIANT{}, kArchiveBadIndexType},
        {dispatch, kArchiveBadIndexType},
        {unknown, kArchiveBadIndexType},
        {dispatchRef, kArchiveBadIndexType},
    };
    for (const auto& [index, hr] : cases) {
        Held<IQorFrameGrabber7320> board;
        EXPECT_EQ(boards->get_Item(index, &board.p), hr) << index.vt;
        EXPECT_EQ(board.p != nullptr, hr == S_OK);
    }
    EXPECT_TRUE(object.calls().empty());
    VariantClear(&word);
}

TEST(BoardObject, TakesItsIOOptionFromTheProductFile)
{
    TempDir dir;
    ScopedEnv env;
    env.set(L"QORALT_PATH", dir.wide());
    struct Case {
        const char* file; // null: no file
        const std::type_info& option;
        bool logged;
    };
    const Case cases[] = {
        {nullptr, typeid(ccIOStandardOption), false},
        {"[QorFrameGrabber7320 #0]\nIOConfig=LightControl\n", typeid(ccIOLightControlOption), false},
        {"[QorFrameGrabber7320 #0]\r\n ioconfig = external \r\n", typeid(ccIOExternalOption), false},
        {"[QorFrameGrabber7320 #0]\nIOConfig=Standard\n", typeid(ccIOStandardOption), false},
        {"[QorFrameGrabber7320 #0]\nIOConfig=Bright\n", typeid(ccIOStandardOption), true},
        {"[QorFrameGrabber7320 #1]\nIOConfig=External\n", typeid(ccIOStandardOption), false},
    };
    plat::collectEventLines(true);
    for (const Case& c : cases) {
        std::remove((dir.path + "Marlume.INI").c_str());
        if (c.file) dir.write("Marlume.INI", c.file);
        Held<IQorFrameGrabber7320> board = board_client::board();
        SCOPED_TRACE(c.file ? c.file : "no file");
        EXPECT_EQ(typeid(cc7320::getBoard(0).ioConfig()), c.option);
        EXPECT_EQ(plat::takeEventLines().size(), c.logged ? 1u : 0u);
    }
    plat::collectEventLines(false);
}

// With the .NET bridge the collection, its boards and their FIFOs get
// companions; once the managed side has shut down, no object is made.
TEST(BoardObject, ObjectsGetCompanionsWhenTheBridgeIsThere)
{
    ASSERT_EQ(ccDotNetRegisterStandInBridge(), S_OK);
    (void)ccDotNetStandInLogged(true);
    {
        Held<IQorFrameGrabber7320> board = board_client::board();
        BSTR format = SysAllocString(ccVidFmtSonyXC75_640x480().name());
        Held<IDispatch> fifo;
        EXPECT_EQ(board->CreateAcqFifo(format, 0, &fifo.p), S_OK);
        SysFreeString(format);
    }
    const ccDotNetStandInLog log = ccDotNetStandInLogged();
    EXPECT_EQ(std::make_tuple(log.companions, log.releases), std::make_tuple(3, 3));
    ASSERT_EQ(ccDotNetStandInShutdown(), S_OK);
    Held<IQorFrameGrabber7320s> refused;
    EXPECT_EQ(CoCreateInstance(CLSID_QorFrameGrabber7320s, nullptr, CLSCTX_INPROC_SERVER, IID_IQorFrameGrabber7320s, refused.out()), E_FAIL);
    ccDotNetResetForTesting();
    (void)plat::com::unregisterClass(CLSID_QorDotNetBridge);
}

} // namespace
