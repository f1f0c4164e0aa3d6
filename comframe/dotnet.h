// .NET companions: the suite's .NET layer wraps the module's COM objects in
// managed objects. A COM object keeps a 32-bit handle to its companion, which
// the suite's .NET bridge hands out and makes strong or weak as the object's
// reference count asks. Every bridge failure is thrown as ccCOMError.
#pragma once
#include <atomic>
#include <cstdint>

#include "comframe/comerror.h"
#include "platform/com/base.h"

// Called by the managed side, on any thread.
struct IQorDotNetShutdown : IUnknown {
    virtual HRESULT Shutdown() = 0;
    virtual HRESULT Restart() = 0;
};

struct IQorDotNetTypeFactory : IUnknown {
    virtual HRESULT CreateCompanion(IUnknown* object, uint32_t* handle) = 0;
};

// The bridge's operations keep their positions in its table.
struct IQorDotNetBridge : IUnknown {
    virtual HRESULT CreateTypeFactory(BSTR assembly, BSTR type, IQorDotNetTypeFactory** factory) = 0;
    virtual HRESULT Unused() = 0;
    // strength: -1 strong, 0 weak.
    virtual HRESULT SetHandleStrength(uint32_t handle, int32_t strength, uint32_t* newHandle) = 0;
    virtual HRESULT ReleaseHandle(uint32_t handle) = 0;
    virtual HRESULT RegisterShutdownFirst(IQorDotNetShutdown* shutdown) = 0;
    virtual HRESULT RegisterShutdown(IQorDotNetShutdown* shutdown) = 0;
};

extern const CLSID CLSID_QorDotNetBridge;
extern const IID IID_IQorDotNetBridge;
extern const IID IID_IQorDotNetTypeFactory;
extern const IID IID_IQorDotNetShutdown;

// The classes with a companion, each with its managed type.
enum class ccDotNetClass { frameGrabber, frameGrabbers, acqFifo, inputLine, outputLine };

class ccDotNetHelper {
public:
    enum : uint32_t { kUnregistered = 0, kRegistered = 1, kRestarted = 2, kShutDown = 3 };

    // The bridge of the current generation with one reference added for the
    // caller, created when needed.
    static IQorDotNetBridge* instance();
    // Makes sure a shutdown object is registered; E_FAIL once shut down.
    static void registerShutdown();
    // A new companion handle for object of cls; E_FAIL once shut down.
    static uint32_t obtainCompanion(ccDotNetClass cls, IUnknown* object);
    // Through the bridge only while registered.
    static void releaseHandle(uint32_t handle);
    // The new handle; 0 while not registered.
    static uint32_t setHandleStrength(uint32_t handle, bool strong);

    static uint32_t state();
    static uint32_t generation();
    // The type names of cls: assembly, type.
    static const wchar_t* assemblyName(ccDotNetClass cls);
    static const wchar_t* typeName(ccDotNetClass cls);
};

// A COM object's handle to its companion; its owner guards it.
class ccDotNetCompanion {
public:
    uint32_t handle() const { return handle_; }
    bool strong() const { return strong_; }

    // Stores a new handle (releasing the old one). On a failure the new
    // handle is stored all the same and the failure thrown.
    void attach(uint32_t handle, bool strong);
    // On a failure handle and flag are cleared and the failure thrown.
    void setStrong(bool strong);
    // For destructors: failures are dropped.
    void release() noexcept;

private:
    uint32_t handle_ = 0;
    bool strong_ = false;
};

// Attaches a strong .NET companion of class cls to object when the suite's
// bridge is there; without one the object lives without. Other bridge
// failures are thrown as ccCOMError.
void ccAttachCompanion(ccDotNetClass cls, IUnknown* object, ccDotNetCompanion& companion);
// The same as a FinalConstruct result.
HRESULT ccAttachCompanionResult(ccDotNetClass cls, IUnknown* object, ccDotNetCompanion& companion) noexcept;

// Registers the stand-in for the suite's bridge in the class table, for
// hosts without the .NET layer and for tests.
HRESULT ccDotNetRegisterStandInBridge();
