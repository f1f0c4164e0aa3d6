#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <tuple>
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
    void archive(ccArchive& ar) override { archiveLevel(this, ar, "Left", [&] { ar.archive(left); }); }
};

class Right : public virtual ccPersistent {
public:
    unsigned short right = 0;
    void archive(ccArchive& ar) override { archiveLevel(this, ar, "Right", [&] { ar.archive(right); }); }
};

// At version 2; remembers the version it loaded, and counts the calls of
// the hook before a load.
class Both : public Left, public Right {
public:
    unsigned char both = 0;
    uint8_t loadedVersion = 0xEE;
    int hookCalls = 0;
    void beforeLoad() override { ++hookCalls; }
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
        archiveLevel(this, ar, "Holder", [&] {
            ccArchiveObject(*child, ar, false);
            ccArchiveObject(*child, ar, false);
            child->archive(ar);
            child->archive(ar);
        });
    }
};

// Runs an action in place of archiving.
class Thrower : public virtual ccPersistent {
public:
    std::function<void(ccArchive&)> action;
    void archive(ccArchive& ar) override { action(ar); }
};

// ---------------------------------------------------------------- protocol

TEST(PersistProtocol, EachLevelArchivesOneVersionByteThenBasesThenFields)
{
    Both b;
    b.left = 0x11223344;
    b.right = 0x5566;
    b.both = 0x77;
    // The hook runs only for a load that asks for it.
    Bytes bytes = store(kLittle, [&](ccArchive& ar) { ccArchiveObject(b, ar, true); });
    // Both, Left, ccPersistent (once), left, Right, right, both.
    EXPECT_EQ(bytes, (Bytes{0x02, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11, 0x00, 0x66, 0x55, 0x77}));

    Both back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), false);
    EXPECT_EQ(std::tuple(back.left, back.right, back.both, back.loadedVersion), std::tuple(b.left, b.right, b.both, 2));
    EXPECT_EQ(b.hookCalls + back.hookCalls, 0);

    const Bytes v1 = {0x01, 0x00, 0x00, 1, 0, 0, 0, 0x00, 2, 0, 3};
    Both older;
    Loader l1(Loader::framed(v1));
    ccArchiveObject(older, l1.ar(), true);
    EXPECT_EQ(std::tuple(older.loadedVersion, older.both, older.hookCalls), std::tuple(1, 3, 1));
    // A newer version names its level; the ccPersistent level names nothing.
    const struct { size_t at; uint8_t version; const wchar_t* file; } newer[] = {
        {0, 3, L"Both"}, {1, 1, L"Left"}, {2, 0x80, L""}};
    for (const auto& n : newer) {
        Bytes bytes = v1;
        bytes[n.at] = n.version;
        Both target;
        Loader m(Loader::framed(bytes));
        try {
            ccArchiveObject(target, m.ar(), false);
            ADD_FAILURE() << "loaded";
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(std::tuple(e.file(), e.line()), std::tuple(std::wstring(n.file), 0u));
        }
    }
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
    EXPECT_EQ(bytes, cat({{0x00, 0x00}, once, once, once}));
}

