#include "platform/com/stream.h"

#include "platform/com/bstr.h"
#include "tests/support/com_counted.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Stream {
    Stream() { EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, 1, &p)); }
    explicit Stream(IStream* held) : p(held) { }
    ~Stream() { if (p) p->Release(); }
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

    Stream copy(nullptr);
    ASSERT_EQ(S_OK, s.p->Clone(&copy.p)); // the same bytes, its own position
    EXPECT_EQ(9u, copy.seek(0, STREAM_SEEK_END));
    ASSERT_EQ(S_OK, s.p->SetSize(ULARGE_INTEGER{ 3 }));
    EXPECT_EQ(3u, copy.seek(0, STREAM_SEEK_END));
    IStream* refused = nullptr;
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(buffer, 1, &refused));
}

TEST(MemoryStream, NullBuffersAndOutOfRangeSizesAreRefused)
{
    Stream s;
    ASSERT_EQ(S_OK, s.p->Write("abc", 3, nullptr));
    ULONG moved = 7;
    EXPECT_EQ(E_POINTER, s.p->Read(nullptr, 1, &moved));
    EXPECT_EQ(E_POINTER, s.p->Write(nullptr, 1, &moved));
    EXPECT_EQ(7u, moved);
    EXPECT_EQ(S_OK, s.p->Write(nullptr, 0, &moved)); // nothing to take
    EXPECT_EQ(0u, moved);
    EXPECT_EQ(E_POINTER, s.p->Stat(nullptr, STATFLAG_NONAME));
    EXPECT_EQ(E_POINTER, s.p->Clone(nullptr));
    EXPECT_EQ(E_POINTER, s.p->CopyTo(nullptr, ULARGE_INTEGER{ 1 }, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, CreateStreamOnHGlobal(nullptr, 1, nullptr));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, s.p->LockRegion(ULARGE_INTEGER{ 0 }, ULARGE_INTEGER{ 1 }, 0));

    // Neither a size nor a write past the largest stream changes it.
    const uint64_t beyond = uint64_t(1) << 41;
    EXPECT_EQ(STG_E_MEDIUMFULL, s.p->SetSize(ULARGE_INTEGER{ beyond }));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, s.p->Seek(LARGE_INTEGER{ int64_t(beyond) }, STREAM_SEEK_SET, nullptr));
    s.seek((int64_t(1) << 40) - 1, STREAM_SEEK_SET);
    EXPECT_EQ(STG_E_MEDIUMFULL, s.p->Write("xy", 2, nullptr));
    STATSTG stat;
    ASSERT_EQ(S_OK, s.p->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(3u, stat.cbSize.QuadPart);
}

TEST(MemoryStream, CopyToMovesBothPositionsAndCountsWhatItMoved)
{
    const struct {
        uint64_t from, asked, read;
    } cases[] = { { 0, 10000, 10000 }, { 9000, 10000, 1000 }, { 500, 0, 0 }, { 10000, 5, 0 }, { 12000, 5, 0 } };
    std::vector<char> bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    for (const auto& c : cases) {
        Stream source, target;
        ASSERT_EQ(S_OK, source.p->Write(bytes.data(), ULONG(bytes.size()), nullptr));
        ASSERT_EQ(S_OK, target.p->Write("ab", 2, nullptr));
        source.seek(int64_t(c.from), STREAM_SEEK_SET);
        ULARGE_INTEGER read{ 0xDEAD }, written{ 0xDEAD };
        EXPECT_EQ(S_OK, source.p->CopyTo(target.p, ULARGE_INTEGER{ c.asked }, &read, &written)) << c.from;
        EXPECT_EQ(std::make_pair(c.read, c.read), std::make_pair(read.QuadPart, written.QuadPart)) << c.from;
        EXPECT_EQ(c.from + c.read, source.seek(0, STREAM_SEEK_CUR)) << c.from;
        EXPECT_EQ(2 + c.read, target.seek(0, STREAM_SEEK_END)) << c.from;
        std::vector<char> copied(c.read + 1);
        target.seek(2, STREAM_SEEK_SET);
        ULONG got = 0;
        EXPECT_EQ(S_OK, target.p->Read(copied.data(), ULONG(copied.size()), &got));
        ASSERT_EQ(c.read, got);
        EXPECT_EQ(0, std::memcmp(copied.data(), bytes.data() + c.from, c.read)) << c.from;
    }
}

