#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <typeinfo>

#include "defs/ch_core/rect.h"
#include "grabber/startup.h"
#include "modules/parallel_io.h"
#include "std/except/archutil.h"
#include "std/except/except.h"
#include "std/except/persist.h"
#include "std/except/resource.h"
#include "std/math/matherr.h"
#include "std/math/xfbase.h"
#include "std/math/xfpoly.h"
#include "std/pelbuf/pel_errors.h"
#include "std/rpc/remote.h"
#include "std/threadid.h"
#include "std/timeout.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

// What follows the class block: n version bytes of 0.
Bytes zeros(size_t n) { return Bytes(n, 0x00); }

// The Errors level's fields of an archive error made with ("archutil", 42).
Bytes archiveErrorContents()
{
    return cat(zeros(4), Bytes{0x08, 0xFF, 0xFE, 'a', 0, 'r', 0, 'c', 0, 'h', 0, 'u', 0, 't', 0, 'i', 0, 'l', 0,
                               0xFF, 0xFE, 42, 0, 0, 0});
}

struct Row {
    std::string name; // stored name without "class "
    const std::type_info* type;
    ccException* (*make)();
    bool (*caughtAsOwn)(ccException*); // raises the heap object
    Bytes contents;
};

template <class T>
bool raisedAs(ccException* heap)
{
    try {
        heap->raise();
    } catch (const T& e) {
        return typeid(e) == typeid(T);
    } catch (...) {
    }
    return false;
}

template <class T>
ccException* makeDefault()
{
    return new T;
}

template <class T>
ccException* makeArchiveError()
{
    return new T("archutil", 42);
}

template <class T>
Row row(const char* name, size_t levels)
{
    return {name, &typeid(T), &makeDefault<T>, &raisedAs<T>, zeros(levels)};
}

template <class T>
Row archiveRow(const char* name)
{
    return {name, &typeid(T), &makeArchiveError<T>, &raisedAs<T>, archiveErrorContents()};
}

ccException* makeBadCoord() { return new ccPel::BadCoord(-1, 7); }

// Every exception class the library registers, with its version bytes: its
// own, its family root's when it has one (or ccTimeout::Expired's), then
// ccException's and ccPersistent's.
const Row kRows[] = {
    row<ccInvariantFailure>("ccInvariantFailure", 3),
    row<ccBadPointer>("ccBadPointer", 3),
    row<ccUnsupportedHW>("ccUnsupportedHW", 3),
    row<ccUnknownError>("ccUnknownError", 3),
    row<ccPel::UnboundWindow>("ccPel::UnboundWindow", 4),
    row<ccPel::BadWindow>("ccPel::BadWindow", 4),
    row<ccPel::DisjointWindows>("ccPel::DisjointWindows", 4),
    {"ccPel::BadCoord", &typeid(ccPel::BadCoord), &makeBadCoord, &raisedAs<ccPel::BadCoord>,
     cat(zeros(4), Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00})},
    row<ccPel::Unknown>("ccPel::Unknown", 4),
    row<ccPel::NonlinearXform>("ccPel::NonlinearXform", 4),
    row<cc2XformDefs::NotImplemented>("cc2XformDefs::NotImplemented", 4),
    archiveRow<ccArchive::Eof>("ccArchive::Eof"),
    archiveRow<ccArchive::BadBuffer>("ccArchive::BadBuffer"),
    archiveRow<ccArchive::BadFile>("ccArchive::BadFile"),
    archiveRow<ccArchive::BadType>("ccArchive::BadType"),
    archiveRow<ccArchive::BadContent>("ccArchive::BadContent"),
    archiveRow<ccArchive::NotFound>("ccArchive::NotFound"),
    archiveRow<ccArchive::Duplicate>("ccArchive::Duplicate"),
    archiveRow<ccArchive::UnknownType>("ccArchive::UnknownType"),
    archiveRow<ccArchive::UnknownVersion>("ccArchive::UnknownVersion"),
    archiveRow<ccArchive::NotSeekable>("ccArchive::NotSeekable"),
    archiveRow<ccArchive::UnknownArchiveVersion>("ccArchive::UnknownArchiveVersion"),
    archiveRow<ccArchive::CannotWriteToOldArchive>("ccArchive::CannotWriteToOldArchive"),
    row<ccRemoteObject::ObjectMismatch>("ccRemoteObject::ObjectMismatch", 3),
    row<cc_Resource::Timeout>("cc_Resource::Timeout", 4),
    row<cc_Resource::NamedObjectExists>("cc_Resource::NamedObjectExists", 4),
    row<cc_Resource::BrokenLock>("cc_Resource::BrokenLock", 4),
    row<cc_Resource::NameConflict>("cc_Resource::NameConflict", 4),
    row<cc_Resource::CreateFailed>("cc_Resource::CreateFailed", 4),
    row<ccThreadID::CouldNotRegister>("ccThreadID::CouldNotRegister", 3),
    row<ccThreadID::CreateFailed>("ccThreadID::CreateFailed", 3),
    row<ccTimeout::Expired>("ccTimeout::Expired", 3),
    row<ccTimeout::InternalExpired>("ccTimeout::InternalExpired", 4),
    row<ccTimeout::Cancel>("ccTimeout::Cancel", 4),
    row<ccRectErrors::NoOverlap>("ccRectErrors::NoOverlap", 4),
    row<ccRectErrors::NegativeSize>("ccRectErrors::NegativeSize", 4),
    row<ccMathError::Singular>("ccMathError::Singular", 4),
    row<ccMathError::NullVector>("ccMathError::NullVector", 4),
    row<ccMathError::DivisionByZero>("ccMathError::DivisionByZero", 4),
    row<cc2XformPoly::BadParams>("cc2XformPoly::BadParams", 3),
    row<cc2XformPoly::IllDefined>("cc2XformPoly::IllDefined", 3),
    // The hardware modules' errors are listed in tests/modules; one shows that
    // the module registers them.
    row<ccParallelIO::NotEnabled>("ccParallelIO::NotEnabled", 4),
};

