#include "platform/com/errorinfo.h"

#include "platform/com/bstr.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

IErrorInfo* makeError(const char16_t* description)
{
    ICreateErrorInfo* create = nullptr;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetSource(const_cast<LPOLESTR>(u"Qor.Source"));
    create->SetGUID(IID_IDispatch);
    create->SetHelpContext(7);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    return info;
}

TEST(ComErrorInfo, GetHandsOutTheThreadsObjectAndClearsTheSlot)
{
    IErrorInfo* info = makeError(u"broken");
    EXPECT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();

    // Another thread has a slot of its own.
    std::thread([] {
        IErrorInfo* seen = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &seen), S_FALSE);
        IErrorInfo* other = makeError(u"other");
        EXPECT_EQ(SetErrorInfo(0, other), S_OK); // released when the thread ends
        other->Release();
    }).join();

    IErrorInfo* got = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_NE(got, nullptr);
    BSTR description = nullptr, source = nullptr;
    GUID guid = GUID_NULL;
    DWORD context = 0;
    EXPECT_EQ(got->GetDescription(&description), S_OK);
    EXPECT_EQ(got->GetSource(&source), S_OK);
    EXPECT_EQ(got->GetGUID(&guid), S_OK);
    EXPECT_EQ(got->GetHelpContext(&context), S_OK);
    EXPECT_EQ(std::u16string(description), u"broken");
    EXPECT_EQ(std::u16string(source), u"Qor.Source");
    EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));
    EXPECT_EQ(context, 7u);
    SysFreeString(description);
    SysFreeString(source);
    got->Release();

    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);
    // Setting null clears.
    info = makeError(u"dropped");
    EXPECT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

} // namespace
