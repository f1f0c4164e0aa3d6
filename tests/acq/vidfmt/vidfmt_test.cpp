#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "acq/vidfmt/startup.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "std/except/resource.h"
#include "tests/support/fake_acqfifo.h"

namespace {

using test_acq::FakeAcqFifo;

// An engine that answers as told and makes fake FIFO implementations.
struct FakeEngine : cc_FrameGrabber {
    std::function<bool(const cc_VidFmtDesc&, int32_t)> supports = [](const cc_VidFmtDesc&, int32_t) { return true; };
    int32_t tvm = -2;
    const cc_VidFmtDesc* lastDesc = nullptr;
    const cc_fifoKindTag* lastTag = nullptr;
    int32_t lastModuleCode = 99;

    int32_t coreValue() override { return 7; }
    int32_t tvmId() override { return tvm; }
    bool isFormatSupported(const cc_VidFmtDesc& d, int32_t code) override { return supports(d, code); }
    uint32_t numCameraPorts(const cc_VidFmtDesc&) override { return 2; }
    bool isFormatRestricted(const cc_VidFmtDesc&) override { return true; }
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& d, int32_t code) override
    { return lastDesc = &d, lastModuleCode = code, new FakeAcqFifo; }
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& d, const cc_fifoKindTag& tag) override
    { return lastDesc = &d, lastTag = &tag, new FakeAcqFifo; }
};

struct Grabber : ccFrameGrabber {
    using ccFrameGrabber::ccFrameGrabber;
    std::function<cc_FrameGrabber*()> make = [] { return nullptr; };
    std::atomic<int> creations{0};
    cc_FrameGrabber* createFrameGrabberImpl() override { return ++creations, make(); }
};

struct Board : Grabber, cc_BoardIdentity {
    Board(cc_FrameGrabber* engine, const std::wstring& name) : Grabber(engine), name(name) {}
    std::wstring name;
    int32_t registrationIndex() const override { return 3; }
    std::wstring boardName() const override { return name; }
};

// A format as the file reader makes one; each part goes before the one made
// before it.
struct TestFormat {
    explicit TestFormat(const char16_t* name, const wchar_t* alias = L"")
        : record{name, 1, 1, 8, 0, 0, 1, 0},
          info(new cc_VidFmtCameraInfo(plat::wideFromUtf16(name, std::char_traits<char16_t>::length(name)), true)),
          desc(new cc_VidFmtDesc(&record, -1)), format(desc.get())
    {
        info->alias = alias;
    }
    cs_vidFmtRecord record;
    std::unique_ptr<cc_VidFmtCameraInfo> info;
    std::unique_ptr<cc_VidFmtDesc> desc;
    ccStdVideoFormat format;
};

template <class T>
bool sortedAndUnique(const std::vector<T*>& registry)
{
    return std::adjacent_find(registry.begin(), registry.end(), [](const T* a, const T* b) {
               return !(std::u16string_view(a->name()) < std::u16string_view(b->name()));
           }) == registry.end();
}

TEST(FrameGrabber, WithoutAnEngineAnswersNeutrallyAndTriesToCreateOneAtEveryCall)
{
    Grabber none;
    none.disconnect(true); // never creates
    EXPECT_EQ(none.creations, 0);
    EXPECT_TRUE(none.implQuery() == 0 && !none.hasFormatOptions() && none.tvmId() == -2 && none.uniqueId().empty());
    EXPECT_EQ(none.creations, 4);
    for (int32_t id : {-1, -2, 5}) {
        FakeEngine engine;
        engine.tvm = id;
        Grabber given(&engine);
        EXPECT_TRUE(given.tvmId() == id && given.implQuery() == 7 && given.creations == 0);
    }
}

