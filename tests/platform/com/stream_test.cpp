#include "platform/com/stream.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Stream {
    Stream() { EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, 1, &p)); }
    ~Stream() { p->Release(); }
    uint64_t seek(int64_t move, DWORD origin, HRESULT expected = S_OK)
    {
        ULARGE_INTEGER at{ 0xDEAD };
        EXPECT_EQ(expected, p->Seek(LARGE_INTEGER{ move }, origin, &at));
        return at.QuadPart;
    }
    IStream* p = nullptr;
};

TEST(MemoryStream, SeeksWithinItsRangeAndGrowsWithZerosPastTheEnd)
{
    Stream s;
    ASSERT_EQ(S_OK, s.p->Write("abcdef", 6, nullptr)); // a null "written" is allowed
    const struct {
        int64_t move;
        DWORD origin;
        HRESULT hr;
        uint64_t at;
    } cases[] = { { 2, STREAM_SEEK_SET, S_OK, 2 }, { 1, STREAM_SEEK_CUR, S_OK, 3 }, { -1, STREAM_SEEK_END, S_OK, 5 },
        { -6, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 0xDEAD }, { 0, 7, STG_E_INVALIDFUNCTION, 0xDEAD },
        { INT64_MIN, STREAM_SEEK_END, STG_E_INVALIDFUNCTION, 0xDEAD }, { 8, STREAM_SEEK_SET, S_OK, 8 } };
    for (const auto& c : cases) EXPECT_EQ(c.at, s.seek(c.move, c.origin, c.hr)) << c.move;

    ASSERT_EQ(S_OK, s.p->Write("z", 1, nullptr)); // at 8: bytes 6 and 7 become zeros
    s.seek(4, STREAM_SEEK_SET);
    char buffer[16] = {};
    ULONG got = 0;
    EXPECT_EQ(S_OK, s.p->Read(buffer, sizeof buffer, &got)); // past the end reads what there is
    EXPECT_EQ(5u, got);
    EXPECT_EQ(0, std::memcmp(buffer, "ef\0\0z", 5));

    IStream* copy = nullptr;
    ASSERT_EQ(S_OK, s.p->Clone(&copy)); // the same bytes, its own position
    STATSTG stat;
    ASSERT_EQ(S_OK, copy->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(9u, stat.cbSize.QuadPart);
    ASSERT_EQ(S_OK, s.p->SetSize(ULARGE_INTEGER{ 3 }));
    ASSERT_EQ(S_OK, copy->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(3u, stat.cbSize.QuadPart);
    copy->Release();
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(buffer, 1, &copy));
}

} // namespace
