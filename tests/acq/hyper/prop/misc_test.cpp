// The time-out, clipping, alpha-colour, camera-test, pel-root-pool and
// callback properties. Archives are written out byte by byte from their
// formats, little-endian, behind the archive header {0x02, 0x01}.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "acq/hyper/prop/alpha.h"
#include "acq/hyper/prop/callback.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/clip.h"
#include "acq/hyper/prop/pelpoolprop.h"
#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/timeout.h"
#include "std/except/persist.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
using test_bytes::dbl;
using test_bytes::le;
using test_bytes::level;
typedef std::vector<std::string> Calls;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint32_t kNone = 0, kRefused = ccUnsupportedHW::kCode, kUnknown = ccArchive::UnknownVersion::kCode;

// An object reference: tag, version 0, number, kind, two 32-bit positions.
Bytes reference(uint32_t number, uint8_t kind)
{
    return cat({{0x4F, 0xE5, 0x70, 0x54, 0x00}, le(number, 4), {kind}, Bytes(8, 0x00)});
}

// A new object without a directory: its reference; its class block (link,
// form 0, size and position 0, the type name through the name table: ROT47,
// bit 7 on the first byte); its levels.
Bytes objectRecord(const std::string& type, const Bytes& levels)
{
    Bytes name = {uint8_t(type.size()), 0x22};
    for (char c : type)
        name.push_back(uint8_t(33 + (c - 33 + 47) % 94));
    name[2] |= 0x80;
    return cat({reference(1, 1), {0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01}, Bytes(31, 0x00), name,
                {0x22, 0x00, 0x00}, levels});
}

// A notification the archive can carry, and a persistent class that is not one.
struct TestCallback : ccCallback {
    static constexpr const char* kStoredName = "class ccTestCallback";
    static ccPersistent* cmCreate() { return new (std::nothrow) TestCallback; }
    void operator()() override {}
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(TestCallback)))
            return;
        ccArchiveVersion(ar, 0, "ccTestCallback", 0);
        ccPersistent::archive(ar);
        ar.archive(value);
        ccArchiveVisit::end(this, typeid(TestCallback));
    }
    int32_t value = 0;
};
Bytes callbackRecord(int32_t value) { return objectRecord("ccTestCallback", cat({{0x00, 0x00}, le(value, 4)})); }

struct NotCallback : virtual ccPersistent {
    static constexpr const char* kStoredName = "class ccTestNotCallback";
    static ccPersistent* cmCreate() { return new (std::nothrow) NotCallback; }
    const char* storedTypeName() const override { return kStoredName; }
};

void setUp()
{
    ccAcqHyperPropStartup();
    static const bool once = (ccRegisterPersistent<TestCallback>(), ccRegisterPersistent<NotCallback>(), true);
    (void)once;
}

// Records each property operation with its argument, and refuses the one named.
struct Board : test_acq::FakeAcqFifo {
    Calls calls;
    std::string refuse;
    bool acceptsPools = true;
    ccPtrHandle<ccPelRootPool> ownPool;
    ccPtrHandle<ccCallback> callback;

