// The collection and its board objects over the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>
#include <typeindex>

#include "acq/vidfmt/builtin.h"
#include "comframe/archive.h"
#include "comframe/classids.h"
#include "comframe/dotnet.h"
#include "comframe/dotnet_testing.h"
#include "grabber/boards.h"
#include "grabber/lines.h"
#include "modules/ioconfig.h"
#include "platform/com/safearray.h"
#include "platform/event_log_testing.h"
#include "tests/grabber/board_client.h"
#include "tests/support/com_prop_host.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sim_module.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace board_client;

TEST(BoardCollection, ListsTheBoardTableInOrderAndItsBoardsAnswerAsTheLibraryBoards)
{
    Held<IQorFrameGrabber7320s> boards = collection();
    Held<IUnknown> enumerated;
    Held<IEnumVARIANT> items;
    ASSERT_EQ(boards->get__NewEnum(&enumerated.p), S_OK);
    ASSERT_EQ(enumerated->QueryInterface(IID_IEnumVARIANT, items.out()), S_OK);
    const std::u16string builtIn = ccVidFmtSonyXC75_640x480().name();
    BSTR format = SysAllocString(builtIn.c_str());
    for (LONG i = 0; i < static_cast<LONG>(cc7320::numBoards()); ++i) {
        Held<IQorFrameGrabber7320> board;
        plat::com::Variant next;
        ASSERT_EQ(boards->get_Item(position(i), &board.p) | items->Next(1, &next, nullptr), S_OK);
        EXPECT_EQ(next.pdispVal, static_cast<IDispatch*>(board.p));
        cc7320& library = cc7320::getBoard(i);
        BSTR serial = nullptr, id = nullptr;
        SAFEARRAY* formats = nullptr;
        LONG ports = -1;
        ASSERT_EQ(board->get_SerialNumber(&serial) | board->get_UniqueID(&id) | board->get_VideoFormats(&formats)
                      | board->get_NumCameraPorts(format, &ports),
                  S_OK);
        EXPECT_EQ(std::make_tuple(text(serial), text(id), ports),
                  std::make_tuple(library.serialNumber(), library.uniqueId(), LONG(library.numCameraPorts(ccVidFmtSonyXC75_640x480()))));
        const BSTR* names = static_cast<const BSTR*>(formats->pvData);
        const BSTR* end = names + formats->rgsabound[0].cElements;
        EXPECT_NE(std::find(names, end, builtIn), end);
        SafeArrayDestroy(formats);
    }
    SysFreeString(format);
}

// Indexes outside a collection and indexes that are not numbers are refused,
// by reference too, which is checked as the value it refers to: an empty one
// meant the first item, and an object's value property ran under the
// collection's lock (a line collection's lock is not recursive: a property
// asking its Count hung it). Objects are never called, on both kinds.
TEST(Collections, RefuseIndexesOutsideThemAndIndexesThatAreNotNumbers)
{
    Held<IQorFrameGrabber7320s> boards = collection();
    Held<IDispatch> inputs;
    ASSERT_EQ(board_client::board()->get_InputLines(&inputs.p), S_OK);
    Held<IQorInputLines> lines = query<IQorInputLines>(inputs.p, IID_IQorInputLines);
    const struct {
        const char* name;
        std::function<HRESULT(VARIANT)> item;
        std::function<HRESULT(LONG*)> count;
    } kinds[] = {
        {"boards", [&](VARIANT i) { Held<IQorFrameGrabber7320> b; return boards->get_Item(i, &b.p); },
         [&](LONG* n) { return boards->get_Count(n); }},
        {"input lines", [&](VARIANT i) { Held<IQorInputLine> l; return lines->get_Item(i, &l.p); },
         [&](LONG* n) { return lines->get_Count(n); }},
    };
    const auto of = [](VARTYPE vt, void* value) { // value in the member of its type
        VARIANT v{};
        v.vt = vt, v.byref = value;
        return v;
    };
    BSTR word = SysAllocString(u"first");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        LONG count = 0, zero = 0;
        ASSERT_EQ(kind.count(&count), S_OK);
        Held<ccTestSink> object = ccNewTestSink(IID_IDispatch);
        IDispatch* objectRef = object.p;
        VARIANT empty{}, first = position(0), zeroRef = of(VT_BYREF | VT_I4, &zero);
        VARIANT objectValue = of(VT_DISPATCH, objectRef);
        const std::pair<VARIANT, HRESULT> cases[] = {
            {position(-1), kArchiveBadIndex},
            {position(count), kArchiveBadIndex},
            {of(VT_BSTR, word), kArchiveBadIndexType},
            {zeroRef, S_OK},
            {empty, kArchiveBadIndexType},
            {objectValue, kArchiveBadIndexType},
            {of(VT_UNKNOWN, static_cast<IUnknown*>(objectRef)), kArchiveBadIndexType},
            {of(VT_BYREF | VT_DISPATCH, &objectRef), kArchiveBadIndexType},
            {of(VT_BYREF | VT_VARIANT, &first), S_OK},
            {of(VT_BYREF | VT_VARIANT, &zeroRef), S_OK},
            {of(VT_BYREF | VT_VARIANT, &empty), kArchiveBadIndexType},
            {of(VT_BYREF | VT_VARIANT, &objectValue), kArchiveBadIndexType},
            {of(VT_BYREF | VT_VARIANT, nullptr), kArchiveBadIndexType},
        };
        for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(kind.item(cases[i].first), cases[i].second) << i;
        EXPECT_TRUE(object->calls().empty());
    }
    SysFreeString(word);
    ccReleaseLineCollections();
}

