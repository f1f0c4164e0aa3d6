// The acquisition engine of a board reached through a driver module: every
// operation goes to the module's per-board interfaces, and every module error
// comes back as the library exception the module archived.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acq/vidfmt/fgimpl.h"
#include "modules/acqmodule.h"
#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "std/ptrhandle.h"

class cc_ModAcceleratorProxy;
class cc_UnknownAcqFifo;

// The FIFOs a grabber made that are still alive, shared with them so that
// either may go first: a FIFO leaves the list when it goes, and the grabber,
// as it goes (its board's close, the library's shut-down), takes every listed
// FIFO's hold on the module and drops them outside the lock: dropping one may
// wait for the module's threads, whose callbacks may destroy FIFOs.
class cc_ModFifoList {
public:
    void add(cc_UnknownAcqFifo& fifo);
    void remove(cc_UnknownAcqFifo& fifo);
    void orphanAll() noexcept;

private:
    std::mutex mutex_;
    std::vector<cc_UnknownAcqFifo*> fifos_;
};

class cc_UnknownFrameGrabber : public cc_FrameGrabber {
public:
    // Takes its own references on what it queries on board. A board without
    // a grabber core (23) throws ccUnknownFG::MissingFunctionality.
    cc_UnknownFrameGrabber(const ccPtrHandle<cc_AcqModule>& module, ccIUnknown* board);
    // Null only when the allocation gives null.
    static cc_UnknownFrameGrabber* create(const ccPtrHandle<cc_AcqModule>& module, ccIUnknown* board);
    // The FIFOs made here that are still alive let go of the module first:
    // from then on they raise ccUnknownFG::MissingFunctionality.
    ~cc_UnknownFrameGrabber() override;

    int32_t coreValue() override;
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& description, int32_t moduleCode) override;
    cc_AcqFifo* newAcqFifoImpl(const cc_VidFmtDesc& description, const cc_fifoKindTag& tag) override;
    uint32_t numCameraPorts(const cc_VidFmtDesc& description) override;
    bool isFormatSupported(const cc_VidFmtDesc& description, int32_t moduleCode) override;
    bool hasFormatOptions() override;
    int32_t tvmId() override;
    void disconnect(bool flag) override;
    std::wstring uniqueId() override;

    // Raises the module's last error (code is unused).
    [[noreturn]] void throwModuleError(int32_t code) const;

    ccIGrabber_Core* core() const { return core_.get(); }
    const ccPtrHandle<cc_AcqModule>& module() const { return module_; }
    // The communicator of the frames that stay in the module's memory.
    cc_ModAcceleratorProxy& accelerator() const { return *accelerator_; }
    const std::shared_ptr<cc_ModFifoList>& fifos() const { return fifos_; }
    // What the core says of a device's features (113); null when not offered.
    ccIGrabber_Features* features() const { return features_.get(); }

private:
    // First, so that it goes last: the interfaces go back before the
    // module's file may be unloaded, also when the constructor throws.
    ccPtrHandle<cc_AcqModule> module_;
    std::unique_ptr<cc_ModAcceleratorProxy> accelerator_;
    cc_ModPtr<ccIGrabber_Core> core_;
    cc_ModPtr<ccIGrabber_Info> info_;
    cc_ModPtr<ccIGrabber_Features> features_;
    std::shared_ptr<cc_ModFifoList> fifos_ = std::make_shared<cc_ModFifoList>();
};

// The format's name, 0-terminated, as the module reads it.
std::u16string ccModFormatName(const cc_VidFmtDesc& description);

// Throws the module's error through grabber when status is not 0.
inline void ccModCheck(const cc_UnknownFrameGrabber& grabber, int32_t status)
{
    if (status != 0)
        grabber.throwModuleError(0);
}