    void note(const std::string& op, const std::string& value)
    {
        if (op == refuse)
            throw ccUnsupportedHW();
        calls.push_back(op + ' ' + value);
    }
    template <class T>
    void note(const std::string& op, T value) { note(op, std::to_string(value)); }
    void timeout(double s) override { note("timeout", s == kInf ? "inf" : std::to_string(s)); }
    void clippingEnabled(uint8_t v) override { note("clippingEnabled", int(v)); }
    void clippingLowLevel(uint8_t v) override { note("clippingLowLevel", int(v)); }
    void clippingHighLevel(uint8_t v) override { note("clippingHighLevel", int(v)); }
    void alphaColorEnabled(uint8_t v) override { note("alphaColorEnabled", int(v)); }
    void alphaColorValue(int32_t v) override { note("alphaColorValue", v); }
    void alphaColorMode(uint32_t v) override { note("alphaColorMode", v); }
    void cameraTest(const ccCameraTestProp& p) override
    {
        note("cameraTest", std::to_string(p.firstMember()) + ' ' + std::to_string(p.secondMember()) + ' ' +
                               std::to_string(p.thirdMember()));
    }
    bool acceptsPelRootPool(const ccPtrHandle<ccPelRootPool>&) override { return note("accepts", 1), acceptsPools; }
    void pelRootPool(const ccPtrHandle<ccPelRootPool>&) override { note("pelRootPool", 1); }
    ccPtrHandle<ccPelRootPool> pelRootPoolHandle() override { return ownPool; }
    void movePartCallback(const ccPtrHandle<ccCallback>& c) override { install("movePartCallback", c); }
    void overrunCallback(const ccPtrHandle<ccCallback>& c) override { install("overrunCallback", c); }
    void completeCallback(const ccPtrHandle<ccCallback>& c) override { install("completeCallback", c); }
    void install(const std::string& op, const ccPtrHandle<ccCallback>& c)
    {
        note(op, std::string(c.rawPointer() ? "object" : "empty"));
        callback = c;
    }
};

// Runs f, and answers the code of the library error it threw (0: none),
// checking the file an archive error names.
uint32_t codeOf(const std::function<void()>& f, const wchar_t* file)
{
    try {
        f();
    } catch (const ccArchive::Errors& e) {
        EXPECT_EQ(e.file(), file);
        return e.code();
    } catch (const ccException& e) {
        return e.code();
    }
    return kNone;
}

template <class P>
void attachAs(ccPersistent& p, cc_AcqFifo* fifo)
{
    dynamic_cast<P&>(p).attach(fifo);
}

struct Family {
    const char* storedName;
    const wchar_t* file;
    void (*attach)(ccPersistent&, cc_AcqFifo*);
};
const Family kTimeout = {ccTimeoutProp::kStoredName, L"acq/hyper/prop/timeout", attachAs<ccTimeoutProp>};
const Family kClip = {ccClippingProp::kStoredName, L"acq/hyper/prop/clip", attachAs<ccClippingProp>};
const Family kAlpha = {ccAlphaColorProp::kStoredName, L"acq/hyper/prop/alpha", attachAs<ccAlphaColorProp>};
const Family kTest = {ccCameraTestProp::kStoredName, L"acq/hyper/prop/cameratest", attachAs<ccCameraTestProp>};

