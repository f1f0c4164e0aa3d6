#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "comframe/classids.h"
#include "grabber/itf_board.h"
#include "grabber/typelib.h"
#include "platform/com/bstr.h"

namespace {

// The library the module registers at load: every interface a client can
// bind to by name is there once, under an id of its own.
TEST(ModuleTypeLibrary, IsRegisteredAtLoadWithEachInterfaceOnce)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Qorx7320, 1, 0, 0, &lib), S_OK);
    const UINT count = lib->GetTypeInfoCount();
    EXPECT_EQ(count, 39u);
    std::set<std::u16string> names;
    std::set<GUID> ids;
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(lib->GetTypeInfo(i, &info), S_OK);
        BSTR name = nullptr;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_TRUE(names.insert(std::u16string(name, SysStringLen(name))).second);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_TRUE(ids.insert(attr->guid).second) << "a second interface or class of one id";
        info->ReleaseTypeAttr(attr);
        SysFreeString(name);
        info->Release();
    }
    lib->Release();
}

// A sink written from the library finds the input line's event with the
// line's new value as its one parameter.
TEST(ModuleTypeLibrary, DescribesTheInputLineEventWithTheValueAlone)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Qorx7320, 1, 0, 0, &lib), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID_IQorInputLineEvents, &info), S_OK);
    OLECHAR changed[] = u"Changed";
    LPOLESTR names[] = {changed};
    MEMBERID id = MEMBERID_NIL;
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id) | info->GetFuncDesc(0, &desc), S_OK);
    EXPECT_EQ(std::make_tuple(id, desc->memid, desc->cParams, desc->lprgelemdescParam[0].tdesc.vt),
              std::make_tuple(kInputLineChanged, kInputLineChanged, SHORT{1}, VARTYPE{VT_BOOL}));
    info->ReleaseFuncDesc(desc);
    info->Release();
    lib->Release();
}

} // namespace
