// The module as a client reaches it, through the entry points it exports.
#include <gtest/gtest.h>

#include "comframe/messagesource.h"
#include "comframe/objectmap.h"
#include "grabber/itf_fifo.h"
#include "platform/com/message.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ComServerModule, RegistersItsClassesAndUnregistersToTheRegistryItFound)
{
    plat::ModuleHandle module = plat::loadModule(plat::wideFromUtf8(QORX_MODULE_PATH));
    ASSERT_NE(module, nullptr);
    auto call = [&](const char* name) { return reinterpret_cast<HRESULT (*)()>(plat::moduleSymbol(module, name)); };
    auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        plat::moduleSymbol(module, "DllGetClassObject"));
    ASSERT_TRUE(call("DllCanUnloadNow") && getClassObject && call("DllRegisterServer") && call("DllUnregisterServer"));
    IUnknown* factory = nullptr; // the FIFO is creatable
    EXPECT_EQ(getClassObject(CLSID_QorAcqFifo7320, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    if (factory) factory->Release();
    EXPECT_EQ(call("DllCanUnloadNow")(), S_OK);

    plat::clearRegistry();
    // Another driver's class and type library.
    for (const wchar_t* key : {L"CLSID\\{0}", L"TypeLib\\{0}\\1.0\\0\\linux64", L"Interface\\{0}\\TypeLib"}) {
        HKEY other = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key, &other), ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(other), ERROR_SUCCESS);
    }
    TempDir dir;
    std::wstring error, path;
    ASSERT_TRUE(plat::saveRegistryFile(dir.wide("before"), &error));
    ASSERT_EQ(call("DllRegisterServer")(), S_OK);
    ASSERT_TRUE(plat::saveRegistryFile(dir.wide("registered"), &error));
    ASSERT_TRUE(plat::findLoadedModule(L"qorx7320.so", &path));
    const std::string file = ";=string:" + plat::utf8FromWide(path) + "\n";
    const std::string registered[] = {
        "CLSID\\" + plat::utf8FromWide(ccGuidText(CLSID_QorAcqFifo7320)) + "\\InprocServer32" + file,
        "TypeLib\\" + plat::utf8FromWide(ccGuidText(LIBID_Qorx7320)) + "\\1.0\\0\\linux64" + file,
        "Interface\\" + plat::utf8FromWide(ccGuidText(IID_IQorAcqFifo7320)) + "\\TypeLib;=string:"
            + plat::utf8FromWide(ccGuidText(LIBID_Qorx7320)) + "\n",
    };
    for (const std::string& line : registered)
        EXPECT_NE(dir.read("registered").find(line), std::string::npos) << line;
    // The classes are no interfaces.
    EXPECT_EQ(dir.read("registered").find("Interface\\" + plat::utf8FromWide(ccGuidText(CLSID_QorAcqFifo7320))),
              std::string::npos);

    // As the only driver, the frame-grabber list and its parents go too.
    ASSERT_EQ(call("DllUnregisterServer")(), S_OK);
    ASSERT_TRUE(plat::saveRegistryFile(dir.wide("after"), &error));
    EXPECT_EQ(dir.read("after"), dir.read("before"));
    plat::clearRegistry();
    plat::freeModule(module);
}

// The follower was made on this thread while the module loaded, and asks the message source.
TEST(ComServerModule, FollowsALanguageBroadcastWhenTheLoadingThreadPumps)
{
    ccSetLanguageId(0x0409);
    ccSetCatalogueLanguage(0x0407);
    ASSERT_TRUE(PostMessage(HWND_BROADCAST, RegisterWindowMessageW(L"QorDictionaryLangChange"), 0, 0));
    for (MSG queued; PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE);)
        DispatchMessageW(&queued);
    EXPECT_EQ(ccGetLanguageId(), 0x0407);
    ccSetCatalogueLanguage(plat::userLanguage());
    ccResetLanguageForTesting();
}

} // namespace
