#include "comframe/comerror.h"

#include "comframe/messagesource.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/environment.h"
#include "std/except/except.h"
#include "std/pelbuf/pel_errors.h"

#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

cmDeclareException(TestError, ccExceptionWithString, 0x10000777u, "class TestError");

const CLSID kTestClass = {0x6A1F0C31, 0x22B4, 0x4E0D, {0x8B, 0x11, 0x50, 0x3E, 0x7D, 0x02, 0xA9, 0x41}};
const IID kTestIid = {0x6A1F0C32, 0x22B4, 0x4E0D, {0x8B, 0x11, 0x50, 0x3E, 0x7D, 0x02, 0xA9, 0x41}};
const ccCOMErrorContext kContext{&kTestClass, &kTestIid, u"put_Value"};
const std::u16string kSource = u"Qoralt.QorTest7320 put_Value";

std::u16string u16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

struct Reported {
    std::u16string source, description, helpFile;
    DWORD helpContext = 0;
    GUID iid = GUID_NULL;
};

HRESULT noCreator(IUnknown*, REFIID, void**)
{
    return E_NOTIMPL;
}

Reported reported()
{
    Reported r;
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_OK);
    if (!info) return r;
    auto text = [info](HRESULT (IErrorInfo::*get)(BSTR*)) {
        BSTR got = nullptr;
        (info->*get)(&got);
        const std::u16string value(got ? got : u"", SysStringLen(got));
        SysFreeString(got);
        return value;
    };
    r = {text(&IErrorInfo::GetSource), text(&IErrorInfo::GetDescription), text(&IErrorInfo::GetHelpFile)};
    info->GetHelpContext(&r.helpContext), info->GetGUID(&r.iid), info->Release();
    return r;
}

class ComErrorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ccRegisterMessageSource(), S_OK);
        ASSERT_EQ(plat::com::registerClass({kTestClass, noCreator, L"Qoralt.QorTest7320.1", L"Qoralt.QorTest7320"}),
                  S_OK);
        ccSetCatalogueMessage(0x8004E104u, {u"Bad coordinate.", u"pel.chm"});
        ccSetCatalogueMessage(0x80048080u, {u"Unspecified error.", u"std.chm"});
        ccSetCatalogueMessage(0x8004E300u, {u"Value refused: %1", u""});
        ccSetCatalogueMessage(0x8004E301u, {u"%1|%2|%3|%4", u""});
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override
    {
        ccRemoveCatalogueMessage(0x8004E104u);
        ccSetCatalogueMessage(0x80048080u, {u"Unspecified error.", u""});
        ccRemoveCatalogueMessage(0x8004E300u);
        ccRemoveCatalogueMessage(0x8004E301u);
        EXPECT_EQ(plat::com::unregisterClass(kTestClass), S_OK);
        ASSERT_EQ(ccRegisterMessageSource(), S_OK);
    }
};

const ccErrorMapEntry kOverride[] = {{0x10000405u, hresultOf(0x8004E6AAu), 0x4, nullptr}, ccErrorMapEnd};
const ccErrorMapEntry kLinked[] = {{0x10000008u, hresultOf(0x8004E777u), 0x2, nullptr}, ccErrorMapEnd};
const ccErrorMapEntry kWithLink[] = {ccErrorMapLinkTo([] { return &kLinked[0]; }),
                                     {0x10000008u, hresultOf(0x8004E778u), 0x2, nullptr}, ccErrorMapEnd};
const ccErrorMapEntry kMessageRow[] = {{0x10000777u, E_INVALIDARG, 0x8004E300u, nullptr}, ccErrorMapEnd};
const ccErrorMapEntry kSuccessRow[] = {{0x10000777u, S_OK, 0x4, nullptr}, ccErrorMapEnd};

