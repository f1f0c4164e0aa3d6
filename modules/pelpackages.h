// The pel packages over frames of the driver module, and the library's
// pel-root pool as the module sees it. Each package keeps the module's
// result alive through its own reference until the root over it goes.
#pragma once
#include <atomic>
#include <cstdint>

#include "modules/ccicomponent.h"
#include "modules/modptr.h"
#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/rootpool.h"
#include "std/ptrhandle.h"

class cc_ModAcceleratorProxy;

// Pels at an address in this process; the geometry is the result's
// (slots 9, 8 and 7). Adds its own reference to result.
class cc_ModPelPackage : public cc_PelPackage {
public:
    cc_ModPelPackage(ccIAcqResult_Geometry* result, void* address);
    ~cc_ModPelPackage() override;

    int32_t width() const override;
    int32_t height() const override;
    int32_t stride() const override;
    void* dataStart() const override { return address_; }

private:
    int32_t read(int32_t (ccIAcqResult_Geometry::*slot)(int32_t*)) const;

    cc_ModPtr<ccIAcqResult_Geometry> result_;
    void* address_;
};

// One plane of a result: the address from format slot 4, the geometry from
// image. Adds its own references to both.
class cc_RawPelPackage : public cc_ModPelPackage {
public:
    cc_RawPelPackage(ccIAcqResult_Format* format, ccIAcqResult_Image* image, uint32_t plane);

    // A three-plane root derives its stride from the width and alignment, so
    // rows the module pads report their stride as the alignment: the rule
    // then gives back the module's stride.
    int32_t alignment() const override;

private:
    cc_ModPtr<ccIAcqResult_Format> format_;
};

// Pels that stay in the module's memory, reached through destination. The
// result object is named to the remote root by a 32-bit id of a process-wide
// table, listed while the package lives.
class cc_RemotePelPackage : public cc_PelPackage {
public:
    cc_RemotePelPackage(cc_ModAcceleratorProxy& destination, cc_ModPtr<ccIUnknown> result, int32_t width,
                        int32_t height);
    ~cc_RemotePelPackage() override;

    int32_t width() const override { return width_; }
    int32_t height() const override { return height_; }
    ccRPCDestination destination() const override { return destination_; }
    uint32_t remoteId() const override { return id_; }

    // The result listed under remoteId, with a reference added; empty when
    // the id names none.
    static cc_ModPtr<ccIUnknown> listedResult(uint32_t remoteId);

private:
    cc_ModPtr<ccIUnknown> result_;
    ccRPCDestination destination_;
    int32_t width_;
    int32_t height_;
    uint32_t id_ = 0;
};

// The pool object handed to the module (59 and 114). Its count starts at 0.
class ccNVTypPelPool final : public ccIPelPool_Core_v0, public ccIPelPool_Core_v1 {
public:
    explicit ccNVTypPelPool(const ccPtrHandle<ccPelRootPool>& pool) : pool_(pool) {}
    ccNVTypPelPool(const ccNVTypPelPool&) = delete;
    ccNVTypPelPool& operator=(const ccNVTypPelPool&) = delete;

    int32_t query(ccIUnknown** out, int32_t id) override;
    uint32_t addRef() override { return ++count_; }
    uint32_t release() override;
    int32_t questionA(uint32_t* answer) override;
    int32_t questionB(uint32_t* answer) override;
    // Never throws and always answers 0: no frame is a null image. Module
    // pel format 8 takes packed RGB16 roots, 1 packed RGB32, any other of
    // known size 8-bit rows of its bytes per pel; a format of no known size
    // gets no image. A non-zero flag (abort) gives no
    // image at once; otherwise this waits for at most seconds, and wake is
    // signalled each time a root comes back meanwhile.
    int32_t allocate(ccIUnknown** image, int32_t width, int32_t height, int32_t pelFormat, ccIWakeObject* wake,
                     double seconds, uint32_t flag) override;
    int32_t detachThread() override;

private:
    ~ccNVTypPelPool() = default;

    std::atomic<uint32_t> count_{0};
    ccPtrHandle<ccPelRootPool> pool_;
};

// One root lent to the module (60 and 79) until its last release, which
// gives the root back. Its count starts at 0.
class ccNVTypPoolImage final : public ccIImage_PoolImage_v0, public ccIImage_PoolImage_v1 {
public:
    ccNVTypPoolImage(const ccPtrHandle<cc_PelRoot>& root, void* address) : root_(root), address_(address) {}
    ccNVTypPoolImage(const ccNVTypPoolImage&) = delete;
    ccNVTypPoolImage& operator=(const ccNVTypPoolImage&) = delete;

    int32_t query(ccIUnknown** out, int32_t id) override;
    uint32_t addRef() override { return ++count_; }
    uint32_t release() override;
    int32_t address(void** address) override;
    // In the root's pels: bytes, but for formats 8 and 1.
    int32_t stride(int32_t* stride) override;

private:
    ~ccNVTypPoolImage() = default;

    std::atomic<uint32_t> count_{0};
    ccPtrHandle<cc_PelRoot> root_;
    void* address_;
};
