#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/persist.h"
#include "std/except/startup.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

// ---------------------------------------------------------------- test classes

// Two levels that share ccPersistent virtually, and a class over both.
class Left : public virtual ccPersistent {
public:
    int32_t left = 0;
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Left)))
            return;
        ccArchiveVersion(ar, 0, "Left", 0);
        ccPersistent::archive(ar);
        ar.archive(left);
        ccArchiveVisit::end(this, typeid(Left));
    }
};

class Right : public virtual ccPersistent {
public:
    unsigned short right = 0;
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Right)))
            return;
        ccArchiveVersion(ar, 0, "Right", 0);
        ccPersistent::archive(ar);
        ar.archive(right);
        ccArchiveVisit::end(this, typeid(Right));
    }
};

// At version 2; remembers the version it loaded.
class Both : public Left, public Right {
public:
    unsigned char both = 0;
    uint8_t loadedVersion = 0xEE;
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Both)))
            return;
        loadedVersion = ccArchiveVersion(ar, 2, "Both", 0);
        Left::archive(ar);
        Right::archive(ar);
        Right::archive(ar); // a second path to an archived level adds nothing
        ar.archive(both);
        ccArchiveVisit::end(this, typeid(Both));
    }
};

// Archives a child in two nested operations and twice directly.
class Holder : public virtual ccPersistent {
public:
    Left* child = nullptr;
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Holder)))
            return;
        ccArchiveVersion(ar, 0, "Holder", 0);
        ccPersistent::archive(ar);
        ccArchiveObject(*child, ar, false);
        ccArchiveObject(*child, ar, false);
        child->archive(ar);
        child->archive(ar);
        ccArchiveVisit::end(this, typeid(Holder));
    }
};

// Runs an action in place of archiving.
class Thrower : public virtual ccPersistent {
public:
    std::function<void(ccArchive&)> action;
    void archive(ccArchive& ar) override { action(ar); }
};

class Hooked : public virtual ccPersistent {
public:
    int hookCalls = 0;
    void beforeLoad() override { ++hookCalls; }
};

// ---------------------------------------------------------------- protocol

TEST(PersistProtocol, EachLevelArchivesOneVersionByteThenBasesThenFields)
{
    Both b;
    b.left = 0x11223344;
    b.right = 0x5566;
    b.both = 0x77;
    Bytes bytes = store(kLittle, [&](ccArchive& ar) { ccArchiveObject(b, ar, false); });
    // Both, Left, ccPersistent (once), left, Right, right, both.
    EXPECT_EQ(bytes, (Bytes{0x02, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11, 0x00, 0x66, 0x55, 0x77}));

    Both back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), false);
    EXPECT_EQ(back.left, b.left);
    EXPECT_EQ(back.right, b.right);
    EXPECT_EQ(back.both, b.both);
    EXPECT_EQ(back.loadedVersion, 2);
}

TEST(PersistProtocol, OlderVersionsLoadAndNewerOnesAreRefused)
{
    const Bytes v1 = {0x01, 0x00, 0x00, 1, 0, 0, 0, 0x00, 2, 0, 3};
    Both older;
    Loader l(Loader::framed(v1));
    ccArchiveObject(older, l.ar(), false);
    EXPECT_EQ(older.loadedVersion, 1);
    EXPECT_EQ(older.both, 3);

    auto expectUnknownVersion = [](Bytes bytes, const wchar_t* file) {
        Both target;
        Loader m(Loader::framed(bytes));
        try {
            ccArchiveObject(target, m.ar(), false);
            ADD_FAILURE() << "loaded";
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(e.file(), file);
            EXPECT_EQ(e.line(), 0u);
        }
    };
    Bytes newer = v1;
    newer[0] = 3;
    expectUnknownVersion(newer, L"Both");
    Bytes left = v1;
    left[1] = 1;
    expectUnknownVersion(left, L"Left");
    // The ccPersistent level names nothing.
    Bytes root = v1;
    root[2] = 0x80;
    expectUnknownVersion(root, L"");
}

