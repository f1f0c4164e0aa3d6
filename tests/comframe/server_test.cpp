#include "comframe/objectmap.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tests/support/test_typelib.h"

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
TEST(ComServer, UnregisteringPrunesOnlyTheParentsItEmptiesAndStopsAtAFailingStep)
{
    registerTestTypeLibrary();
    const std::vector<RegistryReplacement> module = {{L"MODULE", L"m.so"}};
    const ccServerTypeLibrary library{&LIBID_TestDispatch, 1, 0, L"m.so"};
    const ccServerTypeLibrary notLoaded{&CLSID_QorAcqFifo7320, 1, 0, L"m.so"};
    const std::wstring libraryKey = L"Software\\Classes\\TypeLib\\" + ccGuidText(LIBID_TestDispatch) + L"\\1.0";
    const std::wstring list = L"Software\\Qoralt\\Marlume\\FrameGrabbers";
    const std::wstring own = list + L"\\" + ccGuidText(CLSID_QorFrameGrabber7320s);
    const ccObjectMapEntry bad{&CLSID_QorAcqFifo7320, &unknownReplacement, nullptr};
    // Seeded key, the key that goes, the parent that stays, and the failure
    // returned: none, a script's, the type library's.
    const std::tuple<std::wstring, std::wstring, std::wstring, HRESULT> cases[] = {
        {list + L"\\{0}", own, list, S_OK},
        {L"Software\\Qoralt\\Other", L"Software\\Qoralt\\Marlume", L"Software\\Qoralt", S_OK},
        {L"Software\\x", own, list, E_INVALIDARG},
        {L"Software\\x", own, list, TYPE_E_LIBNOTREGISTERED},
    };
    for (const auto& [seeded, gone, kept, failure] : cases) {
        plat::clearRegistry();
        ASSERT_TRUE(exists(seeded, true));
        ccObjectMap map = ccModuleObjectMap();
        ASSERT_EQ(ccRegisterServer(map, module, library), S_OK);
        EXPECT_TRUE(exists(libraryKey));
        if (failure == E_INVALIDARG) map.push_back(bad);
        EXPECT_EQ(ccUnregisterServer(map, module, failure == TYPE_E_LIBNOTREGISTERED ? notLoaded : library,
                                     ccFrameGrabberListPath),
                  failure);
        EXPECT_FALSE(exists(gone));
        EXPECT_TRUE(exists(kept) && exists(seeded));
        EXPECT_EQ(exists(libraryKey), failure != S_OK);
    }
    EXPECT_EQ(ccRegisterServer({bad, ccModuleObjectMap()[1]}, module, library), E_INVALIDARG);
    EXPECT_FALSE(exists(L"Software\\Classes\\Qoralt.QorAcqFifo7320"));
    EXPECT_EQ(ccRegisterServer(ccModuleObjectMap(), module, notLoaded), TYPE_E_LIBNOTREGISTERED);
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
