#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/parallel_io.h"
#include "modules/startup.h"
#include "std/except/archutil.h"
#include "std/except/except.h"
#include "std/except/persist.h"
#include "tests/std/except/archive_support.h"
#include "tests/support/raised.h"

namespace {

using namespace archive_support;
using raised::isType;
using raised::raiseCaughtAs;

const std::wstring kNoInfo = L"no further information provided";

// The proxies reach pels through an accelerator as through any communicator.
static_assert(std::is_base_of<ccCommunicator, ccAccelerator>::value, "an accelerator is a communicator");

struct Row {
    uint32_t code;
    std::string name; // stored as "class " + name
    const std::type_info* type;
    ccPersistent* (*create)();
    // The error as a sender makes it: with a message and a last error when
    // the class carries them.
    ccException* (*make)();
    const std::type_info* (*caughtAsOwn)(ccException*);
    const std::type_info* (*caughtAsFamily)(ccException*);
    // What the family level's version error carries.
    std::wstring familyLevel;
    // What the made error archives after the four version bytes (its own,
    // the family's, ccException's and ccPersistent's).
    Bytes fields;
    std::wstring printed; // by the made error
};

// "Lost" and 5: 4 UTF-16 units between the string marks, then the word.
const Bytes kLostAnd5 = {0x04, 0xFF, 0xFE, 'L', 0, 'o', 0, 's', 0, 't', 0, 0xFF, 0xFE, 0x05, 0x00, 0x00, 0x00};

template <class T>
ccException* makeSent()
{
    return new T(L"Lost", 5u);
}

template <class T>
ccException* makeDefault()
{
    return new T;
}

template <class T>
Row board(uint32_t code, const char* name)
{
    return {code, name, &typeid(T), &T::cmCreate, &makeSent<T>, &raiseCaughtAs<T>, &raiseCaughtAs<ccBoard::Errors>,
            L"ccBoard::Errors class version mismatch", kLostAnd5, L"Lost : LastError = 5"};
}

template <class T>
Row accelerator(uint32_t code, const char* name)
{
    return {code, name, &typeid(T), &T::cmCreate, &makeSent<T>, &raiseCaughtAs<T>,
            &raiseCaughtAs<ccAccelerator::Errors>, L"ccAccelerator::Errors class version mismatch", kLostAnd5,
            L"Lost : LastError = 5"};
}

template <class T>
Row lines(uint32_t code, const char* name)
{
    return {code, name, &typeid(T), &T::cmCreate, &makeDefault<T>, &raiseCaughtAs<T>,
            &raiseCaughtAs<ccParallelIO::Errors>, L"ccParallelIO::Errors", Bytes{}, kNoInfo};
}

const Row kRows[] = {
    lines<ccParallelIO::BadParams>(0x10003a00u, "ccParallelIO::BadParams"),
    lines<ccParallelIO::CannotEnable>(0x10003a01u, "ccParallelIO::CannotEnable"),
    lines<ccParallelIO::NotEnabled>(0x10003a03u, "ccParallelIO::NotEnabled"),
    lines<ccParallelIO::NotImplemented>(0x10003a04u, "ccParallelIO::NotImplemented"),
    lines<ccParallelIO::Unspecified>(0x10003a05u, "ccParallelIO::Unspecified"),
    board<ccBoard::BadParams>(0x10002c00u, "ccBoard::BadParams"),
    board<ccBoard::StaticInitDisorder>(0x10002c01u, "ccBoard::StaticInitDisorder"),
    board<ccBoard::NotSupported>(0x10002c02u, "ccBoard::NotSupported"),
    board<ccBoard::HardwareNotResponding>(0x10002c03u, "ccBoard::HardwareNotResponding"),
    board<ccBoard::Timeout>(0x10002c04u, "ccBoard::Timeout"),
    board<ccBoard::HardwareInUse>(0x10002c08u, "ccBoard::HardwareInUse"),
    board<ccBoard::HardwareNotInitialized>(0x10002c09u, "ccBoard::HardwareNotInitialized"),
    board<ccBoard::FpgaLoadFailure>(0x10002c0bu, "ccBoard::FpgaLoadFailure"),
    board<ccBoard::BadEERAMContents>(0x10002c0cu, "ccBoard::BadEERAMContents"),
    board<ccBoard::MultiProcessAccessFailed>(0x10002c0du, "ccBoard::MultiProcessAccessFailed"),
    accelerator<ccAccelerator::BadFile>(0x10002c05u, "ccAccelerator::BadFile"),
    accelerator<ccAccelerator::BootFailure>(0x10002c06u, "ccAccelerator::BootFailure"),
    accelerator<ccAccelerator::ConnectionBroken>(0x10002c0au, "ccAccelerator::ConnectionBroken"),
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class ModuleError : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override { ccModulesStartup(); }
};

TEST_P(ModuleError, RegisteredUnderItsStoredNameWithItsCode)
{
    const Row& r = GetParam();
    ccPersistentFactory factory = ccFindFactory("class " + r.name);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory, r.create);
    std::unique_ptr<ccPersistent> made(factory());
    const ccPersistent& p = *made;
    EXPECT_TRUE(typeid(p) == *r.type);
    EXPECT_EQ(p.storedTypeName(), "class " + r.name);
    auto* e = dynamic_cast<ccException*>(made.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->code(), r.code);
    EXPECT_EQ(e->message(true), widen(r.name) + L": " + kNoInfo);
}