class RegisteredError : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override { ccLibraryStartup(); }
};

// The stored name's type record, as the archive writes it.
Bytes typeRecordOf(const std::string& storedName)
{
    return store(kLittle, [&](ccArchive& ar) {
        std::string name = storedName;
        ccArchiveTypeName(ar, name);
    });
}

TEST_P(RegisteredError, IsRecreatedByItsStoredNameAndRaisedAsItsOwnClass)
{
    const Row& r = GetParam();
    const std::string stored = "class " + r.name;
    ccPersistentFactory factory = ccFindFactory(stored);
    ASSERT_NE(factory, nullptr);
    std::unique_ptr<ccPersistent> fromFactory(factory());
    ASSERT_NE(fromFactory, nullptr);
    const ccPersistent& made = *fromFactory;
    EXPECT_TRUE(typeid(made) == *r.type);

    std::unique_ptr<ccException> original(r.make());
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        // Stored twice: the second record refers to the first.
        Bytes all = storeAll(kLittle, seekable, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, original.get(), unused);
            archivePointer(ar, original.get(), unused);
        });
        if (!seekable) {
            const Bytes type = typeRecordOf(stored);
            const size_t contents = 2 + 18 + 35 + type.size();
            ASSERT_EQ(all.size(), contents + r.contents.size() + 18);
            EXPECT_EQ(Bytes(all.begin() + 2 + 18 + 35, all.begin() + contents), type);
            EXPECT_EQ(Bytes(all.begin() + contents, all.begin() + contents + r.contents.size()), r.contents);
        }

        Loader l(all, seekable);
        ccPersistent* p = nullptr;
        archivePointer(l.ar(), nullptr, p);
        ccException* loaded = dynamic_cast<ccException*>(p);
        ASSERT_NE(loaded, nullptr);
        EXPECT_TRUE(typeid(*loaded) == *r.type);
        EXPECT_EQ(loaded->code(), original->code());
        EXPECT_EQ(loaded->message(true), original->message(true));
        // The heap object is gone with the raise (AddressSanitizer reports a
        // leak otherwise), and with it from the archive's table.
        EXPECT_TRUE(r.caughtAsOwn(loaded));
        if (seekable) {
            // Found again through the record directory: a new object.
            ccPersistent* again = nullptr;
            archivePointer(l.ar(), nullptr, again);
            ASSERT_NE(dynamic_cast<ccException*>(again), nullptr);
            EXPECT_TRUE(r.caughtAsOwn(dynamic_cast<ccException*>(again)));
        } else {
            EXPECT_THROW(archivePointer(l.ar(), nullptr, p), ccArchive::NotFound);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, RegisteredError, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

// ---------------------------------------------------------------- exact bytes

TEST(ExceptionArchive, BadPointerGolden)
{
    ccLibraryStartup();
    ccBadPointer e;
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, &e, unused);
    });
    const Bytes expected = {
        0x02, 0x01,                                                 // header
        0x4F, 0xE5, 0x70, 0x54, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, // reference record: number 1, kind 1
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             //   positions A and B
        0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01, 0x00, 0x00, 0x00,       // class block: link block, number 1
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00,                                           //   size form
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //   size, position
        0x00, 0x00, 0x0C, 0x22, 0xB4, 0x34, 0x71, 0x32, 0x35, 0x21, // type record "ccBadPointer"
        0x40, 0x3A, 0x3F, 0x45, 0x36, 0x43, 0x22, 0x00, 0x00,       //
        0x00, 0x00, 0x00,                                           // ccBadPointer, ccException, ccPersistent
    };
    EXPECT_EQ(all, expected);

    Loader l(expected);
    ccPersistent* p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    ASSERT_NE(dynamic_cast<ccException*>(p), nullptr);
    EXPECT_THROW(dynamic_cast<ccException*>(p)->raise(), ccBadPointer);
}

