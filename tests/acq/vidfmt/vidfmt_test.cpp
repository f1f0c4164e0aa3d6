#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/fgimpl.h"
#include "acq/vidfmt/framegrabber.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "acq/vidfmt/vidfmt_testing.h"
#include "acq/vidfmt/startup.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "std/except/resource.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/owned_format.h"

namespace {

using test_acq::FakeAcqFifo;

// An engine that answers as told and makes fake FIFO implementations.
struct FakeEngine : cc_FrameGrabber {
    std::function<bool(const cc_VidFmtDesc&, int32_t)> supports = [](const cc_VidFmtDesc&, int32_t) { return true; };
    int32_t tvm = -2;
    const cc_VidFmtDesc* lastDesc = nullptr;
    const cc_fifoKindTag* lastTag = nullptr;
    int32_t lastModuleCode = 99, lastAsked = 99;
    bool declines = false; // makes no FIFO implementation

    int32_t coreValue() override { return 7; }
    int32_t tvmId() override { return tvm; }
    bool isFormatSupported(const cc_VidFmtDesc& d, int32_t code) override
    { return lastDesc = &d, lastAsked = code, supports(d, code); }
    uint32_t numCameraPorts(const cc_VidFmtDesc&) override { return 2; }
    bool isFormatRestricted(const cc_VidFmtDesc&) override { return true; }
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& d, int32_t code) override
    { return lastDesc = &d, lastModuleCode = code, declines ? nullptr : new FakeAcqFifo; }
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& d, const cc_fifoKindTag& tag) override
    { return lastDesc = &d, lastTag = &tag, declines ? nullptr : new FakeAcqFifo; }
};

struct Grabber : ccFrameGrabber {
    using ccFrameGrabber::ccFrameGrabber;
    std::function<cc_FrameGrabber*()> make = [] { return nullptr; };
    std::atomic<int> creations{0};
    cc_FrameGrabber* createFrameGrabberImpl() override { return ++creations, make(); }
};

struct Board : Grabber, cc_BoardIdentity {
    using Grabber::Grabber;
    int32_t registrationIndex() const override { return 3; }
    std::wstring boardName() const override { return L"cvm"; }
};

using TestFormat = test_acq::OwnedFormat;

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
    FakeEngine engine;
    Grabber given(&engine);
    for (int32_t id : {-1, -2, 5})
        EXPECT_TRUE((engine.tvm = id, given.tvmId() == id) && given.implQuery() == 7 && given.creations == 0);
}

TEST(FrameGrabber, ACreationThatThrowsLeavesTheLibraryMutexFree)
{
    Grabber grabber;
    grabber.make = []() -> cc_FrameGrabber* { throw ccUnsupportedHW(); };
    EXPECT_THROW(grabber.frameGrabberImpl(), ccUnsupportedHW);
    auto tryLock = [] { return ccLibraryMutex().lock(0) && (ccLibraryMutex().unlock(), true); };
    EXPECT_TRUE(std::async(std::launch::async, tryLock).get());
}

TEST(FrameGrabber, SixteenThreadsAskingAtOnceCreateOneEngine)
{
    FakeEngine engine;
    Grabber grabber;
    grabber.make = [&] { // slow, so that the threads meet at the lock
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return &engine;
    };
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&] { wrong += grabber.frameGrabberImpl() != &engine; });
    for (std::thread& t : threads)
        t.join();
    EXPECT_TRUE(wrong == 0 && grabber.creations == 1);
}

