#include <gtest/gtest.h>

#include <memory>

#include "std/except/persist.h"
#include "std/except/status.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/startup.h"
#include "tests/support/bytes.h"

namespace {

using test_bytes::Bytes;

TEST(PelErrors, Facility30ThrowsUnboundWindowAndNonlinearXform)
{
    ccStdPelbufStartup();
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x800003C3u)), ccPel::UnboundWindow);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x800003CAu)), ccPel::NonlinearXform);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x800003C9u)), ccUnknownError);
}

// Each class: its code, its registered factory, its version byte and then
// the family's, the exception's and the persistent level's.
template <class E>
void checkError(uint32_t code, const char* levelName)
{
    SCOPED_TRACE(levelName);
    E e;
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), L"no further information provided");
    ccPersistentFactory make = ccFindFactory(E::kStoredName);
    ASSERT_NE(make, nullptr);
    std::unique_ptr<ccPersistent> made(make());
    ASSERT_NE(dynamic_cast<E*>(made.get()), nullptr);
    EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); }),
              (Bytes{0x02, 0x01, 0x00, 0x00, 0x00, 0x00}));
    try {
        test_bytes::load(Bytes{0x02, 0x01, 0x01, 0x00, 0x00, 0x00},
                         [&](ccArchive& ar) { ccArchiveObject(*made, ar, false); });
        ADD_FAILURE() << "a newer version was accepted";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), std::wstring(levelName, levelName + strlen(levelName)));
    }
}

TEST(PelErrors, EveryClassIsRegisteredAndArchivesItsLevels)
{
    ccStdPelbufStartup();
    checkError<ccPel::UnboundWindow>(0x10000400u, "ccPel::UnboundWindow");
    checkError<ccPel::BadWindow>(0x10000402u, "ccPel::BadWindow");
    checkError<ccPel::DisjointWindows>(0x10000403u, "ccPel::DisjointWindows");
    checkError<ccPel::Unknown>(0x10000406u, "ccPel::Unknown");
    checkError<ccPel::NonlinearXform>(0x10000409u, "ccPel::NonlinearXform");
}

TEST(PelErrors, BadCoordCarriesItsCoordinates)
{
    ccStdPelbufStartup();
    ccPel::BadCoord e(-1, 7);
    EXPECT_EQ(e.code(), 0x10000405u);
    EXPECT_EQ(e.message(), L"x=-1, y=7");
    EXPECT_EQ(e.message(true), L"ccPel::BadCoord: x=-1, y=7");

    const Bytes bytes = test_bytes::store(ccArchive::bigEndian, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(bytes, (Bytes{0x02, 0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 7}));
    std::unique_ptr<ccPersistent> made(ccFindFactory("class ccPel::BadCoord")());
    auto* loaded = dynamic_cast<ccPel::BadCoord*>(made.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->x(), 0);
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(*loaded, ar, false); });
    EXPECT_EQ(loaded->x(), -1);
    EXPECT_EQ(loaded->y(), 7);

    // Its version error names the source and line, not the class.
    try {
        test_bytes::load(Bytes{0x02, 0x01, 0x02}, [&](ccArchive& ar) { ccArchiveObject(*loaded, ar, false); });
        FAIL() << "a newer version was accepted";
    } catch (const ccArchive::UnknownVersion& v) {
        EXPECT_EQ(v.file(), L"std/pelbuf/pbuf_com");
        EXPECT_EQ(v.line(), 930u);
    }
}

} // namespace