// A message-carrying error of this test.
cmDeclareException(NoteError, ccExceptionWithString, 0x1000FFF2u, "class ccTestNoteError");

TEST(ExceptionArchive, MessageFollowsTheLevels)
{
    NoteError e(L"hi");
    Bytes bytes = store(kLittle, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFE, 'h', 0x00, 'i', 0x00, 0xFF, 0xFE}));
    NoteError back;
    Loader l(Loader::framed(bytes));
    ccArchiveObject(back, l.ar(), true);
    EXPECT_EQ(back.text(), L"hi");
}

TEST(ExceptionArchive, UnknownErrorLosesItsMessage)
{
    ccLibraryStartup();
    ccUnknownError e(int32_t(0x80000023u));
    ASSERT_FALSE(e.text().empty());
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, &e, unused);
    });
    EXPECT_EQ(Bytes(all.end() - 3, all.end()), zeros(3));
    Loader l(all);
    ccPersistent* p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    std::unique_ptr<ccUnknownError> loaded(dynamic_cast<ccUnknownError*>(p));
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->text().empty());
    EXPECT_EQ(loaded->message(), L"no further information provided");
}

// A version byte of 1 at one level of an error: the level it names.
template <class T>
void expectUnknownVersionAt(size_t level, size_t levels, const wchar_t* file, uint32_t line)
{
    SCOPED_TRACE(level);
    Bytes bytes = zeros(levels);
    bytes[level] = 1;
    std::unique_ptr<ccPersistent> target(T::cmCreate()); // owned: it is left partly loaded
    Loader l(Loader::framed(bytes));
    try {
        ccArchiveObject(*target, l.ar(), true);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), file);
        EXPECT_EQ(v.line(), line);
    }
}

TEST(ExceptionArchive, NewerVersionNamesTheLevel)
{
    expectUnknownVersionAt<ccBadPointer>(0, 3, L"ccBadPointer", 0);
    expectUnknownVersionAt<ccBadPointer>(1, 3, L"std/except/except", 61);
    expectUnknownVersionAt<ccBadPointer>(2, 3, L"", 0);
    expectUnknownVersionAt<NoteError>(0, 4, L"ccTestNoteError", 0);
    expectUnknownVersionAt<NoteError>(1, 4, L"std/except/except", 98);
    expectUnknownVersionAt<NoteError>(2, 4, L"std/except/except", 61);
    expectUnknownVersionAt<cc_Resource::Timeout>(0, 4, L"cc_Resource::Timeout", 0);
    expectUnknownVersionAt<cc_Resource::Timeout>(1, 4, L"cc_Resource::Errors", 0);
    expectUnknownVersionAt<ccTimeout::Cancel>(1, 4, L"ccTimeout::Expired", 0);
    expectUnknownVersionAt<ccUnknownError>(1, 3, L"std/except/except", 61);
}

} // namespace