TEST(PersistProtocol, NestedOperationsHaveVisitedSetsOfTheirOwn)
{
    Left child;
    child.left = 0x0A0B0C0D;
    Holder h;
    h.child = &child;
    Bytes bytes = store(kBig, [&](ccArchive& ar) { ccArchiveObject(h, ar, false); });
    const Bytes once = {0x00, 0x00, 0x0A, 0x0B, 0x0C, 0x0D};
    // Holder, its ccPersistent level, then the child three times: once per
    // nested operation and once in the outer one.
    Bytes expected = {0x00, 0x00};
    for (int i = 0; i < 3; ++i)
        expected = cat(expected, once);
    EXPECT_EQ(bytes, expected);
}

TEST(PersistProtocol, ArchiveRoutineOutsideAnOperationIsAnInvariantFailure)
{
    Left l;
    std::stringbuf sb;
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    EXPECT_THROW(l.archive(ar), ccInvariantFailure);
    EXPECT_THROW(ccArchiveVisit::end(&l, typeid(Left)), ccInvariantFailure);
    EXPECT_TRUE(sb.str().empty());
    // Nor does another thread see this thread's operation as its own.
    auto otherFailed = std::make_shared<std::promise<bool>>();
    std::future<bool> seen = otherFailed->get_future();
    Thrower t;
    t.action = [&](ccArchive&) {
        std::thread([otherFailed] {
            // Waits for the mutex until the operation below has ended.
            Left probe;
            try {
                ccArchiveVisit::begin(&probe, typeid(Left));
                otherFailed->set_value(false);
            } catch (const ccInvariantFailure&) {
                otherFailed->set_value(true);
            }
        }).detach();
    };
    ccArchiveObject(t, ar, false);
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(seen.get());
}

TEST(PersistProtocol, HookRunsOnlyForALoadThatAsksForIt)
{
    Hooked h;
    Bytes bytes = store(kLittle, [&](ccArchive& ar) {
        ccArchiveObject(h, ar, true);
        ccArchiveObject(h, ar, false);
    });
    EXPECT_EQ(h.hookCalls, 0);
    Loader l(Loader::framed(bytes));
    ccArchiveObject(h, l.ar(), false);
    EXPECT_EQ(h.hookCalls, 0);
    ccArchiveObject(h, l.ar(), true);
    EXPECT_EQ(h.hookCalls, 1);
}

// True when another thread completes a whole-object operation in time: the
// archive mutex is free.
bool anotherThreadCanArchive()
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> f = done->get_future();
    std::thread([done] {
        Left l;
        std::stringbuf sb;
        ccArchive ar(&sb, ccArchive::storing, kLittle, false);
        ccArchiveObject(l, ar, false);
        done->set_value();
    }).detach(); // left blocked, if it blocks, so that the test fails rather than hangs
    return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

TEST(PersistProtocol, AnyExceptionLeavesNoContextAndReleasesTheMutex)
{
    const std::function<void(ccArchive&)> actions[] = {
        [](ccArchive& ar) {
            uint32_t v;
            ar.archive(v); // the archive is empty: ccArchive::Eof
        },
        [](ccArchive&) { throw std::bad_alloc(); },
        [](ccArchive&) { throw 7; },
        [](ccArchive& ar) { // from a nested operation
            Thrower inner;
            inner.action = [](ccArchive&) { throw std::bad_alloc(); };
            ccArchiveObject(inner, ar, false);
        },
    };
    int kind = 0;
    for (const auto& action : actions) {
        SCOPED_TRACE(kind++);
        Thrower t;
        t.action = action;
        Loader l(Loader::framed({}));
        bool thrown = false;
        try {
            ccArchiveObject(t, l.ar(), false);
        } catch (const ccArchive::Eof&) {
            thrown = kind == 1;
        } catch (const std::bad_alloc&) {
            thrown = kind == 2 || kind == 4;
        } catch (int) {
            thrown = kind == 3;
        }
        EXPECT_TRUE(thrown) << "the exception passes on unchanged";
        Left probe;
        EXPECT_THROW(probe.archive(l.ar()), ccInvariantFailure);
        EXPECT_TRUE(anotherThreadCanArchive());
    }
}