// Each row acts on a fresh property (after loading `before` detached) and
// pins what the board received and what the property stores afterwards.
TEST(MiscProps, SettersAndLoadsCheckThenForwardInOrderAndKeepOnlyWhatTheBoardTook)
{
    setUp();
    const uint32_t bad = ccTimeoutProp::BadParams::kCode;
    const auto timeout = [](double s) { return [s](ccPersistent& p) { dynamic_cast<ccTimeoutProp&>(p).timeout(s); }; };
    const auto clip = [](uint8_t low, uint8_t high) {
        return [=](ccPersistent& p) { dynamic_cast<ccClippingProp&>(p).clipRange(low, high); };
    };
    const Bytes inf = level(0, dbl(kInf)), clipDefault = level(0, {0x01, 15, 240});
    const Bytes alpha = level(1, {0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x07});
    const Bytes test = level(0, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 200});
    const struct {
        const char* what;
        const Family& family;
        Bytes before;
        std::function<void(ccPersistent&)> set; // none: load `loaded`
        Bytes loaded;
        bool attached;
        std::string refuse;
        uint32_t code;
        Calls calls;
        Bytes after;
    } rows[] = {
        {"0", kTimeout, {}, timeout(0.0), {}, true, "", kNone, {"timeout 0.000000"}, level(0, dbl(0.0))},
        {"0.25 detached", kTimeout, {}, timeout(0.25), {}, false, "", kNone, {}, level(0, dbl(0.25))},
        {"-0.001", kTimeout, {}, timeout(-0.001), {}, true, "", bad, {}, inf},
        {"NaN", kTimeout, {}, timeout(kNaN), {}, true, "", bad, {}, inf},
        {"refused", kTimeout, {}, timeout(2.0), {}, true, "timeout", kRefused, {}, inf},
        {"load inf", kTimeout, level(0, dbl(3.0)), {}, inf, true, "", kNone, {"timeout inf"}, inf},
        {"load version 1", kTimeout, {}, {}, level(1, dbl(0.5)), true, "", kUnknown, {}, inf},
        {"200..100", kClip, {}, clip(200, 100), {}, true, "", kNone, {"clippingLowLevel 200", "clippingHighLevel 100"},
         level(0, {0x01, 200, 100})},
        {"load", kClip, {}, {}, level(0, {0x00, 20, 30}), true, "", kNone,
         {"clippingLowLevel 20", "clippingHighLevel 30", "clippingEnabled 0"}, level(0, {0x00, 20, 30})},
        {"load, flag refused", kClip, {}, {}, level(0, {0x00, 20, 30}), true, "clippingEnabled", kRefused,
         {"clippingLowLevel 20", "clippingHighLevel 30"}, level(0, {0x01, 20, 30})},
        {"load version 1", kClip, {}, {}, level(1, {0x00, 20, 30}), true, "", kUnknown, {}, clipDefault},
        {"load", kAlpha, {}, {}, alpha, true, "", kNone,
         {"alphaColorEnabled 1", "alphaColorValue -2", "alphaColorMode 7"}, alpha},
        {"load version 0", kAlpha, alpha, {}, level(0, {0x05, 0x00, 0x00, 0x00, 0x03}), true, "", kNone,
         {"alphaColorEnabled 0", "alphaColorValue 5", "alphaColorMode 3"}, level(1, {0x00, 0x05, 0, 0, 0, 0x03})},
        {"value refused", kAlpha, {}, {}, alpha, true, "alphaColorValue", kRefused, {"alphaColorEnabled 1"},
         level(1, {0x01, 0x09, 0x00, 0x00, 0x00, 0x00})},
        {"load version 2", kAlpha, {}, {}, level(2, Bytes(6, 0x01)), true, "", kUnknown, {},
         level(1, {0x00, 0x09, 0x00, 0x00, 0x00, 0x00})},
        {"load", kTest, {}, {}, test, true, "", kNone, {"cameraTest 1 -1 200"}, test},
        {"refused", kTest, level(0, {0x00, 0x04, 0x00, 0x00, 0x00, 0x05}), {}, test, true, "cameraTest", kRefused, {},
         level(0, {0x00, 0x04, 0x00, 0x00, 0x00, 0x05})},
        {"load version 1", kTest, {}, {}, level(1, Bytes(6, 0x01)), true, "", kUnknown, {}, level(0, Bytes(6, 0x00))},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.family.storedName) + ": " + r.what);
        ASSERT_NE(ccFindFactory(r.family.storedName), nullptr);
        std::unique_ptr<ccPersistent> p(ccFindFactory(r.family.storedName)());
        if (!r.before.empty())
            test_bytes::loadObject(*p, r.before);
        Board board;
        board.refuse = r.refuse;
        if (r.attached)
            r.family.attach(*p, &board);
        EXPECT_EQ(codeOf([&] { r.set ? r.set(*p) : test_bytes::loadObject(*p, r.loaded); }, r.family.file), r.code);
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(test_bytes::storeObject(*p), r.after);
    }
}

struct TestPool : ccPelRootPool {};