TEST(FrameGrabber, ACreationThatThrowsLeavesTheLibraryMutexFreeAndIsTriedAgain)
{
    FakeEngine engine;
    Grabber grabber;
    grabber.make = []() -> cc_FrameGrabber* { throw ccUnsupportedHW(); };
    EXPECT_THROW(grabber.frameGrabberImpl(), ccUnsupportedHW);
    auto tryLock = [] { return ccLibraryMutex().lock(0) && (ccLibraryMutex().unlock(), true); };
    EXPECT_TRUE(std::async(std::launch::async, tryLock).get());
    grabber.make = [&] { return &engine; };
    EXPECT_EQ(grabber.frameGrabberImpl(), &engine);
}

TEST(FrameGrabber, SixteenThreadsAskingAtOnceCreateOneEngine)
{
    FakeEngine engine;
    Grabber grabber;
    grabber.make = [&] { return &engine; };
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&] { wrong += grabber.frameGrabberImpl() != &engine; });
    for (std::thread& t : threads)
        t.join();
    EXPECT_TRUE(wrong == 0 && grabber.creations == 1);
}

const std::wstring kKey = L"SOFTWARE\\Qoralt\\QMB\\utconfig\\board";
const std::wstring kKey1 = kKey + L"3", kKey2 = kKey + L"_cvm_3";
const wchar_t *kXC75 = L"Sony XC75 640x480", *kST50 = L"Sony XC-ST50 640x480", *kTM7 = L"Pulnix TM7EX 640x480";

// A string when text is given, else the number.
void set(const std::wstring& key, const std::wstring& name, const wchar_t* text, uint8_t number = 0)
{
    plat::RegistryKey k = 0;
    ASSERT_EQ(plat::createRegistryKey(plat::RegistryRoot::localMachine, key, &k), plat::RegistryStatus::ok);
    ASSERT_EQ(plat::setRegistryValue(k, name, text ? plat::RegistryType::string : plat::RegistryType::int32,
                                     text ? plat::utf16BytesFromWide(text) : std::vector<uint8_t>{number, 0, 0, 0}),
              plat::RegistryStatus::ok);
    ASSERT_EQ(plat::closeRegistryKey(k), plat::RegistryStatus::ok);
}

struct Value { const std::wstring* key; const wchar_t *name, *text; uint8_t number; };

TEST(BoardFormatLimits, TheTwoKeysAllowListedOrUnlistedFormats)
{
    ccAcqVidfmtStartup();
    const Value limit1{&kKey1, L"limitFmt", nullptr, 1}, limit2{&kKey2, L"limitFmt", nullptr, 1},
        exclude2{&kKey2, L"excludeFmt", nullptr, 1}, only1{&kKey1, L"format0", kXC75, 0},
        first2{&kKey2, L"format0", kXC75, 0};
    // allowed: for XC75, ST50, TM7; fullList: 100 other names under the second key.
    const struct { const char* what; std::vector<Value> values; const char* allowed; bool fullList = false; } rows[] = {
        {"no key", {}, "yyy"},
        {"first key, no format0", {limit1}, "yyy"},
        {"first key", {limit1, only1}, "ynn"},
        {"limitFmt as a string", {{&kKey1, L"limitFmt", L"1", 0}, only1}, "yyy"},
        {"allow list up to a gap",
         {limit2, first2, {&kKey2, L"format1", kST50, 0}, {&kKey2, L"format3", kTM7, 0}}, "yyn"},
        {"exclude list", {exclude2, first2}, "nyy"},
        {"both: an allow list", {limit2, exclude2, first2}, "ynn"},
        {"both keys", {limit1, only1, exclude2, first2}, "nnn"},
        {"full allow list without the name", {limit2}, "nnn", true},
        {"full exclude list without the name", {exclude2}, "yyy", true},
    };
    FakeEngine engine;
    const ccVideoFormat* formats[] = {&ccVidFmtSonyXC75_640x480(), &ccVidFmtSonyXCST50_640x480(),
                                      &ccVidFmtPulnixTM7EX_640x480()};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        plat::clearRegistry();
        for (const Value& v : r.values)
            set(*v.key, v.name, v.text, v.number);
        for (int i = 0; r.fullList && i < 100; ++i)
            set(kKey2, L"format" + std::to_wstring(i), (L"Other " + std::to_wstring(i)).c_str());
        Board board(&engine, L"cvm");
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(board.isFormatAllowed(*formats[f]), r.allowed[f] == 'y') << f;
            EXPECT_EQ(board.numCameraPorts(*formats[f]), r.allowed[f] == 'y' ? 2u : 0u) << f;
            EXPECT_TRUE(Grabber(&engine).isFormatAllowed(*formats[f])); // not a board: no limits
        }
    }
    // A board name of any length makes its key.
    plat::clearRegistry();
    const std::wstring longName(600, L'n'), longKey = kKey + L"_" + longName + L"_3";
    set(longKey, L"limitFmt", nullptr, 1);
    set(longKey, L"format0", kST50);
    EXPECT_FALSE(Board(&engine, longName).isFormatAllowed(*formats[0]));
    plat::clearRegistry();
}