TEST(PersistProtocol, ArchiveRoutineOutsideAnOperationIsAnInvariantFailure)
{
    Left l;
    std::stringbuf sb;
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    EXPECT_THROW(l.archive(ar), ccInvariantFailure);
    EXPECT_THROW(ccArchiveVisit::end(&l, typeid(Left)), ccInvariantFailure);
    EXPECT_TRUE(sb.str().empty());
    // Nor does another thread, while this thread's operation runs, see it as its own.
    Thrower t;
    t.action = [&](ccArchive&) {
        std::thread([] {
            Left probe;
            EXPECT_THROW(ccArchiveVisit::begin(&probe, typeid(Left)), ccInvariantFailure);
        }).join();
    };
    ccArchiveObject(t, ar, false);
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

// The context and the locks are scoped objects, so one exception type stands
// for all; a nested operation unwinds two frames.
TEST(PersistProtocol, AnyExceptionLeavesNoContextAndReleasesTheMutex)
{
    Thrower inner, outer;
    inner.action = [](ccArchive&) { throw 7; };
    for (bool nested : {false, true}) {
        SCOPED_TRACE(nested);
        outer.action = inner.action;
        if (nested)
            outer.action = [&](ccArchive& ar) { ccArchiveObject(inner, ar, false); };
        Loader l(Loader::framed({}));
        EXPECT_THROW(ccArchiveObject(outer, l.ar(), false), int); // passed on unchanged
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

TEST(PersistRegistry, FindsTheFirstFactoryOfAReadingName)
{
    ccStdExceptStartup();
    EXPECT_NE(ccFindFactory("class ccArchive::Eof"), nullptr);
    EXPECT_EQ(ccFindFactory("ccArchive::Eof"), nullptr); // the writing form is not a key
    EXPECT_EQ(ccFindFactory("class ccArchive::NoSuch"), nullptr);
    EXPECT_EQ(ccFindFactory(""), nullptr);
    // wchar_t reads as unsigned short on either side.
    ccPersistentRegistrar("class ccWideProbe<wchar_t>", &Probe::cmCreate);
    ccPersistentRegistrar("class ccShortProbe<unsigned short>", &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccWideProbe<unsigned short>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccWideProbe<wchar_t>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccShortProbe<wchar_t>"), &Probe::cmCreate);
    EXPECT_EQ(ccFindFactory("class ccShortProbe<unsigned int>"), nullptr);
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

// A type record around a plain (unencoded) name.
Bytes plainRecord(const std::string& name, unsigned char a = 0, unsigned char b = 0, Bytes reserved = {0, 0})
{
    return cat({{a, b, static_cast<unsigned char>(name.size()), 0x22}, bytesOf(name), {0x22}, reserved});
}

// "ccPelRoot<unsigned short>" through the name table, bit 7 on the first byte.
const Bytes kPelRootRecord = {0x00, 0x00, 0x19, 0x22, 0xB4, 0x34, 0x21, 0x36, 0x3D, 0x23, 0x40, 0x40, 0x45,
                              0x6B, 0x46, 0x3F, 0x44, 0x3A, 0x38, 0x3F, 0x36, 0x35, 0x20, 0x44, 0x39, 0x40,
                              0x43, 0x45, 0x6D, 0x22, 0x00, 0x00};
// No type: "$nt", encoded the same way.
const Bytes kNoTypeRecord = {0x00, 0x00, 0x03, 0x22, 0xD3, 0x3F, 0x45, 0x22, 0x00, 0x00};

TEST(PersistTypeRecord, StoresTheEncodedWritingForm)
{
    EXPECT_EQ(storeTypeName("class ccPelRoot<unsigned short>"), kPelRootRecord);
    EXPECT_EQ(storeTypeName("class ccPelRoot<wchar_t>"), kPelRootRecord);
    EXPECT_EQ(storeTypeName("class ccPelRoot<unsigned short>", kBig), kPelRootRecord);
    EXPECT_EQ(storeTypeName(""), kNoTypeRecord);
}

// What a record loads into the caller's string ("untouched" when nothing),
// or the error it raises and the source that names it: the record's checks
// this source, its primitives the archive.
TEST(PersistTypeRecord, Loads)
{
    ccStdExceptStartup();
    for (const char* name : {"class A<class B<class C> >", "class ccProbeRoot<unsigned char>",
                             "class ccProbeRoot<wchar_t>", "class ccPelRoot<wchar_t>"})
        ccPersistentRegistrar(name, &Probe::cmCreate);
    const uint32_t version = ccArchive::UnknownVersion::kCode, badFile = ccArchive::BadFile::kCode;
    const struct { Bytes record; std::string name; uint32_t error = 0; const wchar_t* file = L""; } rows[] = {
        {kPelRootRecord, "class ccPelRoot<unsigned short>"}, {kNoTypeRecord, "untouched"}, {plainRecord("$nt"), "untouched"},
        {storeTypeName("class A<class B<class C> >"), "class A<class B<class C> >"},
        // Stored with "unsigned short", found again under wchar_t.
        {storeTypeName("class ccProbeRoot<wchar_t>"), "class ccProbeRoot<unsigned short>"},
        // "<c_UInt8>" is read as unsigned char, and anything after it dropped.
        {plainRecord("ccProbeRoot<c_UInt8>::Tail"), "class ccProbeRoot<unsigned char>"},
        // A plain name (no bit 7 on its first byte) is taken as it stands.
        {plainRecord("ccArchive::Eof"), "class ccArchive::Eof"},
        {plainRecord("ccArchive::Eof", 1, 0), "untouched", version, L"archutil"},
        {plainRecord("ccArchive::Eof", 0, 1), "untouched", version, L"archutil"},
        {plainRecord("ccArchive::Eof", 0, 0, {1, 0}), "untouched", badFile, L"archutil"},
        {plainRecord("ccArchive::Eof", 0, 0, {0, 1}), "untouched", badFile, L"archutil"},
        {plainRecord("ccArchive::Eof", 0, 0, {0}), "untouched", ccArchive::Eof::kCode, L"archive"},
        {{0x00, 0x00, 0x05, 0x22, 'a'}, "untouched", ccArchive::BadBuffer::kCode, L"archive"},
        // The name is the caller's, the error's without "class ".
        {storeTypeName("class ccNeverRegistered<int>"), "class ccNeverRegistered<int>",
         ccArchive::UnknownType::kCode, L"archutil"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Loader l(Loader::framed(r.record));
        std::string name = "untouched";
        try {
            ccArchiveTypeName(l.ar(), name);
            EXPECT_EQ(r.error, 0u);
        } catch (const ccArchive::Errors& e) {
            EXPECT_EQ(e.code(), r.error);
            EXPECT_EQ(e.file(), r.file);
            if (auto* u = dynamic_cast<const ccArchive::UnknownType*>(&e)) {
                EXPECT_EQ("class " + u->typeName(), r.name);
            }
        }
        EXPECT_EQ(name, r.name);
    }
}

TEST(TypeNames, CompilerAndCanonicalForms)
{
    const struct {
        const char* compiler;
        const char* canonical;
        bool bothWays; // else only compiler to canonical
    } rows[] = {
        {"class ccPelRoot<unsigned long>", "ccPelRoot<unsigned long>", true},
        {"class ccPair<signed char,double>", "ccPair<signed char,double>", true},
        {"class ccArchive::Eof", "ccArchive::Eof", true}, {"class ccE<>", "ccE<>", true},
        {"class ccHandle<class ccPel::Window>", "ccHandle<ccPel::Window>", true},
        {"class ccA<class ccB<class ccC<class ccD> > >", "ccA<ccB<ccC<ccD>>>", true},
        {"class ccA<class ccB>::Inner<float>", "ccA<ccB>::Inner<float>", true},
        // The leading part of a built-in stays bare; a longer word does not.
        {"class ccX<unsigned,c>", "ccX<unsigned,c>", true}, {"class ccY<class charge>", "ccY<charge>", true},
        // The canonical form spells wchar_t as unsigned short.
        {"class ccPelRoot<unsigned short>", "ccPelRoot<unsigned short>", true},
        {"class ccPelRoot<wchar_t>", "ccPelRoot<unsigned short>", false},
        {"class ccA<class ccB<wchar_t> >", "ccA<ccB<unsigned short>>", false},
        {"ccPelRoot<unsigned char>", "ccPelRoot<unsigned char>", false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ccCanonicalTypeName(r.compiler), r.canonical);
        if (r.bothWays) {
            EXPECT_EQ(ccCompilerTypeName(r.canonical), r.compiler);
        }
    }
}

} // namespace
