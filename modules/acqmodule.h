// The bridge to the board driver module: finding and loading the module
// file, binding its root interfaces, turning the video formats it offers
// into registered formats, discovering its boards and carrying its errors
// back as library exceptions.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "platform/module.h"
#include "std/pelbuf/pelpackage.h"
#include "std/ptrhandle.h"

class cc_BoardModule;
class cc_UnknownModule;

// One loaded module file. Held only through ccPtrHandle: the last handle
// (the loader's, a pending or kept list, a board's entry) unloads it.
class cc_AcqModule : public virtual ccRepBase {
public:
    // Never throws for a file that does not load, lacks the entry point or
    // gives no root: the object is then inert, every interface null.
    cc_AcqModule(const std::wstring& path, cc_UnknownModule* owner);
    // Waits without limit for a discovery still running, so that the module
    // is never unloaded under it.
    ~cc_AcqModule() override;
    cc_AcqModule(const cc_AcqModule&) = delete;
    cc_AcqModule& operator=(const cc_AcqModule&) = delete;

    // Starts the module's own discovery (it must have one).
    void startDiscovery();
    // Builds the boards once the module's own discovery (if any) is ready
    // within timeout seconds; false while it is not. True once built.
    bool discoverBoards(double timeout);

    // Throws the module's last error: the library exception it archived, or
    // ccUnknownFG::MissingFunctionality when it gives none that decodes.
    [[noreturn]] void raiseLastError() const;

    ccIComponent_ErrorSource* errorSource() const { return errorSource_.get(); }
    ccIComponent_BoardList* boardList() const { return boardList_.get(); }
    ccIComponent_Discovery* discovery() const { return discovery_.get(); }

private:
    plat::ModuleHandle library_ = nullptr;
    cc_ModPtr<ccIComponent_ErrorSource> errorSource_;
    cc_ModPtr<ccIComponent_BoardList> boardList_;
    cc_ModPtr<ccIComponent_Discovery> discovery_;
    cc_UnknownModule* owner_;
    bool discovered_ = false;
    bool discoveryStarted_ = false;
};

// What a board keeps of its origin; the board takes it over.
struct cc_BoardEntry {
    cc_BoardEntry(const ccPtrHandle<cc_AcqModule>& module, uint32_t index, const std::wstring& name)
        : module(module), index(index), name(name)
    {
    }
    ccPtrHandle<cc_AcqModule> module;
    uint32_t index;
    std::wstring name;
};

// What the board registry calls, once, before it first counts the boards.
class cc_BoardEnumerator {
public:
    virtual ~cc_BoardEnumerator() = default;
    // True once every module's boards are built; false when one module's
    // discovery was not ready within timeout seconds, or failed.
    virtual bool enumerateBoards(double timeout) = 0;

    // The process's enumerator (the module registry); null when none.
    static cc_BoardEnumerator* published();
    static void publish(cc_BoardEnumerator* enumerator);
};

// Makes the board of one entry and its board interface (a module's board-list
// slot 5). It moves out of entry and board what the board takes over; what
// it leaves there is released after it returns or throws, and a throw skips
// only that board.
typedef void (*cc_BoardBuilder)(cc_UnknownModule& owner, std::unique_ptr<cc_BoardEntry>& entry,
                                cc_ModPtr<ccIUnknown>& board);

// The registry of loaded modules and of the video formats they offer. The
// process has one (instance()); each object made directly loads and owns its
// own modules and formats.
class cc_UnknownModule : public cc_BoardEnumerator {
public:
    // Loads the simulator module when the registry names one.
    cc_UnknownModule();
    // Deletes the boards, unregisters and deletes the formats, then lets go
    // of the modules.
    ~cc_UnknownModule() override;
    cc_UnknownModule(const cc_UnknownModule&) = delete;
    cc_UnknownModule& operator=(const cc_UnknownModule&) = delete;

    // The process's registry, made at the first call, deleted at the
    // library's shut-down; null from then on (it is not made again).
    static cc_UnknownModule* instance();
    // loadByName on the process's registry, under the library mutex; false
    // when the registry is gone.
    static bool loadModuleByName(const std::wstring& baseName);

    // An empty name loads nothing. True whenever a file was found, whether
    // or not it loaded.
    bool loadByName(const std::wstring& baseName);
    // Along the search path, baseName + "_.so" anywhere on it, else
    // baseName + "r.so"; names compared without regard to case. Empty when
    // neither is found.
    static std::wstring findModuleFile(const std::wstring& baseName);
    // Loads one module file, reads its formats and builds its boards or
    // starts its discovery. Never throws: a module that fails is dropped.
    void loadModule(const std::wstring& path);
    void addModule(const ccPtrHandle<cc_AcqModule>& module);

    // Collects the boards of the modules whose discovery was started; once
    // that succeeded, later calls return true at once. A module whose
    // discovery or board count fails stays pending, as one not ready.
    // Called under the library mutex.
    bool enumerateBoards(double timeout) override;

    // Builds board index of a module and hands it to the board builder;
    // without one, the entry and board interface are released again.
    void createBoard(const ccPtrHandle<cc_AcqModule>& module, uint32_t index);

    // The owner of the boards built for this registry's modules, made at the
    // first call: ccBoard::StaticInitDisorder once the boards were counted.
    cc_BoardModule& boardModule();

    // Installed by the boards; returns the one it replaces.
    static cc_BoardBuilder setBoardBuilder(cc_BoardBuilder builder);

    // Where the packages over module frames register: the process
    // registry's; null once that is gone.
    static cc_PelPackageRegistry* packageRegistry();

private:
    // Packages still listed at the end are deleted first of all, while the
    // modules whose frames they hold are still loaded.
    std::unique_ptr<cc_PelPackageRegistry> packages_ = std::make_unique<cc_PelPackageRegistry>();
    struct OwnedFormat;
    void readFormats(const cc_AcqModule& module);
    void addFormat(ccIUnknown* item);

    std::vector<std::unique_ptr<OwnedFormat>> formats_;
    std::vector<ccPtrHandle<cc_AcqModule>> kept_;
    // A collected entry is emptied, not removed.
    std::vector<ccPtrHandle<cc_AcqModule>> pending_;
    bool boardsEnumerated_ = false;
    std::unique_ptr<cc_BoardModule> boards_;
};
