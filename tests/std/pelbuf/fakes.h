// Stand-ins for what pel roots meet outside this folder (a pool, a pel
// package, which also counts its roots' destructions), and archive helpers.
#pragma once
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/pelbuf/pelpackage.h"
#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/rootpool.h"
#include "tests/support/bytes.h"

namespace fakes {

// Takes nothing back.
class Pool : public ccPelRootPool {
public:
    bool takeBack(cc_PelRoot&) noexcept override { return false; }
};

// Answers what it is given; stride 0 answers the width. Listed in registry
// when one is given.
class Package : public cc_PelPackage {
public:
    Package(int* destroyed, int32_t w, int32_t h, int32_t stride = 0, int32_t alignment = 1, void* data = nullptr,
            cc_PelPackageRegistry* registry = nullptr)
        : cc_PelPackage(registry), destroyed_(destroyed), w_(w), h_(h), stride_(stride), alignment_(alignment),
          data_(data) {}
    ~Package() override { ++*destroyed_; }
    int32_t width() const override { return w_; }
    int32_t height() const override { return h_; }
    int32_t alignment() const override { return alignment_; }
    int32_t stride() const override { return stride_ ? stride_ : w_; }
    void* dataStart() const override { return data_; }

private:
    int* destroyed_;
    int32_t w_, h_, stride_, alignment_;
    void* data_;
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

// An object stored through a pointer (type record, then contents), and
// loaded back by the registry.
inline test_bytes::Bytes storePointer(const ccPersistent& object, int32_t order = ccArchive::littleEndian)
{
    return test_bytes::store(order, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, &object, unused);
    });
}

inline ccPersistent* loadPointer(const test_bytes::Bytes& bytes)
{
    ccPersistent* loaded = nullptr;
    test_bytes::load(bytes, [&](ccArchive& ar) { archivePointer(ar, nullptr, loaded); });
    return loaded;
}

} // namespace fakes
