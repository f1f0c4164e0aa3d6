#include "comframe/objectmap.h"

#include "platform/com/classes.h"

// The module's own class and interface ids.
const CLSID CLSID_QorAcqFifo7320 = {0x6C1E2A41, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x01}};
const CLSID CLSID_QorFrameGrabber7320s = {0x6C1E2A42, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x02}};
const CLSID CLSID_QorFrameGrabber7320 = {0x6C1E2A43, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x03}};
const GUID LIBID_Qorx7320 = {0x6C1E2A40, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x00}};
const GUID APPID_Qorx7320 = {0x6C1E2A4F, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x0F}};

const wchar_t* const ccFrameGrabberListPath = L"Qoralt\\Marlume\\FrameGrabbers";

std::wstring ccGuidText(REFGUID guid)
{
    OLECHAR buffer[40] = {};
    const int units = StringFromGUID2(guid, buffer, 40);
    // A GUID's text is ASCII.
    return units > 1 ? std::wstring(buffer, buffer + units - 1) : std::wstring();
}

namespace {

const RegistryMark kNone = RegistryMark::none;
const RegistryMark kKeep = RegistryMark::noRemove;
const RegistryMark kRemove = RegistryMark::remove;

RegistryScriptKey key(const std::wstring& name, RegistryMark mark, const std::wstring* defaultValue,
                      std::vector<RegistryScriptKey> keys = {}, std::vector<RegistryScriptValue> values = {})
{
    return {name, mark, defaultValue != nullptr, defaultValue ? *defaultValue : L"", std::move(values),
            std::move(keys)};
}

RegistryScriptValue text(const std::wstring& name, const std::wstring& value)
{
    return {name, false, value, 0};
}

// A ProgID key: its description and class; the version-independent one also
// names its current version.
RegistryScriptKey progIdKey(const std::wstring& progId, const std::wstring& description, const std::wstring& clsid,
                            const std::wstring* currentVersion)
{
    std::vector<RegistryScriptKey> keys{key(L"CLSID", kNone, &clsid)};
    if (currentVersion) keys.push_back(key(L"CurVer", kNone, currentVersion));
    return key(progId, kNone, &description, std::move(keys));
}

// The class key of a creatable class, removed whole on unregistration.
RegistryScriptKey creatableClassKey(const std::wstring& clsid, const std::wstring& description,
                                    const std::wstring& progId, const std::wstring& independentProgId)
{
    const std::wstring module = L"%MODULE%";
    const std::wstring typeLib = ccGuidText(LIBID_Qorx7320);
    return key(clsid, kRemove, &description,
               {key(L"ProgID", kNone, &progId), key(L"VersionIndependentProgID", kNone, &independentProgId),
                key(L"Programmable", kNone, nullptr),
                key(L"InprocServer32", kNone, &module, {}, {text(L"ThreadingModel", L"Both")}),
                key(L"TypeLib", kNone, &typeLib)},
               {text(L"AppID", ccGuidText(APPID_Qorx7320))});
}

RegistryScript fifoScript()
{
    const std::wstring clsid = ccGuidText(CLSID_QorAcqFifo7320);
    const std::wstring description = L"QorAcqFifo7320 Class";
    const std::wstring progId = L"Qoralt.QorAcqFifo7320.1";
    const std::wstring independent = L"Qoralt.QorAcqFifo7320";
    return {{HKEY_CLASSES_ROOT,
             {progIdKey(progId, description, clsid, nullptr), progIdKey(independent, description, clsid, &progId),
              key(L"CLSID", kKeep, nullptr, {creatableClassKey(clsid, description, progId, independent)})}}};
}

// The collection, the board class it alone makes, and the collection's entry
// in the suite's frame-grabber list.
RegistryScript collectionScript()
{
    const std::wstring clsid = ccGuidText(CLSID_QorFrameGrabber7320s);
    const std::wstring progIdText = L"FrameGrabber7320s Class";
    const std::wstring progId = L"Qoralt.QorFrameGrabber7320s.1";
    const std::wstring independent = L"Qoralt.QorFrameGrabber7320s";
    const std::wstring boardDescription = L"QorFrameGrabber7320 Class";
    const std::wstring boardProgId = L"Qoralt.QorFrameGrabber7320.1";
    const std::wstring boardIndependent = L"Qoralt.QorFrameGrabber7320";
    return {{HKEY_CLASSES_ROOT,
             {progIdKey(progId, progIdText, clsid, nullptr), progIdKey(independent, progIdText, clsid, &progId),
              key(L"CLSID", kKeep, nullptr,
                  {creatableClassKey(clsid, L"QorFrameGrabber7320s Class", progId, independent),
                   key(ccGuidText(CLSID_QorFrameGrabber7320), kRemove, &boardDescription,
                       {key(L"ProgID", kNone, &boardProgId),
                        key(L"VersionIndependentProgID", kNone, &boardIndependent)})})}},
            {HKEY_LOCAL_MACHINE,
             {key(L"Software", kKeep, nullptr,
                  {key(L"Qoralt", kKeep, nullptr,
                       {key(L"Marlume", kKeep, nullptr,
                            {key(L"FrameGrabbers", kKeep, nullptr, {key(clsid, kRemove, &independent)})})})})}}};
}

} // namespace

namespace {

// Registered, and creatable once the class's creator is set.
ccObjectMap& moduleMap()
{
    static ccObjectMap map{
        {&CLSID_QorFrameGrabber7320s, &collectionScript, nullptr},
        {&CLSID_QorAcqFifo7320, &fifoScript, nullptr},
    };
    return map;
}

} // namespace

const ccObjectMap& ccModuleObjectMap()
{
    return moduleMap();
}

bool ccSetModuleClassCreator(REFCLSID clsid, plat::com::CreatorFunction creator)
{
    for (ccObjectMapEntry& entry : moduleMap())
        if (IsEqualCLSID(*entry.clsid, clsid)) {
            entry.creator = creator;
            return true;
        }
    return false;
}
