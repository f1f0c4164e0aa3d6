#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <tuple>

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
        loadedVersion = archiveLevel(this, ar, "Both", [&] {
            Left::archive(ar);
            Right::archive(ar);
            Right::archive(ar); // a second path to an archived level adds nothing
            ar.archive(both);
        }, 2);
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
    // Both, ccPersistent (once), Left, left, Right, right, both.
    EXPECT_EQ(bytes, (Bytes{0x02, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11, 0x00, 0x66, 0x55, 0x77}));

    bytes[0] = 1;
    Both older;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(older, l.ar(), true);
    EXPECT_EQ(std::tuple(older.left, older.right, older.both, older.loadedVersion, older.hookCalls, b.hookCalls),
              std::tuple(b.left, b.right, b.both, 1, 1, 0));
    // A newer version names its level (the error catalogue's); the
    // ccPersistent level names nothing.
    bytes[1] = 0x80;
    Loader m(Loader::framed(bytes));
    try {
        ccArchiveObject(older, m.ar(), false);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::UnknownVersion& e) {
        EXPECT_EQ(std::tuple(e.file(), e.line()), std::tuple(std::wstring(), 0u));
    }
}

// A child archived in two nested operations and twice directly: once per
// nested operation and once in the outer one.
TEST(PersistProtocol, NestedOperationsHaveVisitedSetsOfTheirOwn)
{
    Left child;
    child.left = 0x0A0B0C0D;
    Thrower h;
    h.action = [&](ccArchive& ar) {
        ccArchiveObject(child, ar, false);
        ccArchiveObject(child, ar, false);
        child.archive(ar);
        child.archive(ar);
        // Another thread does not take this thread's operation for its own.
        std::thread([&] { EXPECT_THROW(child.archive(ar), ccInvariantFailure); }).join();
    };
    const Bytes once = {0x00, 0x00, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(store(kLittle, [&](ccArchive& ar) { ccArchiveObject(h, ar, false); }), cat({once, once, once}));
}

// The context is a scoped object, so one exception type stands for all; a
// nested operation unwinds two frames. (That the archive mutex is released
// too, the object-table tests' threads show.)
TEST(PersistProtocol, AnyExceptionLeavesNoContext)
{
    Thrower inner, outer;
    inner.action = [](ccArchive&) { throw 7; };
    outer.action = [&](ccArchive& ar) { ccArchiveObject(inner, ar, false); };
    Loader l(Loader::framed({}));
    EXPECT_THROW(ccArchiveObject(outer, l.ar(), false), int); // passed on unchanged
    Left probe;
    EXPECT_THROW(probe.archive(l.ar()), ccInvariantFailure);
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

// "ccPelRoot<unsigned short>" through the name table, bit 7 on the first
// byte; likewise no type, "$nt".
const Bytes kPelRootRecord = {0x00, 0x00, 0x19, 0x22, 0xB4, 0x34, 0x21, 0x36, 0x3D, 0x23, 0x40, 0x40, 0x45,
                              0x6B, 0x46, 0x3F, 0x44, 0x3A, 0x38, 0x3F, 0x36, 0x35, 0x20, 0x44, 0x39, 0x40,
                              0x43, 0x45, 0x6D, 0x22, 0x00, 0x00};
const Bytes kNoTypeRecord = {0x00, 0x00, 0x03, 0x22, 0xD3, 0x3F, 0x45, 0x22, 0x00, 0x00};

// Stored in the encoded writing form whatever the byte order (no type, "$nt",
// in the object-record tests' preamble); loaded into the caller's string
// ("untouched" when nothing), or the error it raises.
TEST(PersistTypeRecord, StoresAndLoads)
{
    EXPECT_EQ(storeTypeName("class ccPelRoot<wchar_t>", ccArchive::bigEndian), kPelRootRecord);
    ccStdExceptStartup();
    // Registered under wchar_t, read as unsigned short; a null factory is ignored.
    for (const char* name : {"class ccProbe<unsigned char>", "class ccPelRoot<wchar_t>"})
        ccPersistentRegistrar(name, [] { return static_cast<ccPersistent*>(nullptr); }); // only named
    ccPersistentRegistrar("class ccNullProbe", nullptr);
    const struct { Bytes record; std::string name; uint32_t error = 0; const wchar_t* file = L""; } rows[] = {
        {kPelRootRecord, "class ccPelRoot<unsigned short>"},
        {kNoTypeRecord, "untouched"},
        // "<c_UInt8>" is read as unsigned char, and anything after it dropped.
        {plainRecord("ccProbe<c_UInt8>::Tail"), "class ccProbe<unsigned char>"},
        // A plain name (no bit 7 on its first byte) is taken as it stands.
        {plainRecord("ccArchive::Eof"), "class ccArchive::Eof"},
        {plainRecord("ccArchive::Eof", 1, 0), "untouched", ccArchive::UnknownVersion::kCode, L"archutil"},
        {plainRecord("ccArchive::Eof", 0, 0, {0, 1}), "untouched", ccArchive::BadFile::kCode, L"archutil"},
        {plainRecord("ccNullProbe"), "class ccNullProbe", ccArchive::UnknownType::kCode, L"archutil"},
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

// Both ways (wchar_t becomes unsigned short: the type records').
TEST(TypeNames, CompilerAndCanonicalForms)
{
    const struct { const char* compiler; const char* canonical; } rows[] = {
        {"class ccA<class ccB<class ccC> >::Inner<signed char,double>", "ccA<ccB<ccC>>::Inner<signed char,double>"},
        // The leading part of a built-in stays bare; a longer word does not.
        {"class ccX<unsigned,c>", "ccX<unsigned,c>"},
        {"class ccY<class charge>", "ccY<charge>"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ccCanonicalTypeName(r.compiler), r.canonical);
        EXPECT_EQ(ccCompilerTypeName(r.canonical), r.compiler);
    }
}

} // namespace
