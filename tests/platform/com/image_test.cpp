#include "platform/com/image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A grey and a colour image read back through the pointer, the SAFEARRAY and
// IDispatch by name; the rows are copies, not the caller's memory.
TEST(Image, HoldsACopyOfItsRowsReadableEveryWay)
{
    const struct { int32_t format; int32_t planes; } cases[] = {{qorImageGrey8, 1}, {qorImagePlanar3, 3}};
    for (const auto& c : cases) {
        const int32_t width = 3, height = 2;
        std::vector<std::vector<uint8_t>> rows;
        std::vector<const uint8_t*> pointers;
        for (int32_t r = 0; r < height * c.planes; ++r) {
            rows.push_back({uint8_t(10 * r), uint8_t(10 * r + 1), uint8_t(10 * r + 2)});
            pointers.push_back(rows.back().data());
        }
        IQorImage* image = nullptr;
        ASSERT_EQ(plat::com::createImage(width, height, c.format, pointers.data(), &image), S_OK);
        rows.assign(rows.size(), std::vector<uint8_t>(3, 0xFF)); // the caller's memory changes
        const int32_t count = width * height * c.planes;
        for (int32_t i = 0; i < count; ++i) EXPECT_EQ(image->pelData()[i], uint8_t(10 * (i / 3) + i % 3));

        SAFEARRAY* pels = nullptr;
        void* data = nullptr;
        ASSERT_EQ(image->get_Pels(&pels), S_OK);
        EXPECT_EQ(pels->rgsabound[0].cElements, ULONG(count));
        ASSERT_EQ(SafeArrayAccessData(pels, &data), S_OK);
        EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + count),
                  std::vector<uint8_t>(image->pelData(), image->pelData() + count));
        SafeArrayUnaccessData(pels);
        SafeArrayDestroy(pels);

        const struct { const char16_t* name; LONG value; } properties[] = {
            {u"Width", width}, {u"Height", height}, {u"PelFormat", c.format}};
        for (const auto& p : properties) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(p.name)};
            DISPID id = DISPID_UNKNOWN;
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            VARIANT result{};
            ASSERT_EQ(image->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
            ASSERT_EQ(image->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
            EXPECT_EQ(result.lVal, p.value);
        }
        EXPECT_EQ(image->Release(), 0u);
    }
}

TEST(Image, BadInputIsRefused)
{
    const uint8_t row[4] = {};
    const uint8_t* rows[] = {row, nullptr};
    const struct { int32_t width, height, format; const uint8_t* const* rows; HRESULT hr; } cases[] = {
        {4, 1, 2, rows, E_INVALIDARG}, {-1, 1, qorImageGrey8, rows, E_INVALIDARG},
        {4, -1, qorImageGrey8, rows, E_INVALIDARG}, {65536, 65536, qorImageGrey8, rows, E_INVALIDARG},
        {4, 1, qorImageGrey8, nullptr, E_POINTER}, {4, 2, qorImageGrey8, rows, E_POINTER},
        {0, 0, qorImageGrey8, nullptr, S_OK}};
    for (const auto& c : cases) {
        IQorImage* image = nullptr;
        EXPECT_EQ(plat::com::createImage(c.width, c.height, c.format, c.rows, &image), c.hr);
        EXPECT_EQ(image != nullptr, c.hr == S_OK);
        if (image) image->Release();
    }
}

} // namespace
