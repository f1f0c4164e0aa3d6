// The module as an in-process COM server, reached as a client reaches it:
// through the entry points its shared object exports, and through the
// language messages its start-up follows on the loading thread.
#include <gtest/gtest.h>

#include "comframe/langsync.h"
#include "comframe/objectmap.h"
#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "platform/module.h"
#include "platform/registry_testing.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"
#include "tests/support/com_registry.h"

namespace {

using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using ServerCall = HRESULT (*)();

class ComServerModule : public testing::Test {
protected:
    void SetUp() override
    {
        module = plat::loadModule(plat::wideFromUtf8(QORX_MODULE_PATH));
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        plat::freeModule(module);
        plat::clearRegistry();
    }
    template <class F> F entry(const char* name) { return reinterpret_cast<F>(plat::moduleSymbol(module, name)); }

    plat::ModuleHandle module = nullptr;
};

TEST_F(ComServerModule, ExportsItsServerEntryPoints)
{
    for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(plat::moduleSymbol(module, name), nullptr) << name;
    // Its classes are not built yet: none has a class object.
    void* factory = nullptr;
    EXPECT_EQ(entry<GetClassObject>("DllGetClassObject")(CLSID_QorAcqFifo7320, IID_IClassFactory, &factory),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(entry<ServerCall>("DllCanUnloadNow")(), S_OK);
}

TEST_F(ComServerModule, RegistrationThenUnregistrationLeavesTheRegistryAsItWas)
{
    plat::clearRegistry();
    com_registry::put(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}", L"Other Class");
    TempDir dir;
    const std::string before = com_registry::snapshot(dir);

    ASSERT_EQ(entry<ServerCall>("DllRegisterServer")(), S_OK);
    const std::wstring server = L"CLSID\\" + ccGuidText(CLSID_QorFrameGrabber7320s) + L"\\InprocServer32";
    std::wstring loaded;
    ASSERT_TRUE(plat::findLoadedModule(L"qorx7320.so", &loaded));
    EXPECT_EQ(com_registry::text(HKEY_CLASSES_ROOT, server), loaded);
    ASSERT_EQ(entry<ServerCall>("DllUnregisterServer")(), S_OK);
    EXPECT_EQ(com_registry::snapshot(dir), before);
}

HRESULT german(uint32_t* language)
{
    *language = 0x0407;
    return S_OK;
}

TEST(ComServerLanguage, ABroadcastChangeIsFollowedWhenTheLoadingThreadPumps)
{
    ccResetLanguageForTesting();
    plat::setUserLanguageOverride(0x0409);
    ccSetLanguageId(0x0409);
    ccLanguageSync::setLanguageSource(&german);
    ASSERT_TRUE(IsWindow(ccProcessLanguageSync().window())); // made while the module loaded
    ASSERT_TRUE(PostMessage(HWND_BROADCAST, RegisterWindowMessageW(L"QorDictionaryLangChange"), 0, 0));
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    EXPECT_EQ(ccGetLanguageId(), 0x0407);
    ccLanguageSync::setLanguageSource(nullptr);
    ccResetLanguageForTesting();
    plat::setUserLanguageOverride(0);
}

} // namespace