TEST(FrameGrabber, TheEngineBaseRefusesOrAnswersNeutrally)
{
    ccAcqVidfmtStartup();
    struct AnyPel : cc_FrameGrabber {
        int32_t coreValue() override { return 0; }
        bool isFormatSupportedAnyPel(const cc_VidFmtDesc&) override { return true; }
    } engine;
    const ccVideoFormat& xc75 = ccVidFmtSonyXC75_640x480();
    const cc_VidFmtDesc& d = xc75.description(false);
    EXPECT_TRUE(engine.isFormatSupported(d, 0) && engine.isFormatSupported(d, -1) && !engine.isFormatSupported(d, 8));
    EXPECT_THROW(engine.newAcqFifoImpl(d, 0), ccVideoFormat::NotSupported);
    EXPECT_THROW(engine.newAcqFifoImpl(d, cc_fifoKindTag::grey()), ccVideoFormat::NotSupported);
    EXPECT_TRUE(engine.numCameraPortsIfSupported(xc75) == 0 && engine.tvmId() == -2 && engine.uniqueId().empty());
    EXPECT_FALSE(engine.isFormatRestricted(d) || engine.hasFormatOptions());
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
        Board board(&engine);
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(board.isFormatAllowed(*formats[f]), r.allowed[f] == 'y') << f;
            EXPECT_EQ(board.numCameraPorts(*formats[f]), r.allowed[f] == 'y' ? 2u : 0u) << f;
            EXPECT_TRUE(Grabber(&engine).isFormatAllowed(*formats[f])); // not a board: no limits
        }
    }
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
    // Every row as name|width|height|depth|registered|IRB|default module code|manufacturer|model|resolution|
    // drive|options|; digested (FNV-1a over the code units) against the table worked out by hand.
    std::wstring rows;
    auto n = [](int64_t value) { return std::to_wstring(value) + L"|"; };
    for (size_t i = 0; i < kBuiltinVideoFormatCount; ++i) {
        const ccVideoFormat& f = ccBuiltinVideoFormat(i);
        const cs_vidFmtRecord& r = *f.description(false).record();
        rows += plat::wideFromUtf16(r.name, std::char_traits<char16_t>::length(r.name)) + L"|" + n(r.width) +
                n(r.height) + n(r.depth) + n(r.registered) + n(r.interlaced * 100 + r.reducedSize * 10 + r.boardDriven);
        rows += n(f.description(false).defaultModuleCode());
        for (const wchar_t* text : {f.cameraManufacturer(), f.cameraModel(), f.formatResolution(),
                                    f.formatDriveType(), f.formatOptions()})
            rows += std::wstring(text ? text : L"") + L"|";
        rows += L";";
        EXPECT_FALSE(f.cameraInfoFromFile());
    }
    uint64_t digest = 14695981039346656037u;
    for (wchar_t c : rows)
        digest = (digest ^ uint32_t(c)) * 1099511628211u;
    EXPECT_EQ(digest, 0xcb8eb7165a0d44bdu) << rows;
    const ccVideoFormat& xc75 = ccVidFmtSonyXC75_640x480();
    EXPECT_TRUE(!xc75.formatDriveType() && !xc75.formatOptions()); // an empty string is null
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

// A record that goes while it is being looked up, as another thread may
// remove it: the look-up has made its pointer under the registry lock, and
// hands it back without reading the record again.
TEST(VideoFormat, ACameraRecordRemovedRightAfterItsLookUpIsNotReadAgain)
{
    static cc_VidFmtCameraInfo* record;
    record = new cc_VidFmtCameraInfo(L"Goes Away 640x480", true);
    const cc_VidFmtCameraInfo* const made = record;
    ccSetExtensionLookupHookForTesting([] { delete record; });
    const cc_VidFmtCameraInfo* const found = cc_VidFmtCameraInfo::find(L"Goes Away 640x480");
    ccSetExtensionLookupHookForTesting(nullptr);
    EXPECT_EQ(found, made);
    EXPECT_EQ(cc_VidFmtCameraInfo::find(L"Goes Away 640x480"), nullptr);
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
        EXPECT_EQ(&ccVidFmtJaiCVM90_640x480(), &file.format);
        EXPECT_EQ(file.desc->cameraInfo(), builtIn->description(false).cameraInfo()); // a built-in name's
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
        EXPECT_EQ(engine.lastAsked, r.code == -1 ? -1 : cf_pelFormatToModuleCode(r.code)); // not the resolved code
        EXPECT_EQ(static_cast<ccSyncProp&>(fifo->acqProps()).fifo(), fifo->implementation());
        EXPECT_TRUE(&fifo->videoFormat() == r.f && &fifo->frameGrabber() == &grabber);
        EXPECT_EQ(dynamic_cast<ccStdAcqFifo*>(fifo.rawPointer()) != nullptr, r.tag == nullptr);
    }
    ccStdAcqFifo other(std::unique_ptr<cc_AcqFifo>(new FakeAcqFifo), xc75, grabber, 2);
    const std::unique_ptr<cc_PelBuffer> none(other.completeToBuffer({}));
    EXPECT_FALSE(static_cast<ccPelBuffer<unsigned char>*>(none.get())->isBound());
    auto* image = new ccAcqImage();
    static_cast<FakeAcqFifo*>(other.implementation())->images.emplace_back(image);
    EXPECT_EQ(other.completeToImage({}).rawPointer(), image);
    // Refusals; a code that names no pel format is not taken for "any".
    for (int32_t code : {0, 20, -2})
        EXPECT_THROW(xc75.newAcqFifo(grabber, code), ccVideoFormat::NotSupported) << code;
    engine.supports = [](const cc_VidFmtDesc&, int32_t) { return false; };
    EXPECT_THROW(xc75.newAcqFifo(grabber, 4), ccVideoFormat::NotSupported);
    EXPECT_THROW(xc75.newAcqFifo(grabber), ccVideoFormat::NotSupported);
    EXPECT_THROW(ccStdGreyAcqFifo(xc75, Grabber()), ccAcqFifo::CouldNotCreate);
    EXPECT_TRUE(cf_formatsSupportedBy({&ccVidFmtSonyXC75_640x480()}, grabber, 1).empty());
    // An engine that makes no implementation: no FIFO without one.
    engine.supports = [](const cc_VidFmtDesc&, int32_t) { return true; };
    engine.declines = true;
    for (int32_t code : {1, 2, 3, 4, 12})
        EXPECT_THROW(xc75.newAcqFifo(grabber, code), ccAcqFifo::CouldNotCreate) << code;
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
    const cc_VidFmtDesc* target = &ccVidFmtQoraltNullFormat().description(false);
    EXPECT_EQ(engine.lastDesc, target);
    EXPECT_TRUE(grabber.isVideoFormatSupported(alias.format, 1) && engine.lastDesc == target);
    fifo = alias.format.newAcqFifo(grabber, 1);
    EXPECT_EQ(engine.lastDesc, target);
    EXPECT_TRUE(alias.format.isRestrictedOn(grabber));
    EXPECT_FALSE(alias.format.isRestrictedOn(Grabber()));
    TestFormat a(u"Loop A", L"Loop B"), b(u"Loop B", L"Loop A"), self(u"Loop C", L"Loop C"),
        missing(u"Loop D", L"Nowhere");
    for (const TestFormat* f : {&a, &self, &missing})
        EXPECT_THROW(f->format.description(true), ccVideoFormat::NotFound);
}

