#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <sstream>
#include <string>
#include <typeinfo>

#include "std/except/except.h"
#include "std/except/persistent.h"
#include "std/except/resource.h"
#include "std/threadid.h"
#include "std/timeout.h"
#include "tests/support/raised.h"

namespace {

const std::wstring kNoInfo = L"no further information provided";

using raised::isType;
using raised::raiseCaughtAs;

struct ErrorRow {
    uint32_t code;
    std::string canonicalName; // stored as "class " + this
    const std::type_info* type;
    ccPersistent* (*create)();
    const std::type_info* (*caughtAsOwn)(ccException*);
    const std::type_info* (*caughtAsRoot)(ccException*);
};

template <class T, class Root>
ErrorRow row(uint32_t code, const char* canonical)
{
    return {code, canonical, &typeid(T), &T::cmCreate, &raiseCaughtAs<T>, &raiseCaughtAs<Root>};
}

// Root is what a caller catches the error by: its family root, or
// ccTimeout::Expired for the time-outs derived from it.
const ErrorRow kErrors[] = {
    row<ccInvariantFailure, ccException>(0x10000001u, "ccInvariantFailure"),
    row<ccUnknownError, ccExceptionWithString>(0x10000004u, "ccUnknownError"),
    row<ccBadPointer, ccException>(0x10000008u, "ccBadPointer"),
    row<ccUnsupportedHW, ccException>(0x1000000Au, "ccUnsupportedHW"),
    row<cc_Resource::Timeout, cc_Resource::Errors>(0x10002100u, "cc_Resource::Timeout"),
    row<cc_Resource::NamedObjectExists, cc_Resource::Errors>(0x10002102u, "cc_Resource::NamedObjectExists"),
    row<cc_Resource::NameConflict, cc_Resource::Errors>(0x10002104u, "cc_Resource::NameConflict"),
    row<cc_Resource::CreateFailed, cc_Resource::Errors>(0x10002105u, "cc_Resource::CreateFailed"),
    row<cc_Resource::BrokenLock, cc_Resource::Errors>(0u, "cc_Resource::BrokenLock"),
    row<ccThreadID::CouldNotRegister, ccException>(0x10002101u, "ccThreadID::CouldNotRegister"),
    row<ccThreadID::CreateFailed, ccException>(0x10002103u, "ccThreadID::CreateFailed"),
    row<ccTimeout::Expired, ccException>(0x10001500u, "ccTimeout::Expired"),
    row<ccTimeout::InternalExpired, ccTimeout::Expired>(0x10001501u, "ccTimeout::InternalExpired"),
    row<ccTimeout::Cancel, ccTimeout::Expired>(0x10001502u, "ccTimeout::Cancel"),
};

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class ErrorClass : public ::testing::TestWithParam<ErrorRow> {
protected:
    // A fresh heap error from the factory, as the archive would make it.
    ccException* make() const { return dynamic_cast<ccException*>(GetParam().create()); }
};

TEST_P(ErrorClass, FactoryGivesDefaultInstanceWithCodeAndNames)
{
    const ErrorRow& r = GetParam();
    ccPersistent* p = r.create();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(typeid(*p) == *r.type);
    EXPECT_EQ(p->storedTypeName(), "class " + r.canonicalName);
    auto* e = dynamic_cast<ccException*>(p);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->code(), r.code);
    EXPECT_EQ(e->message(false), kNoInfo);
    EXPECT_EQ(e->message(true), widen(r.canonicalName) + L": " + kNoInfo);
    delete p;
    // The stored name survives the trip through the writing form.
    EXPECT_EQ(ccCanonicalTypeName("class " + r.canonicalName), r.canonicalName);
    EXPECT_EQ(ccCompilerTypeName(r.canonicalName), "class " + r.canonicalName);
}

// The heap objects are deleted by raise(); ASan reports a leak if not.
TEST_P(ErrorClass, RaiseThrowsCopyCaughtAsOwnClassRootAndBase)
{
    const ErrorRow& r = GetParam();
    EXPECT_TRUE(isType(r.caughtAsOwn(make()), *r.type));
    EXPECT_TRUE(isType(r.caughtAsRoot(make()), *r.type));
    EXPECT_TRUE(isType(raiseCaughtAs<ccException>(make()), *r.type));
}

INSTANTIATE_TEST_SUITE_P(AllDeclared, ErrorClass, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<ErrorRow>& info) {
                             std::string name = info.param.canonicalName;
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

} // namespace
