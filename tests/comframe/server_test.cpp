#include "comframe/objectmap.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace {

bool exists(const std::wstring& path, bool make = false)
{
    plat::RegistryKey key = 0;
    const auto root = plat::RegistryRoot::localMachine;
    if ((make ? plat::createRegistryKey(root, path, &key) : plat::openRegistryKey(root, path, &key))
        != plat::RegistryStatus::ok)
        return false;
    return plat::closeRegistryKey(key) == plat::RegistryStatus::ok;
}

RegistryScript unknownReplacement()
{
    return {{HKEY_CLASSES_ROOT, {{L"%NOBODY%", RegistryMark::none, false, L"", {}, {}}}}};
}

// Unregistering as the only driver is the module's round trip.
TEST(ComServer, UnregisteringPrunesOnlyTheParentsItEmptiesAndStopsAtAFailingScript)
{
    const std::vector<RegistryReplacement> module = {{L"MODULE", L"m.so"}};
    const std::wstring list = L"Software\\Qoralt\\Marlume\\FrameGrabbers";
    const std::wstring own = list + L"\\" + ccGuidText(CLSID_QorFrameGrabber7320s);
    const ccObjectMapEntry bad{&CLSID_QorAcqFifo7320, &unknownReplacement, nullptr};
    // Seeded key, the key that goes, the parent that stays, whether a script fails.
    const std::tuple<std::wstring, std::wstring, std::wstring, bool> cases[] = {
        {list + L"\\{0}", own, list, false},
        {L"Software\\Qoralt\\Other", L"Software\\Qoralt\\Marlume", L"Software\\Qoralt", false},
        {L"Software\\x", own, list, true},
    };
    for (const auto& [seeded, gone, kept, fails] : cases) {
        plat::clearRegistry();
        ASSERT_TRUE(exists(seeded, true));
        ccObjectMap map = ccModuleObjectMap();
        ASSERT_EQ(ccRegisterServer(map, module), S_OK);
        if (fails) map.push_back(bad);
        EXPECT_EQ(ccUnregisterServer(map, module, ccFrameGrabberListPath), fails ? E_INVALIDARG : S_OK);
        EXPECT_FALSE(exists(gone));
        EXPECT_TRUE(exists(kept) && exists(seeded));
    }
    EXPECT_EQ(ccRegisterServer({bad, ccModuleObjectMap()[1]}, module), E_INVALIDARG);
    EXPECT_FALSE(exists(L"Software\\Classes\\Qoralt.QorAcqFifo7320"));
    plat::clearRegistry();
}

HRESULT makeNothing(IUnknown*, REFIID, void** ppv)
{
    *ppv = nullptr;
    return E_OUTOFMEMORY;
}

// Only a class of the map that can be made hands out a class object.
TEST(ComServer, ClassObjectsOnlyForCreatableClassesOfTheMap)
{
    const ccObjectMap map = {{&CLSID_QorFrameGrabber7320s, nullptr, nullptr},
                             {&CLSID_QorAcqFifo7320, nullptr, &makeNothing}};
    const struct {
        const CLSID* clsid;
        REFIID iid;
        HRESULT hr;
    } rows[] = {
        {&CLSID_QorAcqFifo7320, IID_IClassFactory, S_OK},
        {&CLSID_QorFrameGrabber7320s, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE}, // not made yet
        {&CLSID_QorFrameGrabber7320, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE}, // not in the map
        {&CLSID_QorAcqFifo7320, IID_IDispatch, E_NOINTERFACE},
    };
    for (const auto& row : rows) {
        IClassFactory* factory = reinterpret_cast<IClassFactory*>(&factory);
        EXPECT_EQ(ccGetClassObject(map, *row.clsid, row.iid, reinterpret_cast<void**>(&factory)), row.hr);
        EXPECT_EQ(factory != nullptr, SUCCEEDED(row.hr));
        if (!factory) continue;
        IUnknown* made = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made)), E_OUTOFMEMORY);
        EXPECT_EQ(made, nullptr);
        factory->Release();
    }
    EXPECT_EQ(ccGetClassObject(map, CLSID_QorAcqFifo7320, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_FALSE(ccSetModuleClassCreator(CLSID_QorFrameGrabber7320, &makeNothing));
    EXPECT_EQ(ccCanUnloadNow(), S_OK);
}

} // namespace
