#include <gtest/gtest.h>

#include "std/except/persist.h"
#include "std/pelbuf/pel_errors.h"
#include "tests/support/bytes.h"

// Codes, names, registration and the thrower of every pel error are in the
// catalogue of tests/grabber; here are the coordinates BadCoord carries.
namespace {

using test_bytes::Bytes;

TEST(PelErrors, BadCoordPrintsAndArchivesItsCoordinates)
{
    ccPel::BadCoord e(-1, 7);
    EXPECT_EQ(e.message(), L"x=-1, y=7");
    const Bytes bytes = test_bytes::store(ccArchive::bigEndian, [&](ccArchive& ar) { ccArchiveObject(e, ar, false); });
    EXPECT_EQ(bytes, (Bytes{0x02, 0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 7}));
    ccPel::BadCoord loaded;
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(loaded, ar, false); });
    EXPECT_EQ(loaded.x(), -1);
    EXPECT_EQ(loaded.y(), 7);
}

} // namespace