struct Enumerator {
    explicit Enumerator(IEnumVARIANT* held) : p(held) { }
    explicit Enumerator(const std::vector<LONG>& numbers)
    {
        std::vector<VARIANT> values(numbers.size());
        for (size_t i = 0; i < numbers.size(); ++i) values[i].vt = VT_I4, values[i].lVal = numbers[i];
        EXPECT_EQ(S_OK, plat::com::createVariantEnumerator(values.data(), ULONG(values.size()), &p));
    }
    ~Enumerator() { if (p) p->Release(); }
    // The numbers of the next count values; fetched, and the result, as they came.
    std::vector<LONG> next(ULONG count, HRESULT expected)
    {
        std::vector<VARIANT> out(count + 1);
        out[count].vt = VT_ERROR; // past what was asked: untouched
        ULONG fetched = 0xDEAD;
        EXPECT_EQ(expected, p->Next(count, out.data(), &fetched));
        EXPECT_EQ(VT_ERROR, out[count].vt);
        EXPECT_LE(fetched, count);
        std::vector<LONG> numbers;
        for (ULONG i = 0; i < fetched && i < count; ++i) {
            EXPECT_EQ(VT_I4, out[i].vt);
            numbers.push_back(out[i].lVal);
        }
        return numbers;
    }
    IEnumVARIANT* p = nullptr;
};

TEST(VariantEnumerator, NextSkipResetAndCloneWalkTheValuesOnce)
{
    Enumerator e({ 1, 2, 3, 4, 5 });
    EXPECT_EQ(std::vector<LONG>({ 1, 2 }), e.next(2, S_OK));
    EXPECT_EQ(S_OK, e.p->Skip(1));
    Enumerator copy(nullptr);
    ASSERT_EQ(S_OK, e.p->Clone(&copy.p)); // at the same place, then on its own
    EXPECT_EQ(std::vector<LONG>({ 4, 5 }), e.next(3, S_FALSE));
    EXPECT_EQ(std::vector<LONG>(), e.next(1, S_FALSE));
    EXPECT_EQ(S_FALSE, e.p->Skip(1));
    EXPECT_EQ(S_OK, e.p->Reset());
    EXPECT_EQ(S_FALSE, e.p->Skip(9));
    EXPECT_EQ(std::vector<LONG>(), e.next(1, S_FALSE));

    EXPECT_EQ(std::vector<LONG>({ 4 }), copy.next(1, S_OK));
    EXPECT_EQ(E_POINTER, copy.p->Next(1, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, copy.p->Clone(nullptr));
}

TEST(VariantEnumerator, ItOwnsCopiesThatOutliveTheSourceAndItsClones)
{
    CountedDispatch object;
    VARIANT values[2] = {};
    values[0].vt = VT_DISPATCH, values[0].pdispVal = &object;
    values[1].vt = VT_BSTR, values[1].bstrVal = SysAllocString(u"text");
    IEnumVARIANT* e = nullptr;
    ASSERT_EQ(S_OK, plat::com::createVariantEnumerator(values, 2, &e));
    EXPECT_EQ(1u, object.count);
    SysFreeString(values[1].bstrVal); // the enumerator keeps its own
    IEnumVARIANT* copy = nullptr;
    ASSERT_EQ(S_OK, e->Clone(&copy));
    e->Release(); // the clone still holds the values
    EXPECT_EQ(1u, object.count);
    VARIANT out[2];
    ASSERT_EQ(S_OK, copy->Next(2, out, nullptr));
    EXPECT_EQ(2u, object.count);
    EXPECT_EQ(u"text", std::u16string(out[1].bstrVal));
    EXPECT_EQ(S_OK, VariantClear(&out[0]));
    EXPECT_EQ(S_OK, VariantClear(&out[1]));
    copy->Release();
    EXPECT_EQ(0u, object.count);

    EXPECT_EQ(E_POINTER, plat::com::createVariantEnumerator(nullptr, 1, &e));
    ASSERT_EQ(S_OK, plat::com::createVariantEnumerator(nullptr, 0, &e)); // empty
    EXPECT_EQ(S_FALSE, e->Next(1, out, nullptr));
    e->Release();
}

} // namespace