TEST(FrameGrabber, SupportNeedsAnEngineAndGreyIsGrey8OrElseBayer8)
{
    ccAcqVidfmtStartup();
    const ccVideoFormat& xc75 = ccVidFmtSonyXC75_640x480();
    EXPECT_FALSE(Grabber().isVideoFormatSupported(xc75, -1));
    EXPECT_EQ(Grabber().numCameraPorts(xc75), 0u);
    FakeEngine engine;
    std::vector<int32_t> asked;
    engine.supports = [&](const cc_VidFmtDesc& d, int32_t code) {
        asked.push_back(code);
        return &d == &xc75.description(false) && code == 4; // Bayer 8 only
    };
    EXPECT_TRUE(Grabber(&engine).supportsGreyFormat(xc75));
    EXPECT_FALSE(Grabber(&engine).supportsGreyFormat(ccVidFmtJaiCVM90_640x480()));
    EXPECT_EQ(asked, (std::vector<int32_t>{0, 4, 0, 4}));
}

TEST(VideoFormat, TheBuiltInTableHas51FormatsWithTheirFacts)
{
    ccAcqVidfmtStartup();
    EXPECT_THROW(ccBuiltinVideoFormat(51), ccVideoFormat::NotFound);
    EXPECT_EQ(&ccVidFmtPulnixTM6CN_760x574(), &ccBuiltinVideoFormat(50));
    // size: width * 10000 + height; flags: interlaced, reduced, board driven.
    const struct { size_t row; int32_t size, flags, code; const wchar_t *maker, *model, *res, *options; } rows[] = {
        {0, 6400480, 101, -1, L"Sony", L"XC-75", L"640x480", nullptr},
        {7, 6400480, 101, -1, L"Reserved", L"Format #4", L"640x480", nullptr},
        {25, 12801024, 0, -1, L"Hitachi", L"KP-F100", L"1280x1024", L"rapid-reset, shutter-sw-twoTrigger"},
        {33, 10001, 1, 0x1001, L"Qoralt", L"NullFormat", nullptr, nullptr},
        {34, 3800287, 111, -1, L"Sony", L"XC-ST50CE", L"380x287", L"rapid-reset, shutter-sw-SDONPISHA"},
        {50, 7600574, 100, -1, L"Pulnix", L"TM-6CN", L"760x574", nullptr},
    };
    auto same = [](const wchar_t* a, const wchar_t* b) { return a && b ? std::wstring(a) == b : a == b; };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        const ccVideoFormat& f = ccBuiltinVideoFormat(r.row);
        const cs_vidFmtRecord& rec = *f.description(false).record();
        EXPECT_EQ(rec.width * 10000 + rec.height, r.size);
        EXPECT_EQ(rec.interlaced * 100 + rec.reducedSize * 10 + rec.boardDriven, r.flags);
        EXPECT_TRUE(rec.depth == 8 && rec.registered == 1 && !f.cameraInfoFromFile());
        EXPECT_EQ(f.description(false).defaultModuleCode(), r.code);
        EXPECT_TRUE(same(f.cameraManufacturer(), r.maker) && same(f.cameraModel(), r.model));
        EXPECT_TRUE(same(f.formatResolution(), r.res) && same(f.formatDriveType(), nullptr));
        EXPECT_TRUE(same(f.formatOptions(), r.options)); // empty options: null
    }
}

