// The camera port a FIFO acquires from.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCameraPortProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000982u, "class ccCameraPortProp::BadParams");
    cmDeclareException(NoFrameGrabber, ccException, 0x10000983u, "class ccCameraPortProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccCameraPortProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccCameraPortProp() = default;

    // The implementation's port count; NoFrameGrabber while detached.
    uint32_t numCameraPorts() const;

    // port >= 0; attached, also below the implementation's port count.
    void cameraPort(int32_t port);
    int32_t cameraPort() const { return port_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, the port as a 32-bit word.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    int32_t port_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};
