// What a pel root reads from a pel package of the board-module bridge.
//
// A package describes pels that the board driver module holds: in this
// process (a data start) or behind a communicator (a destination and the
// peer's id). A root made over a package reads it once, at construction, and
// owns it from then on. Every package of the bridge is listed in the
// bridge's registry until it goes; a registry that goes first deletes the
// packages still listed and detaches them from their roots, which then own
// no package.
#pragma once
#include <cstdint>
#include <list>

#include "std/except/resource.h"
#include "std/rpc/communicator.h"

class cc_PelRoot;
class cc_PelPackageRegistry;

class cc_PelPackage {
public:
    // Listed in registry (null: in none) from here until its destruction.
    explicit cc_PelPackage(cc_PelPackageRegistry* registry = nullptr);
    cc_PelPackage(const cc_PelPackage&) = delete;
    cc_PelPackage& operator=(const cc_PelPackage&) = delete;
    virtual ~cc_PelPackage();

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

    // The root made over the package, set by that root; null before.
    cc_PelRoot* root() const { return root_; }
    void setRoot(cc_PelRoot* root) { root_ = root; }
    cc_PelPackageRegistry* registry() const { return registry_; }

private:
    cc_PelRoot* root_ = nullptr;
    cc_PelPackageRegistry* registry_;
};

// The live packages of one board-module bridge, guarded by a critical
// section of its own.
class cc_PelPackageRegistry {
public:
    cc_PelPackageRegistry() = default;
    // Deletes every package still listed, first detaching it from its root.
    // Roots over them must not be in use on another thread meanwhile.
    ~cc_PelPackageRegistry();
    cc_PelPackageRegistry(const cc_PelPackageRegistry&) = delete;
    cc_PelPackageRegistry& operator=(const cc_PelPackageRegistry&) = delete;

    size_t count() const;

private:
    friend class cc_PelPackage;
    void add(cc_PelPackage* package);
    void remove(cc_PelPackage* package);

    mutable ccCriticalSection lock_;
    std::list<cc_PelPackage*> packages_;
};
