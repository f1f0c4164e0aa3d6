#include <gtest/gtest.h>

#include <set>
#include <string>

#include "comframe/classids.h"
#include "grabber/typelib.h"
#include "platform/com/bstr.h"

namespace {

// The library the module registers at load: every interface a client can
// bind to by name is there once, under a GUID of its own.
TEST(ModuleTypeLibrary, IsRegisteredAtLoadWithEachInterfaceOnce)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Qorx7320, 1, 0, 0, &lib), S_OK);
    const UINT count = lib->GetTypeInfoCount();
    EXPECT_EQ(count, 38u);
    std::set<std::u16string> names;
    std::set<std::string> guids;
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(lib->GetTypeInfo(i, &info), S_OK);
        BSTR name = nullptr;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_TRUE(names.insert(std::u16string(name, SysStringLen(name))).second);
        SysFreeString(name);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_TRUE(guids.insert(std::string(reinterpret_cast<const char*>(&attr->guid), sizeof(GUID))).second) << i;
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    lib->Release();
}

} // namespace
