// Pools whose roots are carved from one arena, and the process-wide pool.
//
// The arena is a run of granules; a root takes whole granules, first fit in
// address order, and gives them back merged with free neighbours. The list
// of free extents is kept apart from the arena: the pels are the clients',
// and a stray write into a free granule must not reach the allocator.
// Roots are made for 8-bit and packed colour pels, rows without padding.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>

#include "std/pelbuf/rootpool.h"

class ccBasicPelRootPool : public ccPelRootPool {
public:
    // Granules of at least 8 bytes; an arena of size bytes.
    ccBasicPelRootPool(uint32_t size, uint32_t granule);
    ~ccBasicPelRootPool() override;

    // Destroys the cached roots, then replaces the arena by one of bytes
    // rounded up to whole granules (0: none). Outstanding when a root of the
    // old arena is still handed out; the cached roots are gone either way.
    void setSize(uint32_t bytes) override;
    // As asked, before rounding.
    uint32_t size() const override;
    uint32_t granuleSize() const { return granule_; }

protected:
    cc_PooledRoot* makeRoot(int32_t width, int32_t height, const std::type_info& pelType) override;
    void destroyRoot(cc_PooledRoot* record) override;
    bool couldMake(int32_t width, int32_t height, const std::type_info& pelType) const override;

    // The arena's block; a failure throws std::bad_alloc.
    virtual void* rawAllocate(size_t bytes);
    virtual void rawRelease(void* block) noexcept;

    // Destroys the cached roots and gives the arena back. A class that
    // overrides rawRelease calls it from its own destructor.
    void releaseArena() noexcept;

private:
    struct Record;
    template <class T>
    struct Typed;

    // The granules of a root of the shape; 0 when none is made for it.
    uint64_t granulesFor(int32_t width, int32_t height, const std::type_info& pelType) const;
    // First fit of n granules; the first granule, or -1.
    int64_t allocateExtent(uint64_t n);
    void releaseExtent(uint64_t start, uint64_t n);
    void freeArenaLocked() noexcept;

    uint32_t size_ = 0;
    uint64_t granules_ = 0;
    void* raw_ = nullptr;
    char* arena_ = nullptr; // the first granule, aligned to the granule size
    uint32_t granule_;
    // First granule -> length, in address order, never touching each other.
    std::map<uint64_t, uint64_t> free_;
};

// Its arena comes from one block of the runtime heap that it replaces on
// each resize and frees on any release.
class ccDefaultPelRootPool : public ccBasicPelRootPool {
public:
    // A size of 0xFFFFFFFF is 16 MiB.
    ccDefaultPelRootPool(uint32_t size, uint32_t granule);
    ~ccDefaultPelRootPool() override;

    // The process-wide pool of 16 MiB in 4096-byte granules, made at the
    // first call under the library mutex; never destroyed.
    static const ccPtrHandle<ccPelRootPool>& instance();

protected:
    void* rawAllocate(size_t bytes) override;
    void rawRelease(void* block) noexcept override;

private:
    void* block_ = nullptr;
};
