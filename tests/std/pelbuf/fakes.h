// Stand-ins for what pel roots meet outside this folder (a pool, a pel
// package), and archive helpers for roots.
#pragma once
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/rootpool.h"
#include "tests/support/bytes.h"

namespace fakes {

// A root that counts its destructions.
template <class T>
class Counted : public ccPelRoot<T> {
public:
    explicit Counted(int* destroyed, int32_t w = 4, int32_t h = 2) : ccPelRoot<T>(w, h, 1), destroyed_(destroyed) {}
    ~Counted() override { ++*destroyed_; }

private:
    int* destroyed_;
};
typedef Counted<unsigned char> CountedRoot;

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

// Answers what it is given; stride 0 answers the width. Listed in registry
// when one is given.
class Package : public cc_PelPackage {
public:
    Package(int* destroyed, int32_t w, int32_t h, int32_t stride = 0, int32_t alignment = 1, void* data = nullptr,
            cc_PelPackageRegistry* registry = nullptr)
        : cc_PelPackage(registry), stride_(stride), alignment_(alignment), data_(data), destroyed_(destroyed), w_(w),
          h_(h)
    {
    }
    ~Package() override { ++*destroyed_; }
    int32_t width() const override { return w_; }
    int32_t height() const override { return h_; }
    int32_t alignment() const override { return alignment_; }
    int32_t stride() const override { return stride_ ? stride_ : w_; }
    void* dataStart() const override { return data_; }
    ccRPCDestination destination() const override { return destination_; }
    uint32_t remoteId() const override { return remoteId_; }

    int32_t stride_;
    int32_t alignment_;
    void* data_;
    ccRPCDestination destination_;
    uint32_t remoteId_ = 0;

private:
    int* destroyed_;
    int32_t w_;
    int32_t h_;
};

// An object's contents alone, little-endian.
inline test_bytes::Bytes storeObject(ccPersistent& object)
{
    return test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(object, ar, false); });
}

inline void loadObject(const test_bytes::Bytes& bytes, ccPersistent& object)
{
    test_bytes::load(bytes, [&](ccArchive& ar) { ccArchiveObject(object, ar, false); });
}

// Objects stored through pointers (type record, then contents), and loaded
// back by the registry.
inline test_bytes::Bytes storePointers(std::initializer_list<const ccPersistent*> objects,
                                       int32_t order = ccArchive::littleEndian)
{
    return test_bytes::store(order, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        for (const ccPersistent* object : objects)
            archivePointer(ar, object, unused);
    });
}

inline std::vector<ccPersistent*> loadPointers(const test_bytes::Bytes& bytes, size_t count = 1)
{
    std::vector<ccPersistent*> loaded(count, nullptr);
    test_bytes::load(bytes, [&](ccArchive& ar) {
        for (ccPersistent*& object : loaded)
            archivePointer(ar, nullptr, object);
    });
    return loaded;
}

} // namespace fakes