const CLSID kInnerClass = {0x6A1F0C33, 0x22B4, 0x4E0D, {0x8B, 0x11, 0x50, 0x3E, 0x7D, 0x02, 0xA9, 0x41}};
const ccCOMErrorContext kInner{&kInnerClass, &kTestIid, u"Inner"};
const std::u16string kTestText = u16(TestError(L"bad value").message(true));

struct TranslationCase {
    const char* name;
    std::function<void()> raise;
    const ccErrorMapEntry* table;
    HRESULT hr;
    std::u16string description, helpFile;
    DWORD helpContext;
};

TEST_F(ComErrorTest, ExceptionsBecomeTheCodeAndTheErrorObject)
{
    const std::wstring longText(3000, L'x');
    const TranslationCase cases[] = {
        {"CatalogueTextThenClassAndMessage", [] { throw ccPel::BadCoord(3, 4); }, nullptr, hresultOf(0x8004E104u),
         u"Bad coordinate.\r\n" + u16(ccPel::BadCoord(3, 4).message(true)), u"pel.chm", 0x8004E104u},
        {"UnknownCodeIsFailWithTheFailHelp", [] { throw TestError(L"bad value"); }, nullptr, E_FAIL,
         kTestText, u"std.chm", 0x80048080u},
        {"MethodRowOverridesTheDefault", [] { throw ccPel::BadCoord(3, 4); }, kOverride,
         hresultOf(0x8004E6AAu), u16(ccPel::BadCoord(3, 4).message(false)), u"", 0},
        {"LinkSearchedWhereItStands", [] { throw ccBadPointer(); }, kWithLink,
         hresultOf(0x8004E777u), u" - Unable to load error message 0x8004e777", u"", 0},
        {"MessageIdRowFormatsTheText", [] { throw TestError(L"bad value"); }, kMessageRow,
         E_INVALIDARG, u"Value refused: " + kTestText, u"", 0},
        {"SuccessRowStillFails", [] { throw TestError(L"bad value"); }, kSuccessRow, E_FAIL,
         u"bad value", u"std.chm", 0x80048080u},
        {"ComErrorPassedThrough", [] { throw ccCOMError(E_INVALIDARG, 0); }, nullptr, E_INVALIDARG,
         u"One or more arguments are invalid.", u"", 0},
        {"ComErrorWithSuccessCodeFails", [] { throw ccCOMError(S_FALSE, 0); }, nullptr, E_FAIL,
         u"Unspecified error.", u"std.chm", 0x80048080u},
        {"OutOfMemory", [] { throw std::bad_alloc(); }, nullptr, E_OUTOFMEMORY, u"Out of memory.", u"", 0},
        {"UnknownExceptionFails", [] { throw 42; }, nullptr, E_FAIL, u"Unspecified error.", u"std.chm", 0x80048080u},
        {"ThrownInnerErrorTravelsOutUnchanged",
         [] {
             ccReportCOMErrorText(kInner, hresultOf(0x8004E555u), 0, u"Inner failure.", nullptr, 77, u"inner.chm");
             ccThrowCOMError(hresultOf(0x8004E555u));
         },
         nullptr, hresultOf(0x8004E555u), u"Inner failure.", u"inner.chm", 77},
        {"TextsCutToTheBuffer", [&] { throw TestError(longText); }, nullptr, E_FAIL,
         u16(TestError(longText).message(true)).substr(0, kErrorTextCapacity - 1), u"std.chm", 0x80048080u},
    };
    for (const TranslationCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HRESULT hr = ccComMethod(kContext, c.table, [&] {
            c.raise();
            return S_OK;
        });
        EXPECT_EQ(static_cast<uint32_t>(hr), static_cast<uint32_t>(c.hr));
        const Reported r = reported();
        EXPECT_EQ(r.source, kSource);
        EXPECT_TRUE(IsEqualGUID(r.iid, kTestIid));
        EXPECT_EQ(r.description, c.description);
        EXPECT_EQ(r.helpFile, c.helpFile);
        EXPECT_EQ(r.helpContext, c.helpContext);
    }
}