TEST(VideoFormat, NamesAreParsedIntoCameraStrings)
{
    const struct {
        const wchar_t *name, *strings; // manufacturer|model|resolution|drive type|options
    } rows[] = {
        {L"Sony XC75 640x480", L"Sony|XC75|640x480||"},
        {L"NoDelimiter", L"||||"},
        {L"A;B\t\tC D E", L"A|B|C|D|"},
        {L"Cam X (fast, slow) 640x480", L"Cam|X|||fast, slow"},
        {L"Cam (open 640", L"Cam||||"},
    };
    for (const auto& r : rows) {
        const cc_VidFmtCameraInfo i(r.name, true);
        EXPECT_EQ(i.manufacturer + L"|" + i.model + L"|" + i.resolution + L"|" + i.driveType + L"|" + i.options,
                  r.strings);
    }
}

TEST(VideoFormat, LookUpIsExactAndANewerFormatDisplacesTheOlderInBothRegistries)
{
    ccAcqVidfmtStartup();
    EXPECT_THROW(ccVideoFormat::getFormat(L"sony xc75 640x480"), ccVideoFormat::NotFound);
    EXPECT_EQ(&ccVideoFormat::getFormat(L"Sony XC75 640x480"), &ccVidFmtSonyXC75_640x480());
    const ccVideoFormat* builtIn = &ccVidFmtJaiCVM90_640x480();
    {
        TestFormat file(u"Jai CV-M90 640x480");
        EXPECT_EQ(&ccVideoFormat::getFormat(L"Jai CV-M90 640x480"), &file.format);
        EXPECT_EQ(file.desc->cameraInfo(), builtIn->description(false).cameraInfo()); // registered first
        const auto all = ccVideoFormat::allFormats();
        const auto standard = ccVideoFormat::allStdFormats();
        EXPECT_TRUE(sortedAndUnique(all) && sortedAndUnique(standard));
        EXPECT_EQ(std::count(all.begin(), all.end(), builtIn), 0);
        EXPECT_EQ(std::count(standard.begin(), standard.end(), &file.format), 1);
    }
    // The displaced format is not entered again.
    EXPECT_THROW(ccVideoFormat::getFormat(L"Jai CV-M90 640x480"), ccVideoFormat::NotFound);
}

TEST(VideoFormat, FifosAreMadeByPelFormatCode)
{
    ccAcqVidfmtStartup();
    FakeEngine engine;
    Grabber grabber(&engine);
    const ccVideoFormat &xc75 = ccVidFmtSonyXC75_640x480(), &null = ccVidFmtQoraltNullFormat();
    // tag null: a ccStdAcqFifo.
    const struct { const ccVideoFormat* f; int32_t code; uint32_t pel; const cc_fifoKindTag* tag; int32_t module; }
        rows[] = {
        {&xc75, -1, 1, &cc_fifoKindTag::grey(), 99}, {&xc75, 3, 3, &cc_fifoKindTag::rgb16(), 99},
        {&xc75, 4, 4, &cc_fifoKindTag::rgb32(), 99}, {&xc75, 12, 12, &cc_fifoKindTag::threePlane(), 99},
        {&null, -1, uint32_t(-1), nullptr, -1},      {&xc75, 2, 2, nullptr, 9},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        engine.lastTag = nullptr, engine.lastModuleCode = 99;
        ccPtrHandle<ccAcqFifo> fifo(r.f->newAcqFifo(grabber, r.code));
        EXPECT_TRUE(fifo->pelFormat() == r.pel && engine.lastTag == r.tag && engine.lastModuleCode == r.module);
        EXPECT_EQ(static_cast<ccSyncProp&>(fifo->acqProps()).fifo(), fifo->implementation());
        EXPECT_TRUE(&fifo->videoFormat() == r.f && &fifo->frameGrabber() == &grabber);
        EXPECT_EQ(dynamic_cast<ccStdAcqFifo*>(fifo.rawPointer()) != nullptr, r.tag == nullptr);
    }
    ccStdAcqFifo other(std::unique_ptr<cc_AcqFifo>(new FakeAcqFifo), xc75, grabber, 2);
    const std::unique_ptr<cc_PelBuffer> none(other.completeToBuffer({}));
    EXPECT_FALSE(static_cast<ccPelBuffer<unsigned char>*>(none.get())->isBound());
    auto* impl = static_cast<FakeAcqFifo*>(other.implementation());
    impl->images.push_back(ccPtrHandle<ccAcqImage>(new ccAcqImage()));
    const ccAcqImage* image = impl->images.front().rawPointer();
    EXPECT_EQ(other.completeToImage({}).rawPointer(), image);
    // Refusals.
    engine.supports = [](const cc_VidFmtDesc&, int32_t) { return false; };
    EXPECT_THROW(xc75.newAcqFifo(grabber, 4), ccVideoFormat::NotSupported);
    EXPECT_THROW(xc75.newAcqFifo(grabber), ccVideoFormat::NotSupported);
    EXPECT_THROW(ccStdGreyAcqFifo(xc75, Grabber()), ccAcqFifo::CouldNotCreate);
    EXPECT_TRUE(cf_formatsSupportedBy({&ccVidFmtSonyXC75_640x480()}, grabber, 1).empty());
}

