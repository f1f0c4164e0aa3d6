// Stand-ins for what pel roots meet outside this folder: a pool, a pel
// package, the remote-root protocol, and a heap that fences its blocks.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/rootpool.h"
#include "system/csys_memory_testing.h"

namespace fakes {

// An 8-bit root that counts its destructions.
class CountedRoot : public ccPelRoot<unsigned char> {
public:
    explicit CountedRoot(int* destroyed, int32_t w = 4, int32_t h = 2) : ccPelRoot(w, h, 1), destroyed_(destroyed) {}
    ~CountedRoot() override
    {
        if (destroyed_)
            ++*destroyed_;
    }

private:
    int* destroyed_;
};

class Pool : public ccPelRootPool {
public:
    bool takeBack(cc_PelRoot& root) noexcept override
    {
        root.markModified();
        back.push_back(&root);
        return false;
    }
    std::vector<cc_PelRoot*> back;
};

class Package : public cc_PelPackage {
public:
    Package(int* destroyed, int32_t w, int32_t h) : destroyed_(destroyed), w_(w), h_(h) {}
    ~Package() override { ++*destroyed_; }
    int32_t width() const override { return w_; }
    int32_t height() const override { return h_; }
    int32_t alignment() const override { return alignment_; }
    int32_t stride() const override { return stride_ ? stride_ : w_; }
    void* dataStart() const override { return data_; }
    ccRPCDestination destination() const override { return destination_; }
    uint32_t remoteId() const override { return remoteId_; }

    int32_t alignment_ = 1;
    int32_t stride_ = 0;
    void* data_ = nullptr;
    ccRPCDestination destination_;
    uint32_t remoteId_ = 0;

private:
    int* destroyed_;
    int32_t w_;
    int32_t h_;
};

// Counts references of roots at a peer as a registry would, and records the
// changes it would send.
class Protocol : public cc_RemoteRootProtocol {
public:
    typedef std::tuple<uint32_t, uint32_t, int32_t> Change; // destination id, remote id, delta

    Protocol() { previous_ = ccSetRemoteRootProtocol(this); }
    ~Protocol() { ccSetRemoteRootProtocol(previous_); }

    void registerRoot(cc_PelRoot& root) override { registered.insert(&root); }
    int32_t addRef(cc_PelRoot& root) override
    {
        const int32_t n = root.ccRepBase::addRef();
        if (n == 1)
            sent.emplace_back(root.destination().id(), root.remoteId(), 1);
        return n;
    }
    int32_t releaseRef(cc_PelRoot& root) noexcept override
    {
        const int32_t n = root.release();
        if (n == 0) {
            sent.emplace_back(root.destination().id(), root.remoteId(), -1);
            registered.erase(&root);
        }
        return n;
    }
    void changeRefCount(ccRPCDestination d, uint32_t id, int32_t delta) override { sent.emplace_back(d.id(), id, delta); }

    std::set<cc_PelRoot*> registered;
    std::vector<Change> sent;

private:
    cc_RemoteRootProtocol* previous_;
};

// The system layer's heap for the lifetime of the object: every block gets
// fence bytes on both sides and starts filled with kFill; release checks the
// fences. Blocks are remembered so that a test can look at a whole block.
class FencedHeap {
public:
    static constexpr unsigned char kFill = 0xA5;
    static constexpr unsigned char kFence = 0x5C;
    static constexpr size_t kFenceSize = 64;

    FencedHeap()
    {
        self() = this;
        static const csys_heap heap = {&allocate, &reallocate, &release};
        csys_setHeap(&heap);
    }
    ~FencedHeap()
    {
        csys_setHeap(nullptr);
        self() = nullptr;
    }

    std::map<void*, size_t> live;
    int fenceDamage = 0;
    std::vector<size_t> sizes;

private:
    static FencedHeap*& self()
    {
        static FencedHeap* h = nullptr;
        return h;
    }
    static void* allocate(size_t size)
    {
        auto* raw = static_cast<unsigned char*>(std::malloc(size + 2 * kFenceSize));
        if (!raw)
            return nullptr;
        std::memset(raw, kFence, kFenceSize);
        std::memset(raw + kFenceSize, kFill, size);
        std::memset(raw + kFenceSize + size, kFence, kFenceSize);
        void* block = raw + kFenceSize;
        self()->live[block] = size;
        self()->sizes.push_back(size);
        return block;
    }
    static void* reallocate(void* block, size_t size)
    {
        auto it = block ? self()->live.find(block) : self()->live.end();
        if (block && it == self()->live.end())
            return std::realloc(block, size); // made before this heap was installed
        void* moved = allocate(size);
        if (moved && block)
            std::memcpy(moved, block, std::min(size, it->second));
        if (moved)
            release(block);
        return moved;
    }
    static void release(void* block)
    {
        if (!block)
            return;
        auto it = self()->live.find(block);
        if (it == self()->live.end()) {
            std::free(block); // made before this heap was installed
            return;
        }
        const size_t size = it->second;
        auto* raw = static_cast<unsigned char*>(block) - kFenceSize;
        for (size_t i = 0; i < kFenceSize; ++i)
            if (raw[i] != kFence || raw[kFenceSize + size + i] != kFence)
                ++self()->fenceDamage;
        self()->live.erase(it);
        std::free(raw);
    }
};

} // namespace fakes