TEST(VideoFormat, ANewerVideoInformationReplacesTheOlderAndItsFormatsPelTypeIsTheDefault)
{
    cc_VidFmtVideoInfo other(L"Other Cam 1x1"), older(L"Peled Cam 1x1"), newer(L"Peled Cam 1x1");
    newer.pelType = 1; // packed RGB32
    EXPECT_EQ(cc_VidFmtVideoInfo::find(L"Peled Cam 1x1"), &newer);
    EXPECT_EQ(cc_VidFmtVideoInfo::find(L"Other Cam 1x1"), &other);
    TestFormat format(u"Peled Cam 1x1", L"", &newer), none(u"Unpeled Cam 1x1", L"", &older);
    EXPECT_EQ(format.format.defaultPelFormat(), 4);
    EXPECT_EQ(none.format.defaultPelFormat(), -1);
}

// Two owners of one name (a file's format, a module's): each description
// holds its own owner's camera information, so the owner that goes first
// leaves nothing behind in the other's.
TEST(VideoFormat, ADescriptionTakesOnlyItsOwnersRecords)
{
    ccAcqVidfmtStartup();
    for (bool firstGoesFirst : {true, false}) {
        SCOPED_TRACE(firstGoesFirst);
        auto first = std::make_unique<TestFormat>(u"Shared Cam 640x480");
        auto second = std::make_unique<TestFormat>(u"Shared Cam 640x480");
        EXPECT_EQ(second->desc->cameraInfo(), second->info.get());
        std::unique_ptr<TestFormat>& gone = firstGoesFirst ? first : second;
        const std::unique_ptr<TestFormat>& kept = firstGoesFirst ? second : first;
        gone.reset();
        EXPECT_EQ(std::wstring(kept->format.cameraManufacturer()), L"Shared"); // freed before: ASan
        kept->info->manufacturer = L"Kept";
        EXPECT_EQ(std::wstring(kept->format.cameraManufacturer()), L"Kept");
    }
}

TEST(VideoFormat, PelFormatCodesMapOneToOne)
{
    const int32_t module[] = {-1, 0, 9, 8, 1, 4, 10, 5, 3, 6, 7, 11, 2, 12, 13, 15, 14, 16, 17, 18, -1};
    for (int32_t code = -1; code <= 20; ++code) {
        const int32_t expected = code < 0 ? -1 : module[code];
        EXPECT_EQ(cf_pelFormatToModuleCode(code), expected) << code;
        EXPECT_TRUE(expected < 0 || cf_moduleCodeToPelFormat(expected) == code) << code;
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
        ccVideoFormat::getFormat(L"Sony XC75 640x480"); // the reader's own look-up does not read again
        return g_reads == 3; // the second finds reading switched off
    });
    EXPECT_THROW(ccVideoFormat::allFormats(), ccUnsupportedHW);
    for (int i = 0; i < 3; ++i)
        ccVideoFormat::getFormat(L"Sony XC75 640x480");
    EXPECT_EQ(g_reads, 3);
    ccVideoFormat::installCcfReader(nullptr);
}

} // namespace