TEST(BoardObject, TakesItsIOOptionFromTheProductFile)
{
    TempDir dir;
    ScopedEnv env;
    env.set(L"QORALT_PATH", dir.wide());
    // The file (null: none), the option, and whether it was logged.
    const std::tuple<const char*, const std::type_info*, size_t> cases[] = {
        {nullptr, &typeid(ccIOStandardOption), 0},
        {"[QorFrameGrabber7320 #0]\nIOConfig=LightControl\n", &typeid(ccIOLightControlOption), 0},
        {"[QorFrameGrabber7320 #0]\nIOConfig=external\n", &typeid(ccIOExternalOption), 0},
        {"[QorFrameGrabber7320 #0]\nIOConfig=Standard\n", &typeid(ccIOStandardOption), 0},
        {"[QorFrameGrabber7320 #0]\nIOConfig=Bright\n", &typeid(ccIOStandardOption), 1},
        {"[QorFrameGrabber7320 #1]\nIOConfig=External\n", &typeid(ccIOStandardOption), 0},
    };
    plat::collectEventLines(true);
    for (const auto& [file, option, logged] : cases) {
        std::remove((dir.path + "Marlume.INI").c_str());
        if (file) dir.write("Marlume.INI", file);
        Held<IQorFrameGrabber7320> board = board_client::board();
        SCOPED_TRACE(file ? file : "no file");
        const std::type_index made = typeid(cc7320::getBoard(0).ioConfig());
        EXPECT_EQ(std::make_pair(made, plat::takeEventLines().size()), std::make_pair(std::type_index(*option), logged));
    }
    plat::collectEventLines(false);
}

// The board behind the object is replaced only by a board of the table; the
// object then answers for the new one, its line collections included.
TEST(BoardObject, ItsLibraryBoardIsReplacedByABoardOfTheTable)
{
    sim_module::Board made; // a second board of the simulator, in the table while it lives
    const auto second = std::make_unique<cc7320>(std::make_unique<cc_BoardEntry>(made.module, 0, L"second"),
                                                 std::move(made.board));
    const ccPtrHandle<ccAcqFifo> fifo(ccVidFmtSonyXC75_640x480().newAcqFifo(cc7320::getBoard(0), -1));
    {
        Held<IQorFrameGrabber7320> board = board_client::board();
        Held<IDispatch> linesBefore, linesAfter;
        ASSERT_EQ(board->get_InputLines(&linesBefore.p), S_OK);
        EXPECT_EQ(implOf(board.p), &cc7320::getBoard(0));
        expectImplRefused(board.p, {{"a FIFO", typeid(ccAcqFifo), fifo.rawPointer()}, {"no board", typeid(cc7320), nullptr}});
        ASSERT_EQ(ccSetImpl<cc7320>(query<IQorComInternal>(board.p, IID_IQorComInternal).p, second.get()), S_OK);
        BSTR name = nullptr;
        ASSERT_EQ(board->get_Name(&name) | board->get_InputLines(&linesAfter.p), S_OK);
        EXPECT_EQ(std::make_tuple(implOf(board.p), text(name)), std::make_tuple(static_cast<void*>(second.get()), std::wstring(L"second")));
        EXPECT_NE(linesAfter.p, linesBefore.p);
    }
    ccReleaseLineCollections(); // none may outlive the second board
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