TEST_F(ComErrorTest, WithoutAMessageSourceTheFallbackNamesTheSource)
{
    ASSERT_EQ(plat::com::unregisterClass(CLSID_QorMessageSource), S_OK);
    EXPECT_EQ(ccReportCOMError(kContext, E_INVALIDARG, 0, 0x80048202u, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(reported().description, kSource + u" - Unable to load error message 0x80048202");
    for (const auto& [context, text] : {std::pair<const ccCOMErrorContext*, std::u16string>{&kContext, kSource},
             {nullptr, u""}}) {
        BSTR fallback = ccFallbackErrorText(0x80048202u, context);
        EXPECT_EQ(std::u16string(fallback), text + u" - Unable to load error message 0x80048202");
        SysFreeString(fallback);
    }
    // A class without a ProgID is named by its class id.
    EXPECT_EQ(ccErrorSourceText({&GUID_NULL, &kTestIid, u"Load"}), u"{00000000-0000-0000-0000-000000000000} Load");
}

// A report that captures puts the thread's error object after its own text
// and takes over its help file, and with one its help context.
TEST_F(ComErrorTest, AReportThatCapturesAppendsTheInnerErrorAndTakesItsHelp)
{
    const auto inner = [](HRESULT hr, DWORD helpContext, const OLECHAR* helpFile) {
        return [=] { ccReportCOMErrorText(kInner, hr, 0, u"Inner failure.", nullptr, helpContext, helpFile); };
    };
    const ccMessageArgs one{u"x"};
    const struct {
        const char* what;
        std::function<void()> before;
        uint32_t capture;
        std::u16string description, helpFile;
        DWORD helpContext;
    } rows[] = {
        {"inner text and help", inner(E_FAIL, 77, u"inner.chm"), 1, u"Value refused: x\r\nInner failure.", u"inner.chm", 77},
        {"inner text without help", inner(E_INVALIDARG, 0, nullptr), 2, u"Value refused: x\r\nInner failure.", u"", 0},
        {"nothing to capture", [] { SetErrorInfo(0, nullptr); }, 1, u"Value refused: x", u"", 0},
        {"not captured", inner(E_FAIL, 77, u"inner.chm"), 0, u"Value refused: x", u"", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        row.before();
        EXPECT_EQ(ccReportCOMError(kContext, hresultOf(0x8004E300u), row.capture, 0x8004E300u, &one, 0, nullptr),
                  hresultOf(0x8004E300u));
        const Reported r = reported();
        EXPECT_EQ(r.source, kSource);
        EXPECT_EQ(r.description, row.description);
        EXPECT_EQ(r.helpFile, row.helpFile);
        EXPECT_EQ(r.helpContext, row.helpContext);
    }
}

// A substitution that comes out empty keeps the text; any other replaces it.
TEST_F(ComErrorTest, ASubstitutionReplacesTheTextOnlyWhenItGivesSomething)
{
    const struct {
        const char16_t* text;
        ccMessageArgs args;
        std::u16string description;
    } cases[] = {
        {u"%1", {u""}, u"%1"},
        {u"%1", {nullptr}, u"%1"},
        {u"at %1", {u""}, u"at "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ccReportCOMErrorText(kContext, E_INVALIDARG, 0, c.text, &c.args, 0, nullptr), E_INVALIDARG);
        EXPECT_EQ(reported().description, c.description);
    }
}

// The thread's error object read and left in place; nothing read when there is none.
TEST_F(ComErrorTest, SavedErrorInfoReadsTheCurrentObjectAndPutsItBack)
{
    ccSavedErrorInfo saved;
    EXPECT_FALSE(saved.save());
    EXPECT_EQ(saved.info.bstrDescription, nullptr);
    ccReportCOMErrorText(kContext, E_INVALIDARG, 0, u"first", nullptr, 5, u"first.chm");
    ASSERT_TRUE(saved.save());
    ccReportCOMErrorText(kContext, E_INVALIDARG, 0, u"second", nullptr, 6, u"second.chm");
    ASSERT_TRUE(saved.save()); // the first texts are freed, not leaked
    EXPECT_EQ(std::u16string(saved.info.bstrSource), kSource);
    EXPECT_EQ(std::u16string(saved.info.bstrDescription), u"second");
    EXPECT_EQ(std::u16string(saved.info.bstrHelpFile), u"second.chm");
    EXPECT_EQ(saved.info.dwHelpContext, 6u);
    EXPECT_TRUE(IsEqualGUID(saved.iid, kTestIid));
    EXPECT_EQ(reported().description, u"second"); // still the thread's
    EXPECT_FALSE(saved.save());
    EXPECT_EQ(saved.info.bstrSource, nullptr);
}

const ccErrorMapEntry kCycle[] = {ccErrorMapLinkTo([] { return &kCycle[0]; }), ccErrorMapLinkTo(nullptr),
                                  {0x10000777u, E_INVALIDARG, 0x4, nullptr}, ccErrorMapEnd};

// A table that links to itself is searched to a bounded depth, not until the stack overflows.
TEST(ComErrorMap, LinksThatCycleOrGiveNothingEndTheSearch)
{
    EXPECT_EQ(ccFindErrorMapEntry(kCycle, 0x10000777u), &kCycle[2]);
    EXPECT_EQ(ccFindErrorMapEntry(kCycle, 0x10000778u), nullptr);
    EXPECT_EQ(ccFindErrorMapEntry(nullptr, 0x10000777u), nullptr);
}

// The stand-in answers bad arguments and unknown ids with failures, never
// writes past the buffer it is given, and reports the catalogue's language.
TEST_F(ComErrorTest, TheMessageSourceRefusesWhatItCannotAnswerAndGivesItsLanguage)
{
    IQorMessageSource* source = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_QorMessageSource, nullptr, CLSCTX_ALL, IID_IQorMessageSource,
                               reinterpret_cast<void**>(&source)),
              S_OK);
    const struct {
        DWORD id;
        DWORD capacity;
        const char16_t *arg1, *arg2, *arg3;
        HRESULT hr;
        std::u16string text;
    } rows[] = {
        {0x8004E301u, 16, u"a", u"b", u"c", S_OK, u"a|b|c|%4"}, // the source takes three
        {0x8004E301u, 16, nullptr, nullptr, nullptr, S_OK, u"%1|%2|%3|%4"},
        {0x8004E301u, 1, u"a", u"b", u"c", S_OK, u""},
        {0x8004E302u, 16, u"a", nullptr, nullptr, E_FAIL, u""},
        {0x8004E301u, 0, u"a", nullptr, nullptr, E_INVALIDARG, u""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.capacity);
        OLECHAR buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'?');
        EXPECT_EQ(source->FormatText(row.id, buffer, row.capacity, row.arg1, row.arg2, row.arg3), row.hr);
        std::u16string written = row.capacity == 0 ? row.text : row.text + u'\0'; // nothing past it
        written.resize(16, u'?');
        EXPECT_EQ(std::u16string(buffer, 16), written);
    }
    EXPECT_EQ(source->FormatText(0x8004E301u, nullptr, 16, nullptr, nullptr, nullptr), E_INVALIDARG);
    BSTR text = reinterpret_cast<BSTR>(&text);
    EXPECT_EQ(source->GetText(0x8004E302u, &text), E_FAIL);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(source->GetHelpFile(0x8004E301u, &text), E_FAIL); // it has none
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(source->GetText(0x8004E301u, nullptr), E_POINTER);
    EXPECT_EQ(source->GetLanguageId(nullptr), E_POINTER);
    EXPECT_EQ(ccMessageSourceLanguage(nullptr), E_POINTER);
    uint32_t language = 0;
    ccSetCatalogueLanguage(0x0407);
    EXPECT_EQ(ccMessageSourceLanguage(&language), S_OK);
    EXPECT_EQ(language, 0x0407u);
    ccSetCatalogueLanguage(plat::userLanguage());
    source->Release();
}