TEST(PersistProtocol, ArchiveMutexLockIsRecursiveAndExclusive)
{
    std::future<bool> other;
    {
        ccArchiveMutexLock outer;
        ccArchiveMutexLock inner; // same thread: taken again
        other = std::async(std::launch::async, [] {
            ccArchiveMutexLock l;
            return true;
        });
        EXPECT_EQ(other.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    }
    // Leaving the scope released both; the other thread gets it.
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(other.get());
}

// ---------------------------------------------------------------- registry

class Probe : public virtual ccPersistent {
public:
    static ccPersistent* cmCreate() { return new (std::nothrow) Probe; }
};
ccPersistent* makeOther() { return new (std::nothrow) Left; }

TEST(PersistRegistry, FindsRegisteredFactoriesByReadingForm)
{
    ccStdExceptStartup();
    ccPersistentFactory f = ccFindFactory("class ccArchive::Eof");
    ASSERT_NE(f, nullptr);
    std::unique_ptr<ccPersistent> made(f());
    EXPECT_NE(dynamic_cast<ccArchive::Eof*>(made.get()), nullptr);
    EXPECT_EQ(ccFindFactory("class ccArchive::NoSuch"), nullptr);
    EXPECT_EQ(ccFindFactory("ccArchive::Eof"), nullptr); // the writing form is not a key
    EXPECT_EQ(ccFindFactory(""), nullptr);
}

TEST(PersistRegistry, WideCharReadsAsUnsignedShortOnEitherSide)
{
    ccPersistentRegistrar("class ccWideProbe<wchar_t>", &Probe::cmCreate);
    ccPersistentRegistrar("class ccShortProbe<unsigned short>", &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccWideProbe<unsigned short>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccWideProbe<wchar_t>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccShortProbe<wchar_t>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccShortProbe<unsigned int>"), nullptr);
}

TEST(PersistRegistry, FirstRegistrationWins)
{
    ccPersistentRegistrar("class ccTwinProbe", &Probe::cmCreate);
    ccPersistentRegistrar("class ccTwinProbe", &makeOther);
    EXPECT_EQ(ccFindFactory("class ccTwinProbe"), &Probe::cmCreate);
    ccPersistentRegistrar("class ccNullProbe", nullptr);
    EXPECT_EQ(ccFindFactory("class ccNullProbe"), nullptr);
}

// ---------------------------------------------------------------- type records

Bytes storeTypeName(std::string name, int32_t order = kLittle)
{
    return store(order, [&](ccArchive& ar) { ccArchiveTypeName(ar, name); });
}

// Loads a record from body; returns the caller's string afterwards.
std::string loadTypeName(const Bytes& body, std::string name = "untouched")
{
    Loader l(Loader::framed(body));
    ccArchiveTypeName(l.ar(), name);
    return name;
}

// A type record around a plain (unencoded) name.
Bytes plainRecord(const std::string& name, unsigned char a = 0, unsigned char b = 0, Bytes reserved = {0, 0})
{
    Bytes r = {a, b, static_cast<unsigned char>(name.size()), 0x22};
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0x22);
    return cat(r, reserved);
}

TEST(PersistTypeRecord, StoresTheEncodedWritingForm)
{
    // "ccPelRoot<unsigned short>" through the name table, bit 7 on the first byte.
    const Bytes expected = {0x00, 0x00, 0x19, 0x22, 0xB4, 0x34, 0x21, 0x36, 0x3D, 0x23, 0x40, 0x40, 0x45,
                            0x6B, 0x46, 0x3F, 0x44, 0x3A, 0x38, 0x3F, 0x36, 0x35, 0x20, 0x44, 0x39, 0x40,
                            0x43, 0x45, 0x6D, 0x22, 0x00, 0x00};
    EXPECT_EQ(storeTypeName("class ccPelRoot<unsigned short>"), expected);
    EXPECT_EQ(storeTypeName("class ccPelRoot<wchar_t>"), expected);
    EXPECT_EQ(storeTypeName("class ccPelRoot<unsigned short>", kBig), expected);
    // No type: "$nt", encoded the same way.
    EXPECT_EQ(storeTypeName(""), (Bytes{0x00, 0x00, 0x03, 0x22, 0xD3, 0x3F, 0x45, 0x22, 0x00, 0x00}));
}

TEST(PersistTypeRecord, NoTypeLeavesTheCallersString)
{
    EXPECT_EQ(loadTypeName(storeTypeName("")), "untouched");
    EXPECT_EQ(loadTypeName(plainRecord("$nt")), "untouched");
}

TEST(PersistTypeRecord, EveryRegisteredArchiveErrorRoundTrips)
{
    ccStdExceptStartup();
    const char* const names[] = {
        "class ccArchive::Eof",          "class ccArchive::BadBuffer",
        "class ccArchive::BadType",      "class ccArchive::BadContent",
        "class ccArchive::NotFound",     "class ccArchive::Duplicate",
        "class ccArchive::UnknownType",  "class ccArchive::UnknownVersion",
        "class ccArchive::BadFile",      "class ccArchive::UnknownArchiveVersion",
        "class ccArchive::CannotWriteToOldArchive", "class ccArchive::NotSeekable",
    };
    for (const char* n : names) {
        SCOPED_TRACE(n);
        EXPECT_EQ(loadTypeName(storeTypeName(n)), n);
    }
}

TEST(PersistTypeRecord, TemplateNamesComeBackInReadingForm)
{
    ccStdExceptStartup();
    ccPersistentRegistrar("class A<class B<class C> >", &Probe::cmCreate);
    ccPersistentRegistrar("class ccProbeRoot<long>", &Probe::cmCreate);
    ccPersistentRegistrar("class ccProbeRoot<unsigned char>", &Probe::cmCreate);
    ccPersistentRegistrar("class ccProbeRoot<wchar_t>", &Probe::cmCreate);
    EXPECT_EQ(loadTypeName(storeTypeName("class A<class B<class C> >")), "class A<class B<class C> >");
    EXPECT_EQ(loadTypeName(plainRecord("A<B<C>>")), "class A<class B<class C> >");
    EXPECT_EQ(loadTypeName(plainRecord("ccProbeRoot<long>")), "class ccProbeRoot<long>");
    // Stored with "unsigned short", found again under wchar_t.
    EXPECT_EQ(loadTypeName(storeTypeName("class ccProbeRoot<wchar_t>")), "class ccProbeRoot<unsigned short>");
    // "<c_UInt8>" is read as unsigned char, and anything after it dropped.
    EXPECT_EQ(loadTypeName(plainRecord("ccProbeRoot<c_UInt8>")), "class ccProbeRoot<unsigned char>");
    EXPECT_EQ(loadTypeName(plainRecord("ccProbeRoot<c_UInt8>::Tail")), "class ccProbeRoot<unsigned char>");
    // A plain name (no bit 7 on its first byte) is taken as it stands.
    EXPECT_EQ(loadTypeName(plainRecord("ccArchive::Eof")), "class ccArchive::Eof");
}

TEST(PersistTypeRecord, ReadingFormRules)
{
    const struct {
        const char* writing;
        const char* reading;
    } cases[] = {
        {"ccA<ccB<ccC<ccD>>>", "class ccA<class ccB<class ccC<class ccD> > >"},
        {"ccA<int>::Inner", "class ccA<int>::Inner"},
        {"ccA<ccB>::Inner<float>", "class ccA<class ccB>::Inner<float>"},
        // The leading part of a built-in stays bare; a longer word does not.
        {"ccX<unsigned,c>", "class ccX<unsigned,c>"},
        {"ccY<charge>", "class ccY<class charge>"},
        {"ccPair<signed char,double>", "class ccPair<signed char,double>"},
        {"ccE<>", "class ccE<>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ccCompilerTypeName(c.writing), c.reading) << c.writing;
}

TEST(PersistTypeRecord, BadRecords)
{
    // Checks of the record name this source; its primitives the archive's.
    auto expectError = [](const Bytes& body, uint32_t code, const wchar_t* file = L"archutil") {
        Loader l(Loader::framed(body));
        std::string name = "keep";
        try {
            ccArchiveTypeName(l.ar(), name);
            ADD_FAILURE() << "loaded " << name;
        } catch (const ccArchive::Errors& e) {
            EXPECT_EQ(e.code(), code);
            EXPECT_EQ(e.file(), file);
        }
    };
    const uint32_t version = ccArchive::UnknownVersion::kCode;
    expectError(plainRecord("ccArchive::Eof", 1, 0), version);
    expectError(plainRecord("ccArchive::Eof", 0, 1), version);
    expectError(plainRecord("ccArchive::Eof", 0, 0, {1, 0}), ccArchive::BadFile::kCode);
    expectError(plainRecord("ccArchive::Eof", 0, 0, {0, 1}), ccArchive::BadFile::kCode);
    expectError(plainRecord("ccArchive::Eof", 0, 0, {0}), ccArchive::Eof::kCode, L"archive");
    expectError({0x00, 0x00, 0x05, 0x22, 'a'}, ccArchive::BadBuffer::kCode, L"archive");

    Loader l(Loader::framed(storeTypeName("class ccNeverRegistered<int>")));
    std::string name;
    try {
        ccArchiveTypeName(l.ar(), name);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::UnknownType& e) {
        EXPECT_EQ(e.typeName(), "ccNeverRegistered<int>");
        EXPECT_EQ(e.file(), L"archutil");
        EXPECT_EQ(name, "class ccNeverRegistered<int>");
    }
}

// Pairs that hold in both directions.
const struct {
    const char* compiler;
    const char* canonical;
} kNamePairs[] = {
    {"class ccPelRoot<unsigned char>", "ccPelRoot<unsigned char>"},
    {"class ccPelRoot<unsigned short>", "ccPelRoot<unsigned short>"},
    {"class ccPelRoot<long>", "ccPelRoot<long>"},
    {"class ccPelRoot<unsigned long>", "ccPelRoot<unsigned long>"},
    {"class ccPair<signed char,double>", "ccPair<signed char,double>"},
    {"class ccArchive::Eof", "ccArchive::Eof"},
    {"class ccHandle<class ccPel::Window>", "ccHandle<ccPel::Window>"},
    {"class ccA<class ccB<float> >", "ccA<ccB<float>>"},
    {"class ccA<class ccB<class ccC<int> > >", "ccA<ccB<ccC<int>>>"},
    {"class ccMap<class ccKey,class ccVal<short> >", "ccMap<ccKey,ccVal<short>>"},
};

TEST(TypeNames, CompilerAndCanonicalFormsConvertBothWays)
{
    for (const auto& p : kNamePairs) {
        EXPECT_EQ(ccCanonicalTypeName(p.compiler), p.canonical);
        EXPECT_EQ(ccCompilerTypeName(p.canonical), p.compiler);
    }
}

TEST(TypeNames, CanonicalSpellsWideCharAsUnsignedShort)
{
    EXPECT_EQ(ccCanonicalTypeName("class ccPelRoot<wchar_t>"), "ccPelRoot<unsigned short>");
    EXPECT_EQ(ccCanonicalTypeName("class ccA<class ccB<wchar_t> >"), "ccA<ccB<unsigned short>>");
    EXPECT_EQ(ccCanonicalTypeName("ccPelRoot<unsigned char>"), "ccPelRoot<unsigned char>");
}

} // namespace
