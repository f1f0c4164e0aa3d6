// What a pel root reads from a pel package of the board-module bridge.
//
// A package describes pels that the board driver module holds: in this
// process (a data start) or behind a communicator (a destination and the
// peer's id). A root made over a package reads it once, at construction, and
// owns it from then on. The package registry of the bridge comes with the
// remote roots.
#pragma once
#include <cstdint>

#include "std/rpc/communicator.h"

class cc_PelPackage {
public:
    cc_PelPackage() = default;
    cc_PelPackage(const cc_PelPackage&) = delete;
    cc_PelPackage& operator=(const cc_PelPackage&) = delete;
    virtual ~cc_PelPackage() = default;

    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual int32_t alignment() const { return 1; }
    // In pels.
    virtual int32_t stride() const { return width(); }
    // Pel (0, 0); null when the pels are not in this process.
    virtual void* dataStart() const { return nullptr; }
    // The communicator through which the pels are reached; 0 when local.
    virtual ccRPCDestination destination() const { return ccRPCDestination(); }
    virtual uint32_t remoteId() const { return 0; }
};
