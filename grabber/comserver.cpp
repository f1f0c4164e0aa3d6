// The module as an in-process COM server: its exported entry points and the
// COM side of its start-up.
#include "comframe/archive.h"
#include "comframe/langsync.h"
#include "comframe/messagesource.h"
#include "comframe/objectmap.h"
#include "grabber/acqfifo.h"
#include "grabber/boards.h"
#include "grabber/startup.h"
#include "grabber/typelib.h"
#include "platform/module.h"

namespace {

// The file this code was loaded from, for the class keys' InprocServer32.
std::wstring modulePath()
{
    const std::wstring fileName = L"qorx7320.so";
    std::wstring path;
    if (plat::findLoadedModule(fileName, &path)) return path;
    return plat::moduleDirectory() + fileName;
}

std::vector<RegistryReplacement> replacements()
{
    return {{L"MODULE", modulePath()}};
}

// The library start-up made loadable (ccRegisterModuleTypeLibrary), in the
// module's file.
ccServerTypeLibrary typeLibrary()
{
    return {&LIBID_Qorx7320, 1, 0, modulePath()};
}

} // namespace

void ccComServerStartup()
{
    // No suite installs its message source here: the stand-in gives the
    // error texts and the language. It cannot be refused (a fixed class id
    // and no ProgID).
    (void)ccRegisterMessageSource();
    // Nor its serializer, which IPersistStream hands objects to.
    (void)ccRegisterSerializer();
    ccRegisterModuleTypeLibrary();
    ccRegisterAcqFifoClass();
    ccRegisterBoardClasses();
    // The hidden target belongs to the loading thread, which pumps its
    // messages.
    ccProcessLanguageSync();
}

extern "C" {

HRESULT DllCanUnloadNow()
{
    return ccCanUnloadNow();
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    return ccGetClassObject(ccModuleObjectMap(), clsid, iid, ppv);
}

HRESULT DllRegisterServer()
{
    return ccRegisterServer(ccModuleObjectMap(), replacements(), typeLibrary());
}

HRESULT DllUnregisterServer()
{
    return ccUnregisterServer(ccModuleObjectMap(), replacements(), typeLibrary(), ccFrameGrabberListPath);
}

} // extern "C"