TEST(PelRootPoolProp, TheBoardMustAcceptAPoolAndAttachTakesTheBoardsPool)
{
    const ccPtrHandle<ccPelRootPool> before(new TestPool), given(new TestPool);
    const struct {
        const char* what;
        bool attached, accepts;
        std::string refuse;
        uint32_t code;
        Calls calls;
    } rows[] = {
        {"detached", false, false, "", kNone, {}},
        {"accepted", true, true, "", kNone, {"accepts 1", "pelRootPool 1"}},
        {"not accepted", true, false, "", ccPelRootPoolProp::BadParams::kCode, {"accepts 1"}},
        {"refused", true, true, "pelRootPool", kRefused, {"accepts 1"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Board board;
        board.acceptsPools = r.accepts;
        board.refuse = r.refuse;
        board.ownPool = before;
        ccPelRootPoolProp p;
        EXPECT_EQ(p.pelRootPool().rawPointer(), nullptr);
        p.pelRootPool(given);
        if (r.attached) // the pool set while detached gives way to the board's
            p.attach(&board);
        EXPECT_EQ(p.pelRootPool().rawPointer(), (r.attached ? before : given).rawPointer());
        EXPECT_EQ(codeOf([&] { p.pelRootPool(given); }, L""), r.code);
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(p.pelRootPool().rawPointer(), (r.code == kNone ? given : before).rawPointer());
    }
}

template <class P, const ccPtrHandle<ccCallback>& (P::*held)() const>
const ccPtrHandle<ccCallback>& heldBy(const ccPersistent& p)
{
    return (dynamic_cast<const P&>(p).*held)();
}

TEST(CallbackProps, TheNotificationTravelsAsAnObjectReferenceAndALoadedOneReachesTheBoard)
{
    setUp();
    const struct {
        const char* storedName;
        std::string op;
        void (*attach)(ccPersistent&, cc_AcqFifo*);
        const ccPtrHandle<ccCallback>& (*held)(const ccPersistent&);
    } families[] = {
        {ccMovePartCallbackProp::kStoredName, "movePartCallback", attachAs<ccMovePartCallbackProp>,
         heldBy<ccMovePartCallbackProp, &ccMovePartCallbackProp::movePartCallback>},
        {ccOverrunCallbackProp::kStoredName, "overrunCallback", attachAs<ccOverrunCallbackProp>,
         heldBy<ccOverrunCallbackProp, &ccOverrunCallbackProp::overrunCallback>},
        {ccCompleteCallbackProp::kStoredName, "completeCallback", attachAs<ccCompleteCallbackProp>,
         heldBy<ccCompleteCallbackProp, &ccCompleteCallbackProp::completeCallback>},
    };
    // Each row starts from a property holding the notification of value 77.
    const Bytes held77 = level(0, callbackRecord(77));
    for (const auto& f : families) {
        ASSERT_NE(ccFindFactory(f.storedName), nullptr);
        EXPECT_EQ(test_bytes::storeObject(*std::unique_ptr<ccPersistent>(ccFindFactory(f.storedName)())),
                  level(0, reference(0, 0)));
        const struct {
            const char* what;
            Bytes loaded;
            std::string refuse;
            uint32_t code;
            Calls calls;
            Bytes after;
        } rows[] = {
            {"an object", level(0, callbackRecord(5)), "", kNone, {f.op + " object"}, level(0, callbackRecord(5))},
            {"no object", level(0, reference(0, 0)), "", kNone, {f.op + " empty"}, level(0, reference(0, 0))},
            {"another class", level(0, objectRecord("ccTestNotCallback", {0x00})), "", ccArchive::BadContent::kCode,
             {}, held77},
            {"refused", level(0, callbackRecord(5)), f.op, kRefused, {}, held77},
            {"version 1", level(1, reference(0, 0)), "", kUnknown, {}, held77},
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(f.storedName) + ": " + r.what);
            std::unique_ptr<ccPersistent> p(ccFindFactory(f.storedName)());
            test_bytes::loadObject(*p, held77);
            Board board;
            board.refuse = r.refuse;
            f.attach(*p, &board);
            EXPECT_EQ(codeOf([&] { test_bytes::loadObject(*p, r.loaded); }, L"acq/hyper/prop/callback"), r.code);
            EXPECT_EQ(board.calls, r.calls);
            EXPECT_EQ(test_bytes::storeObject(*p), r.after);
            // The board shares the object the property holds.
            EXPECT_EQ(board.callback.rawPointer(), r.calls.empty() ? nullptr : f.held(*p).rawPointer());
        }
    }
}

} // namespace
