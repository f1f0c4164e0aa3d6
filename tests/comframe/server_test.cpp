#include "comframe/objectmap.h"

#include <gtest/gtest.h>

#include "platform/registry_testing.h"
#include "tests/support/com_registry.h"

namespace {

using com_registry::exists;
using com_registry::put;
using com_registry::text;

const std::vector<RegistryReplacement> kModule = {{L"MODULE", L"/opt/qorx/qorx7320.so"}};
const std::wstring kList = L"Software\\Qoralt\\Marlume\\FrameGrabbers";
const std::wstring kOther = L"{00000000-1111-2222-3333-444444444444}";

class ComServer : public testing::Test {
protected:
    void SetUp() override
    {
        plat::clearRegistry();
        put(HKEY_CLASSES_ROOT, L"CLSID\\" + kOther, L"Other Class");
    }
    void TearDown() override { plat::clearRegistry(); }
};

TEST_F(ComServer, RegistrationWritesTheScriptsOfTheCollectionTheBoardAndTheFifo)
{
    ASSERT_EQ(ccRegisterServer(ccModuleObjectMap(), kModule), S_OK);
    const std::wstring fifo = L"CLSID\\" + ccGuidText(CLSID_QorAcqFifo7320);
    const std::wstring collection = L"CLSID\\" + ccGuidText(CLSID_QorFrameGrabber7320s);
    const std::wstring board = L"CLSID\\" + ccGuidText(CLSID_QorFrameGrabber7320);
    const std::wstring appId = ccGuidText(APPID_Qorx7320), libId = ccGuidText(LIBID_Qorx7320);
    const struct {
        HKEY root;
        std::wstring path, name, expected;
    } cases[] = {
        {HKEY_CLASSES_ROOT, L"Qoralt.QorAcqFifo7320.1", L"", L"QorAcqFifo7320 Class"},
        {HKEY_CLASSES_ROOT, L"Qoralt.QorAcqFifo7320.1\\CLSID", L"", ccGuidText(CLSID_QorAcqFifo7320)},
        {HKEY_CLASSES_ROOT, L"Qoralt.QorAcqFifo7320\\CurVer", L"", L"Qoralt.QorAcqFifo7320.1"},
        {HKEY_CLASSES_ROOT, fifo, L"", L"QorAcqFifo7320 Class"},
        {HKEY_CLASSES_ROOT, fifo, L"AppID", appId},
        {HKEY_CLASSES_ROOT, fifo + L"\\ProgID", L"", L"Qoralt.QorAcqFifo7320.1"},
        {HKEY_CLASSES_ROOT, fifo + L"\\VersionIndependentProgID", L"", L"Qoralt.QorAcqFifo7320"},
        {HKEY_CLASSES_ROOT, fifo + L"\\InprocServer32", L"", L"/opt/qorx/qorx7320.so"},
        {HKEY_CLASSES_ROOT, fifo + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {HKEY_CLASSES_ROOT, fifo + L"\\TypeLib", L"", libId},
        // The collection's ProgIDs and its class key differ in their texts.
        {HKEY_CLASSES_ROOT, L"Qoralt.QorFrameGrabber7320s.1", L"", L"FrameGrabber7320s Class"},
        {HKEY_CLASSES_ROOT, L"Qoralt.QorFrameGrabber7320s", L"", L"FrameGrabber7320s Class"},
        {HKEY_CLASSES_ROOT, L"Qoralt.QorFrameGrabber7320s\\CurVer", L"", L"Qoralt.QorFrameGrabber7320s.1"},
        {HKEY_CLASSES_ROOT, collection, L"", L"QorFrameGrabber7320s Class"},
        {HKEY_CLASSES_ROOT, collection, L"AppID", appId},
        {HKEY_CLASSES_ROOT, collection + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {HKEY_CLASSES_ROOT, collection + L"\\VersionIndependentProgID", L"", L"Qoralt.QorFrameGrabber7320s"},
        {HKEY_CLASSES_ROOT, board, L"", L"QorFrameGrabber7320 Class"},
        {HKEY_CLASSES_ROOT, board + L"\\ProgID", L"", L"Qoralt.QorFrameGrabber7320.1"},
        {HKEY_CLASSES_ROOT, board + L"\\VersionIndependentProgID", L"", L"Qoralt.QorFrameGrabber7320"},
        {HKEY_LOCAL_MACHINE, kList + L"\\" + ccGuidText(CLSID_QorFrameGrabber7320s), L"",
         L"Qoralt.QorFrameGrabber7320s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(c.root, c.path, c.name), c.expected) << plat::utf8FromWide(c.path + L";" + c.name);
    // The board is made only by the collection: no server, no ProgID keys.
    for (const std::wstring& absent : {board + L"\\InprocServer32", std::wstring(L"Qoralt.QorFrameGrabber7320.1")})
        EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, absent)) << plat::utf8FromWide(absent);
}

TEST_F(ComServer, UnregisteringPrunesTheFrameGrabberListAndEveryParentItEmpties)
{
    const struct {
        const char* name;
        std::wstring seeded; // below HKEY_LOCAL_MACHINE, empty for none
        std::wstring kept, gone;
    } cases[] = {
        {"the only driver", L"", L"Software\\Classes\\CLSID", L"Software\\Qoralt"},
        {"a second driver", kList + L"\\" + kOther, kList + L"\\" + kOther,
         kList + L"\\" + ccGuidText(CLSID_QorFrameGrabber7320s)},
        {"another product of the maker", L"Software\\Qoralt\\Other", L"Software\\Qoralt\\Other",
         L"Software\\Qoralt\\Marlume"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (!c.seeded.empty()) put(HKEY_LOCAL_MACHINE, c.seeded, L"seeded");
        ASSERT_EQ(ccRegisterServer(ccModuleObjectMap(), kModule), S_OK);
        EXPECT_EQ(ccUnregisterServer(ccModuleObjectMap(), kModule, ccFrameGrabberListPath), S_OK);
        EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, c.kept));
        EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, c.gone));
        EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, L"CLSID\\" + ccGuidText(CLSID_QorFrameGrabber7320)));
    }
}