// A COM error made from a message id carries the catalogue's text, its
// arguments in place, and the id as its help context.
TEST_F(ComErrorTest, ComErrorsTakeTheirTextFromTheCatalogue)
{
    const ccMessageArgs one{u"x"};
    const ccMessageArgs four{u"a", u"b", u"c", u"d"};
    const struct {
        uint32_t id;
        const ccMessageArgs* args;
        const char16_t* description;
        uint32_t helpContext;
    } rows[] = {
        {0x8004E300u, &one, u"Value refused: x", 0x8004E300u},
        {0x8004E300u, nullptr, u"Value refused: %1", 0x8004E300u},
        {0x8004E301u, &four, u"a|b|c|%4", 0x8004E301u},
        {0x8004E3FFu, &one, u" - Unable to load error message 0x8004e3ff", 0x8004E3FFu},
        {0, &one, u"(none)", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const ccCOMError error(E_INVALIDARG, 0, row.id, row.args);
        EXPECT_EQ(error.description() ? std::u16string(error.description()) : u"(none)", row.description);
        EXPECT_EQ(error.helpContext(), row.helpContext);
        EXPECT_EQ(error.helpFile(), nullptr);
    }
}

// The source names the class by its ProgID cut before the second dot.
TEST_F(ComErrorTest, TheSourceIsTheProgIdUpToItsSecondDot)
{
    static const CLSID other = {0x6A1F0C34, 0x22B4, 0x4E0D, {0x8B, 0x11, 0x50, 0x3E, 0x7D, 0x02, 0xA9, 0x41}};
    const struct {
        const wchar_t* progId;
        const OLECHAR* method;
        std::u16string source;
    } rows[] = {
        {L"Two.Parts", u"Get", u"Two.Parts Get"},
        {L"A.B.C.D", nullptr, u"A.B "},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(plat::com::registerClass({other, noCreator, row.progId, L""}), S_OK);
        EXPECT_EQ(ccErrorSourceText({&other, &kTestIid, row.method}), row.source);
        EXPECT_EQ(plat::com::unregisterClass(other), S_OK);
    }
    EXPECT_EQ(ccErrorSourceText({nullptr, &kTestIid, u"Get"}), u"");
}

TEST(ComErrorMessageIds, CapturedSuiteCodesHaveNone)
{
    EXPECT_EQ(ccMessageIdFromHResult(hresultOf(0x80080004u), 2), 0x8004808Du);
    EXPECT_EQ(ccMessageIdFromHResult(hresultOf(0x8004E104u), 2), 0u);
    EXPECT_EQ(ccMessageIdFromHResult(E_ACCESSDENIED, 0), 0u);
}

TEST(ComErrorSubstitution, ArgumentsAndPercentSigns)
{
    const ccMessageArgs two{u"a", u"b"};
    const ccMessageArgs withNull{u"a", nullptr};
    const struct {
        const char16_t* text;
        const ccMessageArgs* args;
        size_t capacity;
        std::u16string expected;
    } rows[] = {
        {u"%1-%2", &two, 64, u"a-b"},         {u"%3 stays", &two, 64, u"%3 stays"},
        {u"ends %", &two, 64, u"ends %"},     {u"%0%x", &two, 64, u"%0%x"},
        {u"[%2]", &withNull, 64, u"[]"},      {u"%1 none", nullptr, 64, u"%1 none"},
        {u"abcdef", &two, 4, u"abc"},         {u"%1%1%1", &two, 3, u"aa"},
    };
    for (const auto& row : rows) {
        OLECHAR out[64];
        EXPECT_EQ(ccSubstituteMessageArgs(row.capacity, row.text, out, row.args), row.expected.size());
        EXPECT_EQ(std::u16string(out), row.expected);
    }
}

} // namespace