// raise() deletes the heap object; AddressSanitizer reports a leak if not.
TEST_P(ModuleError, RaisedAsItsOwnClassAndCaughtByItsFamily)
{
    const Row& r = GetParam();
    EXPECT_TRUE(isType(r.caughtAsOwn(r.make()), *r.type));
    EXPECT_TRUE(isType(r.caughtAsFamily(r.make()), *r.type));
}

TEST_P(ModuleError, ArchivesFourVersionBytesThenItsFields)
{
    const Row& r = GetParam();
    std::unique_ptr<ccException> e(r.make());
    EXPECT_EQ(e->message(), r.printed);
    EXPECT_EQ(store(kLittle, [&](ccArchive& ar) { ccArchiveObject(*e, ar, false); }), cat(Bytes(4, 0x00), r.fields));
}

TEST_P(ModuleError, RecreatedFromAnArchiveByItsStoredName)
{
    const Row& r = GetParam();
    std::unique_ptr<ccException> sent(r.make());
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, sent.get(), unused);
    });
    Loader l(all);
    ccPersistent* p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    ccException* loaded = dynamic_cast<ccException*>(p);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(typeid(*loaded) == *r.type);
    EXPECT_EQ(loaded->message(true), widen(r.name) + L": " + r.printed);
    EXPECT_TRUE(isType(r.caughtAsOwn(loaded), *r.type));
}

// A version byte of 1 at the class's level names the class, at the family's
// level the family's text.
TEST_P(ModuleError, NewerVersionNamesTheLevel)
{
    const Row& r = GetParam();
    const std::wstring expected[] = {widen(r.name), r.familyLevel};
    for (size_t level = 0; level < 2; ++level) {
        SCOPED_TRACE(level);
        Bytes bytes = cat(Bytes(4, 0x00), r.fields);
        bytes[level] = 1;
        std::unique_ptr<ccPersistent> target(r.create()); // owned: it is left partly loaded
        Loader l(Loader::framed(bytes));
        try {
            ccArchiveObject(*target, l.ar(), true);
            ADD_FAILURE() << "loaded";
        } catch (const ccArchive::UnknownVersion& v) {
            EXPECT_EQ(v.file(), expected[level]);
            EXPECT_EQ(v.line(), 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, ModuleError, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

// ---------------------------------------------------------------- what is sent

// A board time-out as the driver module sends it: "Lost", last error 5.
const Bytes kSentTimeout = {
    0x02, 0x01,                                                 // header
    0x4F, 0xE5, 0x70, 0x54, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, // reference record: number 1, kind 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             //   positions A and B
    0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01, 0x00, 0x00, 0x00,       // class block: link block, number 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00,                                           //   size form
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //   size, position
    0x00, 0x00, 0x10, 0x22, 0xB4, 0x34, 0x71, 0x40, 0x32, 0x43, 0x35, 0x69, // type record "ccBoard::Timeout"
    0x69, 0x25, 0x3A, 0x3E, 0x36, 0x40, 0x46, 0x45, 0x22, 0x00, 0x00,       //
    0x00, 0x00, 0x00, 0x00, // the four levels
    0x04, 0xFF, 0xFE, 'L', 0, 'o', 0, 's', 0, 't', 0, 0xFF, 0xFE, 0x05, 0x00, 0x00, 0x00, // message, last error
};

TEST(SentModuleError, BoardTimeoutLoadsAsItselfWithMessageAndLastError)
{
    ccModulesStartup();
    Loader l(kSentTimeout);
    ccPersistent* p = nullptr;
    archivePointer(l.ar(), nullptr, p);
    std::unique_ptr<ccBoard::Timeout> loaded(dynamic_cast<ccBoard::Timeout*>(p));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->text(), L"Lost");
    EXPECT_EQ(loaded->lastError(), 5u);
    EXPECT_EQ(loaded->message(true), L"ccBoard::Timeout: Lost : LastError = 5");
}

// ---------------------------------------------------------------- printing

TEST(ModuleErrorText, MessageThenLastErrorWhenNotZero)
{
    const struct {
        const wchar_t* message;
        uint32_t lastError;
        const wchar_t* printed;
    } kCases[] = {
        {nullptr, 0, L"no further information provided"},
        {L"", 0, L"no further information provided"},
        {L"Lost", 0, L"Lost"},
        {nullptr, 5, L" : LastError = 5"},
        {L"Lost", 0xFFFFFFFFu, L"Lost : LastError = 4294967295"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ccBoard::NotSupported(c.message, c.lastError).message(), c.printed);
        EXPECT_EQ(ccAccelerator::BadFile(c.message, c.lastError).message(), c.printed);
    }
}

} // namespace