TEST(VideoFormat, AnAliasIsFollowedForFifosAndPelFormatButNotForCameraStrings)
{
    ccAcqVidfmtStartup();
    FakeEngine engine;
    Grabber grabber(&engine);
    TestFormat alias(u"Alias Cam 1x1", L"Qoralt NullFormat");
    EXPECT_EQ(alias.format.defaultPelFormat(), -1);
    EXPECT_EQ(std::wstring(alias.format.cameraManufacturer()), L"Alias");
    ccPtrHandle<ccAcqFifo> fifo(alias.format.newAcqFifo(grabber, -1));
    EXPECT_EQ(engine.lastDesc, &ccVidFmtQoraltNullFormat().description(false));
    EXPECT_TRUE(alias.format.isRestrictedOn(grabber));
    EXPECT_FALSE(alias.format.isRestrictedOn(Grabber()));
    TestFormat a(u"Loop A", L"Loop B"), b(u"Loop B", L"Loop A"), self(u"Loop C", L"Loop C"),
        missing(u"Loop D", L"Nowhere");
    for (const TestFormat* f : {&a, &self, &missing})
        EXPECT_THROW(f->format.description(true), ccVideoFormat::NotFound);
}

TEST(VideoFormat, PelFormatCodesMapOneToOne)
{
    for (const auto& r : {std::pair{-1, -1}, {0, -1}, {1, 0}, {2, 9}, {12, 2}, {19, 18}, {20, -1}}) {
        EXPECT_EQ(cf_pelFormatToModuleCode(r.first), r.second) << r.first;
        EXPECT_EQ(r.second < 0 || cf_moduleCodeToPelFormat(r.second) == r.first, true) << r.first;
    }
    EXPECT_TRUE(cf_moduleCodeToPelFormat(19) == -1 && cf_moduleCodeToPelFormat(-1) == -1);
}

int g_reads = 0;

TEST(VideoFormat, TheReaderRunsUntilItHasReadAndAgainAfterAnError)
{
    ccAcqVidfmtStartup();
    ccVideoFormat::installCcfReader([] {
        if (++g_reads == 1)
            throw ccUnsupportedHW();
        return g_reads == 3; // the second finds reading switched off
    });
    EXPECT_THROW(ccVideoFormat::allFormats(), ccUnsupportedHW);
    for (int i = 0; i < 3; ++i)
        ccVideoFormat::getFormat(L"Sony XC75 640x480");
    EXPECT_EQ(g_reads, 3);
    ccVideoFormat::installCcfReader(nullptr);
}

} // namespace