// A script naming a replacement nobody gives.
RegistryScript badScript()
{
    return {{HKEY_CLASSES_ROOT, {{L"%NOBODY%", RegistryMark::none, false, L"", {}, {}}}}};
}

TEST_F(ComServer, AFailingScriptIsReturnedAtOnceAndNothingIsPruned)
{
    const ccObjectMapEntry collection = ccModuleObjectMap()[0], fifo = ccModuleObjectMap()[1];
    const ccObjectMapEntry bad{&CLSID_QorAcqFifo7320, &badScript, nullptr};
    ASSERT_EQ(ccRegisterServer({collection}, kModule), S_OK);
    // The collection's entry goes, its emptied list stays.
    EXPECT_EQ(ccUnregisterServer({collection, bad}, kModule, ccFrameGrabberListPath), E_INVALIDARG);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, kList));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, kList + L"\\" + ccGuidText(CLSID_QorFrameGrabber7320s)));
    // The entries after a failing one are not run.
    EXPECT_EQ(ccRegisterServer({bad, fifo}, kModule), E_INVALIDARG);
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, L"Qoralt.QorAcqFifo7320"));
}

const IID kIidThing = {0x5E0F1A22, 0x33C4, 0x4D55, {0x86, 0x77, 0x08, 0x19, 0x2A, 0x3B, 0x4C, 0x5D}};
const CLSID kThing = {0x5E0F1A23, 0x33C4, 0x4D55, {0x86, 0x77, 0x08, 0x19, 0x2A, 0x3B, 0x4C, 0x5D}};
const CLSID kNotYet = {0x5E0F1A24, 0x33C4, 0x4D55, {0x86, 0x77, 0x08, 0x19, 0x2A, 0x3B, 0x4C, 0x5D}};

struct IThing : IUnknown { };

class Thing : public CComObjectRootEx<CComMultiThreadModel>, public IThing {
public:
    BEGIN_COM_MAP(Thing)
    COM_INTERFACE_ENTRY_IID(kIidThing, IThing)
    END_COM_MAP()
};

RegistryScript noScript()
{
    return {};
}

TEST_F(ComServer, ClassObjectsComeOnlyForCreatableClassesAndLiveObjectsKeepTheModule)
{
    const ccObjectMap map{{&kNotYet, &noScript, nullptr}, {&kThing, &noScript, &plat::com::createInstance<Thing>}};
    const struct {
        const CLSID* clsid;
        HRESULT expected;
    } cases[] = {
        {&kThing, S_OK},
        {&kNotYet, CLASS_E_CLASSNOTAVAILABLE},
        {&CLSID_QorAcqFifo7320, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        void* factory = reinterpret_cast<void*>(1);
        EXPECT_EQ(ccGetClassObject(map, *c.clsid, IID_IClassFactory, &factory), c.expected);
        EXPECT_EQ(factory != nullptr, c.expected == S_OK);
        if (factory) static_cast<IClassFactory*>(factory)->Release();
    }

    IClassFactory* factory = nullptr;
    ASSERT_EQ(ccGetClassObject(map, kThing, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(ccCanUnloadNow(), S_OK); // a class object alone does not keep the module
    IUnknown* thing = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidThing, reinterpret_cast<void**>(&thing)), S_OK);
    factory->Release();
    EXPECT_EQ(ccCanUnloadNow(), S_FALSE);
    thing->Release();
    EXPECT_EQ(ccCanUnloadNow(), S_OK);
}

} // namespace
