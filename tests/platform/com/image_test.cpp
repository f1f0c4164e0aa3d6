#include "platform/com/image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/com/typeinfo.h"

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

        // The pels, by the method and by name: a SAFEARRAY of them all.
        const auto expectPels = [&](SAFEARRAY* pels) {
            void* data = nullptr;
            EXPECT_EQ(pels->rgsabound[0].cElements, ULONG(count));
            ASSERT_EQ(SafeArrayAccessData(pels, &data), S_OK);
            EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + count),
                      std::vector<uint8_t>(image->pelData(), image->pelData() + count));
            SafeArrayUnaccessData(pels);
        };
        SAFEARRAY* pels = nullptr;
        ASSERT_EQ(image->get_Pels(&pels), S_OK);
        expectPels(pels);
        SafeArrayDestroy(pels);

        const struct { const char16_t* name; VARTYPE vt; LONG value; } properties[] = {
            {u"Width", VT_I4, width}, {u"Height", VT_I4, height}, {u"PelFormat", VT_I4, c.format},
            {u"Pels", VT_ARRAY | VT_UI1, 0}};
        for (const auto& p : properties) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(p.name)};
            DISPID id = DISPID_UNKNOWN;
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            VARIANT result{};
            ASSERT_EQ(image->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
            ASSERT_EQ(image->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
            ASSERT_EQ(result.vt, p.vt);
            if (p.vt == VT_I4)
                EXPECT_EQ(result.lVal, p.value);
            else
                expectPels(result.parray);
            VariantClear(&result);
        }
        EXPECT_EQ(image->Release(), 0u);
    }
}

// An image answers IUnknown, IDispatch and IQorImage and describes itself by
// one type information; it cannot be changed through IDispatch, and null out
// pointers are refused.
TEST(Image, AnswersItsInterfacesAndTypeInformationAndRefusesChanges)
{
    const uint8_t row[2] = {1, 2};
    const uint8_t* rows[] = {row};
    IQorImage* image = nullptr;
    ASSERT_EQ(plat::com::createImage(2, 1, qorImageGrey8, rows, &image), S_OK);
    const IID other = {0x6E1A3D02, 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x49, 0x6D, 0x01}};
    for (const IID& iid : {IID_IUnknown, IID_IDispatch, IID_IQorImage, other}) {
        void* got = image;
        const bool offered = iid != other;
        EXPECT_EQ(image->QueryInterface(iid, &got), offered ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(got, offered ? image : nullptr);
        if (got) image->Release();
    }
    EXPECT_EQ(image->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    UINT count = 0;
    EXPECT_EQ(image->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(image->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IQorImage);
    info->ReleaseTypeAttr(attr);
    info->Release();
    EXPECT_EQ(image->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);

    VARIANT width{};
    width.vt = VT_I4, width.lVal = 9;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&width, &named, 1, 1};
    EXPECT_EQ(image->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    LONG value = 0;
    EXPECT_EQ(image->get_Width(&value), S_OK);
    EXPECT_EQ(value, 2);

    EXPECT_EQ(image->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(image->GetTypeInfo(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(image->get_Width(nullptr), E_POINTER);
    EXPECT_EQ(image->get_Pels(nullptr), E_POINTER);
    EXPECT_EQ(image->Release(), 0u);
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
